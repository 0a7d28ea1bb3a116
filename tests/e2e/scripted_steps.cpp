// Test build only: pipeline steps that follow a script, so the end-to-end tests can put the
// real window through any sequence of stages without a network.
//
// OMBREL_E2E_RUNS holds one script per run, separated by '|' (the last one repeats for any
// further run). A script is a comma-separated list of actions "step.verb[=argument]", done in
// order when that step is called; a step without a failing action succeeds.
//   steps: fetch, download, install, find, launch
//   verbs: sleep=MS, hang (never returns), progress=FRACTION (download, install: posts it),
//          fail=TEXT (fails as an unexpected fault described by TEXT), found=PATH (find)
// Each run and call is appended to the file OMBREL_E2E_LOG, if set, one line each ("run 2",
// "fetch_manifest", ...), so tests can count runs.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/real_steps.h"
#include "tests/support/fake_steps.h"

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

std::vector<Action> actions_for_run(int run) {
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

// The part of a step an action sets up: sleep, hang and progress become its action (in script
// order), fail its failure.
void add_action(test::FakeStep& step, const Action& action) {
  std::function<void(StageReporter*)> then;
  if (action.verb == "sleep") {
    const auto ms = static_cast<DWORD>(std::strtoul(action.argument.c_str(), nullptr, 10));
    then = [ms](StageReporter*) { Sleep(ms); };
  } else if (action.verb == "hang") {
    then = [](StageReporter*) {
      for (;;) Sleep(INFINITE);
    };
  } else if (action.verb == "progress") {
    const double fraction = std::strtod(action.argument.c_str(), nullptr);
    then = [fraction](StageReporter* reporter) {
      if (reporter != nullptr) reporter->set_progress(fraction);
    };
  } else if (action.verb == "fail" && !step.failure) {
    step.failure = PipelineError{FailureReason::kUnexpectedFault, 0, action.argument};
  }
  if (!then || step.failure) return;  // nothing after the first failure runs
  step.action = [first = std::move(step.action), then = std::move(then)](StageReporter* reporter) {
    if (first) first(reporter);
    then(reporter);
  };
}

test::StepScript script_for_run(int run) {
  log_line("run " + std::to_string(run + 1));
  test::StepScript script;
  // A path that never exists: resetting the installer file then deletes nothing.
  script.installer_path = "C:\\ombrel-e2e-no-such-dir\\OmbrelLoomworkSetup.exe";
  script.on_call = [](const std::string& call) { log_line(call); };
  for (const Action& action : actions_for_run(run)) {
    if (action.step == "find" && action.verb == "found") script.app_path = action.argument;
    test::FakeStep* step = action.step == "fetch"      ? &script.fetch
                           : action.step == "download" ? &script.download
                           : action.step == "install"  ? &script.install
                           : action.step == "find"     ? &script.find
                           : action.step == "launch"   ? &script.launch
                                                       : nullptr;
    if (step != nullptr) add_action(*step, action);
  }
  return script;
}

}  // namespace

std::unique_ptr<PipelineSteps> make_real_steps() {
  // Called on the main thread only (start_worker).
  static int runs = 0;
  return std::make_unique<test::FakeSteps>(script_for_run(runs++));
}

}  // namespace ombrel
