// Constants of the two-channel, 8-bit, 20 MHz model (model code 3).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vm316 {

inline constexpr std::uint8_t kModelCode = 3;
inline constexpr std::int16_t kChannelCount = 2;
inline constexpr int kChannelSlots = 5;  // channels 1..4; slot 0 is the external trigger input
inline constexpr int kRangeCount = 12;
inline constexpr int kRangeSlots = kRangeCount + 1;  // range indices 1..12
inline constexpr int kCalibrationRows = 3;           // 1 ch1, 2 ch2, 3 ch1 through converter 2
inline constexpr std::int32_t kMaxRecordLength = 32760;
inline constexpr long double kMaxSampleFrequency = 20000000.0L;
inline constexpr std::int32_t kResolutionBits = 8;
inline constexpr int kResolutionSlots = 10;
inline constexpr std::uint16_t kOfferedResolution = 12;

// Full scale in volts of each range index, and the largest DC level of each.
inline constexpr long double kSensitivities[kRangeSlots] = {
    0.0L, 0.02L, 0.04L, 0.08L, 0.2L, 0.4L, 0.8L, 2.0L, 4.0L, 8.0L, 20.0L, 40.0L, 80.0L};
inline constexpr long double kDcLevelLimits[kRangeSlots] = {
    0.0L, 0.08L, 0.2L, 0.4L, 0.8L, 2.0L, 4.0L, 8.0L, 20.0L, 40.0L, 80.0L, 200.0L, 400.0L};

inline constexpr std::uint16_t kDefaultRangeIndex = 6;  // 0.8 V
inline constexpr std::int32_t kDefaultTriggerLevel = 127;
inline constexpr std::int32_t kDefaultTriggerHysteresis = 10;
inline constexpr long double kDefaultOffsetDacBase = -1.0L;

// Neutral calibration values and the valid gain-trim band.
inline constexpr std::int32_t kNeutralGainTrim = 127;
inline constexpr std::int32_t kMinGainTrim = 5;
inline constexpr std::int32_t kMaxGainTrim = 250;

// Sample buffers: allocated once, large enough for every record the board can hold.
inline constexpr std::size_t kSampleBufferLength = 132001;

// The sample-address counter after an arm, three locations below the top of the memory; the
// detection handshake confirms it for each board.
inline constexpr std::uint16_t kDefaultArmAddress = 0x7FFD;

// The acquisition timer's interval.
inline constexpr std::uint32_t kAcquisitionTimerIntervalMs = 6;

// The text every Cursor, Hint and Tag property reads.
inline constexpr const char* kNotApplicable = "nvt";

}  // namespace vm316
