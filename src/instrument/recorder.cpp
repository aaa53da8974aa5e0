// The hardware setup writer (ArmAcquisition) and the record readout (ReadRecord), with the
// small register steps around them.
#include "instrument/recorder.h"

#include <algorithm>

#include "instrument/record_timing.h"
#include "instrument/vmx16.h"
#include "platform/clock.h"
#include "platform/fine_clock.h"
#include "platform/port_backend.h"

namespace vm316 {
namespace {

using port::kCh1Unit;
using port::kCh2Unit;
using port::kControlUnit;

std::uint8_t mode_register_shadow = 0;
ComparatorSettings comparator_shadow[3];  // units 1 and 2

// The recorder's clock while the memory is stepped through or idle.
constexpr long double kReadoutClockHz = 20000000.0L;

// The counter stops this many locations after the last sample of a record; two fewer when the
// record was taken at once, without waiting for a trigger.
constexpr std::int32_t kStopLatency = kStopLatencySamples;
constexpr std::int32_t kStopLatencyAtOnce = 5;

// A comparator parked where it cannot fire: on a rising edge it re-arms only once the unit's
// code has been below the re-arm level, and no code is below 0; on a falling edge only once it
// has been above it, and none is above 255. It keeps the edge of its real settings.
constexpr ComparatorSettings kParkedRising{port::kComparatorAnalogRising, 0, 255};
constexpr ComparatorSettings kParkedFalling{port::kComparatorAnalogFalling, 255, 0};

// The post-trigger count register is loaded with this value while the recorder idles.
constexpr std::uint16_t kIdleCount = 32768;

// Sample tests of the range decision: bytes 0..2 and 254..255 clip; a record whose bytes all
// stay within 85..171 would fit the next lower range.
constexpr std::uint16_t kClipHigh = 64768;
constexpr std::uint16_t kClipLow = 768;
constexpr std::uint16_t kSmallLow = 21504;
constexpr std::uint16_t kSmallHigh = 44032;

constexpr std::uint8_t kChannel1Bit = 0x01;
constexpr std::uint8_t kChannel2Bit = 0x02;
constexpr std::uint8_t kBothChannels = kChannel1Bit | kChannel2Bit;

struct SignalTest {
  bool clipped = false;
  bool small_signal = true;
  bool counted = false;

