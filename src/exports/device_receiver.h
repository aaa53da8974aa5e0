#pragma once

#include <cstdint>

#include "platform/message_loop.h"

namespace vm316::exports {

inline constexpr std::uint32_t kWmDeviceChange = 537;
inline constexpr std::uint32_t kWmUser = 0x400;
inline constexpr std::uint32_t kWmDeviceArrived = kWmUser + 13;

// The hidden window: it receives device-change messages from the system and the
// device-arrived message another program may post.
class TDeviceMessageReceiver {
 public:
  TDeviceMessageReceiver();

  void MDeviceChange();
  void WMDeviceArrived();

 private:
  platform::MessageWindow window_;
};

}  // namespace vm316::exports
