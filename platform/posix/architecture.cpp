#include "platform/architecture.h"

#include <sys/utsname.h>

namespace ombrel::platform {

std::string_view detect_architecture() {
  // A function-local static is initialised once, thread-safely.
  static const std::string_view tag = [] {
    utsname name{};
    return uname(&name) == 0 ? architecture_from_machine_name(name.machine) : std::string_view("x86");
  }();
  return tag;
}

}  // namespace ombrel::platform
