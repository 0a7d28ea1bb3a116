#include "tests/support/test_host.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "tests/support/json_lines.h"

namespace ombrel::test {
namespace {

std::string read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_all(const std::filesystem::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// A document the host wrote (ports.json, one request log line); nothing when it is not whole
// JSON, as a line the host is still appending is not.
std::optional<CaseValue> host_json(std::string_view text) {
  try {
    return parse_case_json(text);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

#ifndef _WIN32
// Only a host of its own needs one; the Windows tests share the host ctest starts.
std::filesystem::path fresh_state_dir() {
  static int counter = 0;
  std::error_code ignored;
  const auto base = std::filesystem::temp_directory_path(ignored);
  const long pid = static_cast<long>(getpid());
  for (;;) {
    auto dir = base / ("ombrel-testhost-" + std::to_string(pid) + "-" + std::to_string(++counter));
    if (std::filesystem::create_directory(dir, ignored)) return dir;
    if (ignored) return {};
  }
}

// Starts `args` (found on PATH) with no input and both outputs in the file `log`; 0 when it
// cannot start.
pid_t spawn_logged(std::vector<std::string>& args, const std::string& log) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args.front().c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : 0;
}
#endif

}  // namespace

std::optional<std::string> LoggedRequest::header(const std::string& lower_case_name) const {
  const auto found = headers.find(lower_case_name);
  if (found == headers.end()) return std::nullopt;
  return found->second;
}

bool TestHost::attach(const std::filesystem::path& shared, TestHostProblem* problem) {
  std::error_code ignored;
  // The host of the whole test run: start this test from a clean state.
  state_dir_ = shared;
  root_ = state_dir_ / "www";
  if (!read_ports(problem)) return false;
  for (const auto& entry : std::filesystem::directory_iterator(root_, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
  std::filesystem::remove(state_dir_ / "control.json", ignored);
  clear_requests();
  return true;
}

#ifndef _WIN32
bool TestHost::spawn(std::initializer_list<std::string_view> listeners, TestHostProblem* problem) {
  const std::string ca_dir = OMBREL_TEST_CA_DIR;
  if (ca_dir.empty()) {
    problem->skip = true;
    problem->reason = "this build has no test CA of its own (OMBREL_EXTRA_CA_FILE is set)";
    return false;
  }
  state_dir_ = fresh_state_dir();
  if (state_dir_.empty()) {
    problem->reason = "cannot make a state folder";
    return false;
  }
  root_ = state_dir_ / "www";
  std::string listen;
  for (auto name : listeners) listen += (listen.empty() ? "" : ",") + std::string(name);
  const std::string state = state_dir_.string();
  const std::string log = (state_dir_ / "host.log").string();
  std::vector<std::string> args = {"python3",
                                   OMBREL_TESTHOST_SCRIPT,
                                   "serve",
                                   "--state-dir",
                                   state,
                                   "--ca-cert",
                                   ca_dir + "/ca.pem",
                                   "--ca-key",
                                   ca_dir + "/ca.key",
                                   "--cert-cache",
                                   ca_dir + "/leaf-cache",
                                   "--listen",
                                   listen,
                                   "--exit-with-parent"};
  const pid_t pid = spawn_logged(args, log);
  if (pid == 0) {
    problem->reason = "cannot start python3";
    return false;
  }
  child_pid_ = pid;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(state_dir_ / "ports.json")) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      child_pid_ = 0;
      problem->reason = "the host ended at start: " + read_all(log);
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      problem->reason = "the host did not start within 60 s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!read_ports(problem)) return false;
  return true;
}
#endif

std::unique_ptr<TestHost> TestHost::start(std::initializer_list<std::string_view> listeners, TestHostProblem* problem) {
  std::unique_ptr<TestHost> host(new TestHost());
  if (const char* shared = std::getenv("OMBREL_TEST_HOST_DIR"); shared != nullptr && *shared != '\0') {
    if (!host->attach(shared, problem)) return nullptr;
  } else {
#ifdef _WIN32
    problem->skip = true;
    problem->reason = "OMBREL_TEST_HOST_DIR is not set (run the Windows tests through ctest)";
    return nullptr;
#else
    if (!host->spawn(listeners, problem)) return nullptr;
#endif
  }

  for (auto name : listeners) {
    if (host->ports_.count(std::string(name)) == 0) {
      problem->reason = "the host has no listener " + std::string(name);
      return nullptr;
    }
  }
  return host;
}

bool TestHost::read_ports(TestHostProblem* problem) {
  const std::optional<CaseValue> ports = host_json(read_all(state_dir_ / "ports.json"));
  if (!ports || ports->members.empty()) {
    problem->reason = "no readable ports.json in " + state_dir_.string();
    return false;
  }
  for (const auto& [name, port] : ports->members) {
    if (name != "pid") ports_[name] = port.text;
  }
  return true;
}

TestHost::~TestHost() {
#ifndef _WIN32
  if (child_pid_ != 0) {
    kill(static_cast<pid_t>(child_pid_), SIGTERM);
    int status = 0;
    waitpid(static_cast<pid_t>(child_pid_), &status, 0);
    std::error_code ignored;
    std::filesystem::remove_all(state_dir_, ignored);
  }
#endif
}

std::string TestHost::origin(std::string_view listener) const {
  const auto found = ports_.find(std::string(listener));
  const std::string port = found == ports_.end() ? "0" : found->second;
  return std::string(listener == "plain" ? "http" : "https") + "://localhost:" + port;
}

std::string TestHost::url(std::string_view path, std::string_view listener) const {
  return origin(listener) + std::string(path);
}

std::filesystem::path TestHost::write_file(std::string_view relative_path, std::string_view content) const {
  auto path = root_ / std::filesystem::path(std::string(relative_path)).relative_path();
  std::filesystem::create_directories(path.parent_path());
  write_all(path, content);
  return path;
}

void TestHost::set_rules(std::string_view rules_json, bool gzip_json) {
  // A new id makes every control file differ from the last, so the host resets its counters
  // even when a test sets the same rules twice. The time keeps ids apart across the tests and
  // processes that share one host under Wine, whose counters all start at 1.
  const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
  std::string text = "{\"id\": \"" + std::to_string(stamp) + "-" + std::to_string(++control_generation_) + "\"" +
                     ", \"gzip_json\": " + (gzip_json ? "true" : "false") + ", \"rules\": " + std::string(rules_json) +
                     "}";
  const auto tmp = state_dir_ / "control.json.tmp";
  write_all(tmp, text);
  std::filesystem::rename(tmp, state_dir_ / "control.json");
}

std::vector<LoggedRequest> TestHost::requests() const {
  std::vector<LoggedRequest> out;
  std::istringstream lines(read_all(state_dir_ / "requests.jsonl"));
  std::string line;
  while (std::getline(lines, line)) {
    const std::optional<CaseValue> fields = host_json(line);
    if (!fields) continue;
    LoggedRequest request;
    request.listener = fields->string_at("listener");
    request.method = fields->string_at("method");
    request.path = fields->string_at("path");
    if (const CaseValue* status = fields->find("status")) request.status = std::atoi(status->text.c_str());
    if (const CaseValue* headers = fields->find("headers")) {
      for (const auto& [name, value] : headers->members) request.headers[name] = value.text;
    }
    out.push_back(std::move(request));
  }
  return out;
}

void TestHost::clear_requests() const { write_all(state_dir_ / "requests.jsonl", ""); }

std::filesystem::path test_ca_dir() { return std::filesystem::path(OMBREL_TEST_CA_DIR); }

}  // namespace ombrel::test
