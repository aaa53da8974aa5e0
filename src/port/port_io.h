// Byte-wide port access: the two primitives, the port set computed from the base address, the
// register-write convention (number to the unit's index port, then data to its data port), the
// millisecond wait and the port-driver check.
#pragma once

#include <array>
#include <cstdint>

#include "platform/port_backend.h"
#include "port/registers.h"

namespace vm316::port {

// The ports of one base address; offsets are added with 16-bit wrap-around.
struct PortSet {
  std::array<std::uint16_t, kUnitCount> index{};  // per unit
  std::array<std::uint16_t, kUnitCount> data{};   // per unit
  std::array<std::uint16_t, 7> read{};            // base+0 .. base+6

  static PortSet FromBase(std::uint16_t base);
};

class PortIo {
 public:
  explicit PortIo(platform::PortBackend* backend = nullptr) : backend_(backend) {}

  void Attach(platform::PortBackend* backend) { backend_ = backend; }
  platform::PortBackend* Backend() const { return backend_; }

  // Exactly one output or input each; no delay, no read-back, no retry.
  void WritePort(std::uint16_t port, std::uint8_t value) { backend_->Out(port, value); }
  std::uint8_t ReadPort(std::uint16_t port) { return backend_->In(port); }

  void SetPorts(const PortSet& ports) { ports_ = ports; }
  const PortSet& Ports() const { return ports_; }

  // Register r of a unit := value: r to the unit's index port, then value to its data port.
  void WriteRegister(Unit unit, std::uint8_t reg, std::uint8_t value) {
    WritePort(ports_.index[unit], reg);
    WritePort(ports_.data[unit], value);
  }
  // Further bytes to the register that is still selected.
  void WriteData(Unit unit, std::uint8_t value) { WritePort(ports_.data[unit], value); }
  // A read port by its offset from the base (kStatusPort, kCh1SamplePort, ...).
  std::uint8_t Read(std::uint16_t offset) { return ReadPort(ports_.read[offset]); }

 private:
  platform::PortBackend* backend_;
  PortSet ports_{};
};

// The high byte of the sample-address counter at 0xFF is what a floating bus reads: the board
// has gone (pulled from the slot, cable off). The board's own counter never reads so, since its
// top bit is no address bit and reads 0.
constexpr bool CounterFloats(std::uint8_t counter_high) {
  return counter_high == platform::kFloatingBus;
}

// True when the eight ports of a board at `base` lie in the I/O space without wrapping past
// 0xFFFF. A base beyond that would put the upper ports of the set at the bottom of the space
// (the PC's DMA controller), so on real ports no board is looked for there.
constexpr bool BaseFitsPortSpace(std::uint32_t base) {
  return base + kPortCount - 1 <= 0xFFFF;
}

// Returns once ms milliseconds have passed on the tick counter (modulo 2^32) and in real time
// on the fine clock, whatever the counter's step; sleeps meanwhile.
void DelayMs(std::int32_t ms);

// The single place that decides whether port I/O may be used. Shows the system's port-access
// message when the system refuses access.
bool CheckPortDriver(platform::PortBackend& backend);

}  // namespace vm316::port
