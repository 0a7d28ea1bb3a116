#pragma once
// File and folder operations the pipeline needs, behind one small interface so the download and
// install logic runs unchanged on Windows and, in tests, on Linux. Paths are UTF-8 throughout.
// On Windows every file is opened with read, write and delete sharing, so a scanner or a second
// copy of the program holding the file never makes our own open or delete fail.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/unique_handle.h"

namespace ombrel::platform {

// The user's temporary folder as the system reports it, ending with the path separator so a
// file name can be appended directly. Windows: GetTempPath2W where it exists, else GetTempPathW.
// POSIX: $TMPDIR when set and not empty, else /tmp. Nothing when the system gives no folder.
std::optional<std::string> temp_folder();

// `folder` joined with `name`, adding the separator only when `folder` lacks one.
std::string join_path(std::string_view folder, std::string_view name);

// Size in bytes of the regular file at `path` (links followed). Nothing when it does not exist,
// is not a regular file, or cannot be examined.
std::optional<std::uint64_t> file_size(const std::string& path);

// True when `path` names an existing regular file (links followed).
bool is_regular_file(const std::string& path);

// The whole content of a regular file. Nothing when it cannot be opened or read, or when it is
// larger than `max_bytes` (callers reading small metadata files bound what they accept).
std::optional<std::string> read_whole_file(const std::string& path,
                                           std::size_t max_bytes = std::numeric_limits<std::size_t>::max());

// Creates or truncates `path` and writes `content` whole. False on any failure; the file may
// then be left partly written.
bool write_whole_file(const std::string& path, std::string_view content);

// Deletes the file. True when it was removed; false when it could not be (including when it did
// not exist). On Windows a file still open elsewhere with delete sharing is removed once the
// last handle closes.
bool delete_file(const std::string& path);

// The system's code for the failure of the last call above on this thread (Windows:
// GetLastError; POSIX: errno), read right after that call returned failure.
std::uint32_t last_file_error();

// Deletes the file if there is one. True when nothing is left at `path` (also when nothing was
// there); false when something stays, such as a folder or a file the system would not delete.
bool delete_file_if_present(const std::string& path);

// A file open for writing, closed when the owner goes out of scope.
class WritableFile {
 public:
  enum class Mode { kKeepContent, kTruncate };

  // Opens `path` for writing, creating it when missing. With Mode::kTruncate an existing file is
  // emptied; with Mode::kKeepContent its bytes stay and writing starts at offset 0 until seek().
  static std::optional<WritableFile> open(const std::string& path, Mode mode);

  // Moves the write position to `offset` bytes from the start of the file.
  bool seek(std::uint64_t offset);

  // Writes every byte at the current position, continuing after partial writes. False on a
  // write error or a write that accepts nothing.
  bool write_all(std::span<const char> bytes);

  // Closes the file and reports whether the system accepted the close. Later calls do nothing
  // and return false.
  bool close();

  bool is_open() const { return static_cast<bool>(handle_); }

 private:
  explicit WritableFile(FileHandleTraits::Handle handle) : handle_(handle) {}

  UniqueFileHandle handle_;
};

}  // namespace ombrel::platform
