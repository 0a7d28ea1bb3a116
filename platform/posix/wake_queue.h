#pragma once
// The notice receiver of the native build, where there is no window: a queue of wake-ups
// that the receiving thread drains. NoticeTarget::window points at one of these.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/notice.h"

namespace ombrel::platform {

class WakeQueue {
 public:
  using Handler = std::function<void(std::uintptr_t id)>;

  // The creating thread owns the queue, as a thread owns its window.
  WakeQueue();
  WakeQueue(const WakeQueue&) = delete;
  WakeQueue& operator=(const WakeQueue&) = delete;

  // With a handler set, a wake-up posted on the owner thread runs it at once instead of
  // being queued, just as a notice sent to a window of the sending thread calls its window
  // procedure directly. Wake-ups from other threads are always queued. Set it before posting.
  void set_handler(Handler handler);

  // One wake-up carrying `id`. Never waits for the receiver.
  void post(std::uintptr_t id);

  // The oldest queued wake-up, waiting up to `timeout` for one to arrive.
  std::optional<std::uintptr_t> wait_for(std::chrono::milliseconds timeout);
  std::optional<std::uintptr_t> try_take();
  std::size_t size() const;

  // A notice target that posts into this queue with `id`.
  NoticeTarget target(std::uintptr_t id) { return NoticeTarget{this, id}; }

 private:
  const std::thread::id owner_;
  Handler handler_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::uintptr_t> ids_;
};

}  // namespace ombrel::platform
