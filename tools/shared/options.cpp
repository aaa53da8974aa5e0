#include "options.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "units.h"

namespace vm316::host {
namespace {

// The largest time-out the interface can carry; one more means "wait for ever".
constexpr std::int64_t kMaxTimeoutMs = 0xFFFFFFFE;

bool Fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

std::optional<int> ParseChannel(std::string_view text) {
  const std::string lower = Lower(text);
  if (lower == "1" || lower == "ch1") return 1;
  if (lower == "2" || lower == "ch2") return 2;
  return std::nullopt;
}

}  // namespace

std::optional<int> ParseChannelMask(std::string_view text, std::string* error) {
  if (text == "1") return 1;
  if (text == "2") return 2;
  if (text == "12" || text == "21") return 3;
  Fail(error, "channels must be 1, 2 or 12, not \"" + std::string(text) + "\"");
  return std::nullopt;
}

std::optional<double> ParseRate(std::string_view text, std::string* error) {
  if (const std::optional<double> rate = ParseQuantity(text, "Hz")) return rate;
  Fail(error, "a sample rate is a number of Hz with an optional k or M (100k, 2.5M), not \"" +
                  std::string(text) + "\"");
  return std::nullopt;
}

std::optional<std::uint64_t> ParseBoundedCount(std::string_view text, std::uint64_t min,
                                               std::uint64_t max, std::string_view what,
                                               std::string* error) {
  const std::optional<std::uint64_t> value = ParseWholeNumber(text);
  if (value && *value >= min && *value <= max) return value;
  const std::string limits = max == UINT32_MAX
                                 ? "of at least " + std::to_string(min)
                                 : "from " + std::to_string(min) + " to " + std::to_string(max);
  Fail(error,
       std::string(what) + " is a whole number " + limits + ", not \"" + std::string(text) + "\"");
  return std::nullopt;
}

std::optional<std::uint32_t> ParseSamples(std::string_view text, std::string* error) {
  const std::optional<std::uint64_t> value = ParseWholeNumber(text);
  if (value && *value <= UINT32_MAX) return static_cast<std::uint32_t>(*value);
  Fail(error,
       "a number of samples is a whole number (1000, 10k), not \"" + std::string(text) + "\"");
  return std::nullopt;
}

std::optional<double> ParseTime(std::string_view text, double bare_unit_seconds,
                                std::string* error) {
  const std::optional<double> seconds = ParseDuration(text, bare_unit_seconds);
  if (seconds && *seconds > 0.0) return seconds;
  Fail(error, "a duration is a positive time (10ms, 0.5s, 2 s), not \"" + std::string(text) + "\"");
  return std::nullopt;
}

std::optional<std::string> ParseOutputPath(std::string_view text, std::string* error) {
  if (!text.empty()) return std::string(text);
  Fail(error, "a file name is needed (- for standard output), not an empty one");
  return std::nullopt;
}

std::optional<double> ParseVolts(std::string_view text, std::string* error) {
  if (const std::optional<double> volts = ParseQuantity(text, "V")) return volts;
  Fail(error, "a voltage is a number of volts (0.5, 500m, -2V), not \"" + std::string(text) + "\"");
  return std::nullopt;
}

std::optional<std::pair<int, std::string>> ParseChannelAssignment(std::string_view text,
                                                                  std::string* error) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    Fail(error,
         "expected CH=VALUE (for example 1=2 or ch2=auto), not \"" + std::string(text) + "\"");
    return std::nullopt;
  }
  const std::optional<int> channel = ParseChannel(text.substr(0, equals));
  if (!channel) {
    Fail(error,
         "the channel before '=' must be 1 or 2 (or ch1, ch2) in \"" + std::string(text) + "\"");
    return std::nullopt;
  }
  return std::make_pair(*channel, std::string(text.substr(equals + 1)));
}

bool ApplyRange(std::string_view text, std::array<ChannelOption, kChannelCount>& channels,
                std::string* error) {
  const auto assignment = ParseChannelAssignment(text, error);
  if (!assignment) return false;
  ChannelOption& channel = channels[assignment->first - 1];
  if (Lower(assignment->second) == "auto") {
    channel.auto_range = true;
    channel.range.reset();
    return true;
  }
  const std::optional<double> volts = ParseQuantity(assignment->second, "V");
  if (!volts)
    return Fail(error,
                "a range is a full scale in volts or auto, not \"" + assignment->second + "\"");
  channel.range = volts;
  channel.auto_range = false;
  return true;
}

bool ApplyCoupling(std::string_view text, std::array<ChannelOption, kChannelCount>& channels,
                   std::string* error) {
  const auto assignment = ParseChannelAssignment(text, error);
  if (!assignment) return false;
  const std::string coupling = Lower(assignment->second);
  if (coupling != "ac" && coupling != "dc") {
    return Fail(error, "coupling is ac or dc, not \"" + assignment->second + "\"");
  }
  channels[assignment->first - 1].ac = coupling == "ac";
  return true;
}

bool ApplyDcLevel(std::string_view text, std::array<ChannelOption, kChannelCount>& channels,
                  std::string* error) {
  const auto assignment = ParseChannelAssignment(text, error);
  if (!assignment) return false;
  const std::optional<double> volts = ParseVolts(assignment->second, error);
  if (!volts) return false;
  channels[assignment->first - 1].dc_level = volts;
  return true;
}

