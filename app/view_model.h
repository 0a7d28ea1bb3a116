#pragma once
// The only channel from the worker thread to the window: a shared one-stage mailbox
// (latest wins) plus the window's notice target.
#include <memory>
#include <mutex>
#include <optional>

#include "pipeline/stage_reporter.h"
#include "platform/notice.h"

namespace ombrel {

// The mailbox shared by the window and the worker of the current run.
class StageSlot {
 public:
  // Replaces the pending stage; returns the one it displaced so it is freed outside the lock.
  std::optional<InstallStage> put(InstallStage stage);
  std::optional<InstallStage> take();

 private:
  std::mutex mutex_;
  std::optional<InstallStage> pending_;
};

class ViewModel final : public StageReporter {
 public:
  ViewModel(std::shared_ptr<StageSlot> slot, platform::NoticeTarget notice) : slot_(std::move(slot)), notice_(notice) {}

  // Worker side: store the stage (dropping any still pending), then wake the window.
  void send_stage(InstallStage stage) override;

  // Window side: move the pending stage out, leaving the slot empty.
  std::optional<InstallStage> take_pending() const { return slot_->take(); }

 private:
  std::shared_ptr<StageSlot> slot_;
  platform::NoticeTarget notice_;
};

}  // namespace ombrel
