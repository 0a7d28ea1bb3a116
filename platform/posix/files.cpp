#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

bool write_fd_all(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = retry_on_eintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (written <= 0) {
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

void FileHandleTraits::close(int handle) { ::close(handle); }

std::optional<std::string> temp_folder() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string folder = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
  if (folder.back() != '/') {
    folder.push_back('/');
  }
  return folder;
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

std::optional<std::string> read_whole_file(const std::string& path, std::size_t max_bytes) {
  const UniqueFileHandle fd(retry_on_eintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!fd) {
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  // The size only sizes the first buffer: the file may change while we read it.
  std::string content;
  char chunk[16384];
  for (;;) {
    const ssize_t got = retry_on_eintr([&] { return ::read(fd.get(), chunk, sizeof chunk); });
    if (got < 0) {
      return std::nullopt;
    }
    if (got == 0) {
      return content;
    }
    if (static_cast<std::size_t>(got) > max_bytes - content.size()) {
      return std::nullopt;
    }
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

bool write_whole_file(const std::string& path, std::string_view content) {
  const UniqueFileHandle fd(
      retry_on_eintr([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }));
  if (!fd) {
    return false;
  }
  return write_fd_all(fd.get(), std::span<const char>(content.data(), content.size()));
}

bool delete_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool delete_file_if_present(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR;
}

std::uint32_t last_file_error() { return static_cast<std::uint32_t>(errno); }

std::optional<WritableFile> WritableFile::open(const std::string& path, Mode mode) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (mode == Mode::kTruncate) {
    flags |= O_TRUNC;
  }
  const int fd = retry_on_eintr([&] { return ::open(path.c_str(), flags, 0644); });
  if (fd < 0) {
    return std::nullopt;
  }
  return WritableFile(fd);
}

bool WritableFile::seek(std::uint64_t offset) {
  if (!is_open() || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return false;
  }
  return ::lseek(handle_.get(), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool WritableFile::write_all(std::span<const char> bytes) { return is_open() && write_fd_all(handle_.get(), bytes); }

bool WritableFile::close() {
  if (!is_open()) {
    return false;
  }
  // No retry on EINTR: Linux releases the descriptor even then, and a retry could close
  // a descriptor another thread has just been given.
  const int result = ::close(handle_.release());
  return result == 0 || errno == EINTR;
}

}  // namespace ombrel::platform
