#pragma once
// UTF-8 inside the program, UTF-16 only at a Windows call: the one conversion helper of the
// Windows back end. Unpaired surrogates coming back from Windows become U+FFFD.
#include <string>
#include <string_view>

namespace ombrel::win32 {

// UTF-8 to UTF-16 (NUL-terminated through std::wstring::c_str()). Invalid UTF-8 becomes U+FFFD.
std::wstring to_wide(std::string_view utf8);

// UTF-16 to UTF-8, replacing every unpaired surrogate with U+FFFD.
std::string from_wide(std::wstring_view utf16);

}  // namespace ombrel::win32
