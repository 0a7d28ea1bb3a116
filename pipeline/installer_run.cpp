#include "pipeline/installer_run.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/process.h"

namespace ombrel {
namespace {

constexpr std::uint32_t kErrorCancelled = 1223;  // ERROR_CANCELLED: the user refused the start
constexpr std::chrono::milliseconds kPollInterval{1000};
constexpr std::array<std::string_view, 2> kSilentArguments = {"/S", "--currentuser"};

StepResult<Done> run(const std::string& path, platform::LockedFile* hold, StageReporter& reporter,
                     const InstallerRunOptions& options) {
  reporter.send_stage(Installing{});

  Expected<platform::ChildProcess, std::uint32_t> started = platform::start_process(path, kSilentArguments);
  // The child's image is mapped now: the file may change again without touching what runs.
  if (hold != nullptr) hold->reset();
  if (!started) {
    const std::uint32_t error = started.error();
    return step_failure(error == kErrorCancelled ? FailureReason::kInstallCancelled : FailureReason::kInstallerLaunch,
                        error);
  }
  platform::ChildProcess& installer = started.value();

  const auto start = options.now();
  while (!installer.wait_for_exit(kPollInterval)) {
    // Whole seconds only: the limit is reached at the first poll at or after it.
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(options.now() - start);
    if (elapsed >= options.time_limit) {
      // The installer may be mid-way through its work; it is left to finish on its own.
      installer.reset();
      return step_failure(FailureReason::kInstallTimeout, static_cast<std::uint32_t>(options.time_limit.count() / 60));
    }
  }

  const std::uint32_t exit_code = installer.exit_code();
  installer.reset();
  if (exit_code != 0) return step_failure(FailureReason::kInstallerExit, exit_code);
  return Done{};
}

}  // namespace

StepResult<Done> run_installer(const std::string& path, StageReporter& reporter, const InstallerRunOptions& options) {
  return run(path, nullptr, reporter, options);
}

StepResult<Done> run_installer(platform::LockedFile installer, StageReporter& reporter,
                               const InstallerRunOptions& options) {
  const std::string path = installer.path();
  return run(path, &installer, reporter, options);
}

}  // namespace ombrel
