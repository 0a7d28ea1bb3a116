#pragma once
// Reading the head of an HTTP answer (status line, lengths, ranges) and the one rule for which
// text may go into a request header. Everything here sees bytes from the network: each parser
// gives nothing or 0 rather than a guess.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace ombrel {

// Status code of an "HTTP/1.1 200 OK" line, 0 when the line has none.
int parse_status_line(std::string_view line);

// `text` without leading and trailing spaces, tabs and line ends.
std::string_view trim_header_space(std::string_view text);

// Name and value of a header line "Name: value", both without surrounding blanks and line ends;
// nothing for a line without a colon.
std::optional<std::pair<std::string_view, std::string_view>> parse_header_field(std::string_view line);

// Plain ASCII digits only: no sign, space or other character; nothing when empty or on overflow.
std::optional<std::uint64_t> parse_decimal(std::string_view digits);

// Content-Length as an unsigned decimal with an optional leading "+"; 0 when missing, when any
// other character appears, or on overflow.
std::uint64_t parse_content_length(std::optional<std::string_view> header);

// A Content-Range answer header "bytes FIRST-LAST/COMPLETE" (COMPLETE may be "*").
struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::optional<std::uint64_t> complete;
};
std::optional<ContentRange> parse_content_range(std::string_view header);

// True when `value` can go into a request header unchanged: no control character but tab.
// A line break would let a value from outside (a stored ETag, say) smuggle in extra headers.
bool is_header_safe(std::string_view value);

}  // namespace ombrel
