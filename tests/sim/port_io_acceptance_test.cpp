// The board driven through the driver's own port layer, the way the recorder readout drives it:
// arm, wait for the record, find its start from the end address, seek, and read it back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "port/port_io.h"
#include "port/registers.h"
#include "sim/board.h"

namespace vm316 {
namespace {

using namespace port;

constexpr std::uint16_t kBase = 0x378;
constexpr int kPre = 256;
constexpr int kPost = 1024;
constexpr std::uint8_t kLevel = 127;  // 0 V
constexpr std::uint8_t kHysteresis = 10;

class PortIoAcceptance : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SystemClock().Select(platform::ClockKind::kVirtual);
    platform::SystemClock().SetVirtualNs(0);  // the same millisecond phase for the waits each run
    sim::BoardConfig config;  // the default board: seed 1, with its imperfections
    std::string error;
    config.ch1 = *sim::Signal::Parse("sine:freq=1000,amp=0.5", &error);
    board_ = std::make_unique<sim::Board>(config, platform::SystemClock());
    io_.Attach(board_.get());
    io_.SetPorts(PortSet::FromBase(kBase));
  }

  void WriteCount(std::uint16_t value) {
    io_.WriteRegister(kControlUnit, kCountLowRegister, static_cast<std::uint8_t>(value));
    io_.WriteRegister(kControlUnit, kCountHighRegister, static_cast<std::uint8_t>(value >> 8));
  }
  void Mode(std::uint8_t mode) { io_.WriteRegister(kControlUnit, kModeRegister, mode); }
  bool RecordReady() { return (io_.Read(kStatusPort) & kStatusRecordReady) != 0; }

  // Range 6 on both channels, DC-level DACs at -1.0 V, neutral trims.
  void ProgramFrontEnd() {
    io_.WritePort(io_.Ports().index[kCh1Unit], kFrontEndBusRegister);
    io_.WriteData(kCh1Unit, 0x40);
    const std::uint32_t word = 0x802 + 0x4090;
    for (int bit = 19; bit >= 0; --bit) {
      const std::uint8_t data = (word >> bit) & 1;
      io_.WriteData(kCh1Unit, 0x40 + data);
      io_.WriteData(kCh1Unit, 0x42 + data);
    }
    io_.WriteData(kCh1Unit, 0x50);
    io_.WriteData(kCh1Unit, 0x40);
    DelayMs(10);  // the relays settle
    for (std::uint8_t select : {4, 8}) {
      const std::uint16_t code = 1638 ^ 0x800;  // -1.0 V
      io_.WriteData(kCh1Unit, 0x42 + select);
      for (int bit = 15; bit >= 0; --bit) {
        const std::uint8_t data = (code >> bit) & 1;
        io_.WriteData(kCh1Unit, 0x42 + select + data);
        io_.WriteData(kCh1Unit, 0x40 + select + data);
      }
      io_.WriteData(kCh1Unit, 0x40);
    }
  }

  // 4 MHz / 4 through counter 0, or the 20 MHz crystal.
  void SampleClock1MHz() {
    io_.WriteRegister(kControlUnit, kTimerSelectRegister, 0x03);
    io_.WriteRegister(kControlUnit, kTimerDataRegister, 0x36);
    io_.WriteRegister(kControlUnit, kTimerSelectRegister, 0x00);
    io_.WriteRegister(kControlUnit, kTimerDataRegister, 4);
    io_.WriteData(kControlUnit, 0);
    io_.WriteRegister(kControlUnit, kTimerSelectRegister, 3 << 2);
  }
  void SampleClock20MHz() { io_.WriteRegister(kControlUnit, kTimerSelectRegister, 0); }

