#pragma once
// The process-wide parts of the GUI: common controls, the window class, the default font.
#include <windows.h>

#include <cstdint>

#include "app/win32/handles.h"

namespace ombrel::win32 {

// Class of the installer's top-level window (also how test tools find it). The name is the one
// the window has always had, after a GUI toolkit this code does not use, so that automation and
// assistive tools set up for the window keep finding it.
inline constexpr wchar_t kWindowClassName[] = L"NativeWindowsGuiWindow";

// Registers the progress bar class (and the standard ones) of common controls. comctl32 is
// loaded at run time from the system folder (the manifest's activation context picks
// version 6), so no copy beside the executable can stand in for it. False when it fails.
bool initialize_common_controls();

// Registers kWindowClassName with `procedure`; true also when it already exists.
bool register_window_class(WNDPROC procedure);

// The default font of every control: "Segoe UI" at a cell height of `height` pixels.
UniqueFont create_default_font(std::uint32_t height);

}  // namespace ombrel::win32
