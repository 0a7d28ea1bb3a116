#include "pipeline/real_steps.h"

#include <utility>

#include "pipeline/app_lookup.h"
#include "pipeline/downloader.h"
#include "pipeline/installer_run.h"
#include "pipeline/manifest_fetcher.h"
#include "pipeline/publisher_check.h"
#include "platform/shell.h"

namespace ombrel {
namespace {

// The shipped steps: built-in host, the machine's own architecture, the system's temp folder,
// registry and shell.
class RealSteps final : public PipelineSteps {
 public:
  // The default config names this machine's architecture, probed once per process.
  StepResult<std::string> fetch_manifest(RunRecord& record) override {
    return ombrel::fetch_manifest(ManifestFetchConfig{}, record);
  }

  StepResult<std::string> download_installer(const std::string& url, StageReporter& reporter,
                                             RunRecord& record) override {
    return ombrel::download_installer(url, reporter, record);
  }

  // The checked file stays held from the check until the installer has been started from it,
  // so no other program can put other bytes under its name in between.
  StepResult<Done> check_installer(const std::string& path, RunRecord& record) override {
    StepResult<platform::HeldFile> held = check_installer_publisher(path, built_in_publisher_policy(), record);
    if (!held) return unexpected(std::move(held).error());
    checked_ = std::move(*held);
    return Done{};
  }

  StepResult<Done> run_installer(const std::string& path, StageReporter& reporter) override {
    // Only the file just checked may run.
    if (!checked_.is_open() || checked_.path() != path) return step_failure(FailureReason::kInstallerHold);
    return ombrel::run_installer(std::move(checked_), reporter);
  }

  std::optional<std::string> find_installed_app() override { return ombrel::find_installed_app(); }

  void launch_app(const std::string& app_path) override { platform::launch_app(app_path); }

 private:
  platform::HeldFile checked_;
};

}  // namespace

std::unique_ptr<PipelineSteps> make_real_steps() { return std::make_unique<RealSteps>(); }

}  // namespace ombrel
