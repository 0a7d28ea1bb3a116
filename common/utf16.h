#pragma once
// Portable UTF-16 <-> UTF-8 conversion for code that handles Windows text as data (registry
// values, paths) and must also run natively in tests, where wchar_t is not 16 bits wide.
#include <string>
#include <string_view>

namespace ombrel {

// UTF-16 to UTF-8; every unpaired surrogate becomes U+FFFD. Embedded NUL units are kept.
std::string utf16_to_utf8(std::u16string_view utf16);

// UTF-8 to UTF-16; every invalid sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);

}  // namespace ombrel
