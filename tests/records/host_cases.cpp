// The host cases of the identity test: a host's session through the library's C interface on
// the simulated board with the virtual clock, each in a child process of its own, so that every
// case starts from the same instant and the same detection draw whatever ran before it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "record_hash.h"
#include "vm316.h"
#include "vm316_host.h"

namespace vm316::records {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kBase = 0x378;
constexpr const char* kCalibrationFiles[] = {"Vemora1.Cal", "Vemora2.Cal"};
constexpr std::uint32_t kNoTimeOut = 0xFFFFFFFFu;

// What the host says and gets, in order, into the case's hash.
class Host {
 public:
  explicit Host(RecordHash& hash) : hash_(hash) {}

  void Note(std::uint16_t status) { hash_.Add(status); }
  void Rate(std::uint32_t hz) {
    Note(SetSampleFrequency(&hz));
    hash_.Add(hz);
  }
  void Geometry(std::uint32_t length, std::uint32_t post) {
    Note(SetRecordLength(length));
    Note(SetPostSamples(post));
  }
  void Range(std::uint8_t channel, double volts) { Note(SetSensitivity(channel, &volts)); }
  void Trigger(TTrigSource source, std::uint8_t slope, double level = 0.0,
               std::uint32_t timeout_ms = 100) {
    Note(SetTriggerSource(source));
    Note(SetTriggerMode(slope));
    Note(SetTriggerLevel(1, level));
    Note(SetTriggerLevel(2, level));
    Note(SetTriggerTimeOut(timeout_ms));
  }
  void Generator(std::uint32_t hz) {
    Note(SetSquareWaveGenFrequency(&hz));
    hash_.Add(hz);
  }

  // The last record of both channels as raw samples.
  void Raw() {
    const auto length = static_cast<std::size_t>(std::max(GetRecordLength(), 0));
    std::vector<std::uint16_t> ch1(length), ch2(length);
    Note(GetMeasurementRaw(ch1.data(), ch2.data()));
    hash_.Add(ch1);
    hash_.Add(ch2);
  }
  void Blocking(int records) {
    for (int i = 0; i < records; ++i) {
      Note(StartMeasurement());
      Raw();
    }
  }
  // Arm, poll (forcing after a while when asked), fetch.
  void Block(int records, bool force) {
    for (int i = 0; i < records; ++i) {
      Note(ADC_Start());
      int polls = 0;
      while (ADC_Ready() == 0 && polls < 3000) {
        vm316_pump_messages(1);
        if (++polls == 20 && force) Note(ADC_ForceTrig());
      }
      hash_.Add(polls);
      Note(ADC_Triggered());
      const auto length = static_cast<std::size_t>(std::max(GetRecordLength(), 0));
      std::vector<std::uint16_t> ch1(length), ch2(length);
      Note(ADC_GetData(ch1.data(), ch2.data()));
      hash_.Add(ch1);
      hash_.Add(ch2);
    }
  }
  // The acquisition timer, once or continuously, for ms of pumping.
  void Timer(std::int32_t mode, std::uint32_t ms) {
    Note(DoMeasure(mode));
    for (std::uint32_t waited = 0; waited < ms; waited += 10) vm316_pump_messages(10);
    Note(DoMeasure(0));
    Raw();
  }

 private:
  RecordHash& hash_;
};

struct Wiring {
  Wiring& Ch1(std::string spec) { return Put(ch1, std::move(spec)); }
  Wiring& Ch2(std::string spec) { return Put(ch2, std::move(spec)); }
  Wiring& Ext(std::string spec) { return Put(ext, std::move(spec)); }
  Wiring& Fault(std::string list) { return Put(fault, std::move(list)); }
  Wiring& Seed(std::string value) { return Put(seed, std::move(value)); }

  std::string ch1 = "ground";
  std::string ch2 = "ground";
  std::string ext = "ground";
  std::string fault;
  std::string seed = "1";

