// The simulated board: eight ports at its base address on the bus, three register units behind
// them, and the recorder, time base, front-end bus and analog side they drive. It is a port
// backend like the real ports; the driver cannot tell the two apart.
#pragma once

#include <array>
#include <cstdint>

#include "platform/clock.h"
#include "platform/port_backend.h"
#include "sim/analog.h"
#include "sim/faults.h"
#include "sim/front_end_bus.h"
#include "sim/recorder.h"
#include "sim/signal.h"
#include "sim/time_base.h"

namespace vm316::sim {

struct BoardConfig {
  static constexpr std::uint16_t kDefaultBase = 0x378;
  static constexpr std::uint64_t kDefaultSeed = 1;

  std::uint16_t base = kDefaultBase;
  Signal ch1;
  Signal ch2;
  Signal external;
  std::uint64_t seed = kDefaultSeed;
  FaultSet faults;
  bool ideal = false;  // no imperfections and no converter noise (for tests)
};

class Board final : public platform::PortBackend, private SampleSource {
 public:
  // The board's register map, from the board's side. It repeats the library's
  // src/port/registers.h on purpose: the simulated board shares no header with the library,
  // which reaches it only through the ports, as it reaches real hardware.
  // Port offsets from the base address.
  static constexpr std::uint16_t kCounterLowPort = 0;    // read
  static constexpr std::uint16_t kControlIndexPort = 0;  // write
  static constexpr std::uint16_t kCounterHighPort = 1;   // read
  static constexpr std::uint16_t kControlDataPort = 1;   // write
  static constexpr std::uint16_t kStatusPort = 2;        // read
  static constexpr std::uint16_t kCh1SamplePort = 4;     // read
  static constexpr std::uint16_t kCh1IndexPort = 4;      // write
  static constexpr std::uint16_t kCh1DataPort = 5;       // write
  static constexpr std::uint16_t kCh2SamplePort = 6;     // read
  static constexpr std::uint16_t kCh2IndexPort = 6;      // write
  static constexpr std::uint16_t kCh2DataPort = 7;       // write
  static constexpr std::uint16_t kPortCount = 8;

  // Control-unit registers.
  static constexpr std::uint8_t kCountLowRegister = 0;
  static constexpr std::uint8_t kCountHighRegister = 1;
  static constexpr std::uint8_t kTimerSelectRegister = 2;
  static constexpr std::uint8_t kModeRegister = 3;
  static constexpr std::uint8_t kArmRegister = 4;
  static constexpr std::uint8_t kStepRegister = 5;
  static constexpr std::uint8_t kTimerDataRegister = 6;
  static constexpr std::uint8_t kTriggerRegister = 7;
  // Channel-unit registers.
  static constexpr std::uint8_t kHysteresisLevelRegister = 0;
  static constexpr std::uint8_t kTriggerLevelRegister = 1;
  static constexpr std::uint8_t kComparatorModeRegister = 2;
  static constexpr std::uint8_t kFrontEndBusRegister = 3;  // unit 1 only
  static constexpr std::uint8_t kUnitModeRegister = 4;
  static constexpr std::uint8_t kUnitStepRegister = 5;

  Board(const BoardConfig& config, platform::Clock& clock);

  // PortBackend.
  bool OpenDriver() override { return !config_.faults.no_driver; }
  void Out(std::uint16_t port, std::uint8_t value) override;
  std::uint8_t In(std::uint16_t port) override;

  // Inspection, for tests of the board and of the driver. None of these touches the bus.
  const BoardConfig& Config() const { return config_; }
  std::uint64_t PortAccessCount() const { return port_accesses_; }
  std::uint32_t RelayWord() const { return bus_.RelayWord(); }
  std::uint16_t DcLevelDacCode(int channel) const { return bus_.DcLevelDacCode(channel); }
  double DcLevelDacVolts(int channel) const { return bus_.DcLevelDacVolts(channel); }
  std::uint8_t GainTrim(int converter) const { return bus_.GainTrim(converter); }
  const Pit8254::Counter& TimerCounter(int index) const {
    return time_base_.Pit().CounterAt(index);
  }
  std::uint8_t TimerSelect() const { return time_base_.Select(); }
  double SampleClockHz() const { return time_base_.CurrentSampleClock().FrequencyHz(); }
  double SquareWaveFrequencyHz() const { return time_base_.CurrentSquareWave().FrequencyHz(); }
  // The recorder as of the last port access.
  const Recorder& RecorderUnit() const { return recorder_; }
  RecorderState State() const { return recorder_.State(); }
  std::uint8_t SampleAt(int converter, std::uint16_t address) const {
    return recorder_.Memory(converter)[address & Recorder::kAddressMask];
  }
  const AnalogModel& Analog() const { return analog_; }

  // Moves the probes: what is wired to the two inputs from now on (the board keeps running).
  void Rewire(const Signal& ch1, const Signal& ch2);

 private:
  // SampleSource.
  std::uint8_t ConvertAt(int converter, std::uint64_t t_ns) override {
    return analog_.Convert(converter, InputTime(t_ns));
  }
  bool ExternalHighAt(std::uint64_t t_ns) override { return analog_.ExternalHigh(InputTime(t_ns)); }
  std::uint64_t FirstTaken(const ComparatorWatch& watch, int converter, std::uint64_t t_ns,
                           std::uint64_t period_ns, std::uint64_t count) override;
  std::uint64_t LastTaken(const ComparatorWatch& watch, int converter, std::uint64_t t_ns,
                          std::uint64_t period_ns, std::uint64_t count) override;

  // Counts the access, charges its bus cycle and brings the board up to the present. False when
  // the access does not reach the board (another address, or a board that is not there).
  bool BeginAccess(std::uint16_t port, std::uint16_t* offset);
  void WriteControl(std::uint8_t value);
  void WriteUnit(int unit, std::uint8_t value);
  void WriteFrontEndBus(std::uint8_t lines);
  void TimeBaseChanged();
  std::uint64_t Now() { return clock_.NowNs(); }
  // Board time as the inputs see it: nanoseconds since the board was made (a clock set back
  // before that reads as the start).
  std::uint64_t InputTime(std::uint64_t t_ns) const {
    return t_ns > origin_ns_ ? t_ns - origin_ns_ : 0;
  }

  BoardConfig config_;
  platform::Clock& clock_;
  std::uint64_t origin_ns_;
  std::uint64_t port_accesses_ = 0;
  std::array<std::uint8_t, 3> selected_register_{};  // per unit: control, channel 1, channel 2
  TimeBase time_base_;
  FrontEndBus bus_;
  AnalogModel analog_;
  Recorder recorder_;
};

}  // namespace vm316::sim
