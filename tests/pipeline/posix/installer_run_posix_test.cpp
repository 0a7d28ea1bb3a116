// How the POSIX process back end maps what only POSIX has onto the installer's failure texts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pipeline/installer_run.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/test_child.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;

std::string run_and_describe(const std::string& path) {
  initialize_translations_for_testing({"en-US"});
  test::RecordingReporter reporter;
  const StepResult<Done> result = run_installer(path, reporter);
  return result ? "<success>" : describe_failure(result.error());
}

TEST(RunInstallerPosixTest, InstallerKilledByASignalIsANonZeroExit) {
  test::ScopedEnv abort_env("OMBREL_TEST_CHILD_ABORT", "1");
  EXPECT_EQ(run_and_describe(test::test_child_path()), "Installer exited with code 134");  // 128 + SIGABRT
}

TEST(RunInstallerPosixTest, FileWithoutExecutePermissionIsAccessDenied) {
  test::TempFolder folder("ombrel-run-installer-posix");
  const fs::path installer = folder.path() / "installer.exe";
  std::ofstream(installer) << "#!/bin/sh\nexit 0\n";
  fs::permissions(installer, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(run_and_describe(installer.string()), "Could not launch installer (error 5)");
}

}  // namespace
}  // namespace ombrel
