#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "instrument/interval_timer.h"
#include "instrument/vmx16.h"
#include "sim/board.h"
#include "support/message_capture.h"
#include "support/recording_backend.h"
#include "support/scoped_env.h"

namespace vm316 {
namespace {

using testing::Out;
using testing::PortAccess;
using testing::RecordingBackend;
using testing::Writes;

constexpr std::uint16_t kBase = 0x300;
constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();
constexpr long double kInf = std::numeric_limits<long double>::infinity();

// What the timer and its select register hold after a logged port sequence, decoded the way
// the board does: register 2 addresses the timer, register 6 bytes go where it points.
struct TimerState {
  std::uint8_t select = 0;
  std::array<int, 3> control{-1, -1, -1};
  std::array<int, 3> count{-1, -1, -1};
  int source() const { return (select & kClockSourceMask) >> kClockSourceShift; }
};

TimerState Decode(const std::vector<PortAccess>& log) {
  TimerState timer;
  std::uint8_t reg = 0;
  std::array<int, 3> low{-1, -1, -1};
  for (const PortAccess& w : Writes(log)) {
    if (w.port == kBase) {
      reg = w.value;
    } else if (w.port == kBase + 1 && reg == port::kTimerSelectRegister) {
      timer.select = w.value;
    } else if (w.port == kBase + 1 && reg == port::kTimerDataRegister) {
      const int address = timer.select & kTimerAddressMask;
      if (address == kTimerControlWordAddress) {
        timer.control[w.value >> 6] = w.value;
        low[w.value >> 6] = -1;
      } else if (low[address] < 0) {
        low[address] = w.value;
      } else {
        timer.count[address] = low[address] | (w.value << 8);
        low[address] = -1;
      }
    }
  }
  return timer;
}

class TimeBase : public ::testing::Test {
 protected:
  void SetUp() override {
    vm_.SetHardwareAddress(kBase);
    vm_.NotifySettings = true;
    vm_.OnSettingsChanged = [this](TVMx16&) { ++notifications_; };
    log_.clear();
  }
  long double Program(long double f) {
    log_.clear();
    vm_.ProgramSampleClock(f);
    return f;
  }
  long double Square(long double f) {
    log_.clear();
    vm_.ProgramSquareWaveClock(f);
    return f;
  }
  std::vector<PortAccess> log_;
  TVMx16 vm_{std::make_unique<RecordingBackend>(&log_)};
  int notifications_ = 0;
};

TEST_F(TimeBase, SampleClockRequestsReachTheirSourceDivisorAndRate) {
  struct Row {
    long double request, achieved;
    int source, count;
  };
  const long double lowest = 40000.0L / 65535;
  const Row rows[] = {
      {25e6L, 20e6L, 0, -1},
      {10000001, 20e6L, 0, -1},
      {10e6L, 10e6L, 1, -1},
      {4e6L, 4e6L, 2, -1},
      {3e6L, 4e6L, 2, -1},
      {2000001, 4e6L, 2, -1},
      {2e6L, 2e6L, 3, 2},
      {1.5e6L, 4e6L / 3, 3, 3},
      {1.6e6L, 2e6L, 3, 2},
      {320000, 4e6L / 12, 3, 12},  // ties to even
      {62, 4e6L / 64516, 3, 64516},
      {61.98L, 40000.0L / 645, 4, 645},
      {61, 40000.0L / 656, 4, 656},
      {0.61036L, lowest, 4, 65535},
      // Requests no divisor reaches are clamped to the lowest rate, never undefined.
      {40000.0L / 65535.5L, lowest, 4, 65535},
      {1e-4000L, lowest, 4, 65535},
      {0, lowest, 4, 65535},
      {-5, lowest, 4, 65535},
      {kNaN, lowest, 4, 65535},
      {kInf, lowest, 4, 65535},
      {-kInf, lowest, 4, 65535},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "request " << static_cast<double>(row.request));
    EXPECT_EQ(Program(row.request), row.achieved);
    const TimerState timer = Decode(log_);
    EXPECT_EQ(timer.source(), row.source);
    EXPECT_EQ(timer.count[0], row.count);
    if (row.count > 0) {
      EXPECT_EQ(timer.control[0], row.count == 3 ? 0x34 : 0x36);
      EXPECT_EQ(timer.count[1], row.source == 4 ? 100 : -1);
    }
  }
  EXPECT_NEAR(static_cast<double>(Program(62)), 62.000124, 1e-6);
  EXPECT_NEAR(static_cast<double>(Program(61.98L)), 62.0155, 1e-4);
}

TEST_F(TimeBase, SampleClockByteSequencesKeepTheSquareWaveBit) {
  TimerSelectShadow() = kSquareWaveEnable | ClockSourceBits(kClockSource10MHz);
  Program(20e6L);
  EXPECT_EQ(Writes(log_), (std::vector<PortAccess>{Out(kBase, 2), Out(kBase + 1, 0x20)}));

  Program(1.5e6L);
  EXPECT_EQ(Writes(log_),
            (std::vector<PortAccess>{Out(kBase, 2), Out(kBase + 1, 0x23), Out(kBase, 6),
                                     Out(kBase + 1, 0x34), Out(kBase, 2), Out(kBase + 1, 0x20),
                                     Out(kBase, 6), Out(kBase + 1, 3), Out(kBase + 1, 0),
                                     Out(kBase, 2), Out(kBase + 1, 0x2C)}));
}

TEST_F(TimeBase, SquareWaveByteSequencesKeepTheClockSource) {
  TimerSelectShadow() = ClockSourceBits(kClockSourceCounter0);
  EXPECT_NEAR(static_cast<double>(Square(30000)), 30075.19, 0.01);  // N = 133
  EXPECT_EQ(Writes(log_),
            (std::vector<PortAccess>{Out(kBase, 2), Out(kBase + 1, 0x2F), Out(kBase, 6),
                                     Out(kBase + 1, 0xB6), Out(kBase, 2), Out(kBase + 1, 0x2E),
                                     Out(kBase, 6), Out(kBase + 1, 133), Out(kBase + 1, 0),
                                     Out(kBase, 2), Out(kBase + 1, 0x2F)}));

  EXPECT_EQ(Square(0), 0);  // off; the request is left as it was
  EXPECT_EQ(Writes(log_), (std::vector<PortAccess>{Out(kBase, 2), Out(kBase + 1, 0x0F)}));
}

TEST_F(TimeBase, SquareWaveRequestsAreClampedIntoItsBand) {
  const struct {
    long double request, achieved;
    int count;
  } rows[] = {{50, 100, 40000},   {150000, 100000, 40}, {-50, 100, 40000}, {kNaN, 100, 40000},
              {kInf, 100000, 40}, {-kInf, 100, 40000},  {1000, 1000, 4000}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "request " << static_cast<double>(row.request));
    EXPECT_EQ(Square(row.request), row.achieved);
    EXPECT_EQ(Decode(log_).count[2], row.count);
    EXPECT_EQ(Decode(log_).select & kSquareWaveEnable, kSquareWaveEnable);
  }
  EXPECT_EQ(Square(1e-10L), 1e-10L);
  EXPECT_EQ(Decode(log_).select & kSquareWaveEnable, 0);
}

