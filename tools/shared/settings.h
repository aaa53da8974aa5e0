// The settings as every front end names them (the panel's keys, Python's settings): one rule
// per setting for reading its text, with the units and SI prefixes of the command line's
// options ("10k", "30M", "500mV", "AC"), and the board's limits where the board itself would
// take the nearest value instead of refusing (the sample rate, the range, the square-wave
// output). The command line's options use the same parsers and the same limits, so that a
// value is refused alike, in the same words, wherever it is typed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm316::host {

// What a setting's text says.
struct SettingValue {
  double number = 0.0;     // Hz (rate, generator: 0 is off), samples, per cent, volts, ms
  bool automatic = false;  // "auto": automatic ranging, or a level half way up the signal
  bool none = false;       // the time-out "none": wait for ever
  std::string word;        // the word of a choice, lower case: "ac", "rising", "ch1", "run", "on"
};

// Why a text was not taken: malformed (or no such setting), or outside what the board does.
struct SettingRefusal {
  bool outside_limits = false;
  std::string why;
};

// The keys, in the order in which a change applies them (each setting's limits depend on the
// ones before it): run, ch1.on, ch2.on, xy, rate, length, pre, ch1.range, ch1.coupling, ch1.dc,
// ch2.range, ..., trigger.source, trigger.slope, trigger.level, trigger.hysteresis,
// trigger.timeout, generator.
const std::vector<std::string>& SettingKeys();

// Reads `text` as the value of `key`. An unknown key is refused naming it and the keys there
// are. The board's limits need the library open (they are its capability lists).
std::optional<SettingValue> ReadSetting(std::string_view key, std::string_view text,
                                        SettingRefusal* refusal);

// The board's limits, as a refusal words them ("the board samples at 0.61 Hz to 20 MHz",
// "100 Hz to 100 kHz, or off").
std::string SampleRateLimits();
std::string GeneratorLimits();
// The same when `value` lies outside them; nothing when it lies within.
std::optional<std::string> SampleRateOutside(double hertz);
std::optional<std::string> RangeOutside(double volts);
std::optional<std::string> GeneratorOutside(double hertz);

// XY (the board's mXY mode: channel 1 drawn across, channel 2 up) takes both channels: "xy=on"
// is refused in these words unless both are on, and turning either off ends XY.
std::string XyNeedsBothChannels();
std::optional<std::string> XyRefusal(bool ch1_on, bool ch2_on);

// The smallest and largest full scale of the board's ranges, volts.
std::pair<double, double> RangeLimits();

}  // namespace vm316::host
