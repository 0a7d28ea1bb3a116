#pragma once
// Downloads the installer into the temporary folder, resuming a partial file left by an earlier
// attempt or run when the server confirms, through If-Range, that the file is unchanged.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "pipeline/file_faults.h"
#include "pipeline/pipeline_error.h"
#include "pipeline/run_record.h"
#include "pipeline/sidecar.h"
#include "pipeline/stage_reporter.h"

namespace ombrel {

// The largest installer accepted: far above any we ship, and what a 32-bit length could announce.
inline constexpr std::uint64_t kInstallerSizeCeiling = std::uint64_t{4} << 30;  // 4 GiB

// What one call knows about the partial download between its attempts.
struct ResumeState {
  std::uint64_t offset = 0;  // bytes already in the installer file; the next range starts here
  Validators validators;     // of the server's last answer; both empty when unknown
};

struct DownloadOptions {
  // Folder for the installer and its sidecar; the system's temporary folder when empty.
  std::string folder;
  // Waits between attempts: the first, doubled before every further attempt (1, 2, 4, 8 s).
  std::chrono::milliseconds first_pause{1000};
  // Waits out each pause. Unset: the calling thread really sleeps.
  std::function<void(std::chrono::milliseconds)> pause;
  // Longest wait for the next bytes of an answer before the attempt fails.
  std::chrono::milliseconds read_timeout{std::chrono::seconds(30)};
  // Largest installer accepted: an answer announcing a larger file fails before its first byte,
  // one without a length when it brings more, so a faulty or hostile host cannot fill the disk
  // through the temporary folder.
  std::uint64_t body_ceiling = kInstallerSizeCeiling;
  // The clock that spaces progress reports. Unset: std::chrono::steady_clock.
  std::function<std::chrono::steady_clock::time_point()> clock;
  // How long another program's hold on the partial file or the sidecar is waited out.
  HoldWait hold_wait;
};

// Downloads `url` with up to five attempts and gives the installer's path, or the last
// attempt's failure (kTempFolder before any, when the folder is not named or cannot be
// created). A full disk (kDiskFull) ends the call at once. Every attempt goes into `record`.
// Progress goes to `reporter` at most every 50 ms, ending with 1.0. A failed call leaves the
// partial file and its sidecar for the next run.
StepResult<std::string> download_installer(const std::string& url, StageReporter& reporter, RunRecord& record,
                                           const DownloadOptions& options = {});

}  // namespace ombrel
