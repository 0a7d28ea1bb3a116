#include "app/layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ombrel {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(UiScale, DividesTheDpiBy96AndTreatsZeroAs96) {
  EXPECT_EQ(ui_scale(96), 1.0);
  EXPECT_EQ(ui_scale(120), 1.25);
  EXPECT_EQ(ui_scale(144), 1.5);
  EXPECT_EQ(ui_scale(192), 2.0);
  EXPECT_EQ(ui_scale(0), 1.0);
  EXPECT_EQ(ui_scale(72), 0.75);
}

struct ScaledCase {
  double n;
  double scale;
  std::int32_t expected;
};

class Scaled : public ::testing::TestWithParam<ScaledCase> {};

TEST_P(Scaled, RoundsHalvesAwayFromZeroAndSaturates) {
  const ScaledCase& c = GetParam();
  EXPECT_EQ(scaled(c.n, c.scale), c.expected) << c.n << " x " << c.scale;
}

INSTANTIATE_TEST_SUITE_P(Cases, Scaled,
                         ::testing::Values(ScaledCase{12.5, 1.0, 13}, ScaledCase{-12.5, 1.0, -13},
                                           ScaledCase{14, 1.25, 18}, ScaledCase{10, 1.25, 13},
                                           ScaledCase{12.4999, 1.0, 12}, ScaledCase{0.5, 1.0, 1},
                                           ScaledCase{-0.5, 1.0, -1}, ScaledCase{-0.4, 1.0, 0},
                                           ScaledCase{360, 1.5, 540}, ScaledCase{360, ui_scale(0xFFFFFFFFu), kMax},
                                           ScaledCase{-360, ui_scale(0xFFFFFFFFu), kMin},
                                           ScaledCase{2147483647.0, 1.0, kMax}, ScaledCase{2147483647.4, 1.0, kMax},
                                           ScaledCase{-2147483648.0, 1.0, kMin}, ScaledCase{1e300, 1e300, kMax},
                                           ScaledCase{std::nan(""), 1.0, 0}, ScaledCase{360, std::nan(""), 0},
                                           ScaledCase{std::numeric_limits<double>::infinity(), 1.0, kMax},
                                           ScaledCase{-std::numeric_limits<double>::infinity(), 1.0, kMin},
                                           // infinity × 0 is not a number
                                           ScaledCase{std::numeric_limits<double>::infinity(), 0.0, 0}));

TEST(FontHeight, Is16TimesTheScaleRoundedAndClamped) {
  EXPECT_EQ(font_height(1.0), 16u);
  EXPECT_EQ(font_height(1.25), 20u);
  EXPECT_EQ(font_height(1.5), 24u);
  EXPECT_EQ(font_height(ui_scale(99)), 17u);  // 16.5 rounds up
  EXPECT_EQ(font_height(ui_scale(0xFFFFFFFFu)), 715827883u);
  EXPECT_EQ(font_height(1e12), std::numeric_limits<std::uint32_t>::max());
  EXPECT_EQ(font_height(-1.0), 0u);
  EXPECT_EQ(font_height(std::nan("")), 0u);
}

struct LayoutCase {
  const char* name;
  std::uint32_t dpi;
  WindowLayout expected;
};

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, MatchesTheDesignAtEveryScale) {
  const LayoutCase& c = GetParam();
  const WindowLayout actual = window_layout(ui_scale(c.dpi));
  const WindowLayout& e = c.expected;
  EXPECT_EQ(actual.client_width, e.client_width);
  EXPECT_EQ(actual.client_height, e.client_height);
  EXPECT_EQ(actual.icon_size, e.icon_size);
  EXPECT_EQ(actual.font_height, e.font_height);
  EXPECT_EQ(actual.icon_frame, e.icon_frame);
  EXPECT_EQ(actual.title_label, e.title_label);
  EXPECT_EQ(actual.progress_bar, e.progress_bar);
  EXPECT_EQ(actual.status_label, e.status_label);
  EXPECT_EQ(actual.retry_button, e.retry_button);
  EXPECT_EQ(actual.version_label, e.version_label);
}

// client W, H, icon I, font; icon frame, title, progress, status, retry, version as x, y, w, h.
const WindowLayout kAt96{360,
                         340,
                         64,
                         16,
                         {148, 24, 64, 64},
                         {10, 104, 340, 22},
                         {50, 144, 260, 14},
                         {10, 170, 340, 64},
                         {130, 246, 100, 28},
                         {10, 304, 340, 18}};

INSTANTIATE_TEST_SUITE_P(Dpi, Layout,
                         ::testing::Values(LayoutCase{"dpi96", 96, kAt96},
                                           // 1.25: 62.5 truncates to 62 for the bar, 17.5 rounds to 18, 12.5 to 13.
                                           LayoutCase{"dpi120",
                                                      120,
                                                      {450,
                                                       425,
                                                       80,
                                                       20,
                                                       {185, 30, 80, 80},
                                                       {13, 130, 425, 28},
                                                       {62, 180, 325, 18},
                                                       {13, 213, 425, 80},
                                                       {162, 308, 125, 35},
                                                       {13, 380, 425, 23}}},
                                           LayoutCase{"dpi144",
                                                      144,
                                                      {540,
                                                       510,
                                                       96,
                                                       24,
                                                       {222, 36, 96, 96},
                                                       {15, 156, 510, 33},
                                                       {75, 216, 390, 21},
                                                       {15, 255, 510, 96},
                                                       {195, 369, 150, 42},
                                                       {15, 456, 510, 27}}},
                                           LayoutCase{"dpi0", 0, kAt96},
                                           // 1.75: odd client width minus even bar width.
                                           LayoutCase{"dpi168",
                                                      168,
                                                      {630,
                                                       595,
                                                       112,
                                                       28,
                                                       {259, 42, 112, 112},
                                                       {18, 182, 595, 39},
                                                       {87, 252, 455, 25},
                                                       {18, 298, 595, 112},
                                                       {227, 431, 175, 49},
                                                       {18, 532, 595, 32}}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Layout, SaturatesInsteadOfWrappingAtAbsurdScales) {
  const WindowLayout huge = window_layout(1e12);
  EXPECT_EQ(huge.client_width, kMax);
  EXPECT_EQ(huge.title_label.width, kMax - kMax);  // W − scaled(20), both saturated
  EXPECT_EQ(huge.version_label.y, 0);
  const WindowLayout nan = window_layout(std::nan(""));
  EXPECT_EQ(nan, WindowLayout{});
}

struct CentreCase {
  MonitorRect monitor;
  std::int32_t width;
  std::int32_t height;
  Point expected;
};

class Centre : public ::testing::TestWithParam<CentreCase> {};

TEST_P(Centre, UsesTheFullMonitorRectAndTruncatesTowardZero) {
  const CentreCase& c = GetParam();
  EXPECT_EQ(centre_on_monitor(c.monitor, c.width, c.height), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Monitors, Centre,
    ::testing::Values(CentreCase{{0, 0, 1280, 1024}, 360, 340, {460, 342}},
                      CentreCase{{0, 0, 1281, 1025}, 360, 340, {460, 342}},     // 460.5 → 460
                      CentreCase{{-1920, 0, 0, 1080}, 360, 340, {-1140, 370}},  // monitor left of the primary
                      CentreCase{{0, -1080, 1920, 0}, 450, 425, {735, -753}},   // monitor above
                      CentreCase{{0, 0, 100, 100}, 361, 341, {-130, -120}},     // −130.5 → −130, not −131
                      CentreCase{{kMin, kMin, kMax, kMax}, 0, 0, {-1, -1}}));

}  // namespace
}  // namespace ombrel
