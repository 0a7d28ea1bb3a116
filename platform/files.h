#pragma once
// File and folder operations the pipeline needs, behind one small interface so the download and
// install logic runs unchanged on Windows and, in tests, on Linux. Paths are UTF-8 throughout.
// On Windows every file is opened with read, write and delete sharing, so a scanner or a second
// copy of the program holding the file never makes our own open or delete fail.
// A failure is the system's code (Windows: GetLastError; POSIX: the errno as
// platform/system_codes.h numbers it), read by the back end right where the call failed.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/expected.h"
#include "platform/unique_handle.h"

namespace ombrel::platform {

template <class T>
using FileResult = Expected<T, std::uint32_t>;

// The user's temporary folder as the system names it, ending with the path separator so a file
// name can be appended directly; it may not exist. Windows: GetTempPath2W where it exists, else
// GetTempPathW. POSIX: $TMPDIR when set and not empty, else /tmp.
FileResult<std::string> temp_folder();

// Creates the folder `path` (not its parents: they must exist). Done also when it is already a
// folder.
FileResult<Done> create_folder(const std::string& path);

// `folder` joined with `name`, adding the separator only when `folder` lacks one.
std::string join_path(std::string_view folder, std::string_view name);

// Size in bytes of the regular file at `path` (links followed). Nothing when it does not exist,
// is not a regular file, or cannot be examined.
std::optional<std::uint64_t> file_size(const std::string& path);

// True when `path` names an existing regular file (links followed).
bool is_regular_file(const std::string& path);

// The whole content of a regular file; a file larger than `max_bytes` fails (callers reading
// small metadata files bound what they accept).
FileResult<std::string> read_whole_file(const std::string& path,
                                        std::size_t max_bytes = std::numeric_limits<std::size_t>::max());

// Creates or truncates `path` and writes `content` whole. After a failure the file may be left
// partly written.
FileResult<Done> write_whole_file(const std::string& path, std::string_view content);

// Deletes the file; a missing file fails (kFileNotFound). On Windows a file still open elsewhere
// with delete sharing is removed once the last handle closes.
FileResult<Done> delete_file(const std::string& path);

// Deletes the file if there is one: Done when nothing is left at `path` (also when nothing was
// there); fails when something stays, such as a folder or a file the system would not delete.
FileResult<Done> delete_file_if_present(const std::string& path);

// A file open for writing, closed when the owner goes out of scope.
class WritableFile {
 public:
  enum class Mode { kKeepContent, kTruncate };

  // Opens `path` for writing, creating it when missing. With Mode::kTruncate an existing file is
  // emptied; with Mode::kKeepContent its bytes stay and writing starts at offset 0 until seek().
  static FileResult<WritableFile> open(const std::string& path, Mode mode);

  // Moves the write position to `offset` bytes from the start of the file.
  FileResult<Done> seek(std::uint64_t offset);

  // Writes every byte at the current position, continuing after partial writes; a write that
  // accepts nothing fails.
  FileResult<Done> write_all(std::span<const char> bytes);

  // Closes the file and reports whether the system accepted the close. Later calls fail.
  FileResult<Done> close();

  bool is_open() const { return static_cast<bool>(handle_); }

 private:
  explicit WritableFile(FileHandleTraits::Handle handle) : handle_(handle) {}

  UniqueFileHandle handle_;
};

}  // namespace ombrel::platform
