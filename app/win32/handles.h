#pragma once
// Owners for the GDI, USER and COM objects of the window: each releases its object exactly once,
// when it goes out of use.
#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace ombrel::win32 {

// A window or control. Destroyed on release only if it still exists: a child is already gone
// once its parent was destroyed, and the user may have closed the window.
class UniqueWindow {
 public:
  UniqueWindow() = default;
  explicit UniqueWindow(HWND hwnd) : hwnd_(hwnd) {}
  UniqueWindow(UniqueWindow&& other) noexcept : hwnd_(std::exchange(other.hwnd_, nullptr)) {}
  UniqueWindow& operator=(UniqueWindow&& other) noexcept {
    if (this != &other) {
      reset();
      hwnd_ = std::exchange(other.hwnd_, nullptr);
    }
    return *this;
  }
  ~UniqueWindow() { reset(); }

  HWND get() const { return hwnd_; }
  void reset() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }

 private:
  HWND hwnd_ = nullptr;
};

// A GDI object (font, bitmap).
template <class Handle>
class UniqueGdiObject {
 public:
  UniqueGdiObject() = default;
  explicit UniqueGdiObject(Handle handle) : handle_(handle) {}
  UniqueGdiObject(UniqueGdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~UniqueGdiObject() { reset(); }

  Handle get() const { return handle_; }
  void reset() {
    if (handle_ != nullptr) DeleteObject(handle_);
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
};

using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;

// An icon that is either ours (destroyed on release) or a shared system icon (never destroyed).
class UniqueIcon {
 public:
  UniqueIcon() = default;
  UniqueIcon(HICON icon, bool shared) : icon_(icon), shared_(shared) {}
  UniqueIcon(UniqueIcon&& other) noexcept
      : icon_(std::exchange(other.icon_, nullptr)), shared_(other.shared_) {}
  UniqueIcon& operator=(UniqueIcon&& other) noexcept {
    if (this != &other) {
      reset();
      icon_ = std::exchange(other.icon_, nullptr);
      shared_ = other.shared_;
    }
    return *this;
  }
  ~UniqueIcon() { reset(); }

  HICON get() const { return icon_; }
  bool shared() const { return shared_; }
  void reset() {
    if (icon_ != nullptr && !shared_) DestroyIcon(icon_);
    icon_ = nullptr;
  }

 private:
  HICON icon_ = nullptr;
  bool shared_ = false;
};

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
