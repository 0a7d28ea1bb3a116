#pragma once
// Starting a child program and waiting for its end, with the handle owned by one object.
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/expected.h"
#include "platform/held_file.h"
#ifdef _WIN32
#include "platform/win32/unique_handle.h"
#else
#include "platform/unique_handle.h"
#endif

namespace ombrel::platform {

#ifndef _WIN32
// A child as POSIX knows it: its pid and a pidfd to wait on (-1 when the kernel has none:
// waiting then polls). Closing lets go of the pidfd; the child is not reaped.
struct PosixChildTraits {
  struct Handle {
    int pid = -1;
    int pidfd = -1;
    bool operator==(const Handle&) const = default;
  };
  static void close(Handle child);
};
#endif

// A started child process. Dropping it closes our handle; the child itself keeps running.
class ChildProcess {
 public:
  ChildProcess() = default;

  // Waits at most `timeout` for the child to end: true once it has ended. A failed wait
  // counts as "not yet" so the caller's own time limit still applies.
  bool wait_for_exit(std::chrono::milliseconds timeout);

  // The exit code after wait_for_exit gave true; 0 when the system cannot say. Off Windows a
  // child killed by a signal reports 128 + the signal number.
  std::uint32_t exit_code();

  // Lets go of the child without waiting for it (the handle is closed, the child runs on).
  void reset() { child_.reset(); }

  explicit operator bool() const { return static_cast<bool>(child_); }

 private:
  friend Expected<ChildProcess, std::uint32_t> start_process(std::string_view, std::span<const std::string_view>);
  friend Expected<ChildProcess, std::uint32_t> start_held_process(const HeldFile&, std::span<const std::string_view>);
#ifdef _WIN32
  explicit ChildProcess(void* process) : child_(process) {}
  win32::UniqueKernelHandle child_;
#else
  explicit ChildProcess(PosixChildTraits::Handle child) : child_(child) {}
  UniqueHandle<PosixChildTraits> child_;
  int status_ = 0;  // raw waitpid status once reaped
  bool reaped_ = false;
#endif
};

// Starts `path` with `arguments`. Windows: CreateProcessW of the command line
// "\"<path>\" arg1 arg2…" (the arguments are appended as they are, so they must not need
// quoting), inheriting no handles, with this process's environment and current directory.
// Elsewhere: posix_spawn with argv {path, arguments…}.
// On failure: the system error code (Windows: GetLastError; elsewhere the errno as
// platform/system_codes.h numbers it, e.g. ENOENT -> 2, EACCES -> 5, ETXTBSY -> 32).
Expected<ChildProcess, std::uint32_t> start_process(std::string_view path, std::span<const std::string_view> arguments);

// Starts the held file `image` as start_process does, from where the system finds it now (a
// folder above it may have been renamed since it was opened), and lets it run only when the
// started image is that very file: same volume and file index. Windows creates it suspended
// until then; elsewhere a wrong image is killed at once. kNotTheHeldFile when another file stood
// at its path. The hold stays with the caller, who keeps it until the child has ended.
Expected<ChildProcess, std::uint32_t> start_held_process(const HeldFile& image,
                                                         std::span<const std::string_view> arguments);

}  // namespace ombrel::platform
