#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "instrument/frontend.h"
#include "instrument/vmx16.h"
#include "platform/system.h"
#include "support/message_capture.h"
#include "support/recording_backend.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

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

// From construction to destruction, through a calibrating bring-up and a measurement, no port
// outside the board's eight is touched: nothing is programmed before the base is known (the
// ports of address 0 are the PC's DMA controller). Up to the top of the I/O space.
TEST(PortsTouched, NoneOutsideTheBoardsEightFromConstructionToDestruction) {
  testing::ScopedTempCwd cwd;
  for (const std::uint16_t base : {std::uint16_t{0x378}, std::uint16_t{0xFFF8}}) {
    SCOPED_TRACE(base);
    testing::ScopedEnv env;
    env.Set("VM316_PORT", "sim").Set("VM316_CLOCK", "virtual").Set("VM316_MESSAGES", "quiet");
    env.Set("VM316_SIM_BASE", std::to_string(base)).Unset("VM316_SIM_FAULT");
    const auto board = platform::CreatePortBackend(platform::ReadEnvironment());
    std::vector<PortAccess> log;
    auto recording = std::make_unique<RecordingBackend>(&log);
    recording->forward = board.get();
    auto vm = std::make_unique<TVMx16>(std::move(recording));
    for (int channel = 1; channel <= 4; ++channel) vm->SetAutoRanging(channel, false);
    vm->SetAcquisitionMode(amHold);
    vm->SetHardwareAddress(base);
    ASSERT_TRUE(vm->BringUp());
    vm->SetTrigTimeOut(0.01L);
    vm->MeasureOnce();
    EXPECT_TRUE(vm->HardwarePresent);
    vm->Stop();
    vm.reset();
    ASSERT_FALSE(log.empty());
    for (const PortAccess& access : log) {
      ASSERT_TRUE(access.port >= base && access.port - base < 8)
          << (access.write ? "write " : "read ") << access.port;
    }
  }
}

// On real ports a base whose eight ports would wrap past 0xFFFF is no board: nothing is looked
// for there.
TEST(PortsTouched, OnRealPortsABaseThatWrapsIsAbsentAndUntouched) {
  for (const std::uint16_t base : {std::uint16_t{0xFFF9}, std::uint16_t{0xFFFF}}) {
    std::vector<PortAccess> log;
    auto backend = std::make_unique<RecordingBackend>(&log);
    backend->reach = platform::PortReach::kHardware;
    TVMx16 vm(std::move(backend));
    vm.SetHardwareAddress(base);
    EXPECT_FALSE(vm.BringUp()) << base;
    EXPECT_FALSE(vm.HardwarePresent);
    EXPECT_TRUE(log.empty()) << base;
  }
}

}  // namespace
}  // namespace vm316
