#include "platform/publisher_signature.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32/trust_rules.h"
#include "platform/win32/wide.h"

namespace ombrel::platform {
namespace {

// WinVerifyTrust's state data, handed back by a second call with WTD_STATEACTION_CLOSE.
struct TrustStateTraits {
  using Handle = WINTRUST_DATA*;
  static void close(WINTRUST_DATA* data) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data->dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, data);
    data->hWVTStateData = nullptr;
  }
};

// A buffer the crypto API allocated with LocalAlloc (the *_ALLOC_FLAG calls).
struct LocalBufferTraits {
  using Handle = void*;
  static void close(void* data) { LocalFree(data); }
};
using LocalBuffer = UniqueHandle<LocalBufferTraits>;

std::string common_name(PCCERT_CONTEXT certificate) {
  // The size includes the terminating NUL; 1 means the name has no common name.
  wchar_t buffer[256];
  const DWORD size = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME),
                                        buffer, static_cast<DWORD>(std::size(buffer)));
  if (size <= 1) return {};
  return win32::from_wide(std::wstring_view(buffer, size - 1));
}

// The pin is the SHA-256 of the certificate's SubjectPublicKeyInfo: a CA re-issued or
// cross-signed with the same key still matches, whichever copy the chain was built through.
bool is_pinned(PCCERT_CONTEXT certificate, std::span<const CertificatePin> pins) {
  LocalBuffer encoded;
  DWORD encoded_size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &certificate->pCertInfo->SubjectPublicKeyInfo,
                           CRYPT_ENCODE_ALLOC_FLAG, nullptr, encoded.put(), &encoded_size)) {
    return false;
  }
  CertificatePin digest{};
  DWORD size = static_cast<DWORD>(digest.size());
  if (!CryptHashCertificate2(L"SHA256", 0, nullptr, static_cast<const BYTE*>(encoded.get()), encoded_size,
                             digest.data(), &size) ||
      size != digest.size()) {
    return false;
  }
  return std::find(pins.begin(), pins.end(), digest) != pins.end();
}

// Wine's trust check looks at neither validity dates nor usages, so the walk decodes them itself
// (Windows refuses the same certificates with CERT_E_EXPIRED or CERT_E_WRONG_USAGE).
bool time_valid(PCCERT_CONTEXT certificate, FILETIME at) {
  return CertVerifyTimeValidity(&at, certificate->pCertInfo) == 0;
}

// An extended key usage extension must name code signing (or any usage). The signer must carry
// one: X.509 and Windows read none as any usage, which would let every CA under the pinned key
// without one (TLS and VPN intermediates often have none) make a "publisher". An issuer without
// one stays allowed, as X.509 has it.
bool allows_code_signing(PCCERT_CONTEXT certificate, bool issuer) {
  const CERT_EXTENSION* extension = CertFindExtension(szOID_ENHANCED_KEY_USAGE, certificate->pCertInfo->cExtension,
                                                      certificate->pCertInfo->rgExtension);
  if (extension == nullptr) return issuer;
  LocalBuffer decoded;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ENHANCED_KEY_USAGE, extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, decoded.put(), &size)) {
    return false;
  }
  const CERT_ENHKEY_USAGE* usage = static_cast<const CERT_ENHKEY_USAGE*>(decoded.get());
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    const std::string_view oid = usage->rgpszUsageIdentifier[i];
    if (oid == szOID_PKIX_KP_CODE_SIGNING || oid == szOID_ANY_ENHANCED_KEY_USAGE) return true;
  }
  return false;
}

// A key usage extension, where present, must allow the certificate's role in the chain.
bool key_usage_allows(PCCERT_CONTEXT certificate, bool issuer) {
  BYTE usage = 0;
  if (!CertGetIntendedKeyUsage(X509_ASN_ENCODING, certificate->pCertInfo, &usage, 1)) return true;  // none: any
  return (usage & (issuer ? CERT_KEY_CERT_SIGN_KEY_USAGE : CERT_DIGITAL_SIGNATURE_KEY_USAGE)) != 0;
}

// Whether a chain holds a certificate of a pinned key.
bool holds_pin(const CERT_CHAIN_CONTEXT& chain, std::span<const CertificatePin> pins) {
  if (chain.cChain == 0) return false;
  const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
  return std::any_of(simple.rgpElement, simple.rgpElement + simple.cElement,
                     [&](const CERT_CHAIN_ELEMENT* element) { return is_pinned(element->pCertContext, pins); });
}

