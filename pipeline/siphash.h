#pragma once
// SipHash-1-3 and the installer file name built from it. The name must be the same for a URL on
// every run and machine, so a later run finds the partial download an earlier one left behind.
#include <cstdint>
#include <string>
#include <string_view>

namespace ombrel {

// SipHash with 1 compression and 3 finalisation rounds over `bytes`, with the all-zero key.
std::uint64_t siphash13(std::string_view bytes);

// "OmbrelLoomwork_" + 16 lowercase hex digits + ".exe": the zero-key SipHash-1-3 of the URL's
// UTF-8 bytes followed by one 0xFF byte (the terminator keeps "a" and "a\xFF…" prefixes apart).
std::string installer_file_name(std::string_view url);

}  // namespace ombrel
