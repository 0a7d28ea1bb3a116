#include "platform/notice.h"

#include "platform/posix/wake_queue.h"

namespace ombrel::platform {

void post_notice(const NoticeTarget& target) {
  if (target.window == nullptr) return;
  static_cast<WakeQueue*>(target.window)->post(target.id);
}

}  // namespace ombrel::platform
