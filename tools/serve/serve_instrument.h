// The instrument behind `vm316 serve`. The library is single-threaded, so one acquisition
// thread owns it: it brings the board up, takes settings changes from a queue, acquires in the
// block style (ADC_Start, ADC_Ready, ADC_GetData: the thread stays free to take a change or a
// stop while a record fills) and publishes every finished record with a sequence number. The
// HTTP handlers call only the public functions here, never the library.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "shared/options.h"
#include "shared/record.h"
#include "shared/settings.h"
#include "shared/statistics.h"

namespace vm316::host {
class Session;
}  // namespace vm316::host

namespace vm316::serve {

enum class RunMode : std::uint8_t { kRun, kStop, kSingle };

// What became of one setting asked for: the value in force afterwards and, when it differs
// from the request or was refused, why.
struct SettingResult {
  std::string key;
  std::string asked;
  bool accepted = false;
  bool adjusted = false;
  std::string status;  // the library's status name, or "" for a request that never reached it
  std::string value;   // the value in force, as the panel shows it
  std::string note;    // the reason for a refusal or an adjustment
};

// A finished record as the panel receives it.
struct PublishedRecord {
  std::uint64_t sequence = 0;
  host::Record record;
  std::array<host::TraceStatistics, host::kChannelCount> stats;
  bool triggered = false;  // false: the trigger was forced after the time-out, or there is none
  std::array<bool, host::kChannelCount> over_range{};
  // The transfer form: a 4-byte little-endian header length, the JSON header (padded with
  // spaces to a multiple of 4 bytes), then the raw samples of each recorded channel in channel
  // order, 16-bit little-endian. Apart, so that an answer being sent holds these bytes only.
  std::shared_ptr<const std::string> wire;
};

using SettingChanges = std::vector<std::pair<std::string, std::string>>;
using SettingsDone = std::function<void(std::vector<SettingResult>)>;

class PanelInstrument {
 public:
  explicit PanelInstrument(const host::BackendOptions& backend);
  ~PanelInstrument();
  PanelInstrument(const PanelInstrument&) = delete;
  PanelInstrument& operator=(const PanelInstrument&) = delete;

  // Starts the acquisition thread and waits until the board is up, calling `waiting` every
  // tenth of a second meanwhile; throws CliError when the board does not answer, or when
  // Ctrl-C came while it was brought up (then nothing was started).
  void Start(const std::function<void()>& waiting);
  void Stop();

  // Queues the changes for the acquisition thread, which applies them in the order their
  // limits depend on each other (not the order given) and calls `done` with the results, on
  // its own thread (at once, with none, once stopped). Unknown keys come back refused without
  // reaching the board.
  void Apply(const SettingChanges& changes, SettingsDone done);

  // The settings in force, the notes of the last changes, the backend and calibration, as JSON.
  std::string StateJson() const;

  // A panel asking for a record after `after`: the newest record when its number is above,
  // else null. A number this server has not reached (a panel that outlived an earlier server)
  // becomes 0. A panel that asks keeps the acquisition going: with nobody asking for a few
  // seconds it pauses.
  std::shared_ptr<const PublishedRecord> Poll(std::uint64_t& after);
  std::shared_ptr<const PublishedRecord> Latest() const;
  // Called on the acquisition thread after each new record; set before Start.
  void OnRecord(std::function<void()> listener) { on_record_ = std::move(listener); }

  // The keys Apply knows, in the order it applies them.
  static std::vector<std::string> Keys();

 private:
  struct Command {
    SettingChanges changes;
    SettingsDone done;
  };
  // The record armed, and how far its wait has come: a change that leaves the board as it was
  // does not start it again.
  struct Arming {
    std::chrono::steady_clock::time_point start;
    double waited = 0.0;  // on the virtual clock the board's time moves only with the pump
    std::optional<double> triggered_at;
    bool forced = false;
  };
  struct Settings {
    RunMode mode = RunMode::kRun;
    std::optional<double> asked_rate;  // when the board gave another rate
    double pre_percent = 0.0;
    host::TriggerOption trigger;  // source, slope, level in volts at the input
    std::int64_t timeout_ms = 100;
  };

  void ThreadMain(std::promise<void> started);
  void Loop();
  void ConfigureDefaults();
  void TakeCommands();
  bool WaitForWork(std::chrono::milliseconds wait);
  bool ClientWaiting() const;
  void AcquireOne();
  void Publish(host::TriggerState trigger_state);
  void Fail(const std::string& text);

  // Settings (serve_settings.cpp): one function per key; each calls the library and reads
  // back what it set.
  // The text is read by the settings' one set of rules (shared/settings.h) before any of the
  // Apply functions sees it: `result` comes with its key and the text asked for.
  SettingResult ApplyOne(const std::string& key, const std::string& value);
  SettingResult ApplyRun(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyChannelOn(SettingResult result, int channel, const host::SettingValue& value);
  SettingResult ApplyXy(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyRate(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyLength(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyPre(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyRange(SettingResult result, int channel, const host::SettingValue& value);
  SettingResult ApplyCoupling(SettingResult result, int channel, const host::SettingValue& value);
  SettingResult ApplyDcLevel(SettingResult result, int channel, const host::SettingValue& value);
  SettingResult ApplyTriggerSource(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyTriggerSlope(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyTriggerLevel(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyHysteresis(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyTimeout(SettingResult result, const host::SettingValue& value);
  SettingResult ApplyGenerator(SettingResult result, const host::SettingValue& value);
  // The trigger level is kept in volts at the input; the board keeps it as a code of the range
  // less the DC level, so it is set again when either moves. Returns a note when it was held
  // at the edge of the range.
  std::string FollowTriggerLevel();
  std::vector<int> TriggerChannels() const;
  int ChannelMask() const;
  bool InXy() const;  // the board records in its XY mode (mXY)
  // Rebuilds the settings part of the state from the board; true when it changed. It holds
  // every value of the board a change can set, so an unchanged text leaves the armed record.
  bool ReadBackState();
  host::Record ReadBackRecord(
      const std::array<std::vector<std::uint16_t>, host::kChannelCount>& raw,
      const std::array<std::vector<double>, host::kChannelCount>& volts) const;

  host::BackendOptions backend_;
  std::unique_ptr<host::Session> session_;  // made, used and released on the acquisition thread
  std::thread thread_;
  std::string backend_description_;
  std::string calibration_text_;
  bool virtual_clock_ = false;

  // Owned by the acquisition thread.
  Settings settings_;
  bool armed_ = false;
  Arming arming_;
  std::function<void()> on_record_;

  mutable std::mutex mutex_;      // guards everything below
  std::condition_variable work_;  // commands, stop, a waiting client
  std::deque<std::unique_ptr<Command>> commands_;
  bool quit_ = false;
  std::string state_json_;  // settings part, rebuilt by the acquisition thread
  std::map<std::string, SettingResult> notes_;
  std::string activity_ = "starting";
  std::string error_;
  std::shared_ptr<const PublishedRecord> latest_;
  std::uint64_t sequence_ = 0;
  std::chrono::steady_clock::time_point last_client_;
};

}  // namespace vm316::serve
