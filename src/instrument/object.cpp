#include <algorithm>

#include "instrument/frontend.h"
#include "instrument/vmx16.h"
#include "platform/system.h"

namespace vm316 {

TVMx16::TVMx16(void* /*owner*/) {
  Create(platform::CreatePortBackend(platform::ReadEnvironment()));
}

TVMx16::TVMx16(std::unique_ptr<platform::PortBackend> backend, void* /*owner*/) {
  Create(std::move(backend));
}

void TVMx16::Create(std::unique_ptr<platform::PortBackend> backend) {
  backend_ = std::move(backend);
  Io.Attach(backend_.get());
  PortAccessOk = port::CheckPortDriver(*backend_);
  bSlowIO = false;

  MakeAcquisitionTimer(false);

  for (int channel = 1; channel <= 2; ++channel) {
    OutputBuffer[channel].assign(kSampleBufferLength, 0);
    RawBuffer[channel].assign(kSampleBufferLength, 0);
  }

  nCalculations = 1;
  nAverageNumber = 1;
  OffsetDacBase[1] = kDefaultOffsetDacBase;
  OffsetDacBase[2] = kDefaultOffsetDacBase;

  ComputePortSet();

  NotifySettings = false;
  Calibrating = false;
  HardwarePresent = false;

  ModelCode = kModelCode;
  ChannelCount = kChannelCount;
  MaxSampleFrequency = kMaxSampleFrequency;
  Resolution = kResolutionBits;
  ResolutionCount = 1;
  Resolutions.fill(0);
  Resolutions[0] = kOfferedResolution;
  RangeCount = kRangeCount;
  std::copy(std::begin(kSensitivities), std::end(kSensitivities), Sensitivities.begin());
  std::copy(std::begin(kDcLevelLimits), std::end(kDcLevelLimits), DcLevelLimits.begin());
  MaxRecordLength = kMaxRecordLength;
  DoubleRate = false;

  mMeasureMode = mCh12;
  ChannelMask = 3;

  for (int channel = 1; channel <= 4; ++channel) {
    RangeIndex[channel] = kDefaultRangeIndex;
    Coupling[channel] = 0;
    DcLevel[channel] = 0.0L;
    AutoRanging[channel] = true;
    TriggerLevel[channel] = kDefaultTriggerLevel;
    TriggerHysteresis[channel] = kDefaultTriggerHysteresis;
    TriggerSlope[channel] = SlopeRising;
  }
  TriggerSlope[0] = SlopeRising;
  DcLevelLimit[1] = DcLevelLimits[kDefaultRangeIndex];
  DcLevelLimit[2] = DcLevelLimits[kDefaultRangeIndex];

  // 20 MHz, as the rSampleFreq setter would settle it, but stored without programming the
  // clock: the base address is not known yet, and the ports of address 0 are the PC's DMA
  // controller. The recorder reset of the bring-up programs the clock once the base is set.
  ClockFrequency = kMaxSampleFrequency;
  LastSetFrequency = kMaxSampleFrequency;
  SettingsChanged();

  lRecordLength = 512;
  lPreSamples = 256;
  lPostSamples = lRecordLength - lPreSamples;

  rTransSampleTime = 1.0L;

  SetTrigTimeOut(1.0L);
  tsTriggerSource = tsCh1;

  Armed = false;
  SettingsDirty = true;

  StopTimer();
}

TVMx16::~TVMx16() {
  for (int channel = 1; channel <= 2; ++channel) {
    RawBuffer[channel] = {};
    OutputBuffer[channel] = {};
  }
  AcquisitionTimer.reset();
}

void TVMx16::MakeAcquisitionTimer(bool enabled) {
  AcquisitionTimer.reset();  // the old one first: on Windows its window goes with it
  AcquisitionTimer = std::make_unique<platform::Timer>([this] { AcquisitionTimerTick(); });
  AcquisitionTimer->SetInterval(kAcquisitionTimerIntervalMs);
  AcquisitionTimer->SetEnabled(enabled);
}

void TVMx16::MoveToCallingThread() {
  MakeAcquisitionTimer(AcquisitionTimer != nullptr && AcquisitionTimer->Enabled());
  backend_->MoveToCallingThread();
}

void TVMx16::SetHardwareAddress(std::int32_t address) {
  if (address == nHardwareAddress) return;
  nHardwareAddress = address;
  ComputePortSet();
}

void TVMx16::ComputePortSet() {
  Io.SetPorts(port::PortSet::FromBase(static_cast<std::uint16_t>(nHardwareAddress)));
  RestoreRelayTables();
}

void TVMx16::SettingsChanged() {
  ActiveTriggerSource = tsTriggerSource;
  if (OnSettingsChanged && NotifySettings) OnSettingsChanged(*this);
  SettingsDirty = true;
}

void TVMx16::SuspendSettingsNotify() { NotifySettings = false; }

void TVMx16::ResumeSettingsNotify() {
  NotifySettings = true;
  Armed = false;
  SettingsChanged();
}

long double TVMx16::RangeSensitivity(std::uint16_t range_index) const {
  return Sensitivities[range_index];
}

long double TVMx16::ChannelSensitivity(int channel) const {
  return RangeSensitivity(RangeIndex[channel]);
}

}  // namespace vm316
