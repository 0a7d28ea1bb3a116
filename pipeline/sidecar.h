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

// The validators to keep after an answer carrying these ETag and Last-Modified headers. An
// answer with the whole file (any status but 206) replaces both, "" where its header is missing,
// empty or unusable in a request: a value kept from the previous version would later confirm a
// resume of the previous version onto this one's bytes. A 206 continues the stored version, so
// a header it leaves out keeps the stored value.
Validators next_validators(const Validators& stored, bool partial, std::optional<std::string_view> etag,
                           std::optional<std::string_view> last_modified);

// The If-Range value that resumes a file with these validators: the ETag unless it is weak (a
// weak one never matches a range request), else the date; nothing when neither can.
std::optional<std::string> if_range_value(const Validators& validators);

// True when a 206 answer to a resume asked with `stored` names another version: the header of
// the kind that went into If-Range is present and differs from it. A server that honours Range
// but ignores If-Range answers like this after the file has changed.
bool contradicts_if_range(const Validators& stored, std::optional<std::string_view> etag,
                          std::optional<std::string_view> last_modified);

}  // namespace ombrel
