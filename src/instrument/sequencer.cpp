// The acquisition sequencer: one state machine that arms the board with the current settings,
// watches the status port for the end of the record, forces the trigger when the time-out has
// run out, has the finished record read into the sample buffers and applies the automatic-range
// steps the readout decided. Three drives share it: the 6 ms acquisition timer, the blocking
// loop of MeasureOnce, and the block-mode operations of the ADC_* exports.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "instrument/record_timing.h"
#include "instrument/rounding.h"
#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/fine_clock.h"
#include "port/registers.h"

namespace vm316 {
namespace {

constexpr long double kMsPerSecond = 1000.0L;
constexpr std::uint64_t kUsPerMs = 1000;
// Below this sample clock one sample takes a millisecond or more: the blocking loop then looks
// at the board once per millisecond instead of spinning.
constexpr long double kPacedClockHz = 1000.0L;
// A DC level more than this many sensitivities away from zero is beyond the offset DAC of a
// range: automatic ranging then moves one range further.
constexpr long double kDcLevelSensitivities = 2.0L;

std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now) {
  return now - start;  // modulo 2^32: a wrap of the tick counter does not matter
}

// The time-out forces the trigger only when it is neither negative nor 100 s or more.
bool TimeOutForces(const TVMx16& vm) {
  return vm316::TimeOutForces(vm.rTrigTimeOut);
}

std::uint32_t TimeOutMs(const TVMx16& vm) {
  return RoundTo<std::uint32_t>(vm.rTrigTimeOut * kMsPerSecond);
}

// A time-out shorter than one sample period: the record is taken without waiting for a trigger.
bool TimeOutBelowOneSample(const TVMx16& vm) {
  const long double frequency = vm.SampleFreq();
  return vm.rTrigTimeOut >= 0.0L && frequency > 0.0L && vm.rTrigTimeOut < 1.0L / frequency;
}

// Channel 1 follows automatic ranging unless only channel 2 is measured, and the reverse.
bool RangeStepDue(const TVMx16& vm, int channel) {
  const TMeasureMode other_alone = channel == 1 ? mCh2 : mCh1;
  return vm.AutoRanging[channel] && vm.mMeasureMode != other_alone && vm.RangeStep[channel] != 0;
}

// Applies the pending automatic-range step of a channel, keeps the range inside the table and
// the DC level inside what the new range can offset, and consumes the step: one record moves
// the range once, whichever drive arms next.
void ApplyRangeStep(TVMx16& vm, int channel) {
  std::uint16_t& range = vm.RangeIndex[channel];
  range = static_cast<std::uint16_t>(range + vm.RangeStep[channel]);
  vm.ClampRangeIndex(range);
  if (std::fabs(vm.DcLevel[channel] / vm.Sensitivities[range]) > kDcLevelSensitivities) {
    range = static_cast<std::uint16_t>(range + 1);
    vm.ClampRangeIndex(range);
  }
  vm.DcLevelLimit[channel] = vm.DcLevelLimits[range];
  vm.ClampDcLevel(channel);
  vm.RangeStep[channel] = 0;
  vm.SettingsChanged();
}

void ApplyDueRangeSteps(TVMx16& vm) {
  for (int channel = 1; channel <= 2; ++channel) {
    if (RangeStepDue(vm, channel)) ApplyRangeStep(vm, channel);
  }
}

// The DC-level DAC of a channel: its DC level in sensitivities, on the fixed base, with the
// calibrated offset of its range.
long double DcLevelDacVolts(const TVMx16& vm, int channel) {
  const std::uint16_t range = vm.RangeIndex[channel];
  return vm.DcLevel[channel] / vm.Sensitivities[range] + vm.OffsetDacBase[channel] +
         vm.OffsetCorrection[channel][range];
}

// DC-level DACs, gain trims and relay word for the present ranges, couplings and mode.
void ReprogramFrontEnd(TVMx16& vm) {
  for (int channel = 1; channel <= 2; ++channel) {
    vm.DcLevelLimit[channel] = vm.DcLevelLimits[vm.RangeIndex[channel]];
    vm.ClampDcLevel(channel);
  }
  vm.WriteDcLevelDac(1, DcLevelDacVolts(vm, 1));
  vm.WriteDcLevelDac(2, DcLevelDacVolts(vm, 2));
  vm.WriteGainTrims(vm.GainTrim[1][vm.RangeIndex[1]], vm.GainTrim[2][vm.RangeIndex[2]]);
  vm.WriteRelayWord();
}

void ArmPhase(TVMx16& vm) {
  vm.Armed = true;
  ApplyDueRangeSteps(vm);
  if (vm.SettingsDirty) {
    ReprogramFrontEnd(vm);
    vm.SettingsDirty = false;
    // Outside one-shot mode the step arms again next time, so the acquisition started on the
    // freshly switched relays is restarted once they have settled.
    vm.Armed = vm.amAcquisitionMode == amOneShot;
  }
  if (TimeOutBelowOneSample(vm)) vm.ActiveTriggerSource = tsNoTrig;
  vm.ArmAcquisition();
  vm.WaitStartTick = platform::GetTickCount();
  // An arm that the next step repeats need not wait: its record is restarted anyway.
  if (vm.Armed) vm.WaitOutShortHoldOff();
}

void CompleteRecord(TVMx16& vm, std::uint32_t now) {
  vm.WaitTicks = 0;
  vm.WaitStartTick = now;
  vm.ReadRecord();
  if (!vm.HardwarePresent) return;  // read from a floating bus: no record
  if (vm.amAcquisitionMode == amOneShot) {
    vm.amAcquisitionMode = amHold;
    vm.SettingsChanged();
  }
  vm.Armed = false;
  if (vm.OnMeasurementReady) vm.OnMeasurementReady(vm);
  vm.RecordDone = true;
}

void PollPhase(TVMx16& vm) {
  const std::uint32_t now = platform::GetTickCount();
  // Counted for the record only; a wait without time-out must not run it past its top.
  if (vm.WaitTicks < std::numeric_limits<std::int32_t>::max()) ++vm.WaitTicks;
  if (vm.OnTriggered) vm.OnTriggered(vm);
  // The time-out is elapsed time on the tick counter, the same in every drive: the blocking
  // loop steps back to back and the timer every 6 ms, so counting steps would force after
  // microseconds in one and after a fraction of the time-out in the other.
  vm.EndHoldOffWhenDue();
  if (TimeOutForces(vm) && TicksSince(vm.WaitStartTick, now) > TimeOutMs(vm)) {
    vm.RequestForcedTrigger();
    vm.WaitTicks = 0;
    vm.WaitStartTick = now;
    vm.SettingsDirty = true;
  }
  if (vm.RecordReady()) {
    CompleteRecord(vm, now);
  } else {
    vm.RangeStep[1] = 0;
    vm.RangeStep[2] = 0;
  }
}

// The trigger status shows the trigger of the active source: the select codes' comparators,
// both of them for AND.
bool TriggerSeenIn(const TVMx16& vm, std::uint8_t status) {
  const bool unit1 = (status & port::kStatusTriggerUnit1) != 0;
  const bool unit2 = (status & port::kStatusTriggerUnit2) != 0;
  switch (vm.ActiveTriggerSource) {
    case tsCh1:
      return unit1;
    case tsCh2:
    case tsExternal:
      return unit2;
    case tsOr:
      return unit1 || unit2;
    case tsAnd:
      return unit1 && unit2;
    default:
      return true;  // taken at once: the first sample after the arm is the trigger
  }
}

// Where the bound of a blocking measurement counts from: its start when the time-out forces,
// else the step at which the trigger status first showed the trigger (none before).
class RecordBound {
 public:
  explicit RecordBound(TVMx16& vm) : vm_(vm), counting_(TimeOutForces(vm)) {
    if (counting_) from_ = platform::GetTickCount();
  }

