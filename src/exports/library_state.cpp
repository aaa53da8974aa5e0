#include "exports/library_state.h"

#include "platform/message_loop.h"
#include "platform/system.h"
#include "platform/window_messages.h"
#include "vm316.h"

namespace vm316::exports {

namespace {
LibraryState* library = nullptr;
}

LibraryState& Library() {
  if (library == nullptr) library = new LibraryState();
  return *library;
}

TVMx16* PresentInstrument() {
  TVMx16* instance = Library().instance.get();
  return instance != nullptr && instance->HardwarePresent ? instance : nullptr;
}

void RefreshVoltFactor(TVMx16& instrument, int channel) {
  Library().VoltFactor[channel] =
      static_cast<double>(instrument.ChannelSensitivity(channel)) / 32768.0;
}

void LibraryLoad() {
  LibraryState& state = Library();
  state.instance.reset();
  state.event_handler.reset();
  state.Initialised = false;
  platform::ReadScreenArea();
}

void LibraryUnload() {
  ::ExitInstrument();
  // Nothing of the library may outlive it when a host unloads it at run time.
  delete library;
  library = nullptr;
  platform::ReleaseMessageLoop();
  platform::ReleaseWindowMessages();
}

}  // namespace vm316::exports

extern "C" void vm316_library_load(void) {
  vm316::exports::LibraryLoad();
}
extern "C" void vm316_library_unload(void) {
  vm316::exports::LibraryUnload();
}
