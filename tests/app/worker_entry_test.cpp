// worker_entry, the one sender of Failed: a failure or a fault of a step ends the run in Failed
// with its text, sent after the installer was deleted. Notices go to a real receiver that takes
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

TEST(WorkerEntryTest, AFailedOrThrowingInstallerRunEndsInFailedAfterTheInstallerIsDeleted) {
  struct Case {
    const char* name;
    bool throws;  // a fault of ours (here: an exception) rather than a listed failure
    std::string failed;
  };
  const Case cases[] = {
      {"failure", false, "Failed: Installer exited with code 3"},
      // Not a listed failure: still Failed, with the generic text, so the user can retry.
      {"exception", true, "Failed: " + tr_fmt(keys::kErrorUnexpectedFmt, "disk on fire")},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    test::TempFolder folder{"ombrel-worker"};
    const fs::path installer = folder.path() / "OmbrelLoomwork_fedcba9876543210.exe";
    test::StepScript script;
    script.installer_path = test::native_utf8(installer);
    script.download.action = [&](StageReporter*) { std::ofstream(installer, std::ios::binary) << "MZ"; };
    script.install.failure = "Installer exited with code 3";
    if (test.throws) script.install.action = [](StageReporter*) { throw std::runtime_error("disk on fire"); };

    std::vector<std::string> stages;
    bool installer_present_at_failed = true;
    std::optional<ViewModel> view_model;
    test::NoticeReceiver receiver([&] {
      std::optional<InstallStage> stage = view_model->take_pending();
      ASSERT_TRUE(stage.has_value()) << "a notice without a stage in the slot";
      stages.push_back(test::stage_text(*stage));
      if (std::holds_alternative<Failed>(*stage)) installer_present_at_failed = fs::exists(installer);
    });
    view_model.emplace(std::make_shared<StageSlot>(), receiver.target());
    worker_entry(*view_model, std::make_unique<test::FakeSteps>(std::move(script)));

    ASSERT_GE(stages.size(), 2u);
    EXPECT_EQ(stages.back(), test.failed);
    EXPECT_EQ(stages.end()[-2], "Installing");
    EXPECT_EQ(receiver.received(), stages.size());
    EXPECT_FALSE(installer_present_at_failed);
    EXPECT_FALSE(fs::exists(installer));
  }
}

}  // namespace
}  // namespace ombrel
