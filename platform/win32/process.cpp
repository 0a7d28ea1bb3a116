#include "platform/process.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

namespace ombrel::platform {

bool ChildProcess::wait_for_exit(std::chrono::milliseconds timeout) {
  if (!child_) return false;
  return WaitForSingleObject(child_.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

std::uint32_t ChildProcess::exit_code() {
  DWORD code = 0;  // stays 0 when the query fails
  if (child_) GetExitCodeProcess(child_.get(), &code);
  return code;
}

Expected<ChildProcess, std::uint32_t> start_process(std::string_view path,
                                                    std::span<const std::string_view> arguments) {
  // The quotes keep a path with blanks one token; lpApplicationName stays NULL so the system
  // takes the program from this first token.
  std::string command_line = "\"";
  command_line.append(path);
  command_line.push_back('"');
  for (std::string_view argument : arguments) {
    command_line.push_back(' ');
    command_line.append(argument);
  }
  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  std::wstring buffer = win32::to_wide(command_line);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return unexpected(static_cast<std::uint32_t>(GetLastError()));
  }
  CloseHandle(info.hThread);
  return ChildProcess(info.hProcess);
}

}  // namespace ombrel::platform
