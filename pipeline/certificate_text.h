#pragma once
// The texts libcurl gives about a server certificate (CURLINFO_CERTINFO), which its two back
// ends write differently: Schannel's, from libcurl's own ASN.1 reader, "2040-01-01 00:00:00
// GMT" and "O=Example, CN=Example Root"; OpenSSL "Jan  1 00:00:00 2040 GMT" and "O = Example,
// CN = Example Root" (X509_NAME_print_ex, one line). Windows builds read the first form only,
// Linux builds both. The names come from whoever made the certificate, so what is kept of them
// is made one plain line.
#include <array>
#include <chrono>
#include <optional>
#include <string_view>

#include "pipeline/tls_refusal.h"

namespace ombrel {

// A certificate time in either form as a UtcTime, fractional seconds dropped; nothing when it
// is not one or its zone is not GMT (certificates carry UTC).
std::optional<UtcTime> certificate_time(std::string_view text);

// The last common name (CN) of a distinguished name in either form, OpenSSL's quotes and
// "\C3\A9" escapes undone; empty when it names none. Control characters become '?'.
CertificateName certificate_common_name(std::string_view distinguished_name);

// A time as a UtcTime.
UtcTime utc_time(std::chrono::sys_seconds time);

}  // namespace ombrel
