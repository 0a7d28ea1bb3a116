#include "platform/fatal.h"

#include <windows.h>

#include <string>

namespace ombrel::platform {

void fatal_stop(std::string_view diagnostic) {
  std::string line(diagnostic);
  line += '\n';
  // A GUI process usually has no standard error; when a parent gave it one (a console, a
  // pipe) the text lands there. The C runtime's stderr may not be set up in a GUI process,
  // so the handle is written directly.
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  // Ends every thread at once; no C runtime exit handlers run.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(kFatalExitStatus));
  ExitProcess(static_cast<UINT>(kFatalExitStatus));  // not reached; tells the compiler so
}

}  // namespace ombrel::platform
