// Worker threads as the window sees them: at most one run at a time, a retry that comes too
// early is dropped, a finished worker makes room for exactly one new run, and the runner can
// be dropped while a worker is still busy without waiting for it.
#include "app/pipeline_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/view.h"
#include "tests/support/fake_steps.h"
#include "tests/support/notice_receiver.h"
#include "tests/support/recording_controls.h"
#include "tests/support/stage_text.h"
#include "translations/translation_store.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

using namespace std::chrono_literals;

// A one-shot barrier between the test and a worker, shared so either side may outlive the other.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void pass() {
    std::unique_lock lock(mutex_);
    ++arrivals_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool wait_for_arrivals(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return arrivals_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int arrivals_ = 0;
};

// Steps of a run that cannot reach the server: the manifest step fails, optionally after
// waiting at `during_run`; `after_run` holds the worker inside worker_entry after its Failed.
std::unique_ptr<PipelineSteps> offline_steps(const std::shared_ptr<Gate>& during_run,
                                             const std::shared_ptr<Gate>& after_run) {
  test::StepScript script;
  script.fetch.failure = step_failure(FailureReason::kTransport, 7).error;
  if (during_run) script.fetch.action = [during_run](StageReporter*) { during_run->pass(); };
  if (after_run) script.on_destroy = [after_run] { after_run->pass(); };
  return std::make_unique<test::FakeSteps>(std::move(script));
}

