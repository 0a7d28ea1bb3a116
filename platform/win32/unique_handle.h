#pragma once
// One owner for every kind of Windows handle. Free of <windows.h>, so a portable header can hold
// one in its Windows branch.
#include <cstdint>
#include <utility>

namespace ombrel::win32 {

// Traits::close gives the object back exactly once, when the owner is reset or destroyed. A
// borrowed handle (a shared system icon) is held the same way but never closed. The empty value
// is nullptr unless Traits::empty() names another (INVALID_HANDLE_VALUE for files).
template <class Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle, bool owned = true) : handle_(handle), owned_(owned) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, empty())), owned_(other.owned_) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, empty());
      owned_ = other.owned_;
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  bool owned() const { return owned_; }
  explicit operator bool() const { return handle_ != empty(); }
  void reset() {
    if (handle_ != empty() && owned_) Traits::close(handle_);
    handle_ = empty();
  }

 private:
  static Handle empty() {
    if constexpr (requires { Traits::empty(); }) {
      return Traits::empty();
    } else {
      return nullptr;
    }
  }

  Handle handle_ = empty();
  bool owned_ = true;
};

// A kernel object (process, file mapping) as HANDLE: nullptr when there is none.
struct KernelHandleTraits {
  using Handle = void*;
  static void close(void* handle);
};

// A file as CreateFileW gives it: INVALID_HANDLE_VALUE when there is none.
struct FileHandleTraits {
  using Handle = void*;
  static void close(void* handle) { KernelHandleTraits::close(handle); }
  static void* empty() { return reinterpret_cast<void*>(static_cast<std::intptr_t>(-1)); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

}  // namespace ombrel::win32
