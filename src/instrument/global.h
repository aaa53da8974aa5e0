// The enumerations shared by the instrument and its interface, each stored in one byte.
#pragma once

#include <cstdint>

namespace vm316 {

enum TTrigSource : std::uint8_t {
  tsCh1,
  tsCh2,
  tsCh3,
  tsCh4,
  tsExternal,
  tsAnaExt,
  tsAnd,
  tsOr,
  tsXor,
  tsNoTrig,
  tsNeverTrig,
  tsPxiExt,
  tsGenStart,
  tsGenStop,
  tsGenNew,
  tsUnknown,
};

// A channel bit set (bit 0 = channel 1 ... bit 3 = channel 4), and mXY.
enum TMeasureMode : std::uint8_t {
  mNone,
  mCh1,
  mCh2,
  mCh12,
  mCh3,
  mCh13,
  mCh23,
  mCh123,
  mCh4,
  mCh14,
  mCh24,
  mCh124,
  mCh34,
  mCh134,
  mCh234,
  mCh1234,
  mXY,
};

enum TAcquisitionMode : std::uint8_t { amContinuous, amHold, amOneShot };

enum TTransferMode : std::uint8_t { tmBlock, tmStream };

// Trigger slopes (TriggerSlope values); the comparators of both units take channel 1's.
inline constexpr std::uint8_t SlopeRising = 0;
inline constexpr std::uint8_t SlopeFalling = 1;

}  // namespace vm316
