#pragma once
// The cross-thread wake-up that tells the window a stage is waiting in the view model.
#include <cstdint>

namespace ombrel::platform {

// Message number of the notice: WM_USER + 100.
inline constexpr unsigned kNoticeMessage = 1124;

// Where a notice goes. On Windows `window` is the HWND and `id` the notice identifier;
// natively `window` points at a WakeQueue (platform/posix/wake_queue.h).
struct NoticeTarget {
  void* window = nullptr;
  std::uintptr_t id = 0;
};

// Posts one wake-up to the target and returns at once, never waiting for the receiver
// (a receiver on the posting thread itself is run directly, as Windows does). A target
// without a window is ignored.
void post_notice(const NoticeTarget& target);

// A fresh notice identifier, unique in the process and never 0, so a window can tell its
// own notice apart from any other message carrying the same number.
std::uintptr_t next_notice_id();

}  // namespace ombrel::platform
