// One captured record as the output writers see it: the samples of the recorded channels and
// the settings they were taken with, all read back from the board after the capture.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vm316::cli {

inline constexpr int kChannelCount = 2;

struct ChannelRecord {
  bool recorded = false;
  double sensitivity = 0.0;  // full scale of the range, volts
  bool auto_range = false;
  bool ac_coupled = false;
  double dc_level = 0.0;
  std::vector<double> volts;
  std::vector<std::uint16_t> raw;  // offset binary, 32768 = 0 V, converter byte * 256
};

struct Record {
  double sample_rate = 0.0;            // achieved, Hz
  std::optional<double> asked_rate;    // when the board could not give the rate asked for
  std::size_t length = 0;              // samples per channel
  std::size_t pre_samples = 0;         // index of the trigger instant
  std::string trigger;                 // "ch1 rising 2.50 V", "none", ...
  std::optional<int> trigger_channel;  // the channel whose level is marked, if any
  std::optional<double> trigger_level;
  std::string backend;    // "simulated board at 0x378", ...
  std::string timestamp;  // local time of the capture, ISO 8601
  std::array<ChannelRecord, kChannelCount> channels;

  // Seconds from the trigger instant: negative before it.
  double TimeOf(std::size_t index) const {
    return (static_cast<double>(index) - static_cast<double>(pre_samples)) / sample_rate;
  }
  double Duration() const { return static_cast<double>(length) / sample_rate; }
};

}  // namespace vm316::cli
