#include "platform/architecture.h"

#include <windows.h>

namespace ombrel::platform {
namespace {

// IsWow64Process2 exists from Windows 10 1709 on; the program must still start on 1607.
using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE process, USHORT* process_machine, USHORT* native_machine);

std::string_view probe() {
  if (HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll")) {
    const auto is_wow64_process2 =
        reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void*>(GetProcAddress(kernel32, "IsWow64Process2")));
    if (is_wow64_process2 != nullptr) {
      USHORT process_machine = 0;
      USHORT native_machine = 0;
      // The pseudo-handle of GetCurrentProcess needs no closing.
      if (is_wow64_process2(GetCurrentProcess(), &process_machine, &native_machine)) {
        return architecture_from_image_machine(native_machine);
      }
    }
  }
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return architecture_from_processor_architecture(info.wProcessorArchitecture);
}

}  // namespace

std::string_view detect_architecture() {
  // A function-local static is initialised once, thread-safely.
  static const std::string_view tag = probe();
  return tag;
}

}  // namespace ombrel::platform
