// The control unit's recorder: the sample memory, its 15-bit address counter, the count
// register, the recorder modes and the trigger logic. Recording is computed lazily: at each port
// access the board calls CatchUp with the present time, and the recorder runs the sample clock
// edges that passed since, never anything finer.
//
// Only what a host can read is worked out. A sample is converted when it is read from the
// memory (or when something it depends on is about to change: the front end, the inputs, the
// square-wave output); until then the memory keeps the spans of samples written, and a span
// that is a memory-full long drops what came before it. The comparators are clocked sample by
// sample only at the samples that change them: the analog side finds those without converting
// the others, and up to a few thousand samples ahead (until the next write to the board).
//
// The address counter. Arm (a write to ArmRegister) clears it to 0x7FFD, three steps before the
// top of memory, and clears the comparators. Each Step adds one. In the armed mode each sample
// clock edge writes both converters' bytes at the counter and adds one. In the seek mode the
// counter runs at the sample clock until it equals the count register's address.
//
// The trigger. A comparator trigger, or a forced one (select code 2 written while armed), is
// the sample taken at the edge on which it occurs; it reaches the stop logic through a two-edge
// synchroniser, and the recorder then writes the post-trigger count and four more samples. So
// the counter stops post + 7 past the trigger sample. With code 2 already selected when the
// recording starts, the synchroniser is primed and the first sample is the trigger: the counter
// stops post + 5 past it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/comparator.h"
#include "sim/time_base.h"

namespace vm316::sim {

// What the converters and the external input give at the sample clock edges.
class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // The code converter 1 or 2 converts at t_ns.
  virtual std::uint8_t ConvertAt(int converter, std::uint64_t t_ns) = 0;
  // The external trigger input's logic level at t_ns.
  virtual bool ExternalHighAt(std::uint64_t t_ns) = 0;
  // The first of `count` samples, the k-th at t_ns + k * period_ns, that the watch takes from
  // converter 1 or 2 (external watches: the external input); count when none does.
  virtual std::uint64_t FirstTaken(const ComparatorWatch& watch, int converter, std::uint64_t t_ns,
                                   std::uint64_t period_ns, std::uint64_t count) = 0;
  // The last of them whose code the watch takes (code watches only); count when none does.
  virtual std::uint64_t LastTaken(const ComparatorWatch& watch, int converter, std::uint64_t t_ns,
                                  std::uint64_t period_ns, std::uint64_t count) = 0;
};

enum class RecorderState : std::uint8_t {
  kStopped,            // mode 0, or a mode value without a meaning
  kSeekLoad,           // mode 2
  kSeeking,            // mode 3, counter still running
  kSeekReached,        // mode 3, counter at the address
  kIdleLoad,           // mode 6
  kIdle,               // mode 7
  kWaitingForTrigger,  // mode 15
  kTriggered,          // mode 15, writing the post-trigger samples
  kComplete,           // mode 15, stopped after the trigger and the post-trigger count
};

class Recorder {
 public:
  static constexpr std::uint32_t kMemorySize = 32768;
  static constexpr std::uint16_t kAddressMask = 0x7FFF;
  static constexpr std::uint16_t kArmAddress = 0x7FFD;
  // Samples written after the trigger sample beyond the post-trigger count.
  static constexpr std::uint32_t kTriggerTail = 6;
  static constexpr std::uint32_t kPrimedTail = 4;
  // Through a gap longer than this plus a memory-full, a trigger is searched for in the gap's
  // first kGapSearchSamples samples and its last memory-full; the middle is skipped.
  static constexpr std::uint64_t kGapSearchSamples = 1u << 20;

