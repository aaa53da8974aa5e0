#include "serve_instrument.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "serve_json.h"
#include "shared/calibration_files.h"
#include "shared/errors.h"
#include "shared/interrupt.h"
#include "shared/session.h"
#include "shared/terminal_plot.h"
#include "shared/trigger_rearm.h"
#include "shared/units.h"
#include "vm316.h"
#include "vm316_host.h"

namespace vm316::serve {

using namespace vm316::host;
namespace {

using Clock = std::chrono::steady_clock;

// With no panel asking for records this long, the board rests (and the CPU with it).
constexpr auto kIdleAfter = std::chrono::seconds(5);
constexpr auto kRestingWait = std::chrono::milliseconds(250);
constexpr double kMinPollMs = 1.0;
constexpr double kMaxPollMs = 20.0;
constexpr int kPollsPerRecord = 50;
constexpr std::size_t kHeaderAlignment = 4;
constexpr auto kStartCheck = std::chrono::milliseconds(100);
constexpr std::int64_t kPanelTimeoutMs = 100;

std::string StatisticsJson(const TraceStatistics& s) {
  return "{\"min\":" + JsonNumber(s.min) + ",\"max\":" + JsonNumber(s.max) +
         ",\"pp\":" + JsonNumber(s.peak_to_peak) + ",\"mean\":" + JsonNumber(s.mean) +
         ",\"rms\":" + JsonNumber(s.rms) + ",\"freq\":" + JsonNumber(s.frequency) + "}";
}

// The pulse measurements, as their texts in the order of `measure`'s second table.
std::string PulseTextJson(const TraceStatistics& s) {
  std::string json = "[";
  for (const PulseText& pulse : DescribePulses(s.pulse)) {
    if (json.size() > 1) json += ",";
    json += "[" + JsonString(pulse.name) + "," + JsonString(pulse.text) + "]";
  }
  return json + "]";
}

// The texts of the measurements table of `measure`, so that the panel reads the same.
std::string StatisticsTextJson(const TraceStatistics& s) {
  auto volts = [](double v) { return JsonString(FormatQuantity(v, "V", 3)); };
  return "{\"min\":" + volts(s.min) + ",\"max\":" + volts(s.max) +
         ",\"pp\":" + volts(s.peak_to_peak) + ",\"mean\":" + volts(s.mean) +
         ",\"rms\":" + volts(s.rms) + ",\"freq\":" +
         JsonString(s.frequency ? FormatQuantity(*s.frequency, "Hz", 4) : std::string("--")) + "}";
}

void AppendLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string WireForm(const PublishedRecord& published, std::string header) {
  while ((sizeof(std::uint32_t) + header.size()) % kHeaderAlignment != 0) header += ' ';
  std::string wire;
  std::size_t samples = 0;
  for (const ChannelRecord& channel : published.record.channels) samples += channel.raw.size();
  wire.reserve(sizeof(std::uint32_t) + header.size() + 2 * samples);
  AppendLittleEndian(wire, static_cast<std::uint32_t>(header.size()), 4);
  wire += header;
  for (const ChannelRecord& channel : published.record.channels) {
    if (!channel.recorded) continue;
    for (const std::uint16_t sample : channel.raw) AppendLittleEndian(wire, sample, 2);
  }
  return wire;
}

// Why a forced record was forced, when the hysteresis kept the trigger from re-arming; null
// otherwise.
std::string RearmJson(const Record& record) {
  const std::optional<RearmShortfall> shortfall = FindRearmShortfall(record);
  return shortfall ? JsonString(DescribeRearmShortfall(*shortfall, "Hysteresis V")) : "null";
}

std::string HeaderJson(const PublishedRecord& published) {
  const Record& record = published.record;
  std::string json = "{\"sequence\":" + std::to_string(published.sequence) +
                     ",\"length\":" + std::to_string(record.length) +
                     ",\"pre\":" + std::to_string(record.pre_samples) +
                     ",\"rate\":" + JsonNumber(record.sample_rate) +
                     ",\"rate_text\":" + JsonString(FormatQuantityShort(record.sample_rate, "Hz")) +
                     ",\"duration\":" + JsonNumber(record.Duration()) +
                     ",\"mark\":" + JsonString(published.triggered ? "Trig'd" : "Auto") +
                     ",\"rearm\":" + RearmJson(record) +
                     ",\"trigger\":" + JsonString(record.trigger) + ",\"trigger_channel\":" +
                     (record.trigger_channel ? std::to_string(*record.trigger_channel) : "null") +
                     ",\"trigger_level\":" + JsonNumber(record.trigger_level) +
                     ",\"timestamp\":" + JsonString(record.timestamp) +
                     ",\"xy\":" + JsonBool(record.xy) + ",\"channels\":[";
  for (int index = 0; index < kChannelCount; ++index) {
    const ChannelRecord& channel = record.channels[index];
    if (index > 0) json += ",";
    json += "{\"recorded\":" + JsonBool(channel.recorded) +
            ",\"range\":" + JsonNumber(channel.sensitivity) +
            ",\"auto\":" + JsonBool(channel.auto_range) +
            ",\"coupling\":" + JsonString(channel.ac_coupled ? "ac" : "dc") +
            ",\"dc\":" + JsonNumber(channel.dc_level) +
            ",\"over_range\":" + JsonBool(published.over_range[index]) +
            ",\"stats\":" + StatisticsJson(published.stats[index]) +
            ",\"text\":" + StatisticsTextJson(published.stats[index]) +
            ",\"pulse\":" + PulseTextJson(published.stats[index]) + "}";
  }
  return json + "]}";
}

}  // namespace

PanelInstrument::PanelInstrument(const BackendOptions& backend)
    : backend_(backend), last_client_(Clock::now()) {}

PanelInstrument::~PanelInstrument() {
  Stop();
}

void PanelInstrument::Start(const std::function<void()>& waiting) {
  std::promise<void> started;
  std::future<void> up = started.get_future();
  thread_ = std::thread(&PanelInstrument::ThreadMain, this, std::move(started));
  while (up.wait_for(kStartCheck) == std::future_status::timeout) waiting();
  try {
    up.get();
  } catch (...) {
    thread_.join();
    throw;
  }
}

void PanelInstrument::Stop() {
  std::deque<std::unique_ptr<Command>> left;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    // Changes that came with the stop are not applied; their requests get no results.
    left.swap(commands_);
  }
  for (const auto& command : left) command->done({});
  work_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PanelInstrument::ThreadMain(std::promise<void> started) {
  try {
    session_ = std::make_unique<Session>(backend_, ClockUse::kRealTime);
    session_->Open();
    // Ctrl-C while the board came up: nothing more is started, not even the output.
    if (Interrupted()) {
      throw CliError(ExitCode::kInterrupted, "stopped during start-up: nothing was started");
    }
    virtual_clock_ = session_->virtual_clock();
    backend_description_ =
        session_->BackendDescription() + (virtual_clock_ ? ", virtual clock" : ", real clock");
    calibration_text_ =
        DescribeCalibration(ReadCalibrationState(session_->state_directory()), false);
    ConfigureDefaults();
  } catch (...) {
    session_.reset();
    started.set_exception(std::current_exception());
    return;
  }
  started.set_value();
  Loop();
  std::deque<std::unique_ptr<Command>> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(commands_);
  }
  for (const auto& command : left) command->done({});
  // The board's output stops with the panel, as the other subcommands leave it.
  std::uint32_t off = 0;
  SetSquareWaveGenFrequency(&off);
  session_.reset();
  std::lock_guard lock(mutex_);
  activity_ = "closed";
}

