// A port backend for the search loops: it answers the sample ports from a script that sees the
// record being read (its post-trigger count and the location), says every record is complete,
// and counts the records armed. It decodes only what the tests need; it is no model of the
// board.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/port_backend.h"

namespace vm316::testing {

class ScriptedRecorder : public platform::PortBackend {
 public:
  // converter 1 or 2, the post-trigger count of the record, the location read (0 = first).
  using Script = std::function<std::uint8_t(int converter, int post_count, int location)>;

  ScriptedRecorder(std::uint16_t base, Script script) : base_(base), script_(std::move(script)) {}

  bool OpenDriver() override { return true; }

  void Out(std::uint16_t port, std::uint8_t value) override {
    const int offset = static_cast<std::uint16_t>(port - base_);
    if (offset == 0) control_register_ = value;
    if (offset == 1) WriteControl(value);
  }

  std::uint8_t In(std::uint16_t port) override {
    const int offset = static_cast<std::uint16_t>(port - base_);
    if (offset == 2) return 0x01;  // record complete, seek reached
    if (offset == 4) return script_(1, post_count_, location_);
    if (offset == 6) return script_(2, post_count_, location_);
    return 0;
  }

  int records_armed() const { return records_armed_; }

 private:
  static constexpr std::uint8_t kCountLow = 0, kCountHigh = 1, kMode = 3, kStep = 5;
  static constexpr std::uint8_t kArmed = 15, kSeekRun = 3;

  void WriteControl(std::uint8_t value) {
    if (control_register_ == kCountLow) count_ = (count_ & 0xFF00) | value;
    if (control_register_ == kCountHigh) count_ = (count_ & 0x00FF) | (value << 8);
    if (control_register_ == kStep) ++location_;
    if (control_register_ == kMode && value == kArmed) {
      ++records_armed_;
      post_count_ = count_;
    }
    if (control_register_ == kMode && value == kSeekRun) location_ = 0;
  }

  std::uint16_t base_;
  Script script_;
  std::uint8_t control_register_ = 0;
  int count_ = 0;
  int post_count_ = 0;
  int location_ = 0;
  int records_armed_ = 0;
};

}  // namespace vm316::testing
