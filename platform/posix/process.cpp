#include "platform/process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/system_code.h"
#include "platform/system_codes.h"

extern char** environ;

namespace ombrel::platform {
namespace {

int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) return static_cast<int>(fd);
#endif
  return -1;
}

}  // namespace

void PosixChildTraits::close(Handle child) {
  if (child.pidfd >= 0) ::close(child.pidfd);
}

bool ChildProcess::wait_for_exit(std::chrono::milliseconds timeout) {
  const int pid = child_.get().pid;
  const int pidfd = child_.get().pidfd;
  if (pid <= 0) return false;
  if (reaped_) return true;
  const auto reap = [this, pid](int options) {
    int status = 0;
    pid_t result;
    do {
      result = waitpid(pid, &status, options);
    } while (result < 0 && errno == EINTR);
    if (result == pid) {
      status_ = status;
      reaped_ = true;
    }
    return reaped_;
  };
  if (reap(WNOHANG)) return true;
  if (pidfd >= 0) {
    // The pidfd turns readable when the child ends: one poll is one bounded wait.
    pollfd fd{pidfd, POLLIN, 0};
    int ready;
    do {
      ready = poll(&fd, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && reap(WNOHANG);
  }
  // No pidfd (old kernel or a sandbox): look again every few milliseconds.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (reap(WNOHANG)) return true;
  }
  return false;
}

std::uint32_t ChildProcess::exit_code() {
  if (!reaped_) return 0;
  if (WIFEXITED(status_)) return static_cast<std::uint32_t>(WEXITSTATUS(status_));
  if (WIFSIGNALED(status_)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status_));
  return 0;
}

Expected<ChildProcess, std::uint32_t> start_process(std::string_view path,
                                                    std::span<const std::string_view> arguments) {
  std::vector<std::string> strings;
  strings.reserve(arguments.size() + 1);
  strings.emplace_back(path);
  for (std::string_view argument : arguments) strings.emplace_back(argument);
  std::vector<char*> argv;
  argv.reserve(strings.size() + 1);
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int error = posix_spawn(&pid, strings.front().c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) return unexpected(system_code(error));
  return ChildProcess({pid, open_pidfd(pid)});
}

Expected<ChildProcess, std::uint32_t> start_held_process(const HeldFile& image,
                                                         std::span<const std::string_view> arguments) {
  const Expected<std::string, std::uint32_t> path = image.current_path();
  if (!path) return unexpected(path.error());
  // posix_spawn returns once the child has replaced its image, so /proc names the new one.
  Expected<ChildProcess, std::uint32_t> started = start_process(*path, arguments);
  if (!started) return started;
  const int pid = started->child_.get().pid;
  struct stat held {};
  struct stat running {};
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  if (::fstat(image.native_handle(), &held) != 0 || ::stat(exe.c_str(), &running) != 0 ||
      held.st_dev != running.st_dev || held.st_ino != running.st_ino) {
    ::kill(pid, SIGKILL);
    started->wait_for_exit(std::chrono::seconds(5));
    return unexpected(codes::kNotTheHeldFile);
  }
  return started;
}

}  // namespace ombrel::platform
