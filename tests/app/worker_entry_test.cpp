// One whole run on the calling thread (worker_entry over run_pipeline) with scripted steps:
// the exact stages the window is sent, what each step receives, and when the installer file
// disappears. Notices go to a real receiver that takes every stage as it is posted.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/pipeline_runner.h"
#include "pipeline/pipeline.h"
#include "pipeline/sidecar.h"
#include "tests/support/notice_receiver.h"
#include "tests/support/stage_text.h"
#include "tests/support/temp_folder.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;

using test::native_utf8;
using test::TempFolder;

enum class FailAt { kNothing, kManifest, kDownload, kCheck, kInstaller, kInstallerThrows };

constexpr const char* kInstallerUrl = "https://localhost/loomwork/OmbrelLoomwork-1.2.3.exe";
constexpr const char* kAppPath = "C:\\Users\\u\\AppData\\Local\\Ombrel Loomwork\\Ombrel Loomwork.exe";

// Steps that behave like the real ones as far as the driver can see: the download writes a
// real file and reports progress, the installer run sends Installing. The download also leaves
// a sidecar beside the file, as one whose deletion failed would.
class ScriptedSteps : public PipelineSteps {
 public:
  ScriptedSteps(FailAt fail_at, bool app_found, fs::path installer, std::vector<std::string>& calls)
      : fail_at_(fail_at), app_found_(app_found), installer_(std::move(installer)), calls_(calls) {}

  StepResult<std::string> fetch_manifest(RunRecord&) override {
    calls_.push_back("fetch_manifest");
    if (fail_at_ == FailAt::kManifest) return step_failure(FailureReason::kManifestHttpStatus, 503);
    return std::string(kInstallerUrl);
  }

  StepResult<std::string> download_installer(const std::string& url, StageReporter& reporter, RunRecord&) override {
    calls_.push_back("download_installer " + url);
    std::ofstream(installer_, std::ios::binary) << "MZ partial";
    std::ofstream(sidecar_path(native_utf8(installer_)), std::ios::binary) << "\"v1\"\n";
    reporter.set_progress(0.5);
    // A failed download leaves its partial file for the next run to resume.
    if (fail_at_ == FailAt::kDownload) return step_failure(FailureReason::kBodyRead, 56);
    reporter.set_progress(1.0);
    return native_utf8(installer_);
  }

  StepResult<Done> check_installer(const std::string& path, RunRecord&) override {
    calls_.push_back("check_installer " + path);
    if (fail_at_ == FailAt::kCheck) return step_failure(FailureReason::kSignature);
    return Done{};
  }

  StepResult<Done> run_installer(const std::string& path, StageReporter& reporter) override {
    calls_.push_back("run_installer " + path);
    reporter.send_stage(Installing{});
    if (fail_at_ == FailAt::kInstaller) return step_failure(FailureReason::kInstallerExit, 3);
    if (fail_at_ == FailAt::kInstallerThrows) throw std::runtime_error("disk on fire");
    return Done{};
  }

  std::optional<std::string> find_installed_app() override {
    calls_.push_back("find_installed_app");
    if (!app_found_) return std::nullopt;
    return std::string(kAppPath);
  }

  void launch_app(const std::string& app_path) override { calls_.push_back("launch_app " + app_path); }

 private:
  FailAt fail_at_;
  bool app_found_;
  fs::path installer_;
  std::vector<std::string>& calls_;
};

struct RunCase {
  const char* name;
  FailAt fail_at;
  bool app_found;
  std::vector<std::string> stages;  // as sent, in order
  std::vector<std::string> calls;
  bool installer_left_on_disk;  // after the run
  bool sidecar_left_on_disk;    // the pipeline removes it only with a rejected installer
};

class PipelineRunTest : public ::testing::TestWithParam<RunCase> {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }
};

TEST_P(PipelineRunTest, SendsExactlyTheseStagesAndCleansUp) {
  const RunCase& test = GetParam();
  TempFolder folder{"ombrel-pipeline"};
  const fs::path installer = folder.path() / "OmbrelLoomwork_0123456789abcdef.exe";
  const std::string installer_path = native_utf8(installer);
  const fs::path sidecar = folder.path() / "OmbrelLoomwork_0123456789abcdef.meta";

  // Each stage is taken out of the slot the moment it is posted, with the state of the
  // installer file at that moment.
  std::vector<std::string> stages;
  std::vector<bool> installer_present;
  LastRunRecord last_run;
  std::optional<ViewModel> view_model;
  test::NoticeReceiver receiver([&] {
    std::optional<InstallStage> stage = view_model->take_pending();
    ASSERT_TRUE(stage.has_value()) << "a notice without a stage in the slot";
    stages.push_back(test::stage_text(*stage));
    installer_present.push_back(fs::exists(installer));
    // The support summary offered with Failed or Complete must already tell this run.
    const bool failed = std::holds_alternative<Failed>(*stage);
    if (failed || std::holds_alternative<Complete>(*stage)) {
      const std::optional<RunRecord> told = last_run.load();
      EXPECT_TRUE(told && told->failure.has_value() == failed) << stages.back() << " came before the record";
    }
  });
  view_model.emplace(std::make_shared<StageSlot>(), receiver.target());

  std::vector<std::string> calls;
  worker_entry(*view_model, std::make_unique<ScriptedSteps>(test.fail_at, test.app_found, installer, calls), last_run);
  const std::optional<RunRecord> record = last_run.load();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->failure.has_value(), test.stages.back().starts_with("Failed"));
  EXPECT_EQ(record->app_path, test.fail_at == FailAt::kNothing && test.app_found ? kAppPath : "");

  std::vector<std::string> expected_calls;
  for (const std::string& call : test.calls) {
    std::string expanded = call;
    if (expanded == "run_installer" || expanded == "check_installer") expanded += " " + installer_path;
    expected_calls.push_back(expanded);
  }
  EXPECT_EQ(stages, test.stages);
  EXPECT_EQ(calls, expected_calls);
  EXPECT_EQ(receiver.received(), stages.size());
  EXPECT_FALSE(view_model->take_pending().has_value());
  EXPECT_EQ(fs::exists(installer), test.installer_left_on_disk);
  EXPECT_EQ(fs::exists(sidecar), test.sidecar_left_on_disk);

  // The installer is deleted only after Complete has gone out, but before Failed does.
  ASSERT_FALSE(stages.empty());
  if (stages.back() == "Complete") {
    EXPECT_TRUE(installer_present.back()) << "deleted before Complete was sent";
  } else if (test.fail_at == FailAt::kCheck || test.fail_at == FailAt::kInstaller ||
             test.fail_at == FailAt::kInstallerThrows) {
    EXPECT_FALSE(installer_present.back()) << "Failed was sent while the installer was still on disk";
  }
}

