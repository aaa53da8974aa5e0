// The measurement exports: the three styles of taking a record (block style, one blocking
// call, the timer-driven sequencer) and the getters that copy the sample buffers as raw
// samples or convert them to volts.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "exports/export_checks.h"
#include "exports/export_entry.h"
#include "exports/library_state.h"
#include "instrument/vmx16.h"
#include "vm316.h"

namespace vm316::exports {
namespace {

// The raw sample of 0 V: a converter byte b is held as b * 256, and 128 is the middle.
constexpr std::int32_t kZeroVoltSample = 32768;

// How many samples of each buffer belong to the record.
std::size_t RecordSamples(const TVMx16& vm) {
  if (vm.lRecordLength <= 0) return 0;
  return std::min(static_cast<std::size_t>(vm.lRecordLength), vm.OutputBuffer[1].size());
}

double ToVolts(std::uint16_t sample, double volt_factor) {
  return static_cast<double>(static_cast<std::int32_t>(sample) - kZeroVoltSample) * volt_factor;
}

void CopyRaw(const TVMx16& vm, int channel, std::uint16_t* samples) {
  const std::vector<std::uint16_t>& buffer = vm.OutputBuffer[channel];
  std::copy_n(buffer.begin(), RecordSamples(vm), samples);
}

// Converts with the cached volt factor of the channel; the callers decide when it is fresh.
void CopyVolts(const TVMx16& vm, int channel, double* volts) {
  const std::vector<std::uint16_t>& buffer = vm.OutputBuffer[channel];
  const double factor = Library().VoltFactor[channel];
  std::transform(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(RecordSamples(vm)),
                 volts, [factor](std::uint16_t sample) { return ToVolts(sample, factor); });
}

// The single-sample getters read inside the record only.
bool InRecord(const TVMx16& vm, std::int32_t index) {
  return index >= 0 && static_cast<std::size_t>(index) < RecordSamples(vm);
}

// The first block-style fetch after ADC_Start reads the record from the board; later ones
// copy the same buffers. True when this call fetched.
bool FetchIfNeeded(TVMx16& vm) {
  if (Library().DataFetched) return false;
  vm.FetchBlockRecord();
  Library().DataFetched = true;
  return true;
}

void RefreshVoltFactors(TVMx16& vm, int first, int last) {
  for (int channel = first; channel <= last; ++channel) RefreshVoltFactor(vm, channel);
}

}  // namespace
}  // namespace vm316::exports

using vm316::TVMx16;
using vm316::exports::Gate;
namespace ex = vm316::exports;

// ---- Timer-driven and blocking measurement

VM316_API uint16_t VM_CALL DoMeasure(int32_t mode) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Initialised();
  if (!gate) return gate.Status();
  TVMx16& vm = gate.Instrument();
  if (mode == 0) {
    vm.SetEnableMeasurements(false);
    return StatusOk;
  }
  vm.SetAcquisitionMode(mode == -1 ? vm316::amContinuous : vm316::amOneShot);
  vm.SetEnableMeasurements(true);
  return StatusOk;
}

VM316_API uint16_t VM_CALL StartMeasurement(void) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Initialised();
  if (!gate) return gate.Status();
  TVMx16& vm = gate.Instrument();
  vm.MeasureOnce();
  ex::Library().DataFetched = true;
  // No record within its bound, or the board has gone (then it stays gone).
  if (!vm.RecordDone || !vm.HardwarePresent) return StatusNoHardware;
  ex::RefreshVoltFactors(vm, 1, 4);
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetMeasurement(double* ch1_volts, double* ch2_volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(ch1_volts, ch2_volts);
  if (!gate) return gate.Status();
  ex::RefreshVoltFactors(gate.Instrument(), 1, 2);
  ex::CopyVolts(gate.Instrument(), 1, ch1_volts);
  ex::CopyVolts(gate.Instrument(), 2, ch2_volts);
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetOneMeasurement(int32_t index, double* ch1_volt, double* ch2_volt) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(ch1_volt, ch2_volt).Valid([index](const TVMx16& vm) {
    return ex::InRecord(vm, index);
  });
  if (!gate) return gate.Status();
  TVMx16& vm = gate.Instrument();
  ex::RefreshVoltFactors(vm, 1, 2);
  *ch1_volt = ex::ToVolts(vm.OutputBuffer[1][index], ex::Library().VoltFactor[1]);
  *ch2_volt = ex::ToVolts(vm.OutputBuffer[2][index], ex::Library().VoltFactor[2]);
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetMeasurementRaw(uint16_t* ch1_samples, uint16_t* ch2_samples) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(ch1_samples, ch2_samples);
  if (!gate) return gate.Status();
  ex::CopyRaw(gate.Instrument(), 1, ch1_samples);
  ex::CopyRaw(gate.Instrument(), 2, ch2_samples);
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetOneMeasurementRaw(int32_t index, uint16_t* ch1_sample,
                                                uint16_t* ch2_sample) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate =
      Gate::Present().NotNull(ch1_sample, ch2_sample).Valid([index](const TVMx16& vm) {
        return ex::InRecord(vm, index);
      });
  if (!gate) return gate.Status();
  *ch1_sample = gate->OutputBuffer[1][index];
  *ch2_sample = gate->OutputBuffer[2][index];
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetOneMeasurementRawCh(uint16_t channel, int32_t index,
                                                  uint16_t* sample) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(sample).Valid(
      [index](const TVMx16& vm) { return ex::InRecord(vm, index); });
  if (!gate) return gate.Status();
  *sample = gate->OutputBuffer[channel][index];
  return StatusOk;
}