TEST_F(TimeBase, InterleavedClockRoutinesEachKeepTheOthersBits) {
  Program(61);
  Square(1000);
  EXPECT_EQ(TimerSelectShadow(), kSquareWaveEnable |
                                     ClockSourceBits(kClockSourcePrescaledCounter0) |
                                     kTimerControlWordAddress);
  Program(20e6L);
  EXPECT_EQ(TimerSelectShadow(), kSquareWaveEnable | ClockSourceBits(kClockSource20MHz));
  Program(5e6L);
  Square(0);
  EXPECT_EQ(TimerSelectShadow(), ClockSourceBits(kClockSource10MHz) | kTimerControlWordAddress);
}

TEST_F(TimeBase, SetterNotifiesUnlessTheRequestIsTheLastValue) {
  vm_.SetSampleFrequencyValue(3e6L);  // unreachable: programs 4 MHz
  EXPECT_EQ(vm_.SampleFreq(), 4e6L);
  EXPECT_EQ(vm_.LastSetFrequency, 4e6L);
  EXPECT_EQ(notifications_, 1);
  vm_.SetSampleFrequencyValue(3e6L);  // again: LastSetFrequency holds the achieved value
  EXPECT_EQ(notifications_, 2);
  EXPECT_FALSE(log_.empty());

  log_.clear();
  vm_.SetSampleFrequencyValue(4e6L);
  EXPECT_EQ(notifications_, 2);
  EXPECT_TRUE(log_.empty());

  vm_.DoubleRate = true;
  EXPECT_EQ(vm_.SampleFreq(), 8e6L);
  vm_.SetSampleFrequencyValue(kNaN);
  EXPECT_FALSE(vm_.DoubleRate);
  EXPECT_EQ(vm_.SampleFreq(), 40000.0L / 65535);
  EXPECT_EQ(notifications_, 3);
}

