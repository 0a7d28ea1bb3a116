#include "platform/posix/wake_queue.h"

namespace ombrel::platform {

WakeQueue::WakeQueue() : owner_(std::this_thread::get_id()) {}

void WakeQueue::set_handler(Handler handler) { handler_ = std::move(handler); }

void WakeQueue::post(std::uintptr_t id) {
  if (handler_ && std::this_thread::get_id() == owner_) {
    handler_(id);
    return;
  }
  // Notified under the lock: once the receiver has seen the id it may destroy the queue.
  std::lock_guard lock(mutex_);
  ids_.push_back(id);
  arrived_.notify_one();
}

std::optional<std::uintptr_t> WakeQueue::wait_for(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_for(lock, timeout, [this] { return !ids_.empty(); })) return std::nullopt;
  std::uintptr_t id = ids_.front();
  ids_.pop_front();
  return id;
}

std::optional<std::uintptr_t> WakeQueue::try_take() { return wait_for(std::chrono::milliseconds(0)); }

std::size_t WakeQueue::size() const {
  std::lock_guard lock(mutex_);
  return ids_.size();
}

}  // namespace ombrel::platform