  bool RanOut(bool triggered) {
    if (!counting_ && triggered) {
      counting_ = true;
      from_ = platform::GetTickCount();
    }
    if (!counting_) return false;  // without a time-out the wait for a trigger is the host's
    const long double bound_ms =
        RecordBoundMs(vm_.ClockFrequency, vm_.lPreSamples, vm_.lPostSamples,
                      TimeOutForces(vm_) ? vm_.rTrigTimeOut : -1.0L);
    return TicksSince(from_, platform::GetTickCount()) > bound_ms;
  }

 private:
  TVMx16& vm_;
  bool counting_;
  std::uint32_t from_ = 0;
};

// When the next step of the blocking loop can find something new, on the fine clock. The
// record is complete no sooner than the count register's samples after its trigger, and the
// trigger came no sooner than the arm, the end of the hold-off, or the last look at the status
// that did not show it (with the time-out's forced trigger the status no longer tells). A
// hold-off still running ends at its time, and the time-out forces at its own; an arm to be
// repeated is repeated at once. Below 1 kHz one sample takes a millisecond or more, so the loop
// looks once a millisecond at most.
std::uint64_t NextLookUs(const TVMx16& vm, std::uint64_t now_us) {
  if (!vm.Armed) return now_us;  // the arm after reprogramming is repeated at once
  std::uint64_t next =
      vm.HoldOffRunning && vm.ComparatorsParked
          ? vm.HoldOffEndUs
          : vm.TriggerNotBeforeUs + SoonestCompletionUs(vm.ClockFrequency, vm.ArmedCount);
  if (vm.HoldOffRunning) next = std::min(next, vm.HoldOffEndUs);
  if (TimeOutForces(vm)) {
    const std::uint32_t waited = TicksSince(vm.WaitStartTick, platform::GetTickCount());
    const std::uint32_t limit = TimeOutMs(vm);
    const std::uint64_t rest_ms = waited > limit ? 0 : limit - waited + 1;
    next = std::min(next, now_us + rest_ms * kUsPerMs);
  }
  if (vm.ClockFrequency > 0.0L && vm.ClockFrequency <= kPacedClockHz) {
    next = std::max(next, now_us + kUsPerMs);
  }
  return next;
}

}  // namespace