const std::vector<std::string> kDownloadStages = {"FetchingManifest", "Downloading 0", "Downloading 0.5",
                                                  "Downloading 1"};

std::vector<std::string> operator+(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PipelineRunTest,
    ::testing::Values(RunCase{"Success",
                              FailAt::kNothing,
                              true,
                              kDownloadStages + std::vector<std::string>{"Installing", "Launching", "Complete"},
                              {"fetch_manifest", std::string("download_installer ") + kInstallerUrl, "check_installer",
                               "run_installer", "find_installed_app", std::string("launch_app ") + kAppPath},
                              false,
                              true},
                      RunCase{"SuccessWithoutApp",
                              FailAt::kNothing,
                              false,
                              kDownloadStages + std::vector<std::string>{"Installing", "Launching", "Complete"},
                              {"fetch_manifest", std::string("download_installer ") + kInstallerUrl, "check_installer",
                               "run_installer", "find_installed_app"},
                              false,
                              true},
                      RunCase{"ManifestFails",
                              FailAt::kManifest,
                              true,
                              {"FetchingManifest", "Failed: Manifest fetch failed (HTTP 503)"},
                              {"fetch_manifest"},
                              false,
                              false},
                      RunCase{"DownloadFailsAndKeepsThePartialFile",
                              FailAt::kDownload,
                              true,
                              {"FetchingManifest", "Downloading 0", "Downloading 0.5",
                               "Failed: Unable to connect. Please check your internet connection and try again."},
                              {"fetch_manifest", std::string("download_installer ") + kInstallerUrl},
                              true,
                              true},
                      // Rejected between the download's last report and Installing: nothing is started, and
                      // neither the file nor its sidecar is left for a resume.
                      RunCase{"CheckRejectsTheInstaller",
                              FailAt::kCheck,
                              true,
                              kDownloadStages +
                                  std::vector<std::string>{
                                      "Failed: The downloaded installer could not be verified. Please try again."},
                              {"fetch_manifest", std::string("download_installer ") + kInstallerUrl, "check_installer"},
                              false,
                              false},
                      RunCase{"InstallerFails",
                              FailAt::kInstaller,
                              true,
                              kDownloadStages +
                                  std::vector<std::string>{"Installing", "Failed: Installer exited with code 3"},
                              {"fetch_manifest", std::string("download_installer ") + kInstallerUrl, "check_installer",
                               "run_installer"},
                              false,
                              true}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// A step that throws is a fault of ours, not a listed failure: the run still ends in Failed
// (with the generic text) so the user can retry, and the installer is deleted first.
TEST(PipelineFaultTest, ExceptionFromAStepEndsInFailedAfterDeletingTheInstaller) {
  TempFolder folder{"ombrel-pipeline"};
  const fs::path installer = folder.path() / "OmbrelLoomwork_fedcba9876543210.exe";
  std::vector<std::string> stages;
  bool installer_present_at_failed = true;
  std::optional<ViewModel> view_model;
  test::NoticeReceiver receiver([&] {
    std::optional<InstallStage> stage = view_model->take_pending();
    ASSERT_TRUE(stage.has_value());
    stages.push_back(test::stage_text(*stage));
    if (std::holds_alternative<Failed>(*stage)) installer_present_at_failed = fs::exists(installer);
  });
  view_model.emplace(std::make_shared<StageSlot>(), receiver.target());

  std::vector<std::string> calls;
  LastRunRecord last_run;
  worker_entry(*view_model, std::make_unique<ScriptedSteps>(FailAt::kInstallerThrows, true, installer, calls),
               last_run);
  EXPECT_EQ(last_run.load()->failure, (PipelineError{FailureReason::kUnexpectedFault, 0, "disk on fire"}));

  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.back(), "Failed: " + tr_fmt(keys::kErrorUnexpectedFmt, "disk on fire"));
  EXPECT_EQ(stages.end()[-2], "Installing");
  EXPECT_FALSE(installer_present_at_failed);
  EXPECT_FALSE(fs::exists(installer));
}

}  // namespace
}  // namespace ombrel
