// InitInstrument and ExitInstrument, and the two identification exports.
#include <new>

#include "exports/export_entry.h"
#include "exports/library_state.h"
#include "platform/library_call.h"
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

std::uint16_t Initialise(std::uint16_t address) {
  LibraryState& state = Library();
  // An instance being closed by an ExitInstrument nested in a call still running is no
  // instrument, and no new one may replace it before that call has ended.
  if (state.closing) return StatusNoHardware;
  if (state.instance) return state.instance->HardwarePresent ? StatusOk : StatusNoHardware;
  // Nested in another call (a message handler of the host), a new instance would be brought up
  // beneath a call that does not expect one.
  if (platform::LibraryCall::Nested()) return StatusNoHardware;
  // From now on only this thread may call in, until the instrument is closed again.
  if (!platform::ClaimOwnerThread()) return StatusNoHardware;

  // A fresh object reads the environment afresh, so one process can bring up boards of
  // different configurations in turn, and an instrument can be reopened after ExitInstrument.
  state.instance = std::make_unique<TVMx16>();
  TVMx16& instance = *state.instance;
  state.event_handler = std::make_unique<TEventHandler>(instance);
  CreateDeviceReceiver(state);

  for (int channel = 1; channel <= 4; ++channel) instance.SetAutoRanging(channel, false);
  for (int channel = 1; channel <= 4; ++channel) RefreshVoltFactor(instance, channel);
  instance.SetAcquisitionMode(amHold);

  instance.SetHardwareAddress(address);
  if (!instance.BringUp()) return StatusNoHardware;
  // The host closed the instrument from a message handler during the bring-up.
  if (state.closing) return StatusNoHardware;

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
  VM316_EXPORT_ENTRY_TAKING_OVER(StatusNoHardware);
  try {
    return vm316::exports::Initialise(address);
  } catch (const std::bad_alloc&) {
    // Not even the sample buffers could be had: no instrument.
    vm316::exports::CloseInstrument();
    if (!Library().instance) vm316::platform::ReleaseOwnerThread();
    return StatusNoHardware;
  }
}

// From another thread StatusNoHardware: the instrument is not that thread's to close, unless
// that thread has ended.
VM316_API uint16_t VM_CALL ExitInstrument(void) {
  VM316_EXPORT_ENTRY_TAKING_OVER(StatusNoHardware);
  vm316::exports::CloseInstrument();
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetCalibrationDate(int32_t* /*date*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  if (PresentInstrument() == nullptr) return StatusNoHardware;
  return StatusNotSupported;  // the instrument keeps no calibration date
}

VM316_API uint16_t VM_CALL GetSerialNumber(int32_t* serial) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  if (PresentInstrument() == nullptr) return StatusNoHardware;
  if (serial != nullptr) *serial = 0;  // no readable serial number
  return StatusNotSupported;
}
