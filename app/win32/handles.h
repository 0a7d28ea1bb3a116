#pragma once
// Owners for the GDI, USER and COM objects of the window: each gives its object back exactly
// once, when it goes out of use (UniqueHandle with the traits of each kind).
#include <windows.h>
#include <unknwn.h>

#include "platform/win32/unique_handle.h"

namespace ombrel::win32 {

// A window or control. Destroyed only if it still exists: a child is already gone once its
// parent was destroyed, and the user may have closed the window.
struct WindowTraits {
  using Handle = HWND;
  static void close(HWND hwnd) {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
  }
};

// A GDI object (font, bitmap).
template <class GdiHandle>
struct GdiObjectTraits {
  using Handle = GdiHandle;
  static void close(GdiHandle handle) { DeleteObject(handle); }
};

struct IconTraits {
  using Handle = HICON;
  static void close(HICON icon) { DestroyIcon(icon); }
};

using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
// Either ours, or a shared system icon held with owned = false.
using UniqueIcon = UniqueHandle<IconTraits>;

// A window's timer, stopped when closed.
struct TimerTraits {
  struct Handle {
    HWND window = nullptr;
    UINT_PTR id = 0;
    bool operator==(const Handle&) const = default;
  };
  static void close(Handle timer) { KillTimer(timer.window, timer.id); }
};

template <class Interface>
struct ComTraits {
  using Handle = Interface*;
  static void close(Interface* ptr) { ptr->Release(); }
};

// A COM interface reference.
template <class Interface>
class ComRef : public UniqueHandle<ComTraits<Interface>> {
 public:
  Interface* operator->() const { return this->get(); }
  void** put_void() { return reinterpret_cast<void**>(this->put()); }
};

}  // namespace ombrel::win32
