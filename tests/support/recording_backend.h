// A port backend for tests: records every access in order and answers reads from a script
// (or a fixed value), so the exact port sequences of the driver can be checked.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/port_backend.h"

namespace vm316::testing {

struct PortAccess {
  bool write;
  std::uint16_t port;
  std::uint8_t value;
  bool operator==(const PortAccess&) const = default;
};

inline PortAccess Out(std::uint16_t port, std::uint8_t value) {
  return {true, port, value};
}
inline PortAccess In(std::uint16_t port, std::uint8_t value) {
  return {false, port, value};
}

class RecordingBackend : public platform::PortBackend {
 public:
  // The log survives the backend (the instrument owns and destroys its backend).
  explicit RecordingBackend(std::vector<PortAccess>* log, bool driver_ok = true)
      : log_(log), driver_ok_(driver_ok) {}

  platform::PortReach Reach() const override { return reach; }
  bool OpenDriver() override { return driver_ok_; }
  void Out(std::uint16_t port, std::uint8_t value) override {
    if (log_) log_->push_back({true, port, value});
    if (forward) forward->Out(port, value);
  }
  std::uint8_t In(std::uint16_t port) override {
    std::uint8_t value = read_value;
    if (reader) value = reader(port);
    if (forward) value = forward->In(port);
    if (log_) log_->push_back({false, port, value});
    return value;
  }

  std::uint8_t read_value = platform::kFloatingBus;
  std::function<std::uint8_t(std::uint16_t port)> reader;
  // Passes every access on (to a simulated board), recording it on the way.
  platform::PortBackend* forward = nullptr;
  platform::PortReach reach = platform::PortReach::kSimulated;

 private:
  std::vector<PortAccess>* log_;
  bool driver_ok_;
};

// Only the writes of a log, as (port, value) pairs.
inline std::vector<PortAccess> Writes(const std::vector<PortAccess>& log) {
  std::vector<PortAccess> writes;
  for (const PortAccess& access : log) {
    if (access.write) writes.push_back(access);
  }
  return writes;
}

}  // namespace vm316::testing
