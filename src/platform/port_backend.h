// The eight byte-wide I/O ports of the board are reached only through this interface: real port
// I/O on the host, or the simulated board. The instrument code never knows which one it has.
#pragma once

#include <cstdint>

namespace vm316::platform {

// Where the port accesses of a backend end up.
enum class PortReach : std::uint8_t {
  kNowhere,    // no backend could be chosen (the reason was shown): access is never asked for
  kSimulated,  // a model of the board, or a test's stand-in
  kHardware,   // the real I/O space of the machine
};

class PortBackend {
 public:
  virtual ~PortBackend() = default;

  virtual PortReach Reach() const { return PortReach::kSimulated; }

  // Asks the system for user-mode port access (the port-access driver). False when refused.
  virtual bool OpenDriver() = 0;

  // Exactly one byte output or input; no delay, no retry.
  virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
  virtual std::uint8_t In(std::uint16_t port) = 0;

  // From now on another thread makes the accesses: access granted per thread is asked anew.
  virtual void MoveToCallingThread() {}
};

// What a port reads where nothing drives the bus.
inline constexpr std::uint8_t kFloatingBus = 0xFF;

}  // namespace vm316::platform