// The time the signer's certificates must be valid at: the timestamp's (the trust check puts it
// in sftVerifyAsOf) when there is one and every countersignature holds, otherwise now.
FILETIME signing_time(const CRYPT_PROVIDER_SGNR& signer, std::span<const CertificatePin> pins) {
  bool counts = signer.csCounterSigners > 0;
  for (DWORD i = 0; counts && i < signer.csCounterSigners; ++i) {
    const CERT_CHAIN_CONTEXT* chain = signer.pasCounterSigners[i].pChainContext;
    counts = win32::countersignature_holds({signer.pasCounterSigners[i].dwError, chain != nullptr,
                                            chain ? chain->TrustStatus.dwErrorStatus : 0,
                                            chain != nullptr && holds_pin(*chain, pins)});
  }
  if (counts) return signer.sftVerifyAsOf;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return now;
}

// From the signer up to the first pinned certificate, every link must hold.
SignatureVerdict::Outcome walk_chain(const CERT_SIMPLE_CHAIN& simple, const CRYPT_PROVIDER_SGNR& signer,
                                     const PublisherPolicy& policy) {
  const FILETIME at = signing_time(signer, policy.pins);
  for (DWORD i = 0; i < simple.cElement; ++i) {
    const CERT_CHAIN_ELEMENT* element = simple.rgpElement[i];
    if (win32::breaks_chain(element->TrustStatus.dwErrorStatus)) return SignatureVerdict::Outcome::kBrokenChain;
    if (!time_valid(element->pCertContext, at)) return SignatureVerdict::Outcome::kNotTimeValid;
    if (!allows_code_signing(element->pCertContext, i > 0) || !key_usage_allows(element->pCertContext, i > 0)) {
      return SignatureVerdict::Outcome::kWrongUsage;
    }
    if (is_pinned(element->pCertContext, policy.pins)) return SignatureVerdict::Outcome::kTrusted;
  }
  return SignatureVerdict::Outcome::kUnpinned;
}

}  // namespace

SignatureVerdict check_publisher_signature(const HeldFile& held, const PublisherPolicy& policy) {
  const std::wstring wide_path = win32::to_wide(held.path());
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  // The bytes are read through the held handle, not reopened by name: nothing can swap the file
  // between this check and the start while the hold lasts.
  file.pcwszFilePath = wide_path.c_str();
  file.hFile = held.native_handle();

  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  // No revocation check. The file has just come over TLS from our own host and must chain to a
  // certificate pinned in this program, so revocation adds little; asking for it would make
  // users behind proxies or offline CRL servers wait many seconds at 100 % and then fail.
  // Root retrieval stays allowed: a fresh Windows may fetch the publisher's root on demand.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  const UniqueHandle<TrustStateTraits> state(data.hWVTStateData != nullptr ? &data : nullptr);

  SignatureVerdict verdict;
  verdict.system_code = static_cast<std::uint32_t>(status);

  // The signer's chain, as the trust check built it. After a failure there may be none (Wine
  // builds none once the digest is wrong).
  CRYPT_PROVIDER_DATA* provider = data.hWVTStateData ? WTHelperProvDataFromStateData(data.hWVTStateData) : nullptr;
  CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  const CERT_CHAIN_CONTEXT* chain = signer ? signer->pChainContext : nullptr;
  const CERT_SIMPLE_CHAIN* simple = chain && chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
  if (simple != nullptr && simple->cElement > 0) verdict.signer = common_name(simple->rgpElement[0]->pCertContext);

  // Windows refuses a root no store trusts, and a publisher with a code-signing CA of its own (as
  // the tests and the demo have) always meets that. The pin in this program is the trust anchor
  // here, so that one status alone is let through when the digest and signature verified and the
  // chain has no other fault; the walk below must still find a pinned key and pass every check.
  // Anything else the system refuses stays refused.
  bool root_only = false;
  if (status == CERT_E_UNTRUSTEDROOT && provider != nullptr && provider->padwTrustStepErrors && chain != nullptr) {
    const std::vector<std::uint32_t> steps(provider->padwTrustStepErrors,
                                           provider->padwTrustStepErrors + provider->cdwTrustStepErrors);
    root_only = win32::only_root_untrusted(verdict.system_code, steps, chain->TrustStatus.dwErrorStatus);
  }
  if (status != ERROR_SUCCESS && !root_only) {
    verdict.outcome = SignatureVerdict::Outcome::kRejected;
    return verdict;
  }
  if (simple == nullptr || simple->cElement == 0 || verdict.signer.empty() || verdict.signer != policy.name) {
    verdict.outcome = SignatureVerdict::Outcome::kOtherPublisher;
    return verdict;
  }
  verdict.outcome = walk_chain(*simple, *signer, policy);
  return verdict;
}

}  // namespace ombrel::platform
