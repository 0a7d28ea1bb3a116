#pragma once
// Owners for the GDI, USER and COM objects of the window: each gives its object back exactly
// once, when it goes out of use.
#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace ombrel::win32 {

// One owner for the window's USER and GDI handles: Traits::close gives the object back exactly
// once, when the owner is reset or destroyed. A borrowed handle (a shared system icon) is held
// the same way but never closed.
template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle, bool owned = true) : handle_(handle), owned_(owned) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)), owned_(other.owned_) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
      owned_ = other.owned_;
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  bool owned() const { return owned_; }
  void reset() {
    if (handle_ != nullptr && owned_) Traits::close(handle_);
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
  bool owned_ = true;
};

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
