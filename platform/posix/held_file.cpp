#include "platform/held_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/system_code.h"

namespace ombrel::platform {

Expected<HeldFile, std::uint32_t> HeldFile::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return unexpected(system_code(errno));
  return HeldFile(path, fd);
}

Expected<std::string, std::uint32_t> HeldFile::current_path() const {
  const std::string link = "/proc/self/fd/" + std::to_string(handle_.get());
  std::string target(4096, '\0');
  const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
  if (length < 0) return unexpected(system_code(errno));
  if (static_cast<std::size_t>(length) >= target.size()) return unexpected(system_code(ENAMETOOLONG));
  target.resize(static_cast<std::size_t>(length));
  return target;
}

}  // namespace ombrel::platform
