// A host whose message handler calls back into the library: each input installs a handler that,
// at notices the input picks (the progress window, a message box, a beep), runs export calls
// the input picks, ExitInstrument and InitInstrument among them, while the outer call (a
// bring-up that may calibrate, the hidden window's handler, a timer tick) is still inside the
// library. Each input starts from no instrument and ends with ExitInstrument, so that a finding
// replays alone. A use after free, a leak or a call that does not end is a finding.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "fuzz_input.h"
#include "fuzz_setup.h"
#include "vm316.h"
#include "vm316_host.h"

namespace {

constexpr uint32_t kWmDeviceArrived = 0x400 + 13;
constexpr uint32_t kWmDeviceChange = 537;
constexpr int kMaxOuterCalls = 24;
constexpr int kMaxHandlerCalls = 6;
constexpr int kMaxHandlerDepth = 2;

class Input : public FuzzInput {
 public:
  using FuzzInput::FuzzInput;
  // The values a re-entered setter takes: fewer than the export-sequence harness's edges, so
  // that its short budget of calls is spent on the re-entry rather than on refusals.
  double Real() {
    static constexpr double kValues[] = {0.0,
                                         0.02,
                                         0.8,
                                         2.0,
                                         -0.3,
                                         80.0,
                                         1e300,
                                         -1e300,
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity(),
                                         std::numeric_limits<double>::quiet_NaN(),
                                         0.003125};
    return kValues[Byte() % std::size(kValues)];
  }
};

struct Run {
  Input* in = nullptr;
  uint8_t notice_mask = 0;  // the notice kinds the handler answers (bit per kind)
  int handler_depth = 0;
  int handler_runs = 0;
};
Run run;

std::array<uint16_t, kFuzzBufferSamples> raw1;
std::array<uint16_t, kFuzzBufferSamples> raw2;
std::array<double, kFuzzBufferSamples> volts1;
std::array<double, kFuzzBufferSamples> volts2;

void InstallHandler();

// The day's calibration, kept at start-up, back in the current directory.
void PutBackCalibration() {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::copy_file("kept1.Cal", "Vemora1.Cal", fs::copy_options::overwrite_existing, error);
  fs::copy_file("kept2.Cal", "Vemora2.Cal", fs::copy_options::overwrite_existing, error);
}

// Keeps every blocking call short on the virtual clock.
void ApplyBounds() {
  SetTriggerTimeOut(2);
  SetRecordLength(256);
  SetPostSamples(128);
  uint32_t frequency = 1000000;
  SetSampleFrequency(&frequency);
}

// One export call of any kind; the ones that destroy, replace or drive the instrument come
// often.
void CallOne(Input& in) {
  double real = 0;
  uint16_t u16 = 0;
  uint8_t u8 = 0;
  switch (in.Byte() % 20) {
    case 0:
    case 1:
      ExitInstrument();
      break;
    case 2:
      // Only the input's first bring-up calibrates: a failing calibration writes no files, and
      // calibrating again at every reopening would only make the input slow.
      PutBackCalibration();
      InitInstrument(kSimBase);
      ApplyBounds();
      break;
    case 3:
      StartMeasurement();
      break;
    case 4:
      DoMeasure(static_cast<int32_t>(in.Byte() % 3) - 1);
      break;
    case 5:
      ADC_Start();
      ADC_Ready();
      ADC_ForceTrig();
      break;
    case 6:
      ADC_GetData(raw1.data(), raw2.data());
      ADC_GetDataVolt(volts1.data(), volts2.data());
      break;
    case 7:
      GetMeasurement(volts1.data(), volts2.data());
      GetMeasurementRaw(raw1.data(), raw2.data());
      break;
    case 8:
      vm316_pump_messages(in.Byte() % 8);
      break;
    case 9:
      vm316_post_message(in.Byte() % 2 ? kWmDeviceArrived : kWmDeviceChange, 0, 0);
      break;
    case 10:
      real = in.Real();
      SetSensitivity(static_cast<uint8_t>(1 + in.Byte() % 2), &real);
      break;
    case 11:
      SetTriggerLevel(static_cast<uint8_t>(1 + in.Byte() % 2), in.Real());
      SetTriggerHys(static_cast<uint8_t>(1 + in.Byte() % 2), in.Real());
      break;
    case 12:
      SetDcLevel(static_cast<uint8_t>(1 + in.Byte() % 2), in.Real());
      break;
    case 13:
      SetRecordLength(in.U32() % 600);
      SetPostSamples(in.U32() % 600);
      break;
    case 14:
      SetMeasureMode(in.Byte() % 17);
      SetAutoRanging(static_cast<uint8_t>(1 + in.Byte() % 2), in.Byte() % 2);
      break;
    case 15:
      SetTriggerSource(in.Byte() % 10);
      SetTriggerMode(in.Byte() % 3);
      break;
    case 16:
      GetNrChannels(&u16);
      GetSensitivity(1, &real);
      GetTriggerSource(&u8);
      break;
    case 17:
      SetSampleFrequencyF(&(real = 100000.0 + in.Byte() * 10000.0));
      break;
    case 18:
      // The handler removed or put back while it runs.
      if (in.Byte() % 2 == 0) {
        vm316_set_message_handler(nullptr, nullptr);
      } else {
        InstallHandler();
      }
      break;
    case 19:
      SetCoupling(static_cast<uint8_t>(1 + in.Byte() % 2), in.Byte() % 2);
      break;
  }
}

void Handler(int kind, const char* /*caption*/, const char* /*text*/, void* /*context*/) {
  if ((run.notice_mask & (1u << kind)) == 0 || run.handler_depth >= kMaxHandlerDepth) return;
  ++run.handler_depth;
  ++run.handler_runs;
  Input& in = *run.in;
  // Inside a bring-up the instrument still has its default settings: a blocking measurement
  // would record a second at 20 MHz on the simulated board.
  ApplyBounds();
  const int calls = 1 + in.Byte() % kMaxHandlerCalls;
  for (int i = 0; i < calls && !in.Empty(); ++i) CallOne(in);
  --run.handler_depth;
}

void InstallHandler() {
  vm316_set_message_handler(&Handler, nullptr);
}

// The fault of this input's board: mostly none; the ones that show boxes or fail a calibration.
const char* FaultOf(uint8_t b) {
  switch (b % 8) {
    case 0:
      return "no-driver";
    case 1:
      return "dead-converter2";
    case 2:
      return "unplug-after=3000";
    default:
      return "";
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  CalibrateInFreshDirectory("vm316-reentry-XXXXXX");
  // The day's calibration, kept to put back before every input that does not calibrate.
  std::filesystem::copy_file("Vemora1.Cal", "kept1.Cal");
  std::filesystem::copy_file("Vemora2.Cal", "kept2.Cal");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  run = Run{};
  run.in = &in;
  run.notice_mask = in.Byte();
  const uint8_t setup = in.Byte();
  setenv("VM316_SIM_FAULT", FaultOf(setup), 1);
  // One input in 32 calibrates at bring-up (behind the progress notice); the calibration is
  // the slowest part of a run.
  PutBackCalibration();
  if ((setup >> 3) % 32 == 0) {
    std::error_code error;
    std::filesystem::remove("Vemora1.Cal", error);
  }
  InstallHandler();
  InitInstrument(kSimBase);
  ApplyBounds();
  for (int call = 0; call < kMaxOuterCalls && !in.Empty(); ++call) {
    InstallHandler();
    CallOne(in);
    vm316_pump_messages(1);
  }
  vm316_set_message_handler(nullptr, nullptr);
  ExitInstrument();
  return 0;
}
