// The three writes on the front-end serial bus: gain trims, relay word, DC-level DAC.
#include "instrument/frontend.h"

#include <span>

#include "instrument/frontend_bus.h"
#include "instrument/rounding.h"
#include "port/port_io.h"

namespace vm316 {
namespace {

// Selecting FrontEndBusRegister on the channel-1 unit turns its data port into the bus; each
// byte after that sets the bus lines.
void SendOnBus(port::PortIo& io, std::span<const std::uint8_t> bytes) {
  io.WritePort(io.Ports().index[port::kCh1Unit], port::kFrontEndBusRegister);
  for (const std::uint8_t byte : bytes) io.WriteData(port::kCh1Unit, byte);
}

// A range index outside the tables (never set by the range rules) selects no relays rather
// than reading past the table.
std::uint32_t RelayBits(const PerRange<std::uint32_t>& table, std::uint16_t range_index) {
  return range_index < table.size() ? table[range_index] : 0;
}

}  // namespace

std::uint16_t DcLevelDacCode(long double volts) {
  using namespace frontend_bus;
  long double code = volts / kDcDacFullScaleVolts * kDcDacHalfCode + kDcDacHalfCode;
  if (code > kDcDacMaxCode) {
    code = kDcDacMaxCode;
  } else if (code < 0) {
    code = 0;
  }
  const auto offset_binary = RoundTo<std::uint16_t>(code);
  return static_cast<std::uint16_t>(offset_binary ^ kDcDacSignFlip);
}

void TVMx16::WriteGainTrims(std::int32_t first, std::int32_t second) {
  if (!PortAccessOk) return;
  // Each trim DAC takes 8 bits; higher bits of the table value are not sent.
  SendOnBus(Io, frontend_bus::GainTrimSequence(static_cast<std::uint8_t>(first & 0xFF),
                                               static_cast<std::uint8_t>(second & 0xFF)));
}

void TVMx16::WriteRelayWord() {
  if (!PortAccessOk) return;
  std::uint32_t word =
      RelayBits(RangeBitsCh1, RangeIndex[1]) + RelayBits(RangeBitsCh2, RangeIndex[2]);
  if (mMeasureMode == mCh1 && DoubleRate) {
    word = word + kRelayCh1ToConverter2 - kRelayCh2ToConverter2;
  }
  if (Coupling[1] == 1) word += kRelayCouplingCh1;
  if (Coupling[2] == 1) word += kRelayCouplingCh2;
  SendOnBus(Io, frontend_bus::RelayWordSequence(word));
  port::DelayMs(kRelaySettleMs);
}

void TVMx16::WriteDcLevelDac(int channel, long double volts) {
  if (!PortAccessOk) return;
  const std::uint8_t select =
      channel == 1 ? frontend_bus::kDcDacSelectCh1 : frontend_bus::kDcDacSelectCh2;
  SendOnBus(Io, frontend_bus::DcLevelDacSequence(select, DcLevelDacCode(volts)));
}

}  // namespace vm316
