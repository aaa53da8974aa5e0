// The analog input settings of each channel: range, coupling, DC level and automatic ranging,
// and the instrument-wide measure mode and reported resolution.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "instrument/vmx16.h"

namespace vm316 {

namespace {

// ChannelMask: the channels the readout handles.
constexpr std::uint8_t kMaskChannel1 = 0x01;
constexpr std::uint8_t kMaskChannel2 = 0x02;

// The DC-level limit applies to the two channels the board has.
constexpr bool HasDcLevelLimit(int channel) {
  return channel == 1 || channel == 2;
}

// A host passes sensitivities as doubles and the table holds extended values that a double
// cannot represent exactly (0.02 .. 0.8 V), so "the same range" is judged at double precision.
bool SameAtDoublePrecision(long double a, long double b) {
  return static_cast<double>(a) == static_cast<double>(b);
}

}  // namespace

void TVMx16::SelectRange(int channel, long double volts) {
  if (!IsChannelSlot(channel)) return;
  if (SameAtDoublePrecision(volts, ChannelSensitivity(channel))) return;

  // Far above the table the distances lose their precision (1e308 - 80 equals 1e308 - 0.02 in
  // extended precision), which would pick the most sensitive range; the nearest entry to such a
  // request is the largest.
  long double largest = 0;
  for (std::uint16_t i = 1; i <= kRangeCount; ++i) largest = std::max(largest, Sensitivities[i]);
  if (volts > largest) volts = largest;

  // Nearest table entry; the comparison is strict, so of two equally near ranges the lower
  // one wins (3 V gives 2 V, not 4 V).
  long double best = std::fabs(volts - Sensitivities[1]);
  std::uint16_t index = 1;
  for (std::uint16_t i = 1; i <= kRangeCount; ++i) {
    const long double distance = std::fabs(volts - Sensitivities[i]);
    if (best > distance && Sensitivities[i] != 0) {
      best = distance;
      index = i;
    }
  }

  RangeIndex[channel] = index;
  DcLevelLimit[channel] = DcLevelLimits[index];
  ClampDcLevel(channel);
  SettingsChanged();  // also when the nearest range is the one selected before
}

void TVMx16::ClampRangeIndex(std::uint16_t& range_index) const {
  if (range_index == 0) {
    range_index = 1;
  } else if (range_index > RangeCount) {
    range_index = static_cast<std::uint16_t>(RangeCount);
  }
}

void TVMx16::ClampDcLevel(int channel) {
  if (!HasDcLevelLimit(channel)) return;
  if (DcLevel[channel] < -DcLevelLimit[channel]) {
    DcLevel[channel] = -DcLevelLimit[channel];
  } else if (DcLevel[channel] > DcLevelLimit[channel]) {
    DcLevel[channel] = DcLevelLimit[channel];
  }
}

void TVMx16::SetCoupling(int channel, std::uint8_t coupling) {
  if (!IsChannelSlot(channel) || coupling == Coupling[channel]) return;
  Coupling[channel] = coupling;
  SettingsChanged();
}

std::uint8_t TVMx16::GetCoupling(int channel) const {
  return IsChannelSlot(channel) ? Coupling[channel] : 0;
}

void TVMx16::SetDcLevel(int channel, long double volts) {
  if (!IsChannelSlot(channel) || volts == DcLevel[channel]) return;
  DcLevel[channel] = volts;
  ClampDcLevel(channel);
  SettingsChanged();
}

long double TVMx16::GetDcLevel(int channel) const {
  return IsChannelSlot(channel) ? DcLevel[channel] : 0.0L;
}

void TVMx16::SetAutoRanging(int channel, bool on) {
  // A flag the sequencer consults at the next arm; the front end is not affected.
  if (IsChannelSlot(channel)) AutoRanging[channel] = on;
}

bool TVMx16::GetAutoRanging(int channel) const {
  return IsChannelSlot(channel) && AutoRanging[channel];
}

void TVMx16::SetMeasureMode(TMeasureMode mode) {
  if (mode == mMeasureMode) return;
  mMeasureMode = mode;
  switch (mode) {
    case mNone:
      ChannelMask = 0;
      break;
    case mCh1:
      ChannelMask = kMaskChannel1;
      break;
    case mCh2:
      ChannelMask = kMaskChannel2;
      break;
    case mCh12:
    case mXY:
      ChannelMask = kMaskChannel1 | kMaskChannel2;
      break;
    default:  // modes naming channels 3 and 4 leave the readout's channels as they are
      break;
  }
  // Both converters can record channel 1 only while channel 2 is not wanted.
  if (mode == mCh2 || mode == mCh12 || mode == mXY) DoubleRate = false;
}

std::uint16_t TVMx16::ResolutionEntry(int i) const {
  if (i < 0 || i >= ResolutionCount || i >= kResolutionSlots) return 0;
  return Resolutions[static_cast<std::size_t>(i)];
}

void TVMx16::SetResolution() {
  // The list offers 12 bits; whatever is chosen, the converters deliver 8.
  Resolution = kResolutionBits;
}

}  // namespace vm316
