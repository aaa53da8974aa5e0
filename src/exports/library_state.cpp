#include "exports/library_state.h"

#include "platform/system.h"
#include "vm316.h"

namespace vm316::exports {

LibraryState& Library() {
  static LibraryState* const state = new LibraryState();
  return *state;
}

TVMx16* PresentInstrument() {
  TVMx16* instance = Library().instance.get();
  return instance != nullptr && instance->HardwarePresent ? instance : nullptr;
}

void RefreshVoltFactor(TVMx16& instrument, int channel) {
  Library().VoltFactor[channel] = static_cast<double>(instrument.ChannelSensitivity(channel)) / 32768.0;
}

void LibraryLoad() {
  LibraryState& state = Library();
  state.instance.reset();
  state.event_handler.reset();
  state.Initialised = false;
  platform::ReadScreenArea();
}

void LibraryUnload() { ::ExitInstrument(); }

}  // namespace vm316::exports

extern "C" void vm316_library_load(void) { vm316::exports::LibraryLoad(); }
extern "C" void vm316_library_unload(void) { vm316::exports::LibraryUnload(); }
