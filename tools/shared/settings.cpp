#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "options.h"
#include "record.h"
#include "units.h"
#include "vm316.h"

namespace vm316::host {
namespace {

constexpr int kSensitivityListSize = 20;  // the capability lists of the interface hold 20
constexpr double kPercent = 100.0;
// A value read from text may differ from a limit in its last digits.
constexpr double kLimitTolerance = 1e-9;

enum class Rule : std::uint8_t {
  kRun,
  kOnOff,
  kRate,
  kLength,
  kPre,
  kRange,
  kCoupling,
  kVolts,
  kSource,
  kSlope,
  kLevel,
  kHysteresis,
  kTimeout,
  kGenerator
};

std::optional<Rule> RuleOf(std::string_view key) {
  static const std::pair<const char*, Rule> kGlobal[] = {{"run", Rule::kRun},
                                                         {"xy", Rule::kOnOff},
                                                         {"rate", Rule::kRate},
                                                         {"length", Rule::kLength},
                                                         {"pre", Rule::kPre},
                                                         {"trigger.source", Rule::kSource},
                                                         {"trigger.slope", Rule::kSlope},
                                                         {"trigger.level", Rule::kLevel},
                                                         {"trigger.hysteresis", Rule::kHysteresis},
                                                         {"trigger.timeout", Rule::kTimeout},
                                                         {"generator", Rule::kGenerator}};
  for (const auto& [name, rule] : kGlobal) {
    if (key == name) return rule;
  }
  static const std::pair<const char*, Rule> kChannel[] = {{"on", Rule::kOnOff},
                                                          {"range", Rule::kRange},
                                                          {"coupling", Rule::kCoupling},
                                                          {"dc", Rule::kVolts}};
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const std::string prefix = "ch" + std::to_string(channel) + ".";
    if (!key.starts_with(prefix)) continue;
    for (const auto& [name, rule] : kChannel) {
      if (key.substr(prefix.size()) == name) return rule;
    }
  }
  return std::nullopt;
}

std::string Lower(std::string_view text) {
  std::string lower(Trim(text));
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::optional<SettingValue> Refuse(SettingRefusal* refusal, std::string why,
                                   bool outside_limits = false) {
  if (refusal != nullptr) *refusal = {outside_limits, std::move(why)};
  return std::nullopt;
}

std::optional<SettingValue> Choice(std::string_view text, std::initializer_list<const char*> words,
                                   const std::string& what, SettingRefusal* refusal) {
  const std::string lower = Lower(text);
  for (const char* word : words) {
    if (lower == word) return SettingValue{0.0, false, false, lower};
  }
  return Refuse(refusal, what + ", not \"" + std::string(text) + "\"");
}

std::optional<SettingValue> Number(std::optional<double> number, const std::string& why,
                                   SettingRefusal* refusal) {
  if (!number) return Refuse(refusal, why);
  SettingValue value;
  value.number = *number;
  return value;
}

bool Within(double value, double low, double high) {
  return value >= low * (1 - kLimitTolerance) && value <= high * (1 + kLimitTolerance);
}

}  // namespace

const std::vector<std::string>& SettingKeys() {
  static const std::vector<std::string> kKeys = {"run",
                                                 "ch1.on",
                                                 "ch2.on",
                                                 "xy",
                                                 "rate",
                                                 "length",
                                                 "pre",
                                                 "ch1.range",
                                                 "ch1.coupling",
                                                 "ch1.dc",
                                                 "ch2.range",
                                                 "ch2.coupling",
                                                 "ch2.dc",
                                                 "trigger.source",
                                                 "trigger.slope",
                                                 "trigger.level",
                                                 "trigger.hysteresis",
                                                 "trigger.timeout",
                                                 "generator"};
  return kKeys;
}

std::pair<double, double> RangeLimits() {
  double ranges[kSensitivityListSize] = {};
  GetAvailableSensitivities(ranges);
  double smallest = 0.0;
  double largest = 0.0;
  for (const double range : ranges) {
    if (range <= 0.0) continue;
    smallest = smallest == 0.0 ? range : std::min(smallest, range);
    largest = std::max(largest, range);
  }
  return {smallest, largest};
}

std::string SampleRateLimits() {
  char slowest[16];
  std::snprintf(slowest, sizeof slowest, "%.2f Hz", kMinSampleRate);
  return "the board samples at " + std::string(slowest) + " to " +
         FormatFrequency(GetMaxSampleFrequencyF(), true);
}

std::string GeneratorLimits() {
  return FormatFrequency(kMinGeneratorHz, true) + " to " + FormatFrequency(kMaxGeneratorHz, true) +
         ", or off";
}

std::optional<std::string> SampleRateOutside(double hertz) {
  if (Within(hertz, kMinSampleRate, GetMaxSampleFrequencyF())) return std::nullopt;
  return SampleRateLimits();
}

std::optional<std::string> RangeOutside(double volts) {
  const auto [smallest, largest] = RangeLimits();
  // Nearest is fine within the table; beyond it the board would show another scale than the
  // one asked for.
  if (Within(volts, smallest, largest)) return std::nullopt;
  return FormatVolts(smallest) + " to " + FormatVolts(largest) + " full scale";
}

std::string XyNeedsBothChannels() {
  return "xy needs both channels on (ch1.on and ch2.on)";
}

std::optional<std::string> XyRefusal(bool ch1_on, bool ch2_on) {
  if (ch1_on && ch2_on) return std::nullopt;
  return XyNeedsBothChannels();
}

std::optional<std::string> GeneratorOutside(double hertz) {
  if (hertz == 0.0 || (hertz >= kMinGeneratorHz && hertz <= kMaxGeneratorHz)) return std::nullopt;
  return GeneratorLimits();
}

std::optional<SettingValue> ReadSetting(std::string_view key, std::string_view text,
                                        SettingRefusal* refusal) {
  const std::optional<Rule> rule = RuleOf(key);
  if (!rule) {
    std::string keys;
    for (const std::string& name : SettingKeys()) keys += (keys.empty() ? "" : ", ") + name;
    return Refuse(refusal, "no such setting: \"" + std::string(key) + "\" (" + keys + ")");
  }
  std::string why;
  const std::string lower = Lower(text);
  switch (*rule) {
    case Rule::kRun:
      return Choice(text, {"run", "stop", "single"}, "run, stop or single", refusal);
    case Rule::kOnOff: {
      std::optional<SettingValue> value =
          Choice(text, {"on", "off", "1", "0", "true", "false"}, "on or off", refusal);
      if (value)
        value->word =
            value->word == "on" || value->word == "1" || value->word == "true" ? "on" : "off";
      return value;
    }
    case Rule::kCoupling:
      return Choice(text, {"ac", "dc"}, "coupling is ac or dc", refusal);
    case Rule::kSource:
      return Choice(text, {"ch1", "ch2", "ext", "and", "or", "none"},
                    "the trigger source must be ch1, ch2, ext, and, or or none", refusal);
    case Rule::kSlope:
      return Choice(text, {"rising", "falling"}, "the slope is rising or falling", refusal);
    case Rule::kRate: {
      std::optional<SettingValue> value = Number(ParseRate(text, &why), why, refusal);
      if (!value) return value;
      if (const auto limits = SampleRateOutside(value->number)) {
        return Refuse(refusal, *limits, true);
      }
      return value;
    }
    case Rule::kLength: {
      const std::optional<std::uint32_t> samples = ParseSamples(text, &why);
      if (!samples) return Refuse(refusal, why);
      if (*samples < kMinRecordLength) {
        return Refuse(refusal,
                      "a record needs at least " + std::to_string(kMinRecordLength) + " samples",
                      true);
      }
      return SettingValue{static_cast<double>(*samples), false, false, {}};
    }
    case Rule::kPre: {
      const std::optional<double> percent = ParseQuantity(text, "%");
      if (!percent || *percent < 0.0 || *percent > kPercent) {
        return Refuse(refusal,
                      "a share of the record from 0 to 100 %, not \"" + std::string(text) + "\"");
      }
      return SettingValue{*percent, false, false, {}};
    }
    case Rule::kRange: {
      if (lower == "auto") return SettingValue{0.0, true, false, "auto"};
      const std::optional<double> volts = ParseQuantity(text, "V");
      if (!volts) {
        return Refuse(
            refusal, "a range is a full scale in volts or auto, not \"" + std::string(text) + "\"");
      }
      if (const auto limits = RangeOutside(*volts)) return Refuse(refusal, *limits, true);
      return SettingValue{*volts, false, false, {}};
    }
    case Rule::kVolts:
      return Number(ParseVolts(text, &why), why, refusal);
    case Rule::kLevel:
      if (lower == "auto") return SettingValue{0.0, true, false, "auto"};
      return Number(ParseVolts(text, &why), why, refusal);
    case Rule::kHysteresis: {
      std::optional<SettingValue> value = Number(ParseVolts(text, &why), why, refusal);
      if (value && value->number < 0.0) return Refuse(refusal, "at least 0 V", true);
      return value;
    }
    case Rule::kTimeout: {
      const std::optional<std::int64_t> milliseconds = ParseTimeout(text, &why);
      if (!milliseconds) return Refuse(refusal, why);
      if (*milliseconds == kNoTimeout) return SettingValue{0.0, false, true, "none"};
      return SettingValue{static_cast<double>(*milliseconds), false, false, {}};
    }
    case Rule::kGenerator: {
      std::optional<SettingValue> value = Number(ParseGeneratorFrequency(text, &why), why, refusal);
      if (!value) return value;
      if (const auto limits = GeneratorOutside(value->number)) {
        return Refuse(refusal, *limits, true);
      }
      return value;
    }
  }
  return Refuse(refusal, "no such setting: \"" + std::string(key) + "\"");
}

}  // namespace vm316::host
