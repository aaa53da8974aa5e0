#include <gtest/gtest.h>

#include "board_ports.h"

namespace vm316::sim {
namespace {

using simtest::TestBench;

TEST(FrontEndBus, GainTrimPairFirstToConverter1) {
  TestBench bench;
  EXPECT_EQ(bench.board.GainTrim(1), 127) << "power-on";
  bench.ports.WriteGainTrims(0xA5, 0x3C);
  EXPECT_EQ(bench.board.GainTrim(1), 0xA5);
  EXPECT_EQ(bench.board.GainTrim(2), 0x3C);
  bench.ports.WriteGainTrims(5, 250);
  EXPECT_EQ(bench.board.GainTrim(1), 5);
  EXPECT_EQ(bench.board.GainTrim(2), 250);
}

TEST(FrontEndBus, RelayWordTakenOverOnTheLatch) {
  TestBench bench;
  for (std::uint32_t word : {0x4ACCu, 0xFFFFFu, 0x80002u + 0x10090u + 0x3000u, 0u}) {
    bench.ports.WriteRelayWord(word);
    EXPECT_EQ(bench.board.RelayWord(), word);
  }
  // Bits shifted without the latch, and the other devices' writes, leave the relays alone.
  bench.ports.WriteRelayWord(0x4ACC);
  bench.ports.Out(Board::kCh1IndexPort, Board::kFrontEndBusRegister);
  for (int bit = 0; bit < 20; ++bit) {
    bench.ports.Out(Board::kCh1DataPort, 0x41);
    bench.ports.Out(Board::kCh1DataPort, 0x43);
  }
  bench.ports.Out(Board::kCh1DataPort, 0x40);
  bench.ports.WriteGainTrims(1, 2);
  bench.ports.WriteDcLevelDac(1, 0x123);
  EXPECT_EQ(bench.board.RelayWord(), 0x4ACCu);
}

TEST(FrontEndBus, OnlyRegister3OfUnit1ReachesTheBus) {
  TestBench bench;
  bench.ports.WriteRelayWord(0x4ACC);
  // The same bytes to another register of unit 1, or to register 3 of unit 2, are no bus.
  bench.ports.Out(Board::kCh1IndexPort, Board::kComparatorModeRegister);
  bench.ports.Out(Board::kCh1DataPort, 0x40);
  bench.ports.Out(Board::kCh1DataPort, 0x50);
  bench.ports.Out(Board::kCh2IndexPort, Board::kFrontEndBusRegister);
  bench.ports.Out(Board::kCh2DataPort, 0x40);
  bench.ports.Out(Board::kCh2DataPort, 0x50);
  EXPECT_EQ(bench.board.RelayWord(), 0x4ACCu);
  EXPECT_EQ(bench.board.RecorderUnit().Comparator(1).Mode(), 0x50);
}

TEST(FrontEndBus, DcLevelDacsTakeTwelveBitTwosComplement) {
  TestBench bench;
  const struct {
    double volts;
    std::uint16_t code;
    double out;
  } cases[] = {
      {0.0, 0x000, 0.0},
      {0.00244140625, 0x001, 0.00244140625},
      {-0.00244140625, 0xFFF, -0.00244140625},
      {5.0, 0x7FF, 5.0 * 2047 / 2048},
      {7.0, 0x7FF, 5.0 * 2047 / 2048},
      {-5.0, 0x800, -5.0},
      {-1.0, 0xE66, -410 * 5.0 / 2048},
  };
  for (const auto& c : cases) {
    bench.ports.WriteDcLevelVolts(1, c.volts);
    bench.ports.WriteDcLevelVolts(2, -c.volts);
    EXPECT_EQ(bench.board.DcLevelDacCode(1), c.code) << c.volts;
    EXPECT_EQ(bench.board.DcLevelDacVolts(1), c.out) << c.volts;
  }
  bench.ports.WriteDcLevelVolts(2, 1.25);
  EXPECT_EQ(bench.board.DcLevelDacCode(2), 512);
  EXPECT_EQ(bench.board.DcLevelDacCode(1), 0xE66) << "channel 1 keeps its code";
}

}  // namespace
}  // namespace vm316::sim
