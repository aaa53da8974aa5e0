// A host that calls back into the library from inside one of its calls (a Cancel button on the
// progress dialog, a message handler that closes on any message box, a window procedure), and
// a host that calls from the wrong thread: the call in progress never loses what it uses.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim_session.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vm316.h"
#include "vm316_host.h"

namespace vm316::testing {
namespace {

constexpr uint32_t kWmDeviceArrived = 0x400 + 13;

// The host's message handler: at the first notice of the given kind it runs the host's calls.
class ReentrantHandler {
 public:
  ReentrantHandler(int kind, std::function<void()> calls) : kind_(kind), calls_(std::move(calls)) {
    vm316_set_message_handler(&ReentrantHandler::Receive, this);
  }
  ~ReentrantHandler() { vm316_set_message_handler(nullptr, nullptr); }
  ReentrantHandler(const ReentrantHandler&) = delete;
  ReentrantHandler& operator=(const ReentrantHandler&) = delete;
  bool ran() const { return ran_; }

 private:
  static void Receive(int kind, const char*, const char*, void* context) {
    auto* self = static_cast<ReentrantHandler*>(context);
    if (kind != self->kind_ || self->ran_) return;
    self->ran_ = true;
    self->calls_();
  }
  int kind_;
  std::function<void()> calls_;
  bool ran_ = false;
};

class ReentryTest : public ::testing::Test {
 protected:
  void TearDown() override { ExitInstrument(); }
  // No calibration of the day here: InitInstrument calibrates, behind its progress notice.
  ScopedTempCwd cwd_;
  ScopedEnv env_;
};

// What the handler does, and what it and the outer InitInstrument must answer.
struct Reentry {
  const char* what;
  const char* fault;  // VM316_SIM_FAULT of the board
  int notice;         // the notice at which the handler calls in
  bool closes;        // the handler's calls close the instrument
};

// ExitInstrument (and what a host does next) from every place of the bring-up where the host's
// code runs. Before, each freed the instance under the calibration (heap-use-after-free in
// SuspendSettingsNotify and WriteRelayWord).
TEST_F(ReentryTest, ExitAndInitFromTheHandlerDuringBringUpFreeNothingInUse) {
  const Reentry cases[] = {
      {"exit at the progress notice", "", VM316_NOTICE_PROGRESS_SHOW, true},
      {"exit at the calibration-failure box", "dead-converter2", VM316_NOTICE_MESSAGE_BOX, true},
      {"exit at the beep", "dead-converter2", VM316_NOTICE_BEEP, true},
      {"exit at the driver-missing box", "no-driver", VM316_NOTICE_MESSAGE_BOX, false},
      {"exit at the progress window's end", "", VM316_NOTICE_PROGRESS_HIDE, true},
  };
  for (const Reentry& c : cases) {
    SCOPED_TRACE(c.what);
    ExitInstrument();
    std::filesystem::remove("Vemora1.Cal");
    env_.Set("VM316_SIM_FAULT", c.fault);
    uint16_t exit_status = 99;
    uint16_t nested_init = 99;
    uint16_t channels_status = 99;
    uint16_t channels = 77;
    ReentrantHandler handler(c.notice, [&] {
      exit_status = ExitInstrument();
      channels_status = GetNrChannels(&channels);
      nested_init = InitInstrument(kSimBase);
    });
    const uint16_t outer = InitInstrument(kSimBase);
    ASSERT_TRUE(handler.ran());
    EXPECT_EQ(exit_status, StatusOk);
    EXPECT_EQ(channels_status, StatusNoHardware);  // closed at once for every export
    EXPECT_EQ(channels, 77);
    EXPECT_EQ(nested_init, StatusNoHardware);  // no new instrument beneath the bring-up
    if (c.closes) {
      EXPECT_EQ(outer, StatusNoHardware);
    }
    EXPECT_EQ(GetNrChannels(&channels), StatusNoHardware);
  }
  // Once the outer call has returned, the library opens an instrument as ever.
  env_.Set("VM316_SIM_FAULT", "");
  vm316_set_message_handler(nullptr, nullptr);
  EXPECT_EQ(InitInstrument(kSimBase), StatusOk);
  EXPECT_EQ(StartMeasurement(), StatusOk);
}

// The hidden window's handler shows a message box; a handler that closes the instrument there
// would destroy the window whose handler is running, and the timer it has just started.
TEST_F(ReentryTest, ExitFromTheHandlerOfTheHiddenWindowsMessageBox) {
  SeedCalibration();
  ASSERT_EQ(InitInstrument(kSimBase), StatusOk);
  ReentrantHandler handler(VM316_NOTICE_MESSAGE_BOX, [] {
    EXPECT_EQ(ExitInstrument(), StatusOk);
    EXPECT_EQ(vm316_post_message(kWmDeviceArrived, 0, 0), VM316_POST_DONE);  // window still up
    EXPECT_EQ(vm316_pump_messages(0), 1u);  // and dispatching nested: no second box
  });
  ASSERT_EQ(vm316_post_message(kWmDeviceArrived, 0, 0), VM316_POST_DONE);
  EXPECT_EQ(vm316_pump_messages(0), 1u);
  ASSERT_TRUE(handler.ran());
  EXPECT_EQ(vm316_post_message(kWmDeviceArrived, 0, 0), VM316_POST_NO_WINDOW);
  EXPECT_EQ(vm316_pump_messages(50), 0u);  // no timer of a closed instrument ticks
}

// Another thread finds no instrument and changes nothing, ExitInstrument included; the owner
// goes on, and once it has closed, another thread may open.
TEST_F(ReentryTest, CallsFromAnotherThreadAreRefusedAndTouchNothing) {
  SeedCalibration();
  ASSERT_EQ(InitInstrument(kSimBase), StatusOk);
  double sensitivity = 2.0;
  ASSERT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
  std::thread foreign([] {
    uint16_t channels = 77;
    double volts = 5.0;
    EXPECT_EQ(ExitInstrument(), StatusNoHardware);
    EXPECT_EQ(InitInstrument(kSimBase), StatusNoHardware);
    EXPECT_EQ(GetNrChannels(&channels), StatusNoHardware);
    EXPECT_EQ(SetSensitivity(1, &volts), StatusNoHardware);
    EXPECT_EQ(StartMeasurement(), StatusNoHardware);
    EXPECT_EQ(DoMeasure(-1), StatusNoHardware);
    EXPECT_EQ(GetRecordLength(), 0);
    EXPECT_EQ(GetTriggerTimeOut(), 1);
    EXPECT_EQ(GetDCLevelStatus(), 1);
    EXPECT_EQ(ADC_Ready(), 0);
    EXPECT_EQ(GetSampleFrequencyF(), 0.0);
    EXPECT_EQ(vm316_pump_messages(0), 0u);
    EXPECT_EQ(vm316_post_message(kWmDeviceArrived, 0, 0), VM316_POST_NO_WINDOW);
    EXPECT_EQ(channels, 77);
    EXPECT_EQ(volts, 5.0);
  });
  foreign.join();
  ASSERT_EQ(GetSensitivity(1, &sensitivity), StatusOk);
  EXPECT_EQ(sensitivity, 2.0);
  EXPECT_EQ(StartMeasurement(), StatusOk);
  ASSERT_EQ(ExitInstrument(), StatusOk);
  std::thread next_owner([] {
    EXPECT_EQ(InitInstrument(kSimBase), StatusOk);
    EXPECT_EQ(ExitInstrument(), StatusOk);
  });
  next_owner.join();
}

// An owner that ends without ExitInstrument: the other exports still find no instrument, but
// InitInstrument takes it over as it stands (settings and acquisition kept, the timer ticking
// on the new owner's pump), and so does ExitInstrument, which closes it.
TEST_F(ReentryTest, AThreadTakesOverTheInstrumentOfAnOwnerThatEnded) {
  SeedCalibration();
  for (const bool by_init : {true, false}) {
    SCOPED_TRACE(by_init ? "InitInstrument" : "ExitInstrument");
    std::thread owner([] {
      ASSERT_EQ(InitInstrument(kSimBase), StatusOk);
      double sensitivity = 2.0;
      EXPECT_EQ(SetSensitivity(1, &sensitivity), StatusOk);
      EXPECT_EQ(DoMeasure(-1), StatusOk);
    });
    owner.join();
    uint16_t channels = 0;
    EXPECT_EQ(GetNrChannels(&channels), StatusNoHardware);
    if (!by_init) {
      EXPECT_EQ(ExitInstrument(), StatusOk);
      EXPECT_EQ(vm316_pump_messages(50), 0u);  // no timer of the closed instrument ticks
      EXPECT_EQ(InitInstrument(kSimBase), StatusOk);
      EXPECT_EQ(ExitInstrument(), StatusOk);
      continue;
    }
    EXPECT_EQ(InitInstrument(kSimBase), StatusOk);
    double sensitivity = 0;
    EXPECT_EQ(GetSensitivity(1, &sensitivity), StatusOk);
    EXPECT_EQ(sensitivity, 2.0);
    EXPECT_GT(vm316_pump_messages(50), 0u);  // the continuous acquisition goes on
    EXPECT_EQ(ExitInstrument(), StatusOk);
  }
}

}  // namespace
}  // namespace vm316::testing
