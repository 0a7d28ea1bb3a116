#pragma once
// The small file beside a partial download that keeps the server's validators, so a later
// attempt or run can ask for the rest with If-Range and get it only if the file is unchanged.
// Two UTF-8 lines joined by one line feed, no final line feed: the ETag, then Last-Modified,
// each exactly as the server sent it; an unknown validator is an empty line.
#include <optional>
#include <string>
#include <string_view>

namespace ombrel {

struct Validators {
  std::string etag;
  std::string last_modified;

  bool empty() const { return etag.empty() && last_modified.empty(); }
  bool operator==(const Validators&) const = default;
};

// The sidecar beside `installer_path`: its ".exe" replaced by ".meta" (appended when the path
// has no ".exe" ending).
std::string sidecar_path(std::string_view installer_path);

std::string format_sidecar(const Validators& validators);

// Reads sidecar text back. Lines end at line feeds, a carriage return just before a line feed is
// dropped, missing lines are empty and lines after the second are ignored. Nothing when the text
// is not valid UTF-8, or when a line holds a control character: no server header carries one,
// and sending it back in If-Range would make every resume request malformed.
std::optional<Validators> parse_sidecar(std::string_view text);

}  // namespace ombrel
