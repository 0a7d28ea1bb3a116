// A worker thread that cannot be created ends the process with a diagnostic, never with a
// window stuck on its first stage.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>

#include "app/pipeline_runner.h"
#include "platform/fatal.h"
#include "tests/support/fake_steps.h"

namespace ombrel {
namespace {

// Caps the address space just above what the process uses, so a new thread's stack cannot be
// mapped while small allocations still succeed.
void leave_no_room_for_a_thread_stack() {
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  statm >> pages;
  const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + rlim_t{512} * 1024;
  rlimit cap{limit, limit};
  setrlimit(RLIMIT_AS, &cap);
}

TEST(PipelineRunnerDeathTest, ThreadCreationFailureIsAFatalStop) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve address space of their own";
#endif
  // A fresh process: a forked one could reuse a cached stack of an earlier test's thread.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        PipelineRunner runner(ViewModel(std::make_shared<StageSlot>(), {}),
                              [] { return std::make_unique<test::FakeSteps>(test::StepScript{}); });
        leave_no_room_for_a_thread_stack();
        runner.start_worker();
        std::_Exit(0);  // the thread was created after all: the cap did not work
      },
      ::testing::ExitedWithCode(platform::kFatalExitStatus), "^failed to spawn thread\n$");
}

}  // namespace
}  // namespace ombrel
