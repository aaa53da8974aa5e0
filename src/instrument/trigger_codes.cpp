#include "instrument/trigger_codes.h"

#include <cmath>

#include "instrument/rounding.h"
#include "instrument/vmx16.h"

namespace vm316 {

namespace {

// Slope values beyond those a model may offer: 7..11 are known but never offered, 12 and
// above are no slope at all.
constexpr std::uint8_t kFirstUnofferedSlope = 7;
constexpr std::uint8_t kFirstInvalidSlope = 12;

// Slopes that further models of the family offer; this one carries them as numbers only.
constexpr std::uint8_t kSlopeMode2 = 2;
constexpr std::uint8_t kSlopeMode3 = 3;
constexpr std::uint8_t kSlopeMode4 = 4;

Admission OfferedIf(bool capability) {
  return capability ? Admission::kOk : Admission::kNotSupported;
}

// Volts as codes of the comparator scale, before the zero code is added.
long double ScaledCode(double volts, long double sensitivity) {
  return RoundHalfEven(volts / sensitivity * kTriggerCodeScale);
}

}  // namespace

bool LevelAdmitted(double volts, long double sensitivity) {
  const double s = static_cast<double>(sensitivity);
  return -s <= volts && volts <= s;  // a level that is no number is refused
}

std::int32_t LevelToCode(double volts, long double sensitivity) {
  const long double code = ScaledCode(volts, sensitivity) + kTriggerZeroCode;
  if (!(code >= 0)) return 0;
  if (code >= kMaxLevelCode) return kMaxLevelCode;
  return static_cast<std::int32_t>(code);
}

long double CodeToLevel(std::int32_t code, long double sensitivity) {
  return (static_cast<long double>(code) - kTriggerZeroCode) * sensitivity / kTriggerCodeScale;
}

std::int32_t HysteresisToCode(double volts, long double sensitivity) {
  // The comparator takes the count as a 16-bit unsigned value, in which every negative count
  // lies at or above the largest code. Any negative count, and any that is no number, is
  // therefore the largest code: a 16-bit wrap of very large negative counts would otherwise
  // land back inside the scale.
  const long double code = ScaledCode(volts, sensitivity);
  if (!(code >= 0) || code >= kMaxHysteresisCode) return kMaxHysteresisCode;
  return static_cast<std::int32_t>(code);
}

long double CodeToHysteresis(std::int32_t code, long double sensitivity) {
  return sensitivity * code / kTriggerCodeScale;
}

bool HysteresisAdmitted(std::uint8_t slope, long double level_volts, double hysteresis,
                        long double sensitivity) {
  // Judged at double precision, the precision of the host's request: on the 0.8 V range a
  // level of 0 V with a hysteresis of exactly 0.8 V stays within the range.
  const double level = static_cast<double>(level_volts);
  const double s = static_cast<double>(sensitivity);
  const bool low_threshold_in_range = level - hysteresis >= -s;
  switch (slope) {
    case SlopeRising:
      return low_threshold_in_range;
    case SlopeFalling:
      return level + hysteresis <= s;
    case kSlopeMode2:
    case kSlopeMode3:
      return low_threshold_in_range || hysteresis >= 0;
    default:
      return false;
  }
}

bool DcLevelAdmitted(double volts, long double sensitivity) {
  const double limit = 2 * static_cast<double>(sensitivity);
  return -limit <= volts && volts <= limit;  // a level that is no number is refused
}

Admission TriggerSourceAdmission(const TVMx16& vm, std::uint8_t source) {
  switch (source) {
    case tsCh1:
    case tsNoTrig:
      return Admission::kOk;
    case tsCh2:
      return OfferedIf(vm.ChannelCount > 1);
    case tsCh3:
      return OfferedIf(vm.ChannelCount > 2);
    case tsCh4:
      return OfferedIf(vm.ChannelCount > 3);
    case tsExternal:
      return OfferedIf(vm.HasExternalTrigger);
    case tsAnaExt:
      return OfferedIf(vm.HasAnalogExternalTrigger);
    case tsAnd:
    case tsOr:
      return OfferedIf(vm.HasAndOrTrigger);
    case tsXor:
      return OfferedIf(vm.HasXorTrigger);
    case tsNeverTrig:
      return Admission::kNotSupported;
    case tsPxiExt:
      return OfferedIf(vm.HasPxiTrigger);
    case tsGenStart:
    case tsGenStop:
    case tsGenNew:
      return OfferedIf(vm.HasGeneratorTrigger);
    default:  // tsUnknown and beyond
      return Admission::kInvalidValue;
  }
}

Admission TriggerSlopeAdmission(const TVMx16& vm, std::uint8_t slope) {
  if (slope >= kFirstInvalidSlope) return Admission::kInvalidValue;
  if (slope >= kFirstUnofferedSlope) return Admission::kNotSupported;
  switch (slope) {
    case SlopeRising:
    case SlopeFalling:
      return Admission::kOk;
    case kSlopeMode2:
    case kSlopeMode3:
      return OfferedIf(vm.HasTriggerModes2And3);
    case kSlopeMode4:
      return OfferedIf(vm.HasTriggerMode4);
    default:  // 5 and 6
      return OfferedIf(vm.HasTriggerModes5And6);
  }
}

}  // namespace vm316
