// The worker-to-window channel with a real notice receiver (a WakeQueue natively, a hidden
// window with SendNotifyMessageW under Windows): one wake-up per post, latest stage wins, and
// the last stage always reaches the window.
#include "app/view_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/notice_receiver.h"
#include "tests/support/stage_text.h"

namespace ombrel {
namespace {

using namespace std::chrono_literals;

TEST(ViewModelTest, EachPostWakesOnceAndOnlyTheLatestStageWaits) {
  test::NoticeReceiver receiver;
  ViewModel view_model(std::make_shared<StageSlot>(), receiver.target());

  view_model.send_stage(FetchingManifest{});
  view_model.set_progress(0.25);
  view_model.send_stage(Installing{});
  view_model.send_stage(Launching{});
  EXPECT_EQ(receiver.received(), 4u);

  std::optional<InstallStage> pending = view_model.take_pending();
  ASSERT_TRUE(pending.has_value());
  EXPECT_EQ(test::stage_text(*pending), "Launching");  // Installing was replaced unseen
  EXPECT_FALSE(view_model.take_pending().has_value()) << "a second notice must find the slot empty";

  view_model.set_progress(0.75);
  pending = view_model.take_pending();
  ASSERT_TRUE(pending.has_value());
  EXPECT_EQ(test::stage_text(*pending), "Downloading 0.75");
  EXPECT_EQ(receiver.received(), 5u);
  EXPECT_EQ(receiver.foreign(), 0u);
}

// A producer thread posting as fast as it can while the window thread drains its notices:
// every post wakes the window exactly once, the window never sees a stage older than one it
// already showed, and the final stage is always the last one shown.
TEST(ViewModelTest, FastProducerLatestWinsAndTheLastStageIsAlwaysShown) {
  constexpr int kPosts = 4000;
  std::optional<ViewModel> view_model;
  std::vector<InstallStage> shown;
  std::size_t empty_notices = 0;
  test::NoticeReceiver receiver([&] {
    if (std::optional<InstallStage> stage = view_model->take_pending()) {
      shown.push_back(std::move(*stage));
    } else {
      ++empty_notices;
    }
  });
  view_model.emplace(std::make_shared<StageSlot>(), receiver.target());

  std::thread producer([worker_side = *view_model]() mutable {
    worker_side.send_stage(FetchingManifest{});
    for (int i = 0; i <= kPosts; ++i) worker_side.set_progress(static_cast<double>(i) / kPosts);
    worker_side.send_stage(Installing{});
    worker_side.send_stage(Launching{});
    worker_side.send_stage(Complete{});
  });
  const std::size_t total_posts = kPosts + 5;
  while (receiver.received() < total_posts && receiver.pump(10s) > 0) {
  }
  producer.join();
  EXPECT_EQ(receiver.pump(100ms), 0u) << "more wake-ups than posts";
  EXPECT_EQ(receiver.received(), total_posts);
  EXPECT_EQ(shown.size() + empty_notices, total_posts);

  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(test::stage_text(shown.back()), "Complete");
  // Stages only move forward: by kind, and by fraction while downloading.
  for (std::size_t i = 1; i < shown.size(); ++i) {
    const InstallStage& before = shown[i - 1];
    const InstallStage& after = shown[i];
    ASSERT_LE(before.index(), after.index()) << test::stage_text(before) << " then " << test::stage_text(after);
    if (std::holds_alternative<Downloading>(before) && std::holds_alternative<Downloading>(after)) {
      ASSERT_LT(std::get<Downloading>(before).fraction, std::get<Downloading>(after).fraction);
    }
  }
}

}  // namespace
}  // namespace ombrel
