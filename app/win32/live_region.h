#pragma once
// The status label as a UI Automation live region, so screen readers read its new text without
// the user moving the focus there.
#include <windows.h>

namespace ombrel::win32 {

// Marks `label` as a polite live region (COM must be initialised on this thread). False when
// the system cannot (older Windows, Wine): the label then works as a plain label.
bool make_polite_live_region(HWND label);

// Tells screen readers that the live region's text changed and should be read.
void announce_live_region(HWND label);

}  // namespace ombrel::win32