void TVMx16::AcquisitionTimerTick() {
  switch (amAcquisitionMode) {
    case amContinuous:
      AcquisitionStep();
      break;
    case amOneShot:
      AcquisitionStep();
      // Also after the tick that ended the measurement, and whatever NotifySettings says.
      if (OnSettingsChanged) OnSettingsChanged(*this);
      break;
    case amHold:
      break;
  }
}

void TVMx16::AcquisitionStep() {
  if (!HardwarePresent) return;
  if (!Armed) ArmPhase(*this);
  PollPhase(*this);
}

// A record that does not complete within its bound is given up: the call ends without one.
// That is no verdict on the board; only a floating bus says it has gone.
void TVMx16::MeasureOnce() {
  RecordDone = false;
  RecordBound bound(*this);
  while (!RecordDone && HardwarePresent) {
    AcquisitionStep();
    if (RecordDone || !HardwarePresent) break;
    const std::uint64_t looked_us = platform::FineClockUs();
    const std::uint8_t status = PortAccessOk ? Io.Read(port::kStatusPort) : 0;
    const bool triggered = TriggerSeenIn(*this, status);
    if (bound.RanOut(triggered)) {
      if (BusFloats()) HardwarePresent = false;
      return;
    }
    if (!triggered && !ForceGiven && !HoldOffRunning) {
      TriggerNotBeforeUs = std::max(TriggerNotBeforeUs, looked_us);
    }
    // A wait that nothing can end sooner: the processor is given back meanwhile.
    const std::uint64_t now_us = platform::FineClockUs();
    platform::WaitFineUntilUs(NextLookUs(*this, now_us));
  }
}

void TVMx16::StartBlockAcquisition() {
  if (!HardwarePresent) return;
  ApplyDueRangeSteps(*this);
  // The whole front end, as the step does: a block record taken with the DC-level DACs and
  // gain trims of another range (or of none, right after bring-up) would read wrong.
  if (SettingsDirty) {
    ReprogramFrontEnd(*this);
    SettingsDirty = false;
  }
  ArmAcquisition();
  WaitOutShortHoldOff();
  BlockRunning = true;
}

// The block-mode polls pass the hold-off on: a host that only polls ends it as time goes by.
bool TVMx16::IsBlockRunning() {
  EndHoldOffWhenDue();
  return BlockRunning;
}

// The board offers no way to abandon a started record; it completes and waits to be fetched.
void TVMx16::AbortBlockAcquisition() {}

void TVMx16::ForceBlockTrigger() {
  RequestForcedTrigger();
}

std::uint16_t TVMx16::BlockTriggerStatus() {
  return TriggerStatus();
}

std::uint16_t TVMx16::BlockRecordReady() {
  return RecordReady() ? 1 : 0;
}

void TVMx16::FetchBlockRecord() {
  if (!HardwarePresent) return;
  ReadRecord();
  BlockRunning = false;
}

void TVMx16::StartTimer() {
  AcquisitionTimer->SetEnabled(true);
  Armed = false;
}

void TVMx16::StopTimer() {
  AcquisitionTimer->SetEnabled(false);
}

void TVMx16::SetAcquisitionMode(TAcquisitionMode mode) {
  if (mode == amAcquisitionMode) return;
  amAcquisitionMode = mode;
}

void TVMx16::SetEnableMeasurements(bool enable) {
  if (enable == bEnableMeasurements) return;
  bEnableMeasurements = enable;
  if (enable) {
    StartTimer();
  } else {
    StopTimer();
  }
}

}  // namespace vm316
