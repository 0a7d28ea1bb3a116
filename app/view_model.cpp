#include "app/view_model.h"

namespace ombrel {

std::optional<InstallStage> StageSlot::put(InstallStage stage) {
  std::lock_guard lock(mutex_);
  std::optional<InstallStage> replaced = std::move(pending_);
  pending_ = std::move(stage);
  return replaced;
}

std::optional<InstallStage> StageSlot::take() {
  std::lock_guard lock(mutex_);
  std::optional<InstallStage> stage = std::move(pending_);
  pending_.reset();
  return stage;
}

void ViewModel::send_stage(InstallStage stage) {
  {
    // The replaced stage dies at the end of this block, after the mutex was released.
    std::optional<InstallStage> replaced = slot_->put(std::move(stage));
  }
  platform::post_notice(notice_);
}

}  // namespace ombrel