  // ModeRegister values.
  static constexpr std::uint8_t kModeStopped = 0;
  static constexpr std::uint8_t kModeSeekLoad = 2;
  static constexpr std::uint8_t kModeSeekRun = 3;
  static constexpr std::uint8_t kModeIdleLoad = 6;
  static constexpr std::uint8_t kModeIdle = 7;
  static constexpr std::uint8_t kModeArmed = 15;
  // UnitModeRegister values.
  static constexpr std::uint8_t kUnitRecord = 0;
  static constexpr std::uint8_t kUnitIdle = 1;
  static constexpr std::uint8_t kUnitDoubleRate = 2;  // unit 1 only
  // TriggerRegister select codes.
  static constexpr std::uint8_t kSelectUnit1 = 0;
  static constexpr std::uint8_t kSelectUnit2 = 1;
  static constexpr std::uint8_t kSelectNow = 2;
  static constexpr std::uint8_t kSelectOr = 3;
  static constexpr std::uint8_t kSelectAnd = 4;
  // StatusPort bits.
  static constexpr std::uint8_t kStatusDone = 0x01;
  static constexpr std::uint8_t kStatusSeenUnit1 = 0x02;
  static constexpr std::uint8_t kStatusSeenUnit2 = 0x04;

  Recorder(SampleSource& source, bool stuck_busy, std::uint64_t memory_seed);

  // True while something runs on the sample clock (recording, or a seek on its way): only
  // then does the present time matter to the recorder.
  bool Running() const {
    return (mode_ == kModeArmed && !stopped_) || (mode_ == kModeSeekRun && !seek_reached_);
  }
  // Runs the clock edges up to now_ns. Every other call expects the recorder caught up.
  void CatchUp(std::uint64_t now_ns) {
    if (Running() && next_edge_ns_ <= now_ns) Run(now_ns);
  }
  // Converts the samples written and not read yet, into the memory: before anything they
  // depend on changes.
  void Materialize() const;
  // The board is about to be written to (or its inputs to move): what was worked out ahead
  // may no longer hold, and the comparators left unclocked are brought up to date first.
  void BeforeChange() {
    for (int unit = 0; unit < 2; ++unit) {
      lookahead_[unit].known = false;
      if (unclocked_[unit].active) ClockSince(unit);
    }
  }

  void WriteCountLow(std::uint8_t value) { count_ = (count_ & 0xFF00) | value; }
  void WriteCountHigh(std::uint8_t value) {
    count_ = static_cast<std::uint16_t>((count_ & 0x00FF) | (value << 8));
  }
  void WriteMode(std::uint8_t mode, std::uint64_t now_ns);
  void WriteArm();
  void WriteStep() { counter_ = (counter_ + 1) & kAddressMask; }
  void WriteTriggerSelect(std::uint8_t code) { trigger_select_ = code; }
  void WriteUnitMode(int unit, std::uint8_t mode) { unit_mode_[unit - 1] = mode; }
  void SetSampleClock(const SampleClock& clock, std::uint64_t now_ns);
  TriggerComparator& Comparator(int unit) { return comparators_[unit - 1]; }

  // Port reads.
  std::uint16_t Counter() const { return counter_; }
  std::uint8_t Status() const;
  std::uint8_t SampleByte(int converter) const;

  // Inspection.
  RecorderState State() const;
  std::uint8_t Mode() const { return mode_; }
  std::uint16_t CountRegister() const { return count_; }
  std::uint8_t TriggerSelect() const { return trigger_select_; }
  std::uint8_t UnitMode(int unit) const { return unit_mode_[unit - 1]; }
  const SampleClock& Clock() const { return clock_; }
  const TriggerComparator& Comparator(int unit) const { return comparators_[unit - 1]; }
  const std::array<std::uint8_t, kMemorySize>& Memory(int converter) const {
    Materialize();
    return memory_[converter - 1];
  }
  bool Triggered() const { return triggered_; }
  // Address of the trigger sample of the present (or last) record.
  std::uint16_t TriggerAddress() const { return trigger_address_; }
  // Sample clock edges run in the armed mode since it was entered (skipped ones included).
  std::uint64_t SamplesRecorded() const { return samples_recorded_; }
  // The location was written by the converters since the armed mode was last entered.
  bool WrittenSinceArm(std::uint16_t address) const {
    Materialize();
    return arms_ != 0 && written_in_arm_[address & kAddressMask] == arms_;
  }

