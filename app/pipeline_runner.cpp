#include "app/pipeline_runner.h"

#include <exception>
#include <string>
#include <utility>

#include "platform/fatal.h"

namespace ombrel {
namespace {

// A fault that is not one of the steps' own failures.
PipelineError unexpected_fault(const char* what) {
  return PipelineError{FailureReason::kUnexpectedFault, 0, what != nullptr ? what : ""};
}

// Stores the run's record just before Complete goes out: the window may be asked for the
// summary as soon as it shows Complete, before run_pipeline has returned.
class RecordStoringReporter final : public StageReporter {
 public:
  RecordStoringReporter(ViewModel& view_model, const RunRecord& record, LastRunRecord& last_run)
      : view_model_(view_model), record_(record), last_run_(last_run) {}

  void send_stage(InstallStage stage) override {
    if (std::holds_alternative<Complete>(stage)) last_run_.store(record_);
    view_model_.send_stage(std::move(stage));
  }

 private:
  ViewModel& view_model_;
  const RunRecord& record_;
  LastRunRecord& last_run_;
};

}  // namespace

void LastRunRecord::begin() {
  std::lock_guard lock(mutex_);
  run_in_progress_ = true;
}

void LastRunRecord::store(RunRecord record) {
  std::lock_guard lock(mutex_);
  record_ = std::move(record);
  run_in_progress_ = false;
}

std::optional<RunRecord> LastRunRecord::load() const {
  std::lock_guard lock(mutex_);
  return record_;
}

RunRecordView LastRunRecord::view() const {
  std::lock_guard lock(mutex_);
  return {record_, run_in_progress_};
}

void worker_entry(ViewModel view_model, std::unique_ptr<PipelineSteps> steps, LastRunRecord& last_run) {
  RunRecord record;
  try {
    RecordStoringReporter reporter(view_model, record, last_run);
    StepResult<Done> outcome = run_pipeline(reporter, *steps, record);
    if (!outcome) record.failure = std::move(outcome).error();
  } catch (const std::exception& error) {
    // Steps report failures as values; an exception here is a fault (e.g. out of memory).
    // Unwinding has already deleted the installer; leaving the window on a moving bar with
    // no way to retry would be worse than a generic message.
    record.failure = unexpected_fault(error.what());
  } catch (...) {
    record.failure = unexpected_fault("unknown");
  }
  std::optional<std::string> failure_text;
  if (record.failure) failure_text = describe_failure(*record.failure);
  last_run.store(std::move(record));
  if (failure_text) view_model.send_stage(Failed{std::move(*failure_text)});
  // The steps and this thread's slot reference are released on return, after Failed.
}

PipelineRunner::PipelineRunner(ViewModel view_model, PipelineStepsFactory make_steps)
    : view_model_(std::move(view_model)), make_steps_(std::move(make_steps)) {}

PipelineRunner::~PipelineRunner() {
  if (worker_ && worker_->thread.joinable()) worker_->thread.detach();
}

bool PipelineRunner::worker_busy() const {
  return worker_.has_value() && !worker_->finished->load(std::memory_order_acquire);
}

void PipelineRunner::start_worker() {
  if (worker_) {
    if (!worker_->finished->load(std::memory_order_acquire)) return;
    // Its run is over; the thread is at most returning from its last instructions.
    if (worker_->thread.joinable()) worker_->thread.join();
    worker_.reset();
  }

  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::unique_ptr<PipelineSteps> steps = make_steps_();
  last_run_->begin();
  try {
    std::thread thread([view_model = view_model_, steps = std::move(steps), finished, last_run = last_run_]() mutable {
      // The thread's references to the slot and the steps die inside worker_entry, before the
      // runner may see this worker as finished.
      worker_entry(std::move(view_model), std::move(steps), *last_run);
      finished->store(true, std::memory_order_release);
    });
    worker_ = Worker{std::move(thread), std::move(finished)};
  } catch (const std::exception&) {
    // std::system_error from the standard library; in the installer exe a lighter type with
    // the same text (app/win32/light_exceptions.cpp), so the catch names only the base.
    platform::fatal_stop("failed to spawn thread");
  }
}

}  // namespace ombrel
