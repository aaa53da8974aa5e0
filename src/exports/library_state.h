// The process-wide state behind the exports: at most one instrument object with its event
// handler and hidden window, and the flags and caches the exports share.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <thread>

#include "exports/device_receiver.h"
#include "exports/event_handler.h"
#include "instrument/vmx16.h"

namespace vm316::exports {

struct LibraryState {
  std::unique_ptr<TVMx16> instance;
  std::unique_ptr<TEventHandler> event_handler;
  std::unique_ptr<TDeviceMessageReceiver> device_receiver;
  bool Initialised = false;
  bool DataFetched = false;
  std::array<double, kChannelSlots> VoltFactor{};  // channels 1..4
  std::thread::id owner_thread;                    // the thread that called InitInstrument
};

// Made on first use; freed when the library is unloaded.
LibraryState& Library();

// The instance when it exists and answered at bring-up, else null (the check behind
// StatusNoHardware).
TVMx16* PresentInstrument();

// Volts per raw step of a channel: its sensitivity ÷ 32768.
void RefreshVoltFactor(TVMx16& instrument, int channel);

// Library load and unload (process attach and detach).
void LibraryLoad();
void LibraryUnload();

}  // namespace vm316::exports
