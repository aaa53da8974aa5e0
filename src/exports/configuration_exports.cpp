// The configuration and capability exports of the time base, the record geometry and the
// input channels, and the generator status queries. Each checks, converts the host's units
// and calls the instrument's setter; the trigger exports are in trigger_exports.cpp.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "exports/export_checks.h"
#include "exports/export_entry.h"
#include "exports/library_state.h"
#include "instrument/rounding.h"
#include "instrument/vmx16.h"
#include "vm316.h"

namespace vm316::exports {
namespace {

// The fixed length of the host's arrays for sensitivities and resolutions.
constexpr int kListLength = 20;

// A sample-frequency request the clock can work with: finite and above zero.
bool FrequencyAdmitted(double hertz) {
  return std::isfinite(hertz) && hertz > 0.0;
}

// A mode that records channel 2 needs two channels, one that records channel 3 or 4 needs four.
bool MeasureModeOffered(const TVMx16& vm, std::uint8_t mode) {
  const bool needs_two = mode == mCh2 || mode == mCh12;
  const bool needs_four = mode >= mCh3 && mode <= mCh1234;
  return !(needs_two && vm.ChannelCount < 2) && !(needs_four && vm.ChannelCount < 4);
}

}  // namespace
}  // namespace vm316::exports

using vm316::RoundTo;
using vm316::TVMx16;
using vm316::exports::Gate;
namespace ex = vm316::exports;

// ---- Time base and record geometry

VM316_API double VM_CALL GetSampleFrequencyF(void) {
  VM316_EXPORT_ENTRY(0.0);
  const Gate gate = Gate::Present();
  return gate ? static_cast<double>(gate->SampleFreq()) : 0.0;
}

VM316_API uint16_t VM_CALL SetSampleFrequencyF(double* frequency) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(frequency).Valid(
      [frequency] { return ex::FrequencyAdmitted(*frequency); });
  if (!gate) return gate.Status();
  gate->SetSampleFrequencyValue(*frequency);
  *frequency = static_cast<double>(gate->SampleFreq());
  return StatusOk;
}

VM316_API int32_t VM_CALL GetSampleFrequency(void) {
  VM316_EXPORT_ENTRY(0);
  return RoundTo<int32_t>(GetSampleFrequencyF());
}

// Writes back whatever the status: the frequency obtained, or the request itself when it was
// refused.
VM316_API uint16_t VM_CALL SetSampleFrequency(uint32_t* frequency) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  double hertz = frequency != nullptr ? static_cast<double>(*frequency) : 0.0;
  const uint16_t status = SetSampleFrequencyF(frequency != nullptr ? &hertz : nullptr);
  if (frequency != nullptr) *frequency = RoundTo<uint32_t>(hertz);
  return status;
}

VM316_API double VM_CALL GetMaxSampleFrequencyF(void) {
  VM316_EXPORT_ENTRY(0.0);
  const Gate gate = Gate::Present();
  return gate ? static_cast<double>(gate->MaxSampleFrequency) : 0.0;
}

VM316_API int32_t VM_CALL GetMaxSampleFrequency(void) {
  VM316_EXPORT_ENTRY(0);
  return RoundTo<int32_t>(GetMaxSampleFrequencyF());
}

// The board has no external clock input (model code 3).
VM316_API uint16_t VM_CALL GetExternalClock(uint16_t* external) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present();
  if (!gate) return gate.Status();
  if (external != nullptr) *external = 0;
  return StatusNotSupported;
}