  void Arm() {
    for (Unit unit : {kCh1Unit, kCh2Unit}) {
      io_.WriteRegister(unit, kComparatorModeRegister, kComparatorAnalogRising);
      io_.WriteRegister(unit, kHysteresisLevelRegister, kLevel - kHysteresis);
      io_.WriteRegister(unit, kTriggerLevelRegister, kLevel);
    }
    SampleClock1MHz();
    WriteCount(kPost);
    io_.WriteRegister(kCh1Unit, kUnitModeRegister, kUnitModeRecord);
    io_.WriteRegister(kCh2Unit, kUnitModeRegister, kUnitModeRecord);
    io_.WriteRegister(kControlUnit, kArmRegister, 0);
    Mode(kModeStopped);
    io_.WriteRegister(kControlUnit, kTriggerRegister, kTriggerSelectCh1);
    io_.WriteRegister(kControlUnit, kArmRegister, 0);
    io_.WriteRegister(kCh1Unit, kUnitStepRegister, 0);
    io_.WriteRegister(kCh2Unit, kUnitStepRegister, 0);
    Mode(kModeArmed);
  }

  bool WaitForRecord(std::uint32_t ms) {
    const std::uint32_t start = platform::GetTickCount();
    while (!RecordReady()) {
      if (platform::GetTickCount() - start > ms) return false;
    }
    return true;
  }

  void SeekRecordStart(std::uint16_t address) {
    Mode(kModeStopped);
    WriteCount(address);
    SampleClock20MHz();
    io_.WriteRegister(kControlUnit, kArmRegister, 0);
    io_.WriteRegister(kControlUnit, kTriggerRegister, kTriggerSelectNow);
    Mode(kModeSeekLoad);
    Mode(kModeSeekRun);
    WaitForRecord(20);
    Mode(kModeStopped);
  }

  std::vector<std::uint8_t> ReadRecord() {
    Mode(kModeStopped);
    const std::uint8_t high = io_.Read(kCounterHighPort);
    const std::uint8_t low = io_.Read(kCounterLowPort);
    const int end = (high * 256 + low) & kSampleAddressMask;
    int start = end - kPost - kPre - 7;
    if (start < 0) start += kSampleMemorySize;
    SeekRecordStart(static_cast<std::uint16_t>(start));
    std::vector<std::uint8_t> channel1;
    for (int i = 0; i < kPre + kPost + 1; ++i) {
      channel1.push_back(io_.Read(kCh1SamplePort));
      io_.Read(kCh2SamplePort);
      io_.WriteRegister(kControlUnit, kStepRegister, 0);
    }
    return channel1;
  }

  std::unique_ptr<sim::Board> board_;
  PortIo io_;
};

// Rising crossings of the trigger level.
std::vector<int> Crossings(const std::vector<std::uint8_t>& record) {
  std::vector<int> at;
  for (int i = 1; i < static_cast<int>(record.size()); ++i) {
    if (record[i - 1] < kLevel && record[i] >= kLevel) at.push_back(i);
  }
  return at;
}

TEST_F(PortIoAcceptance, SineRecordedAt1MHzHasItsTriggerAtThePreTriggerIndex) {
  ProgramFrontEnd();
  Arm();
  ASSERT_TRUE(WaitForRecord(100)) << "no record within 100 ms";
  const std::vector<std::uint8_t> record = ReadRecord();
  ASSERT_EQ(record.size(), static_cast<std::size_t>(kPre + kPost + 1));
  const std::vector<int> crossings = Crossings(record);
  ASSERT_GE(crossings.size(), 2u);
  // The crossing nearest the pre-trigger index lies within one sample of it, and the next one a
  // period (1000 samples at 1 MHz) later.
  int nearest = crossings[0];
  for (int at : crossings) {
    if (std::abs(at - kPre) < std::abs(nearest - kPre)) nearest = at;
  }
  EXPECT_LE(std::abs(nearest - kPre), 1);
  bool next_found = false;
  for (int at : crossings) next_found = next_found || std::abs(at - nearest - 1000) <= 2;
  EXPECT_TRUE(next_found);
  // After the trigger the sine spans about +-80 codes around the board's (uncalibrated) zero.
  // (Before it, a trigger that came early leaves memory from before the arm.)
  const auto [low, high] = std::minmax_element(record.begin() + kPre, record.end());
  EXPECT_NEAR(*high - *low, 160, 16);
}

}  // namespace
}  // namespace vm316
