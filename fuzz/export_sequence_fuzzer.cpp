// Turns its input into a sequence of export calls with arguments on the simulated board, with
// the message pump between calls, as a careless host would make them. Each input brings the
// instrument up (from the calibration files made once at start-up), optionally with a board
// fault, makes at most kMaxCalls calls and exits the instrument again, so that every input runs
// from the same state and a finding replays alone. Time-outs, sample rates and record lengths
// are clamped so that every blocking call ends within a fraction of a second of virtual time;
// a call that does not end is a finding of the run's -timeout.
//
// Inputs whose first byte is 192 or more bring the instrument up in a scratch directory instead,
// where the input plants what a hostile neighbour might leave under the calibration files' names
// and the names of a save's temporaries (a good or short file, a symlink to another file or to
// nowhere, a FIFO, a directory), may date the stamp yesterday, lower the file-size limit, and pull
// the board at any port access of detection, calibration or save. The bring-up then calibrates and
// saves, and the harness aborts (a finding) when it followed a link into another file, replaced
// or opened an entry that is no ordinary file, left a file of its own behind, or changed the
// files although InitInstrument found no board.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "fuzz_setup.h"
#include "vm316.h"
#include "vm316_host.h"

namespace {

constexpr int kMaxCalls = 48;
// Bounds that keep each call short on the virtual clock.
// The simulated board computes every sample it records while a trigger is awaited, so both
// the wait and the rate are kept small: at most 2048 samples at no less than 100 kHz (20 ms),
// a time-out of at most 5 ms at no more than 2 MHz.
constexpr uint32_t kMaxTimeOutMs = 5;
constexpr uint32_t kMaxRecordLength = 2048;
constexpr double kMinSampleFrequency = 100000.0;
constexpr double kMaxSampleFrequency = 2000000.0;
constexpr uint32_t kMaxPumpMs = 20;

class Input : public FuzzInput {
 public:
  using FuzzInput::FuzzInput;
  // A channel: mostly the two real ones, sometimes anything.
  uint8_t Channel() {
    const uint8_t b = Byte();
    return b < 200 ? static_cast<uint8_t>(1 + b % 2) : b;
  }
  // A real: an edge value of the table, or any bit pattern.
  double Real() {
    static constexpr double kEdges[] = {0.0,
                                        -0.0,
                                        0.02,
                                        0.8,
                                        1.6,
                                        -1.61,
                                        80.0,
                                        1e308,
                                        -1e308,
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::denorm_min(),
                                        20e6,
                                        0.5,
                                        -0.5};
    const uint8_t b = Byte();
    if (b < 128) return kEdges[b % std::size(kEdges)];
    if (b < 192) return (static_cast<int>(Byte()) - 128) / 64.0;
    const uint64_t bits = static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32;
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
};

struct Buffers {
  std::vector<double> volts1 = std::vector<double>(kFuzzBufferSamples);
  std::vector<double> volts2 = std::vector<double>(kFuzzBufferSamples);
  std::vector<uint16_t> raw1 = std::vector<uint16_t>(kFuzzBufferSamples);
  std::vector<uint16_t> raw2 = std::vector<uint16_t>(kFuzzBufferSamples);
};

// A pointer argument: now and then null.
template <typename T>
T* MaybeNull(Input& in, T* pointer) {
  return in.Byte() < 16 ? nullptr : pointer;
}

// The settings that keep every call of an input short, after each bring-up.
void ApplyBounds() {
  SetTriggerTimeOut(kMaxTimeOutMs);
  SetRecordLength(512);
  SetPostSamples(256);
  uint32_t frequency = 1000000;
  SetSampleFrequency(&frequency);
}

void CallOne(Input& in, Buffers& b, bool may_reopen = true) {
  double d1 = 0;
  double d2 = 0;
  uint16_t u16 = 0;
  uint16_t u16b = 0;
  uint8_t u8 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  switch (in.Byte() % 48) {
    case 0:
      StartMeasurement();
      break;
    case 1:
      GetMeasurement(MaybeNull(in, b.volts1.data()), MaybeNull(in, b.volts2.data()));
      break;
    case 2:
      GetOneMeasurement(in.I32() % 40000, MaybeNull(in, &d1), MaybeNull(in, &d2));
      break;
    case 3:
      GetMeasurementRaw(MaybeNull(in, b.raw1.data()), MaybeNull(in, b.raw2.data()));
      break;
    case 4:
      GetOneMeasurementRaw(in.I32(), MaybeNull(in, &u16), MaybeNull(in, &u16b));
      break;
    case 5:
      GetOneMeasurementRawCh(in.U16(), in.I32(), MaybeNull(in, &u16));
      break;
    case 6:
      ADC_Start();
      break;
    case 7:
      ADC_Running();
      ADC_Triggered();
      ADC_Ready();
      break;
    case 8:
      ADC_ForceTrig();
      ADC_Abort();
      break;
    case 9:
      ADC_GetData(MaybeNull(in, b.raw1.data()), MaybeNull(in, b.raw2.data()));
      break;
    case 10:
      ADC_GetDataVolt(MaybeNull(in, b.volts1.data()), MaybeNull(in, b.volts2.data()));
      break;
    case 11:
      ADC_GetDataCh(in.U16(), MaybeNull(in, b.raw1.data()));
      break;
    case 12:
      ADC_GetDataVoltCh(in.U16(), MaybeNull(in, b.volts1.data()));
      break;
    case 13:
      DoMeasure(in.I32());
      break;
    case 14:
      vm316_pump_messages(in.Byte() % (kMaxPumpMs + 1));
      break;
    case 15:
      SetMeasureMode(in.Byte());
      GetMeasureMode(MaybeNull(in, &u8));
      break;
    case 16:
      SetRecordLength(std::min(in.U32(), kMaxRecordLength + 1));
      break;
    case 17:
      SetPostSamples(in.U32() % (kMaxRecordLength + 2));
      break;
    case 18: {
      d1 = in.Real();
      // Rates are clamped; what is no number, infinite or not above zero goes as it is.
      if (d1 > 0 && d1 < kMinSampleFrequency) d1 = kMinSampleFrequency;
      if (d1 > kMaxSampleFrequency && d1 < std::numeric_limits<double>::infinity()) {
        d1 = kMaxSampleFrequency;
      }
      SetSampleFrequencyF(MaybeNull(in, &d1));
      break;
    }
    case 19: {
      u32 = std::clamp<uint32_t>(in.U32(), static_cast<uint32_t>(kMinSampleFrequency),
                                 static_cast<uint32_t>(kMaxSampleFrequency));
      if (in.Byte() < 8) u32 = 0;
      SetSampleFrequency(MaybeNull(in, &u32));
      break;
    }
    case 20:
      d1 = in.Real();
      SetSensitivity(in.Channel(), MaybeNull(in, &d1));
      break;
    case 21:
      GetSensitivity(in.Channel(), MaybeNull(in, &d1));
      break;
    case 22:
      SetAutoRanging(in.Channel(), in.Byte() % 3);
      break;
    case 23:
      GetAutoRanging(in.Channel(), MaybeNull(in, &u8));
      break;
    case 24:
      SetCoupling(in.Channel(), in.Byte() % 3);
      GetCoupling(in.Channel(), &u8);
      break;
    case 25:
      SetDcLevel(in.Channel(), in.Real());
      break;
    case 26:
      GetDcLevel(in.Channel(), MaybeNull(in, &d1));
      break;
    case 27:
      SetTriggerSource(in.Byte() % 17);
      GetTriggerSource(MaybeNull(in, &u8));
      break;
    case 28:
      SetTriggerMode(in.Byte() % 14);
      GetTriggerMode(MaybeNull(in, &u8));
      break;
    case 29:
      SetTriggerModeCh(in.Byte() % 4, in.Byte() % 14);
      break;
    case 30:
      GetTriggerModeCh(in.Byte() % 4, MaybeNull(in, &u8));
      break;
    case 31:
      SetTriggerLevel(in.Channel(), in.Real());
      break;
    case 32:
      GetTriggerLevel(in.Channel(), MaybeNull(in, &d1));
      break;
    case 33:
      SetTriggerHys(in.Channel(), in.Real());
      break;
    case 34:
      GetTriggerHys(in.Channel(), MaybeNull(in, &d1));
      break;
    case 35:
      SetTriggerTimeOut(in.U32() % (kMaxTimeOutMs + 1));
      GetTriggerTimeOut();
      break;
    case 36:
      u32 = in.U32();
      SetSquareWaveGenFrequency(MaybeNull(in, &u32));
      break;
    case 37:
      SetResolution(in.Byte());
      GetResolution(MaybeNull(in, &u8));
      break;
    case 38:
      GetAvailableSensitivities(MaybeNull(in, b.volts1.data()));
      break;
    case 39:
      GetAvailableResolutions(MaybeNull(in, b.volts1.data()));
      break;
    case 40:
      GetNrChannels(MaybeNull(in, &u16));
      GetDCLevelStatus();
      break;
    case 41:
      GetSampleFrequencyF();
      GetSampleFrequency();
      GetRecordLength();
      GetPostSamples();
      GetMaxRecordLength();
      GetMaxSampleFrequency();
      GetMaxSampleFrequencyF();
      break;
    case 42:
      GetSerialNumber(MaybeNull(in, &i32));
      GetCalibrationDate(MaybeNull(in, &i32));
      GetExternalClock(MaybeNull(in, &u16));
      SetExternalClock(in.U16());
      break;
    case 43:
      SetTransferMode(in.I32());
      GetTransferMode(MaybeNull(in, &i32));
      SetDataReadyCallback(in.U32());
      SetDataReadyEvent(in.U32());
      break;
    case 44:
      GetFuncGenOutputOn(MaybeNull(in, &u16));
      GetFuncGenEnable(MaybeNull(in, &u16));
      SetFuncGenFrequency(MaybeNull(in, &d1));
      FillFuncGenMemory(in.I32(), nullptr);
      SetFuncGenAmplitude(in.Real());
      GetFuncGenMaxAmplitude(nullptr);
      break;
    case 45:
      I2CWrite(in.U32(), in.U32(), in.U32());
      I2CReadNoStop(in.U32(), in.U32(), in.U32());
      GetOneDigitalValue(in.U32(), nullptr);
      GetDigitalInputValues(nullptr);
      break;
    // A host that closes and reopens, or posts the window messages another program might.
    case 46:
      if (!may_reopen) break;
      ExitInstrument();
      InitInstrument(in.Byte() < 200 ? kSimBase : in.U16());
      ApplyBounds();
      break;
    case 47:
      vm316_post_message(in.Byte() < 128 ? 0x400 + 13 : 537, 0, 0);
      break;
  }
}

// The fault, if any, the board of this input shows.
std::string FaultOf(Input& in) {
  const uint8_t b = in.Byte();
  switch (b % 8) {
    case 0:
      return "stuck-busy";
    case 1:
      return "dead-converter2";
    case 2:
      return "unplug-after=" + std::to_string(in.U32() % 20000);
    case 3:
      return "absent";
    default:
      return "";
  }
}

// ---- Bring-up with calibration in a scratch directory

namespace fs = std::filesystem;

constexpr const char* kGainFile = "Vemora1.Cal";
constexpr const char* kOffsetFile = "Vemora2.Cal";
constexpr const char* kPlantedNames[] = {kGainFile, kOffsetFile, "Vemora1.Cal.tmp",
                                         "Vemora2.Cal.tmp"};
constexpr const char* kVictim = "victim";  // another file of the host's, of a record's size
constexpr std::size_t kVictimSize = 288;
constexpr const char* kScratch = "scratch";
// A whole calibration is about 1.6 million port accesses; pulls fall anywhere in it, and a
// little beyond (the save and the first relay word).
constexpr uint32_t kCalibrationAccesses = 1700000;
constexpr int kMaxCallsAfterCalibration = 6;
// A first byte from here on chooses the scratch directory (a quarter of all first bytes).
constexpr uint8_t kScratchModeFrom = 192;

enum Planted : uint8_t {
  kNothing,
  kGoodFile,
  kShortFile,
  kLinkToVictim,
  kDanglingLink,
  kFifo,
  kDirectory,
  kPlantedKinds
};

fs::path& MainDirectory() {
  static fs::path directory;
  return directory;
}

// What lies under a name, without following or opening it.
int KindOf(const char* name) {
  struct stat entry {};
  if (lstat(name, &entry) != 0) return -1;
  return static_cast<int>(entry.st_mode & S_IFMT);
}

// The bytes of an ordinary file; nothing else is opened (a FIFO would block the harness).
std::vector<char> Contents(const char* name) {
  if (KindOf(name) != S_IFREG) return {'-', static_cast<char>(KindOf(name) >> 12)};
  std::ifstream file(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "calibration files: %s\n", what);
  std::abort();
}

void Plant(const char* name, Planted kind, bool yesterday) {
  const fs::path made = MainDirectory() / (name[6] == '1' ? kGainFile : kOffsetFile);
  std::error_code ignored;
  switch (kind) {
    case kGoodFile:
      fs::copy_file(made, name, ignored);
      if (yesterday) {
        fs::last_write_time(name, fs::file_time_type::clock::now() - std::chrono::hours(30),
                            ignored);
      }
      break;
    case kShortFile: {
      std::ofstream file(name, std::ios::binary);
      file << "short";
      break;
    }
    case kLinkToVictim:
      fs::create_symlink(kVictim, name, ignored);
      break;
    case kDanglingLink:
      fs::create_symlink("nowhere", name, ignored);
      break;
    case kFifo:
      mkfifo(name, 0600);
      break;
    case kDirectory:
      fs::create_directory(name, ignored);
      break;
    default:
      break;
  }
}

// The file-size limit of this input, put back whatever happens.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint8_t choice) {
    static constexpr rlim_t kLimits[] = {0, 143, 200, 288};
    getrlimit(RLIMIT_FSIZE, &saved_);
    if (choice >= std::size(kLimits)) return;
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min(kLimits[choice], saved_.rlim_max);
    lowered_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    if (lowered_) setrlimit(RLIMIT_FSIZE, &saved_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  bool lowered_ = false;
};

void BringUpInScratch(Input& in, Buffers& buffers) {
  std::error_code ignored;
  fs::remove_all(MainDirectory() / kScratch, ignored);
  fs::create_directory(MainDirectory() / kScratch, ignored);
  if (chdir((MainDirectory() / kScratch).c_str()) != 0) std::abort();
  {
    std::ofstream victim(kVictim, std::ios::binary);
    victim << std::string(kVictimSize, '\x5A');
  }
  const bool yesterday = in.Byte() < 128;
  std::map<std::string, int> kinds;  // the planted entries that are no ordinary file
  for (const char* name : kPlantedNames) {
    const auto kind = static_cast<Planted>(in.Byte() % kPlantedKinds);
    Plant(name, kind, yesterday);
    if (kind >= kLinkToVictim) kinds[name] = KindOf(name);
  }
  const std::vector<char> gain_before = Contents(kGainFile);
  const std::vector<char> offset_before = Contents(kOffsetFile);
  const std::string fault =
      in.Byte() < 192 ? "unplug-after=" + std::to_string(in.U32() % kCalibrationAccesses) : "";
  setenv("VM316_SIM_FAULT", fault.c_str(), 1);
  const bool grounded = in.Byte() < 192;
  setenv("VM316_SIM_CH1", grounded ? "ground" : "sine:freq=1000,amp=0.5", 1);
  setenv("VM316_SIM_CH2", grounded ? "ground" : "square:freq=300,amp=2", 1);
  uint16_t status = StatusOk;
  {
    const FileSizeLimit limit(in.Byte() % 8);
    status = InitInstrument(kSimBase);
  }
  ApplyBounds();
  for (int call = 0; call < kMaxCallsAfterCalibration && !in.Empty(); ++call) {
    CallOne(in, buffers, /*may_reopen=*/false);
    vm316_pump_messages(1);
  }
  ExitInstrument();
  setenv("VM316_SIM_CH1", "sine:freq=1000,amp=0.5", 1);
  setenv("VM316_SIM_CH2", "square:freq=300,amp=2", 1);

  Check(Contents(kVictim) == std::vector<char>(kVictimSize, '\x5A'), "a link was followed");
  Check(!fs::exists("nowhere"), "a dangling link was followed");
  for (const auto& [name, kind] : kinds) {
    Check(KindOf(name.c_str()) == kind, "an entry that is no ordinary file was replaced");
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    Check(name == kVictim || name == kGainFile || name == kOffsetFile || kinds.count(name) ||
              name == "Vemora1.Cal.tmp" || name == "Vemora2.Cal.tmp",
          "a save left a file behind");
  }
  if (status == StatusNoHardware) {
    Check(Contents(kGainFile) == gain_before && Contents(kOffsetFile) == offset_before,
          "files written without a board");
  }
  if (chdir(MainDirectory().c_str()) != 0) std::abort();
  fs::remove_all(MainDirectory() / kScratch, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  MainDirectory() = CalibrateInFreshDirectory("vm316-fuzz-XXXXXX");
  setenv("VM316_SIM_CH1", "sine:freq=1000,amp=0.5", 1);
  setenv("VM316_SIM_CH2", "square:freq=300,amp=2", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  static Buffers buffers;
  if (size > 0 && data[0] >= kScratchModeFrom) {
    in.Byte();
    BringUpInScratch(in, buffers);
    return 0;
  }
  const std::string fault = FaultOf(in);
  setenv("VM316_SIM_FAULT", fault.c_str(), 1);
  InitInstrument(kSimBase);
  ApplyBounds();
  for (int call = 0; call < kMaxCalls && !in.Empty(); ++call) {
    CallOne(in, buffers);
    vm316_pump_messages(1);
  }
  ExitInstrument();
  return 0;
}
