// Test build only: pipeline steps that follow a script, so the end-to-end tests can put the
// real window through any sequence of stages without a network.
//
// OMBREL_E2E_RUNS holds one script per run, separated by '|' (the last one repeats for any
// further run). A script is a comma-separated list of actions "step.verb[=argument]", done in
// order when that step is called; a step without a failing action succeeds.
//   steps: fetch, download, install, find, launch
//   verbs: sleep=MS, hang (never returns), progress=FRACTION (download, install: posts it),
//          fail=TEXT (fails as an unexpected fault described by TEXT), found=PATH (find)
// Each call is appended to the file OMBREL_E2E_LOG, if set, one line per call ("run 2",
// "fetch", ...), so tests can count runs.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/real_steps.h"

namespace ombrel {
namespace {

struct Action {
  std::string step;
  std::string verb;
  std::string argument;
};

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void log_line(const std::string& line) {
  static std::mutex mutex;
  const std::string path = environment("OMBREL_E2E_LOG");
  if (path.empty()) return;
  std::lock_guard lock(mutex);
  std::ofstream(path, std::ios::app) << line << '\n';
}

std::vector<Action> script_for_run(int run) {
  const std::vector<std::string> runs = split(environment("OMBREL_E2E_RUNS"), '|');
  const std::string& script = runs[static_cast<size_t>(run) < runs.size() ? static_cast<size_t>(run) : runs.size() - 1];
  std::vector<Action> actions;
  for (const std::string& token : split(script, ',')) {
    const auto dot = token.find('.');
    if (token.empty() || dot == std::string::npos) continue;
    const auto equals = token.find('=', dot);
    actions.push_back({token.substr(0, dot),
                       token.substr(dot + 1, equals == std::string::npos ? std::string::npos : equals - dot - 1),
                       equals == std::string::npos ? "" : token.substr(equals + 1)});
  }
  return actions;
}

class ScriptedSteps final : public PipelineSteps {
 public:
  explicit ScriptedSteps(int run) : actions_(script_for_run(run)) { log_line("run " + std::to_string(run + 1)); }

  StepResult<std::string> fetch_manifest(RunRecord&) override {
    if (auto failure = perform("fetch", nullptr)) return step_failure(FailureReason::kUnexpectedFault, 0, *failure);
    return std::string("https://localhost/OmbrelLoomworkSetup.exe");
  }
  StepResult<std::string> download_installer(const std::string&, StageReporter& reporter, RunRecord&) override {
    if (auto failure = perform("download", &reporter))
      return step_failure(FailureReason::kUnexpectedFault, 0, *failure);
    reporter.set_progress(1.0);
    // A path that never exists: resetting the installer file then deletes nothing.
    return std::string("C:\\ombrel-e2e-no-such-dir\\OmbrelLoomworkSetup.exe");
  }
  StepResult<Done> check_installer(const std::string&, RunRecord&) override { return Done{}; }
  StepResult<Done> run_installer(const std::string&, StageReporter& reporter) override {
    reporter.send_stage(Installing{});
    if (auto failure = perform("install", &reporter)) return step_failure(FailureReason::kUnexpectedFault, 0, *failure);
    return Done{};
  }
  std::optional<std::string> find_installed_app() override {
    perform("find", nullptr);
    if (found_.empty()) return std::nullopt;
    return found_;
  }
  void launch_app(const std::string&) override { perform("launch", nullptr); }

 private:
  std::optional<std::string> perform(const std::string& step, StageReporter* reporter) {
    log_line(step);
    for (const Action& action : actions_) {
      if (action.step != step) continue;
      if (action.verb == "sleep") {
        Sleep(static_cast<DWORD>(std::strtoul(action.argument.c_str(), nullptr, 10)));
      } else if (action.verb == "hang") {
        for (;;) Sleep(INFINITE);
      } else if (action.verb == "progress" && reporter != nullptr) {
        reporter->set_progress(std::strtod(action.argument.c_str(), nullptr));
      } else if (action.verb == "fail") {
        return action.argument;
      } else if (action.verb == "found") {
        found_ = action.argument;
      }
    }
    return std::nullopt;
  }

  std::vector<Action> actions_;
  std::string found_;
};

}  // namespace

std::unique_ptr<PipelineSteps> make_real_steps() {
  // Called on the main thread only (start_worker).
  static int runs = 0;
  return std::make_unique<ScriptedSteps>(runs++);
}

}  // namespace ombrel
