#pragma once
// The support summary that Ctrl+C puts on the clipboard: plain English (support staff read it,
// whatever the user's language), one short labelled line per fact so it survives an email.
// Nothing is written to disk or sent anywhere.
#include <cstdint>
#include <string>
#include <string_view>

#include "pipeline/run_record.h"

namespace ombrel {

// The machine and the program, the same for every run.
struct SystemFacts {
  std::string program_version;  // "0.0.20", "0.0.20 (test build)"
  std::uint32_t windows_major = 0;
  std::uint32_t windows_minor = 0;
  std::uint32_t windows_build = 0;
  std::string architecture;  // native: "x64", "arm64" or "x86"
  std::string ui_language;   // the chosen translation table, "fr_FR"
};

// This program on this machine, now.
SystemFacts current_system_facts();

// `url` up to its query or fragment: they may carry tokens that are nobody else's business.
std::string_view url_without_query(std::string_view url);

// The summary, lines ended by CRLF (the clipboard's convention). `last_run` is the last
// finished run's record (none before the first ends); `run_in_progress` says another has begun.
std::string format_support_summary(const SystemFacts& system, const RunRecord* last_run, bool run_in_progress);

}  // namespace ombrel