void PanelInstrument::ConfigureDefaults() {
  // The demonstration of `measure`: both channels on the 8 V range, 10 ms at 100 kHz, a tenth
  // of it before the trigger, the trigger on channel 1 rising through the middle of the
  // board's own 0 V / 5 V output. The time-out is a live view's, as a bench scope's Auto mode
  // keeps its screen moving: a tenth of a second, where a one-shot `measure` waits a second
  // for a slow trigger before it forces its one record.
  SettingChanges defaults = {{"ch1.on", "1"},
                             {"ch2.on", "1"},
                             {"rate", "100k"},
                             {"length", "1000"},
                             {"pre", std::to_string(kDefaultPrePercent)},
                             {"ch1.range", "8"},
                             {"ch2.range", "8"},
                             {"ch1.coupling", "dc"},
                             {"ch2.coupling", "dc"},
                             {"ch1.dc", "0"},
                             {"ch2.dc", "0"},
                             {"trigger.source", "ch1"},
                             {"trigger.slope", "rising"},
                             {"trigger.level", "2.5"},
                             {"trigger.timeout", std::to_string(kPanelTimeoutMs)}};
  const bool wired = backend_.sim_ch1.starts_with("generator") ||
                     backend_.sim_ch2.starts_with("generator") ||
                     backend_.sim_ext.starts_with("generator");
  if (session_->simulated() && wired) defaults.emplace_back("generator", "1000");
  for (const auto& [key, value] : defaults) {
    const SettingResult result = ApplyOne(key, value);
    if (!result.accepted) session_->Note("cannot set " + key + ": " + result.note);
  }
  ReadBackState();
  std::lock_guard lock(mutex_);
  notes_.clear();  // the defaults are no news to the user
  last_client_ = Clock::now();
}

