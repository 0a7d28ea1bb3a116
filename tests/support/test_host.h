#pragma once
// The test distribution host (tools/testhost/testhost.py): a real HTTPS server on 127.0.0.1
// that serves a folder like nginx and plays faults scripted per test.
//
// Natively each TestHost is its own python3 child process. Under Wine the Windows test cannot
// start a Linux process, so ctest starts one host for the whole run (fixture "testhost") and
// passes its state folder in OMBREL_TEST_HOST_DIR; TestHost then attaches to it and resets it.
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel::test {

// One request as the host saw it.
struct LoggedRequest {
  std::string listener;
  std::string method;
  std::string path;                            // with the query
  int status = 0;                              // what the host answered
  std::map<std::string, std::string> headers;  // lower-case names

  std::optional<std::string> header(const std::string& lower_case_name) const;
};

// Why no host could be had. `skip` when this build or runner has none by design (no test CA,
// a Windows test started without the ctest fixture); otherwise starting it failed.
struct TestHostProblem {
  bool skip = false;
  std::string reason;
};

// Folder of this build's own test CA (ca.pem, ca.key); empty when the build has none.
std::filesystem::path test_ca_dir();

class TestHost {
 public:
  // Listeners: "main" (certificate for localhost by the build's test CA), "plain" (HTTP),
  // "wrongname", "expired", "notyetvalid", "unknownca" (certificates the client must refuse).
  // Gives nullptr, with the reason in *problem, when no host can be had.
  static std::unique_ptr<TestHost> start(std::initializer_list<std::string_view> listeners, TestHostProblem* problem);

  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // "https://localhost:PORT" (or http:// for "plain") followed by path, which starts with "/".
  std::string url(std::string_view path, std::string_view listener = "main") const;
  std::string origin(std::string_view listener = "main") const;

  // The served folder; empty when a test starts.
  const std::filesystem::path& root() const { return root_; }
  // Writes a file under root() (folders made as needed) and gives its full path.
  std::filesystem::path write_file(std::string_view relative_path, std::string_view content) const;

  // Replaces the scripted faults with this JSON array of rules (see testhost.py), e.g.
  // R"([{"path": "/a.bin", "first": 2, "status": 500}])". Counters start again from zero.
  void set_rules(std::string_view rules_json, bool gzip_json = true);

  // Requests since the start or the last clear_requests(), oldest first.
  std::vector<LoggedRequest> requests() const;
  void clear_requests() const;

 private:
  TestHost() = default;
  bool read_ports(TestHostProblem* problem);
  // Joins the host the whole test run shares, emptied for this test.
  bool attach(const std::filesystem::path& shared, TestHostProblem* problem);
#ifndef _WIN32
  // Starts a host of this test's own, with the named listeners.
  bool spawn(std::initializer_list<std::string_view> listeners, TestHostProblem* problem);
#endif

  std::filesystem::path state_dir_;
  std::filesystem::path root_;
  std::map<std::string, std::string> ports_;
  long child_pid_ = 0;  // POSIX child process, 0 when attached
  int control_generation_ = 0;
};

// For a test body: declares `var` with a started host, or skips the test when this runner has
// no host by design, or fails it when the host would not start.
#define OMBREL_START_TEST_HOST(var, ...)                                     \
  ::ombrel::test::TestHostProblem var##_problem;                             \
  auto var = ::ombrel::test::TestHost::start({__VA_ARGS__}, &var##_problem); \
  if (!var && var##_problem.skip) GTEST_SKIP() << var##_problem.reason;      \
  if (!var) FAIL() << "test host: " << var##_problem.reason

}  // namespace ombrel::test
