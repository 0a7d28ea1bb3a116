#include "platform/publisher_signature.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "platform/win32/wide.h"

namespace ombrel::platform {
namespace {

// Owner of WinVerifyTrust's state data: reset() hands it back with WTD_STATEACTION_CLOSE.
class TrustState {
 public:
  TrustState(GUID action, WINTRUST_DATA& data) : action_(action), data_(data) {}
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;
  ~TrustState() { reset(); }

  void reset() {
    if (data_.hWVTStateData == nullptr) return;
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    data_.hWVTStateData = nullptr;
  }

 private:
  GUID action_;
  WINTRUST_DATA& data_;
};

std::string common_name(PCCERT_CONTEXT certificate) {
  // The size includes the terminating NUL; 1 means the name has no common name.
  wchar_t buffer[256];
  const DWORD size = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME),
                                        buffer, static_cast<DWORD>(std::size(buffer)));
  if (size <= 1) return {};
  return win32::from_wide(std::wstring_view(buffer, size - 1));
}

bool is_pinned(PCCERT_CONTEXT certificate, std::span<const CertificatePin> pins) {
  CertificatePin digest{};
  DWORD size = static_cast<DWORD>(digest.size());
  if (!CryptHashCertificate2(L"SHA256", 0, nullptr, certificate->pbCertEncoded, certificate->cbCertEncoded,
                             digest.data(), &size) ||
      size != digest.size()) {
    return false;
  }
  return std::find(pins.begin(), pins.end(), digest) != pins.end();
}

// Faults of a chain element that make the chain worthless whatever its root: a certificate its
// issuer did not sign (a look-alike issuer name), or an issuer that is no CA (a leaf of the
// pinned CA issuing "our" name). Windows refuses both itself; Wine does not.
constexpr DWORD kChainForgery =
    CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_INVALID_BASIC_CONSTRAINTS | CERT_TRUST_IS_CYCLIC;

}  // namespace

SignatureVerdict check_publisher_signature(const LockedFile& held, const PublisherPolicy& policy) {
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
  TrustState state(action, data);

  SignatureVerdict verdict;
  verdict.system_code = static_cast<std::uint32_t>(status);

  // The signer's chain, as the trust check built it. After a failure there may be none (Wine
  // builds none once the digest is wrong).
  CRYPT_PROVIDER_DATA* provider = data.hWVTStateData ? WTHelperProvDataFromStateData(data.hWVTStateData) : nullptr;
  CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  const CERT_CHAIN_CONTEXT* chain = signer ? signer->pChainContext : nullptr;
  const CERT_SIMPLE_CHAIN* simple = chain && chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
  if (simple != nullptr && simple->cElement > 0) verdict.signer = common_name(simple->rgpElement[0]->pCertContext);

  if (status != ERROR_SUCCESS) {
    verdict.outcome = SignatureVerdict::Outcome::rejected;
    return verdict;
  }
  if (simple == nullptr || simple->cElement == 0 || verdict.signer.empty() || verdict.signer != policy.name) {
    verdict.outcome = SignatureVerdict::Outcome::other_publisher;
    return verdict;
  }
  // From the signer up to the first pinned certificate, every link must hold.
  for (DWORD i = 0; i < simple->cElement; ++i) {
    const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
    if ((element->TrustStatus.dwErrorStatus & kChainForgery) != 0) {
      verdict.outcome = SignatureVerdict::Outcome::broken_chain;
      return verdict;
    }
    if (is_pinned(element->pCertContext, policy.pins)) {
      verdict.outcome = SignatureVerdict::Outcome::trusted;
      return verdict;
    }
  }
  verdict.outcome = SignatureVerdict::Outcome::unpinned;
  return verdict;
}

}  // namespace ombrel::platform
