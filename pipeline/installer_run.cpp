#include "pipeline/installer_run.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "pipeline/file_faults.h"
#include "platform/process.h"
#include "platform/system_codes.h"

namespace ombrel {
namespace {

constexpr std::chrono::milliseconds kPollInterval{1000};
constexpr std::array<std::string_view, 2> kSilentArguments = {"/S", "--currentuser"};

Unexpected<PipelineError> launch_failure(std::uint32_t code) {
  if (code == platform::codes::kCancelled) return step_failure(FailureReason::kInstallCancelled, code);
  if (code == platform::codes::kNotTheHeldFile) return step_failure(FailureReason::kInstallerHold, code);
  return step_failure(is_removed_or_blocked(code) ? FailureReason::kInstallerBlocked : FailureReason::kInstallerLaunch,
                      code);
}

// `hold`, when there is one, stays until this returns: a self-extracting installer opens its own
// file again by path to unpack, and must find there what was checked.
StepResult<Done> run(const std::string& path, const platform::HeldFile* hold, StageReporter& reporter,
                     const InstallerRunOptions& options) {
  reporter.send_stage(Installing{});

  Expected<platform::ChildProcess, std::uint32_t> started =
      retry_while_held<platform::ChildProcess>(path, FileRole::kInstaller, options.hold_wait, [&] {
        return hold != nullptr ? platform::start_held_process(*hold, kSilentArguments)
                               : platform::start_process(path, kSilentArguments);
      });
  if (!started) return launch_failure(started.error());
  platform::ChildProcess& installer = started.value();

  const auto start = options.now();
  while (!installer.wait_for_exit(kPollInterval)) {
    // Whole seconds only: the limit is reached at the first poll at or after it.
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(options.now() - start);
    if (elapsed >= options.time_limit) {
      // The installer may be mid-way through its work; it is left to finish on its own.
      installer.reset();
      // The text counts whole minutes; a shorter limit (a test's) reads as one.
      return step_failure(FailureReason::kInstallTimeout,
                          static_cast<std::uint32_t>((options.time_limit.count() + 59) / 60));
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

StepResult<Done> run_installer(platform::HeldFile installer, StageReporter& reporter,
                               const InstallerRunOptions& options) {
  return run(installer.path(), &installer, reporter, options);
}

}  // namespace ombrel
