#include "platform/process.h"

#include <windows.h>

#include <string>

#include "platform/system_codes.h"
#include "platform/win32/unique_handle.h"
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

namespace {

// CreateProcessW of "\"<path>\" arg1 arg2…", inheriting no handles; `flags` as CreateProcessW's.
Expected<PROCESS_INFORMATION, std::uint32_t> create_process(std::string_view path,
                                                            std::span<const std::string_view> arguments, DWORD flags) {
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
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &info)) {
    return unexpected(static_cast<std::uint32_t>(GetLastError()));
  }
  return info;
}

bool same_file(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return GetFileInformationByHandle(a, &first) != 0 && GetFileInformationByHandle(b, &second) != 0 &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// Whether the image the suspended `process` was made from is the file behind `held`.
bool runs_image(HANDLE process, HANDLE held) {
  std::wstring image(32768, L'\0');
  DWORD size = static_cast<DWORD>(image.size());
  if (QueryFullProcessImageNameW(process, 0, image.data(), &size) == 0) return false;
  image.resize(size);
  const UniqueFileHandle file(CreateFileW(image.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  return file && same_file(file.get(), held);
}

}  // namespace

Expected<ChildProcess, std::uint32_t> start_process(std::string_view path,
                                                    std::span<const std::string_view> arguments) {
  Expected<PROCESS_INFORMATION, std::uint32_t> started = create_process(path, arguments, 0);
  if (!started) return unexpected(started.error());
  CloseHandle(started->hThread);
  return ChildProcess(started->hProcess);
}

Expected<ChildProcess, std::uint32_t> start_held_process(const HeldFile& image,
                                                         std::span<const std::string_view> arguments) {
  const Expected<std::string, std::uint32_t> path = image.current_path();
  if (!path) return unexpected(path.error());
  Expected<PROCESS_INFORMATION, std::uint32_t> started = create_process(*path, arguments, CREATE_SUSPENDED);
  if (!started) return unexpected(started.error());
  ChildProcess child(started->hProcess);
  const win32::UniqueKernelHandle thread(started->hThread);
  if (!runs_image(started->hProcess, image.native_handle())) {
    // Another file stood at the path the system gave: it never ran a single instruction.
    TerminateProcess(started->hProcess, platform::codes::kNotTheHeldFile);
    return unexpected(platform::codes::kNotTheHeldFile);
  }
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    const auto error = static_cast<std::uint32_t>(GetLastError());
    TerminateProcess(started->hProcess, error);
    return unexpected(error);
  }
  return child;
}

}  // namespace ombrel::platform
