#include "platform/fatal.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace ombrel::platform {

void fatal_stop(std::string_view diagnostic) {
  std::string line(diagnostic);
  line += '\n';
  // write(2) rather than stdio: nothing may be buffered when _Exit skips the flush.
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written <= 0) break;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  std::_Exit(kFatalExitStatus);
}

}  // namespace ombrel::platform
