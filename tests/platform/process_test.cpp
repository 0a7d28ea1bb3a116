// The process back end against the real stand-in installer (tests/child): bounded waits,
// exit codes, letting go of a running child, and starting an application through the shell.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>
#include <thread>

#include "platform/shell.h"
#include "tests/support/test_child.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::array<std::string_view, 2> kArguments = {"/S", "--currentuser"};

class ProcessTest : public ::testing::Test {
 protected:
  test::TempFolder folder_{"ombrel-process"};
  fs::path record_ = folder_.path() / "record.txt";
  test::ScopedEnv record_env_{"OMBREL_TEST_CHILD_RECORD", test::native_utf8(record_)};
};

TEST_F(ProcessTest, BoundedWaitReportsNotYetThenTheEnd) {
  test::ScopedEnv sleep_env("OMBREL_TEST_CHILD_SLEEP_MS", "1200");
  test::ScopedEnv exit_env("OMBREL_TEST_CHILD_EXIT", "42");
  auto child = platform::start_process(test::test_child_path(), kArguments);
  ASSERT_TRUE(child) << child.error();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(child->wait_for_exit(300ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms) << "a wait that is not over takes its time";
  EXPECT_TRUE(child->wait_for_exit(10s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
  EXPECT_EQ(child->exit_code(), 42u);
  EXPECT_TRUE(child->wait_for_exit(0ms)) << "an ended child stays ended";
  EXPECT_EQ(child->exit_code(), 42u);
}

#ifdef _WIN32
TEST_F(ProcessTest, ExitCodeKeepsAll32Bits) {
  test::ScopedEnv exit_env("OMBREL_TEST_CHILD_EXIT", "0xC0000005");
  auto child = platform::start_process(test::test_child_path(), kArguments);
  ASSERT_TRUE(child) << child.error();
  ASSERT_TRUE(child->wait_for_exit(10s));
  EXPECT_EQ(child->exit_code(), 0xC0000005u);
}

TEST_F(ProcessTest, CommandLineIsTheQuotedPathAndTheArgumentsAsGiven) {
  auto child = platform::start_process(test::test_child_path(), kArguments);
  ASSERT_TRUE(child) << child.error();
  ASSERT_TRUE(child->wait_for_exit(10s));
  const std::optional<test::ChildRecord> record = test::read_child_record(record_);
  ASSERT_TRUE(record);
  std::string expected = "\"";
  expected += test::test_child_path();
  expected += "\" /S --currentuser";
  EXPECT_EQ(record->command_line, expected);
}
#endif

TEST_F(ProcessTest, StartFailuresGiveTheSystemErrorCode) {
  auto missing = platform::start_process(test::native_utf8(folder_.path() / "missing.exe"), kArguments);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), 2u);  // ERROR_FILE_NOT_FOUND
}

TEST_F(ProcessTest, ReleasedChildKeepsRunning) {
  test::ScopedEnv sleep_env("OMBREL_TEST_CHILD_SLEEP_MS", "30000");
  {
    auto child = platform::start_process(test::test_child_path(), kArguments);
    ASSERT_TRUE(child) << child.error();
    child->reset();
    EXPECT_FALSE(*child);
    EXPECT_FALSE(child->wait_for_exit(0ms)) << "nothing left to wait on";
  }
  const std::optional<test::ChildRecord> record = test::await_child_record(record_);
  ASSERT_TRUE(record);
  EXPECT_TRUE(test::child_running(record->pid));
  test::kill_child(record->pid);
}

TEST_F(ProcessTest, LaunchAppStartsTheProgramWithoutArgumentsAndReturnsAtOnce) {
  test::ScopedEnv sleep_env("OMBREL_TEST_CHILD_SLEEP_MS", "3000");
  const std::string child = test::test_child_path();
  const auto start = std::chrono::steady_clock::now();
  platform::launch_app(child);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms) << "no waiting for the application";
  const std::optional<test::ChildRecord> record = test::await_child_record(record_);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->arguments, std::vector<std::string>{child});
}

TEST_F(ProcessTest, LaunchAppOfAMissingFileIsSilent) {
  platform::launch_app(test::native_utf8(folder_.path() / "missing.exe"));
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(fs::exists(record_));
}

}  // namespace
}  // namespace ombrel
