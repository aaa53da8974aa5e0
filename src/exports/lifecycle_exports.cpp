// InitInstrument and ExitInstrument, and the two identification exports.
#include <new>

#include "exports/library_state.h"
#include "platform/window_messages.h"
#include "vm316.h"

namespace vm316::exports {
namespace {

// Registered for other programs of the family; nothing here posts them.
constexpr const char* kRegisteredMessageNames[] = {
    "Vemora: MeasurementReady",
    "Vemora: TransUpdate",
    "Vemora: TransReady",
    "Vemora: SettingChanged",
};

void CreateDeviceReceiver(LibraryState& state) {
  try {
    state.device_receiver = std::make_unique<TDeviceMessageReceiver>();
  } catch (...) {
    // The library works without the hidden window.
    state.device_receiver.reset();
  }
}

std::uint16_t Initialise(std::uint16_t address) {
  LibraryState& state = Library();
  if (state.instance) return state.instance->HardwarePresent ? StatusOk : StatusNoHardware;

  // A fresh object reads the environment afresh, so one process can bring up boards of
  // different configurations in turn, and an instrument can be reopened after ExitInstrument.
  state.instance = std::make_unique<TVMx16>();
  TVMx16& instance = *state.instance;
  state.owner_thread = std::this_thread::get_id();
  state.event_handler = std::make_unique<TEventHandler>(instance);
  CreateDeviceReceiver(state);

  for (int channel = 1; channel <= 4; ++channel) instance.SetAutoRanging(channel, false);
  for (int channel = 1; channel <= 4; ++channel) RefreshVoltFactor(instance, channel);
  instance.SetAcquisitionMode(amHold);

  instance.SetHardwareAddress(address);
  if (!instance.BringUp()) return StatusNoHardware;

  state.Initialised = true;
  state.DataFetched = true;
  for (const char* name : kRegisteredMessageNames) platform::RegisterWindowMessage(name);
  return StatusOk;
}

}  // namespace
}  // namespace vm316::exports

using vm316::exports::Library;
using vm316::exports::PresentInstrument;

VM316_API uint16_t VM_CALL InitInstrument(uint16_t address) {
  try {
    return vm316::exports::Initialise(address);
  } catch (const std::bad_alloc&) {
    // Not even the sample buffers could be had: no instrument.
    Library().instance.reset();
    Library().event_handler.reset();
    Library().device_receiver.reset();
    return StatusNoHardware;
  }
}

VM316_API uint16_t VM_CALL ExitInstrument(void) {
  vm316::exports::LibraryState& state = Library();
  if (!state.instance) return StatusOk;
  state.instance->Stop();
  state.instance.reset();
  state.event_handler.reset();
  state.device_receiver.reset();
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetCalibrationDate(int32_t* /*date*/) {
  if (PresentInstrument() == nullptr) return StatusNoHardware;
  return StatusNotSupported;  // the instrument keeps no calibration date
}

VM316_API uint16_t VM_CALL GetSerialNumber(int32_t* serial) {
  if (PresentInstrument() == nullptr) return StatusNoHardware;
  if (serial != nullptr) *serial = 0;  // no readable serial number
  return StatusNotSupported;
}
