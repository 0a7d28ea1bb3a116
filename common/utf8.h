#pragma once
// UTF-8 checks and the lossy decoding applied to bytes that arrive from the network.
#include <string>
#include <string_view>

namespace ombrel {

// The bytes as UTF-8 text with every invalid sequence replaced by U+FFFD: one replacement per
// maximal subpart of an ill-formed sequence (the Unicode Standard's recommended practice).
// Valid input comes back unchanged.
std::string utf8_lossy(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (no surrogates, no overlongs, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// Appends the UTF-8 form of a Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);

}  // namespace ombrel
