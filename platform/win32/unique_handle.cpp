#include "platform/win32/unique_handle.h"

#include <windows.h>

namespace ombrel {

void win32::KernelHandleTraits::close(void* handle) { CloseHandle(handle); }
void platform::FileHandleTraits::close(void* handle) { CloseHandle(handle); }

}  // namespace ombrel
