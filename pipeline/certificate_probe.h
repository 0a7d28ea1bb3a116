#pragma once
// What a refused server certificate said and which check refused it, learnt over new
// connections that end after the TLS handshake: no HTTP request ever goes to that host.
// libcurl keeps no certificate of a handshake its checks broke off (neither back end does), so
// the certificate is read again from a handshake without checks.
#include <chrono>
#include <optional>
#include <string>

#include "pipeline/tls_refusal.h"

namespace ombrel {

// For a request to `url` that libcurl failed with CURLE_PEER_FAILED_VERIFICATION, `clock`
// being this machine's clock at that moment. The dates are compared with `clock` here, the
// same on both back ends; dates in order, a second handshake that checks the chain but not the
// name tells a name mismatch (it completes) from an unknown issuer. Nothing when no handshake
// completes again (the server went away) or the certificate cannot be read: the failure then
// stays a plain transport failure.
std::optional<TlsRefusal> examine_refused_certificate(const std::string& url, std::chrono::sys_seconds clock);

}  // namespace ombrel
