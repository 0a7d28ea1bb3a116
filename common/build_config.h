#pragma once
// Values fixed at build time: the program reads no configuration at run time.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace ombrel {

// Sent on every HTTP request.
inline constexpr std::string_view kUserAgent = "OmbrelLoomworkInstaller/1.0";

// Address of the distribution host: an https:// URL ending in "/" (checked at configure time).
std::string_view built_in_base_url();

// The trusted root certificates as concatenated PEM blocks: the Mozilla list, plus in test
// builds one test CA. The only roots the HTTP client accepts. The program stores them as DER,
// so the blocks have the standard layout (64 characters a line), not that of the snapshot file.
std::string_view built_in_ca_pem();

// True in builds that trust a test CA; the shipped executable is built with this false.
bool is_test_build();

// The publisher whose signature a downloaded installer must carry: the exact common name of the
// signing certificate, empty when the build checks no signature.
std::string_view built_in_publisher_name();

// SHA-256 of the DER bytes of the CA certificates one of which the signer's chain must hold.
std::span<const std::array<std::uint8_t, 32>> built_in_publisher_pins();

}  // namespace ombrel