bool wait_until_idle(const PipelineRunner& runner, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (runner.worker_busy()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The window's side: every notice drains the slot and renders what it found.
class WindowLoop {
 public:
  WindowLoop()
      : receiver_([this] {
          if (std::optional<InstallStage> stage = view_model_->take_pending()) {
            shown.push_back(test::stage_text(*stage));
            apply_stage(*stage, controls);
          }
        }) {
    view_model_.emplace(std::make_shared<StageSlot>(), receiver_.target());
  }

  const ViewModel& view_model() const { return *view_model_; }

  // Handles notices until `done` holds; false when the worker went quiet first.
  template <class Predicate>
  bool run_until(Predicate done) {
    while (!done()) {
      if (receiver_.pump(10s) == 0) return false;
    }
    return true;
  }

  std::vector<std::string> shown;
  test::RecordingControls controls;

 private:
  std::optional<ViewModel> view_model_;
  test::NoticeReceiver receiver_;
};

int count_of(const std::vector<std::string>& items, const std::string& item) {
  return static_cast<int>(std::count(items.begin(), items.end(), item));
}

TEST(PipelineRunnerTest, RetryDuringARunIsIgnoredAndAfterItStartsExactlyOneNewRun) {
  WindowLoop window;
  auto during_run = std::make_shared<Gate>();
  int runs_made = 0;
  PipelineRunner runner(window.view_model(), [&] {
    ++runs_made;
    return offline_steps(during_run, nullptr);
  });

  runner.start_worker();
  ASSERT_TRUE(during_run->wait_for_arrivals(1, 10s));
  runner.start_worker();
  runner.start_worker();
  EXPECT_EQ(runs_made, 1);
  EXPECT_TRUE(runner.worker_busy());
  // The support summary: a run going, none finished.
  EXPECT_TRUE(runner.last_run().run_in_progress);
  EXPECT_FALSE(runner.last_run().last);

  during_run->open();
  ASSERT_TRUE(window.run_until([&] { return count_of(window.shown, "Failed: " + tr(keys::kErrorNetwork)) == 1; }));
  ASSERT_TRUE(wait_until_idle(runner, 10s));

  // The retry button: one new run on the same view model, shown from its first stage.
  runner.start_worker();
  EXPECT_EQ(runs_made, 2);
  ASSERT_TRUE(window.run_until([&] { return count_of(window.shown, "Failed: " + tr(keys::kErrorNetwork)) == 2; }));
  ASSERT_TRUE(wait_until_idle(runner, 10s));
  EXPECT_EQ(runs_made, 2);
  EXPECT_TRUE(during_run->wait_for_arrivals(2, 0ms));
  EXPECT_TRUE(window.controls.retry_visible);
}

TEST(PipelineRunnerTest, RetryBetweenFailedAndTheWorkersEndIsDropped) {
  WindowLoop window;
  auto after_run = std::make_shared<Gate>();
  int runs_made = 0;
  PipelineRunner runner(window.view_model(), [&] {
    ++runs_made;
    return offline_steps(nullptr, runs_made == 1 ? after_run : nullptr);
  });

  runner.start_worker();
  // Failed is on screen, but the worker is still inside worker_entry.
  ASSERT_TRUE(window.run_until([&] { return !window.shown.empty() && window.shown.back().starts_with("Failed"); }));
  ASSERT_TRUE(after_run->wait_for_arrivals(1, 10s));
  // The support summary already tells the finished run, though its worker has not returned.
  const RunRecordView runs = runner.last_run();
  EXPECT_FALSE(runs.run_in_progress);
  ASSERT_TRUE(runs.last);
  EXPECT_EQ(runs.last->failure, (PipelineError{FailureReason::kTransport, 7, ""}));
  runner.start_worker();
  EXPECT_EQ(runs_made, 1);

  after_run->open();
  ASSERT_TRUE(wait_until_idle(runner, 10s));
  runner.start_worker();
  EXPECT_EQ(runs_made, 2);
  ASSERT_TRUE(wait_until_idle(runner, 10s));
}

TEST(PipelineRunnerTest, DroppingTheRunnerDoesNotWaitForABusyWorker) {
  WindowLoop window;  // outlives the abandoned worker, which still posts its Failed
  auto during_run = std::make_shared<Gate>();
  auto after_run = std::make_shared<Gate>();
  after_run->open();
  auto runner =
      std::make_unique<PipelineRunner>(window.view_model(), [&] { return offline_steps(during_run, after_run); });
  runner->start_worker();
  ASSERT_TRUE(during_run->wait_for_arrivals(1, 10s));

  // Dropping it on another thread, so a runner that joins its worker fails the test instead
  // of hanging it.
  std::future<void> dropped = std::async(std::launch::async, [&] { runner.reset(); });
  const bool returned_while_busy = dropped.wait_for(10s) == std::future_status::ready;
  during_run->open();
  dropped.wait();
  EXPECT_TRUE(returned_while_busy);

  // The abandoned worker still finishes its run on its own and reports it.
  ASSERT_TRUE(window.run_until([&] { return count_of(window.shown, "Failed: " + tr(keys::kErrorNetwork)) == 1; }));
  ASSERT_TRUE(after_run->wait_for_arrivals(1, 10s));
}

TEST(PipelineRunnerTest, WindowEndsOnTheCompletionScreenOfARunOnAWorker) {
  initialize_translations_for_testing({"en-US"});
  ASSERT_EQ(translation_store().locale(), "en_US") << "another test chose a language first";
  WindowLoop window;
  // A run that gets all the way through, with many progress updates.
  PipelineRunner runner(window.view_model(), [] {
    test::StepScript script;
    script.download.action = [](StageReporter* reporter) {
      for (int i = 1; i <= 2000; ++i) reporter->set_progress(i / 2000.0);
    };
    return std::make_unique<test::FakeSteps>(std::move(script));
  });
  runner.start_worker();
  ASSERT_TRUE(window.run_until([&] { return window.controls.close_timer_starts > 0; }));
  ASSERT_TRUE(wait_until_idle(runner, 10s));
  EXPECT_EQ(window.shown.back(), "Complete");
  EXPECT_EQ(window.controls.label, "Installation complete!");
  EXPECT_EQ(window.controls.position, 1000u);
  EXPECT_FALSE(window.controls.marquee);
  EXPECT_FALSE(window.controls.retry_visible);
  EXPECT_EQ(window.controls.close_timer_starts, 1);
}

// A fault of ours that throws from inside the standard library still ends the run in Failed,
// with the library's own description of it. The Windows builds of this test link the installer
// exe's lighter exception throwers, so the texts are checked as the exe makes them.
TEST(PipelineRunnerTest, StandardLibraryFaultsEndTheRunWithTheLibrarysText) {
  struct Case {
    const char* name;
    void (*fault)();
    const char* text;
  };
  const Case cases[] = {
      {"vector::at", [] { (void)std::vector<int>(3).at(7); },
       "vector::_M_range_check: __n (which is 7) >= this->size() (which is 3)"},
      {"string::substr", [] { (void)std::string("abc").substr(5); },
       "basic_string::substr: __pos (which is 5) > this->size() (which is 3)"},
      {"string beyond max_size", [] { std::string().reserve(std::string().max_size() + 1); },
       "basic_string::_M_create"},
      {"vector beyond max_size", [] { std::vector<char>().reserve(std::vector<char>().max_size() + 1); },
       "vector::reserve"},
      {"stoi", [] { (void)std::stoi("x"); }, "stoi"},
      {"empty std::function", [] { std::function<void()>()(); }, "bad_function_call"},
      {"join without a thread", [] { std::thread().join(); }, "Invalid argument"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ViewModel view_model(std::make_shared<StageSlot>(), {});
    test::StepScript script;
    script.fetch.action = [fault = test.fault](StageReporter*) { fault(); };
    LastRunRecord last_run;
    worker_entry(view_model, std::make_unique<test::FakeSteps>(std::move(script)), last_run);
    std::optional<InstallStage> last;
    while (std::optional<InstallStage> stage = view_model.take_pending()) last = std::move(stage);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(test::stage_text(*last), "Failed: " + tr_fmt(keys::kErrorUnexpectedFmt, test.text));
  }
}

}  // namespace
}  // namespace ombrel
