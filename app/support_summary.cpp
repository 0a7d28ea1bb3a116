#include "app/support_summary.h"

#include "platform/architecture.h"
#include "platform/os_version.h"
#include "translations/translation_store.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

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
std::string seconds_text(std::uint64_t milliseconds) {
  const std::uint64_t tenths = (milliseconds + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

std::string attempt_text(const SummaryAttempt& attempt) {
  std::string text = "from byte " + std::to_string(attempt.range_start) + ", ";
  if (attempt.failure.empty()) {
    text += "HTTP " + std::to_string(attempt.http_status);
  } else {
    text += attempt.failure + " (libcurl " + std::to_string(attempt.library_code) + ")";
  }
  return text + ", " + std::to_string(attempt.bytes) + " bytes, " + seconds_text(attempt.milliseconds);
}

std::string signature_text(const std::optional<SummarySignature>& signature) {
  if (!signature) return "not checked";
  std::string text = signature->outcome;
  if (!signature->signer.empty()) text += ", signer " + signature->signer;
  return text + ", code " + hex32(signature->system_code);
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

std::string format_support_summary(const SystemFacts& system, const SummaryRun* run) {
  Lines lines;
  lines.add("Program", "Ombrel Loomwork Installer " + system.program_version);
  lines.add("Windows", std::to_string(system.windows_major) + "." + std::to_string(system.windows_minor) + " build " +
                           std::to_string(system.windows_build));
  lines.add("Architecture", system.architecture);
  lines.add("UI language", system.ui_language);
  if (run == nullptr) {
    lines.add("Run", "none recorded");
    return lines.take();
  }
  lines.add("Manifest URL", url_without_query(run->manifest_url));
  lines.add("Installer URL", run->installer_url.empty() ? "none" : url_without_query(run->installer_url));
  if (run->attempts.empty()) lines.add("Download", "not started");
  for (std::size_t i = 0; i < run->attempts.size(); ++i) {
    lines.add("Attempt " + std::to_string(i + 1), attempt_text(run->attempts[i]));
  }
  lines.add("Signature", signature_text(run->signature));
  lines.add("Installer exit code", run->installer_exit_code ? std::to_string(*run->installer_exit_code) : "not run");
  lines.add("Application",
            !run->app_found ? "not looked for" : (*run->app_found ? "found at " + run->app_location : "not found"));
  return lines.take();
}

}  // namespace ombrel
