#include "tests/support/fake_steps.h"

#include <utility>

namespace ombrel::test {

FakeSteps::~FakeSteps() {
  if (script_.on_destroy) script_.on_destroy();
}

const std::optional<PipelineError>& FakeSteps::perform(const FakeStep& step, const std::string& call,
                                                       StageReporter* reporter) {
  if (script_.on_call) script_.on_call(call);
  if (step.action) step.action(reporter);
  return step.failure;
}

StepResult<std::string> FakeSteps::fetch_manifest(RunRecord& /*record*/) {
  if (const auto& failure = perform(script_.fetch, "fetch_manifest", nullptr)) return unexpected(*failure);
  return script_.installer_url;
}

StepResult<std::string> FakeSteps::download_installer(const std::string& url, StageReporter& reporter,
                                                      RunRecord& /*record*/) {
  if (const auto& failure = perform(script_.download, "download_installer " + url, &reporter)) {
    return unexpected(*failure);
  }
  reporter.set_progress(1.0);
  return script_.installer_path;
}

StepResult<Done> FakeSteps::check_installer(const std::string& path, RunRecord& /*record*/) {
  if (const auto& failure = perform(script_.check, "check_installer " + path, nullptr)) return unexpected(*failure);
  return Done{};
}

StepResult<Done> FakeSteps::run_installer(const std::string& path, StageReporter& reporter) {
  reporter.send_stage(Installing{});
  if (const auto& failure = perform(script_.install, "run_installer " + path, &reporter)) {
    return unexpected(*failure);
  }
  return Done{};
}

std::optional<std::string> FakeSteps::find_installed_app() {
  (void)perform(script_.find, "find_installed_app", nullptr);
  return script_.app_path;
}

void FakeSteps::launch_app(const std::string& app_path) {
  (void)perform(script_.launch, "launch_app " + app_path, nullptr);
}

}  // namespace ombrel::test
