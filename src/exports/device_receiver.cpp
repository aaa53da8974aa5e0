#include "exports/device_receiver.h"

#include "exports/library_state.h"
#include "platform/messages.h"

namespace vm316::exports {

TDeviceMessageReceiver::TDeviceMessageReceiver()
    : window_([this](std::uint32_t message, std::uintptr_t, std::intptr_t) {
        if (message == kWmDeviceChange) MDeviceChange();
        if (message == kWmDeviceArrived) WMDeviceArrived();
      }) {}

void TDeviceMessageReceiver::MDeviceChange() {}

void TDeviceMessageReceiver::WMDeviceArrived() {
  if (TVMx16* instance = LiveInstance()) instance->StartTimer();
  platform::ShowMessage("WMDeviceArrived ");
}

}  // namespace vm316::exports
