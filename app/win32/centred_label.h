#pragma once
// Static text controls centre their text horizontally only. This makes a label centre it
// vertically too, also when it wraps onto several lines.
#include <windows.h>

namespace ombrel::win32 {

// Subclasses `label` so its client area is shrunk to the height of its wrapped text and placed
// in the middle of the control; the margins above and below are painted with the parent's
// static-control background. The window rectangle of the control does not change.
void centre_text_vertically(HWND label);

}  // namespace ombrel::win32
