// The life cycle of the library through its C interface, as a host sees it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/message_capture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vm316.h"
#include "vm316_host.h"

namespace {

using vm316::testing::MessageCapture;
using vm316::testing::ScopedEnv;
using vm316::testing::ScopedTempCwd;

constexpr uint16_t kBase = 0x378;

class LifecycleTest : public ::testing::Test {
 protected:
  void TearDown() override { ExitInstrument(); }
  ScopedTempCwd cwd_;
  ScopedEnv env_{"VM316_SIM_FAULT", ""};
};

TEST_F(LifecycleTest, WithoutAnInstanceEveryIdentificationExportSaysNoHardware) {
  int32_t serial = 42;
  int32_t date = 42;
  EXPECT_EQ(GetSerialNumber(&serial), StatusNoHardware);
  EXPECT_EQ(GetCalibrationDate(&date), StatusNoHardware);
  EXPECT_EQ(serial, 42);
  EXPECT_EQ(date, 42);
  EXPECT_EQ(ExitInstrument(), StatusOk);  // nothing to exit: still fine
  EXPECT_EQ(ExitInstrument(), StatusOk);
}

TEST_F(LifecycleTest, APresentInstrumentHasNoSerialNumberAndNoCalibrationDate) {
  ASSERT_EQ(InitInstrument(kBase), StatusOk);
  int32_t serial = 42;
  int32_t date = 42;
  EXPECT_EQ(GetSerialNumber(&serial), StatusNotSupported);
  EXPECT_EQ(serial, 0);
  EXPECT_EQ(GetCalibrationDate(&date), StatusNotSupported);
  EXPECT_EQ(date, 42);
}

TEST_F(LifecycleTest, ASecondInitKeepsTheFirstInstrumentAndIgnoresTheAddress) {
  ASSERT_EQ(InitInstrument(kBase), StatusOk);
  // Nothing answers at 0x300: a second bring-up there would fail.
  EXPECT_EQ(InitInstrument(0x300), StatusOk);
  int32_t serial = 1;
  EXPECT_EQ(GetSerialNumber(&serial), StatusNotSupported);
}

TEST_F(LifecycleTest, NoBoardAtTheAddressStaysAbsentUntilExit) {
  EXPECT_EQ(InitInstrument(0x300), StatusNoHardware);
  EXPECT_EQ(InitInstrument(kBase), StatusNoHardware);  // the absent instance is kept
  int32_t serial = 42;
  EXPECT_EQ(GetSerialNumber(&serial), StatusNoHardware);
  EXPECT_EQ(serial, 42);
  EXPECT_EQ(ExitInstrument(), StatusOk);
  EXPECT_EQ(InitInstrument(kBase), StatusOk);  // a fresh instance finds the board
}

TEST_F(LifecycleTest, ReInitialisationAfterExitBringsTheBoardUpAgain) {
  ASSERT_EQ(InitInstrument(kBase), StatusOk);
  EXPECT_EQ(ExitInstrument(), StatusOk);
  int32_t serial = 42;
  EXPECT_EQ(GetSerialNumber(&serial), StatusNoHardware);
  ASSERT_EQ(InitInstrument(kBase), StatusOk);
  EXPECT_EQ(GetSerialNumber(&serial), StatusNotSupported);
}

TEST_F(LifecycleTest, EachInitReadsTheEnvironmentAfresh) {
  {
    ScopedEnv absent("VM316_SIM_FAULT", "absent");
    EXPECT_EQ(InitInstrument(kBase), StatusNoHardware);
  }
  ExitInstrument();
  EXPECT_EQ(InitInstrument(kBase), StatusOk);
}

TEST_F(LifecycleTest, RefusedPortAccessShowsTheDriverMessageAndFindsNoBoard) {
  MessageCapture capture;
  ScopedEnv no_driver("VM316_SIM_FAULT", "no-driver");
  EXPECT_EQ(InitInstrument(kBase), StatusNoHardware);
  ASSERT_EQ(capture.Texts().size(), 1u);
  EXPECT_EQ(capture.Texts()[0].substr(0, 41), "Linux requires root or the CAP_SYS_RAWIO ");
}

TEST_F(LifecycleTest, InitRegistersTheFourMessageNamesInOrder) {
  ASSERT_EQ(InitInstrument(kBase), StatusOk);
  const uint32_t first = vm316_register_window_message("Vemora: MeasurementReady");
  EXPECT_GE(first, 0xC000u);
  EXPECT_EQ(vm316_register_window_message("Vemora: TransUpdate"), first + 1);
  EXPECT_EQ(vm316_register_window_message("Vemora: TransReady"), first + 2);
  EXPECT_EQ(vm316_register_window_message("Vemora: SettingChanged"), first + 3);
}

TEST_F(LifecycleTest, DeviceArrivedStartsTheTimerAndSaysSo) {
  MessageCapture capture;
  ASSERT_EQ(InitInstrument(kBase), StatusOk);
  EXPECT_EQ(vm316_post_message(537, 0, 0), 1);  // WM_DEVICECHANGE: handled, does nothing
  EXPECT_EQ(vm316_pump_messages(0), 1u);
  EXPECT_TRUE(capture.Texts().empty());
  EXPECT_EQ(vm316_pump_messages(20), 0u);  // the acquisition timer is off

  EXPECT_EQ(vm316_post_message(0x400 + 13, 0, 0), 1);
  EXPECT_EQ(vm316_pump_messages(0), 1u);
  ASSERT_EQ(capture.Texts().size(), 1u);
  EXPECT_EQ(capture.Texts()[0], "WMDeviceArrived ");
  EXPECT_GT(vm316_pump_messages(20), 0u);  // now the timer ticks
}

TEST_F(LifecycleTest, TheHiddenWindowGoesWithExit) {
  ASSERT_EQ(InitInstrument(kBase), StatusOk);
  ExitInstrument();
  EXPECT_EQ(vm316_post_message(0x400 + 13, 0, 0), 0);
}

// A separate copy of the library, loaded and unloaded with an instrument still open: the
// unload must close it (under the sanitizers a left-over instrument shows up as a leak).
TEST(LibraryUnload, ClosesAnOpenInstrument) {
  ScopedTempCwd cwd;
  const std::filesystem::path copy = cwd.path() / "libvm316-copy.so";
  std::filesystem::copy_file(VM316_LIBRARY_PATH, copy);
  void* library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using InitFn = uint16_t (*)(uint16_t);
  using SerialFn = uint16_t (*)(int32_t*);
  auto init = reinterpret_cast<InitFn>(dlsym(library, "InitInstrument"));
  auto serial_number = reinterpret_cast<SerialFn>(dlsym(library, "GetSerialNumber"));
  ASSERT_NE(init, nullptr);
  ASSERT_NE(serial_number, nullptr);
  ASSERT_EQ(init(kBase), StatusOk);
  int32_t serial = 1;
  EXPECT_EQ(serial_number(&serial), StatusNotSupported);
  EXPECT_EQ(dlclose(library), 0);

  // The copy is gone; the library this test links against never had an instrument.
  EXPECT_EQ(GetSerialNumber(&serial), StatusNoHardware);
}

}  // namespace
