// Interop with a real web server: the manifest step and a resumed download against Debian's
// nginx (its own config and prefix, started through tools/testhost/nginx.sh), as a vendor's
// distribution host would answer them: gzip for JSON, 404, ETag/If-Range, 206.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "pipeline/downloader.h"
#include "pipeline/installer_file.h"
#include "pipeline/manifest_fetcher.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/test_host.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  const int status = pclose(pipe);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
}

void write_file(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class NginxInterop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { initialize_translations_for_testing({"en-US"}); }

  void SetUp() override {
    const fs::path ca = test::test_ca_dir();
    if (ca.empty()) GTEST_SKIP() << "this build has no test CA of its own";
    if (run("command -v nginx || test -x /usr/sbin/nginx && echo /usr/sbin/nginx").empty()) {
      GTEST_SKIP() << "nginx is not installed";
    }
    work_ = fs::temp_directory_path() / ("ombrel-nginx-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work_);
    fs::create_directories(work_ / "www");
    const std::string port =
        run(script_ + " start --state-dir '" + (work_ / "state").string() + "' --root '" + (work_ / "www").string() +
            "' --ca-cert '" + (ca / "ca.pem").string() + "' --ca-key '" + (ca / "ca.key").string() + "'");
    ASSERT_FALSE(port.empty()) << "nginx did not start; see " << (work_ / "state" / "error.log");
    origin_ = "https://localhost:" + port.substr(0, port.find_first_not_of("0123456789"));
  }

  void TearDown() override {
    if (!work_.empty()) {
      run(script_ + " stop --state-dir '" + (work_ / "state").string() + "'");
      std::error_code ignored;
      fs::remove_all(work_, ignored);
    }
  }

  std::string outcome(const std::string& base_path) const {
    ManifestFetchConfig config;
    config.base_url = origin_ + base_path;
    config.arch_tag = "x64";
    RunRecord record;
    const auto result = fetch_manifest(config, record);
    return result ? *result : "error: " + describe_failure(result.error());
  }

  const std::string script_ = std::string("bash '") + OMBREL_SOURCE_DIR + "/tools/testhost/nginx.sh'";
  fs::path work_;
  std::string origin_;
};

TEST_F(NginxInterop, ManifestAnswersOfARealServer) {
  // nginx gzips JSON (chunked, no Content-Length): the client must decode it transparently.
  std::string padding(20000, ' ');
  write_file(work_ / "www/dist/prod/win32-x64/latest.json",
             R"({"baseInstallFile": "setup.exe",)" + padding + R"("rolloutInstallFile": null})");
  EXPECT_EQ(outcome("/dist/"), origin_ + "/dist/prod/win32-x64/setup.exe");

  EXPECT_EQ(outcome("/missing/"), "error: Manifest fetch failed (HTTP 404)");

  write_file(work_ / "www/bad/prod/win32-x64/latest.json", "\xEF\xBB\xBF{}");
  EXPECT_EQ(outcome("/bad/"), "error: Invalid manifest JSON: expected value at line 1 column 1");
}

TEST_F(NginxInterop, PartialDownloadIsResumedWithIfRangeAndEndsByteIdentical) {
  std::string served(3'000'000, '\0');
  for (std::size_t i = 0; i < served.size(); ++i) served[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  write_file(work_ / "www/setup.bin", served);
  const std::string url = origin_ + "/setup.bin";

  // A complete first download into the temp folder.
  const fs::path folder = work_ / "temp";
  fs::create_directories(folder);
  test::RecordingReporter reporter;
  DownloadOptions options;
  options.folder = folder.string();
  options.pause = [](std::chrono::milliseconds) {};
  RunRecord record;
  const auto first = download_installer(url, reporter, record, options);
  ASSERT_TRUE(first) << describe_failure(first.error());
  ASSERT_EQ(read_file(*first), served);

  const fs::path installer = *first;
  fs::path sidecar = installer;
  sidecar.replace_extension(".meta");
  // A run interrupted after 1,000,000 bytes leaves the prefix and the validators of its answer.
  std::filesystem::resize_file(installer, 1'000'000);
  const std::string head = run("curl -sk --http1.1 -I '" + url + "'");
  const auto etag_at = head.find("ETag: ");
  ASSERT_NE(etag_at, std::string::npos) << head;
  const std::string nginx_etag = head.substr(etag_at + 6, head.find('\r', etag_at) - etag_at - 6);
  write_file(sidecar, nginx_etag + "\n");

  const auto second = download_installer(url, reporter, record, options);
  ASSERT_TRUE(second) << describe_failure(second.error());
  EXPECT_EQ(read_file(*second), served);
  EXPECT_FALSE(fs::exists(sidecar));

  // nginx's access log shows the resumed request as a 206 of the remaining bytes.
  const std::string log = read_file(work_ / "state" / "access.log");
  EXPECT_NE(log.find("\" 206 2000000 "), std::string::npos) << log;
}

}  // namespace
}  // namespace ombrel
