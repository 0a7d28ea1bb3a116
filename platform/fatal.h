#pragma once
// The end of the process after a failure of the program's own set-up (GUI toolkit, window,
// thread creation): nothing is shown, one line goes to the standard error stream.
#include <string_view>

#include "platform/exit_status.h"

namespace ombrel::platform {

// Writes `diagnostic` and a line break to standard error and ends the process at once with
// kFatalExitStatus, running no destructors and no exit handlers.
[[noreturn]] void fatal_stop(std::string_view diagnostic);

}  // namespace ombrel::platform
