#include "exports/library_state.h"

#include "platform/library_call.h"
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

TVMx16* LiveInstance() {
  LibraryState& state = Library();
  return state.closing ? nullptr : state.instance.get();
}

TVMx16* PresentInstrument() {
  TVMx16* instance = LiveInstance();
  return instance != nullptr && instance->HardwarePresent ? instance : nullptr;
}

namespace {

void DestroyInstrument() {
  LibraryState& state = Library();
  state.instance.reset();
  state.event_handler.reset();
  state.device_receiver.reset();
  state.closing = false;
  platform::ReleaseOwnerThread();
}

}  // namespace

void CloseInstrument() {
  LibraryState& state = Library();
  if (!state.instance || state.closing) return;
  state.instance->Stop();
  if (platform::LibraryCall::Nested()) {
    state.closing = true;
    platform::LibraryCall::AtOutermostEnd(&DestroyInstrument);
    return;
  }
  DestroyInstrument();
}

void AdoptInstrument() {
  LibraryState& state = Library();
  if (state.closing) {
    DestroyInstrument();
    return;
  }
  if (!state.instance) return;
  state.instance->MoveToCallingThread();
  state.device_receiver.reset();
  CreateDeviceReceiver(state);
}

void CreateDeviceReceiver(LibraryState& state) {
  try {
    state.device_receiver = std::make_unique<TDeviceMessageReceiver>();
  } catch (...) {
    state.device_receiver.reset();
  }
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
  // Whatever thread unloads the library: no other thread of the host runs it any more.
  if (library != nullptr && library->instance) library->instance->Stop();
  DestroyInstrument();
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
