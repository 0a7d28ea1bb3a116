#pragma once
// A file held open for reading so that nobody can change, replace or delete it while it is held:
// what is checked through this handle is what a later start by path runs.
#include <cstdint>
#include <string>
#include <utility>

#include "common/expected.h"
#include "platform/unique_handle.h"

namespace ombrel::platform {

class HeldFile {
 public:
  // Opens `path` for reading. Windows: sharing read only, so every open for writing and every
  // delete or rename of the file fails with a sharing violation until reset(); an open fails
  // the same way while anyone else still has the file open for writing. POSIX has no such
  // sharing modes: the file is only held open (tests of the portable logic).
  // On failure: the system error code (Windows: GetLastError; POSIX: the errno as
  // platform/system_codes.h numbers it).
  static Expected<HeldFile, std::uint32_t> open(const std::string& path);

  HeldFile() = default;

  const std::string& path() const { return path_; }
  bool is_open() const { return static_cast<bool>(handle_); }

  // The open handle (Windows HANDLE, POSIX descriptor), for the system calls that read the file.
  using Handle = FileHandleTraits::Handle;
  Handle native_handle() const { return handle_.get(); }

  // Where the held file is now, as the system resolves the open handle (Windows:
  // GetFinalPathNameByHandleW, without its "\\?\" prefix; Linux: /proc/self/fd): a rename of a
  // folder above it since it was opened is followed. On failure: the system error code.
  Expected<std::string, std::uint32_t> current_path() const;

  // Closes the handle: the file may be changed or deleted again. The path is kept.
  void reset() { handle_.reset(); }

 private:
  HeldFile(std::string path, Handle handle) : path_(std::move(path)), handle_(handle) {}

  std::string path_;
  UniqueFileHandle handle_;
};

}  // namespace ombrel::platform
