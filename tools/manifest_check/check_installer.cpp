#include "tools/manifest_check/check_installer.h"

#include <cstdint>
#include <cstdio>
#include <ostream>

#include "pipeline/publisher_check.h"
#include "platform/files.h"

namespace ombrel::tools {
namespace {

using Outcome = platform::SignatureVerdict::Outcome;

constexpr std::uint32_t kNoSignature = 0x800B0100;  // TRUST_E_NOSIGNATURE

// The system's answers a vendor is likely to meet, in words; the code is printed in any case.
struct KnownCode {
  std::uint32_t code;
  const char* meaning;
};
constexpr KnownCode kKnownCodes[] = {
    {kNoSignature, "the file is not signed"},
    {0x80096010, "the file was changed after it was signed"},         // TRUST_E_BAD_DIGEST
    {0x80096004, "a signature in the file does not verify"},          // TRUST_E_CERT_SIGNATURE
    {0x800B0109, "the signer's root is not trusted on this system"},  // CERT_E_UNTRUSTEDROOT
    {0x800B0101, "the signing certificate has expired"},              // CERT_E_EXPIRED
    {0x800B0003, "the file is no program the system can check"},      // TRUST_E_SUBJECT_FORM_UNKNOWN
};

std::string trust_failure(std::uint32_t code) {
  std::string text = "the system refused the signature";
  for (const KnownCode& known : kKnownCodes) {
    if (known.code == code) text = known.meaning;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
  return text + " (WinVerifyTrust " + hex + ")";
}

}  // namespace

std::string describe(const platform::SignatureVerdict& verdict, const platform::PublisherPolicy& policy) {
  std::string text = "signer: ";
  if (verdict.outcome == Outcome::kNotAvailable) {
    text += "unknown (no Authenticode on this system)";
  } else if (!verdict.signer.empty()) {
    text += verdict.signer;
  } else {
    // A refused signature may name no signer; only "no signature" means there is none.
    text += verdict.outcome == Outcome::kRejected && verdict.system_code != kNoSignature ? "unknown" : "none";
  }
  text += "\ncheck: ";
  if (policy.name.empty()) return text + "off (this build names no publisher and starts any installer)\n";
  switch (verdict.outcome) {
    case Outcome::kTrusted:
      return text + "passes\n";
    case Outcome::kNotAvailable:
      return text + "fails: this system cannot check Authenticode signatures\n";
    case Outcome::kRejected:
      return text + "fails: " + trust_failure(verdict.system_code) + "\n";
    case Outcome::kBrokenChain:
      return text +
             "fails: a certificate of the signer's chain is not signed by its issuer, its issuer is no CA, "
             "or a name, policy or critical extension of the chain does not hold\n";
    case Outcome::kNotTimeValid:
      return text + "fails: a certificate of the signer's chain is not valid at the signing time\n";
    case Outcome::kWrongUsage:
      return text + "fails: a certificate of the signer's chain is not allowed for code signing\n";
    case Outcome::kOtherPublisher:
      if (verdict.signer.empty()) return text + "fails: no signing certificate could be read\n";
      return text + "fails: not signed by \"" + std::string(policy.name) + "\"\n";
    case Outcome::kUnpinned:
      return text + "fails: the signer's chain holds none of the build's pinned certificates\n";
  }
  return text + "fails\n";
}

int run_check_installer(const std::string& path, std::ostream& out, std::ostream& err) {
  if (!platform::is_regular_file(path)) {
    err << "manifest-check: cannot read " << path << "\n";
    return 2;
  }
  const Expected<platform::HeldFile, std::uint32_t> held = platform::HeldFile::open(path);
  if (!held) {
    err << "manifest-check: cannot read " << path << " (error " << held.error() << ")\n";
    return 2;
  }
  const platform::PublisherPolicy policy = built_in_publisher_policy();
  const platform::SignatureVerdict verdict = platform::check_publisher_signature(*held, policy);
  out << describe(verdict, policy);
  return policy.name.empty() || verdict.outcome == Outcome::kTrusted ? 0 : 1;
}

}  // namespace ombrel::tools
