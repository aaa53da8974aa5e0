#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/system.h"
#include "port/port_io.h"
#include "support/message_capture.h"
#include "support/recording_backend.h"

namespace vm316::port {
namespace {

using testing::MessageCapture;
using testing::PortAccess;
using testing::RecordingBackend;

TEST(PortSet, OffsetsWrapAtSixteenBits) {
  const PortSet ports = PortSet::FromBase(0xFFFC);
  EXPECT_EQ(ports.index, (std::array<std::uint16_t, 3>{0xFFFC, 0x0000, 0x0002}));
  EXPECT_EQ(ports.data, (std::array<std::uint16_t, 3>{0xFFFD, 0x0001, 0x0003}));
  EXPECT_EQ(ports.read,
            (std::array<std::uint16_t, 7>{0xFFFC, 0xFFFD, 0xFFFE, 0xFFFF, 0x0000, 0x0001, 0x0002}));
}

TEST(PortIo, RegisterWriteIsIndexThenDataAndEachPrimitiveOneAccess) {
  std::vector<PortAccess> log;
  RecordingBackend backend(&log);
  backend.read_value = 0x5A;
  PortIo io(&backend);
  io.SetPorts(PortSet::FromBase(0x378));

  io.WriteRegister(kCh2Unit, kTriggerLevelRegister, 200);
  io.WriteData(kCh2Unit, 7);
  EXPECT_EQ(io.Read(kStatusPort), 0x5A);

  const std::vector<PortAccess> expected = {testing::Out(0x37E, kTriggerLevelRegister),
                                            testing::Out(0x37F, 200), testing::Out(0x37F, 7),
                                            testing::In(0x37A, 0x5A)};
  EXPECT_EQ(log, expected);
}

class DelayMsTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SystemClock().Select(platform::ClockKind::kVirtual); }
  static std::uint64_t Now() { return platform::SystemClock().NowNs(); }
};

TEST_F(DelayMsTest, ZeroAndNegativeReturnAfterOneReading) {
  for (std::int32_t ms : {0, -1, -1000}) {
    const std::uint64_t before = Now();
    DelayMs(ms);
    EXPECT_EQ(Now() - before, platform::kTickReadNs) << ms;
  }
}

TEST_F(DelayMsTest, LastsItsTimeAcrossATickCounterWrap) {
  // Start 300 ms before the 32-bit millisecond counter wraps.
  const std::uint64_t wrap_ns = (std::uint64_t{1} << 32) * 1000000u;
  platform::SystemClock().SetVirtualNs(wrap_ns - 300u * 1000000u);
  const std::uint32_t start_tick = platform::GetTickCount();
  DelayMs(1000);
  const std::uint32_t end_tick = platform::GetTickCount();
  EXPECT_LT(end_tick, start_tick);  // the counter did wrap
  const std::uint32_t elapsed = end_tick - start_tick;
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LE(elapsed, 1001u);
}

// A tick counter that moves in 16 ms steps, as Windows' does, may step just after the wait
// began: the wait still lasts its time, and ends with the counter's step after it.
TEST_F(DelayMsTest, LastsItsTimeWhateverTheTickCountersStep) {
  platform::Clock& clock = platform::SystemClock();
  clock.SetVirtualTickStepMs(16);
  for (const std::uint64_t before_step_us : {1u, 5000u, 15999u}) {
    clock.SetVirtualNs((160000u - before_step_us) * 1000u);  // the counter steps at 160 ms
    const std::uint64_t start = Now();
    DelayMs(10);
    const std::uint64_t waited_ns = Now() - start;
    EXPECT_GE(waited_ns, 10000000u) << before_step_us;
    EXPECT_LE(waited_ns, 26000000u) << before_step_us;
  }
  clock.SetVirtualTickStepMs(1);
}

// The text is the system's own (tests/platform; the Windows one in tests/win32).
TEST(CheckPortDriver, RefusedAccessShowsTheThreeLineMessage) {
  MessageCapture capture;
  RecordingBackend refusing(nullptr, /*driver_ok=*/false);
  EXPECT_FALSE(CheckPortDriver(refusing));
  ASSERT_EQ(capture.Texts().size(), 1u);
  const std::string text = capture.Texts()[0];
  EXPECT_EQ(text, platform::PortAccessRefusedMessage());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_TRUE(text.ends_with("\nHardware will not be available"));
}

TEST(CheckPortDriver, GrantedAccessSaysNothing) {
  MessageCapture capture;
  RecordingBackend granting(nullptr, /*driver_ok=*/true);
  EXPECT_TRUE(CheckPortDriver(granting));
  EXPECT_TRUE(capture.notices().empty());
}

}  // namespace
}  // namespace vm316::port
