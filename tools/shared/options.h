// What the user asked for on the command line, and the parsers of the option values. Each
// parser returns nothing and says why in *error when the text is malformed; the same parser
// validates while CLI11 reads the line and converts afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record.h"

namespace vm316::host {

// Where the board is, what the simulated inputs carry, where the calibration lives.
struct BackendOptions {
  std::optional<std::uint16_t> port;  // real hardware at this base; else the simulated board
  // The demonstration: channel 1 probes the board's own square-wave output, channel 2 a 50 Hz
  // sine, like a scope on its calibration output and the mains.
  std::string sim_ch1 = "generator";
  std::string sim_ch2 = "sine:freq=50,amp=2";
  std::string sim_ext = "ground";
  std::string cal_dir;     // empty: the user's state directory
  bool calibrate = false;  // real hardware: calibrate without asking when it is due
  bool quiet = false;
};

enum class CaptureStyle : std::uint8_t {
  kAuto,      // blocking, or block style when the capture is long enough to want progress
  kBlocking,  // StartMeasurement
  kBlock      // ADC_Start, ADC_Ready, ADC_GetData
};

enum class TriggerSourceOption : std::uint8_t { kCh1, kCh2, kExternal, kAnd, kOr, kNone };

struct TriggerOption {
  TriggerSourceOption source = TriggerSourceOption::kCh1;
  bool falling = false;
  std::optional<double> level;  // volts; empty: half way between the trace's extremes
};

struct ChannelOption {
  std::optional<double> range;  // full scale, volts
  bool auto_range = false;
  std::optional<bool> ac;
  std::optional<double> dc_level;
};

inline constexpr std::int64_t kNoTimeout = -1;

struct AcquisitionOptions {
  int channel_mask = 3;  // bit 0 channel 1, bit 1 channel 2
  double rate = 100e3;
  bool rate_given = false;
  std::uint32_t length = 1000;
  bool length_given = false;
  std::optional<double> time;         // capture by duration: seconds
  std::optional<std::uint32_t> post;  // empty: kDefaultPostPercent of the record
  std::array<ChannelOption, kChannelCount> channels;
  TriggerOption trigger;
  std::optional<double> hysteresis;
  std::int64_t timeout_ms = 1000;
  CaptureStyle style = CaptureStyle::kAuto;
  std::optional<double> generator;  // square-wave output during the run: Hz, 0 off
  // The board's XY mode (mXY): both channels recorded, to be drawn channel 1 across and
  // channel 2 up. Only with channel_mask 3.
  bool xy = false;
};

// The default full scale of every channel: large enough for the board's own 5 V output.
inline constexpr double kDefaultRangeVolts = 8.0;
inline constexpr std::uint32_t kMinRecordLength = 2;
// By default a tenth of the record lies before the trigger, as on a bench scope with its
// trigger point near the left edge: the edge is seen with what led to it.
inline constexpr std::uint32_t kDefaultPrePercent = 10;
// The slowest rate the board's divider chain reaches: 40 kHz / 65535.
inline constexpr double kMinSampleRate = 40000.0 / 65535.0;
// The square-wave output's limits (4 MHz / N).
inline constexpr double kMinGeneratorHz = 100.0;
inline constexpr double kMaxGeneratorHz = 100e3;

// A whole number with an optional SI prefix ("1000", "10k") within min .. max; the error
// names `what` and the limits.
std::optional<std::uint64_t> ParseBoundedCount(std::string_view text, std::uint64_t min,
                                               std::uint64_t max, std::string_view what,
                                               std::string* error);
// Samples per channel or after the trigger: "1000", "10k".
std::optional<std::uint32_t> ParseSamples(std::string_view text, std::string* error);
// A duration with a unit ("10ms", "2 s"); a bare number counts in `bare_unit_seconds`.
std::optional<double> ParseTime(std::string_view text, double bare_unit_seconds,
                                std::string* error);
// An output file name: not empty; "-" is standard output.
std::optional<std::string> ParseOutputPath(std::string_view text, std::string* error);

std::optional<int> ParseChannelMask(std::string_view text, std::string* error);
std::optional<double> ParseRate(std::string_view text, std::string* error);
std::optional<double> ParseVolts(std::string_view text, std::string* error);
// "1=2", "ch2=auto": the channel and what follows the '='.
std::optional<std::pair<int, std::string>> ParseChannelAssignment(std::string_view text,
                                                                  std::string* error);
// Applies one --range, --coupling or --dc-level assignment to the channel options.
bool ApplyRange(std::string_view text, std::array<ChannelOption, kChannelCount>& channels,
                std::string* error);
bool ApplyCoupling(std::string_view text, std::array<ChannelOption, kChannelCount>& channels,
                   std::string* error);
bool ApplyDcLevel(std::string_view text, std::array<ChannelOption, kChannelCount>& channels,
                  std::string* error);
std::optional<TriggerOption> ParseTrigger(std::string_view text, std::string* error);
std::optional<std::int64_t> ParseTimeout(std::string_view text, std::string* error);
std::optional<CaptureStyle> ParseStyle(std::string_view text, std::string* error);
// "1000", "1k", "off" (0). The limits of the output are checked where it is set.
std::optional<double> ParseGeneratorFrequency(std::string_view text, std::string* error);
std::optional<std::uint16_t> ParsePortAddress(std::string_view text, std::string* error);

// "ch1 rising 2.50 V", "ext falling", "none".
std::string DescribeTrigger(const TriggerOption& trigger,
                            const std::array<std::optional<double>, kChannelCount>& levels);

// The channels whose comparator a trigger source uses (their levels are the ones to mark).
std::vector<int> ChannelsOfTriggerSource(TriggerSourceOption source);

}  // namespace vm316::host
