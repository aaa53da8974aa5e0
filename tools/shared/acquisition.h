// Setting the board up from the options and taking records, through the C interface only:
// the blocking style (StartMeasurement), the block style (ADC_Start, ADC_Ready, ADC_GetData)
// and continuous acquisition (DoMeasure driven by the message pump).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "options.h"
#include "record.h"
#include "session.h"

namespace vm316::host {

// The board's time as the host can follow it: the steady clock, or on the virtual clock the
// sum of the waits the message pump was asked for (the board's time only moves then).
class BoardTime {
 public:
  explicit BoardTime(bool virtual_clock);
  double Elapsed() const;
  // Dispatches the library's timer ticks, waiting at most `milliseconds`.
  void Pump(std::uint32_t milliseconds);

 private:
  bool virtual_clock_;
  std::chrono::steady_clock::time_point start_;
  double waited_ = 0.0;
};

// Sets the square-wave output (0: off) and returns the frequency obtained; a frequency
// outside what the output makes is refused with its limits. Throws CliError.
std::uint32_t SetGenerator(double frequency);

class Acquisition {
 public:
  Acquisition(Session& session, const AcquisitionOptions& options);

  // Channels, time base, ranges, coupling, DC levels, trigger and generator, in the order in
  // which each setting's limits depend on the one before. Throws CliError on a refusal.
  void Configure();

  // One record. The first call settles what the options leave to the board (automatic ranges,
  // a trigger level half way up the signal) with untriggered records first.
  Record Capture();

  // Continuous acquisition by the library's timer; Latest() reads what it last recorded.
  void StartContinuous();
  void StopContinuous();
  Record Latest();
  // Automatic ranging changed a range: the trigger level, kept by the board as a fraction of
  // the range, is set again in volts.
  void FollowRangeChanges();

  // The record takes longer than a second: it gets a progress line and may be interrupted.
  bool LongCapture() const;
  double RecordSeconds() const;

 private:
  void SelectChannels();
  void FitToTime();
  void ApplyTimeBase();
  std::uint32_t PostSamples() const;
  void ApplyChannel(int channel);
  void ApplyTriggerSource(std::uint8_t source);
  void ApplyTriggerLevels();
  void ApplyTimeout();
  void ApplyGenerator();
  // An input switched to AC (or moved to another range while AC-coupled) shows its DC part
  // until the coupling's capacitor has charged: the front end is programmed now and the host
  // waits that out before any record counts.
  void SettleCoupling();
  void SettleAutomaticSettings();
  void RunCapture();
  void CaptureBlocking();
  void CaptureBlock();
  void FetchBlock();
  Record ReadBack();
  std::vector<int> TriggerChannels() const;
  CaptureStyle EffectiveStyle() const;
  double Sensitivity(int channel) const;
  double DcLevel(int channel) const;

  Session& session_;
  AcquisitionOptions options_;
  double achieved_rate_ = 0.0;
  std::optional<double> asked_rate_;
  bool settled_ = false;
  double coupling_settling_seconds_ = 0.0;               // still to wait before the first record
  TriggerState trigger_state_ = TriggerState::kUnknown;  // of the last record taken
  // The trigger level in volts of each channel, as asked or as found; the sensitivity it was
  // set on.
  std::array<std::optional<double>, kChannelCount> trigger_levels_;
  std::array<double, kChannelCount> level_sensitivity_{};
  std::array<std::vector<double>, kChannelCount> volts_;
  std::array<std::vector<std::uint16_t>, kChannelCount> raw_;
};

}  // namespace vm316::host