std::optional<TriggerOption> ParseTrigger(std::string_view text, std::string* error) {
  const std::vector<std::string_view> parts = Split(text, ':');
  TriggerOption trigger;
  const std::string source = Lower(parts[0]);
  if (source == "ch1" || source == "1") {
    trigger.source = TriggerSourceOption::kCh1;
  } else if (source == "ch2" || source == "2") {
    trigger.source = TriggerSourceOption::kCh2;
  } else if (source == "ext") {
    trigger.source = TriggerSourceOption::kExternal;
  } else if (source == "and") {
    trigger.source = TriggerSourceOption::kAnd;
  } else if (source == "or") {
    trigger.source = TriggerSourceOption::kOr;
  } else if (source == "none") {
    trigger.source = TriggerSourceOption::kNone;
  } else {
    Fail(error, "the trigger source must be ch1, ch2, ext, and, or or none, not \"" +
                    std::string(parts[0]) + "\"");
    return std::nullopt;
  }
  bool have_slope = false;
  bool have_level = false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string part = Lower(parts[i]);
    if (part == "rising" || part == "falling") {
      if (have_slope) {
        Fail(error, "the trigger takes one slope, in \"" + std::string(text) + "\"");
        return std::nullopt;
      }
      trigger.falling = part == "falling";
      have_slope = true;
      continue;
    }
    if (have_level) {
      Fail(error, "expected SOURCE[:rising|falling][:LEVEL], not \"" + std::string(text) + "\"");
      return std::nullopt;
    }
    have_level = true;
    if (part == "auto") continue;
    trigger.level = ParseQuantity(parts[i], "V");
    if (!trigger.level) {
      Fail(error, "the trigger level is a voltage or auto, not \"" + std::string(parts[i]) + "\"");
      return std::nullopt;
    }
  }
  if (trigger.source == TriggerSourceOption::kNone && (have_slope || have_level)) {
    Fail(error, "trigger none takes no slope or level");
    return std::nullopt;
  }
  if (trigger.source == TriggerSourceOption::kExternal && trigger.level) {
    Fail(error,
         "the external trigger input has a fixed logic threshold (1.4 V); it takes no level");
    return std::nullopt;
  }
  return trigger;
}

std::optional<std::int64_t> ParseTimeout(std::string_view text, std::string* error) {
  const std::string lower = Lower(text);
  if (lower == "none" || lower == "never") return kNoTimeout;
  const std::optional<double> seconds = ParseDuration(text, 1e-3);
  const double milliseconds = seconds ? *seconds * 1000.0 : -1.0;
  if (!seconds || milliseconds < 0.0 || milliseconds > static_cast<double>(kMaxTimeoutMs)) {
    Fail(error,
         "the time-out is a time (1000 for milliseconds, 2s, 500ms; at most 4294967294 ms) or "
         "none, not \"" +
             std::string(text) + "\"");
    return std::nullopt;
  }
  return static_cast<std::int64_t>(milliseconds + 0.5);
}

std::optional<CaptureStyle> ParseStyle(std::string_view text, std::string* error) {
  const std::string lower = Lower(text);
  if (lower == "auto") return CaptureStyle::kAuto;
  if (lower == "blocking") return CaptureStyle::kBlocking;
  if (lower == "block") return CaptureStyle::kBlock;
  Fail(error, "the style is blocking, block or auto, not \"" + std::string(text) + "\"");
  return std::nullopt;
}

std::optional<double> ParseGeneratorFrequency(std::string_view text, std::string* error) {
  if (Lower(text) == "off") return 0.0;
  if (const std::optional<double> hz = ParseQuantity(text, "Hz"); hz && *hz >= 0.0) return hz;
  Fail(error, "the generator frequency is a number of Hz (1000, 2.5k) or off, not \"" +
                  std::string(text) + "\"");
  return std::nullopt;
}

std::optional<std::uint16_t> ParsePortAddress(std::string_view text, std::string* error) {
  const std::string copy(text);
  char* end = nullptr;
  const unsigned long value = std::strtoul(copy.c_str(), &end, 0);
  if (copy.empty() || end != copy.c_str() + copy.size() || value > 0xFFFF || copy[0] == '-') {
    Fail(error,
         "a port base address is a number from 0 to 0xFFFF (0x378, 888), not \"" + copy + "\"");
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::string DescribeTrigger(const TriggerOption& trigger,
                            const std::array<std::optional<double>, kChannelCount>& levels) {
  const char* slope = trigger.falling ? "falling" : "rising";
  auto level = [&levels](int channel) {
    const std::optional<double>& volts = levels[channel - 1];
    return volts ? std::string(" ").append(FormatVolts(*volts)) : std::string();
  };
  switch (trigger.source) {
    case TriggerSourceOption::kCh1:
      return std::string("ch1 ") + slope + level(1);
    case TriggerSourceOption::kCh2:
      return std::string("ch2 ") + slope + level(2);
    case TriggerSourceOption::kExternal:
      return std::string("ext ") + slope;
    case TriggerSourceOption::kAnd:
      return std::string("ch1 and ch2 ") + slope + level(1) + " /" + level(2);
    case TriggerSourceOption::kOr:
      return std::string("ch1 or ch2 ") + slope + level(1) + " /" + level(2);
    case TriggerSourceOption::kNone:
      return "none (free running)";
  }
  return "none";
}

std::vector<int> ChannelsOfTriggerSource(TriggerSourceOption source) {
  switch (source) {
    case TriggerSourceOption::kCh1:
      return {1};
    case TriggerSourceOption::kCh2:
      return {2};
    case TriggerSourceOption::kAnd:
    case TriggerSourceOption::kOr:
      return {1, 2};
    default:
      return {};
  }
}

}  // namespace vm316::host
