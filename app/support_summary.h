#pragma once
// The support summary that Ctrl+C puts on the clipboard: plain English (support staff read it,
// whatever the user's language), one short labelled line per fact so it survives an email.
// Nothing is written to disk or sent anywhere.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel {

// The machine and the program, the same for every run.
struct SystemFacts {
  std::string program_version;  // "0.0.20"
  std::uint32_t windows_major = 0;
  std::uint32_t windows_minor = 0;
  std::uint32_t windows_build = 0;
  std::string architecture;  // native: "x64", "arm64" or "x86"
  std::string ui_language;   // the chosen translation table, "fr_FR"
};

// What the latest run recorded, as far as it got.
struct SummaryAttempt {
  std::uint64_t range_start = 0;
  int http_status = 0;      // 0: no answer was received
  std::string failure;      // the transport failure's name when there was no usable answer
  int library_code = 0;     // libcurl's code of that failure
  std::uint64_t bytes = 0;  // received in this attempt
  std::uint64_t milliseconds = 0;
};

struct SummarySignature {
  std::string outcome;  // "valid", "untrusted", ...
  std::string signer;   // empty when the file has no signer
  std::uint32_t system_code = 0;
};

struct SummaryRun {
  std::string manifest_url;
  std::string installer_url;  // empty until the manifest named one
  std::vector<SummaryAttempt> attempts;
  std::optional<SummarySignature> signature;         // none: not checked (yet)
  std::optional<std::uint32_t> installer_exit_code;  // none: not run (yet)
  std::optional<bool> app_found;                     // none: not looked for (yet)
  std::string app_location;
};

// This program on this machine, now.
SystemFacts current_system_facts();

// `url` up to its query or fragment: they may carry tokens that are nobody else's business.
std::string_view url_without_query(std::string_view url);

// The summary, lines ended by CRLF (the clipboard's convention). Without a run the run's lines
// say so.
std::string format_support_summary(const SystemFacts& system, const SummaryRun* run);

}  // namespace ombrel
