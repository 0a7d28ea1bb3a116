#include "app/support_summary.h"

#include "pipeline/certificate_text.h"
#include "platform/architecture.h"
#include "platform/os_version.h"
#include "translations/translation_store.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

using Outcome = platform::SignatureVerdict::Outcome;

class Lines {
 public:
  void add(std::string_view label, std::string_view value) {
    text_.append(label).append(": ").append(value).append("\r\n");
  }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

std::string hex32(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x00000000";
  for (int i = 9; i >= 2; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}

// Tenths of a second, rounded; integers only (the exe carries no floating-point formatting).
std::string seconds_text(double seconds) {
  const auto milliseconds = seconds > 0 ? static_cast<std::uint64_t>(seconds * 1000) : std::uint64_t{0};
  const std::uint64_t tenths = (milliseconds + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

// The reason's name and its number, labelled with what kind of number it is. An HTTP status
// already on the line (`shown_status`) is not repeated.
std::string failure_text(const PipelineError& error, int shown_status) {
  std::string text(failure_reason_name(error.reason));
  switch (error.reason) {
    case FailureReason::kTransport:
    case FailureReason::kBodyRead:
      text += " (libcurl " + std::to_string(error.code) + ")";
      break;
    case FailureReason::kSignature:
      // The signer is on the signature line.
      return text + " (code " + hex32(error.code) + ")";
    case FailureReason::kHttpStatus:
    case FailureReason::kUnexpectedStatus:
    case FailureReason::kRangeRejected:
    case FailureReason::kRangeMismatch:
    case FailureReason::kManifestHttpStatus:
      if (error.code != static_cast<std::uint32_t>(shown_status)) text += " (HTTP " + std::to_string(error.code) + ")";
      break;
    default:
      if (error.code != 0 && error.code != static_cast<std::uint32_t>(shown_status)) {
        text += " (code " + std::to_string(error.code) + ")";
      }
  }
  if (!error.detail.empty()) text += ": " + error.detail;
  return text;
}

std::string attempt_text(const AttemptRecord& attempt) {
  std::string text = "from byte " + std::to_string(attempt.range_start);
  if (attempt.http_status != 0) text += ", HTTP " + std::to_string(attempt.http_status);
  if (attempt.failure) text += ", " + failure_text(*attempt.failure, attempt.http_status);
  return text + ", " + std::to_string(attempt.bytes_received) + " bytes, " + seconds_text(attempt.seconds);
}

std::string_view outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::kTrusted:
      return "trusted";
    case Outcome::kNotAvailable:
      return "not available";
    case Outcome::kRejected:
      return "rejected";
    case Outcome::kBrokenChain:
      return "broken chain";
    case Outcome::kOtherPublisher:
      return "other publisher";
    case Outcome::kUnpinned:
      return "unpinned";
    case Outcome::kNotTimeValid:
      return "not time valid";
    case Outcome::kWrongUsage:
      return "wrong key usage";
  }
  return "?";
}

std::string signature_text(const std::optional<platform::SignatureVerdict>& signature) {
  if (!signature) return "not checked";
  std::string text(outcome_name(signature->outcome));
  if (!signature->signer.empty()) text += ", signer " + signature->signer;
  return text + ", code " + hex32(signature->system_code);
}

// The refused server certificate behind the run's failure (or its last attempt's), when it was
// read: what it said and which check refused it, with what the helpdesk can do about it.
std::optional<std::string> tls_text(const RunRecord& run) {
  auto refusal_of = [](const std::optional<PipelineError>& failure) {
    return failure && failure->tls_refusal ? &*failure->tls_refusal : nullptr;
  };
  const TlsRefusal* refusal = refusal_of(run.failure);
  if (refusal == nullptr && !run.attempts.empty()) refusal = refusal_of(run.attempts.back().failure);
  if (refusal == nullptr) return std::nullopt;
  const TlsRefusal& tls = *refusal;
  const std::string subject = tls.subject.empty() ? "(no common name)" : tls.subject;
  const std::string clock = "; this machine's clock says " + utc_date_text(tls.clock);
  switch (tls.check) {
    case CertificateCheck::kUnknownIssuer:
      return "certificate for " + subject + " issued by \"" + tls.issuer +
             "\" - not a built-in root (a proxy or security product may be inspecting HTTPS)";
    case CertificateCheck::kNotYetValid:
      return "certificate valid from " + utc_date_text(tls.valid_from) + clock + " (check the date and time)";
    case CertificateCheck::kExpired:
      return "certificate valid until " + utc_date_text(tls.valid_to) + clock +
             " (check the date and time; if they are right, the certificate has expired)";
    case CertificateCheck::kNameMismatch:
      return "certificate for " + subject + ", but the host is " + tls.host +
             " - name mismatch (a network login page, proxy or wrong DNS entry may be answering)";
  }
  return std::nullopt;
}

}  // namespace

SystemFacts current_system_facts() {
  const platform::OsVersion os = platform::os_version();
  return {OMBREL_VERSION,
          os.major,
          os.minor,
          os.build,
          std::string(platform::detect_architecture()),
          std::string(translation_store().locale())};
}

std::string_view url_without_query(std::string_view url) { return url.substr(0, url.find_first_of("?#")); }

std::string format_support_summary(const SystemFacts& system, const RunRecord* last_run, bool run_in_progress) {
  Lines lines;
  lines.add("Program", "Ombrel Loomwork Installer " + system.program_version);
  lines.add("Windows", std::to_string(system.windows_major) + "." + std::to_string(system.windows_minor) + " build " +
                           std::to_string(system.windows_build));
  lines.add("Architecture", system.architecture);
  lines.add("UI language", system.ui_language);
  // The lines below tell the last finished run: one in progress has nothing settled to tell.
  if (run_in_progress) lines.add("Current run", "in progress");
  if (last_run == nullptr) {
    lines.add("Last run", "none finished");
    return lines.take();
  }
  const RunRecord& run = *last_run;
  lines.add("Last run", run.failure ? "failed, " + failure_text(*run.failure, 0) : "completed");
  if (const auto tls = tls_text(run)) lines.add("TLS", *tls);
  lines.add("Manifest URL", url_without_query(run.manifest_url));
  lines.add("Installer URL", run.installer_url.empty() ? "none" : url_without_query(run.installer_url));
  if (run.attempts.empty()) lines.add("Download", "not started");
  for (std::size_t i = 0; i < run.attempts.size(); ++i) {
    lines.add("Attempt " + std::to_string(i + 1), attempt_text(run.attempts[i]));
  }
  lines.add("Signature", signature_text(run.signature));
  lines.add("Installer exit code", run.installer_exit_code ? std::to_string(*run.installer_exit_code) : "not run");
  lines.add("Application",
            !run.app_searched ? "not looked for" : (run.app_path.empty() ? "not found" : "found at " + run.app_path));
  return lines.take();
}

}  // namespace ombrel
