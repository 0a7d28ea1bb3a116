#include "pipeline/file_faults.h"

#include <algorithm>
#include <thread>

#include "platform/system_codes.h"

namespace ombrel {

namespace codes = platform::codes;

bool is_disk_full(std::uint32_t code) {
  return code == codes::kDiskFull || code == codes::kHandleDiskFull || code == codes::kDiskQuotaExceeded;
}

bool is_removed_or_blocked(std::uint32_t code) {
  return code == codes::kFileNotFound || code == codes::kPathNotFound || code == codes::kVirusInfected ||
         code == codes::kVirusDeleted;
}

bool HoldWaiter::pause_if_held(std::uint32_t code) {
  const bool held = code == codes::kSharingViolation || code == codes::kLockViolation ||
                    // A folder is refused as access denied too, and no wait changes that.
                    (code == codes::kAccessDenied && codes::kAccessDeniedMayBeAHold && kind_ == FileRole::kInstaller &&
                     platform::is_regular_file(path_));
  if (!held || spent_ >= wait_.budget) return false;
  next_ = next_.count() == 0 ? wait_.first_pause : next_ * 2;
  const std::chrono::milliseconds pause = std::min(next_, wait_.budget - spent_);
  if (wait_.pause) {
    wait_.pause(pause);
  } else {
    std::this_thread::sleep_for(pause);
  }
  spent_ += pause;
  return true;
}

}  // namespace ombrel