void PanelInstrument::Loop() {
  while (true) {
    TakeCommands();
    {
      std::lock_guard lock(mutex_);
      if (quit_) return;
    }
    vm316_pump_messages(0);
    if (settings_.mode == RunMode::kStop || !error_.empty()) {
      armed_ = false;
      {
        std::lock_guard lock(mutex_);
        activity_ = error_.empty() ? "stopped" : "stopped: " + error_;
      }
      WaitForWork(kRestingWait);
      continue;
    }
    if (!ClientWaiting()) {
      armed_ = false;  // a record armed before the rest would be stale by now
      {
        std::lock_guard lock(mutex_);
        activity_ = "resting: no panel is watching";
      }
      WaitForWork(kRestingWait);
      continue;
    }
    AcquireOne();
  }
}

bool PanelInstrument::ClientWaiting() const {
  std::lock_guard lock(mutex_);
  return Clock::now() - last_client_ < kIdleAfter;
}

bool PanelInstrument::WaitForWork(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return work_.wait_for(lock, wait, [this] { return quit_ || !commands_.empty(); });
}

void PanelInstrument::TakeCommands() {
  while (true) {
    std::unique_ptr<Command> command;
    {
      std::lock_guard lock(mutex_);
      if (commands_.empty()) return;
      command = std::move(commands_.front());
      commands_.pop_front();
    }
    // Applied in the order of Keys(): each setting's limits depend on the ones before it.
    std::vector<SettingResult> results;
    for (const std::string& key : Keys()) {
      for (const auto& [asked_key, value] : command->changes) {
        if (asked_key == key) results.push_back(ApplyOne(key, value));
      }
    }
    for (const auto& [asked_key, value] : command->changes) {
      const std::vector<std::string> keys = Keys();
      // Refused by the settings' rules, naming the key and the keys there are.
      if (std::find(keys.begin(), keys.end(), asked_key) == keys.end()) {
        results.push_back(ApplyOne(asked_key, value));
      }
    }
    // A record armed with other settings than those now in force is armed anew; one the
    // change left as it was goes on.
    if (ReadBackState()) armed_ = false;
    {
      std::lock_guard lock(mutex_);
      for (const SettingResult& result : results) notes_[result.key] = result;
      // A change that was accepted clears a failure, so that run starts again.
      if (!results.empty() && settings_.mode != RunMode::kStop) error_.clear();
      last_client_ = Clock::now();
    }
    command->done(std::move(results));
  }
}

void PanelInstrument::Apply(const SettingChanges& changes, SettingsDone done) {
  auto command = std::make_unique<Command>();
  command->changes = changes;
  command->done = std::move(done);
  {
    std::lock_guard lock(mutex_);
    if (!quit_) commands_.push_back(std::move(command));  // leaves `command` empty
  }
  if (command) {
    command->done({});  // stopped: no results
    return;
  }
  work_.notify_all();
}

void PanelInstrument::Fail(const std::string& text) {
  armed_ = false;
  session_->Note(text);
  std::lock_guard lock(mutex_);
  error_ = text;
}

