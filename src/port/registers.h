// The board's register map: eight consecutive ports at the base address, three register units
// (the control unit and one unit per channel), and the registers of each unit.
#pragma once

#include <cstdint>

namespace vm316::port {

// Offsets of the eight ports from the base address.
inline constexpr std::uint16_t kControlIndexPort = 0;  // write
inline constexpr std::uint16_t kCounterLowPort = 0;    // read
inline constexpr std::uint16_t kControlDataPort = 1;   // write
inline constexpr std::uint16_t kCounterHighPort = 1;   // read
inline constexpr std::uint16_t kStatusPort = 2;        // read
inline constexpr std::uint16_t kCh1IndexPort = 4;      // write
inline constexpr std::uint16_t kCh1SamplePort = 4;     // read
inline constexpr std::uint16_t kCh1DataPort = 5;       // write; the front-end bus in register 3
inline constexpr std::uint16_t kCh2IndexPort = 6;      // write
inline constexpr std::uint16_t kCh2SamplePort = 6;     // read
inline constexpr std::uint16_t kCh2DataPort = 7;       // write
inline constexpr std::uint16_t kPortCount = 8;

// StatusPort bits.
inline constexpr std::uint8_t kStatusRecordReady = 0x01;  // record complete, or seek reached
inline constexpr std::uint8_t kStatusTriggerUnit1 = 0x02;
inline constexpr std::uint8_t kStatusTriggerUnit2 = 0x04;

// Register units: a unit number selects its index and data port.
enum Unit : std::uint8_t { kControlUnit = 0, kCh1Unit = 1, kCh2Unit = 2 };
inline constexpr int kUnitCount = 3;

// Control-unit registers.
inline constexpr std::uint8_t kCountLowRegister = 0;
inline constexpr std::uint8_t kCountHighRegister = 1;
inline constexpr std::uint8_t kTimerSelectRegister = 2;
inline constexpr std::uint8_t kModeRegister = 3;
inline constexpr std::uint8_t kArmRegister = 4;
inline constexpr std::uint8_t kStepRegister = 5;
inline constexpr std::uint8_t kTimerDataRegister = 6;
inline constexpr std::uint8_t kTriggerRegister = 7;

// Channel-unit registers.
inline constexpr std::uint8_t kHysteresisLevelRegister = 0;
inline constexpr std::uint8_t kTriggerLevelRegister = 1;
inline constexpr std::uint8_t kComparatorModeRegister = 2;
inline constexpr std::uint8_t kFrontEndBusRegister = 3;  // channel-1 unit only
inline constexpr std::uint8_t kUnitModeRegister = 4;
inline constexpr std::uint8_t kUnitStepRegister = 5;

// Recorder states written to ModeRegister.
inline constexpr std::uint8_t kModeStopped = 0;
inline constexpr std::uint8_t kModeSeekLoad = 2;
inline constexpr std::uint8_t kModeSeekRun = 3;
inline constexpr std::uint8_t kModeIdleLoad = 6;
inline constexpr std::uint8_t kModeIdle = 7;
inline constexpr std::uint8_t kModeArmed = 15;

// UnitModeRegister values.
inline constexpr std::uint8_t kUnitModeRecord = 0;
inline constexpr std::uint8_t kUnitModeIdle = 1;
inline constexpr std::uint8_t kUnitModeDoubleRate = 2;  // unit 1 only

// TriggerRegister select codes.
inline constexpr std::uint8_t kTriggerSelectCh1 = 0;
inline constexpr std::uint8_t kTriggerSelectCh2OrExternal = 1;
inline constexpr std::uint8_t kTriggerSelectNow = 2;  // also forces a waiting trigger
inline constexpr std::uint8_t kTriggerSelectOr = 3;
inline constexpr std::uint8_t kTriggerSelectAnd = 4;

// ComparatorModeRegister values.
inline constexpr std::uint8_t kComparatorExternalFalling = 0;
inline constexpr std::uint8_t kComparatorExternalRising = 1;
inline constexpr std::uint8_t kComparatorAnalogRising = 5;
inline constexpr std::uint8_t kComparatorAnalogFalling = 6;

// The sample memory: 15-bit addresses.
inline constexpr std::uint16_t kSampleMemorySize = 32768;
inline constexpr std::uint16_t kSampleAddressMask = 0x7FFF;

}  // namespace vm316::port
