// Volts <-> comparator codes and the admission rules for trigger and DC-level requests.
// One place for these rules: the instrument's trigger settings and the exports that accept
// volts from a host both use them, so a value admitted by one is admitted by the other.
//
// The comparator code of a level is 127 at 0 V and moves 128 codes per sensitivity; the
// hysteresis code is 128 codes per sensitivity from 0. Host values arrive as 64-bit doubles
// while settings are kept in 80-bit long doubles, so the admission comparisons are made at
// double precision: on the 0.8 V range a level of exactly 0.8 V (a double) is admitted.
#pragma once

#include <cstdint>

namespace vm316 {

class TVMx16;

enum class Admission : std::uint8_t { kOk, kNotSupported, kInvalidValue };

inline constexpr std::int32_t kTriggerCodeScale = 128, kTriggerZeroCode = 127, kMaxLevelCode = 256,
                              kMaxHysteresisCode = 256;

// -s <= V <= s, at double precision.
bool LevelAdmitted(double volts, long double sensitivity);
std::int32_t LevelToCode(double volts, long double sensitivity);
long double CodeToLevel(std::int32_t code, long double sensitivity);
std::int32_t HysteresisToCode(double volts, long double sensitivity);
long double CodeToHysteresis(std::int32_t code, long double sensitivity);
bool HysteresisAdmitted(std::uint8_t slope, long double level_volts, double hysteresis,
                        long double sensitivity);
// |V| <= 2 s, at double precision.
bool DcLevelAdmitted(double volts, long double sensitivity);
Admission TriggerSourceAdmission(const TVMx16& vm, std::uint8_t source);
Admission TriggerSlopeAdmission(const TVMx16& vm, std::uint8_t slope);

}  // namespace vm316
