#include "instrument/frontend.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "support/recording_backend.h"

namespace vm316 {
namespace {

using testing::PortAccess;
using testing::RecordingBackend;

constexpr std::uint16_t kBase = 0x378;
constexpr std::uint16_t kCh1Index = kBase + 4;
constexpr std::uint16_t kBusPort = kBase + 5;

// The bytes sent on the front-end bus: those written to the channel-1 data port while
// FrontEndBusRegister is selected.
std::vector<std::uint8_t> BusBytes(const std::vector<PortAccess>& log) {
  std::vector<std::uint8_t> bytes;
  int selected = -1;
  for (const PortAccess& w : testing::Writes(log)) {
    if (w.port == kCh1Index) selected = w.value;
    if (w.port == kBusPort && selected == 3) bytes.push_back(w.value);
  }
  return bytes;
}

void Append(std::vector<std::uint8_t>& bytes, std::initializer_list<std::uint8_t> more,
            int times = 1) {
  for (int i = 0; i < times; ++i) bytes.insert(bytes.end(), more);
}

// What a serial device takes: one bit per clock edge (rising, or falling) while its select
// lines are as given; the relay word only when the latch comes.
std::uint32_t Shifted(const std::vector<std::uint8_t>& bytes, std::uint8_t select, bool rising) {
  std::uint32_t value = 0;
  bool clock = false;
  for (const std::uint8_t b : bytes) {
    const bool clock_now = (b & 0x02) != 0;
    const bool edge = rising ? clock_now && !clock : clock && !clock_now;
    if (edge && (b & 0x2C) == select) value = (value << 1) | (b & 0x01);
    clock = clock_now;
  }
  return value;
}

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SystemClock().Select(platform::ClockKind::kVirtual);
    vm_ = std::make_unique<TVMx16>(std::make_unique<RecordingBackend>(&log_));
    vm_->SetHardwareAddress(kBase);
    log_.clear();
  }
  void TearDown() override { RestoreRelayTables(); }

  std::vector<PortAccess> log_;
  std::unique_ptr<TVMx16> vm_;
};

TEST_F(FrontEnd, GainTrimsGoOutMostSignificantBitFirstWithTheirFraming) {
  vm_->WriteGainTrims(0x81, 0x101);  // only the low 8 bits of a trim are sent
  std::vector<std::uint8_t> expected{0x40, 0x60, 0x62};
  Append(expected, {0x61, 0x63});
  Append(expected, {0x60, 0x62}, 6);
  Append(expected, {0x61, 0x63});
  Append(expected, {0x60, 0x62}, 7);
  Append(expected, {0x61, 0x63});
  Append(expected, {0x60, 0x40});
  EXPECT_EQ(BusBytes(log_), expected);
  EXPECT_EQ(log_.front(), testing::Out(kCh1Index, 3));
}

TEST_F(FrontEnd, RelayWordCarriesRangesCouplingAndTheDoubleRateRouteThenSettles) {
  const struct {
    std::uint16_t range1, range2;
    std::uint8_t coupling1, coupling2;
    TMeasureMode mode;
    bool double_rate;
    std::uint32_t word;
  } cases[] = {
      {1, 1, 0, 0, mCh12, false, 0x4ACC},
      {6, 6, 1, 0, mCh12, false, 0x802 + 0x4090 + 0x1000},
      {12, 7, 1, 1, mCh12, false, 0x80002 + 0x80C0 + 0x3000},
      // Channel 1 on both converters only in the one-channel mode.
      {4, 4, 0, 0, mCh1, true, 0xA00 + 0x40C0 + 0x100 - 0x80},
      {4, 4, 0, 0, mCh12, true, 0xA00 + 0x40C0},
  };
  for (const auto& c : cases) {
    log_.clear();
    vm_->RangeIndex[1] = c.range1;
    vm_->RangeIndex[2] = c.range2;
    vm_->Coupling[1] = c.coupling1;
    vm_->Coupling[2] = c.coupling2;
    vm_->mMeasureMode = c.mode;
    vm_->DoubleRate = c.double_rate;
    const std::uint32_t before = platform::GetTickCount();
    vm_->WriteRelayWord();
    EXPECT_GE(platform::GetTickCount() - before, 10u);
    const std::vector<std::uint8_t> bytes = BusBytes(log_);
    ASSERT_EQ(bytes.size(), 43u);
    EXPECT_EQ(bytes.front(), 0x40);
    EXPECT_EQ(bytes[41], 0x50);  // the latch
    EXPECT_EQ(bytes[42], 0x40);
    EXPECT_EQ(Shifted(bytes, 0, true), c.word) << c.range1 << "/" << c.range2;
  }
}

TEST_F(FrontEnd, DcLevelDacCodesAreTwosComplementClampedAndRoundedHalfToEven) {
  const struct {
    long double volts;
    std::uint16_t code;
  } cases[] = {
      {0.0L, 0x000},
      {5.0L, 0x7FF},
      {7.5L, 0x7FF},
      {-5.0L, 0x800},
      {-9.0L, 0x800},
      {-1.0L, 0xE66},
      {0.00244140625L, 0x001},
      {0.001220703125L, 0x000},
      {0.003662109375L, 0x002},  // half steps
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DcLevelDacCode(c.volts), c.code) << static_cast<double>(c.volts);
    for (int channel = 1; channel <= 2; ++channel) {
      log_.clear();
      vm_->WriteDcLevelDac(channel, c.volts);
      const std::vector<std::uint8_t> bytes = BusBytes(log_);
      const std::uint8_t select = channel == 1 ? 0x04 : 0x08;
      ASSERT_EQ(bytes.size(), 34u);
      EXPECT_EQ(bytes.front(), 0x42 | select);
      EXPECT_EQ(bytes.back(), 0x40);
      EXPECT_EQ(Shifted(bytes, select, false), c.code);
    }
  }
}

TEST(FrontEndWithoutPortAccess, WritesNothing) {
  std::vector<PortAccess> log;
  platform::SetMessageSink(platform::MessageSink::kQuiet);
  TVMx16 vm(std::make_unique<RecordingBackend>(&log, /*driver_ok=*/false));
  vm.WriteGainTrims(127, 127);
  vm.WriteRelayWord();
  vm.WriteDcLevelDac(1, 0.0L);
  EXPECT_TRUE(log.empty());
}

TEST_F(FrontEnd, CalibrationSubstitutesPatchRangesOneToSixUntilThePortSetIsRestored) {
  const PerRange<std::uint32_t> ch1 = RangeBitsCh1;
  const PerRange<std::uint32_t> ch2 = RangeBitsCh2;
  ApplyOffsetSearchSubstitutes();
  EXPECT_EQ(RangeBitsCh1[1], 0x40204u);
  EXPECT_EQ(RangeBitsCh2[1], 0x40C8u);
  ApplyGainSearchSubstitutes();
  const std::uint32_t gain_ch1[] = {0x40204, 0x40005, 0x40006, 0x40200, 0x40001, 0x40002};
  const std::uint32_t gain_ch2[] = {0xC8, 0xA8, 0x98, 0xC0, 0xA0, 0x90};
  for (int range = 1; range <= 6; ++range) {
    EXPECT_EQ(RangeBitsCh1[range], gain_ch1[range - 1]);
    EXPECT_EQ(RangeBitsCh2[range], gain_ch2[range - 1]);
  }
  EXPECT_EQ(RangeBitsCh1[7], ch1[7]);
  vm_->ComputePortSet();
  EXPECT_EQ(RangeBitsCh1, ch1);
  EXPECT_EQ(RangeBitsCh2, ch2);
}

}  // namespace
}  // namespace vm316
