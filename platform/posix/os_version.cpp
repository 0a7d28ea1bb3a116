#include "platform/os_version.h"

#include <sys/utsname.h>

#include <cstdlib>

namespace ombrel::platform {

OsVersion os_version() {
  utsname name{};
  if (uname(&name) != 0) return {};
  // "6.1.0-18-amd64": three numbers separated by dots, anything after them ignored.
  std::uint32_t parts[3] = {0, 0, 0};
  const char* cursor = name.release;
  for (std::uint32_t& part : parts) {
    char* end = nullptr;
    part = static_cast<std::uint32_t>(std::strtoul(cursor, &end, 10));
    if (end == cursor || *end != '.') break;
    cursor = end + 1;
  }
  return {parts[0], parts[1], parts[2]};
}

}  // namespace ombrel::platform
