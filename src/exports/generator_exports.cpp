// The square-wave generator, and every export of a facility this board lacks: the function
// generator, digital inputs and outputs, PXI trigger lines, I2C, resistance measurement and
// the other extras of the instrument family. Those touch neither the board nor any setting;
// most answer StatusNoHardware before the instrument is present, a few have no gate at all.
#include <cstdint>

#include "exports/export_checks.h"
#include "exports/export_entry.h"
#include "instrument/rounding.h"
#include "instrument/vmx16.h"
#include "vm316.h"

namespace vm316::exports {
namespace {

// The frequency obtained at the last SetSquareWaveGenFrequency, in Hz. Library state: 0 when
// the library is loaded, and kept across ExitInstrument, as the output keeps running.
std::int32_t SquareWaveFrequency = 0;

// The one transfer behind the four I2C exports of each direction; the bus does not exist.
std::uint16_t I2CWriteTransfer(std::uint32_t /*device*/, std::uint32_t /*data*/,
                               std::uint32_t /*length*/, bool /*stop*/) {
  return AbsentBehindGate(StatusNotSupported);
}

std::uint16_t I2CReadTransfer(std::uint32_t /*device*/, std::uint32_t /*data*/,
                              std::uint32_t /*length*/, bool /*stop*/) {
  return AbsentBehindGate(StatusNotSupported);
}

// Two queries clear the caller's variable before any test, so that it reads "off" even when
// the call is refused.
void ClearFirst(std::uint16_t* value) {
  if (value != nullptr) *value = 0;
}

}  // namespace
}  // namespace vm316::exports

using vm316::exports::AbsentBehindGate;
using vm316::exports::Gate;
namespace ex = vm316::exports;

// ---- Square-wave generator

VM316_API int32_t VM_CALL GetSquareWaveGenFrequency(void) {
  VM316_EXPORT_ENTRY(0);
  return ex::SquareWaveFrequency;
}

VM316_API uint16_t VM_CALL SetSquareWaveGenFrequency(uint32_t* frequency) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(frequency);
  if (!gate) return gate.Status();
  long double hertz = *frequency;
  gate->ProgramSquareWaveClock(hertz);
  ex::SquareWaveFrequency = vm316::RoundTo<int32_t>(hertz);
  *frequency = static_cast<uint32_t>(ex::SquareWaveFrequency);
  return StatusOk;
}

// ---- Function generator: behind gate H, StatusNoGenerator unless a model test comes first

VM316_API uint16_t VM_CALL SetFuncGenSignalType(uint16_t /*signal_type*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL GetFuncGenSignalType(uint16_t* /*signal_type*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL SetFuncGenAmplitude(double /*amplitude*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL GetFuncGenAmplitude(double* /*amplitude*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL SetFuncGenDCOffset(double /*offset*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL GetFuncGenDCOffset(double* /*offset*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL SetFuncGenSymmetry(double /*symmetry*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL GetFuncGenSymmetry(double* /*symmetry*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL SetFuncGenFrequency(double* /*frequency*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL GetFuncGenFrequency(double* /*frequency*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL SetFuncGenOutputOn(uint16_t /*on*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL GetFuncGenOutputOn(uint16_t* on) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  ex::ClearFirst(on);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL FillFuncGenMemory(int32_t /*count*/, const uint16_t* /*points*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNoGenerator);
}
// The model test (no generator enabling on model code 3) comes before the generator test.
VM316_API uint16_t VM_CALL SetFuncGenEnable(uint16_t /*enable*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL GetFuncGenEnable(uint16_t* enable) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  ex::ClearFirst(enable);
  return AbsentBehindGate(StatusNoGenerator);
}
VM316_API uint16_t VM_CALL FuncGenBurst(uint16_t /*periods*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL SetFuncGenTrigSource(uint8_t /*source*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL GetFuncGenTrigSource(uint8_t* /*source*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
// No gate: these answer the same with or without an instrument.
VM316_API uint16_t VM_CALL SetFuncGenAmplitudeRange(uint32_t /*range*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
VM316_API uint16_t VM_CALL GetFuncGenAmplitudeRange(uint32_t /*range*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
VM316_API uint16_t VM_CALL SetFuncGenMode(uint32_t /*mode*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
VM316_API uint16_t VM_CALL GetFuncGenMode(uint32_t /*mode*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}

// ---- Digital inputs and outputs, PXI trigger lines: behind gate H

VM316_API uint16_t VM_CALL GetDigitalInputValues(uint16_t* /*values*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL GetOneDigitalValue(uint32_t /*input*/, uint16_t* /*value*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL SetDigitalOutputs(uint32_t /*outputs*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL GetDigitalOutputs(uint32_t /*outputs*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL SetPXITriggerSlopes(uint8_t /*slopes*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL GetPXITriggerSlopes(uint8_t* /*slopes*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL SetPXITriggerEnables(uint8_t /*enables*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL GetPXITriggerEnables(uint8_t* /*enables*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}

// ---- Other extras

VM316_API uint16_t VM_CALL SetupOhmMeasurements(uint32_t /*setup*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL GetOhmValues(uint32_t /*values*/, uint32_t /*count*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
VM316_API uint16_t VM_CALL I2CWrite(uint32_t device, uint32_t data, uint32_t length) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::I2CWriteTransfer(device, data, length, true);
}
VM316_API uint16_t VM_CALL I2CWriteNoStop(uint32_t device, uint32_t data, uint32_t length) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::I2CWriteTransfer(device, data, length, false);
}
VM316_API uint16_t VM_CALL I2CRead(uint32_t device, uint32_t data, uint32_t length) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::I2CReadTransfer(device, data, length, true);
}
VM316_API uint16_t VM_CALL I2CReadNoStop(uint32_t device, uint32_t data, uint32_t length) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::I2CReadTransfer(device, data, length, false);
}
VM316_API uint16_t VM_CALL I2CSetSpeed(uint32_t /*speed*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
VM316_API uint16_t VM_CALL I2CGetSpeed(uint32_t /*speed*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return AbsentBehindGate(StatusNotSupported);
}
// No gate.
VM316_API uint16_t VM_CALL GetActiveKT5(uint32_t /*module*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
VM316_API uint16_t VM_CALL SetActiveKT5(uint32_t /*module*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
VM316_API uint16_t VM_CALL SetDAC1451(uint32_t /*dac*/, uint32_t /*value*/, uint32_t /*option1*/,
                                      uint32_t /*option2*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
VM316_API uint16_t VM_CALL SetMotorOn(uint32_t /*motor*/, uint32_t /*on*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return StatusNotSupported;
}
