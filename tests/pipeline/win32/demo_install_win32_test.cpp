// The installer step and the lookup together, against the demo payload installer of
// tools/demo_payload under Wine: a real silent install into a temporary folder, registered in
// the real registry, found by the lookup, and started through the shell.
#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "pipeline/app_lookup.h"
#include "pipeline/installer_run.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/win32/wide.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/test_child.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Built by the same build: <build>/tools/demo_payload/demo-installer.exe, tests in <build>/tests.
fs::path demo_installer() {
  return fs::path(test::test_child_path()).parent_path().parent_path() / "tools" / "demo_payload" /
         "demo-installer.exe";
}

// A copy of the demo installer whose trailer selects `behaviour`.
fs::path trailed_copy(const fs::path& folder, const std::string& behaviour) {
  fs::path copy = folder / "OmbrelLoomwork_0123456789abcdef.exe";
  fs::copy_file(demo_installer(), copy, fs::copy_options::overwrite_existing);
  std::ofstream(copy, std::ios::binary | std::ios::app) << "\nOMBREL-DEMO:" << behaviour << "\n";
  return copy;
}

std::string run(const fs::path& installer) {
  test::RecordingReporter reporter;
  const StepResult<Done> result = run_installer(test::native_utf8(installer), reporter);
  return result ? "<success>" : describe_failure(result.error());
}

class DemoInstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }

  void SetUp() override { ASSERT_TRUE(fs::exists(demo_installer())) << demo_installer(); }

  // The system's registry and folders, but only files below this test's folder count: the
  // shared prefix may hold installations of other runs, which are probed and passed over.
  std::optional<std::string> find() {
    AppLookupSources sources = system_app_lookup_sources();
    const std::string mine = test::native_utf8(folder_.path()) + "\\";
    sources.is_file = [mine](const std::string& path) {
      return path.starts_with(mine) && platform::is_regular_file(path);
    };
    return find_installed_app(sources);
  }

  void TearDown() override {
    // The subkey sorts after the demo's own "OmbrelLoomwork", so a concurrent end-to-end run
    // finds its own registration first.
    RegDeleteTreeW(HKEY_CURRENT_USER,
                   (L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + win32::to_wide(key_)).c_str());
  }

  test::TempFolder folder_{"ombrel-demo-install"};
  fs::path target_ = folder_.path() / "Installed Here";
  std::string key_ = "zz-OmbrelTest-" + std::to_string(GetCurrentProcessId());
  test::ScopedEnv marker_env_{"OMBREL_DEMO_MARKER_DIR", test::native_utf8(folder_.path())};
  test::ScopedEnv app_seconds_env_{"OMBREL_DEMO_APP_SECONDS", "1"};
};

TEST_F(DemoInstallTest, SilentInstallIsFoundThroughItsExpandableRegistrationAndStarts) {
  test::ScopedEnv base_env("OMBREL_TEST_INSTALL_BASE", test::native_utf8(folder_.path()));
  const fs::path installer =
      trailed_copy(folder_.path(), "expand;trailing;key=" + key_ + ";dir=%OMBREL_TEST_INSTALL_BASE%\\Installed Here");
  ASSERT_EQ(run(installer), "<success>");

  const std::string expected = test::native_utf8(target_ / "Ombrel Loomwork.exe");
  EXPECT_EQ(find(), expected);

  std::ifstream ran(folder_.path() / "ombrel-demo-installer-ran.txt");
  std::string first_line;
  std::getline(ran, first_line);
  EXPECT_EQ(first_line, "cmdline=\"" + test::native_utf8(installer) + "\" /S --currentuser");

  platform::launch_app(expected);
  const fs::path started = folder_.path() / "ombrel-demo-app-started.txt";
  for (int i = 0; i < 200 && !fs::exists(started); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(fs::exists(started)) << "the installed demo application did not start";
  std::ifstream marker(started);
  std::string path_line;
  std::getline(marker, path_line);
  EXPECT_EQ(path_line, "path=" + expected);
  std::this_thread::sleep_for(1500ms);  // let it close itself before its folder goes
}

TEST_F(DemoInstallTest, FailingAndRefusingInstallersGiveTheirExitCodes) {
  EXPECT_EQ(run(trailed_copy(folder_.path(), "exit=0xC0000005")), "Installer exited with code 3221225477");
  EXPECT_EQ(run(trailed_copy(folder_.path(), "noinstall")), "<success>");
  EXPECT_EQ(find(), std::nullopt);
}

}  // namespace
}  // namespace ombrel
