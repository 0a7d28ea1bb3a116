#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/system_code.h"

namespace ombrel::platform {
namespace {

// open() and friends may be interrupted by a signal before doing anything; retry those.
template <class F>
auto retry_on_eintr(F call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

std::optional<struct stat> stat_regular(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return info;
}

Unexpected<std::uint32_t> failure(int error) { return unexpected(system_code(error)); }
Unexpected<std::uint32_t> last_error() { return failure(errno); }

FileResult<Done> write_fd_all(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = retry_on_eintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (written < 0) return last_error();
    if (written == 0) return failure(EIO);
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return Done{};
}

}  // namespace

void FileHandleTraits::close(int handle) { ::close(handle); }

FileResult<std::string> temp_folder() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string folder = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
  if (folder.back() != '/') {
    folder.push_back('/');
  }
  return folder;
}

FileResult<Done> create_folder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return Done{};
  const int error = errno;
  struct stat info {};
  if (error == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return Done{};
  return failure(error);
}

std::string join_path(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') {
    path.push_back('/');
  }
  path.append(name);
  return path;
}

std::optional<std::uint64_t> file_size(const std::string& path) {
  const auto info = stat_regular(path);
  if (!info) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info->st_size);
}

bool is_regular_file(const std::string& path) { return stat_regular(path).has_value(); }

FileResult<std::string> read_whole_file(const std::string& path, std::size_t max_bytes) {
  const UniqueFileHandle fd(retry_on_eintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!fd) return last_error();
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return last_error();
  if (!S_ISREG(info.st_mode)) return failure(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  // The size only sizes the first buffer: the file may change while we read it.
  std::string content;
  char chunk[16384];
  for (;;) {
    const ssize_t got = retry_on_eintr([&] { return ::read(fd.get(), chunk, sizeof chunk); });
    if (got < 0) return last_error();
    if (got == 0) {
      return content;
    }
    if (static_cast<std::size_t>(got) > max_bytes - content.size()) return failure(EFBIG);
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

FileResult<Done> write_whole_file(const std::string& path, std::string_view content) {
  const UniqueFileHandle fd(
      retry_on_eintr([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }));
  if (!fd) return last_error();
  return write_fd_all(fd.get(), std::span<const char>(content.data(), content.size()));
}

FileResult<Done> delete_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return last_error();
  return Done{};
}

FileResult<Done> delete_file_if_present(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR) return Done{};
  return last_error();
}

FileResult<WritableFile> WritableFile::open(const std::string& path, Mode mode) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (mode == Mode::kTruncate) {
    flags |= O_TRUNC;
  }
  const int fd = retry_on_eintr([&] { return ::open(path.c_str(), flags, 0644); });
  if (fd < 0) return last_error();
  return WritableFile(fd);
}

FileResult<Done> WritableFile::seek(std::uint64_t offset) {
  if (!is_open()) return failure(EBADF);
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return failure(EINVAL);
  if (::lseek(handle_.get(), static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) return last_error();
  return Done{};
}

FileResult<Done> WritableFile::write_all(std::span<const char> bytes) {
  if (!is_open()) return failure(EBADF);
  return write_fd_all(handle_.get(), bytes);
}

FileResult<Done> WritableFile::close() {
  if (!is_open()) return failure(EBADF);
  // No retry on EINTR: Linux releases the descriptor even then, and a retry could close
  // a descriptor another thread has just been given.
  if (::close(handle_.release()) != 0 && errno != EINTR) return last_error();
  return Done{};
}

}  // namespace ombrel::platform
