// The rendering rule: percent and bar position from a fraction, and what each stage does to
// the label, bar, retry button and close timer, in order.
#include "app/view.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "tests/support/recording_controls.h"
#include "translations/translation_store.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

struct FractionCase {
  double fraction;
  std::int32_t percent;
  std::uint32_t position;
};

class ProgressScaleTest : public ::testing::TestWithParam<FractionCase> {};

TEST_P(ProgressScaleTest, RoundsHalfAwayFromZeroAndClamps) {
  const FractionCase& test = GetParam();
  EXPECT_EQ(progress_percent(test.fraction), test.percent) << "fraction " << test.fraction;
  EXPECT_EQ(progress_position(test.fraction), test.position) << "fraction " << test.fraction;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Fractions, ProgressScaleTest,
    ::testing::Values(FractionCase{0.0, 0, 0}, FractionCase{1.0, 100, 1000}, FractionCase{0.42, 42, 420},
                      // 12.5 % and the bar's 2.5, 6.5 and 0.5 go up, not to the even neighbour.
                      FractionCase{0.125, 13, 125}, FractionCase{0.985, 99, 985}, FractionCase{0.0025, 0, 3},
                      FractionCase{0.0065, 1, 7}, FractionCase{0.0005, 0, 1}, FractionCase{0.005, 1, 5},
                      FractionCase{0.9995, 100, 1000}, FractionCase{0.9949999, 99, 995},
                      // Out of range and not a number.
                      FractionCase{-0.0004, 0, 0}, FractionCase{-0.25, 0, 0}, FractionCase{1.5, 100, 1000},
                      FractionCase{1e300, 100, 1000}, FractionCase{kInf, 100, 1000}, FractionCase{-kInf, 0, 0},
                      FractionCase{std::numeric_limits<double>::quiet_NaN(), 0, 0},
                      FractionCase{-std::numeric_limits<double>::quiet_NaN(), 0, 0}));

class ApplyStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initialize_translations_for_testing({"en-US"});
    ASSERT_EQ(translation_store().locale(), "en_US") << "another test chose a language first";
  }
};

struct RenderCase {
  const char* name;
  InstallStage stage;
  std::vector<std::string> calls;
};

class ApplyStageRowTest : public ApplyStageTest, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(ApplyStageRowTest, DrivesTheControlsInOrder) {
  test::RecordingControls controls;
  apply_stage(GetParam().stage, controls);
  EXPECT_EQ(controls.calls, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, ApplyStageRowTest,
    ::testing::Values(
        RenderCase{"FetchingManifest",
                   FetchingManifest{},
                   {"label Checking for latest version…", "marquee on 30", "retry hidden"}},
        RenderCase{"DownloadingStart",
                   Downloading{0.0},
                   {"label Downloading… 0%", "marquee off", "position 0", "retry hidden"}},
        RenderCase{"DownloadingEighth",
                   Downloading{0.125},
                   {"label Downloading… 13%", "marquee off", "position 125", "retry hidden"}},
        RenderCase{"DownloadingDone",
                   Downloading{1.0},
                   {"label Downloading… 100%", "marquee off", "position 1000", "retry hidden"}},
        RenderCase{"DownloadingNaN",
                   Downloading{std::numeric_limits<double>::quiet_NaN()},
                   {"label Downloading… 0%", "marquee off", "position 0", "retry hidden"}},
        RenderCase{"Installing", Installing{}, {"label Installing…", "marquee on 30", "retry hidden"}},
        RenderCase{"Launching", Launching{}, {"label Launching Ombrel Loomwork…", "marquee on 30", "retry hidden"}},
        RenderCase{"Complete",
                   Complete{},
                   {"label Installation complete!", "marquee off", "position 1000", "retry hidden", "close timer"}},
        // The failure text is shown exactly as made, even when it looks like a template.
        RenderCase{"Failed",
                   Failed{"Installer exited with code 3 (100% sure)"},
                   {"label Installer exited with code 3 (100% sure)", "marquee off", "position 0", "retry shown",
                    "retry focused"}}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

TEST_F(ApplyStageTest, FailedDuringDownloadStopsTheBarAtZeroAndRetryStartsWithTheBarStillAtZero) {
  test::RecordingControls controls;
  apply_stage(Downloading{0.6}, controls);
  apply_stage(Failed{"Unable to connect."}, controls);
  EXPECT_EQ(controls.label, "Unable to connect.");
  EXPECT_FALSE(controls.marquee);
  EXPECT_EQ(controls.position, 0u);
  EXPECT_TRUE(controls.retry_visible);
  EXPECT_TRUE(controls.retry_focused);

  // The new run's first stage hides the button and animates again, over position 0.
  apply_stage(FetchingManifest{}, controls);
  EXPECT_FALSE(controls.retry_visible);
  EXPECT_TRUE(controls.marquee);
  EXPECT_EQ(controls.position, 0u);
  EXPECT_EQ(controls.close_timer_starts, 0);
}

}  // namespace
}  // namespace ombrel
