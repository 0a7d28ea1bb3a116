#include "app/win32/gui_toolkit.h"

#include <commctrl.h>

#include <climits>

namespace ombrel::win32 {

bool initialize_common_controls() {
  // Loaded once and kept: the classes it registers live in this module.
  static HMODULE comctl32 = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (comctl32 == nullptr) return false;
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(comctl32, "InitCommonControlsEx")));
  if (init == nullptr) return false;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  return init(&controls) != FALSE;
}

bool register_window_class(WNDPROC procedure) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
  window_class.lpszClassName = kWindowClassName;
  if (RegisterClassExW(&window_class) != 0) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

UniqueFont create_default_font(std::uint32_t height) {
  // CreateFontW reads a negative height as a character height: keep the cell height positive.
  const int cell_height = height > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(height);
  return UniqueFont(CreateFontW(cell_height, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH, L"Segoe UI"));
}

}  // namespace ombrel::win32
