// TEMPORARY stand-ins while the concerns are being written. Whoever implements one of these in
// its own file removes it here. This file goes away when it is empty.
#include "instrument/vmx16.h"

namespace vm316 {

void TVMx16::SetSampleFrequencyValue(long double x) {
  if (x == LastSetFrequency) return;
  LastSetFrequency = x;
  ClockFrequency = x;
  SettingsChanged();
}

void TVMx16::SetTrigTimeOut(long double seconds) {
  if (seconds == rTrigTimeOut) return;
  rTrigTimeOut = seconds;
  SettingsChanged();
}

void TVMx16::SetAutoRanging(int channel, bool on) { AutoRanging[channel] = on; }

void TVMx16::StartTimer() {
  AcquisitionTimer->SetEnabled(true);
  Armed = false;
}
void TVMx16::StopTimer() { AcquisitionTimer->SetEnabled(false); }
void TVMx16::AcquisitionTimerTick() {}
void TVMx16::SetAcquisitionMode(TAcquisitionMode mode) { amAcquisitionMode = mode; }

bool TVMx16::BringUp() {
  StopTimer();
  return false;
}
void TVMx16::Stop() { StopTimer(); }

}  // namespace vm316
