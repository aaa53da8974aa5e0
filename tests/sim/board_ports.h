// Drives the simulated board through its ports only, the way a program using the bare board
// would: register writes, the front-end bus formats, arming and the record readout arithmetic.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "sim/board.h"

namespace vm316::sim::simtest {

// Relay words of a few ranges (channel 1 + channel 2, both on the same range).
inline constexpr std::uint32_t kRange1Word = 0xA04 + 0x40C8;  // 0.02 V
inline constexpr std::uint32_t kRange6Word = 0x802 + 0x4090;  // 0.8 V
inline constexpr std::uint32_t kRange9Word = 0x402 + 0x8090;  // 8 V

inline constexpr std::uint8_t kMode = Board::kModeRegister;
inline constexpr int kControl = 0;

struct Sample {
  std::uint8_t converter1;
  std::uint8_t converter2;
};

class BoardPorts {
 public:
  explicit BoardPorts(Board& board) : board_(board), base_(board.Config().base) {}

  void Out(std::uint16_t offset, std::uint8_t value) {
    board_.Out(static_cast<std::uint16_t>(base_ + offset), value);
  }
  std::uint8_t In(std::uint16_t offset) {
    return board_.In(static_cast<std::uint16_t>(base_ + offset));
  }

  // Register reg of unit 0 (control), 1 or 2 := value.
  void WriteRegister(int unit, std::uint8_t reg, std::uint8_t value) {
    static constexpr std::uint16_t kIndex[] = {Board::kControlIndexPort, Board::kCh1IndexPort,
                                               Board::kCh2IndexPort};
    Out(kIndex[unit], reg);
    Out(static_cast<std::uint16_t>(kIndex[unit] + 1), value);
  }
  void WriteControl(std::uint8_t reg, std::uint8_t value) { WriteRegister(kControl, reg, value); }

  std::uint16_t ReadCounter() {
    const std::uint8_t low = In(Board::kCounterLowPort);
    const std::uint8_t high = In(Board::kCounterHighPort);
    return static_cast<std::uint16_t>(low | (high << 8));
  }
  std::uint8_t Status() { return In(Board::kStatusPort); }

  void WriteCount(std::uint16_t value) {
    WriteControl(Board::kCountLowRegister, static_cast<std::uint8_t>(value));
    WriteControl(Board::kCountHighRegister, static_cast<std::uint8_t>(value >> 8));
  }

  // Clock source 0..2 straight from a crystal.
  void SelectClockSource(std::uint8_t source) {
    WriteControl(Board::kTimerSelectRegister, static_cast<std::uint8_t>(source << 2));
  }
  // An 8254 control word and a low-then-high count, as the time base routines write them.
  void LoadTimer(int counter, std::uint8_t control, std::uint16_t count) {
    WriteControl(Board::kTimerSelectRegister, 3);
    WriteControl(Board::kTimerDataRegister, control);
    WriteControl(Board::kTimerSelectRegister, static_cast<std::uint8_t>(counter));
    WriteControl(Board::kTimerDataRegister, static_cast<std::uint8_t>(count));
    Out(Board::kControlDataPort, static_cast<std::uint8_t>(count >> 8));
  }
  // 4 MHz / n through counter 0 (source 3).
  void SelectDividedClock(std::uint16_t n) {
    LoadTimer(0, n == 3 ? 0x34 : 0x36, n);
    SelectClockSource(3);
  }

  // The three front-end bus writes, in the bus formats.
  void WriteGainTrims(std::uint8_t first, std::uint8_t second);
  void WriteRelayWord(std::uint32_t word);
  void WriteDcLevelDac(int channel, std::uint16_t code);
  // A DAC set to volts with the rounding of the bus writer (code = v / 5 x 2048 + 2048).
  void WriteDcLevelVolts(int channel, double volts);

  void ProgramComparator(int unit, std::uint8_t mode, std::uint8_t hysteresis, std::uint8_t level) {
    WriteRegister(unit, Board::kComparatorModeRegister, mode);
    WriteRegister(unit, Board::kHysteresisLevelRegister, hysteresis);
    WriteRegister(unit, Board::kTriggerLevelRegister, level);
  }

  // Post count, unit modes, arm, select code, record: the arming order of the setup writer.
  void Arm(std::uint16_t post, std::uint8_t select, bool double_rate = false) {
    WriteCount(post);
    WriteRegister(1, Board::kUnitModeRegister,
                  double_rate ? Recorder::kUnitDoubleRate : Recorder::kUnitRecord);
    WriteRegister(2, Board::kUnitModeRegister, Recorder::kUnitRecord);
    WriteControl(Board::kArmRegister, 0);
    WriteControl(kMode, Recorder::kModeStopped);
    WriteControl(Board::kTriggerRegister, select);
    WriteControl(Board::kArmRegister, 0);
    WriteRegister(1, Board::kUnitStepRegister, 0);
    WriteRegister(2, Board::kUnitStepRegister, 0);
    WriteControl(kMode, Recorder::kModeArmed);
  }

  // Polls the status port until bit 0; false if it does not come within max_polls reads.
  bool WaitDone(std::uint64_t max_polls) {
    for (std::uint64_t i = 0; i < max_polls; ++i) {
      if ((Status() & Recorder::kStatusDone) != 0) return true;
    }
    return false;
  }

  // Seek: the counter runs at 20 MHz to address; waits for status bit 0 (at most 20 ms of
  // board time), then stops. True when the status bit came.
  bool Seek(std::uint16_t address, platform::Clock& clock);

  // The readout: end address, start = end - post - pre - 7 (- 5 after select code 2 at arm),
  // negative starts wrapped by 32768, seek, then pre + post + 1 locations.
  std::vector<Sample> ReadRecord(int pre, int post, bool select_now, platform::Clock& clock,
                                 std::uint16_t* start_address = nullptr);

 private:
  void Bus(std::uint8_t lines) { Out(Board::kCh1DataPort, lines); }
  void SelectBus() { Out(Board::kCh1IndexPort, Board::kFrontEndBusRegister); }

  Board& board_;
  std::uint16_t base_;
};

// A board on its own virtual clock.
struct TestBench {
  explicit TestBench(BoardConfig config = {}) : clock(MakeClock()), board(config, clock) {}
  static platform::Clock MakeClock() {
    platform::Clock clock;
    clock.Select(platform::ClockKind::kVirtual);
    clock.SetVirtualNs(0);
    return clock;
  }
  platform::Clock clock;
  Board board;
  BoardPorts ports{board};
};

BoardConfig IdealConfig();

}  // namespace vm316::sim::simtest
