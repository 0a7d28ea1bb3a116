#include "platform/win32/trust_rules.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace ombrel::win32 {

bool only_root_untrusted(std::uint32_t status, std::span<const std::uint32_t> step_errors, std::uint32_t chain_errors) {
  constexpr auto kUntrustedRoot = static_cast<std::uint32_t>(CERT_E_UNTRUSTEDROOT);
  if (status != kUntrustedRoot || step_errors.size() <= TRUSTERROR_STEP_FINAL_SIGPROV) return false;
  for (std::size_t step = 0; step < step_errors.size(); ++step) {
    const bool verified_before = step < TRUSTERROR_STEP_FINAL_CERTPROV;
    if (step_errors[step] != 0 && (verified_before || step_errors[step] != kUntrustedRoot)) return false;
  }
  return (chain_errors & ~static_cast<std::uint32_t>(CERT_TRUST_IS_UNTRUSTED_ROOT)) == 0;
}

bool breaks_chain(std::uint32_t element_errors) {
  constexpr std::uint32_t kBroken =
      CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC | CERT_TRUST_INVALID_BASIC_CONSTRAINTS |
      CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
      CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
      CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT | CERT_TRUST_INVALID_POLICY_CONSTRAINTS |
      CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY | CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
  return (element_errors & kBroken) != 0;
}

bool countersignature_holds(const Countersignature& countersignature) {
  if (!countersignature.has_chain) return false;
  if (countersignature.error == 0 && countersignature.chain_errors == 0) return true;  // the system trusts it
  // A root no store trusts, which a pinned key stands in for, as for the signer's own chain.
  const bool root_only =
      (countersignature.error == 0 || countersignature.error == static_cast<std::uint32_t>(CERT_E_UNTRUSTEDROOT)) &&
      (countersignature.chain_errors & ~static_cast<std::uint32_t>(CERT_TRUST_IS_UNTRUSTED_ROOT)) == 0;
  return root_only && countersignature.pinned;
}

}  // namespace ombrel::win32
