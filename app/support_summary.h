#pragma once
// The support summary that Ctrl+C puts on the clipboard: plain English (support staff read it,
// whatever the user's language), one short labelled line per fact so it survives an email.
// Nothing is written to disk or sent anywhere.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  // Folders whose path carries the user's name, each with the variable that names it, most
  // specific first: {"%LOCALAPPDATA%", "C:\\Users\\ann\\AppData\\Local"}, {"%USERPROFILE%", ...}.
  std::vector<std::pair<std::string, std::string>> profile_folders;
};

// This program on this machine, now.
SystemFacts current_system_facts();

// `url` without what is nobody else's business: its user information ("user:password@"), and
// its query and fragment, which may carry tokens.
std::string url_for_summary(std::string_view url);

// The summary, lines ended by CRLF (the clipboard's convention). Every value is shown with
// control and direction characters escaped, paths below the profile through the variable that
// names their folder, and each line cut to 120 characters with "...". `last_run` is the last
// finished run's record (none before the first ends); `run_in_progress` says another has begun.
std::string format_support_summary(const SystemFacts& system, const RunRecord* last_run, bool run_in_progress);

}  // namespace ombrel
