#include "platform/win32/unique_handle.h"

#include <windows.h>

namespace ombrel::win32 {

void KernelHandleTraits::close(void* handle) { CloseHandle(handle); }

}  // namespace ombrel::win32
