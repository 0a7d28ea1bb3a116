#include "tests/support/test_child.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace ombrel::test {
namespace {

std::filesystem::path own_executable() {
#ifdef _WIN32
  std::wstring buffer(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(length);
  return std::filesystem::path(buffer);
#else
  return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

}  // namespace

std::string test_child_path() {
  std::filesystem::path child = own_executable().parent_path() / "ombrel_test_child";
#ifdef _WIN32
  child += ".exe";
#endif
  return native_utf8(child.make_preferred());
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
#ifdef _WIN32
  // Both the CRT copy and the process environment that CreateProcessW hands down.
  _putenv_s(name_.c_str(), value.c_str());
  SetEnvironmentVariableW(win32::to_wide(name_).c_str(), win32::to_wide(value).c_str());
#else
  setenv(name_.c_str(), value.c_str(), 1);
#endif
}

ScopedEnv::~ScopedEnv() {
#ifdef _WIN32
  _putenv_s(name_.c_str(), old_ ? old_->c_str() : "");
  SetEnvironmentVariableW(win32::to_wide(name_).c_str(), old_ ? win32::to_wide(*old_).c_str() : nullptr);
#else
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
#endif
}

std::optional<ChildRecord> read_child_record(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  ChildRecord record;
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("pid=", 0) == 0) record.pid = std::strtol(line.c_str() + 4, nullptr, 10);
    if (line.rfind("cmdline=", 0) == 0) record.command_line = line.substr(8);
    if (line.rfind("arg=", 0) == 0) record.arguments.push_back(line.substr(4));
  }
  return record;
}

std::optional<ChildRecord> await_child_record(const std::filesystem::path& path, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(path)) return read_child_record(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

bool child_running(long pid) {
#ifdef _WIN32
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
#else
  // Still our child: a finished one would be reaped here and report false.
  return waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == 0;
#endif
}

void kill_child(long pid) {
#ifdef _WIN32
  if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid))) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
#else
  kill(static_cast<pid_t>(pid), SIGKILL);
  waitpid(static_cast<pid_t>(pid), nullptr, 0);
#endif
}

std::optional<long> start_file_holder(const std::filesystem::path& file, std::chrono::milliseconds duration,
                                      const std::filesystem::path& record) {
  {
    const ScopedEnv hold("OMBREL_TEST_CHILD_HOLD", native_utf8(file));
    const ScopedEnv sleep("OMBREL_TEST_CHILD_SLEEP_MS", std::to_string(duration.count()));
    const ScopedEnv told("OMBREL_TEST_CHILD_RECORD", native_utf8(record));
    auto holder = platform::start_process(test_child_path(), {});
    if (!holder) return std::nullopt;
  }
  const std::optional<ChildRecord> started = await_child_record(record);
  if (!started) return std::nullopt;
  return started->pid;
}

}  // namespace ombrel::test
