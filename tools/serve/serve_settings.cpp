// The settings of the panel: each key of a change request calls the library's own setter, so
// that the board's statuses decide what is accepted, and reads back what was set.
#include <algorithm>
#include <cmath>

#include "serve_instrument.h"
#include "serve_json.h"
#include "shared/errors.h"
#include "shared/units.h"
#include "vm316.h"

namespace vm316::serve {

using namespace vm316::host;
namespace {

constexpr std::uint32_t kWaitForeverMs = 0xFFFFFFFF;
constexpr int kListSize = 20;  // the capability lists of the interface hold 20 entries
constexpr double kPercent = 100.0;
constexpr double kSameRateTolerance = 1e-9;

struct SourceName {
  const char* name;
  TriggerSourceOption option;
  TTrigSource source;
};
constexpr SourceName kSources[] = {{"ch1", TriggerSourceOption::kCh1, tsCh1},
                                   {"ch2", TriggerSourceOption::kCh2, tsCh2},
                                   {"ext", TriggerSourceOption::kExternal, tsExternal},
                                   {"and", TriggerSourceOption::kAnd, tsAnd},
                                   {"or", TriggerSourceOption::kOr, tsOr},
                                   {"none", TriggerSourceOption::kNone, tsNoTrig}};

const char* SourceText(TriggerSourceOption option) {
  for (const SourceName& entry : kSources) {
    if (entry.option == option) return entry.name;
  }
  return "none";
}

const char* ModeName(RunMode mode) {
  switch (mode) {
    case RunMode::kStop:
      return "stop";
    case RunMode::kSingle:
      return "single";
    default:
      return "run";
  }
}

SettingResult Begin(const std::string& key, const std::string& asked) {
  SettingResult result;
  result.key = key;
  result.asked = asked;
  return result;
}

// A request that is malformed never reaches the board.
SettingResult Malformed(SettingResult result, const std::string& why) {
  result.accepted = false;
  result.note = why;
  return result;
}

// The library's answer: accepted, or refused with its meaning and the limit in words.
void TakeStatus(SettingResult& result, std::uint16_t status, const std::string& hint = {}) {
  result.status = std::string(StatusName(status));
  result.accepted = status == StatusOk;
  if (!result.accepted) {
    result.note = std::string(StatusMeaning(status));
    if (!hint.empty()) result.note += " (" + hint + ")";
  }
}

double Sensitivity(int channel) {
  double volts = 0.0;
  GetSensitivity(static_cast<std::uint8_t>(channel), &volts);
  return volts;
}

double DcLevel(int channel) {
  double volts = 0.0;
  GetDcLevel(static_cast<std::uint8_t>(channel), &volts);
  return volts;
}

std::string Volts(double volts) {
  return FormatQuantityShort(volts, "V");
}

TMeasureMode MeasureModeFor(int mask) {
  static constexpr TMeasureMode kModes[] = {mNone, mCh1, mCh2, mCh12};
  return kModes[mask & 3];
}

// What a setting the board's limits refused leaves in force, as its control shows it.
std::string ValueInForce(const std::string& key) {
  if (key == "rate") return FormatQuantityShort(GetSampleFrequencyF(), "Hz", 6);
  if (key == "length") return std::to_string(GetRecordLength()) + " samples";
  if (key == "generator") {
    const std::int32_t hz = GetSquareWaveGenFrequency();
    return hz == 0 ? "off" : FormatQuantityShort(hz, "Hz", 6);
  }
  if (key.size() > 4 && key.starts_with("ch") && key.ends_with(".range")) {
    return Volts(Sensitivity(key[2] - '0'));
  }
  return {};
}

std::uint32_t PostFor(std::uint32_t length, double pre_percent) {
  const auto pre = static_cast<std::uint32_t>(std::lround(pre_percent * length / kPercent));
  return length - std::min(pre, length);
}

}  // namespace

std::vector<std::string> PanelInstrument::Keys() {
  return SettingKeys();
}

SettingResult PanelInstrument::ApplyOne(const std::string& key, const std::string& value) {
  SettingResult result = Begin(key, value);
  SettingRefusal refusal;
  const std::optional<SettingValue> read = ReadSetting(key, value, &refusal);
  if (!read) {
    if (!refusal.outside_limits) return Malformed(result, refusal.why);
    // Outside what the board does: refused as the board refuses, before it would take the
    // nearest value; the panel shows what stays in force.
    TakeStatus(result, StatusInvalidValue, refusal.why);
    result.value = ValueInForce(key);
    return result;
  }
  if (key == "run") return ApplyRun(result, *read);
  if (key == "xy") return ApplyXy(result, *read);
  if (key == "rate") return ApplyRate(result, *read);
  if (key == "length") return ApplyLength(result, *read);
  if (key == "pre") return ApplyPre(result, *read);
  if (key == "trigger.source") return ApplyTriggerSource(result, *read);
  if (key == "trigger.slope") return ApplyTriggerSlope(result, *read);
  if (key == "trigger.level") return ApplyTriggerLevel(result, *read);
  if (key == "trigger.hysteresis") return ApplyHysteresis(result, *read);
  if (key == "trigger.timeout") return ApplyTimeout(result, *read);
  if (key == "generator") return ApplyGenerator(result, *read);
  const int channel = key[2] - '0';  // "ch1." or "ch2.", as ReadSetting took it
  const std::string what = key.substr(4);
  if (what == "on") return ApplyChannelOn(result, channel, *read);
  if (what == "range") return ApplyRange(result, channel, *read);
  if (what == "coupling") return ApplyCoupling(result, channel, *read);
  return ApplyDcLevel(result, channel, *read);
}

SettingResult PanelInstrument::ApplyRun(SettingResult result, const SettingValue& value) {
  settings_.mode = value.word == "stop"     ? RunMode::kStop
                   : value.word == "single" ? RunMode::kSingle
                                            : RunMode::kRun;
  if (settings_.mode != RunMode::kStop) {
    std::lock_guard lock(mutex_);
    error_.clear();
  }
  result.accepted = true;
  result.value = ModeName(settings_.mode);
  return result;
}

int PanelInstrument::ChannelMask() const {
  TMeasureMode mode = mNone;
  GetMeasureMode(&mode);
  switch (mode) {
    case mCh1:
      return 1;
    case mCh2:
      return 2;
    case mCh12:
    case mXY:
      return 3;
    default:
      return 0;
  }
}

bool PanelInstrument::InXy() const {
  TMeasureMode mode = mNone;
  return GetMeasureMode(&mode) == StatusOk && mode == mXY;
}

SettingResult PanelInstrument::ApplyChannelOn(SettingResult result, int channel,
                                              const SettingValue& value) {
  const int bit = 1 << (channel - 1);
  const bool was_xy = InXy();
  const int mask = value.word == "on" ? (ChannelMask() | bit) : (ChannelMask() & ~bit);
  // XY holds both channels; a channel turned off ends it, one turned on leaves it.
  const TMeasureMode mode =
      was_xy && mask == 3 ? static_cast<TMeasureMode>(mXY) : MeasureModeFor(mask);
  // The board keeps recording only channel 1 after bring-up until the measure mode changes;
  // passing through mNone makes the mode asked for take effect whatever it did before.
  SetMeasureMode(mNone);
  TakeStatus(result, SetMeasureMode(mode));
  result.value = (ChannelMask() & bit) != 0 ? "on" : "off";
  if (was_xy && !InXy()) result.note = "xy is off: " + XyNeedsBothChannels();
  return result;
}

SettingResult PanelInstrument::ApplyXy(SettingResult result, const SettingValue& value) {
  const int mask = ChannelMask();
  if (value.word == "on") {
    if (const auto refusal = XyRefusal((mask & 1) != 0, (mask & 2) != 0)) {
      result = Malformed(result, *refusal);
      result.value = "off";
      return result;
    }
  }
  // The mode in force already: the board is left alone, and the record being taken with it.
  if ((value.word == "on") == InXy()) {
    TakeStatus(result, StatusOk);
    result.value = value.word;
    return result;
  }
  const TMeasureMode mode =
      value.word == "on" ? static_cast<TMeasureMode>(mXY) : MeasureModeFor(mask);
  SetMeasureMode(mNone);
  TakeStatus(result, SetMeasureMode(mode));
  result.value = InXy() ? "on" : "off";
  return result;
}

SettingResult PanelInstrument::ApplyRate(SettingResult result, const SettingValue& value) {
  const std::optional<double> asked = value.number;
  double rate = *asked;
  TakeStatus(result, SetSampleFrequencyF(&rate), SampleRateLimits());
  const double in_force = GetSampleFrequencyF();
  result.value = FormatQuantityShort(in_force, "Hz", 6);
  if (result.accepted && std::fabs(in_force - *asked) > kSameRateTolerance * *asked) {
    result.adjusted = true;
    result.note = "the board cannot sample at " + FormatQuantityShort(*asked, "Hz", 6) +
                  "; the nearest rate of its clock dividers is " + result.value;
    settings_.asked_rate = *asked;
  } else if (result.accepted) {
    settings_.asked_rate.reset();
  }
  return result;
}

SettingResult PanelInstrument::ApplyLength(SettingResult result, const SettingValue& value) {
  const std::optional<std::uint32_t> length = static_cast<std::uint32_t>(value.number);
  TakeStatus(result, SetRecordLength(*length),
             "at most " + std::to_string(GetMaxRecordLength()) + " samples");
  if (result.accepted) SetPostSamples(PostFor(*length, settings_.pre_percent));
  result.value = std::to_string(GetRecordLength()) + " samples";
  return result;
}

SettingResult PanelInstrument::ApplyPre(SettingResult result, const SettingValue& value) {
  const std::optional<double> percent = value.number;
  const auto length = static_cast<std::uint32_t>(std::max(0, GetRecordLength()));
  TakeStatus(result, SetPostSamples(PostFor(length, *percent)),
             "at most the record length, " + std::to_string(length));
  if (result.accepted) settings_.pre_percent = *percent;
  const std::int32_t pre = GetRecordLength() - GetPostSamples();
  result.value = std::to_string(pre) + " samples before the trigger";
  return result;
}

SettingResult PanelInstrument::ApplyRange(SettingResult result, int channel,
                                          const SettingValue& value) {
  const auto ch = static_cast<std::uint8_t>(channel);
  if (value.automatic) {
    TakeStatus(result, SetAutoRanging(ch, 1));
    result.value = "auto, now " + Volts(Sensitivity(channel));
  } else {
    const std::optional<double> asked = value.number;
    TakeStatus(result, SetAutoRanging(ch, 0));
    double range = *asked;
    if (result.accepted) TakeStatus(result, SetSensitivity(ch, &range));
    result.value = Volts(Sensitivity(channel));
    if (result.accepted && range != *asked) {
      result.adjusted = true;
      result.note = Volts(*asked) + " is not a range of the board; it took " + result.value;
    }
  }
  const std::string held = FollowTriggerLevel();
  if (!held.empty()) result.note += (result.note.empty() ? "" : "; ") + held;
  return result;
}

SettingResult PanelInstrument::ApplyCoupling(SettingResult result, int channel,
                                             const SettingValue& value) {
  const auto ch = static_cast<std::uint8_t>(channel);
  TakeStatus(result, SetCoupling(ch, value.word == "ac" ? 1 : 0));
  std::uint8_t coupling = 0;
  GetCoupling(ch, &coupling);
  result.value = coupling != 0 ? "ac" : "dc";
  return result;
}

SettingResult PanelInstrument::ApplyDcLevel(SettingResult result, int channel,
                                            const SettingValue& value) {
  const std::optional<double> volts = value.number;
  const double range = Sensitivity(channel);
  TakeStatus(result, SetDcLevel(static_cast<std::uint8_t>(channel), *volts),
             "within twice the range: " + FormatVolts(-2 * range) + " to " +
                 FormatVolts(2 * range) + " on the " + FormatVolts(range) + " range");
  result.value = Volts(DcLevel(channel));
  const std::string held = FollowTriggerLevel();
  if (!held.empty()) result.note += (result.note.empty() ? "" : "; ") + held;
  return result;
}

std::vector<int> PanelInstrument::TriggerChannels() const {
  return ChannelsOfTriggerSource(settings_.trigger.source);
}

std::string PanelInstrument::FollowTriggerLevel() {
  if (!settings_.trigger.level) return {};
  std::string note;
  for (const int channel : TriggerChannels()) {
    const double range = Sensitivity(channel);
    const double offset = DcLevel(channel);
    // A level beyond the range is held at its edge until the range or DC level allows it.
    const double held = std::clamp(*settings_.trigger.level - offset, -range, range);
    SetTriggerLevel(static_cast<std::uint8_t>(channel), held);
    if (held != *settings_.trigger.level - offset) {
      note = "the trigger level is held at " + Volts(held + offset) + ", the edge of the range";
    }
  }
  return note;
}

SettingResult PanelInstrument::ApplyTriggerSource(SettingResult result, const SettingValue& value) {
  const SourceName* found = &kSources[0];
  for (const SourceName& entry : kSources) {
    if (value.word == entry.name) found = &entry;
  }
  TakeStatus(result, SetTriggerSource(found->source));
  if (result.accepted) {
    settings_.trigger.source = found->option;
    FollowTriggerLevel();
  }
  result.value = SourceText(settings_.trigger.source);
  return result;
}

SettingResult PanelInstrument::ApplyTriggerSlope(SettingResult result, const SettingValue& value) {
  const bool falling = value.word == "falling";
  TakeStatus(result, SetTriggerMode(falling ? SlopeFalling : SlopeRising));
  if (result.accepted) settings_.trigger.falling = falling;
  result.value = settings_.trigger.falling ? "falling" : "rising";
  return result;
}

SettingResult PanelInstrument::ApplyTriggerLevel(SettingResult result, const SettingValue& value) {
  const std::vector<int> channels = TriggerChannels();
  if (channels.empty()) {
    return Malformed(result, std::string("the ") + SourceText(settings_.trigger.source) +
                                 " trigger takes no level");
  }
  std::optional<double> level;
  if (value.automatic) {
    // Half way between the extremes of the trigger channel in the last record.
    const std::shared_ptr<const PublishedRecord> last = Latest();
    const int channel = channels.front();
    if (!last || !last->record.channels[channel - 1].recorded) {
      return Malformed(result, "no record of the trigger channel yet to find its middle");
    }
    const TraceStatistics& stats = last->stats[channel - 1];
    level = (stats.min + stats.max) / 2.0;
  } else {
    level = value.number;
  }
  for (const int channel : channels) {
    const double range = Sensitivity(channel);
    const double offset = DcLevel(channel);
    std::string hint = "within the range: " + FormatVolts(offset - range) + " to " +
                       FormatVolts(offset + range) + " on the " + FormatVolts(range) + " range";
    TakeStatus(result, SetTriggerLevel(static_cast<std::uint8_t>(channel), *level - offset), hint);
    if (!result.accepted) break;
  }
  if (result.accepted) {
    settings_.trigger.level = level;
  } else {
    FollowTriggerLevel();  // a refusal on channel 2 must not leave channel 1 moved
  }
  double in_force = 0.0;
  GetTriggerLevel(static_cast<std::uint8_t>(channels.front()), &in_force);
  result.value = Volts(in_force + DcLevel(channels.front()));
  return result;
}

SettingResult PanelInstrument::ApplyHysteresis(SettingResult result, const SettingValue& value) {
  const std::vector<int> channels = TriggerChannels();
  if (channels.empty()) {
    return Malformed(result, std::string("the ") + SourceText(settings_.trigger.source) +
                                 " trigger takes no hysteresis");
  }
  const std::optional<double> volts = value.number;
  for (const int channel : channels) {
    const double range = Sensitivity(channel);
    const char* rule = settings_.trigger.falling ? "level + hysteresis must stay within +"
                                                 : "level - hysteresis must stay within -";
    TakeStatus(result, SetTriggerHys(static_cast<std::uint8_t>(channel), *volts),
               std::string(rule) + FormatVolts(range) + " of the range");
    if (!result.accepted) break;
  }
  double in_force = 0.0;
  GetTriggerHys(static_cast<std::uint8_t>(channels.front()), &in_force);
  result.value = Volts(in_force);
  return result;
}

SettingResult PanelInstrument::ApplyTimeout(SettingResult result, const SettingValue& value) {
  const std::optional<std::int64_t> milliseconds =
      value.none ? kNoTimeout : static_cast<std::int64_t>(value.number);
  const std::uint32_t board_value =
      *milliseconds == kNoTimeout ? kWaitForeverMs : static_cast<std::uint32_t>(*milliseconds);
  TakeStatus(result, SetTriggerTimeOut(board_value));
  if (result.accepted) settings_.timeout_ms = *milliseconds;
  const std::int32_t in_force = GetTriggerTimeOut();
  result.value = in_force < 0 ? "none" : std::to_string(in_force) + " ms";
  return result;
}

SettingResult PanelInstrument::ApplyGenerator(SettingResult result, const SettingValue& value) {
  const std::optional<double> asked = value.number;
  std::uint32_t hz = static_cast<std::uint32_t>(std::lround(*asked));
  TakeStatus(result, SetSquareWaveGenFrequency(&hz), GeneratorLimits());
  const std::int32_t in_force = GetSquareWaveGenFrequency();
  result.value = in_force == 0 ? "off" : FormatQuantityShort(in_force, "Hz", 6);
  if (result.accepted && std::fabs(in_force - *asked) > 0.5) {
    result.adjusted = true;
    result.note = "the output's divider gives " + result.value;
  }
  return result;
}

bool PanelInstrument::ReadBackState() {
  const double rate = GetSampleFrequencyF();
  const std::int32_t length = GetRecordLength();
  const std::int32_t post = GetPostSamples();
  const int mask = ChannelMask();
  std::string json = "{\"mode\":" + JsonString(ModeName(settings_.mode)) +
                     ",\"rate\":" + JsonNumber(rate) +
                     ",\"rate_text\":" + JsonString(FormatQuantityShort(rate, "Hz", 6)) +
                     ",\"asked_rate\":" + JsonNumber(settings_.asked_rate) +
                     ",\"length\":" + std::to_string(length) + ",\"post\":" + std::to_string(post) +
                     ",\"pre_percent\":" + JsonNumber(settings_.pre_percent) +
                     ",\"max_rate\":" + JsonNumber(GetMaxSampleFrequencyF()) +
                     ",\"max_length\":" + std::to_string(GetMaxRecordLength()) +
                     ",\"xy\":" + JsonBool(InXy()) + ",\"channels\":[";
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const auto ch = static_cast<std::uint8_t>(channel);
    std::uint8_t auto_range = 0;
    std::uint8_t coupling = 0;
    GetAutoRanging(ch, &auto_range);
    GetCoupling(ch, &coupling);
    if (channel > 1) json += ",";
    json += "{\"on\":" + JsonBool((mask & (1 << (channel - 1))) != 0) +
            ",\"range\":" + JsonNumber(Sensitivity(channel)) +
            ",\"auto\":" + JsonBool(auto_range != 0) +
            ",\"coupling\":" + JsonString(coupling != 0 ? "ac" : "dc") +
            ",\"dc\":" + JsonNumber(DcLevel(channel)) + "}";
  }
  std::optional<double> level;
  std::optional<double> hysteresis;
  const std::vector<int> channels = TriggerChannels();
  if (!channels.empty()) {
    const auto ch = static_cast<std::uint8_t>(channels.front());
    double volts = 0.0;
    if (GetTriggerLevel(ch, &volts) == StatusOk) level = volts + DcLevel(channels.front());
    if (GetTriggerHys(ch, &volts) == StatusOk) hysteresis = volts;
  }
  const std::int32_t timeout = GetTriggerTimeOut();
  json += "],\"trigger\":{\"source\":" + JsonString(SourceText(settings_.trigger.source)) +
          ",\"slope\":" + JsonString(settings_.trigger.falling ? "falling" : "rising") +
          ",\"level\":" + JsonNumber(level) + ",\"hysteresis\":" + JsonNumber(hysteresis) +
          ",\"timeout\":" + (timeout < 0 ? std::string("null") : std::to_string(timeout)) +
          "},\"generator\":" + std::to_string(GetSquareWaveGenFrequency()) + ",\"ranges\":[";
  double ranges[kListSize] = {};
  GetAvailableSensitivities(ranges);
  bool first = true;
  for (const double range : ranges) {
    if (range == 0.0) break;
    json += (first ? "" : ",") + JsonNumber(range);
    first = false;
  }
  json += "]}";
  std::lock_guard lock(mutex_);
  const bool changed = json != state_json_;
  state_json_ = std::move(json);
  return changed;
}

}  // namespace vm316::serve
