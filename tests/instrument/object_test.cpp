#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "instrument/frontend.h"
#include "instrument/vmx16.h"
#include "support/message_capture.h"
#include "support/recording_backend.h"

namespace vm316 {
namespace {

using testing::PortAccess;
using testing::RecordingBackend;

std::unique_ptr<TVMx16> MakeInstrument(std::vector<PortAccess>* log = nullptr,
                                       bool driver_ok = true) {
  return std::make_unique<TVMx16>(std::make_unique<RecordingBackend>(log, driver_ok));
}

TEST(Construction, SetsEveryDefaultOfTheModel) {
  auto vm = MakeInstrument();
  EXPECT_TRUE(vm->PortAccessOk);
  EXPECT_FALSE(vm->HardwarePresent);
  EXPECT_EQ(vm->ModelCode, 3);
  EXPECT_EQ(vm->ChannelCount, 2);
  EXPECT_EQ(vm->Resolution, 8);
  EXPECT_EQ(vm->ResolutionCount, 1);
  EXPECT_EQ(vm->Resolutions[0], 12);
  EXPECT_EQ(vm->MaxRecordLength, 32760);
  EXPECT_EQ(vm->RangeCount, 12);
  EXPECT_EQ(vm->Sensitivities[1], 0.02L);
  EXPECT_EQ(vm->Sensitivities[12], 80.0L);
  EXPECT_EQ(vm->DcLevelLimits[6], 4.0L);
  EXPECT_EQ(vm->mMeasureMode, mCh12);
  EXPECT_EQ(vm->ChannelMask, 3);
  EXPECT_EQ(vm->amAcquisitionMode, amContinuous);
  EXPECT_EQ(vm->tmTransferMode, tmBlock);
  EXPECT_FALSE(vm->bEnableMeasurements);
  EXPECT_EQ(vm->SampleFreq(), 20000000.0L);
  EXPECT_EQ(vm->rTrigTimeOut, 1.0L);
  EXPECT_EQ(vm->tsTriggerSource, tsCh1);
  EXPECT_EQ(vm->lRecordLength, 512);
  EXPECT_EQ(vm->lPreSamples, 256);
  EXPECT_EQ(vm->lPostSamples, 256);
  EXPECT_EQ(vm->lPreSamples + vm->lPostSamples, vm->lRecordLength);
  EXPECT_EQ(vm->rTransSampleTime, 1.0L);
  EXPECT_EQ(vm->nCalculations, 1);
  EXPECT_EQ(vm->nAverageNumber, 1);
  EXPECT_FALSE(vm->NotifySettings);
  EXPECT_FALSE(vm->Armed);
  EXPECT_TRUE(vm->SettingsDirty);
  EXPECT_FALSE(vm->AcquisitionTimer->Enabled());
  EXPECT_EQ(vm->AcquisitionTimer->Interval(), 6u);
  for (int channel = 1; channel <= 4; ++channel) {
    EXPECT_EQ(vm->RangeIndex[channel], 6);
    EXPECT_EQ(vm->Coupling[channel], 0);
    EXPECT_EQ(vm->DcLevel[channel], 0.0L);
    EXPECT_TRUE(vm->AutoRanging[channel]);
    EXPECT_EQ(vm->TriggerLevel[channel], 127);
    EXPECT_EQ(vm->TriggerHysteresis[channel], 10);
    EXPECT_EQ(vm->TriggerSlope[channel], SlopeRising);
  }
  EXPECT_EQ(vm->OffsetDacBase[1], -1.0L);
  EXPECT_EQ(vm->OffsetDacBase[2], -1.0L);
  EXPECT_EQ(vm->OutputBuffer[1].size(), 132001u);
  EXPECT_EQ(vm->RawBuffer[2].size(), 132001u);
  EXPECT_EQ(vm->Cursor(), "nvt");
  EXPECT_EQ(vm->Hint(), "nvt");
  EXPECT_EQ(vm->Tag(), "nvt");
}

TEST(Construction, RefusedPortAccessLeavesTheObjectWithoutHardware) {
  testing::MessageCapture capture;
  std::vector<PortAccess> log;
  auto vm = MakeInstrument(&log, /*driver_ok=*/false);
  EXPECT_FALSE(vm->PortAccessOk);
  EXPECT_TRUE(log.empty()) << "a port was touched without access";
  EXPECT_EQ(capture.Texts().size(), 1u);
}

TEST(SettingsNotification, CallsTheEventOnlyWhileNotificationsAreOn) {
  auto vm = MakeInstrument();
  int calls = 0;
  vm->OnSettingsChanged = [&](TVMx16&) { ++calls; };
  vm->tsTriggerSource = tsExternal;
  vm->SettingsDirty = false;
  vm->SettingsChanged();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(vm->ActiveTriggerSource, tsExternal);
  EXPECT_TRUE(vm->SettingsDirty);

  vm->Armed = true;
  vm->ResumeSettingsNotify();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(vm->NotifySettings);
  EXPECT_FALSE(vm->Armed);
  vm->SettingsChanged();
  EXPECT_EQ(calls, 2);

  vm->SuspendSettingsNotify();
  vm->SettingsChanged();
  EXPECT_EQ(calls, 2);
}

TEST(HardwareAddress, OnlyANewValueRecomputesThePortSetAndRelayTables) {
  auto vm = MakeInstrument();
  vm->SetHardwareAddress(0x378);
  EXPECT_EQ(vm->Io.Ports().index[0], 0x378);
  RangeBitsCh1[1] = 0x40204;  // as a calibration loop patches it

  vm->SetHardwareAddress(0x378);
  EXPECT_EQ(RangeBitsCh1[1], 0x40204u) << "the same address must recompute nothing";

  vm->SetHardwareAddress(0xFFFC);
  EXPECT_EQ(vm->Io.Ports().index[1], 0x0000);
  EXPECT_EQ(RangeBitsCh1[1], 0xA04u);
}

}  // namespace
}  // namespace vm316
