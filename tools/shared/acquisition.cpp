#include "acquisition.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ac_settling.h"
#include "errors.h"
#include "interrupt.h"
#include "settings.h"
#include "units.h"
#include "vm316.h"
#include "vm316_host.h"

namespace vm316::host {
namespace {

constexpr double kLongCaptureSeconds = 1.0;
// The automatic settings settle in at most one record per range, and one more to confirm.
constexpr int kMaxSettlingRecords = 14;
constexpr std::uint32_t kWaitForeverMs = 0xFFFFFFFF;
constexpr double kProgressRefreshSeconds = 0.25;
constexpr std::uint32_t kMaxRealPollMs = 50;  // Ctrl-C is seen within this
constexpr std::uint32_t kMaxVirtualPollMs = 1000;

std::string ChannelName(int channel) {
  return "ch" + std::to_string(channel);
}

TMeasureMode MeasureModeFor(int channel_mask, bool xy) {
  if (xy) return mXY;
  switch (channel_mask) {
    case 1:
      return mCh1;
    case 2:
      return mCh2;
    default:
      return mCh12;
  }
}

TTrigSource TriggerSourceFor(TriggerSourceOption source) {
  switch (source) {
    case TriggerSourceOption::kCh1:
      return tsCh1;
    case TriggerSourceOption::kCh2:
      return tsCh2;
    case TriggerSourceOption::kExternal:
      return tsExternal;
    case TriggerSourceOption::kAnd:
      return tsAnd;
    case TriggerSourceOption::kOr:
      return tsOr;
    case TriggerSourceOption::kNone:
      return tsNoTrig;
  }
  return tsNoTrig;
}

// A line on stderr that follows a long capture; on a terminal it counts, elsewhere it is said
// once.
class CaptureProgress {
 public:
  CaptureProgress(bool enabled, double record_seconds, const std::string& what)
      : enabled_(enabled), terminal_(isatty(STDERR_FILENO) != 0), total_(record_seconds) {
    if (!enabled_) return;
    std::fprintf(stderr, "vm316: %s takes about %s; Ctrl-C stops it\n", what.c_str(),
                 FormatDuration(total_).c_str());
  }
  ~CaptureProgress() {
    if (enabled_ && terminal_ && shown_) std::fprintf(stderr, "\r\x1b[K");
  }
  void Update(double elapsed, bool triggered) {
    if (!enabled_ || !terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && std::chrono::duration<double>(now - last_).count() < kProgressRefreshSeconds) {
      return;
    }
    last_ = now;
    shown_ = true;
    const int percent = static_cast<int>(std::min(99.0, 100.0 * elapsed / total_));
    std::fprintf(stderr, "\r\x1b[Kvm316: %s %s of %s (%d %%)",
                 triggered ? "recording" : "waiting for the trigger,",
                 FormatDuration(elapsed).c_str(), FormatDuration(total_).c_str(), percent);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  bool terminal_;
  double total_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace

BoardTime::BoardTime(bool virtual_clock)
    : virtual_clock_(virtual_clock), start_(std::chrono::steady_clock::now()) {}

double BoardTime::Elapsed() const {
  if (virtual_clock_) return waited_;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void BoardTime::Pump(std::uint32_t milliseconds) {
  vm316_pump_messages(milliseconds);
  waited_ += milliseconds / 1000.0;
}

Acquisition::Acquisition(Session& session, const AcquisitionOptions& options)
    : session_(session), options_(options) {}

std::uint32_t SetGenerator(double frequency) {
  const std::string asked = frequency == 0.0 ? "off" : FormatFrequency(frequency, true);
  const std::string limits = GeneratorLimits();
  if (const std::optional<std::string> outside = GeneratorOutside(frequency)) {
    CheckSetting(StatusInvalidValue, "the square-wave output", asked, *outside);
  }
  auto hz = static_cast<std::uint32_t>(std::lround(frequency));
  CheckSetting(SetSquareWaveGenFrequency(&hz), "the square-wave output", asked, limits);
  return hz;
}

double Acquisition::Sensitivity(int channel) const {
  double volts = 0.0;
  GetSensitivity(static_cast<std::uint8_t>(channel), &volts);
  return volts;
}

double Acquisition::DcLevel(int channel) const {
  double volts = 0.0;
  GetDcLevel(static_cast<std::uint8_t>(channel), &volts);
  return volts;
}

std::vector<int> Acquisition::TriggerChannels() const {
  return ChannelsOfTriggerSource(options_.trigger.source);
}

double Acquisition::RecordSeconds() const {
  return achieved_rate_ > 0.0 ? options_.length / achieved_rate_ : 0.0;
}

bool Acquisition::LongCapture() const {
  return RecordSeconds() > kLongCaptureSeconds;
}

CaptureStyle Acquisition::EffectiveStyle() const {
  // Only the block style lets the host see the trigger status before it forces the trigger
  // itself, show progress and stop on Ctrl-C; StartMeasurement forces without a word.
  return options_.style == CaptureStyle::kBlocking ? CaptureStyle::kBlocking : CaptureStyle::kBlock;
}

void Acquisition::Configure() {
  SelectChannels();
  ApplyTimeBase();
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const auto ch = static_cast<std::uint8_t>(channel);
    std::uint8_t was_ac = 0;
    GetCoupling(ch, &was_ac);
    const double was_range = Sensitivity(channel);
    ApplyChannel(channel);
    std::uint8_t ac = 0;
    GetCoupling(ch, &ac);
    const bool recorded = (options_.channel_mask & (1 << (channel - 1))) != 0;
    if (recorded && ac != 0 && (was_ac == 0 || Sensitivity(channel) != was_range)) {
      coupling_settling_seconds_ =
          std::max(coupling_settling_seconds_,
                   AcSettlingSeconds(Sensitivity(channel), RangeLimits().second));
    }
  }
  for (int channel : TriggerChannels()) trigger_levels_[channel - 1] = options_.trigger.level;
  ApplyTriggerSource(TriggerSourceFor(options_.trigger.source));
  CheckSetting(SetTriggerMode(options_.trigger.falling ? SlopeFalling : SlopeRising),
               "the trigger slope", options_.trigger.falling ? "falling" : "rising");
  ApplyTriggerLevels();
  ApplyTimeout();
  ApplyGenerator();
}

void Acquisition::SelectChannels() {
  // The board keeps recording only channel 1 after bring-up until the measure mode changes,
  // and setting the mode it already reports changes nothing; passing through mNone makes the
  // mode asked for take effect whatever the board did before.
  CheckSetting(SetMeasureMode(mNone), "the channels", "none");
  if (options_.xy && options_.channel_mask != 3) {
    throw CliError(ExitCode::kUsage, "XY needs both channels (--channels 12)");
  }
  const std::string text = options_.xy                   ? "xy"
                           : options_.channel_mask == 3 ? "12"
                                                        : std::to_string(options_.channel_mask);
  CheckSetting(SetMeasureMode(MeasureModeFor(options_.channel_mask, options_.xy)), "the channels",
               text);
}

void Acquisition::FitToTime() {
  if (!options_.time) return;
  const double seconds = *options_.time;
  const auto max_length = static_cast<double>(GetMaxRecordLength());
  const std::string time = FormatQuantityShort(seconds, "s");
  if (options_.length_given) {
    // The length is fixed: the rate follows.
    options_.rate = options_.length / seconds;
    return;
  }
  const double wanted = std::round(seconds * options_.rate);
  if (wanted > max_length || (wanted < kMinRecordLength && !options_.rate_given)) {
    // The rate would need a record longer than the board holds (or shorter than two
    // samples): the length is the board's longest, or the shortest, and the rate follows.
    const double length = std::clamp(wanted, static_cast<double>(kMinRecordLength), max_length);
    if (options_.rate_given) {
      throw CliError(ExitCode::kRefused,
                     "cannot capture " + time + " at " + FormatFrequency(options_.rate, true) +
                         ": that takes " + std::to_string(static_cast<long long>(wanted)) +
                         " samples, and the board records at most " +
                         std::to_string(static_cast<long long>(max_length)) +
                         " (leave out --rate, or give a lower one)");
    }
    const std::string at = FormatFrequency(options_.rate, true);
    options_.length = static_cast<std::uint32_t>(length);
    options_.rate = length / seconds;
    session_.Note(time + " at " + at + " would take " +
                  std::to_string(static_cast<long long>(wanted)) + " samples; taking " +
                  std::to_string(options_.length) + " samples at " +
                  FormatFrequency(options_.rate, true) + " instead");
    return;
  }
  if (wanted < kMinRecordLength) {
    throw CliError(ExitCode::kRefused, "cannot capture " + time + " at " +
                                           FormatFrequency(options_.rate, true) +
                                           ": a record needs at least " +
                                           std::to_string(kMinRecordLength) + " samples");
  }
  options_.length = static_cast<std::uint32_t>(wanted);
}

void Acquisition::ApplyTimeBase() {
  FitToTime();
  const std::string limits = SampleRateLimits();
  if (const std::optional<std::string> outside = SampleRateOutside(options_.rate)) {
    CheckSetting(StatusInvalidValue, "the sample rate", FormatFrequency(options_.rate, true),
                 *outside);
  }
  double rate = options_.rate;
  CheckSetting(SetSampleFrequencyF(&rate), "the sample rate", FormatFrequency(options_.rate, true),
               limits);
  achieved_rate_ = rate;
  if (std::fabs(rate - options_.rate) > 1e-9 * options_.rate) {
    asked_rate_ = options_.rate;
    std::string asked = FormatFrequency(options_.rate, true);
    std::string made = FormatFrequency(rate, true);
    // Close rates need more digits to tell apart.
    constexpr int kCloseRateDigits = 7;
    if (asked == made) {
      asked = FormatQuantityShort(options_.rate, "Hz", kCloseRateDigits);
      made = FormatQuantityShort(rate, "Hz", kCloseRateDigits);
    }
    session_.Note("the board cannot sample at " + asked + "; it samples at " + made);
    if (options_.time && !options_.length_given) {
      // The duration asked for decides the length at the rate the board makes.
      options_.length = static_cast<std::uint32_t>(
          std::clamp(std::round(*options_.time * rate), static_cast<double>(kMinRecordLength),
                     static_cast<double>(GetMaxRecordLength())));
    }
  }

  const std::string length = std::to_string(options_.length);
  if (options_.length < kMinRecordLength) {
    throw CliError(ExitCode::kRefused, "cannot set the record length to " + length +
                                           ": a record needs at least " +
                                           std::to_string(kMinRecordLength) + " samples");
  }
  CheckSetting(SetRecordLength(options_.length), "the record length", length,
               "at most " + std::to_string(GetMaxRecordLength()) + " samples");
  const std::uint32_t post = PostSamples();
  CheckSetting(SetPostSamples(post), "the samples after the trigger", std::to_string(post),
               "at most the record length, " + length);
}

std::uint32_t Acquisition::PostSamples() const {
  if (options_.post) return *options_.post;
  // A free-running record has no trigger instant to show what led to.
  if (options_.trigger.source == TriggerSourceOption::kNone) return options_.length;
  return options_.length - options_.length * kDefaultPrePercent / 100;
}

void Acquisition::ApplyChannel(int channel) {
  const ChannelOption& option = options_.channels[channel - 1];
  const auto ch = static_cast<std::uint8_t>(channel);
  const std::string name = ChannelName(channel);
  CheckSetting(SetAutoRanging(ch, option.auto_range ? 1 : 0), "automatic ranging of " + name,
               option.auto_range ? "on" : "off");
  const double asked = option.range.value_or(kDefaultRangeVolts);
  if (const std::optional<std::string> outside = RangeOutside(asked)) {
    CheckSetting(StatusInvalidValue, "the range of " + name, FormatVolts(asked), *outside);
  }
  double range = asked;
  CheckSetting(SetSensitivity(ch, &range), "the range of " + name, FormatVolts(asked));
  if (option.range && range != asked) {
    session_.Note(name + ": " + FormatVolts(asked) + " is not a range of the board; using " +
                  FormatVolts(range));
  }
  const bool ac = option.ac.value_or(false);
  CheckSetting(SetCoupling(ch, ac ? 1 : 0), "the coupling of " + name, ac ? "ac" : "dc");
  const double dc_level = option.dc_level.value_or(0.0);
  CheckSetting(SetDcLevel(ch, dc_level), "the DC level of " + name, FormatVolts(dc_level),
               "within twice the range: " + FormatVolts(-2 * range) + " to " +
                   FormatVolts(2 * range) + " on the " + FormatVolts(range) + " range");
}

void Acquisition::ApplyTriggerSource(std::uint8_t source) {
  static constexpr const char* kNames[] = {"ch1", "ch2", "",   "", "ext",
                                           "",    "and", "or", "", "none"};
  CheckSetting(SetTriggerSource(source), "the trigger source",
               source < std::size(kNames) ? kNames[source] : std::to_string(source));
}

void Acquisition::ApplyTriggerLevels() {
  for (const int channel : TriggerChannels()) {
    const auto ch = static_cast<std::uint8_t>(channel);
    const std::string name = ChannelName(channel);
    const double range = Sensitivity(channel);
    // The comparator sees the input less the DC level, like the converter.
    const double offset = DcLevel(channel);
    const std::optional<double>& level = trigger_levels_[channel - 1];
    if (level) {
      std::string hint = "within the range: " + FormatVolts(offset - range) + " to " +
                         FormatVolts(offset + range) + " on the " + FormatVolts(range) + " range";
      if (offset != 0.0) hint += " with the DC level at " + FormatVolts(offset);
      CheckSetting(SetTriggerLevel(ch, *level - offset), "the trigger level of " + name,
                   FormatVolts(*level), hint);
      level_sensitivity_[channel - 1] = range;
    }
    if (options_.hysteresis && *options_.hysteresis < 0.0) {
      CheckSetting(StatusInvalidValue, "the trigger hysteresis of " + name,
                   FormatVolts(*options_.hysteresis), "at least 0 V");
    }
    // The hysteresis is admitted against the level in force, so it follows the level.
    if (options_.hysteresis && level) {
      double present_level = 0.0;
      GetTriggerLevel(ch, &present_level);
      present_level += offset;
      const char* rule = options_.trigger.falling ? "level + hysteresis must stay at or below "
                                                  : "level - hysteresis must stay at or above ";
      CheckSetting(SetTriggerHys(ch, *options_.hysteresis), "the trigger hysteresis of " + name,
                   FormatVolts(*options_.hysteresis),
                   std::string(rule) +
                       FormatVolts(offset + (options_.trigger.falling ? range : -range)) +
                       " with the level at " + FormatVolts(present_level));
    }
  }
}

void Acquisition::ApplyTimeout() {
  const std::uint32_t milliseconds = options_.timeout_ms == kNoTimeout
                                         ? kWaitForeverMs
                                         : static_cast<std::uint32_t>(options_.timeout_ms);
  const std::string text =
      options_.timeout_ms == kNoTimeout ? "none" : std::to_string(options_.timeout_ms) + " ms";
  CheckSetting(SetTriggerTimeOut(milliseconds), "the trigger time-out", text);
}

void Acquisition::ApplyGenerator() {
  std::optional<double> frequency = options_.generator;
  const BackendOptions& backend = session_.options();
  const bool wired = backend.sim_ch1.starts_with("generator") ||
                     backend.sim_ch2.starts_with("generator") ||
                     backend.sim_ext.starts_with("generator");
  // The demonstration probes the board's own output, so it must run.
  if (!frequency && session_.simulated() && wired) frequency = 1000.0;
  if (!frequency) return;
  const std::uint32_t hz = SetGenerator(*frequency);
  if (*frequency != 0.0 && std::fabs(hz - *frequency) > 0.5) {
    session_.Note("square-wave output at " + FormatFrequency(hz, true) + " (asked for " +
                  FormatFrequency(*frequency, true) + ")");
  }
}

void Acquisition::SettleAutomaticSettings() {
  bool auto_range = false;
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    if ((options_.channel_mask & (1 << (channel - 1))) != 0 &&
        options_.channels[channel - 1].auto_range) {
      auto_range = true;
    }
  }
  std::vector<int> unset_levels;
  for (const int channel : TriggerChannels()) {
    if (!trigger_levels_[channel - 1]) unset_levels.push_back(channel);
  }
  if (!auto_range && unset_levels.empty()) return;
  if (LongCapture()) {
    // Settling would cost several long records: the board starts from the ranges given and
    // triggers at 0 V.
    for (const int channel : unset_levels) trigger_levels_[channel - 1] = 0.0;
    if (!unset_levels.empty()) {
      session_.Note(
          "a long capture triggers at 0 V unless a level is given (--trigger "
          "SOURCE:rising:LEVEL)");
      ApplyTriggerLevels();
    }
    return;
  }

  // Free-running records, wholly after the arm, show the signal as it is.
  ApplyTriggerSource(tsNoTrig);
  CheckSetting(SetPostSamples(options_.length), "the samples after the trigger",
               std::to_string(options_.length));
  std::array<double, kChannelCount> previous{};
  for (int record = 0; record < kMaxSettlingRecords; ++record) {
    RunCapture();
    std::array<double, kChannelCount> ranges{Sensitivity(1), Sensitivity(2)};
    if (!auto_range || (record > 0 && ranges == previous)) break;
    previous = ranges;
  }
  // Half way between the extremes of the last free-running record, on the range it used; a
  // channel that is not recorded has no record to look at.
  for (const int channel : unset_levels) {
    if ((options_.channel_mask & (1 << (channel - 1))) == 0) {
      trigger_levels_[channel - 1] = 0.0;
      session_.Note(ChannelName(channel) +
                    " is not recorded: it triggers at 0 V unless a level "
                    "is given");
      continue;
    }
    const std::vector<double>& volts = volts_[channel - 1];
    const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
    trigger_levels_[channel - 1] = volts.empty() ? 0.0 : (*low + *high) / 2.0 + DcLevel(channel);
  }
  ApplyTriggerSource(TriggerSourceFor(options_.trigger.source));
  CheckSetting(SetPostSamples(PostSamples()), "the samples after the trigger",
               std::to_string(PostSamples()));
  ApplyTriggerLevels();
}

void Acquisition::RunCapture() {
  if (Interrupted()) throw CliError(ExitCode::kInterrupted, "interrupted");
  for (int channel = 0; channel < kChannelCount; ++channel) {
    volts_[channel].assign(options_.length, 0.0);
    raw_[channel].assign(options_.length, 0);
  }
  if (EffectiveStyle() == CaptureStyle::kBlock) {
    CaptureBlock();
  } else {
    CaptureBlocking();
  }
}

void Acquisition::CaptureBlocking() {
  // StartMeasurement forces the trigger on its own and does not say whether it did.
  trigger_state_ = options_.trigger.source == TriggerSourceOption::kNone
                       ? TriggerState::kFreeRunning
                       : TriggerState::kUnknown;
  std::uint16_t status = StatusOk;
  {
    // StartMeasurement cannot be stopped half way: Ctrl-C ends the program.
    BlockingCallScope scope;
    status = StartMeasurement();
  }
  CheckCall(status, "the measurement failed");
  CheckCall(GetMeasurement(volts_[0].data(), volts_[1].data()), "reading the record failed");
  CheckCall(GetMeasurementRaw(raw_[0].data(), raw_[1].data()), "reading the record failed");
}

void Acquisition::CaptureBlock() {
  const double record_seconds = RecordSeconds();
  const double pre_seconds =
      (static_cast<double>(GetRecordLength()) - GetPostSamples()) / std::max(achieved_rate_, 1e-9);
  const bool free_running = options_.trigger.source == TriggerSourceOption::kNone;
  // The board needs its samples before the trigger before a trigger can count.
  const double force_after =
      options_.timeout_ms == kNoTimeout ? -1.0 : pre_seconds + options_.timeout_ms / 1000.0;
  const std::uint32_t max_poll = session_.virtual_clock() ? kMaxVirtualPollMs : kMaxRealPollMs;
  const auto poll_ms = static_cast<std::uint32_t>(
      std::clamp(record_seconds * 1000.0 / 50.0, 1.0, static_cast<double>(max_poll)));
  // Once the trigger came (or was forced), the library's bound for a record without a time-out.
  const double completion_seconds =
      vm316_record_bound_ms(achieved_rate_, GetRecordLength() - GetPostSamples(), GetPostSamples(),
                            -1.0) /
      1000.0;

  CheckCall(ADC_Start(), "arming the board failed");
  BoardTime time(session_.virtual_clock());
  CaptureProgress progress(LongCapture(), record_seconds,
                           "recording " + std::to_string(options_.length) + " samples at " +
                               FormatQuantityShort(achieved_rate_, "Hz", 4));
  std::optional<double> triggered_at;
  if (free_running) triggered_at = 0.0;
  trigger_state_ = free_running ? TriggerState::kFreeRunning : TriggerState::kTriggered;
  bool said_waiting = false;
  while (ADC_Ready() == 0) {
    if (Interrupted()) throw CliError(ExitCode::kInterrupted, "capture interrupted");
    const double elapsed = time.Elapsed();
    if (!triggered_at && ADC_Triggered() != 0) triggered_at = elapsed;
    if (!triggered_at && force_after >= 0.0 && elapsed >= force_after) {
      // The status was read just before: no trigger came within the time-out.
      CheckCall(ADC_ForceTrig(), "forcing the trigger failed");
      triggered_at = elapsed;
      trigger_state_ = TriggerState::kForced;
    }
    if (!triggered_at && force_after < 0.0 && !said_waiting && elapsed > pre_seconds + 2.0) {
      session_.Note("waiting for a trigger (no time-out); Ctrl-C stops");
      said_waiting = true;
    }
    if (triggered_at && elapsed > *triggered_at + completion_seconds) {
      throw CliError(ExitCode::kNoBoard, "the board stopped answering: no complete record " +
                                             FormatDuration(elapsed) + " after arming");
    }
    progress.Update(elapsed, triggered_at.has_value());
    time.Pump(poll_ms);
  }
  FetchBlock();
}

void Acquisition::FetchBlock() {
  // The first fetch reads the board and the volts with the factors of the range it used.
  CheckCall(ADC_GetDataVolt(volts_[0].data(), volts_[1].data()), "reading the record failed");
  CheckCall(ADC_GetData(raw_[0].data(), raw_[1].data()), "reading the record failed");
}

Record Acquisition::ReadBack() {
  Record record;
  record.sample_rate = GetSampleFrequencyF();
  record.asked_rate = asked_rate_;
  // The buffers were sized for the length asked for; the board reports the one it used.
  const std::int32_t length =
      std::min(GetRecordLength(), static_cast<std::int32_t>(volts_[0].size()));
  const std::int32_t post = GetPostSamples();
  record.length = static_cast<std::size_t>(std::max(0, length));
  record.pre_samples = static_cast<std::size_t>(std::clamp(length - post, 0, std::max(0, length)));
  record.backend = session_.BackendDescription();
  record.timestamp = RecordTimestamp(session_.virtual_clock());
  TMeasureMode mode = mNone;
  record.xy = GetMeasureMode(&mode) == StatusOk && mode == mXY;
  std::array<std::optional<double>, kChannelCount> levels{};
  for (const int channel : TriggerChannels()) {
    double level = 0.0;
    if (GetTriggerLevel(static_cast<std::uint8_t>(channel), &level) == StatusOk) {
      levels[channel - 1] = level + DcLevel(channel);
    }
  }
  record.trigger = DescribeTrigger(options_.trigger, levels);
  record.trigger_state = trigger_state_;
  if (trigger_state_ == TriggerState::kForced) record.timeout_seconds = options_.timeout_ms / 1e3;
  if (!TriggerChannels().empty()) {
    record.trigger_channel = TriggerChannels().front();
    record.trigger_level = levels[*record.trigger_channel - 1];
    record.trigger_falling = options_.trigger.falling;
    double hysteresis = 0.0;
    if (GetTriggerHys(static_cast<std::uint8_t>(*record.trigger_channel), &hysteresis) ==
        StatusOk) {
      record.trigger_hysteresis = hysteresis;
    }
  }
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const bool recorded = (options_.channel_mask & (1 << (channel - 1))) != 0;
    record.channels[channel - 1] = ReadBackChannel(channel, recorded, volts_[channel - 1].data(),
                                                   raw_[channel - 1].data(), record.length);
  }
  return record;
}

void Acquisition::SettleCoupling() {
  if (coupling_settling_seconds_ <= 0.0) return;
  const double seconds = coupling_settling_seconds_;
  coupling_settling_seconds_ = 0.0;
  // Arming programs the front end, and with it the coupling relays; the record armed here is
  // left to run and is never read.
  CheckCall(ADC_Start(), "arming the board failed");
  session_.Note("AC coupling settles for " + FormatDuration(seconds) + " (time constant " +
                FormatDuration(kAcTimeConstantSeconds) + ")");
  BoardTime time(session_.virtual_clock());
  const std::uint32_t slice = session_.virtual_clock() ? kMaxVirtualPollMs : kMaxRealPollMs;
  while (time.Elapsed() < seconds) {
    if (Interrupted()) throw CliError(ExitCode::kInterrupted, "interrupted");
    const double left_ms = (seconds - time.Elapsed()) * 1000.0;
    time.Pump(static_cast<std::uint32_t>(std::clamp(std::ceil(left_ms), 1.0, 1.0 * slice)));
  }
}

Record Acquisition::Capture() {
  if (!settled_) {
    SettleCoupling();
    SettleAutomaticSettings();
    settled_ = true;
  }
  RunCapture();
  Record record = ReadBack();
  FollowRangeChanges();
  return record;
}

void Acquisition::FollowRangeChanges() {
  for (const int channel : TriggerChannels()) {
    const std::optional<double>& level = trigger_levels_[channel - 1];
    if (!level || !options_.channels[channel - 1].auto_range) continue;
    const double range = Sensitivity(channel);
    if (range == level_sensitivity_[channel - 1]) continue;
    // A level beyond the new range is held at its edge until the range grows again.
    const double held = std::clamp(*level - DcLevel(channel), -range, range);
    SetTriggerLevel(static_cast<std::uint8_t>(channel), held);
    level_sensitivity_[channel - 1] = range;
  }
}

void Acquisition::StartContinuous() {
  if (!settled_) {
    SettleCoupling();
    SettleAutomaticSettings();
    settled_ = true;
  }
  for (int channel = 0; channel < kChannelCount; ++channel) {
    volts_[channel].assign(options_.length, 0.0);
    raw_[channel].assign(options_.length, 0);
  }
  CheckCall(DoMeasure(-1), "starting continuous acquisition failed");
}

void Acquisition::StopContinuous() {
  DoMeasure(0);
}

Record Acquisition::Latest() {
  CheckCall(GetMeasurement(volts_[0].data(), volts_[1].data()), "reading the record failed");
  CheckCall(GetMeasurementRaw(raw_[0].data(), raw_[1].data()), "reading the record failed");
  Record record = ReadBack();
  FollowRangeChanges();
  return record;
}

}  // namespace vm316::host
