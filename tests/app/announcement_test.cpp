// Which rendered stages are announced to a screen reader: every new stage, and while
// downloading only the first line of each further tenth.
#include "app/announcement.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace ombrel {
namespace {

struct Step {
  InstallStage stage;
  bool announced;
};

struct AnnounceCase {
  const char* name;
  std::vector<Step> steps;
};

class AnnouncementTest : public ::testing::TestWithParam<AnnounceCase> {};

TEST_P(AnnouncementTest, AnnouncesNewStagesAndEachFurtherTenth) {
  StatusAnnouncer announcer;
  const std::vector<Step>& steps = GetParam().steps;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(announcer.should_announce(steps[i].stage), steps[i].announced) << "step " << i;
  }
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<Step> whole_run() {
  return {{FetchingManifest{}, true},  {Downloading{0.0}, true},   {Downloading{0.04}, false},
          {Downloading{0.094}, false}, {Downloading{0.095}, true},  // shows 10 %
          {Downloading{0.15}, false},  {Downloading{0.47}, true},   // several tenths at once: one line
          {Downloading{0.49}, false},  {Downloading{0.5}, true},   {Downloading{1.0}, true},
          {Downloading{1.0}, false},   {Installing{}, true},       {Installing{}, false},
          {Launching{}, true},         {Complete{}, true}};
}

INSTANTIATE_TEST_SUITE_P(
    Runs, AnnouncementTest,
    ::testing::Values(AnnounceCase{"WholeRun", whole_run()},
                      AnnounceCase{"FailureAndRetry",
                                   {{FetchingManifest{}, true},
                                    {Downloading{0.8}, true},
                                    {Failed{"Network error"}, true},
                                    {Failed{"Other error"}, true},
                                    // The retry starts afresh: its download is announced from 0 again.
                                    {FetchingManifest{}, true},
                                    {Downloading{0.0}, true},
                                    {Downloading{0.05}, false}}},
                      AnnounceCase{"PercentFallingBackIsNotAnnouncedAgain",
                                   {{Downloading{0.6}, true},
                                    {Downloading{0.0}, false},
                                    {Downloading{0.35}, false},
                                    {Downloading{0.69}, false},
                                    {Downloading{0.7}, true}}},
                      AnnounceCase{"OutOfRangeFractions",
                                   {{Downloading{kNaN}, true},
                                    {Downloading{-1.0}, false},
                                    {Downloading{3.0}, true},
                                    {Downloading{1.0}, false}}}),
    [](const ::testing::TestParamInfo<AnnounceCase>& info) { return std::string(info.param.name); });

TEST(AnnouncementTest, ADownloadInThousandsOfStepsIsAnnouncedElevenTimes) {
  StatusAnnouncer announcer;
  EXPECT_TRUE(announcer.should_announce(FetchingManifest{}));
  int announced = 0;
  for (int step = 0; step <= 5000; ++step) announced += announcer.should_announce(Downloading{step / 5000.0}) ? 1 : 0;
  EXPECT_EQ(announced, 11);
}

}  // namespace
}  // namespace ombrel