TEST_F(TimeBase, RateReachedThroughThePrescalerIsKeptAtTheNextArm) {
  vm_.SetSampleFrequencyValue(61.98L);
  long double again = vm_.ClockFrequency;
  EXPECT_EQ(Program(again), vm_.ClockFrequency);
  EXPECT_EQ(Decode(log_).count[0], 64500);
  EXPECT_EQ(Decode(log_).source(), kClockSourceCounter0);
}

TEST(TimeBaseWithoutPorts, SetterStoresTheRequestAndClampsOnlyTheUnsettledOnes) {
  testing::MessageCapture quiet;
  std::vector<PortAccess> log;
  TVMx16 vm(std::make_unique<RecordingBackend>(&log, /*driver_ok=*/false));
  vm.SetSampleFrequencyValue(3e6L);
  EXPECT_EQ(vm.SampleFreq(), 3e6L);
  vm.SetSampleFrequencyValue(0);
  EXPECT_EQ(vm.SampleFreq(), 40000.0L / 65535);
  long double square = 30000;
  vm.ProgramSquareWaveClock(square);
  EXPECT_EQ(square, 30000);
  EXPECT_TRUE(log.empty());
}

TEST_F(TimeBase, RecordGeometryMovesThePreTriggerCount) {
  vm_.SetRecordLength(100);
  EXPECT_EQ(vm_.lPostSamples, 256);
  EXPECT_EQ(vm_.lPreSamples, -156);
  EXPECT_EQ(notifications_, 2);  // the pre count's, then the record length's

  vm_.SetRecordLength(100);
  vm_.SetPostSamples(256);
  EXPECT_EQ(notifications_, 2);

  vm_.SetPostSamples(100);
  EXPECT_EQ(vm_.lPreSamples, 0);
  EXPECT_EQ(notifications_, 4);

  vm_.SetPostSamples(std::numeric_limits<std::int32_t>::min());  // wraps, never overflows
  vm_.SetRecordLength(std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(vm_.lPreSamples, -1);

  vm_.SetTransSampleTime(0.5L);
  EXPECT_EQ(vm_.rTransSampleTime, 0.5L);
  EXPECT_EQ(notifications_, 8);
}

TEST(TimeBaseOnTheBoard, TheBoardRecordsAtTheRateTheRoutineReports) {
  testing::ScopedEnv env;
  env.Set("VM316_PORT", "sim").Set("VM316_CLOCK", "virtual");
  TVMx16 vm;
  vm.SetHardwareAddress(sim::BoardConfig::kDefaultBase);
  const auto* board = dynamic_cast<const sim::Board*>(vm.Io.Backend());
  ASSERT_NE(board, nullptr);
  for (long double request :
       {25e6L, 10e6L, 3e6L, 2e6L, 1.5e6L, 320000.0L, 1000.0L, 62.0L, 61.98L, 61.0L, 1.0L, 0.0L}) {
    SCOPED_TRACE(::testing::Message() << "request " << static_cast<double>(request));
    vm.SetSampleFrequencyValue(request);
    const double achieved = static_cast<double>(vm.SampleFreq());
    EXPECT_NEAR(board->SampleClockHz(), achieved, achieved * 1e-12);
  }
  for (long double request : {30000.0L, 50.0L, 150000.0L}) {
    long double achieved = request;
    vm.ProgramSquareWaveClock(achieved);
    EXPECT_NEAR(board->SquareWaveFrequencyHz(), static_cast<double>(achieved),
                static_cast<double>(achieved) * 1e-12);
  }
  long double off = 0;
  vm.ProgramSquareWaveClock(off);
  EXPECT_EQ(board->SquareWaveFrequencyHz(), 0.0);
  EXPECT_NEAR(board->SampleClockHz(), 40000.0 / 65535, 1e-12) << "the sample clock moved";
}

}  // namespace
}  // namespace vm316
