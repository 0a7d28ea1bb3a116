#pragma once
// A reporter for pipeline tests: keeps every stage in the order sent and lets a test look at
// the world (files, children) at the moment each one was sent.
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "pipeline/stage_reporter.h"

namespace ombrel::test {

class RecordingReporter final : public StageReporter {
 public:
  // `on_stage` runs on the sending thread, inside send_stage.
  explicit RecordingReporter(std::function<void(const InstallStage&)> on_stage = {}) : on_stage_(std::move(on_stage)) {}

  void send_stage(InstallStage stage) override {
    if (on_stage_) on_stage_(stage);
    std::lock_guard lock(mutex_);
    stages_.push_back(std::move(stage));
  }

  std::vector<InstallStage> stages() const {
    std::lock_guard lock(mutex_);
    return stages_;
  }

 private:
  std::function<void(const InstallStage&)> on_stage_;
  mutable std::mutex mutex_;
  std::vector<InstallStage> stages_;
};

}  // namespace ombrel::test
