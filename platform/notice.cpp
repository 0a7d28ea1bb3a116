#include "platform/notice.h"

#include <atomic>

namespace ombrel::platform {

std::uintptr_t next_notice_id() {
  static std::atomic<std::uintptr_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace ombrel::platform
