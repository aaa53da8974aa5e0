// The trigger settings: source, slope per slot (slot 0 is the external input), level and
// hysteresis as comparator codes of the channel's current range, and the time-out. The setters
// store whatever they are given; the admission rules live in trigger_codes.cpp.
#include "instrument/vmx16.h"

namespace vm316 {

void TVMx16::SetTriggerSource(TTrigSource source) {
  if (source == tsTriggerSource) return;
  tsTriggerSource = source;
  SettingsChanged();
}

void TVMx16::SetTriggerSlope(int slot, std::uint8_t slope) {
  if (!IsChannelSlot(slot) || slope == TriggerSlope[slot]) return;
  TriggerSlope[slot] = slope;
  SettingsChanged();
}

std::uint8_t TVMx16::GetTriggerSlope(int slot) const {
  return IsChannelSlot(slot) ? TriggerSlope[slot] : 0;
}

void TVMx16::SetTriggerLevel(int channel, std::int32_t code) {
  if (!IsChannelSlot(channel) || code == TriggerLevel[channel]) return;
  TriggerLevel[channel] = code;
  SettingsChanged();
}

std::int32_t TVMx16::GetTriggerLevel(int channel) const {
  return IsChannelSlot(channel) ? TriggerLevel[channel] : 0;
}

void TVMx16::SetTriggerHysteresis(int channel, std::int32_t code) {
  if (!IsChannelSlot(channel) || code == TriggerHysteresis[channel]) return;
  TriggerHysteresis[channel] = code;
  SettingsChanged();
}

std::int32_t TVMx16::GetTriggerHysteresis(int channel) const {
  return IsChannelSlot(channel) ? TriggerHysteresis[channel] : 0;
}

void TVMx16::SetTrigTimeOut(long double seconds) {
  // A negative time-out stands for none; the sequencer decides what it means when arming.
  if (seconds == rTrigTimeOut) return;
  rTrigTimeOut = seconds;
  SettingsChanged();
}

}  // namespace vm316
