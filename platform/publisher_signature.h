#pragma once
// The Authenticode check of a downloaded file: signed, unchanged since signing, by the expected
// publisher, under one of the publisher's own CA certificates. The system's trust check alone
// is not enough: Wine does not enforce chain trust, and on Windows any trusted code-signing CA
// would do, so the signer's name and a pinned CA certificate are checked here as well.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/held_file.h"

namespace ombrel::platform {

// SHA-256 of a certificate's public key: its DER SubjectPublicKeyInfo.
using CertificatePin = std::array<std::uint8_t, 32>;

struct PublisherPolicy {
  std::string_view name;                 // exact common name of the signing certificate
  std::span<const CertificatePin> pins;  // the signer's chain must hold a certificate of one of these keys
};

struct SignatureVerdict {
  enum class Outcome {
    kTrusted,         // signed by `name`, unchanged, under a pinned certificate
    kNotAvailable,    // this system has no Authenticode check
    kRejected,        // the system's trust check failed; system_code says why
    kBrokenChain,     // the signer's chain has a certificate not signed by its issuer, a non-CA
                      // issuer, or a name, policy or critical extension it does not allow: the
                      // system accepted it, we do not
    kNotTimeValid,    // a certificate of the chain is expired or not yet valid at the signing time
                      // (the timestamp's time when it verified under a trusted or pinned root,
                      // else now)
    kWrongUsage,      // a certificate of the chain is not for code signing (extended key usage,
                      // which the signer must carry), or an issuer's key usage lacks keyCertSign,
                      // or the signer's digitalSignature
    kOtherPublisher,  // a valid signature, but of another signer (or none readable)
    kUnpinned,        // the right name, but under none of the pinned keys
  };
  Outcome outcome = Outcome::kNotAvailable;
  std::string signer;             // common name of the signing certificate when one was read
  std::uint32_t system_code = 0;  // the system's result (Windows: WinVerifyTrust's HRESULT)
};

// Checks the held `file` against `policy`, reading it through its handle, so the verdict is
// about the bytes the hold keeps unchanged. Windows: WinVerifyTrust (Authenticode, no UI), then
// the signer's chain. Elsewhere: always kNotAvailable, so a build that asks for the check must
// not be made for such a system (configure refuses it).
SignatureVerdict check_publisher_signature(const HeldFile& file, const PublisherPolicy& policy);

}  // namespace ombrel::platform
