#pragma once
// A string shown between double quotes inside a message, as a type error names a string it did
// not expect (string "abc"): quotes, backslashes and the characters that would not show or would
// merge with their neighbour (debug_escape_tables.inc) are escaped, so the text reads unambiguously.
#include <string>
#include <string_view>

namespace ombrel {

// `text` is UTF-8. \t \r \n \0 \\ \" get a backslash; other control, unassigned, private-use,
// format and separator characters (except the blank) and grapheme extenders become \u{hex}.
std::string debug_quoted(std::string_view text);

// `text` (UTF-8) with the same characters escaped, except the backslash and the double quote: for
// a text from outside shown on a line of its own, so it can neither break the line nor turn its
// reading direction (U+202E), while a Windows path still reads as one.
std::string printable_text(std::string_view text);

}  // namespace ombrel
