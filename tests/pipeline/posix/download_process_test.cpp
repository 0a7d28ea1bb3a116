// A run of the program killed in the middle of the download leaves a partial file that the next
// run continues. The killed run is a real child process: this test executable started again
// with a filter that selects only DownloadChildProcess, which then downloads like the product.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/downloader.h"
#include "pipeline/installer_file.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/test_child.h"
#include "tests/support/test_host.h"

extern char** environ;

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kUrlVariable = "OMBREL_DOWNLOAD_CHILD_URL";
constexpr const char* kFolderVariable = "OMBREL_DOWNLOAD_CHILD_FOLDER";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The child's side: does nothing unless the parent test started this process.
TEST(DownloadChildProcess, DownloadsTheUrlItWasGiven) {
  const char* url = std::getenv(kUrlVariable);
  const char* folder = std::getenv(kFolderVariable);
  if (url == nullptr || folder == nullptr) GTEST_SKIP() << "runs only as the child of DownloadAcrossRuns";
  DownloadOptions options;
  options.folder = folder;
  test::RecordingReporter reporter;
  RunRecord record;
  const auto result = download_installer(url, reporter, record, options);
  EXPECT_TRUE(result.has_value());
}

pid_t start_download_child(const std::string& url, const std::string& folder) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  environment.push_back(std::string(kUrlVariable) + "=" + url);
  environment.push_back(std::string(kFolderVariable) + "=" + folder);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::string program = fs::read_symlink("/proc/self/exe").string();
  std::string filter = "--gtest_filter=DownloadChildProcess.*";
  char* argv[] = {program.data(), filter.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return 0;
  return pid;
}

TEST(DownloadAcrossRuns, KilledRunIsContinuedByTheNextRun) {
  OMBREL_START_TEST_HOST(host, "main");
  std::string served(3'000'000, '\0');
  std::mt19937 random(11);
  for (char& c : served) c = static_cast<char>(random());
  host->write_file("/killed.bin", served);
  host->set_rules(R"([{"path": "/killed.bin", "etag": "\"v1\"", "rate": 1000000}])");
  const std::string url = host->url("/killed.bin");
  test::TempFolder folder("ombrel-killed");
  const fs::path installer = folder.path() / installer_file_name(url);
  const fs::path sidecar = fs::path(installer).replace_extension(".meta");

  const pid_t child = start_download_child(url, folder.path().string());
  ASSERT_GT(child, 0);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  const auto size_now = [&] {
    std::error_code missing;
    const std::uintmax_t size = fs::file_size(installer, missing);
    return missing ? 0 : size;
  };
  while (size_now() < 500'000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own before it was killed";

  const std::uintmax_t left = fs::file_size(installer);
  ASSERT_GE(left, 500'000u);
  ASSERT_LT(left, served.size());
  EXPECT_EQ(read_file(installer), served.substr(0, left));
  EXPECT_EQ(read_file(sidecar).substr(0, 5), "\"v1\"\n");

  host->set_rules(R"([{"path": "/killed.bin", "etag": "\"v1\""}])");
  host->clear_requests();
  DownloadOptions options;
  options.folder = folder.path().string();
  test::RecordingReporter reporter;
  RunRecord record;
  const auto result = download_installer(url, reporter, record, options);

  ASSERT_TRUE(result.has_value()) << describe_failure(result.error());
  EXPECT_TRUE(read_file(installer) == served) << "the resumed installer differs from the served file";
  EXPECT_FALSE(fs::exists(sidecar));
  const auto log = host->requests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].header("range"), "bytes=" + std::to_string(left) + "-");
  EXPECT_EQ(log[0].header("if-range"), "\"v1\"");
  EXPECT_EQ(log[0].status, 206);
}

}  // namespace
}  // namespace ombrel
