// The trigger configuration exports: source, slopes, levels and hysteresis in volts, and the
// time-out in milliseconds. Volts become comparator codes of the channel's present range, and
// codes volts, only through the rules of trigger_codes.h.
#include <cstdint>

#include "exports/export_checks.h"
#include "exports/export_entry.h"
#include "instrument/rounding.h"
#include "instrument/trigger_codes.h"
#include "instrument/vmx16.h"
#include "vm316.h"

namespace vm316::exports {
namespace {

// The slope is reported in the low seven bits.
constexpr std::uint8_t kSlopeMask = 0x7F;
// The host's time-out value that means "wait for ever", and the instrument's value for it.
constexpr std::uint32_t kNoTimeOutMs = 0xFFFFFFFF;
constexpr long double kNoTimeOut = -1.0L;
constexpr long double kMsPerSecond = 1000.0L;

// The slope slot that belongs to a trigger source; none for tsNoTrig and above.
int SlopeSlotOfSource(TTrigSource source) {
  if (source == tsExternal) return 0;
  if (source >= tsNoTrig) return -1;
  return 1;  // every channel and combined source follows channel 1's slope
}

long double ChannelLevel(const TVMx16& vm, int channel) {
  return CodeToLevel(vm.GetTriggerLevel(channel), vm.ChannelSensitivity(channel));
}

}  // namespace
}  // namespace vm316::exports

using vm316::TVMx16;
using vm316::exports::Gate;
namespace ex = vm316::exports;

VM316_API uint16_t VM_CALL GetTriggerSource(TTrigSource* source) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(source);
  if (gate) *source = gate->tsTriggerSource;
  return gate.Status();
}

VM316_API uint16_t VM_CALL SetTriggerSource(TTrigSource source) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Admitted(
      [source](const TVMx16& vm) { return vm316::TriggerSourceAdmission(vm, source); });
  if (gate) gate->SetTriggerSource(static_cast<vm316::TTrigSource>(source));
  return gate.Status();
}

// The slope of the present source; for tsNoTrig and above nothing is written.
VM316_API uint16_t VM_CALL GetTriggerMode(uint8_t* slope) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().NotNull(slope);
  if (!gate) return gate.Status();
  const int slot = ex::SlopeSlotOfSource(gate->tsTriggerSource);
  if (slot >= 0) *slope = gate->GetTriggerSlope(slot) & ex::kSlopeMask;
  return StatusOk;
}

// Every channel takes the slope; the external input's slot takes the two edges only. The last
// refusal of a channel is the answer.
VM316_API uint16_t VM_CALL SetTriggerMode(uint8_t slope) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present();
  if (!gate) return gate.Status();
  uint16_t status = StatusOk;
  for (int channel = 1; channel <= gate->ChannelCount; ++channel) {
    const uint16_t channel_status = SetTriggerModeCh(static_cast<uint8_t>(channel), slope);
    if (channel_status != StatusOk) status = channel_status;
  }
  if (slope < 2) SetTriggerModeCh(0, slope);
  return status;
}

VM316_API uint16_t VM_CALL GetTriggerModeCh(uint8_t channel, uint8_t* slope) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().TriggerInput(channel).NotNull(slope);
  if (gate) *slope = gate->GetTriggerSlope(channel) & ex::kSlopeMask;
  return gate.Status();
}

VM316_API uint16_t VM_CALL SetTriggerModeCh(uint8_t channel, uint8_t slope) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().TriggerInput(channel).Admitted(
      [slope](const TVMx16& vm) { return vm316::TriggerSlopeAdmission(vm, slope); });
  if (gate) gate->SetTriggerSlope(channel, slope);
  return gate.Status();
}

VM316_API uint16_t VM_CALL GetTriggerLevel(uint8_t channel, double* volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(volts);
  if (gate) *volts = static_cast<double>(ex::ChannelLevel(gate.Instrument(), channel));
  return gate.Status();
}

VM316_API uint16_t VM_CALL SetTriggerLevel(uint8_t channel, double volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate =
      Gate::Present().Channel(channel).Finite(volts).Valid([channel, volts](const TVMx16& vm) {
        return vm316::LevelAdmitted(volts, vm.ChannelSensitivity(channel));
      });
  if (!gate) return gate.Status();
  gate->SetTriggerLevel(channel, vm316::LevelToCode(volts, gate->ChannelSensitivity(channel)));
  return StatusOk;
}

VM316_API uint16_t VM_CALL GetTriggerHys(uint8_t channel, double* volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present().Channel(channel).NotNull(volts);
  if (!gate) return gate.Status();
  *volts = static_cast<double>(vm316::CodeToHysteresis(gate->GetTriggerHysteresis(channel),
                                                       gate->ChannelSensitivity(channel)));
  return StatusOk;
}

// Checked against the channel's present level with channel 1's slope, which sets the edge of
// both comparators. An infinite hysteresis is judged and converted as a huge finite one is
// (-inf, like -1e300, is admitted with a rising slope and stored as the largest code).
VM316_API uint16_t VM_CALL SetTriggerHys(uint8_t channel, double volts) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate =
      Gate::Present().Channel(channel).NotNaN(volts).Valid([channel, volts](const TVMx16& vm) {
        return vm316::HysteresisAdmitted(vm.GetTriggerSlope(1), ex::ChannelLevel(vm, channel),
                                         volts, vm.ChannelSensitivity(channel));
      });
  if (!gate) return gate.Status();
  gate->SetTriggerHysteresis(channel,
                             vm316::HysteresisToCode(volts, gate->ChannelSensitivity(channel)));
  return StatusOk;
}

// Without an instrument the answer is 1, which a host cannot tell from a 1 ms time-out.
VM316_API int32_t VM_CALL GetTriggerTimeOut(void) {
  VM316_EXPORT_ENTRY(1);
  const Gate gate = Gate::Present();
  if (!gate) return 1;
  if (gate->rTrigTimeOut == ex::kNoTimeOut) return -1;
  return vm316::RoundTo<int32_t>(gate->rTrigTimeOut * ex::kMsPerSecond);
}

VM316_API uint16_t VM_CALL SetTriggerTimeOut(uint32_t milliseconds) {
  VM316_EXPORT_ENTRY(StatusNoHardware);
  const Gate gate = Gate::Present();
  if (!gate) return gate.Status();
  gate->SetTrigTimeOut(milliseconds == ex::kNoTimeOutMs
                           ? ex::kNoTimeOut
                           : static_cast<long double>(milliseconds) / ex::kMsPerSecond);
  return StatusOk;
}
