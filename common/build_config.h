#pragma once
// Values fixed at build time: the program reads no configuration at run time.
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

}  // namespace ombrel
