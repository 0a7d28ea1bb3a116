// The installer run against real child processes: the stand-in installer (tests/child) records
// how it was started and ends the way the environment tells it to.
#include "pipeline/installer_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/held_file.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/stage_text.h"
#include "tests/support/test_child.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class RunInstallerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }

  // Runs the installer, checking on the way that Installing is the one stage sent and that
  // it went out before the child existed.
  StepResult<Done> run(const std::string& path, const InstallerRunOptions& options = {}) {
    notices_ = 0;
    record_existed_at_notice_ = false;
    test::RecordingReporter reporter([&](const InstallStage&) {
      ++notices_;
      record_existed_at_notice_ = fs::exists(record_);
    });
    StepResult<Done> result = run_installer(path, reporter, options);
    const std::vector<InstallStage> stages = reporter.stages();
    if (!stages.empty()) {
      EXPECT_EQ(test::stage_text(stages.back()), "Installing");
    }
    EXPECT_EQ(notices_, 1);
    EXPECT_FALSE(record_existed_at_notice_);
    return result;
  }

  std::string error_of(const StepResult<Done>& result) {
    return result ? "<success>" : describe_failure(result.error());
  }

  test::TempFolder folder_{"ombrel-run-installer"};
  fs::path record_ = folder_.path() / "record.txt";
  test::ScopedEnv record_env_{"OMBREL_TEST_CHILD_RECORD", test::native_utf8(record_)};
  int notices_ = 0;
  bool record_existed_at_notice_ = false;
};

TEST_F(RunInstallerTest, StartsTheInstallerSilentlyAndSucceedsOnExitCodeZero) {
  const std::string child = test::test_child_path();
  const StepResult<Done> result = run(child);
  EXPECT_TRUE(result) << error_of(result);

  const std::optional<test::ChildRecord> record = test::read_child_record(record_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->arguments, (std::vector<std::string>{child, "/S", "--currentuser"}));
#ifdef _WIN32
  EXPECT_EQ(record->command_line, "\"" + child + "\" /S --currentuser");
#endif
}

TEST_F(RunInstallerTest, PathWithBlanksStaysOneArgument) {
  const fs::path folder = folder_.path() / "Program with blanks";
  fs::create_directories(folder);
  fs::path copy = folder / "ombrel test child";
#ifdef _WIN32
  copy += ".exe";
#endif
  fs::copy_file(test::test_child_path(), copy);
  fs::permissions(copy, fs::perms::owner_all, fs::perm_options::add);
  const std::string path = test::native_utf8(copy);

  const StepResult<Done> result = run(path);
  EXPECT_TRUE(result) << error_of(result);
  const std::optional<test::ChildRecord> record = test::read_child_record(record_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->arguments, (std::vector<std::string>{path, "/S", "--currentuser"}));
}

// Gone before its start (a scanner's quarantine): the launch text with the code for the window,
// a reason of its own for the summary.
TEST_F(RunInstallerTest, MissingInstallerIsALaunchErrorWithTheSystemCode) {
  const std::string missing = test::native_utf8(folder_.path() / "no-such-installer.exe");
  const StepResult<Done> result = run(missing);
  EXPECT_EQ(error_of(result), "Could not launch installer (error 2)");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason, FailureReason::kInstallerBlocked);
}

struct ExitCase {
  const char* exit_code;
  const char* message;
};

class RunInstallerExitTest : public RunInstallerTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(RunInstallerExitTest, NonZeroExitCodeIsReportedInUnsignedDecimal) {
  test::ScopedEnv exit_env("OMBREL_TEST_CHILD_EXIT", GetParam().exit_code);
  EXPECT_EQ(error_of(run(test::test_child_path())), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Codes, RunInstallerExitTest,
                         ::testing::Values(ExitCase{"3", "Installer exited with code 3"},
                                           ExitCase{"1", "Installer exited with code 1"},
                                           ExitCase{"255", "Installer exited with code 255"}
#ifdef _WIN32
                                           ,
                                           // An exit code is never read as the launch's "cancelled".
                                           ExitCase{"1223", "Installer exited with code 1223"},
                                           ExitCase{"0xC0000005", "Installer exited with code 3221225477"},
                                           ExitCase{"0x80000000", "Installer exited with code 2147483648"},
                                           ExitCase{"0xFFFFFFFF", "Installer exited with code 4294967295"}
#endif
                                           ));

class HeldFileRunTest : public RunInstallerTest, public ::testing::WithParamInterface<bool> {};

// What runs is the checked file, and it stays put while it runs: with its folder renamed and
// another program put at its old path between the check and the start, the other program never
// runs (the held file does, or nothing); and (Windows) the running installer's file cannot be
// renamed away until the installer has ended, as a self-extractor reading itself needs.
TEST_P(HeldFileRunTest, TheHeldFileIsWhatRunsAndStaysUntilTheInstallerEnds) {
  const bool swap_folder = GetParam();
  const fs::path checked = folder_.path() / "checked";
  const fs::path moved = folder_.path() / "moved";
  fs::path name = "installer";
#ifdef _WIN32
  name += ".exe";
#endif
  const auto put_program = [&](const fs::path& folder) {
    fs::create_directory(folder);
    fs::copy_file(test::test_child_path(), folder / name);
    fs::permissions(folder / name, fs::perms::owner_all, fs::perm_options::add);
  };
  put_program(checked);
  Expected<platform::HeldFile, std::uint32_t> held = platform::HeldFile::open(test::native_utf8(checked / name));
  ASSERT_TRUE(held.has_value()) << held.error();
  std::error_code not_renamed;
  if (swap_folder) {
    fs::rename(checked, moved, not_renamed);  // NTFS refuses it while a file inside is open
    if (not_renamed) GTEST_SKIP() << "the system keeps the folder of an open file in place";
    put_program(checked);
  }

  test::ScopedEnv sleep_env("OMBREL_TEST_CHILD_SLEEP_MS", "2000");
  test::RecordingReporter reporter;
  StepResult<Done> result = step_failure(FailureReason::kUnexpectedFault);
  std::atomic<bool> ended = false;
  std::thread installer([&] {
    result = run_installer(std::move(held).value(), reporter);
    ended = true;
  });
  while (!ended && !fs::exists(record_)) std::this_thread::sleep_for(10ms);
  const fs::path started = swap_folder ? moved / name : checked / name;
#ifdef _WIN32
  if (!ended) {
    std::error_code refused;
    fs::rename(started, folder_.path() / "away.exe", refused);
    EXPECT_TRUE(refused) << "the running installer's file was renamed away";
  }
#endif
  installer.join();

  const std::optional<test::ChildRecord> record = test::read_child_record(record_);
  if (swap_folder && !result) {
    // Where the system does not follow the rename, the identity check refuses the other file.
    EXPECT_EQ(result.error(), (PipelineError{FailureReason::kInstallerHold, 1006, {}}));
    EXPECT_FALSE(record.has_value()) << "the other program ran";
    return;
  }
  ASSERT_TRUE(result.has_value()) << error_of(result);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->arguments.front(), test::native_utf8(started)) << "another program than the checked one ran";
}

