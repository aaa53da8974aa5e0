// One captured record as the output writers see it: the samples of the recorded channels and
// the settings they were taken with, all read back from the board after the capture.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vm316::host {

inline constexpr int kChannelCount = 2;

// The driver's own clipping test: a converter byte of 0..2 or 254..255 (a sample below 768 or
// above 64768) means the signal went beyond the range's window, and the record shows the
// window's edge instead of the signal.
inline constexpr std::uint16_t kLowestUnclippedSample = 768;
inline constexpr std::uint16_t kHighestUnclippedSample = 64768;

// How the record's trigger instant came about, as a bench scope shows it ("Trig'd", "Auto").
enum class TriggerState : std::uint8_t {
  kUnknown,     // the capture style does not say (StartMeasurement forces on its own)
  kTriggered,   // the board's trigger status showed the trigger before the time-out ran out
  kForced,      // the time-out ran out and the host forced the trigger
  kFreeRunning  // no trigger source: the record is taken at once
};

struct ChannelRecord {
  bool recorded = false;
  double sensitivity = 0.0;  // full scale of the range, volts
  bool auto_range = false;
  bool ac_coupled = false;
  double dc_level = 0.0;
  std::vector<double> volts;
  std::vector<std::uint16_t> raw;  // offset binary, 32768 = 0 V, converter byte * 256

  // Some sample, the pre-trigger part included, touched the converter's limits: the
  // measurements are those of the clipped record, not of the signal.
  bool OverRange() const {
    for (const std::uint16_t sample : raw) {
      if (sample < kLowestUnclippedSample || sample > kHighestUnclippedSample) return true;
    }
    return false;
  }
};

struct Record {
  double sample_rate = 0.0;            // achieved, Hz
  std::optional<double> asked_rate;    // when the board could not give the rate asked for
  std::size_t length = 0;              // samples per channel
  std::size_t pre_samples = 0;         // index of the trigger instant
  std::string trigger;                 // "ch1 rising 2.50 V", "none", ...
  std::optional<int> trigger_channel;  // the channel whose level is marked, if any
  std::optional<double> trigger_level;
  bool trigger_falling = false;
  std::optional<double> trigger_hysteresis;  // volts, of the marked channel's comparator
  TriggerState trigger_state = TriggerState::kUnknown;
  std::optional<double> timeout_seconds;  // the time-out that forced a kForced record
  std::string backend;                    // "simulated board at 0x378", ...
  std::string timestamp;                  // local time of the capture, ISO 8601
  bool xy = false;                        // taken in the board's XY mode (mXY)
  std::array<ChannelRecord, kChannelCount> channels;

  // Seconds from the trigger instant: negative before it.
  double TimeOf(std::size_t index) const {
    return (static_cast<double>(index) - static_cast<double>(pre_samples)) / sample_rate;
  }
  double Duration() const { return static_cast<double>(length) / sample_rate; }
};

// The scope's word for the trigger state: "Trig'd", "Auto", "free running", "not known".
inline const char* TriggerStateMark(TriggerState state) {
  switch (state) {
    case TriggerState::kTriggered:
      return "Trig'd";
    case TriggerState::kForced:
      return "Auto";
    case TriggerState::kFreeRunning:
      return "free running";
    case TriggerState::kUnknown:
      break;
  }
  return "Trig'd or Auto not known";
}

// The same for files: "triggered", "forced", "free_running", "unknown".
inline const char* TriggerStateKey(TriggerState state) {
  switch (state) {
    case TriggerState::kTriggered:
      return "triggered";
    case TriggerState::kForced:
      return "forced";
    case TriggerState::kFreeRunning:
      return "free_running";
    case TriggerState::kUnknown:
      break;
  }
  return "unknown";
}

// The local time of a capture, ISO 8601; on the virtual clock a fixed instant.
std::string RecordTimestamp(bool virtual_clock);

// One channel of the record just taken, with its settings read back from the library: `count`
// samples of `volts` (the input less the DC level, as the library gives it) and of `raw`.
ChannelRecord ReadBackChannel(int channel, bool recorded, const double* volts,
                              const std::uint16_t* raw, std::size_t count);

}  // namespace vm316::host
