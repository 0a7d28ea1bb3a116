// A fatal stop: the diagnostic on standard error, a non-zero status, and nothing after it runs.
#include "platform/fatal.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace ombrel::platform {
namespace {

TEST(FatalStopDeathTest, WritesTheLineAndExitsWithItsStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        fatal_stop("failed to create the main window");
        std::fputs("still running\n", stderr);
      },
      ::testing::ExitedWithCode(kFatalExitStatus), "^failed to create the main window\n$");
}

}  // namespace
}  // namespace ombrel::platform
