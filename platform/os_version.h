#pragma once
// The version of the running system, for the support summary.
#include <cstdint>

namespace ombrel::platform {

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

// What the kernel reports, not the version a compatibility layer shows the program (on Linux
// the kernel release's first three numbers). Zeros when it cannot say.
OsVersion os_version();

}  // namespace ombrel::platform
