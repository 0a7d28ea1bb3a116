// The manifest-check program run as a real child process: its one output line and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "tests/support/test_child.h"

extern char** environ;

namespace ombrel {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun run_tool(const std::vector<std::string>& args, const std::filesystem::path& folder) {
  const std::filesystem::path out_file = folder / "stdout.txt";
  std::vector<std::string> argv_text = {OMBREL_MANIFEST_CHECK};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_text.size() + 1);
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ToolRun run;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int wait_status = 0;
  if (waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  std::ifstream in(out_file, std::ios::binary);
  run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

class ManifestCheckTool : public ::testing::Test {
 protected:
  std::string manifest(const std::string& name, const std::string& content) const {
    const auto path = folder_.path() / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  ToolRun run(const std::vector<std::string>& args) const { return run_tool(args, folder_.path()); }

  test::TempFolder folder_{"manifest-check"};
};

TEST_F(ManifestCheckTool, PrintsTheInstallerUrlAgainstTheBuiltInManifestUrl) {
  const ToolRun result = run({manifest("m.json", R"({"latestInstallFile":null,"baseInstallFile":"setup.exe"})")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "installer: " + std::string(built_in_base_url()) + "prod/win32-x64/setup.exe\n");
}

TEST_F(ManifestCheckTool, ResolvesAgainstAGivenManifestUrl) {
  const std::string file = manifest("m.json", R"(["/files/a.exe",null,null])");
  const ToolRun result = run({"--manifest-url", "https://h.example:8443/p/latest.json?x=1", file});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "installer: https://h.example:8443/files/a.exe\n");
}

TEST_F(ManifestCheckTool, PrintsTheFullEnglishErrorText) {
  ToolRun result = run({manifest("bom.json", "\xEF\xBB\xBF{}")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "error: Invalid manifest JSON: expected value at line 1 column 1\n");

  result = run({manifest("dup.json", "{\n  \"baseInstallFile\": \"a\",\n  \"baseInstallFile\": \"b\"\n}")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "error: Invalid manifest JSON: duplicate field `baseInstallFile` at line 3 column 19\n");

  result = run({manifest("empty-choice.json", R"({"latestInstallFile":"","baseInstallFile":"b"})")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "error: Manifest missing baseInstallFile field\n");
}

// This build checks no publisher and this system reads no Authenticode: the tool says both.
TEST_F(ManifestCheckTool, CheckInstallerSaysTheCheckIsOff) {
  const ToolRun result = run({"--check-installer", manifest("setup.exe", "MZ")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "signer: unknown (no Authenticode on this system)\n"
            "check: off (this build names no publisher and starts any installer)\n");
}

TEST_F(ManifestCheckTool, UsageErrorsPrintNothingOnStandardOutput) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--manifest-url"},
                                             {"--bogus", "x"},
                                             {(folder_.path() / "missing.json").string()},
                                             {"--check-installer"},
                                             {"--check-installer", (folder_.path() / "missing.exe").string()}}) {
    const ToolRun result = run(args);
    EXPECT_EQ(result.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(result.out, "");
  }
}

}  // namespace
}  // namespace ombrel
