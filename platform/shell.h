#pragma once
// Starts an installed application the way the user's shell would, without waiting for it.
#include <string_view>

namespace ombrel::platform {

// Opens `path` with no arguments and no working directory, showing no error UI of its own.
// Whether the start worked is not reported: the caller has nothing to do about it.
// Windows: ShellExecuteExW "open". Elsewhere: a detached child process.
void launch_app(std::string_view path);

}  // namespace ombrel::platform