 private:
  // Samples written at consecutive addresses and clock edges, not converted yet.
  struct Span {
    std::uint16_t address = 0;
    std::uint64_t first_ns = 0;
    std::uint64_t period_ns = 0;
    std::uint32_t count = 0;
    std::uint32_t arm = 0;
    std::uint32_t id = 0;     // new whenever its locations may hold other samples
    bool converter1 = false;  // which converters write
    bool converter2 = false;
    bool double_rate = false;  // converter 2 half a period after converter 1

    bool Writes(int converter) const { return converter == 1 ? converter1 : converter2; }
    std::uint64_t TimeOf(int converter, std::uint32_t offset) const {
      const std::uint64_t t = first_ns + offset * period_ns;
      return converter == 2 && double_rate ? t + period_ns / 2 : t;
    }
  };
  // How far a comparator is known to stay as it is: its samples before until_ns leave it
  // unchanged, and the one at until_ns changes it when `change`.
  struct Lookahead {
    bool known = false;
    ComparatorWatch watch;
    std::uint64_t until_ns = 0;
    bool change = false;
  };
  // A comparator that has fired and that the select code does not look at can show nothing
  // more (its status bit stays set) until the select code changes: it is not clocked from
  // since_ns on, and when it is looked at again its state is what the last sample since then
  // that decides it made it.
  struct Unclocked {
    bool active = false;
    std::uint64_t since_ns = 0;
  };
  static constexpr std::size_t kMostSpans = 16;
  static constexpr std::uint64_t kLookaheadSamples = 4096;

  void Run(std::uint64_t now_ns);
  void RunSeek(std::uint64_t edges);
  void Record(std::uint64_t edges);
  std::uint64_t RecordSamples(std::uint64_t edges);
  std::uint64_t SkipAllBut(std::uint64_t edges, std::uint64_t keep);
  // Samples from the next edge on, at most `limit`, that change nothing but the memory.
  std::uint64_t QuietSamples(std::uint64_t limit);
  std::uint64_t QuietFor(int unit, std::uint64_t limit);
  void RecordQuiet(std::uint64_t samples);
  bool SelectLooksAt(int unit) const;
  void UpdateUnclocked();
  void ClockUnclocked();
  void ClockSince(int unit);
  void RecordOne();
  void Write(std::uint16_t address, std::uint64_t t_ns, std::uint64_t samples);
  void HideOverwritten();
  void MaterializeSpan(const Span& span) const;
  bool SelectedTriggerFires(bool fired1, bool fired2) const;

  SampleSource& source_;
  const bool stuck_busy_;
  mutable std::array<std::array<std::uint8_t, kMemorySize>, 2> memory_{};
  mutable std::vector<Span> spans_;  // oldest first
  std::uint32_t next_span_id_ = 1;
  // Per converter and location: the span whose sample the memory holds there (converted when it
  // was read, or when its span went into the memory), so that a sample read again is not
  // converted again.
  mutable std::array<std::array<std::uint32_t, kMemorySize>, 2> held_span_{};
  std::array<Lookahead, 2> lookahead_{};
  std::array<Unclocked, 2> unclocked_{};
  std::uint16_t counter_ = 0;
  std::uint16_t count_ = 0;
  std::uint8_t mode_ = kModeStopped;
  std::uint8_t trigger_select_ = kSelectUnit1;
  std::array<std::uint8_t, 2> unit_mode_{kUnitIdle, kUnitIdle};
  std::array<TriggerComparator, 2> comparators_{};
  SampleClock clock_;
  std::uint64_t next_edge_ns_ = 0;

  // The record in the armed mode.
  std::uint16_t post_count_ = 0;
  bool primed_ = false;
  bool triggered_ = false;
  bool stopped_ = false;
  std::uint32_t remaining_ = 0;  // samples still to write before the stop
  std::uint16_t trigger_address_ = 0;
  std::uint64_t samples_recorded_ = 0;
  // Which arm (entry into the armed mode, counted from 1) last wrote each location.
  std::uint32_t arms_ = 0;
  mutable std::array<std::uint32_t, kMemorySize> written_in_arm_{};

  // The seek.
  std::uint16_t seek_target_ = 0;
  bool seek_reached_ = false;
};

}  // namespace vm316::sim
