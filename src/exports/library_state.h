// The process-wide state behind the exports: at most one instrument object with its event
// handler and hidden window, and the flags and caches the exports share.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

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
  // ExitInstrument came while an outer call still used the instrument: it is closed for every
  // export already, and destroyed when the outermost call ends.
  bool closing = false;
};

// Made on first use; freed when the library is unloaded.
LibraryState& Library();

// The instance unless an ExitInstrument has closed it, else null.
TVMx16* LiveInstance();

// The live instance when it answered at bring-up, else null (the check behind
// StatusNoHardware).
TVMx16* PresentInstrument();

// ExitInstrument's work: stops the timer at once and destroys the instance, the event handler
// and the hidden window, or, inside another call of the library that may still use them, marks
// them closed and destroys them when the outermost call ends.
void CloseInstrument();

// The thread that opened the instrument has ended without closing it, and the calling thread
// has taken it over: what belonged to the ended thread (the timer, the hidden window, port
// access where it is granted per thread) is made anew for this one, and a close that the ended
// thread left unfinished is finished.
void AdoptInstrument();

// The hidden window, when it can be had: the library works without it.
void CreateDeviceReceiver(LibraryState& state);

// Volts per raw step of a channel: its sensitivity ÷ 32768.
void RefreshVoltFactor(TVMx16& instrument, int channel);

// Library load and unload (process attach and detach).
void LibraryLoad();
void LibraryUnload();

}  // namespace vm316::exports
