#include "platform/locked_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/system_code.h"

namespace ombrel::platform {

Expected<LockedFile, std::uint32_t> LockedFile::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return unexpected(system_code(errno));
  return LockedFile(path, fd);
}

}  // namespace ombrel::platform