  void Take(std::uint16_t sample) {
    counted = true;
    if (sample > kClipHigh || sample < kClipLow) clipped = true;
    if (sample <= kSmallLow || sample >= kSmallHigh) small_signal = false;
  }
};

// Mode, re-arm level and trigger level into both channel units, in the order the board takes
// them.
void WriteComparators(port::PortIo& io, const ComparatorSettings& unit1,
                      const ComparatorSettings& unit2) {
  for (int unit = 1; unit <= 2; ++unit) {
    const auto u = static_cast<port::Unit>(unit);
    const ComparatorSettings& settings = unit == 1 ? unit1 : unit2;
    io.WriteRegister(u, port::kComparatorModeRegister, settings.mode);
    io.WriteRegister(u, port::kHysteresisLevelRegister, settings.hysteresis_level);
    io.WriteRegister(u, port::kTriggerLevelRegister, settings.trigger_level);
  }
}

bool IsAnalogMode(std::uint8_t mode) {
  return mode == port::kComparatorAnalogRising || mode == port::kComparatorAnalogFalling;
}

const ComparatorSettings& ParkedFor(const ComparatorSettings& real) {
  const bool rising =
      real.mode == port::kComparatorAnalogRising || real.mode == port::kComparatorExternalRising;
  return rising ? kParkedRising : kParkedFalling;
}

void WriteParked(port::PortIo& io, const ComparatorSettings& real1,
                 const ComparatorSettings& real2) {
  WriteComparators(io, ParkedFor(real1), ParkedFor(real2));
}

// The real settings over parked ones, in an order whose every step leaves a comparator that
// cannot fire before its real settings are complete: an analog comparator gets its trigger
// level while it still cannot re-arm, then its re-arm level, and keeps its mode; an external
// one watches the input from its mode on, and its levels do not count.
void WriteUnparked(port::PortIo& io, const ComparatorSettings& real1,
                   const ComparatorSettings& real2) {
  for (int unit = 1; unit <= 2; ++unit) {
    const auto u = static_cast<port::Unit>(unit);
    const ComparatorSettings& real = unit == 1 ? real1 : real2;
    if (IsAnalogMode(real.mode)) {
      io.WriteRegister(u, port::kTriggerLevelRegister, real.trigger_level);
      io.WriteRegister(u, port::kHysteresisLevelRegister, real.hysteresis_level);
      io.WriteRegister(u, port::kComparatorModeRegister, real.mode);
    } else {
      io.WriteRegister(u, port::kComparatorModeRegister, real.mode);
      io.WriteRegister(u, port::kHysteresisLevelRegister, real.hysteresis_level);
      io.WriteRegister(u, port::kTriggerLevelRegister, real.trigger_level);
    }
  }
}

// How many leading locations of a record of `locations`, whose last location lies latency
// locations before the counter's end, the board did not write since the arm at arm_address. It
// wrote the locations from the arm address up to the end; the count is taken modulo the memory
// size, so a recorder that went round the memory may have written more than it says, never
// fewer.
std::int64_t LocationsBeforeTheArm(std::int32_t end, std::uint16_t arm_address,
                                   std::int64_t locations, std::int32_t latency) {
  const std::int64_t written = (end - arm_address) & port::kSampleAddressMask;
  const std::int64_t fresh = std::clamp<std::int64_t>(written - latency + 1, 0, locations);
  return locations - fresh;
}

}  // namespace

std::uint8_t ModeRegisterShadow() {
  return mode_register_shadow;
}

const ComparatorSettings& ComparatorShadow(int unit) {
  return comparator_shadow[unit];
}

void WriteModeRegister(port::PortIo& io, std::uint8_t mode) {
  mode_register_shadow = mode;
  io.WriteRegister(kControlUnit, port::kModeRegister, mode_register_shadow);
}

std::uint8_t TriggerSelectCode(TTrigSource source) {
  switch (source) {
    case tsCh1:
      return port::kTriggerSelectCh1;
    case tsCh2:
    case tsExternal:
      return port::kTriggerSelectCh2OrExternal;
    case tsOr:
      return port::kTriggerSelectOr;
    case tsAnd:
      return port::kTriggerSelectAnd;
    default:
      return port::kTriggerSelectNow;
  }
}

std::uint16_t RecordStartAddress(std::int32_t end, std::int32_t post_samples,
                                 std::int32_t pre_samples, TTrigSource active_source) {
  const std::int32_t latency = active_source == tsNoTrig ? kStopLatencyAtOnce : kStopLatency;
  // 64-bit, so that no geometry can overflow; the memory has kSampleMemorySize locations and
  // its address counter wraps there.
  const std::int64_t start = std::int64_t{end} - post_samples - pre_samples - latency;
  const std::int64_t size = port::kSampleMemorySize;
  return static_cast<std::uint16_t>(((start % size) + size) % size);
}

void TVMx16::WriteCount(std::uint16_t value) {
  if (!PortAccessOk) return;
  Io.WriteRegister(kControlUnit, port::kCountLowRegister, static_cast<std::uint8_t>(value & 0xFF));
  Io.WriteRegister(kControlUnit, port::kCountHighRegister, static_cast<std::uint8_t>(value >> 8));
}

std::int32_t TVMx16::ClampToByte(std::int32_t value) {
  return std::clamp(value, 0, 255);
}

namespace {

// The comparator settings of the present trigger settings, into ComparatorShadow.
void UpdateComparatorShadow(const TVMx16& vm) {
  // Channel 1's slope sets the edge of both units.
  const std::uint8_t slope = vm.TriggerSlope[1];
  const bool external = vm.tsTriggerSource == tsExternal;
  if (slope != SlopeRising && slope != SlopeFalling) return;  // the shadow keeps what it holds
  const bool rising = slope == SlopeRising;
  for (int unit = 1; unit <= 2; ++unit) {
    const std::int32_t level = vm.TriggerLevel[unit];
    const std::int32_t rearm =
        rising ? level - vm.TriggerHysteresis[unit] : level + vm.TriggerHysteresis[unit];
    ComparatorSettings& shadow = comparator_shadow[unit];
    shadow.hysteresis_level = static_cast<std::uint8_t>(TVMx16::ClampToByte(rearm));
    shadow.trigger_level = static_cast<std::uint8_t>(TVMx16::ClampToByte(level));
    if (rising) {
      shadow.mode = external ? port::kComparatorExternalRising : port::kComparatorAnalogRising;
    } else {
      shadow.mode = external ? port::kComparatorExternalFalling : port::kComparatorAnalogFalling;
    }
  }
}

}  // namespace

void TVMx16::ProgramTriggerComparators() {
  if (!PortAccessOk) return;
  UpdateComparatorShadow(*this);
  WriteComparators(Io, comparator_shadow[1], comparator_shadow[2]);
}

// The board takes the first trigger after the arm, and records from the arm on. A trigger that
// came before lPreSamples samples were recorded would leave the head of the record holding
// whatever the memory held, so with a pre-trigger part no trigger may come before it has been
// recorded (the hold-off, timed on the fine clock): a record taken at once counts the
// pre-trigger part into the count register, comparator sources are armed with both comparators
// parked, and a forced trigger waits. EndHoldOffWhenDue ends it; the arming drives wait a short
// one out (WaitOutShortHoldOff). Without a pre-trigger part the arm is the plain one.
void TVMx16::ArmAcquisition() {
  if (!PortAccessOk || !HardwarePresent) return;
  HoldOffRunning = false;
  ForcePending = false;
  ComparatorsParked = false;
  ForceGiven = false;
  const bool hold_off = lPreSamples > 0;
  const auto comparator_source = [this] {
    return TriggerSelectCode(ActiveTriggerSource) != port::kTriggerSelectNow;
  };
  if (hold_off && comparator_source()) {
    UpdateComparatorShadow(*this);
    WriteParked(Io, comparator_shadow[1], comparator_shadow[2]);
    ComparatorsParked = true;
  } else {
    ProgramTriggerComparators();
  }

  long double frequency = ClockFrequency;
  ProgramSampleClock(frequency);
  if (frequency != ClockFrequency) {
    ClockFrequency = frequency;
    SettingsDirty = true;
    SettingsChanged();
  }

  // The hardware records this many samples after the trigger, then stops. Taken at once, the
  // first sample is the trigger: the pre-trigger part then comes after it.
  const bool at_once = hold_off && ActiveTriggerSource == tsNoTrig;
  ArmedCount = static_cast<std::uint16_t>(at_once ? lPreSamples + lPostSamples : lPostSamples);
  WriteCount(ArmedCount);

  const bool both_converters_on_ch1 = mMeasureMode == mCh1 && DoubleRate;
  Io.WriteRegister(kCh1Unit, port::kUnitModeRegister,
                   both_converters_on_ch1 ? port::kUnitModeDoubleRate : port::kUnitModeRecord);
  Io.WriteRegister(kCh2Unit, port::kUnitModeRegister, port::kUnitModeRecord);

  Io.WriteRegister(kControlUnit, port::kArmRegister, 0);
  WriteModeRegister(Io, port::kModeStopped);
  // A clock the board could not meet changes the settings, and with them the active source.
  if (hold_off && comparator_source() && !ComparatorsParked) {
    WriteParked(Io, comparator_shadow[1], comparator_shadow[2]);
    ComparatorsParked = true;
  }
  Io.WriteRegister(kControlUnit, port::kTriggerRegister, TriggerSelectCode(ActiveTriggerSource));
  Io.WriteRegister(kControlUnit, port::kArmRegister, 0);
  Io.WriteRegister(kCh1Unit, port::kUnitStepRegister, 0);
  Io.WriteRegister(kCh2Unit, port::kUnitStepRegister, 0);
  WriteModeRegister(Io, port::kModeArmed);
  ArmKnown = true;
  // Read after the write that started recording: the board has been recording at least as
  // long as the clock says.
  ArmTimeUs = platform::FineClockUs();
  TriggerNotBeforeUs = ArmTimeUs;
  if (hold_off) {
    HoldOffRunning = true;
    HoldOffEndUs = ArmTimeUs + HoldOffUs(ClockFrequency, lPreSamples);
  }
}

void TVMx16::WaitOutShortHoldOff() {
  if (!HoldOffRunning || !PortAccessOk) return;
  if (HoldOffEndUs - ArmTimeUs > kLongestArmWaitUs) return;
  platform::WaitFineUntilUs(HoldOffEndUs);
  EndHoldOffWhenDue();
}

void TVMx16::EndHoldOffWhenDue() {
  if (!HoldOffRunning || !PortAccessOk) return;
  const std::uint64_t now = platform::FineClockUs();
  if (now < HoldOffEndUs) return;
  HoldOffRunning = false;
  if (ComparatorsParked) {
    // The board takes comparator settings while armed, from the next sample on; a comparator
    // starts unarmed, so a signal already past the level does not fire at once.
    WriteUnparked(Io, comparator_shadow[1], comparator_shadow[2]);
    ComparatorsParked = false;
    // No trigger came before the real settings, a held force included.
    TriggerNotBeforeUs = now;
  }
  if (ForcePending) {
    ForcePending = false;
    ForceTrigger();
  }
}

void TVMx16::RequestForcedTrigger() {
  EndHoldOffWhenDue();
  if (HoldOffRunning) {
    ForcePending = true;
  } else {
    ForceTrigger();
  }
}

bool TVMx16::BusFloats() {
  if (!PortAccessOk) return false;
  const std::uint8_t high = Io.Read(port::kCounterHighPort);
  const std::uint8_t low = Io.Read(port::kCounterLowPort);
  if (!port::CounterFloats(high) || low != platform::kFloatingBus) return false;
  return Io.Read(port::kStatusPort) == platform::kFloatingBus;
}

void TVMx16::SeekRecordStart(std::uint16_t address) {
  if (!PortAccessOk) return;
  WriteModeRegister(Io, port::kModeStopped);
  WriteCount(address);
  long double frequency = kReadoutClockHz;
  ProgramSampleClock(frequency);
  Io.WriteRegister(kControlUnit, port::kArmRegister, 0);
  Io.WriteRegister(kControlUnit, port::kTriggerRegister, port::kTriggerSelectNow);
  // The address counter now runs until it reaches the loaded address.
  WriteModeRegister(Io, port::kModeSeekLoad);
  WriteModeRegister(Io, port::kModeSeekRun);

  const std::uint32_t t0 = platform::GetTickCount();
  while (true) {
    const std::uint32_t t = platform::GetTickCount();
    if (RecordReady()) break;
    // A seek that does not report in time is given up; the readout then starts wherever the
    // counter stands. Elapsed time modulo 2^32, so that a wrap of the tick counter neither
    // ends nor extends the wait.
    if (static_cast<std::uint32_t>(t - t0) > kLongestSeekMs) break;
  }
  WriteModeRegister(Io, port::kModeStopped);
}

void TVMx16::ResetRecorder() {
  if (!PortAccessOk) return;
  WriteModeRegister(Io, port::kModeStopped);
  WriteCount(kIdleCount);
  Io.WriteRegister(kCh1Unit, port::kUnitModeRegister, port::kUnitModeIdle);
  Io.WriteRegister(kCh2Unit, port::kUnitModeRegister, port::kUnitModeIdle);
  long double frequency = kReadoutClockHz;
  ProgramSampleClock(frequency);
  WriteModeRegister(Io, port::kModeIdleLoad);
  Io.WriteRegister(kControlUnit, port::kArmRegister, 0);
  WriteModeRegister(Io, port::kModeIdle);
}

void TVMx16::ReadRecord() {
  if (!PortAccessOk || !HardwarePresent) return;
  // The double-rate pass keeps both converters, whatever the mask says.
  const std::uint8_t channels = DoubleRate ? kBothChannels : ChannelMask;
  const bool want1 = (channels & kChannel1Bit) != 0;
  const bool want2 = (channels & kChannel2Bit) != 0;

  // The record is read now: nothing may switch the comparators or force a trigger any more.
  HoldOffRunning = false;
  ForcePending = false;
  ComparatorsParked = false;
  const bool arm_known = ArmKnown;
  ArmKnown = false;

  WriteModeRegister(Io, port::kModeStopped);
  const std::uint8_t high = Io.Read(port::kCounterHighPort);
  const std::uint8_t low = Io.Read(port::kCounterLowPort);
  // The counter and the status port at 0xFF is what a floating bus reads: the board has gone
  // (pulled from the slot, cable off). A record of bus noise is no record, and the instrument
  // counts as absent from now on. The counter's top bit is no address bit and reads 0 on the
  // board.
  if (high == platform::kFloatingBus && low == platform::kFloatingBus &&
      Io.Read(port::kStatusPort) == platform::kFloatingBus) {
    HardwarePresent = false;
    return;
  }
  const std::int32_t end = (high * 256 + low) & port::kSampleAddressMask;
  const std::uint16_t start =
      RecordStartAddress(end, lPostSamples, lPreSamples, ActiveTriggerSource);
  SeekRecordStart(start);

  RangeStep[1] = 0;
  RangeStep[2] = 0;
  SignalTest test[3];

  // The buffers hold every record the board can take; a geometry beyond them reads no further.
  const std::int64_t locations = std::int64_t{lPreSamples} + lPostSamples + 1;
  const std::int64_t n = std::clamp<std::int64_t>(locations, 0, kSampleBufferLength);
  // Samples the board did not record since the arm are kept out of the range decision: they
  // are whatever the memory held, not the signal. After an arm of its own the readout knows
  // which locations the board wrote since.
  const std::int32_t latency = ActiveTriggerSource == tsNoTrig ? kStopLatencyAtOnce : kStopLatency;
  const std::int64_t first_tested =
      arm_known ? LocationsBeforeTheArm(end, ArmAddress, n, latency) : 0;
  std::uint16_t* const out1 = OutputBuffer[1].data();
  std::uint16_t* const out2 = OutputBuffer[2].data();
  std::uint16_t* const raw1 = RawBuffer[1].data();
  std::uint16_t* const raw2 = RawBuffer[2].data();
  const std::uint16_t sample1_port = Io.Ports().read[port::kCh1SamplePort];
  const std::uint16_t sample2_port = Io.Ports().read[port::kCh2SamplePort];
  const bool double_rate = DoubleRate;
  for (std::int64_t i = 0; i < n; ++i) {
    // Both converters are read at every location; the byte is the sample's high half.
    const bool tested = i >= first_tested;
    const auto s1 = static_cast<std::uint16_t>(Io.ReadPort(sample1_port) << 8);
    if (double_rate) {
      raw1[i] = s1;
      if (tested) test[1].Take(s1);
    } else if (want1) {
      out1[i] = s1;
      if (tested) test[1].Take(s1);
    }
    const auto s2 = static_cast<std::uint16_t>(Io.ReadPort(sample2_port) << 8);
    if (double_rate) {
      raw2[i] = s2;
      if (tested) test[2].Take(s2);
    } else if (want2) {
      out2[i] = s2;
      if (tested) test[2].Take(s2);
    }
    Io.WriteRegister(kControlUnit, port::kStepRegister, 0);
  }

  Io.WriteRegister(kCh1Unit, port::kUnitStepRegister, 0);
  Io.WriteRegister(kCh2Unit, port::kUnitStepRegister, 0);
  ResetRecorder();
  // A board pulled during the seek or the readout leaves a record of bus noise: the bus is
  // looked at again after it, so that such a record is never taken for one.
  if (BusFloats()) {
    HardwarePresent = false;
    return;
  }

  if (double_rate) {
    // The converters' records stay apart: converter 1 in channel 1, converter 2 in channel 2.
    // Every location read is copied: the gain search reads 701 of them into a 512-sample
    // record and sums samples 501..600, which a copy of the record length alone would leave
    // stale.
    std::copy_n(raw1, n, out1);
    std::copy_n(raw2, n, out2);
  }

  for (int channel = 1; channel <= 2; ++channel) {
    const std::uint8_t bit = channel == 1 ? kChannel1Bit : kChannel2Bit;
    if ((channels & bit) == 0 || !test[channel].counted) continue;
    if (test[channel].small_signal && RangeIndex[channel] > 1) RangeStep[channel] = -1;
    if (test[channel].clipped && RangeIndex[channel] < RangeCount) RangeStep[channel] = +1;
  }
}

// Every look at the status port passes the hold-off on, whichever drive looks.
bool TVMx16::RecordReady() {
  if (!PortAccessOk) return false;
  EndHoldOffWhenDue();
  return (Io.Read(port::kStatusPort) & port::kStatusRecordReady) != 0;
}

std::uint16_t TVMx16::TriggerStatus() {
  if (!PortAccessOk) return 0;
  EndHoldOffWhenDue();
  std::uint8_t mask = port::kStatusTriggerUnit1;
  if (tsTriggerSource == tsCh2) {
    mask = port::kStatusTriggerUnit2;
  } else if (tsTriggerSource == tsExternal || tsTriggerSource == tsAnd || tsTriggerSource == tsOr) {
    mask = port::kStatusTriggerUnit1 | port::kStatusTriggerUnit2;
  }
  return static_cast<std::uint16_t>(Io.Read(port::kStatusPort) & mask);
}

void TVMx16::ForceTrigger() {
  if (!PortAccessOk) return;
  Io.WriteRegister(kControlUnit, port::kTriggerRegister, port::kTriggerSelectNow);
  ForceGiven = true;
}

}  // namespace vm316
