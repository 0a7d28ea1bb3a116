#include "app/support_summary.h"

#include "common/ascii_text.h"
#include "common/build_config.h"
#include "common/quoted_text.h"
#include "platform/architecture.h"
#include "platform/known_folders.h"
#include "platform/os_version.h"
#include "translations/translation_store.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

using Outcome = platform::SignatureVerdict::Outcome;

constexpr std::size_t kMaxLine = 120;
constexpr std::size_t kMaxName = 15;

// A line's end that does not split a UTF-8 character.
std::size_t character_boundary(std::string_view text, std::size_t at) {
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return at;
}

// A name from outside, cut to kMaxName characters with "..." (a UTF-8 character stays whole).
std::string short_field(std::string_view text);

// `text` with every path below a profile folder shown through the variable that names it (ASCII
// case ignored, as Windows compares paths).
std::string without_profile(std::string text, const SystemFacts& system) {
  for (const auto& [variable, folder] : system.profile_folders) {
    if (folder.empty()) continue;
    for (std::size_t at = 0; at + folder.size() <= text.size();) {
      if (equals_ignore_ascii_case(std::string_view(text).substr(at, folder.size()), folder)) {
        text.replace(at, folder.size(), variable);
        at += variable.size();
      } else {
        ++at;
      }
    }
  }
  return text;
}

std::string short_field(std::string_view text) {
  if (text.size() <= kMaxName) return std::string(text);
  return std::string(text.substr(0, character_boundary(text, kMaxName - 3))) + "...";
}

// Labelled lines of at most 120 characters. Values may come from outside (a manifest, a
// signature, the registry): escaped, they cannot forge a line of their own.
class Lines {
 public:
  explicit Lines(const SystemFacts& system) : system_(system) {}

  void add(std::string_view label, std::string_view value) {
    std::string line(label);
    line.append(": ").append(printable_text(without_profile(std::string(value), system_)));
    if (line.size() > kMaxLine) line.replace(character_boundary(line, kMaxLine - 3), std::string::npos, "...");
    text_.append(line).append("\r\n");
  }
  std::string take() { return std::move(text_); }

 private:
  const SystemFacts& system_;
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

// The reason's name and its number, labelled with what kind of number it is, then the row's hint.
// An HTTP status already on the line (`shown_status`) is not repeated.
std::string failure_text(const PipelineError& error, int shown_status) {
  const FailureReasonRow& row = failure_row(error.reason);
  std::string text(row.name);
  const bool shown = error.code == static_cast<std::uint32_t>(shown_status);
  switch (row.code) {
    case FailureCode::kCurl:
      text += " (libcurl " + std::to_string(error.code) + ")";
      break;
    case FailureCode::kTrustStatus:
      text += " (code " + hex32(error.code) + ")";
      break;
    case FailureCode::kHttpStatus:
      if (!shown) text += " (HTTP " + std::to_string(error.code) + ")";
      break;
    case FailureCode::kNone:
      break;
    default:
      if (error.code != 0 && !shown) text += " (code " + std::to_string(error.code) + ")";
  }
  if (!row.note.empty()) text.append(": ").append(row.note);
  // The signer is on the signature line.
  if (!error.detail.empty() && error.reason != FailureReason::kSignature) text += ": " + error.detail;
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

// The "TLS" line, when the run's failure (or its last attempt's) is a refused server
// certificate that could be read: what it said and which check refused it, with what the
// helpdesk can do about it.
void add_tls_line(Lines& lines, const RunRecord& run) {
  const OptionalTlsRefusal* refusal = run.failure ? &run.failure->tls_refusal : nullptr;
  if ((refusal == nullptr || !*refusal) && !run.attempts.empty() && run.attempts.back().failure) {
    refusal = &run.attempts.back().failure->tls_refusal;
  }
  if (refusal == nullptr || !*refusal) return;
  const TlsRefusal* tls = &**refusal;
  // Per check, in CertificateCheck's order: the text before its first fact, between the two
  // and after the second. Names are cut short so the hint, what a helpdesk acts on, stays
  // within the line.
  static constexpr const char* kParts[4][3] = {
      {"", " issued by \"", "\", not a built-in root (a proxy or security product may inspect HTTPS)"},
      {"certificate valid from ", "; this machine's clock says ", " (check the date and time)"},
      {"certificate valid until ", "; this machine's clock says ", " (check the date and time)"},
      {"certificate for ", "", " - name mismatch (a login page, proxy or wrong DNS entry may answer)"},
  };
  const bool dated = tls->check == CertificateCheck::kNotYetValid || tls->check == CertificateCheck::kExpired;
  // Of a time, its day ("2040-01-01"); of a name, its first characters.
  const UtcTime& date = tls->check == CertificateCheck::kNotYetValid ? tls->valid_from : tls->valid_to;
  const std::string first = dated ? std::string(date.data(), 10) : short_field(tls->subject.data());
  const std::string second = dated                                           ? std::string(tls->clock.data(), 10)
                             : tls->check == CertificateCheck::kNameMismatch ? std::string()
                                                                             : short_field(tls->issuer.data());
  const char* const* parts = kParts[static_cast<int>(tls->check)];
  std::string text;
  text.append(parts[0]).append(first).append(parts[1]).append(second).append(parts[2]);
  lines.add("TLS", text);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> profile_folders() {
  std::vector<std::pair<std::string, std::string>> folders;
  using platform::KnownFolder;
  for (const auto& [variable, folder] :
       {std::pair{"%LOCALAPPDATA%", KnownFolder::kLocalAppData}, std::pair{"%USERPROFILE%", KnownFolder::kProfile}}) {
    if (std::optional<std::string> path = platform::known_folder_path(folder)) folders.emplace_back(variable, *path);
  }
  return folders;
}

SystemFacts current_system_facts() {
  const platform::OsVersion os = platform::os_version();
  // A test build trusts a CA made in its build folder: the first line says so, to whoever reads it.
  return {std::string(OMBREL_VERSION) + (is_test_build() ? " (test build)" : ""),
          os.major,
          os.minor,
          os.build,
          std::string(platform::detect_architecture()),
          std::string(translation_store().locale()),
          profile_folders()};
}

std::string url_for_summary(std::string_view url) {
  std::string shown(url.substr(0, url.find_first_of("?#")));
  const std::size_t scheme = shown.find("://");
  const std::size_t authority = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t at = shown.substr(0, shown.find('/', authority)).rfind('@');
  if (at != std::string::npos && at >= authority) shown.erase(authority, at + 1 - authority);
  return shown;
}

std::string format_support_summary(const SystemFacts& system, const RunRecord* last_run, bool run_in_progress) {
  Lines lines(system);
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
  add_tls_line(lines, run);
  lines.add("Manifest URL", url_for_summary(run.manifest_url));
  lines.add("Installer URL", run.installer_url.empty() ? "none" : url_for_summary(run.installer_url));
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
