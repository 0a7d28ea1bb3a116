// worker_entry, the one sender of Failed: a failure or a fault of a step ends the run in Failed
// with its text, sent after the installer was deleted, and the run's record is kept before the
// last stage goes out. Notices go to a real receiver that takes
// every stage as it is posted. The stage sequences of run_pipeline itself are checked in
// tests/pipeline/pipeline_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/pipeline_runner.h"
#include "tests/support/fake_steps.h"
#include "tests/support/notice_receiver.h"
#include "tests/support/stage_text.h"
#include "tests/support/temp_folder.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;

TEST(WorkerEntryTest, EndsInFailedAfterTheInstallerIsDeletedAndKeepsTheRecordBeforeTheLastStage) {
  initialize_translations_for_testing({"en-US"});
  struct Case {
    const char* name;
    std::optional<PipelineError> failure;  // of the installer run
    bool throws;                           // a fault of ours (here: an exception) rather than a listed failure
    std::string last_stage;
    std::optional<PipelineError> recorded;  // how the run ended, in the record
  };
  const PipelineError exit_3 = step_failure(FailureReason::kInstallerExit, 3).error;
  const Case cases[] = {
      {"failure", exit_3, false, "Failed: Installer exited with code 3", exit_3},
      // Not a listed failure: still Failed, with the generic text, so the user can retry.
      {"exception", exit_3, true, "Failed: " + tr_fmt(keys::kErrorUnexpectedFmt, "disk on fire"),
       PipelineError{FailureReason::kUnexpectedFault, 0, "disk on fire"}},
      {"success", std::nullopt, false, "Complete", std::nullopt},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    test::TempFolder folder{"ombrel-worker"};
    const fs::path installer = folder.path() / "OmbrelLoomwork_fedcba9876543210.exe";
    test::StepScript script;
    script.installer_path = test::native_utf8(installer);
    script.download.action = [&](StageReporter*) { std::ofstream(installer, std::ios::binary) << "MZ"; };
    script.install.failure = test.failure;
    if (test.throws) script.install.action = [](StageReporter*) { throw std::runtime_error("disk on fire"); };

    std::vector<std::string> stages;
    bool installer_present_at_last = false;
    LastRunRecord last_run;
    std::optional<ViewModel> view_model;
    test::NoticeReceiver receiver([&] {
      std::optional<InstallStage> stage = view_model->take_pending();
      ASSERT_TRUE(stage.has_value()) << "a notice without a stage in the slot";
      stages.push_back(test::stage_text(*stage));
      const bool failed = std::holds_alternative<Failed>(*stage);
      if (failed || std::holds_alternative<Complete>(*stage)) {
        installer_present_at_last = fs::exists(installer);
        // The support summary offered with Failed or Complete must already tell this run.
        const std::optional<RunRecord> told = last_run.load();
        EXPECT_TRUE(told && told->failure.has_value() == failed) << stages.back() << " came before the record";
      }
    });
    view_model.emplace(std::make_shared<StageSlot>(), receiver.target());
    worker_entry(*view_model, std::make_unique<test::FakeSteps>(std::move(script)), last_run);

    ASSERT_GE(stages.size(), 2u);
    EXPECT_EQ(stages.back(), test.last_stage);
    EXPECT_EQ(receiver.received(), stages.size());
    EXPECT_EQ(last_run.load()->failure, test.recorded);
    // Failed follows the installer's deletion; Complete goes out before it.
    EXPECT_EQ(installer_present_at_last, !test.failure.has_value());
    EXPECT_FALSE(fs::exists(installer));
  }
}

}  // namespace
}  // namespace ombrel
