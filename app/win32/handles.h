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

// A COM interface reference.
template <class Interface>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (ptr_ != nullptr) ptr_->Release();
  }

  Interface* get() const { return ptr_; }
  Interface* operator->() const { return ptr_; }
  // For the out-parameter of a creating call; the reference must be empty.
  Interface** put() { return &ptr_; }
  void** put_void() { return reinterpret_cast<void**>(&ptr_); }

 private:
  Interface* ptr_ = nullptr;
};

}  // namespace ombrel::win32
