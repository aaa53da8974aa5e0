// The two self-calibration loops. Both take records of the board's own references through the
// calibration substitutes of the relay tables and nudge one table entry per record until the
// record's sum lands in its band. They run inside the bring-up, with settings notifications
// suspended; the readout honours Calibrating through DoubleRate and ChannelMask.
#include "instrument/frontend.h"
#include "instrument/rounding.h"
#include "instrument/vmx16.h"
#include "platform/clock.h"

namespace vm316 {
namespace {

// The searches tune ranges 1..6; ranges 7..12 use the same stages behind the ÷10 and ÷100
// attenuators and take copies: 7..9 and 10..12 from 4, 5, 6.
constexpr int kTunedRanges = 6;
constexpr int kCopiedFrom[kRangeSlots] = {0, 0, 0, 0, 0, 0, 0, 4, 5, 6, 4, 5, 6};

constexpr long double kCalibrationSampleHz = 4000000.0L;
constexpr std::uint32_t kRecordWaitMs = 20;

// Offset search: with the DAC base moved to -0.078125 V a grounded stage reads code 10, so the
// 50 samples 1..50 sum to 500 +- 10. One DAC step per record; a budget shared by a channel's six
// ranges.
constexpr long double kOffsetSearchDacBase = -0.078125L;
constexpr std::int32_t kOffsetPostSamples = 55;
constexpr int kOffsetFirstSample = 1;
constexpr int kOffsetLastSample = 50;
constexpr std::int32_t kOffsetSumLow = 490;
constexpr std::int32_t kOffsetSumHigh = 510;
constexpr double kOffsetStep = 0.00244140625;  // one DC-level DAC step: 5/2048 V
constexpr long double kOffsetBudget = 409.6L;

// Gain search: the reference, 25 times 125/128 of full scale before the ÷25 divider, reads code
// 253; the DAC cannot give more than 4.96093 V, so the two highest ranges get less. 100 samples
// 501..600 are summed; one trim code per record.
constexpr long double kReferenceFraction = 0.9765625L;
constexpr long double kReferenceDivider = 25.0L;
constexpr long double kMaxReferenceVolts = 4.96093L;
constexpr long double kCodesPerVoltAtFullScale = 5.12L;
constexpr long double kMidCode = 128.0L;
constexpr long double kGainSamples = 100.0L;
constexpr std::int32_t kGainPostSamples = 700;
constexpr int kGainFirstSample = 501;
constexpr int kGainLastSample = 600;
constexpr std::int32_t kGainBand = 16;
constexpr std::int32_t kTrimCeiling = 255;
constexpr std::int32_t kTrimFloor = 1;
constexpr int kGainBudget = 128;
constexpr std::int32_t kTrimSettleMs = 2;

constexpr std::int32_t kMidTriggerLevel = 127;

// Every record of the searches: 4 MHz, taken at once, comparators neutral.
void PrepareRecord(TVMx16& vm, std::int32_t post_samples) {
  vm.SetSampleFrequencyValue(kCalibrationSampleHz);
  vm.SetPostSamples(post_samples);
  vm.SetPreSamples(0);
  for (int channel = 1; channel <= 2; ++channel) {
    vm.TriggerHysteresis[channel] = 0;
    vm.TriggerLevel[channel] = kMidTriggerLevel;
  }
  vm.SetTriggerSlope(1, SlopeRising);
  vm.SetTriggerSource(tsNoTrig);
}

// Arms, waits for the record (a record that never completes is read anyway) and reads the
// channel of interest. False once the board has gone: the readout found the bus floating, or
// it had before; the record is then stale and the search ends.
bool TakeRecord(TVMx16& vm, std::uint8_t channel_mask) {
  if (!vm.HardwarePresent) return false;
  vm.ArmAcquisition();
  const std::uint32_t t0 = platform::GetTickCount();
  while (!vm.RecordReady()) {
    if (static_cast<std::uint32_t>(platform::GetTickCount() - t0) > kRecordWaitMs) break;
  }
  vm.ChannelMask = channel_mask;
  vm.ReadRecord();
  return vm.HardwarePresent;
}

// The sum of the 8-bit converter codes of samples first..last of a channel's record.
std::int32_t CodeSum(const TVMx16& vm, int channel, int first, int last) {
  std::int32_t sum = 0;
  for (int i = first; i <= last; ++i) sum += vm.OutputBuffer[channel][i] >> 8;
  return sum;
}

void SwitchSquareWaveOff(TVMx16& vm) {
  long double off = 0.0L;
  vm.ProgramSquareWaveClock(off);
}

template <typename T>
void CopyToHigherRanges(PerRange<T>& row) {
  for (int range = kTunedRanges + 1; range <= kRangeCount; ++range) {
    row[range] = row[kCopiedFrom[range]];
  }
}

void OffsetSearchChannel(TVMx16& vm, int channel) {
  int n = 0;
  for (int range = 1; range <= kTunedRanges; ++range) {
    vm.WriteGainTrims(vm.GainTrim[1][range], vm.GainTrim[2][range]);
    vm.SelectRange(1, vm.Sensitivities[range]);
    vm.SelectRange(2, vm.Sensitivities[range]);
    vm.WriteRelayWord();
    double& correction = vm.OffsetCorrection[channel][range];
    while (true) {
      ++n;
      // The other channel's DAC feeds the reference of channel 1's opened input: 0 V.
      const long double dac = vm.OffsetDacBase[channel] + correction;
      vm.WriteDcLevelDac(1, channel == 1 ? dac : 0.0L);
      vm.WriteDcLevelDac(2, channel == 2 ? dac : 0.0L);
      PrepareRecord(vm, kOffsetPostSamples);
      if (!TakeRecord(vm, static_cast<std::uint8_t>(channel))) return;
      const std::int32_t sum = CodeSum(vm, channel, kOffsetFirstSample, kOffsetLastSample);
      if (sum > kOffsetSumHigh) {
        correction += kOffsetStep;
      } else if (sum < kOffsetSumLow) {
        correction -= kOffsetStep;
      }
      if ((sum >= kOffsetSumLow && sum <= kOffsetSumHigh) || n > kOffsetBudget) break;
    }
  }
}

long double GainReferenceVolts(long double sensitivity) {
  const long double volts = sensitivity * kReferenceFraction * kReferenceDivider;
  return volts <= kMaxReferenceVolts ? volts : kMaxReferenceVolts;
}

std::int32_t GainTarget(long double sensitivity, long double reference) {
  return RoundToInt32((kCodesPerVoltAtFullScale * reference / sensitivity + kMidCode) *
                      kGainSamples);
}

// One pass of the gain search tunes one calibration row: row 1 channel 1 on converter 1, row 2
// channel 2 on converter 2, row 3 channel 1 on converter 2 (double rate). The setup writer and
// the relay word route channel 1 to converter 2 only in the one-channel measure mode, so the
// row 3 pass runs in that mode; in the two-channel mode of the bring-up it would tune converter
// 2 against channel 2's open reference path and always run the trim off its scale.
void GainTrimPass(TVMx16& vm, int row) {
  const bool double_rate = row == 3;
  const TMeasureMode kept_mode = vm.mMeasureMode;
  if (double_rate) vm.mMeasureMode = mCh1;  // stored directly, as the loops store settings
  const int measured = row == 1 ? 1 : 2;    // the channel whose record is summed
  const auto mask = static_cast<std::uint8_t>(measured);
  for (int range = 1; range <= kTunedRanges && vm.HardwarePresent; ++range) {
    const long double sensitivity = vm.Sensitivities[range];
    const long double reference = GainReferenceVolts(sensitivity);
    const std::int32_t target = GainTarget(sensitivity, reference);
    // The tuned channel keeps its offset; the other channel's DAC drives its reference.
    if (row == 2) {
      vm.WriteDcLevelDac(1, reference);
      vm.WriteDcLevelDac(2, vm.OffsetDacBase[2] + vm.OffsetCorrection[2][range]);
    } else {
      vm.WriteDcLevelDac(1, vm.OffsetDacBase[1] + vm.OffsetCorrection[1][range]);
      vm.WriteDcLevelDac(2, reference);
    }
    vm.SetSampleFrequencyValue(kCalibrationSampleHz);
    vm.RangeIndex[1] = static_cast<std::uint16_t>(range);
    vm.RangeIndex[2] = static_cast<std::uint16_t>(range);
    if (double_rate) vm.DoubleRate = true;
    vm.WriteRelayWord();

    std::int32_t& trim = vm.GainTrim[row][range];
    int n = 0;
    while (true) {
      ++n;
      vm.WriteGainTrims(vm.GainTrim[1][range], double_rate ? trim : vm.GainTrim[2][range]);
      port::DelayMs(kTrimSettleMs);
      PrepareRecord(vm, kGainPostSamples);
      // The sample-frequency setter clears the double rate whenever it reprograms.
      if (double_rate) vm.DoubleRate = true;
      if (!TakeRecord(vm, mask)) break;
      const std::int32_t sum = CodeSum(vm, measured, kGainFirstSample, kGainLastSample);
      // The trim DAC lowers the gain as its code rises.
      if (sum > target + kGainBand) {
        ++trim;
      } else if (sum < target - kGainBand) {
        --trim;
      }
      const bool in_band = sum >= target - kGainBand && sum <= target + kGainBand;
      if (in_band || trim >= kTrimCeiling || trim <= kTrimFloor || n > kGainBudget) break;
    }
  }
  if (double_rate) {
    vm.DoubleRate = false;
    vm.mMeasureMode = kept_mode;
  }
}

}  // namespace

void TVMx16::OffsetSearch() {
  SwitchSquareWaveOff(*this);
  const long double kept_base1 = OffsetDacBase[1];
  const long double kept_base2 = OffsetDacBase[2];
  OffsetDacBase[1] = kOffsetSearchDacBase;
  OffsetDacBase[2] = kOffsetSearchDacBase;
  ApplyOffsetSearchSubstitutes();
  Coupling[1] = 1;
  Coupling[2] = 1;
  SetSampleFrequencyValue(kCalibrationSampleHz);

  for (int channel = 1; channel <= 2; ++channel) OffsetSearchChannel(*this, channel);
  for (int channel = 1; channel <= 2; ++channel) CopyToHigherRanges(OffsetCorrection[channel]);

  OffsetDacBase[1] = kept_base1;
  OffsetDacBase[2] = kept_base2;
  ComputePortSet();  // also restores the relay tables
}

void TVMx16::GainTrimSearch() {
  SwitchSquareWaveOff(*this);
  ApplyGainSearchSubstitutes();
  Coupling[1] = 1;
  Coupling[2] = 1;
  SetSampleFrequencyValue(kCalibrationSampleHz);

  for (int row = 1; row <= kCalibrationRows; ++row) GainTrimPass(*this, row);
  for (int row = 1; row <= kCalibrationRows; ++row) CopyToHigherRanges(GainTrim[row]);

  ComputePortSet();  // also restores the relay tables
}

}  // namespace vm316
