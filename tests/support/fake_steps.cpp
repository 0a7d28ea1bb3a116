#include "tests/support/fake_steps.h"

#include <utility>

namespace ombrel::test {

Unexpected<PipelineError> fake_failure(const std::string& text) { return step_failure(text); }

std::string failure_text(const PipelineError& error) { return error.message; }

FakeSteps::~FakeSteps() {
  if (script_.on_destroy) script_.on_destroy();
}

const std::optional<std::string>& FakeSteps::perform(const FakeStep& step, const std::string& call,
                                                     StageReporter* reporter) {
  if (script_.on_call) script_.on_call(call);
  if (step.action) step.action(reporter);
  return step.failure;
}

StepResult<std::string> FakeSteps::fetch_manifest() {
  if (const auto& failure = perform(script_.fetch, "fetch_manifest", nullptr)) return fake_failure(*failure);
  return script_.installer_url;
}

StepResult<std::string> FakeSteps::download_installer(const std::string& url, StageReporter& reporter) {
  if (const auto& failure = perform(script_.download, "download_installer " + url, &reporter)) {
    return fake_failure(*failure);
  }
  reporter.set_progress(1.0);
  return script_.installer_path;
}

StepResult<Done> FakeSteps::check_installer(const std::string& path) {
  if (const auto& failure = perform(script_.check, "check_installer " + path, nullptr)) return fake_failure(*failure);
  return Done{};
}

StepResult<Done> FakeSteps::run_installer(const std::string& path, StageReporter& reporter) {
  reporter.send_stage(Installing{});
  if (const auto& failure = perform(script_.install, "run_installer " + path, &reporter)) {
    return fake_failure(*failure);
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
