#pragma once
// One owner for every kind of system handle, and the file handle both back ends share. Free of
// system headers, so any portable header can hold one.
#include <cstdint>
#include <utility>

namespace ombrel::platform {

// Traits::close gives the object back exactly once, when the owner is reset or destroyed. A
// borrowed handle (a shared system icon) is held the same way but never closed. The empty value
// is Handle{} unless Traits::empty() names another (INVALID_HANDLE_VALUE, -1 for descriptors).
template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle, bool owned = true) : handle_(handle), owned_(owned) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()), owned_(other.owned_) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
      owned_ = other.owned_;
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  bool owned() const { return owned_; }
  explicit operator bool() const { return handle_ != empty(); }
  void reset() {
    const Handle handle = release();
    if (handle != empty() && owned_) Traits::close(handle);
  }
  // Lets go without closing: the caller (or the system, for a handle handed over) closes it.
  Handle release() { return std::exchange(handle_, empty()); }
  // For the out-parameter of a creating call: what was held is closed first.
  Handle* put() {
    reset();
    owned_ = true;
    return &handle_;
  }

 private:
  static Handle empty() {
    if constexpr (requires { Traits::empty(); }) {
      return Traits::empty();
    } else {
      return Handle{};
    }
  }

  Handle handle_ = empty();
  bool owned_ = true;
};

// An open file: a HANDLE from CreateFileW on Windows, a descriptor elsewhere.
struct FileHandleTraits {
#ifdef _WIN32
  using Handle = void*;
  static Handle empty() { return reinterpret_cast<Handle>(std::intptr_t{-1}); }  // INVALID_HANDLE_VALUE
#else
  using Handle = int;
  static Handle empty() { return -1; }
#endif
  static void close(Handle handle);
};

using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

}  // namespace ombrel::platform
