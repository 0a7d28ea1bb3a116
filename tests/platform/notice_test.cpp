// The notice that wakes the window, through the real back end: SendNotifyMessageW to a hidden
// window under Windows, the wake-up queue natively.
#include "platform/notice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/notice_receiver.h"

namespace ombrel::platform {
namespace {

using namespace std::chrono_literals;

std::size_t pump_until(test::NoticeReceiver& receiver, std::size_t count) {
  while (receiver.received() + receiver.foreign() < count && receiver.pump(10s) > 0) {
  }
  return receiver.received() + receiver.foreign();
}

TEST(NoticeTest, PostsFromAWorkerNeverWaitForTheWindowAndEachArrivesOnce) {
  constexpr std::size_t kPosts = 200;
  test::NoticeReceiver receiver;
  const NoticeTarget target = receiver.target();
  // The receiving thread does not look at its queue until the poster has finished: a post that
  // waited for the receiver would never return.
  std::thread poster([target] {
    for (std::size_t i = 0; i < kPosts; ++i) post_notice(target);
  });
  poster.join();
  EXPECT_EQ(receiver.received(), 0u);

  EXPECT_EQ(pump_until(receiver, kPosts), kPosts);
  EXPECT_EQ(receiver.pump(100ms), 0u);
  EXPECT_EQ(receiver.received(), kPosts);
  EXPECT_EQ(receiver.foreign(), 0u);
}

TEST(NoticeTest, ANoticeWithAnotherIdIsNotTakenForThisWindowsOwn) {
  test::NoticeReceiver receiver;
  NoticeTarget other = receiver.target();
  other.id = next_notice_id();
  std::thread poster([other] { post_notice(other); });
  poster.join();
  EXPECT_EQ(pump_until(receiver, 1), 1u);
  EXPECT_EQ(receiver.foreign(), 1u);
  EXPECT_EQ(receiver.received(), 0u);

  post_notice(NoticeTarget{});  // no window: nothing happens, nothing crashes
}

TEST(NoticeTest, IdsAreUniqueAcrossThreadsAndNeverZero) {
  constexpr int kThreads = 4;
  constexpr int kIdsEach = 1000;
  std::vector<std::vector<std::uintptr_t>> ids(kThreads);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < kIdsEach; ++i) ids[t].push_back(next_notice_id());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::uintptr_t> distinct;
  for (const auto& list : ids) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kIdsEach));
  EXPECT_EQ(distinct.count(0), 0u);
}

}  // namespace
}  // namespace ombrel::platform