void PanelInstrument::AcquireOne() {
  const double rate = GetSampleFrequencyF();
  const std::int32_t length = GetRecordLength();
  const std::int32_t post = GetPostSamples();
  if (rate <= 0.0 || length <= 0) {
    Fail("the board reports no usable time base");
    return;
  }
  const double record_seconds = length / rate;
  const double pre_seconds = (length - post) / rate;
  const bool free_running = settings_.trigger.source == TriggerSourceOption::kNone;
  // The board needs its samples before the trigger before a trigger can count.
  const double force_after =
      settings_.timeout_ms == kNoTimeout ? -1.0 : pre_seconds + settings_.timeout_ms / 1000.0;
  const double poll_ms =
      std::clamp(record_seconds * 1000.0 / kPollsPerRecord, kMinPollMs, kMaxPollMs);
  // Once the trigger came (or was forced), the library's bound for a record without a time-out.
  const double completion_seconds =
      vm316_record_bound_ms(rate, length - post, post, kNoTimeout) / 1000.0;

  if (!armed_) {
    const std::uint16_t armed = ADC_Start();
    if (armed != StatusOk) {
      Fail("arming the board failed: " + std::string(StatusMeaning(armed)));
      return;
    }
    armed_ = true;
    arming_ = Arming();
    arming_.start = Clock::now();
    if (free_running) arming_.triggered_at = 0.0;
    std::lock_guard lock(mutex_);
    activity_ = free_running ? "recording" : "waiting for the trigger";
  }
  double& waited = arming_.waited;
  std::optional<double>& triggered_at = arming_.triggered_at;
  bool& forced = arming_.forced;
  auto elapsed = [&] {
    return virtual_clock_ ? waited
                          : std::chrono::duration<double>(Clock::now() - arming_.start).count();
  };
  while (ADC_Ready() == 0) {
    {
      std::lock_guard lock(mutex_);
      if (quit_ || !commands_.empty()) return;
    }
    if (!armed_) return;
    const double now = elapsed();
    if (!triggered_at && ADC_Triggered() != 0) triggered_at = now;
    if (!triggered_at && force_after >= 0.0 && now >= force_after) {
      const std::uint16_t status = ADC_ForceTrig();
      if (status != StatusOk) {
        Fail("forcing the trigger failed: " + std::string(StatusMeaning(status)));
        return;
      }
      forced = true;
      triggered_at = now;
    }
    if (triggered_at && now > *triggered_at + completion_seconds) {
      Fail("the board stopped answering: no complete record " + FormatDuration(now) +
           " after arming");
      return;
    }
    if (virtual_clock_) {
      vm316_pump_messages(static_cast<std::uint32_t>(poll_ms));
      waited += std::floor(poll_ms) / 1000.0;
      // The virtual clock costs no wall time: a short real pause keeps the thread off the CPU.
      WaitForWork(std::chrono::milliseconds(1));
    } else {
      WaitForWork(std::chrono::milliseconds(std::lround(poll_ms)));
    }
  }
  armed_ = false;
  Publish(free_running ? TriggerState::kFreeRunning
          : forced     ? TriggerState::kForced
                       : TriggerState::kTriggered);
  if (settings_.mode == RunMode::kSingle) {
    settings_.mode = RunMode::kStop;
    ReadBackState();
  }
}

void PanelInstrument::Publish(TriggerState trigger_state) {
  const auto length = static_cast<std::size_t>(std::max(0, GetRecordLength()));
  std::array<std::vector<std::uint16_t>, kChannelCount> raw;
  std::array<std::vector<double>, kChannelCount> volts;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    raw[channel].assign(length, 0);
    volts[channel].assign(length, 0.0);
  }
  // The first fetch reads the board, with the volt factors of the range the record used.
  std::uint16_t status = ADC_GetDataVolt(volts[0].data(), volts[1].data());
  if (status == StatusOk) status = ADC_GetData(raw[0].data(), raw[1].data());
  if (status != StatusOk) {
    Fail("reading the record failed: " + std::string(StatusMeaning(status)));
    return;
  }
  auto published = std::make_shared<PublishedRecord>();
  published->record = ReadBackRecord(raw, volts);
  published->stats = RecordStatistics(published->record);
  published->record.trigger_state = trigger_state;
  published->triggered = trigger_state == TriggerState::kTriggered;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    published->over_range[channel] = published->record.channels[channel].OverRange();
  }
  {
    std::lock_guard lock(mutex_);
    published->sequence = sequence_ + 1;
  }
  published->wire =
      std::make_shared<const std::string>(WireForm(*published, HeaderJson(*published)));
  // Automatic ranging may have moved a range with this record.
  const bool auto_range =
      published->record.channels[0].auto_range || published->record.channels[1].auto_range;
  if (auto_range) {
    FollowTriggerLevel();
    ReadBackState();
  }
  {
    std::lock_guard lock(mutex_);
    sequence_ = published->sequence;
    latest_ = std::move(published);
    activity_ = "running";
  }
  if (on_record_) on_record_();
}

