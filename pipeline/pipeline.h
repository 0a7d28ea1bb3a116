#pragma once
// One pipeline run: fetch the manifest, download the installer, run it, find and start the
// installed application, reporting every stage through the reporter.
#include <optional>
#include <string>

#include "common/expected.h"
#include "pipeline/pipeline_error.h"
#include "pipeline/run_record.h"
#include "pipeline/stage_reporter.h"

namespace ombrel {

// The steps of a run. The product wires the real manifest fetcher, downloader, installer run
// and application lookup; tests plug in their own. Every stage has exactly one sender:
//   FetchingManifest, Downloading(0.0), Launching, Complete  run_pipeline
//   Downloading(fraction) updates, ending with 1.0           download_installer (set_progress)
//   Installing                                               run_installer, before it starts the child
//   Failed(text)                                             worker_entry, after run_pipeline returned
class PipelineSteps {
 public:
  virtual ~PipelineSteps() = default;

  // The installer URL named by the manifest for this machine. The steps that take `record` note
  // there what the support summary tells (manifest URL, download attempts, signature verdict).
  virtual StepResult<std::string> fetch_manifest(RunRecord& record) = 0;
  // Downloads `url` into the temporary folder and gives the file's path.
  virtual StepResult<std::string> download_installer(const std::string& url, StageReporter& reporter,
                                                     RunRecord& record) = 0;
  // Checks the downloaded file before anything runs it: the shipped steps check the publisher's
  // signature, and hold the file unchangeable from this check until run_installer has started it.
  virtual StepResult<Done> check_installer(const std::string& path, RunRecord& record) = 0;
  // Runs the installer at `path` silently and waits for it.
  virtual StepResult<Done> run_installer(const std::string& path, StageReporter& reporter) = 0;
  // The installed application's executable, when one is found. Searching never fails a run.
  virtual std::optional<std::string> find_installed_app() = 0;
  // Starts the application; whether that worked is not examined.
  virtual void launch_app(const std::string& app_path) = 0;
};

// Runs the steps in order and stops at the first failure, giving its error unchanged.
// The downloaded installer is deleted before this returns, whatever the outcome, so a
// Failed stage posted afterwards always follows the deletion. `record` (the caller's, fresh for
// the run) gets what the run did; its failure is left to the caller, which also sees faults.
StepResult<Done> run_pipeline(StageReporter& reporter, PipelineSteps& steps, RunRecord& record);

}  // namespace ombrel
