#pragma once
// The rules of the publisher check that read the system's trust state (platform/win32), apart
// from the calls that produce it, so each can be checked on values Wine never reports.
#include <cstdint>
#include <span>

namespace ombrel::win32 {

// Whether WinVerifyTrust's `status` is only that Windows trusts none of the chain's roots
// (CERT_E_UNTRUSTEDROOT), with the file's digest and signature verified: no error in any step
// before the certificate step (`step_errors`, CRYPT_PROVIDER_DATA::padwTrustStepErrors), none
// but that one after it, and no chain fault (`chain_errors`) but the untrusted root.
bool only_root_untrusted(std::uint32_t status, std::span<const std::uint32_t> step_errors, std::uint32_t chain_errors);

// Whether one chain element's faults (its CERT_TRUST_* error bits) make the chain worthless
// whatever its root: a certificate its issuer did not sign, an issuer that is no CA, a cycle, a
// name, policy or critical extension the chain does not allow. Windows refuses all of them
// itself; Wine lets them pass.
bool breaks_chain(std::uint32_t element_errors);

// What the trust check reports about one countersignature of the signer: its timestamp.
struct Countersignature {
  std::uint32_t error = 0;         // CRYPT_PROVIDER_SGNR::dwError of the countersigner
  bool has_chain = false;          // whether the system built the countersigner's chain
  std::uint32_t chain_errors = 0;  // that chain's CERT_TRUST_* error bits
  bool pinned = false;             // whether that chain holds a certificate of a pinned key
};

// Whether one countersignature holds: it verified under a chain the system trusts, or under one
// whose only fault is an untrusted root that a pinned key stands in for. The signature's timestamp
// may stand in for now as the time the signer's certificates must be valid at only when there is
// one and every countersignature holds; otherwise a self-made timestamp could date a leaked, long
// expired certificate back into its validity.
bool countersignature_holds(const Countersignature& countersignature);

}  // namespace ombrel::win32
