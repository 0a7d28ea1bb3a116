#pragma once
#include <cstdint>

namespace ombrel::platform {

// `error` (an errno) as the Windows number of the same failure where there is one
// (platform/system_codes.h); any other errno with bit 29 set, the bit Windows leaves to
// applications, so it never reads as a Windows code.
std::uint32_t system_code(int error);

}  // namespace ombrel::platform
