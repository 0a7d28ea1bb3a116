// run_pipeline over scripted steps: the exact stages it sends, what each step receives, the
// failure it returns, and when the installer file and its sidecar disappear.
#include "pipeline/pipeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/sidecar.h"
#include "tests/support/fake_steps.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/stage_text.h"
#include "tests/support/temp_folder.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;

using test::native_utf8;

constexpr const char* kInstallerUrl = "https://localhost/loomwork/OmbrelLoomwork-1.2.3.exe";
constexpr const char* kAppPath = "C:\\Users\\u\\AppData\\Local\\Ombrel Loomwork\\Ombrel Loomwork.exe";

struct RunCase {
  const char* name;
  test::FakeStep test::StepScript::*failing;  // the step that fails with "scripted failure", if any
  bool app_found;
  std::vector<std::string> stages;  // as sent, in order
  std::vector<std::string> calls;   // "<path>" stands for the downloaded installer's path
  bool installer_left_on_disk;      // after the run
  bool sidecar_left_on_disk;        // removed only with a rejected installer
};

class PipelineRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(PipelineRunTest, SendsExactlyTheseStagesAndCleansUp) {
  const RunCase& test = GetParam();
  test::TempFolder folder{"ombrel-pipeline"};
  const fs::path installer = folder.path() / "OmbrelLoomwork_0123456789abcdef.exe";
  const fs::path sidecar = folder.path() / "OmbrelLoomwork_0123456789abcdef.meta";

  std::vector<std::string> calls;
  test::StepScript script;
  script.installer_url = kInstallerUrl;
  script.installer_path = native_utf8(installer);
  script.on_call = [&](const std::string& call) { calls.push_back(call); };
  // The download writes a real file and leaves a sidecar beside it, as one whose deletion
  // failed would; a failed download keeps its partial file for the next run to resume.
  script.download.action = [&](StageReporter* reporter) {
    std::ofstream(installer, std::ios::binary) << "MZ partial";
    std::ofstream(sidecar_path(native_utf8(installer)), std::ios::binary) << "\"v1\"\n";
    reporter->set_progress(0.5);
  };
  if (test.app_found) script.app_path = kAppPath;
  const PipelineError scripted{FailureReason::kUnexpectedFault, 0, "scripted failure"};
  if (test.failing) (script.*test.failing).failure = scripted;
  test::FakeSteps steps(std::move(script));

  bool installer_present_at_complete = false;
  test::RecordingReporter reporter([&](const InstallStage& stage) {
    if (std::holds_alternative<Complete>(stage)) installer_present_at_complete = fs::exists(installer);
  });
  RunRecord record;
  const StepResult<Done> outcome = run_pipeline(reporter, steps, record);

  std::vector<std::string> stages;
  for (const InstallStage& stage : reporter.stages()) stages.push_back(test::stage_text(stage));
  std::vector<std::string> expected_calls;
  for (std::string call : test.calls) {
    if (call.ends_with("<path>")) call.replace(call.size() - 6, 6, native_utf8(installer));
    expected_calls.push_back(call);
  }
  EXPECT_EQ(stages, test.stages);
  EXPECT_EQ(calls, expected_calls);
  EXPECT_EQ(outcome ? std::optional<PipelineError>() : outcome.error(),
            test.failing ? std::optional(scripted) : std::nullopt);
  EXPECT_EQ(record.app_path, outcome && test.app_found ? kAppPath : "");
  // Deleted only after Complete has gone out, and before a failure is returned.
  EXPECT_EQ(installer_present_at_complete, test.failing == nullptr);
  EXPECT_EQ(fs::exists(installer), test.installer_left_on_disk);
  EXPECT_EQ(fs::exists(sidecar), test.sidecar_left_on_disk);

  // The stages of a run come in the order of their declaration (the variant's index), which
  // the window and the stage tables rely on.
  const std::vector<InstallStage> sent = reporter.stages();
  for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_LE(sent[i - 1].index(), sent[i].index()) << stages[i];
}

const std::vector<std::string> kDownloadStages = {"FetchingManifest", "Downloading 0", "Downloading 0.5",
                                                  "Downloading 1"};

std::vector<std::string> operator+(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

const std::string kDownloadCall = std::string("download_installer ") + kInstallerUrl;

INSTANTIATE_TEST_SUITE_P(
    Runs, PipelineRunTest,
    ::testing::Values(
        RunCase{"Success",
                nullptr,
                true,
                kDownloadStages + std::vector<std::string>{"Installing", "Launching", "Complete"},
                {"fetch_manifest", kDownloadCall, "check_installer <path>", "run_installer <path>",
                 "find_installed_app", std::string("launch_app ") + kAppPath},
                false,
                true},
        RunCase{
            "SuccessWithoutApp",
            nullptr,
            false,
            kDownloadStages + std::vector<std::string>{"Installing", "Launching", "Complete"},
            {"fetch_manifest", kDownloadCall, "check_installer <path>", "run_installer <path>", "find_installed_app"},
            false,
            true},
        RunCase{
            "ManifestFails", &test::StepScript::fetch, true, {"FetchingManifest"}, {"fetch_manifest"}, false, false},
        RunCase{"DownloadFailsAndKeepsThePartialFile",
                &test::StepScript::download,
                true,
                {"FetchingManifest", "Downloading 0", "Downloading 0.5"},
                {"fetch_manifest", kDownloadCall},
                true,
                true},
        // Rejected between the download's last report and Installing: nothing is started, and
        // neither the file nor its sidecar is left for a resume.
        RunCase{"CheckRejectsTheInstaller",
                &test::StepScript::check,
                true,
                kDownloadStages,
                {"fetch_manifest", kDownloadCall, "check_installer <path>"},
                false,
                false},
        RunCase{"InstallerFails",
                &test::StepScript::install,
                true,
                kDownloadStages + std::vector<std::string>{"Installing"},
                {"fetch_manifest", kDownloadCall, "check_installer <path>", "run_installer <path>"},
                false,
                true}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrel
