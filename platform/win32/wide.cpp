#include "platform/win32/wide.h"

#include "common/utf16.h"

namespace ombrel::win32 {

// wchar_t is a UTF-16 unit on Windows: the portable conversion does the work.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring to_wide(std::string_view utf8) {
  const std::u16string utf16 = utf8_to_utf16(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

std::string from_wide(std::wstring_view utf16) { return utf16_to_utf8(std::u16string(utf16.begin(), utf16.end())); }

}  // namespace ombrel::win32
