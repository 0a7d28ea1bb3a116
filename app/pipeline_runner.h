#pragma once
// The main thread's owner of pipeline runs: starts each run on a worker thread of its own,
// never more than one at a time, and never waits for one.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "app/view_model.h"
#include "pipeline/pipeline.h"

namespace ombrel {

// Makes the steps of one run; called on the main thread by start_worker, the steps then
// belong to the worker.
using PipelineStepsFactory = std::function<std::unique_ptr<PipelineSteps>()>;

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

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  ViewModel view_model_;
  PipelineStepsFactory make_steps_;
  std::optional<Worker> worker_;
};

// The body of every worker thread: one run, then Failed(text) when it failed. An unexpected
// exception from a step is reported as a failure too, so the window always gets a final
// stage and the retry button. Takes ownership of its view model reference and its steps and
// releases both before returning.
void worker_entry(ViewModel view_model, std::unique_ptr<PipelineSteps> steps);

}  // namespace ombrel
