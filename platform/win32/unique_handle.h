#pragma once
// The Windows kernel objects held by UniqueHandle. Free of <windows.h>, so a portable header can
// hold one in its Windows branch.
#include "platform/unique_handle.h"

namespace ombrel::win32 {

using platform::UniqueHandle;

// A kernel object (process, file mapping) as HANDLE: nullptr when there is none.
struct KernelHandleTraits {
  using Handle = void*;
  static void close(void* handle);
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

}  // namespace ombrel::win32
