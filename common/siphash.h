#pragma once
// SipHash-1-3 with the all-zero key: a stable 64-bit fingerprint of bytes, the same on every
// machine and run (not a defence against chosen inputs).
#include <cstdint>
#include <string_view>

namespace ombrel {

// SipHash with 1 compression and 3 finalisation rounds over `bytes`, with the all-zero key.
std::uint64_t siphash13(std::string_view bytes);

}  // namespace ombrel
