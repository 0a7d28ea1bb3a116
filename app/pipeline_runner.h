#pragma once
// The main thread's owner of pipeline runs: starts each run on a worker thread of its own,
// never more than one at a time, and never waits for one.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "app/view_model.h"
#include "pipeline/pipeline.h"

namespace ombrel {

// Makes the steps of one run; called on the main thread by start_worker, the steps then
// belong to the worker.
using PipelineStepsFactory = std::function<std::unique_ptr<PipelineSteps>()>;

// What the window can tell of the runs at one moment.
struct RunRecordView {
  std::optional<RunRecord> last;  // the last finished run; nothing before the first ends
  bool run_in_progress = false;   // a run has begun and not yet stored its record
};

// The record of the last finished run: written by its worker, read by the window thread.
class LastRunRecord {
 public:
  // A run has begun; it ends with store.
  void begin();
  void store(RunRecord record);
  // A copy, so the caller reads it without holding the lock; nothing before the first run ends.
  std::optional<RunRecord> load() const;
  // The record and whether a run is going, as one consistent reading.
  RunRecordView view() const;

 private:
  mutable std::mutex mutex_;
  std::optional<RunRecord> record_;
  bool run_in_progress_ = false;
};

class PipelineRunner {
 public:
  PipelineRunner(ViewModel view_model, PipelineStepsFactory make_steps);
  // Never waits: a worker still running is left to finish (or to end with the process) on
  // its own, holding its own references to everything it uses.
  ~PipelineRunner();
  PipelineRunner(const PipelineRunner&) = delete;
  PipelineRunner& operator=(const PipelineRunner&) = delete;

  // Starts a run, unless the previous worker is still inside worker_entry: then the request
  // is dropped, not queued. A thread that cannot be created is a fatal stop.
  void start_worker();

  // True from start_worker until the worker has left worker_entry.
  bool worker_busy() const;

  // What the last finished run did and whether another is going, for the support summary.
  RunRecordView last_run() const { return last_run_->view(); }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  ViewModel view_model_;
  PipelineStepsFactory make_steps_;
  // Shared with the workers, which may outlive the runner.
  std::shared_ptr<LastRunRecord> last_run_ = std::make_shared<LastRunRecord>();
  std::optional<Worker> worker_;
};

// The body of every worker thread: one run, its record stored in `last_run`, then Failed(text)
// when it failed (the record comes first, so a window reacting to Failed or Complete finds it). An
// unexpected exception from a step is reported as a failure too, so the window always gets a
// final stage and the retry button. Takes ownership of its view model reference and its steps
// and releases both before returning.
void worker_entry(ViewModel view_model, std::unique_ptr<PipelineSteps> steps, LastRunRecord& last_run);

}  // namespace ombrel