INSTANTIATE_TEST_SUITE_P(Swaps, HeldFileRunTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "folder_swapped" : "in_place"); });

struct HeldStartCase {
  const char* name;
  std::chrono::milliseconds hold;
  std::chrono::milliseconds budget;
  const char* outcome;
};

class HeldStartTest : public RunInstallerTest, public ::testing::WithParamInterface<HeldStartCase> {};

// Security software reads a fresh executable before it lets anyone start it: a start refused
// while another program holds the file is tried again with growing pauses, within a budget.
TEST_P(HeldStartTest, StartIsRetriedWhileAnotherProgramHoldsTheFile) {
  const HeldStartCase& c = GetParam();
  fs::path installer = folder_.path() / "held installer";
#ifdef _WIN32
  installer += ".exe";
#endif
  fs::copy_file(test::test_child_path(), installer);
  fs::permissions(installer, fs::perms::owner_all, fs::perm_options::add);
  const std::optional<long> holder = test::start_file_holder(installer, c.hold, folder_.path() / "holder.txt");
  ASSERT_TRUE(holder.has_value()) << "the holder did not start";

  InstallerRunOptions options;
  options.hold_wait.budget = c.budget;
  std::vector<std::chrono::milliseconds> pauses;
  options.hold_wait.pause = [&](std::chrono::milliseconds pause) {
    pauses.push_back(pause);
    std::this_thread::sleep_for(pause);
  };
  EXPECT_EQ(error_of(run(test::native_utf8(installer), options)), c.outcome);
  EXPECT_EQ(test::read_child_record(record_).has_value(), std::string(c.outcome) == "<success>");
  ASSERT_FALSE(pauses.empty()) << "the first start must have met the hold";
  EXPECT_EQ(pauses.front(), 100ms);
  std::chrono::milliseconds waited{0};
  for (const auto pause : pauses) waited += pause;
  EXPECT_LE(waited, c.budget);
  test::kill_child(*holder);
}

INSTANTIATE_TEST_SUITE_P(Holds, HeldStartTest,
                         ::testing::Values(HeldStartCase{"released_within_the_budget", 1500ms, 10s, "<success>"},
                                           HeldStartCase{"held_past_the_budget", 60s, 1s,
                                                         "Could not launch installer (error 32)"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunInstallerTest, InstallerStillRunningAt1799_9SecondsIsAwaitedAndTimesOutAt1800) {
  test::ScopedEnv sleep_env("OMBREL_TEST_CHILD_SLEEP_MS", "60000");
  // Readings of the clock: the start, then one per unfinished one-second poll.
  const auto origin = std::chrono::steady_clock::time_point{} + 1000h;
  const std::vector<std::chrono::steady_clock::duration> readings = {0s, 1799900ms, 1800s, 1801s};
  std::size_t calls = 0;
  InstallerRunOptions options;
  options.now = [&] { return origin + readings[std::min(calls++, readings.size() - 1)]; };

  EXPECT_EQ(error_of(run(test::test_child_path(), options)), "Installation failed: timed out after 30 minutes");
  EXPECT_EQ(calls, 3u) << "the 1799.9 s poll must wait on, the first poll at 1800 s must stop";

  const std::optional<test::ChildRecord> record = test::await_child_record(record_);
  ASSERT_TRUE(record);
  EXPECT_TRUE(test::child_running(record->pid)) << "a timed-out installer is left running";
  test::kill_child(record->pid);
}

TEST_F(RunInstallerTest, TimeLimitIsCountedOnTheRealClockInWholeSeconds) {
  test::ScopedEnv sleep_env("OMBREL_TEST_CHILD_SLEEP_MS", "60000");
  InstallerRunOptions options;
  options.time_limit = 2s;
  const auto start = std::chrono::steady_clock::now();
  // The text names the limit in whole minutes, a part of one counting as one.
  EXPECT_EQ(error_of(run(test::test_child_path(), options)), "Installation failed: timed out after 1 minutes");
  const auto took = std::chrono::steady_clock::now() - start;
  // Polls end near 1 s and 2 s; the one near 2 s may still read 1.99 s, so a third can follow.
  EXPECT_GE(took, 2s);
  EXPECT_LT(took, 10s);
  if (const std::optional<test::ChildRecord> record = test::await_child_record(record_)) test::kill_child(record->pid);
}

}  // namespace
}  // namespace ombrel
