#pragma once
// Text onto the Windows clipboard.
#include <windows.h>

#include <string_view>

namespace ombrel::win32 {

// Replaces the clipboard's contents with `text` (UTF-8) as Unicode text, owned by `owner`.
// False when another program holds the clipboard open or memory is short; the clipboard is
// then left as it was or empty.
bool put_on_clipboard(HWND owner, std::string_view text);

}  // namespace ombrel::win32
