#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

extern char** environ;

namespace ombrel::platform {

void launch_app(std::string_view path) {
  // A short-lived shell starts the program in the background and exits, so the program is
  // re-parented to init: nothing to wait for and no zombie left behind.
  const std::string file(path);
  const char* argv[] = {"sh", "-c", "\"$0\" </dev/null >/dev/null 2>&1 &", file.c_str(), nullptr};
  pid_t shell = 0;
  if (posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return;
  while (waitpid(shell, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace ombrel::platform