// ---- Block style

VM316_API uint16_t VM_CALL ADC_Start(void) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Initialised();
  if (!gate) return gate.Status();
  gate->StartBlockAcquisition();
  ex::Library().DataFetched = false;
  return StatusOk;
}

VM316_API uint16_t VM_CALL ADC_Running(void) {
  VM316_EXPORT_ENTRY(0);
  const Gate gate = Gate::Present();
  return gate && gate->IsBlockRunning() ? 1 : 0;
}

VM316_API uint16_t VM_CALL ADC_Abort(void) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Initialised();
  if (gate) gate->AbortBlockAcquisition();
  return gate.Status();
}

VM316_API uint16_t VM_CALL ADC_Triggered(void) {
  VM316_EXPORT_ENTRY(0);
  const Gate gate = Gate::Present();
  return gate ? gate->BlockTriggerStatus() : 0;
}

VM316_API uint16_t VM_CALL ADC_Ready(void) {
  VM316_EXPORT_ENTRY(0);
  const Gate gate = Gate::Present();
  return gate ? gate->BlockRecordReady() : 0;
}

VM316_API uint16_t VM_CALL ADC_ForceTrig(void) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Initialised();
  if (gate) gate->ForceBlockTrigger();
  return gate.Status();
}

VM316_API uint16_t VM_CALL ADC_GetData(uint16_t* ch1_samples, uint16_t* ch2_samples) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(ch1_samples, ch2_samples);
  if (!gate) return gate.Status();
  ex::FetchIfNeeded(gate.Instrument());
  if (!gate->HardwarePresent) return StatusNoHardware;  // the board went during the fetch
  ex::CopyRaw(gate.Instrument(), 1, ch1_samples);
  ex::CopyRaw(gate.Instrument(), 2, ch2_samples);
  return StatusOk;
}

VM316_API uint16_t VM_CALL ADC_GetDataVolt(double* ch1_volts, double* ch2_volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(ch1_volts, ch2_volts);
  if (!gate) return gate.Status();
  if (ex::FetchIfNeeded(gate.Instrument())) ex::RefreshVoltFactors(gate.Instrument(), 1, 2);
  if (!gate->HardwarePresent) return StatusNoHardware;
  ex::CopyVolts(gate.Instrument(), 1, ch1_volts);
  ex::CopyVolts(gate.Instrument(), 2, ch2_volts);
  return StatusOk;
}

VM316_API uint16_t VM_CALL ADC_GetDataCh(uint16_t channel, uint16_t* samples) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(samples);
  if (!gate) return gate.Status();
  ex::FetchIfNeeded(gate.Instrument());
  if (!gate->HardwarePresent) return StatusNoHardware;
  ex::CopyRaw(gate.Instrument(), channel, samples);
  return StatusOk;
}

VM316_API uint16_t VM_CALL ADC_GetDataVoltCh(uint16_t channel, double* volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(volts);
  if (!gate) return gate.Status();
  // Only the fetching call refreshes, and only this channel's factor: a later call for the
  // other channel converts with the factor cached before.
  if (ex::FetchIfNeeded(gate.Instrument())) ex::RefreshVoltFactor(gate.Instrument(), channel);
  if (!gate->HardwarePresent) return StatusNoHardware;
  ex::CopyVolts(gate.Instrument(), channel, volts);
  return StatusOk;
}

// ---- What the board does not offer: data-ready notification and stream transfer

VM316_API uint16_t VM_CALL SetDataReadyCallback(uint32_t /*callback_address*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::AbsentBehindGate(StatusNotSupported);
}

VM316_API uint16_t VM_CALL SetDataReadyEvent(uint32_t /*event_handle*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::AbsentBehindGate(StatusNotSupported);
}

// Block transfer only, also while the board is not present; nothing is stored or written.
VM316_API uint16_t VM_CALL SetTransferMode(int32_t /*mode*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return Gate::InstanceExists() ? StatusNotSupported : StatusNoHardware;
}

VM316_API uint16_t VM_CALL GetTransferMode(int32_t* /*mode*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return Gate::InstanceExists() ? StatusNotSupported : StatusNoHardware;
}