Record PanelInstrument::ReadBackRecord(
    const std::array<std::vector<std::uint16_t>, kChannelCount>& raw,
    const std::array<std::vector<double>, kChannelCount>& volts) const {
  Record record;
  record.sample_rate = GetSampleFrequencyF();
  record.asked_rate = settings_.asked_rate;
  const std::int32_t length = static_cast<std::int32_t>(raw[0].size());
  const std::int32_t post = GetPostSamples();
  record.length = raw[0].size();
  record.pre_samples = static_cast<std::size_t>(std::clamp(length - post, 0, length));
  record.backend = backend_description_;
  record.timestamp = RecordTimestamp(virtual_clock_);
  record.xy = InXy();
  std::array<std::optional<double>, kChannelCount> levels{};
  const std::vector<int> trigger_channels = TriggerChannels();
  for (const int channel : trigger_channels) {
    double level = 0.0;
    double dc_level = 0.0;
    const auto ch = static_cast<std::uint8_t>(channel);
    if (GetTriggerLevel(ch, &level) == StatusOk && GetDcLevel(ch, &dc_level) == StatusOk) {
      levels[channel - 1] = level + dc_level;
    }
  }
  record.trigger = DescribeTrigger(settings_.trigger, levels);
  if (!trigger_channels.empty()) {
    record.trigger_channel = trigger_channels.front();
    record.trigger_level = levels[trigger_channels.front() - 1];
    record.trigger_falling = settings_.trigger.falling;
    double hysteresis = 0.0;
    if (GetTriggerHys(static_cast<std::uint8_t>(*record.trigger_channel), &hysteresis) ==
        StatusOk) {
      record.trigger_hysteresis = hysteresis;
    }
  }
  const int mask = ChannelMask();
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    const bool recorded = (mask & (1 << (channel - 1))) != 0;
    record.channels[channel - 1] = ReadBackChannel(channel, recorded, volts[channel - 1].data(),
                                                   raw[channel - 1].data(), record.length);
  }
  return record;
}

std::shared_ptr<const PublishedRecord> PanelInstrument::Poll(std::uint64_t& after) {
  std::lock_guard lock(mutex_);
  if (after > sequence_) after = 0;
  const bool was_resting = Clock::now() - last_client_ >= kIdleAfter;
  last_client_ = Clock::now();
  if (was_resting) work_.notify_all();
  return sequence_ > after ? latest_ : nullptr;
}

std::shared_ptr<const PublishedRecord> PanelInstrument::Latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

std::string PanelInstrument::StateJson() const {
  std::lock_guard lock(mutex_);
  std::string json = "{\"backend\":" + JsonString(backend_description_) +
                     ",\"calibration\":" + JsonString(calibration_text_) +
                     ",\"activity\":" + JsonString(activity_) + ",\"error\":" + JsonString(error_) +
                     ",\"sequence\":" + std::to_string(sequence_) +
                     ",\"settings\":" + (state_json_.empty() ? "{}" : state_json_) + ",\"notes\":{";
  bool first = true;
  for (const auto& [key, note] : notes_) {
    if (!first) json += ",";
    first = false;
    json += JsonString(key) + ":{\"asked\":" + JsonString(note.asked) +
            ",\"accepted\":" + JsonBool(note.accepted) +
            ",\"adjusted\":" + JsonBool(note.adjusted) + ",\"status\":" + JsonString(note.status) +
            ",\"value\":" + JsonString(note.value) + ",\"note\":" + JsonString(note.note) + "}";
  }
  return json + "}}";
}

}  // namespace vm316::serve
