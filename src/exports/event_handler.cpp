#include "exports/event_handler.h"

#include "exports/library_state.h"
#include "vm316.h"

namespace vm316::exports {

TEventHandler::TEventHandler(TVMx16& instance) {
  instance.OnSettingsChanged = [this](TVMx16& sender) { SettingsHandler(sender); };
}

void TEventHandler::SettingsHandler(TVMx16& /*sender*/) {
  TVMx16* instance = LiveInstance();
  if (instance == nullptr) return;
  for (std::uint8_t channel = 1; channel <= 2; ++channel) {
    double sensitivity = static_cast<double>(instance->ChannelSensitivity(channel));
    ::SetSensitivity(channel, &sensitivity);
  }
}

}  // namespace vm316::exports