 private:
  Wiring& Put(std::string& field, std::string value) {
    field = std::move(value);
    return *this;
  }
};

struct HostCase {
  const char* name;
  Wiring wiring;
  bool calibrate;  // a directory without calibration files: the bring-up calibrates
  std::function<void(Host&)> session;
};

std::vector<HostCase> Cases() {
  const auto blocking = [](Host& host) { host.Blocking(2); };
  const auto fast_sine = [](Host& host) {
    host.Rate(20000000);
    host.Geometry(512, 256);
    host.Blocking(3);
  };
  std::vector<HostCase> cases = {
      // Calibrating bring-ups: their two files, then a record.
      {"calibrate, seed 1", Wiring(), true, blocking},
      {"calibrate, seed 7", Wiring().Seed("7"), true, blocking},
      {"calibrate, seed -3, a sine on channel 1",
       Wiring().Ch1("sine:freq=1000,amp=0.05").Seed("-3"), true, blocking},
      {"calibrate, noisy-ch1", Wiring().Fault("noisy-ch1"), true, blocking},
      {"calibrate, drifting-reference", Wiring().Fault("drifting-reference"), true, blocking},
      {"calibrate, stuck-relay=9", Wiring().Fault("stuck-relay=9"), true, blocking},
      {"calibrate, dead-ch2", Wiring().Fault("dead-ch2"), true, blocking},
      {"calibrate, dead-converter2", Wiring().Fault("dead-converter2"), true, blocking},
      {"calibrate, slow-bus=20", Wiring().Fault("slow-bus=20"), true, blocking},
      {"calibrate, absent", Wiring().Fault("absent"), true, blocking},

      // Each kind of input at 20 MHz, 512 / 256, channel 1 rising through 0 V.
      {"20 MHz, ground", Wiring(), false, fast_sine},
      {"20 MHz, dc", Wiring().Ch1("dc:offset=0.3").Ch2("dc:offset=-0.2,noise=0.01"), false,
       fast_sine},
      {"20 MHz, sine", Wiring().Ch1("sine:freq=200000,amp=0.5").Ch2("sine:freq=10000,amp=0.3"),
       false, fast_sine},
      {"20 MHz, square",
       Wiring().Ch1("square:freq=10000,amp=0.5,duty=0.3").Ch2("square:freq=333,amp=1,offset=0.1"),
       false, fast_sine},
      {"20 MHz, triangle",
       Wiring().Ch1("triangle:freq=50000,amp=0.6,phase=30").Ch2("triangle:freq=1000,amp=2"), false,
       fast_sine},
      {"20 MHz, sawtooth",
       Wiring().Ch1("sawtooth:freq=20000,amp=0.4,noise=0.02").Ch2("sawtooth:freq=7,amp=0.5"), false,
       fast_sine},
      {"20 MHz, noise", Wiring().Ch1("noise:amp=0.4").Ch2("noise:amp=0.1,offset=0.2"), false,
       fast_sine},
      {"20 MHz, generator", Wiring().Ch1("generator").Ch2("generator:noise=0.05").Ext("generator"),
       false,
       [](Host& host) {
         host.Generator(1000);
         host.Range(1, 8.0);
         host.Range(2, 8.0);
         host.Trigger(tsCh1, SlopeRising, 2.5);
         host.Rate(20000000);
         host.Geometry(512, 256);
         host.Blocking(2);
         host.Generator(25000);
         host.Blocking(2);
       }},

      // Rates and geometries.
      {"rates, 1 kHz sine",
       Wiring().Ch1("sine:freq=1000,amp=0.5").Ch2("sine:freq=1000,amp=0.5,phase=90"), false,
       [](Host& host) {
         for (std::uint32_t rate : {10000000u, 4000000u, 1000000u, 100000u, 20000u}) {
           host.Rate(rate);
           host.Geometry(1000, 300);
           host.Blocking(1);
         }
         host.Rate(1000);
         host.Geometry(100, 50);
         host.Blocking(1);
       }},
      {"full length at 20 MHz", Wiring().Ch1("sine:freq=10000,amp=0.5").Ch2("noise:amp=0.2"), false,
       [](Host& host) {
         host.Rate(20000000);
         host.Geometry(32760, 256);
         host.Blocking(2);
         host.Geometry(32760, 32760);
         host.Blocking(1);
         host.Geometry(2, 1);
         host.Blocking(1);
       }},

      // Trigger sources and slopes.
      {"channel 2 falling", Wiring().Ch1("ground").Ch2("sine:freq=5000,amp=0.5"), false,
       [](Host& host) {
         host.Rate(1000000);
         host.Trigger(tsCh2, SlopeFalling, 0.1);
         host.Blocking(3);
       }},
      {"external rising and falling",
       Wiring().Ch1("sine:freq=3000,amp=0.5").Ext("square:freq=5000,amp=2.5,offset=2.5"), false,
       [](Host& host) {
         host.Rate(10000000);
         host.Trigger(tsExternal, SlopeRising);
         host.Blocking(2);
         host.Trigger(tsExternal, SlopeFalling);
         host.Blocking(2);
       }},
      {"and, or, none",
       Wiring().Ch1("sine:freq=2000,amp=0.5").Ch2("sine:freq=2000,amp=0.5,phase=-90"), false,
       [](Host& host) {
         host.Rate(4000000);
         host.Geometry(2000, 1000);
         host.Trigger(tsAnd, SlopeRising, 0.2);
         host.Blocking(2);
         host.Trigger(tsOr, SlopeRising, 0.2);
         host.Blocking(2);
         host.Trigger(tsNoTrig, SlopeRising);
         host.Blocking(2);
       }},
      {"forced after the time-out", Wiring().Ch1("dc:offset=-0.3"), false,
       [](Host& host) {
         host.Trigger(tsCh1, SlopeRising, 0.0, 10);
         host.Blocking(2);
       }},

      // Ranges, DC level, coupling, automatic ranging.
      {"AC coupling drains a DC input",
       Wiring().Ch1("dc:offset=0.5").Ch2("sine:freq=200,amp=0.3,offset=0.4"), false,
       [](Host& host) {
         host.Rate(100000);
         host.Trigger(tsNoTrig, SlopeRising);
         host.Note(SetCoupling(1, 1));
         host.Note(SetCoupling(2, 1));
         host.Blocking(4);
         host.Note(SetCoupling(1, 0));
         host.Blocking(1);
       }},
      {"ranges and DC level", Wiring().Ch1("sine:freq=1000,amp=0.015").Ch2("dc:offset=30"), false,
       [](Host& host) {
         host.Rate(1000000);
         host.Range(1, 0.02);
         host.Range(2, 80.0);
         host.Blocking(2);
         host.Range(1, 0.2);
         host.Note(SetDcLevel(1, 0.1));
         host.Note(SetDcLevel(2, 20.0));
         host.Blocking(2);
       }},
      {"automatic ranging", Wiring().Ch1("sine:freq=1000,amp=3").Ch2("sine:freq=1000,amp=0.01"),
       false,
       [](Host& host) {
         host.Rate(1000000);
         host.Range(1, 0.2);
         host.Range(2, 8.0);
         host.Note(SetAutoRanging(1, 1));
         host.Note(SetAutoRanging(2, 1));
         host.Blocking(6);
       }},
      {"channel 1 only", Wiring().Ch1("sine:freq=100000,amp=0.5"), false,
       [](Host& host) {
         host.Note(SetMeasureMode(mCh1));
         host.Rate(20000000);
         host.Blocking(2);
       }},

      // Measurement styles.
      {"block style, forced", Wiring().Ch1("dc:offset=0.2").Ch2("sine:freq=1000,amp=0.5"), false,
       [](Host& host) {
         host.Rate(1000000);
         host.Block(2, true);
         host.Trigger(tsCh2, SlopeRising);
         host.Block(2, false);
       }},
      {"timer style", Wiring().Ch1("sine:freq=1000,amp=0.5"), false,
       [](Host& host) {
         host.Rate(1000000);
         host.Timer(1, 200);
         host.Timer(-1, 300);
       }},

      // Faults while measuring.
      {"stuck-busy", Wiring().Ch1("sine:freq=1000,amp=0.5").Fault("stuck-busy"), false,
       [](Host& host) {
         host.Rate(20000000);
         host.Blocking(1);
         host.Block(1, true);
       }},
      {"dead-converter2 and noisy-ch2",
       Wiring()
           .Ch1("sine:freq=1000,amp=0.5")
           .Ch2("sine:freq=1000,amp=0.5")
           .Fault("dead-converter2,noisy-ch2"),
       false, blocking},
      {"noisy-ch2", Wiring().Ch2("sine:freq=1000,amp=0.5").Fault("noisy-ch2"), false,
       [](Host& host) {
         host.Trigger(tsCh2, SlopeRising);
         host.Blocking(2);
       }},
      {"dead-ch1", Wiring().Ch1("sine:freq=1000,amp=0.5").Fault("dead-ch1"), false, blocking},
      {"stuck AC relay", Wiring().Ch1("dc:offset=0.3").Fault("stuck-relay=12"), false,
       [](Host& host) {
         host.Note(SetCoupling(1, 1));
         host.Trigger(tsNoTrig, SlopeRising);
         host.Blocking(2);
       }},
      {"drifting-reference", Wiring().Fault("drifting-reference"), false,
       [](Host& host) {
         host.Trigger(tsNoTrig, SlopeRising);
         for (int i = 0; i < 3; ++i) {
           host.Blocking(1);
           for (int ms = 0; ms < 2000; ms += 10) vm316_pump_messages(10);
         }
       }},
      {"slow-bus=100", Wiring().Ch1("sine:freq=1000,amp=0.5").Fault("slow-bus=100"), false,
       blocking},
      {"unplug-after=30000", Wiring().Ch1("sine:freq=1000,amp=0.5").Fault("unplug-after=30000"),
       false, [](Host& host) { host.Blocking(4); }},
  };
  return cases;
}

// The case in this (child) process: wiring, a fresh directory (with calibration files from
// calibration_dir unless the case calibrates), bring-up, session, the files left, take-down.
std::uint64_t RunCase(const HostCase& c, const fs::path& dir, const fs::path& calibration_dir) {
  setenv("VM316_PORT", "sim", 1);
  setenv("VM316_CLOCK", "virtual", 1);
  setenv("VM316_MESSAGES", "quiet", 1);
  setenv("VM316_SIM_CH1", c.wiring.ch1.c_str(), 1);
  setenv("VM316_SIM_CH2", c.wiring.ch2.c_str(), 1);
  setenv("VM316_SIM_EXT", c.wiring.ext.c_str(), 1);
  setenv("VM316_SIM_FAULT", c.wiring.fault.c_str(), 1);
  setenv("VM316_SIM_SEED", c.wiring.seed.c_str(), 1);
  fs::create_directories(dir);
  if (!c.calibrate) {
    for (const char* name : kCalibrationFiles) fs::copy_file(calibration_dir / name, dir / name);
  }
  fs::current_path(dir);

  RecordHash hash;
  Host host(hash);
  host.Note(InitInstrument(kBase));
  for (const char* name : kCalibrationFiles) {
    std::ifstream file(name, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    hash.Add(static_cast<std::uint64_t>(bytes.size()));
    hash.AddBytes(bytes.data(), bytes.size());
  }
  c.session(host);
  host.Note(ExitInstrument());
  return hash.Value();
}

// Runs the case in a child process and returns its hash (0 when the child failed).
std::uint64_t RunInChild(const HostCase& c, const fs::path& dir, const fs::path& calibration_dir) {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::uint64_t value = 0;
    try {
      value = RunCase(c, dir, calibration_dir);
    } catch (...) {
      value = 0;
    }
    const ssize_t written = write(fds[1], &value, sizeof value);
    _exit(written == sizeof value ? 0 : 1);
  }
  close(fds[1]);
  std::uint64_t value = 0;
  if (pid < 0 || read(fds[0], &value, sizeof value) != sizeof value) value = 0;
  close(fds[0]);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  return value;
}

}  // namespace

std::vector<CaseHash> HostCaseHashes() {
  std::string pattern = (fs::temp_directory_path() / "vm316-records-XXXXXX").string();
  const fs::path root = mkdtemp(pattern.data());
  // The first case calibrates with grounded inputs on seed 1; the cases that do not calibrate
  // start from its files.
  const fs::path calibration_dir = root / "0";
  std::vector<CaseHash> hashes;
  int index = 0;
  for (const HostCase& c : Cases()) {
    const fs::path dir = root / std::to_string(index++);
    hashes.push_back({c.name, RunInChild(c, dir, calibration_dir)});
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return hashes;
}

}  // namespace vm316::records
