#include "instrument/frontend.h"

namespace vm316 {
namespace {

// Relay-word bits per range. Channel 1: 0x800 / 0x400 / 0x80000 pick the ÷1 / ÷10 / ÷100
// attenuator, 0x4 the ×10 gain, 0x200 / 0x1 / 0x2 the 0.2 / 0.4 / 0.8 V stage. Channel 2:
// 0x4000 / 0x8000 / 0x10000, 0x8 and 0x40 / 0x20 / 0x10 likewise; 0x80 routes it to converter 2.
constexpr PerRange<std::uint32_t> kRangeBitsCh1 = {
    0, 0xA04, 0x805, 0x806, 0xA00, 0x801, 0x802, 0x600, 0x401, 0x402, 0x80200, 0x80001, 0x80002};
constexpr PerRange<std::uint32_t> kRangeBitsCh2 = {0,       0x40C8,  0x40A8, 0x4098, 0x40C0,
                                                   0x40A0,  0x4090,  0x80C0, 0x80A0, 0x8090,
                                                   0x100C0, 0x100A0, 0x10090};

// The ranges the searches tune; the higher ranges reuse their stages.
constexpr int kSubstitutedRanges = 6;

// Channel 1 with 0x40000 in place of its ÷1 attenuator: the stage sees channel 2's DC-level
// DAC through the ÷25 reference divider. Used by both searches.
constexpr PerRange<std::uint32_t> kCalibrationBitsCh1 = {0,       0x40204, 0x40005, 0x40006,
                                                         0x40200, 0x40001, 0x40002};
// Offset search: channel 2 keeps its (grounded) input.
constexpr PerRange<std::uint32_t> kOffsetSearchBitsCh2 = {0,      0x40C8, 0x40A8, 0x4098,
                                                          0x40C0, 0x40A0, 0x4090};
// Gain search: channel 2 without 0x4000 sees channel 1's DC-level DAC through the divider.
constexpr PerRange<std::uint32_t> kGainSearchBitsCh2 = {0, 0xC8, 0xA8, 0x98, 0xC0, 0xA0, 0x90};

void Substitute(const PerRange<std::uint32_t>& ch1, const PerRange<std::uint32_t>& ch2) {
  for (int range = 1; range <= kSubstitutedRanges; ++range) {
    RangeBitsCh1[range] = ch1[range];
    RangeBitsCh2[range] = ch2[range];
  }
}

}  // namespace

PerRange<std::uint32_t> RangeBitsCh1 = kRangeBitsCh1;
PerRange<std::uint32_t> RangeBitsCh2 = kRangeBitsCh2;

void RestoreRelayTables() {
  RangeBitsCh1 = kRangeBitsCh1;
  RangeBitsCh2 = kRangeBitsCh2;
}

void ApplyOffsetSearchSubstitutes() {
  Substitute(kCalibrationBitsCh1, kOffsetSearchBitsCh2);
}

void ApplyGainSearchSubstitutes() {
  Substitute(kCalibrationBitsCh1, kGainSearchBitsCh2);
}

}  // namespace vm316
