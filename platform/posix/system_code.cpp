#include "platform/posix/system_code.h"

#include <cerrno>

namespace ombrel::platform {

std::uint32_t system_code(int error) {
  switch (error) {
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
      return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
      return 5;  // ERROR_ACCESS_DENIED
    case ENOMEM:
      return 8;    // ERROR_NOT_ENOUGH_MEMORY
    case ETXTBSY:  // a program file still open for writing
    case EBUSY:
      return 32;  // ERROR_SHARING_VIOLATION
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case EEXIST:
      return 183;  // ERROR_ALREADY_EXISTS
    case ENOEXEC:
      return 193;  // ERROR_BAD_EXE_FORMAT
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EDQUOT:
      return 1295;  // ERROR_DISK_QUOTA_EXCEEDED
    default:
      return (std::uint32_t{1} << 29) | static_cast<std::uint32_t>(error);
  }
}

}  // namespace ombrel::platform
