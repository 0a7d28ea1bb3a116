#pragma once
// `manifest-check --check-resume URL`: whether the host lets an interrupted installer download
// continue, asked the way the installer asks (a full request, then Range with If-Range).
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace ombrel::tools {

struct ResumeCheck {
  bool transport_ok = false;          // both answers arrived (else `reason` says why not)
  bool resumable = false;             // 206 continuing at the asked offset, with a usable validator
  std::string validator;              // what went into If-Range: a strong ETag, else Last-Modified
  std::optional<std::uint64_t> size;  // of the full answer's body
  bool gzip = false;                  // the full answer came gzip-encoded
  std::string reason;                 // why resuming does not work, when it does not
};

ResumeCheck check_resume(const std::string& url);

// One line for a person: "resume supported|not supported (...), size N bytes, gzip yes|no".
std::string describe(const ResumeCheck& check);

// Prints the line to `out`; the exit status is 0 only when resuming works.
int run_check_resume(const std::string& url, std::ostream& out);

}  // namespace ombrel::tools
