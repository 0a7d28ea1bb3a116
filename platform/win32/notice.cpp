#include "platform/notice.h"

#include <windows.h>

namespace ombrel::platform {

void post_notice(const NoticeTarget& target) {
  if (target.window == nullptr) return;
  // SendNotifyMessageW returns at once for a window of another thread (PostMessageW could
  // fail on a full queue). The parameters are the notice id and the window handle again.
  // A failure (the window is gone) only means nobody is left to show the stage.
  HWND window = static_cast<HWND>(target.window);
  SendNotifyMessageW(window, kNoticeMessage, static_cast<WPARAM>(target.id), reinterpret_cast<LPARAM>(window));
}

}  // namespace ombrel::platform
