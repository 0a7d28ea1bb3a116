#pragma once
// `manifest-check FILE`: what the installer would make of a manifest body, through the very
// code the installer runs after the bytes have arrived, in English.
#include <string>
#include <string_view>

namespace ombrel::tools {

// The address the installer would fetch on an x64 machine: the built-in base URL followed by
// "prod/win32-x64/latest.json". Relative installer values are resolved against it.
std::string default_check_manifest_url();

// "installer: <url>" or "error: <the step's full English failure text>". Sets up the English
// translation table on first use.
std::string manifest_verdict(std::string_view body, std::string_view manifest_url);

}  // namespace ombrel::tools
