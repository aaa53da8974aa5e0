#include "instrument/frontend.h"

namespace vm316 {
namespace {

// Relay-word bits per range. Channel 1: 0x800 / 0x400 / 0x80000 pick the ÷1 / ÷10 / ÷100
// attenuator, 0x4 the ×10 gain, 0x200 / 0x1 / 0x2 the 0.2 / 0.4 / 0.8 V stage. Channel 2:
// 0x4000 / 0x8000 / 0x10000, 0x8 and 0x40 / 0x20 / 0x10 likewise; 0x80 routes it to converter 2.
constexpr PerRange<std::uint32_t> kRangeBitsCh1 = {
    0, 0xA04, 0x805, 0x806, 0xA00, 0x801, 0x802, 0x600, 0x401, 0x402, 0x80200, 0x80001, 0x80002};
constexpr PerRange<std::uint32_t> kRangeBitsCh2 = {
    0,      0x40C8, 0x40A8, 0x4098, 0x40C0,  0x40A0,  0x4090,
    0x80C0, 0x80A0, 0x8090, 0x100C0, 0x100A0, 0x10090};

}  // namespace

PerRange<std::uint32_t> RangeBitsCh1 = kRangeBitsCh1;
PerRange<std::uint32_t> RangeBitsCh2 = kRangeBitsCh2;

void RestoreRelayTables() {
  RangeBitsCh1 = kRangeBitsCh1;
  RangeBitsCh2 = kRangeBitsCh2;
}

}  // namespace vm316