VM316_API uint16_t VM_CALL SetExternalClock(uint16_t /*external*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::AbsentBehindGate(StatusNotSupported);
}

VM316_API int32_t VM_CALL GetRecordLength(void) {
  VM316_EXPORT_ENTRY(0);
  const Gate gate = Gate::Present();
  return gate ? gate->lRecordLength : 0;
}

VM316_API uint16_t VM_CALL SetRecordLength(uint32_t length) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Valid(
      [length](const TVMx16& vm) { return length <= static_cast<uint32_t>(vm.MaxRecordLength); });
  if (gate) gate->SetRecordLength(static_cast<int32_t>(length));
  return gate.Status();
}

VM316_API int32_t VM_CALL GetPostSamples(void) {
  VM316_EXPORT_ENTRY(0);
  const Gate gate = Gate::Present();
  return gate ? gate->lPostSamples : 0;
}

VM316_API uint16_t VM_CALL SetPostSamples(uint32_t samples) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Valid(
      [samples](const TVMx16& vm) { return samples <= static_cast<uint32_t>(vm.lRecordLength); });
  if (gate) gate->SetPostSamples(static_cast<int32_t>(samples));
  return gate.Status();
}

VM316_API int32_t VM_CALL GetMaxRecordLength(void) {
  VM316_EXPORT_ENTRY(0);
  const Gate gate = Gate::Present();
  return gate ? gate->MaxRecordLength : 0;
}

// ---- Input channels

VM316_API uint16_t VM_CALL GetNrChannels(uint16_t* channels) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(channels);
  if (gate) *channels = static_cast<uint16_t>(gate->ChannelCount);
  return gate.Status();
}

VM316_API uint16_t VM_CALL GetAvailableSensitivities(double* sensitivities) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(sensitivities);
  if (!gate) return gate.Status();
  std::fill_n(sensitivities, ex::kListLength, 0.0);
  const int count = std::min(gate->RangeCount, ex::kListLength);
  for (int i = 0; i < count; ++i) {
    sensitivities[i] = static_cast<double>(gate->Sensitivities[gate->RangeCount - i]);
  }
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetSensitivity(uint8_t channel, double* sensitivity) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(sensitivity);
  if (!gate) return gate.Status();
  *sensitivity = static_cast<double>(gate->ChannelSensitivity(channel));
  ex::RefreshVoltFactor(gate.Instrument(), channel);
  return StatusOk;
}

VM316_API uint16_t VM_CALL SetSensitivity(uint8_t channel, double* sensitivity) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  // Any magnitude selects the nearest range, an infinity too (+inf the largest, -inf, like every
  // negative request, the smallest); a NaN has no nearest range.
  const Gate gate = Gate::Present().Channel(channel).NotNull(sensitivity).Valid([sensitivity] {
    return !std::isnan(*sensitivity);
  });
  if (!gate) return gate.Status();
  gate->SelectRange(channel, *sensitivity);
  *sensitivity = static_cast<double>(gate->ChannelSensitivity(channel));
  ex::RefreshVoltFactor(gate.Instrument(), channel);
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetAutoRanging(uint8_t channel, uint8_t* on) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(on);
  if (gate) *on = gate->GetAutoRanging(channel) ? 1 : 0;
  return gate.Status();
}

VM316_API uint16_t VM_CALL SetAutoRanging(uint8_t channel, uint8_t on) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).Valid(on <= 1);
  if (gate) gate->SetAutoRanging(channel, on == 1);
  return gate.Status();
}

VM316_API uint16_t VM_CALL GetCoupling(uint8_t channel, uint8_t* coupling) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(coupling);
  if (gate) *coupling = gate->GetCoupling(channel);
  return gate.Status();
}

VM316_API uint16_t VM_CALL SetCoupling(uint8_t channel, uint8_t coupling) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).Valid(coupling <= 1);
  if (gate) gate->SetCoupling(channel, coupling);
  return gate.Status();
}

VM316_API int32_t VM_CALL GetDCLevelStatus(void) {
  VM316_EXPORT_ENTRY(1);
  const Gate gate = Gate::Present();
  return gate && gate->HasDcLevel ? 0 : 1;
}

VM316_API uint16_t VM_CALL GetDcLevel(uint8_t channel, double* volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(volts);
  if (gate) *volts = static_cast<double>(gate->GetDcLevel(channel));
  return gate.Status();
}

VM316_API uint16_t VM_CALL SetDcLevel(uint8_t channel, double volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate =
      Gate::Present().Channel(channel).Finite(volts).Valid([channel, volts](const TVMx16& vm) {
        return vm316::DcLevelAdmitted(volts, vm.ChannelSensitivity(channel));
      });
  if (gate) gate->SetDcLevel(channel, volts);
  return gate.Status();
}

VM316_API uint16_t VM_CALL GetAvailableResolutions(double* resolutions) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(resolutions);
  if (!gate) return gate.Status();
  std::fill_n(resolutions, ex::kListLength, 0.0);
  const int count = std::min<int>(gate->ResolutionCount, ex::kListLength);
  for (int i = 0; i < count; ++i) resolutions[i] = gate->ResolutionEntry(i);
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetResolution(uint8_t* bits) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(bits);
  if (gate) *bits = static_cast<uint8_t>(gate->Resolution);
  return gate.Status();
}

VM316_API uint16_t VM_CALL SetResolution(uint8_t bits) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Valid([bits](const TVMx16& vm) {
    for (int i = 0; i < vm.ResolutionCount; ++i) {
      if (vm.ResolutionEntry(i) == bits) return true;
    }
    return false;
  });
  if (gate) gate->SetResolution();
  return gate.Status();
}

VM316_API uint16_t VM_CALL GetMeasureMode(TMeasureMode* mode) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(mode);
  if (gate) *mode = gate->mMeasureMode;
  return gate.Status();
}

// Modes that name channels the board lacks are not offered; mXY is the last mode.
VM316_API uint16_t VM_CALL SetMeasureMode(TMeasureMode mode) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate =
      Gate::Present()
          .Offers([mode](const TVMx16& vm) { return ex::MeasureModeOffered(vm, mode); })
          .Valid(mode <= mXY);
  if (gate) gate->SetMeasureMode(static_cast<vm316::TMeasureMode>(mode));
  return gate.Status();
}

// The board has one configuration (model code 3).
VM316_API uint16_t VM_CALL SetInstrumentConfig(uint16_t /*config*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::AbsentBehindGate(StatusNotSupported);
}

VM316_API uint16_t VM_CALL GetInstrumentConfig(uint16_t* /*config*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::AbsentBehindGate(StatusNotSupported);
}

// ---- Generator status

VM316_API uint16_t VM_CALL GetSquareWaveGenStatus(void) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return Gate::Present().Has(&TVMx16::HasSquareWaveGenerator, StatusNoGenerator).Status();
}

VM316_API uint16_t VM_CALL GetFunctionGenStatus(void) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return Gate::Present().Has(&TVMx16::HasFunctionGenerator, StatusNoGenerator).Status();
}

VM316_API uint16_t VM_CALL GetFuncGenMaxAmplitude(double* /*amplitude*/) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  return ex::AbsentBehindGate(StatusNoGenerator);
}
