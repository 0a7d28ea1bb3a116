#pragma once
// The one configurable double of the pipeline steps, for every test that needs a run without a
// network: each step runs an optional action (wait, report progress, write files, throw), then
// fails when a failure is set. As far as run_pipeline can see it behaves like the shipped
// steps: a successful download ends at 1.0, the installer run sends Installing first.
#include <functional>
#include <optional>
#include <string>

#include "pipeline/pipeline.h"

namespace ombrel::test {

struct FakeStep {
  std::function<void(StageReporter*)> action;  // the reporter is null for steps that get none
  std::optional<PipelineError> failure;        // what the step fails with
};

struct StepScript {
  FakeStep fetch, download, check, install, find, launch;
  std::string installer_url = "https://localhost/OmbrelLoomworkSetup.exe";
  std::string installer_path;           // what the download gives
  std::optional<std::string> app_path;  // what the lookup finds
  // Told of every call: "fetch_manifest", "download_installer <url>", "check_installer <path>",
  // "run_installer <path>", "find_installed_app", "launch_app <path>".
  std::function<void(const std::string&)> on_call;
  std::function<void()> on_destroy;  // the worker lets go of its steps
};

class FakeSteps final : public PipelineSteps {
 public:
  explicit FakeSteps(StepScript script) : script_(std::move(script)) {}
  ~FakeSteps() override;

  StepResult<std::string> fetch_manifest(RunRecord& record) override;
  StepResult<std::string> download_installer(const std::string& url, StageReporter& reporter,
                                             RunRecord& record) override;
  StepResult<Done> check_installer(const std::string& path, RunRecord& record) override;
  StepResult<Done> run_installer(const std::string& path, StageReporter& reporter) override;
  std::optional<std::string> find_installed_app() override;
  void launch_app(const std::string& app_path) override;

 private:
  // Tells of the call and runs the step's action; the step's failure, if it has one.
  const std::optional<PipelineError>& perform(const FakeStep& step, const std::string& call, StageReporter* reporter);

  StepScript script_;
};

}  // namespace ombrel::test
