#include "board_ports.h"

#include <algorithm>
#include <cmath>

namespace vm316::sim::simtest {

BoardConfig IdealConfig() {
  BoardConfig config;
  config.ideal = true;
  return config;
}

void BoardPorts::WriteGainTrims(std::uint8_t first, std::uint8_t second) {
  SelectBus();
  Bus(0x40);
  Bus(0x60);
  Bus(0x62);
  for (std::uint8_t value : {first, second}) {
    for (int bit = 7; bit >= 0; --bit) {
      const std::uint8_t data = (value >> bit) & 1;
      Bus(0x60 + data);
      Bus(0x62 + data);
    }
  }
  Bus(0x60);
  Bus(0x40);
}

void BoardPorts::WriteRelayWord(std::uint32_t word) {
  SelectBus();
  Bus(0x40);
  for (int bit = 19; bit >= 0; --bit) {
    const std::uint8_t data = (word >> bit) & 1;
    Bus(0x40 + data);
    Bus(0x42 + data);
  }
  Bus(0x50);
  Bus(0x40);
}

void BoardPorts::WriteDcLevelDac(int channel, std::uint16_t code) {
  const std::uint8_t select = channel == 1 ? 4 : 8;
  SelectBus();
  Bus(0x42 + select);
  for (int bit = 15; bit >= 0; --bit) {
    const std::uint8_t data = (code >> bit) & 1;
    Bus(0x42 + select + data);
    Bus(0x40 + select + data);
  }
  Bus(0x40);
}

void BoardPorts::WriteDcLevelVolts(int channel, double volts) {
  const double code = std::nearbyint(std::clamp(volts / 5.0 * 2048.0 + 2048.0, 0.0, 4095.0));
  WriteDcLevelDac(channel, static_cast<std::uint16_t>(static_cast<int>(code) ^ 0x800));
}

bool BoardPorts::Seek(std::uint16_t address, platform::Clock& clock) {
  WriteControl(kMode, Recorder::kModeStopped);
  WriteCount(address);
  SelectClockSource(TimeBase::kSource20MHz);
  WriteControl(Board::kArmRegister, 0);
  WriteControl(Board::kTriggerRegister, Recorder::kSelectNow);
  WriteControl(kMode, Recorder::kModeSeekLoad);
  WriteControl(kMode, Recorder::kModeSeekRun);
  const std::uint64_t give_up = clock.NowNs() + 20'000'000;
  bool reached = false;
  while (!reached && clock.NowNs() <= give_up) reached = (Status() & Recorder::kStatusDone) != 0;
  WriteControl(kMode, Recorder::kModeStopped);
  return reached;
}

std::vector<Sample> BoardPorts::ReadRecord(int pre, int post, bool select_now,
                                           platform::Clock& clock, std::uint16_t* start_address) {
  WriteControl(kMode, Recorder::kModeStopped);
  const std::uint8_t high = In(Board::kCounterHighPort);
  const std::uint8_t low = In(Board::kCounterLowPort);
  const int end = ((high << 8) | low) & 0x7FFF;
  int start = end - post - pre - (select_now ? 5 : 7);
  if (start < 0) start += 32768;
  if (start_address != nullptr) *start_address = static_cast<std::uint16_t>(start);
  Seek(static_cast<std::uint16_t>(start), clock);
  std::vector<Sample> record;
  for (int i = 0; i < pre + post + 1; ++i) {
    const std::uint8_t s1 = In(Board::kCh1SamplePort);
    const std::uint8_t s2 = In(Board::kCh2SamplePort);
    record.push_back({s1, s2});
    WriteControl(Board::kStepRegister, 0);
  }
  return record;
}

}  // namespace vm316::sim::simtest
