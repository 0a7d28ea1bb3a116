#include "pipeline/pipeline.h"

#include <utility>

#include "pipeline/installer_file.h"
#include "pipeline/sidecar.h"
#include "platform/files.h"

namespace ombrel {

StepResult<Done> run_pipeline(StageReporter& reporter, PipelineSteps& steps, RunRecord& record) {
  reporter.send_stage(FetchingManifest{});
  StepResult<std::string> url = steps.fetch_manifest(record);
  if (!url) return unexpected(std::move(url).error());
  record.installer_url = *url;

  reporter.send_stage(Downloading{0.0});
  StepResult<std::string> downloaded = steps.download_installer(*url, reporter, record);
  if (!downloaded) return unexpected(std::move(downloaded).error());

  // From here on every way out of this function deletes the installer.
  InstallerFile installer(std::move(*downloaded));
  StepResult<Done> checked = steps.check_installer(installer.path(), record);
  if (!checked) {
    // Nothing of a rejected file may be resumed: the next run downloads it from byte 0.
    (void)platform::delete_file(sidecar_path(installer.path()));
    return unexpected(std::move(checked).error());
  }
  StepResult<Done> installed = steps.run_installer(installer.path(), reporter);
  if (!installed) {
    if (installed.error().reason == FailureReason::kInstallerExit) record.installer_exit_code = installed.error().code;
    return unexpected(std::move(installed).error());
  }
  record.installer_exit_code = 0;

  reporter.send_stage(Launching{});
  std::optional<std::string> app = steps.find_installed_app();
  record.app_searched = true;
  if (app) {
    record.app_path = *app;
    steps.launch_app(*app);
  }
  reporter.send_stage(Complete{});
  return Done{};
}

}  // namespace ombrel
