#include "pipeline/pipeline.h"

#include <utility>

#include "pipeline/installer_file.h"
#include "pipeline/sidecar.h"
#include "platform/files.h"

namespace ombrel {

StepResult<Done> run_pipeline(StageReporter& reporter, PipelineSteps& steps) {
  reporter.send_stage(FetchingManifest{});
  StepResult<std::string> url = steps.fetch_manifest();
  if (!url) return unexpected(std::move(url).error());

  reporter.send_stage(Downloading{0.0});
  StepResult<std::string> downloaded = steps.download_installer(*url, reporter);
  if (!downloaded) return unexpected(std::move(downloaded).error());

  // From here on every way out of this function deletes the installer.
  InstallerFile installer(std::move(*downloaded));
  StepResult<Done> checked = steps.check_installer(installer.path());
  if (!checked) {
    // Nothing of a rejected file may be resumed: the next run downloads it from byte 0.
    (void)platform::delete_file(sidecar_path(installer.path()));
    return unexpected(std::move(checked).error());
  }
  StepResult<Done> installed = steps.run_installer(installer.path(), reporter);
  if (!installed) return unexpected(std::move(installed).error());

  reporter.send_stage(Launching{});
  if (std::optional<std::string> app = steps.find_installed_app()) steps.launch_app(*app);
  reporter.send_stage(Complete{});
  return Done{};
}

}  // namespace ombrel
