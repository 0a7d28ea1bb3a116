#pragma once
// When the publisher's pin may stand in for the system's root store (platform/win32).
#include <cstdint>
#include <span>

namespace ombrel::win32 {

// Whether WinVerifyTrust's `status` is only that Windows trusts none of the chain's roots
// (CERT_E_UNTRUSTEDROOT), with the file's digest and signature verified: no error in any step
// before the certificate step (`step_errors`, CRYPT_PROVIDER_DATA::padwTrustStepErrors), none
// but that one after it, and no chain fault (`chain_errors`) but the untrusted root.
bool only_root_untrusted(std::uint32_t status, std::span<const std::uint32_t> step_errors, std::uint32_t chain_errors);

}  // namespace ombrel::win32
