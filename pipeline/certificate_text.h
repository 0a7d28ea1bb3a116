#pragma once
// The texts libcurl gives about a server certificate (CURLINFO_CERTINFO), which its two back
// ends write differently: OpenSSL "Jan  1 00:00:00 2040 GMT" and "O = Example, CN = Example
// Root" (X509_NAME_print_ex, one line); Schannel's, from libcurl's own ASN.1 reader,
// "2040-01-01 00:00:00 GMT" and "O=Example, CN=Example Root". The names come from whoever
// made the certificate, so what is read from them is made one plain line.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ombrel {

// A certificate time in either form, fractional seconds allowed; nothing for anything else,
// a zone other than GMT included (certificates carry UTC).
std::optional<std::chrono::sys_seconds> parse_certificate_time(std::string_view text);

// The last common name (CN) of a distinguished name in either form, OpenSSL's quotes and
// escapes undone; empty when it names none or cannot be read. Valid UTF-8 without control
// characters (each becomes '?'), at most kMaxCommonNameBytes bytes.
std::string certificate_common_name(std::string_view distinguished_name);
inline constexpr std::size_t kMaxCommonNameBytes = 200;

// "2040-01-01": the UTC day of a time.
std::string utc_date_text(std::chrono::sys_seconds time);

}  // namespace ombrel
