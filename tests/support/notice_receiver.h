#pragma once
// A real receiver of view-model notices on the calling thread: a WakeQueue natively, a hidden
// window under Windows (message 1124 through SendNotifyMessageW).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/notice.h"

namespace ombrel::test {

class NoticeReceiver {
 public:
  // `on_notice` runs on this thread for every notice addressed to this receiver: at once when
  // it is posted from this thread (Windows calls the window procedure directly then), else
  // when pump() delivers it.
  explicit NoticeReceiver(std::function<void()> on_notice = {});
  ~NoticeReceiver();
  NoticeReceiver(const NoticeReceiver&) = delete;
  NoticeReceiver& operator=(const NoticeReceiver&) = delete;

  platform::NoticeTarget target() const;

  // Waits up to `timeout` for notices from other threads and delivers every one available;
  // returns how many were delivered (0 after a time-out).
  std::size_t pump(std::chrono::milliseconds timeout);

  // Notices delivered so far that carried this receiver's id (and, on Windows, its handle).
  std::size_t received() const;
  // Wake-ups that arrived here with some other id or handle.
  std::size_t foreign() const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ombrel::test
