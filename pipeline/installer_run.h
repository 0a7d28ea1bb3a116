#pragma once
// Runs the downloaded installer silently for the current user and waits for it, at most
// 30 minutes, telling each way it can go wrong apart.
#include <chrono>
#include <functional>
#include <string>

#include "common/expected.h"
#include "pipeline/file_faults.h"
#include "pipeline/pipeline_error.h"
#include "pipeline/stage_reporter.h"
#include "platform/held_file.h"

namespace ombrel {

struct InstallerRunOptions {
  // Monotonic "now" and the time limit; tests replace them to cover the limit without waiting.
  std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };
  std::chrono::seconds time_limit{1800};
  // How long another program's hold on the installer file is waited out before the start fails.
  HoldWait hold_wait;
};

// Sends Installing, starts `"<path>" /S --currentuser`, and polls once a second until the
// installer ends or `time_limit` whole seconds have passed (the installer is then left
// running). Success means exit code 0; failures are kInstallCancelled, kInstallerBlocked (gone
// or refused as infected) and kInstallerLaunch (with the system error; a start refused while
// another program holds the file is retried first), kInstallTimeout and kInstallerExit (with
// the exit code).
StepResult<Done> run_installer(const std::string& path, StageReporter& reporter,
                               const InstallerRunOptions& options = {});

// The same for a checked, held installer: it is started from where the held file is now, runs
// only when its image is that file (kInstallerHold otherwise), and the hold lasts until the
// installer has ended or the time limit ends the wait, so what runs, and what it reads of its
// own file, is what was checked.
StepResult<Done> run_installer(platform::HeldFile installer, StageReporter& reporter,
                               const InstallerRunOptions& options = {});

}  // namespace ombrel
