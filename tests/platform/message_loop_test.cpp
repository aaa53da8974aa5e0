#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/window_messages.h"

namespace vm316::platform {
namespace {

class MessageLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { SystemClock().Select(ClockKind::kVirtual); }
  static std::uint64_t NowMs() { return SystemClock().NowNs() / 1000000u; }
};

TEST_F(MessageLoopTest, DisabledTimerNeverTicksAndAWaitEndsAtItsBound) {
  int ticks = 0;
  Timer timer([&] { ++ticks; });
  timer.SetInterval(6);
  const std::uint64_t start = NowMs();
  EXPECT_EQ(PumpMessages(50), 0u);
  EXPECT_EQ(ticks, 0);
  EXPECT_GE(NowMs() - start, 50u);  // the virtual clock jumped instead of sleeping
}

TEST_F(MessageLoopTest, EnabledTimerTicksEveryIntervalAndWaitsForTheNextTick) {
  int ticks = 0;
  Timer timer([&] { ++ticks; });
  timer.SetInterval(6);
  timer.SetEnabled(true);
  EXPECT_EQ(PumpMessages(0), 0u);  // not due yet, and no waiting allowed
  const std::uint64_t start = NowMs();
  EXPECT_EQ(PumpMessages(100), 1u);
  EXPECT_EQ(ticks, 1);
  EXPECT_LE(NowMs() - start, 7u);  // returned at the tick, not at the bound
  for (int i = 0; i < 9; ++i) PumpMessages(100);
  EXPECT_EQ(ticks, 10);
  timer.SetEnabled(false);
  EXPECT_EQ(PumpMessages(20), 0u);
}

TEST_F(MessageLoopTest, MissedPeriodsCoalesceIntoOneTick) {
  int ticks = 0;
  Timer timer([&] { ++ticks; });
  timer.SetInterval(6);
  timer.SetEnabled(true);
  SystemClock().Advance(60u * 1000000u);  // ten periods pass without a pump
  EXPECT_EQ(PumpMessages(0), 1u);
  EXPECT_EQ(ticks, 1);
}

TEST_F(MessageLoopTest, PostedMessagesReachTheWindowInOrder) {
  std::vector<std::uint32_t> received;
  EXPECT_EQ(PostWindowMessage(1037, 0, 0), PostResult::kNoWindow);
  {
    MessageWindow window(
        [&](std::uint32_t message, std::uintptr_t, std::intptr_t) { received.push_back(message); });
    EXPECT_EQ(PostWindowMessage(537, 0, 0), PostResult::kPosted);
    EXPECT_EQ(PostWindowMessage(1037, 0, 0), PostResult::kPosted);
    EXPECT_EQ(PumpMessages(0), 2u);
    EXPECT_EQ(PostWindowMessage(1037, 0, 0), PostResult::kPosted);
  }
  EXPECT_EQ(received, (std::vector<std::uint32_t>{537, 1037}));
  EXPECT_EQ(PumpMessages(0), 0u);  // a message for a destroyed window is gone with it
}

// A flood of posts stops at the bound: the excess is dropped and said so, what waits is kept.
TEST_F(MessageLoopTest, PostsPastTheBoundAreDropped) {
  std::uint32_t received = 0;
  MessageWindow window([&](std::uint32_t, std::uintptr_t, std::intptr_t) { ++received; });
  for (std::size_t i = 0; i < kPostedMessageLimit; ++i) {
    ASSERT_EQ(PostWindowMessage(1037, i, 0), PostResult::kPosted);
  }
  EXPECT_EQ(PostWindowMessage(1037, 0, 0), PostResult::kQueueFull);
  EXPECT_EQ(PumpMessages(0), kPostedMessageLimit);
  EXPECT_EQ(received, kPostedMessageLimit);
  EXPECT_EQ(PostWindowMessage(1037, 0, 0), PostResult::kPosted);
}

TEST_F(MessageLoopTest, ATimerHandlerMayDestroyAnotherTimer) {
  std::unique_ptr<Timer> second;
  Timer first([&] { second.reset(); });
  second = std::make_unique<Timer>([] { FAIL() << "destroyed timer ticked"; });
  first.SetInterval(5);
  second->SetInterval(5);
  first.SetEnabled(true);
  second->SetEnabled(true);
  EXPECT_EQ(PumpMessages(10), 1u);
  EXPECT_EQ(second, nullptr);
}

TEST(WindowMessageRegistry, SameNameSameIdFromC000) {
  const std::uint32_t first = RegisterWindowMessage("Test: First");
  EXPECT_GE(first, kFirstRegisteredMessage);
  const std::uint32_t second = RegisterWindowMessage("Test: Second");
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(RegisterWindowMessage("Test: First"), first);
  EXPECT_EQ(RegisterWindowMessage("test: FIRST"), first);  // names ignore case
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

}  // namespace
}  // namespace vm316::platform
