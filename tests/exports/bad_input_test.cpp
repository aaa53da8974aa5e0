// Every export, called as a careless or hostile host would call it: with no instrument yet,
// with an instrument whose board did not answer, and with a present board; with channels 0, 3
// and 255, values below, at and above each limit, NaN, infinities, +-1e308 and null pointers.
// Each call must answer its status code, write nothing through its pointers when it refuses,
// and leave the settings as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sim_session.h"
#include "vm316.h"

namespace vm316::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kHuge = 1e308;
constexpr std::uint8_t kSentinel = 0xA5;

// What the caller owns: buffers long enough for any record, and one variable of each type,
// all filled with a pattern so that any write shows.
struct Scratch {
  static constexpr std::size_t kSamples = 32768;
  std::vector<double> volts1 = std::vector<double>(kSamples);
  std::vector<double> volts2 = std::vector<double>(kSamples);
  std::vector<std::uint16_t> raw1 = std::vector<std::uint16_t>(kSamples);
  std::vector<std::uint16_t> raw2 = std::vector<std::uint16_t>(kSamples);
  double d = 0;
  double d2 = 0;
  std::uint32_t u32 = 0;
  std::int32_t i32 = 0;
  std::uint16_t u16 = 0;
  std::uint16_t u16b = 0;
  std::uint8_t u8 = 0;

  template <typename T>
  static void Fill(std::vector<T>& v) {
    std::memset(v.data(), kSentinel, v.size() * sizeof(T));
  }
  template <typename T>
  static bool Clean(const std::vector<T>& v) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(v.data());
    for (std::size_t i = 0; i < v.size() * sizeof(T); ++i) {
      if (bytes[i] != kSentinel) return false;
    }
    return true;
  }
  template <typename T>
  static bool Clean(const T& value) {
    T pattern;
    std::memset(&pattern, kSentinel, sizeof(T));
    return std::memcmp(&pattern, &value, sizeof(T)) == 0;
  }

  void Reset() {
    Fill(volts1), Fill(volts2), Fill(raw1), Fill(raw2);
    for (void* p : {static_cast<void*>(&d), static_cast<void*>(&d2)}) {
      std::memset(p, kSentinel, sizeof(double));
    }
    std::memset(&u32, kSentinel, sizeof u32);
    std::memset(&i32, kSentinel, sizeof i32);
    std::memset(&u16, kSentinel, sizeof u16);
    std::memset(&u16b, kSentinel, sizeof u16b);
    std::memset(&u8, kSentinel, sizeof u8);
  }
  bool Untouched() const {
    return Clean(volts1) && Clean(volts2) && Clean(raw1) && Clean(raw2) && Clean(d) && Clean(d2) &&
           Clean(u32) && Clean(i32) && Clean(u16) && Clean(u16b) && Clean(u8);
  }
};

// Everything a host can read back of the configuration, through the getters.
std::vector<double> Settings() {
  std::vector<double> s = {static_cast<double>(GetRecordLength()),
                           static_cast<double>(GetPostSamples()), GetSampleFrequencyF(),
                           static_cast<double>(GetTriggerTimeOut()),
                           static_cast<double>(GetSquareWaveGenFrequency())};
  std::uint8_t byte = 0;
  double value = 0;
  auto add_byte = [&](std::uint16_t status) { s.push_back(status == StatusOk ? byte : -1.0); };
  auto add_value = [&](std::uint16_t status) { s.push_back(status == StatusOk ? value : -1e9); };
  add_byte(GetMeasureMode(&byte));
  add_byte(GetTriggerSource(&byte));
  add_byte(GetResolution(&byte));
  add_byte(GetTriggerModeCh(0, &byte));
  for (std::uint8_t channel = 1; channel <= 2; ++channel) {
    add_value(GetSensitivity(channel, &value));
    add_byte(GetAutoRanging(channel, &byte));
    add_byte(GetCoupling(channel, &byte));
    add_value(GetDcLevel(channel, &value));
    add_value(GetTriggerLevel(channel, &value));
    add_value(GetTriggerHys(channel, &value));
    add_byte(GetTriggerModeCh(channel, &byte));
  }
  return s;
}

using Call = std::function<double(Scratch&)>;
using Expected = std::optional<double>;  // nullopt: any value (it depends on earlier calls)
constexpr Expected kAny = std::nullopt;

constexpr double NH = StatusNoHardware;
constexpr double NS = StatusNotSupported;
constexpr double NG = StatusNoGenerator;
constexpr double OK = StatusOk;
constexpr double IC = StatusInvalidChannel;
constexpr double IV = StatusInvalidValue;

enum class State { kNoInstance, kAbsentBoard, kPresentBoard };

// One export with harmless arguments and its answer in each state.
struct Row {
  const char* name;
  Call call;
  Expected no_instance;
  Expected absent;
  Expected present;
  bool writes_when_refusing = false;  // on a present board it writes 0 and refuses

  Expected In(State state) const {
    switch (state) {
      case State::kNoInstance:
        return no_instance;
      case State::kAbsentBoard:
        return absent;
      case State::kPresentBoard:
        return present;
    }
    return kAny;
  }
};

// Ordinal order, except that InitInstrument and ExitInstrument come last so that the state
// under test lasts for the whole table.
std::vector<Row> EveryExport() {
  auto in_out_frequency = [](double hertz) {
    return [hertz](Scratch&) {
      double f = hertz;
      return static_cast<double>(SetSampleFrequencyF(&f));
    };
  };
  // The value-returning queries answer 0 without a present instrument; a few answer 1.
  return {
      {"GetCalibrationDate", [](Scratch& s) { return GetCalibrationDate(&s.i32); }, NH, NH, NS},
      {"GetSerialNumber", [](Scratch& s) { return GetSerialNumber(&s.i32); }, NH, NH, NS, true},
      {"GetMaxSampleFrequency", [](Scratch&) { return GetMaxSampleFrequency(); }, 0, 0, 2e7},
      {"GetMaxRecordLength", [](Scratch&) { return GetMaxRecordLength(); }, 0, 0, 32760},
      {"GetSquareWaveGenStatus", [](Scratch&) { return GetSquareWaveGenStatus(); }, NH, NH, OK},
      {"GetFunctionGenStatus", [](Scratch&) { return GetFunctionGenStatus(); }, NH, NH, NG},
      {"GetFuncGenMaxAmplitude", [](Scratch& s) { return GetFuncGenMaxAmplitude(&s.d); }, NH, NH,
       NG},
      {"StartMeasurement", [](Scratch&) { return StartMeasurement(); }, NH, NH, OK},
      {"GetMeasurement",
       [](Scratch& s) { return GetMeasurement(s.volts1.data(), s.volts2.data()); }, NH, NH, OK},
      {"GetOneMeasurement", [](Scratch& s) { return GetOneMeasurement(0, &s.d, &s.d2); }, NH, NH,
       OK},
      {"GetMeasurementRaw",
       [](Scratch& s) { return GetMeasurementRaw(s.raw1.data(), s.raw2.data()); }, NH, NH, OK},
      {"GetOneMeasurementRaw", [](Scratch& s) { return GetOneMeasurementRaw(0, &s.u16, &s.u16b); },
       NH, NH, OK},
      {"GetMeasureMode", [](Scratch& s) { return GetMeasureMode(&s.u8); }, NH, NH, OK},
      {"SetMeasureMode", [](Scratch&) { return SetMeasureMode(mCh12); }, NH, NH, OK},
      {"GetRecordLength", [](Scratch&) { return GetRecordLength(); }, 0, 0, kAny},
      {"SetRecordLength", [](Scratch&) { return SetRecordLength(1000); }, NH, NH, OK},
      {"GetPostSamples", [](Scratch&) { return GetPostSamples(); }, 0, 0, kAny},
      {"SetPostSamples", [](Scratch&) { return SetPostSamples(500); }, NH, NH, OK},
      {"GetSampleFrequency", [](Scratch&) { return GetSampleFrequency(); }, 0, 0, kAny},
      {"SetSampleFrequency",
       [](Scratch&) {
         std::uint32_t f = 1000000;
         return SetSampleFrequency(&f);
       },
       NH, NH, OK},
      {"GetSensitivity", [](Scratch& s) { return GetSensitivity(1, &s.d); }, NH, NH, OK},
      {"SetSensitivity",
       [](Scratch&) {
         double v = 2.0;
         return SetSensitivity(1, &v);
       },
       NH, NH, OK},
      {"GetAutoRanging", [](Scratch& s) { return GetAutoRanging(2, &s.u8); }, NH, NH, OK},
      {"SetAutoRanging", [](Scratch&) { return SetAutoRanging(1, 0); }, NH, NH, OK},
      {"GetCoupling", [](Scratch& s) { return GetCoupling(1, &s.u8); }, NH, NH, OK},
      {"SetCoupling", [](Scratch&) { return SetCoupling(2, 0); }, NH, NH, OK},
      {"GetDcLevel", [](Scratch& s) { return GetDcLevel(2, &s.d); }, NH, NH, OK},
      {"SetDcLevel", [](Scratch&) { return SetDcLevel(1, 0.0); }, NH, NH, OK},
      {"GetTriggerSource", [](Scratch& s) { return GetTriggerSource(&s.u8); }, NH, NH, OK},
      {"SetTriggerSource", [](Scratch&) { return SetTriggerSource(tsCh1); }, NH, NH, OK},
      {"GetTriggerMode", [](Scratch& s) { return GetTriggerMode(&s.u8); }, NH, NH, OK},
      {"SetTriggerMode", [](Scratch&) { return SetTriggerMode(SlopeRising); }, NH, NH, OK},
      {"GetTriggerLevel", [](Scratch& s) { return GetTriggerLevel(1, &s.d); }, NH, NH, OK},
      {"SetTriggerLevel", [](Scratch&) { return SetTriggerLevel(1, 0.1); }, NH, NH, OK},
      {"GetTriggerHys", [](Scratch& s) { return GetTriggerHys(2, &s.d); }, NH, NH, OK},
      {"SetTriggerHys", [](Scratch&) { return SetTriggerHys(1, 0.05); }, NH, NH, OK},
      {"GetPXITriggerSlopes", [](Scratch& s) { return GetPXITriggerSlopes(&s.u8); }, NH, NH, NS},
      {"SetPXITriggerSlopes", [](Scratch&) { return SetPXITriggerSlopes(1); }, NH, NH, NS},
      {"GetPXITriggerEnables", [](Scratch& s) { return GetPXITriggerEnables(&s.u8); }, NH, NH, NS},
      {"SetPXITriggerEnables", [](Scratch&) { return SetPXITriggerEnables(1); }, NH, NH, NS},
      {"GetTriggerTimeOut", [](Scratch&) { return GetTriggerTimeOut(); }, 1, 1, kAny},
      {"SetTriggerTimeOut", [](Scratch&) { return SetTriggerTimeOut(50); }, NH, NH, OK},
      {"GetSquareWaveGenFrequency", [](Scratch&) { return GetSquareWaveGenFrequency(); }, kAny,
       kAny, kAny},
      {"SetSquareWaveGenFrequency",
       [](Scratch&) {
         std::uint32_t f = 1000;
         return SetSquareWaveGenFrequency(&f);
       },
       NH, NH, OK},
      {"GetFuncGenFrequency", [](Scratch& s) { return GetFuncGenFrequency(&s.d); }, NH, NH, NG},
      {"SetFuncGenFrequency", [](Scratch& s) { return SetFuncGenFrequency(&s.d); }, NH, NH, NG},
      {"GetFuncGenAmplitude", [](Scratch& s) { return GetFuncGenAmplitude(&s.d); }, NH, NH, NG},
      {"SetFuncGenAmplitude", [](Scratch&) { return SetFuncGenAmplitude(1.0); }, NH, NH, NG},
      {"GetFuncGenSignalType", [](Scratch& s) { return GetFuncGenSignalType(&s.u16); }, NH, NH, NG},
      {"SetFuncGenSignalType", [](Scratch&) { return SetFuncGenSignalType(1); }, NH, NH, NG},
      {"GetFuncGenDCOffset", [](Scratch& s) { return GetFuncGenDCOffset(&s.d); }, NH, NH, NG},
      {"SetFuncGenDCOffset", [](Scratch&) { return SetFuncGenDCOffset(0.5); }, NH, NH, NG},
      {"GetFuncGenSymmetry", [](Scratch& s) { return GetFuncGenSymmetry(&s.d); }, NH, NH, NG},
      {"SetFuncGenSymmetry", [](Scratch&) { return SetFuncGenSymmetry(0.5); }, NH, NH, NG},
      {"GetFuncGenOutputOn", [](Scratch& s) { return GetFuncGenOutputOn(&s.u16); }, NH, NH, NG,
       true},
      {"SetFuncGenOutputOn", [](Scratch&) { return SetFuncGenOutputOn(1); }, NH, NH, NG},
      {"FillFuncGenMemory", [](Scratch& s) { return FillFuncGenMemory(16, s.raw1.data()); }, NH, NH,
       NG},
      {"SetDigitalOutputs", [](Scratch&) { return SetDigitalOutputs(1); }, NH, NH, NS},
      {"GetDigitalOutputs", [](Scratch&) { return GetDigitalOutputs(1); }, NH, NH, NS},
      {"GetDigitalInputValues", [](Scratch& s) { return GetDigitalInputValues(s.raw1.data()); }, NH,
       NH, NS},
      {"GetOneDigitalValue", [](Scratch& s) { return GetOneDigitalValue(1, &s.u16); }, NH, NH, NS},
      {"GetActiveKT5", [](Scratch&) { return GetActiveKT5(1); }, NS, NS, NS},
      {"SetActiveKT5", [](Scratch&) { return SetActiveKT5(1); }, NS, NS, NS},
      {"SetDAC1451", [](Scratch&) { return SetDAC1451(1, 2, 3, 4); }, NS, NS, NS},
      {"SetMotorOn", [](Scratch&) { return SetMotorOn(1, 1); }, NS, NS, NS},
      {"GetAvailableResolutions",
       [](Scratch& s) { return GetAvailableResolutions(s.volts1.data()); }, NH, NH, OK},
      {"GetAvailableSensitivities",
       [](Scratch& s) { return GetAvailableSensitivities(s.volts1.data()); }, NH, NH, OK},
      {"ADC_Start", [](Scratch&) { return ADC_Start(); }, NH, NH, OK},
      {"ADC_Running", [](Scratch&) { return ADC_Running(); }, 0, 0, kAny},
      {"ADC_Abort", [](Scratch&) { return ADC_Abort(); }, NH, NH, OK},
      {"ADC_Triggered", [](Scratch&) { return ADC_Triggered(); }, 0, 0, kAny},
      {"ADC_Ready", [](Scratch&) { return ADC_Ready(); }, 0, 0, kAny},
      {"ADC_GetData", [](Scratch& s) { return ADC_GetData(s.raw1.data(), s.raw2.data()); }, NH, NH,
       OK},
      {"ADC_GetDataVolt",
       [](Scratch& s) { return ADC_GetDataVolt(s.volts1.data(), s.volts2.data()); }, NH, NH, OK},
      {"ADC_ForceTrig", [](Scratch&) { return ADC_ForceTrig(); }, NH, NH, OK},
      {"GetResolution", [](Scratch& s) { return GetResolution(&s.u8); }, NH, NH, OK},
      {"SetResolution", [](Scratch&) { return SetResolution(12); }, NH, NH, OK},
      {"GetDCLevelStatus", [](Scratch&) { return GetDCLevelStatus(); }, 1, 1, 0},
      {"GetExternalClock", [](Scratch& s) { return GetExternalClock(&s.u16); }, NH, NH, NS, true},
      {"SetExternalClock", [](Scratch&) { return SetExternalClock(1); }, NH, NH, NS},
      {"FuncGenBurst", [](Scratch&) { return FuncGenBurst(3); }, NH, NH, NS},
      {"SetInstrumentConfig", [](Scratch&) { return SetInstrumentConfig(1); }, NH, NH, NS},
      {"GetInstrumentConfig", [](Scratch& s) { return GetInstrumentConfig(&s.u16); }, NH, NH, NS},
      {"SetupOhmMeasurements", [](Scratch&) { return SetupOhmMeasurements(1); }, NH, NH, NS},
      {"GetOhmValues", [](Scratch&) { return GetOhmValues(1, 2); }, NS, NS, NS},
      {"SetFuncGenTrigSource", [](Scratch&) { return SetFuncGenTrigSource(1); }, NH, NH, NS},
      {"GetFuncGenTrigSource", [](Scratch& s) { return GetFuncGenTrigSource(&s.u8); }, NH, NH, NS},
      {"GetSampleFrequencyF", [](Scratch&) { return GetSampleFrequencyF(); }, 0, 0, kAny},
      {"SetSampleFrequencyF", in_out_frequency(2e6), NH, NH, OK},
      // Block transfer is answered once an object exists, present or not.
      {"SetTransferMode", [](Scratch&) { return SetTransferMode(tmStream); }, NH, NS, NS},
      {"GetTransferMode", [](Scratch& s) { return GetTransferMode(&s.i32); }, NH, NS, NS},
      {"GetNrChannels", [](Scratch& s) { return GetNrChannels(&s.u16); }, NH, NH, OK},
      {"ADC_GetDataCh", [](Scratch& s) { return ADC_GetDataCh(2, s.raw1.data()); }, NH, NH, OK},
      {"ADC_GetDataVoltCh", [](Scratch& s) { return ADC_GetDataVoltCh(1, s.volts1.data()); }, NH,
       NH, OK},
      {"SetDataReadyCallback", [](Scratch&) { return SetDataReadyCallback(0x1234); }, NH, NH, NS},
      {"SetDataReadyEvent", [](Scratch&) { return SetDataReadyEvent(0x1234); }, NH, NH, NS},
      {"DoMeasure", [](Scratch&) { return DoMeasure(0); }, NH, NH, OK},
      {"SetTriggerModeCh", [](Scratch&) { return SetTriggerModeCh(0, SlopeFalling); }, NH, NH, OK},
      {"GetTriggerModeCh", [](Scratch& s) { return GetTriggerModeCh(2, &s.u8); }, NH, NH, OK},
      {"SetFuncGenMode", [](Scratch&) { return SetFuncGenMode(1); }, NS, NS, NS},
      {"GetFuncGenMode", [](Scratch&) { return GetFuncGenMode(1); }, NS, NS, NS},
      {"GetOneMeasurementRawCh", [](Scratch& s) { return GetOneMeasurementRawCh(1, 0, &s.u16); },
       NH, NH, OK},
      {"I2CWrite", [](Scratch&) { return I2CWrite(1, 2, 3); }, NH, NH, NS},
      {"I2CRead", [](Scratch&) { return I2CRead(1, 2, 3); }, NH, NH, NS},
      {"GetMaxSampleFrequencyF", [](Scratch&) { return GetMaxSampleFrequencyF(); }, 0, 0, 2e7},
      {"I2CWriteNoStop", [](Scratch&) { return I2CWriteNoStop(1, 2, 3); }, NH, NH, NS},
      {"I2CReadNoStop", [](Scratch&) { return I2CReadNoStop(1, 2, 3); }, NH, NH, NS},
      {"I2CSetSpeed", [](Scratch&) { return I2CSetSpeed(100000); }, NH, NH, NS},
      {"I2CGetSpeed", [](Scratch&) { return I2CGetSpeed(0); }, NH, NH, NS},
      {"SetFuncGenEnable", [](Scratch&) { return SetFuncGenEnable(1); }, NH, NH, NS},
      {"GetFuncGenEnable", [](Scratch& s) { return GetFuncGenEnable(&s.u16); }, NH, NH, NG, true},
      {"SetFuncGenAmplitudeRange", [](Scratch&) { return SetFuncGenAmplitudeRange(1); }, NS, NS,
       NS},
      {"GetFuncGenAmplitudeRange", [](Scratch&) { return GetFuncGenAmplitudeRange(1); }, NS, NS,
       NS},
      // A second InitInstrument only reports; the absent instance is kept until ExitInstrument.
      {"InitInstrument", [](Scratch&) { return InitInstrument(kSimBase); }, NH, NH, OK},
      {"ExitInstrument", [](Scratch&) { return ExitInstrument(); }, OK, OK, OK},
  };
}

const Row& RowOf(const std::vector<Row>& rows, const std::string& name) {
  for (const Row& row : rows) {
    if (name == row.name) return row;
  }
  ADD_FAILURE() << "no row for " << name;
  return rows.front();
}

// A hostile call of one export and its answer on a present board; without one, the export's
// answer of the table above.
struct Probe {
  std::string label;
  std::string name;
  Call call;
  double present;
  std::function<void()> prepare = [] {};
};

std::string Show(double v) {
  return std::to_string(v);
}

// A probe that also looks at what came back: a wrong result turns the answer into -1.
double Verified(double status, bool right) {
  return right ? status : -1.0;
}
// The same for a result that only an accepted call has.
double VerifiedIfOk(double status, bool right) {
  return status != OK || right ? status : -1.0;
}

std::vector<Probe> HostileCalls() {
  std::vector<Probe> probes;
  auto add = [&](
                 std::string label, std::string name, Call call, double present,
                 std::function<void()> prepare = [] {}) {
    probes.push_back(
        {std::move(label), std::move(name), std::move(call), present, std::move(prepare)});
  };

  // Channels outside 1..2: refused before any value is looked at, also a value that is
  // itself refused.
  for (unsigned ch : {0u, 3u, 255u}) {
    const auto c = static_cast<std::uint8_t>(ch);
    const std::string at = "(" + std::to_string(ch) + ")";
    add(
        "GetSensitivity" + at, "GetSensitivity",
        [c](Scratch& s) { return GetSensitivity(c, &s.d); }, IC);
    add(
        "SetSensitivity" + at, "SetSensitivity",
        [c](Scratch&) {
          double v = kNaN;
          return SetSensitivity(c, &v);
        },
        IC);
    add(
        "GetAutoRanging" + at, "GetAutoRanging",
        [c](Scratch& s) { return GetAutoRanging(c, &s.u8); }, IC);
    add(
        "SetAutoRanging" + at, "SetAutoRanging", [c](Scratch&) { return SetAutoRanging(c, 7); },
        IC);
    add(
        "GetCoupling" + at, "GetCoupling", [c](Scratch& s) { return GetCoupling(c, &s.u8); }, IC);
    add(
        "SetCoupling" + at, "SetCoupling", [c](Scratch&) { return SetCoupling(c, 1); }, IC);
    add(
        "GetDcLevel" + at, "GetDcLevel", [c](Scratch& s) { return GetDcLevel(c, &s.d); }, IC);
    add(
        "SetDcLevel" + at, "SetDcLevel", [c](Scratch&) { return SetDcLevel(c, kInf); }, IC);
    add(
        "GetTriggerLevel" + at, "GetTriggerLevel",
        [c](Scratch& s) { return GetTriggerLevel(c, &s.d); }, IC);
    add(
        "SetTriggerLevel" + at, "SetTriggerLevel",
        [c](Scratch&) { return SetTriggerLevel(c, 0.0); }, IC);
    add(
        "GetTriggerHys" + at, "GetTriggerHys", [c](Scratch& s) { return GetTriggerHys(c, &s.d); },
        IC);
    add(
        "SetTriggerHys" + at, "SetTriggerHys", [c](Scratch&) { return SetTriggerHys(c, 0.01); },
        IC);
    add(
        "GetSensitivity(null)" + at, "GetSensitivity",
        [c](Scratch&) { return GetSensitivity(c, nullptr); }, IC);
    if (ch != 0) {  // channel 0 is the external trigger input's slope
      add(
          "GetTriggerModeCh" + at, "GetTriggerModeCh",
          [c](Scratch& s) { return GetTriggerModeCh(c, &s.u8); }, IC);
      add(
          "SetTriggerModeCh" + at, "SetTriggerModeCh",
          [c](Scratch&) { return SetTriggerModeCh(c, 255); }, IC);
    }
  }
  for (unsigned ch : {0u, 3u, 255u, 256u, 257u, 65535u}) {  // 16-bit channels: no low-byte wrap
    const auto c = static_cast<std::uint16_t>(ch);
    const std::string at = "(" + std::to_string(ch) + ")";
    add(
        "ADC_GetDataCh" + at, "ADC_GetDataCh",
        [c](Scratch& s) { return ADC_GetDataCh(c, s.raw1.data()); }, IC);
    add(
        "ADC_GetDataVoltCh" + at, "ADC_GetDataVoltCh",
        [c](Scratch& s) { return ADC_GetDataVoltCh(c, s.volts1.data()); }, IC);
    add(
        "GetOneMeasurementRawCh" + at, "GetOneMeasurementRawCh",
        [c](Scratch& s) { return GetOneMeasurementRawCh(c, 0, &s.u16); }, IC);
  }

  // Reals that are no number, infinite or far beyond any range.
  for (double v : {kNaN, kInf, -kInf, kHuge, -kHuge}) {
    const std::string at = "(" + Show(v) + ")";
    add(
        "SetDcLevel" + at, "SetDcLevel", [v](Scratch&) { return SetDcLevel(1, v); }, IV);
    add(
        "SetTriggerLevel" + at, "SetTriggerLevel", [v](Scratch&) { return SetTriggerLevel(2, v); },
        IV);
    add(
        "SetFuncGenAmplitude" + at, "SetFuncGenAmplitude",
        [v](Scratch&) { return SetFuncGenAmplitude(v); }, NG);
    add(
        "SetFuncGenDCOffset" + at, "SetFuncGenDCOffset",
        [v](Scratch&) { return SetFuncGenDCOffset(v); }, NG);
    add(
        "SetFuncGenSymmetry" + at, "SetFuncGenSymmetry",
        [v](Scratch&) { return SetFuncGenSymmetry(v); }, NG);
    add(
        "SetFuncGenFrequency" + at, "SetFuncGenFrequency",
        [v](Scratch&) {
          double f = v;
          return SetFuncGenFrequency(&f);
        },
        NG);
  }
  // -inf is a hysteresis like -1e300 (admitted with the rising slope, stored as the top code).
  for (double v : {kNaN, kInf, kHuge}) {
    add(
        "SetTriggerHys" + ("(" + Show(v) + ")"), "SetTriggerHys",
        [v](Scratch&) { return SetTriggerHys(1, v); }, IV);
  }
  // An infinite request selects the nearest range like any other; NaN has none.
  for (double v : {kNaN}) {
    add(
        "SetSensitivity(" + Show(v) + ")", "SetSensitivity",
        [v](Scratch&) {
          double in_out = v;
          const double status = SetSensitivity(2, &in_out);
          return Verified(status, std::isnan(in_out) || std::isinf(in_out));  // not written back
        },
        IV);
  }
  for (double v : {kNaN, kInf, -kInf, -kHuge, 0.0, -1e-308}) {
    add(
        "SetSampleFrequencyF(" + Show(v) + ")", "SetSampleFrequencyF",
        [v](Scratch&) {
          double in_out = v;
          const double status = SetSampleFrequencyF(&in_out);
          return Verified(status, std::memcmp(&in_out, &v, sizeof v) == 0);
        },
        IV);
  }

  // The edges of each range of values: at the limit admitted, one step beyond refused.
  auto on_08_volt_range = [] {
    double v = 0.8;
    SetSensitivity(1, &v);
    v = 0.8;
    SetSensitivity(2, &v);
    SetTriggerLevel(1, 0.0);
    SetTriggerMode(SlopeRising);
  };
  add(
      "SetDcLevel(+2s)", "SetDcLevel", [](Scratch&) { return SetDcLevel(1, 1.6); }, OK,
      on_08_volt_range);
  add(
      "SetDcLevel(-2s)", "SetDcLevel", [](Scratch&) { return SetDcLevel(2, -1.6); }, OK,
      on_08_volt_range);
  add(
      "SetDcLevel(+2s+)", "SetDcLevel", [](Scratch&) { return SetDcLevel(1, 1.61); }, IV,
      on_08_volt_range);
  add(
      "SetDcLevel(-2s-)", "SetDcLevel", [](Scratch&) { return SetDcLevel(2, -1.61); }, IV,
      on_08_volt_range);
  add(
      "SetTriggerLevel(+s)", "SetTriggerLevel", [](Scratch&) { return SetTriggerLevel(2, 0.8); },
      OK, on_08_volt_range);
  add(
      "SetTriggerLevel(-s)", "SetTriggerLevel", [](Scratch&) { return SetTriggerLevel(2, -0.8); },
      OK, on_08_volt_range);
  add(
      "SetTriggerLevel(+s+)", "SetTriggerLevel", [](Scratch&) { return SetTriggerLevel(1, 0.81); },
      IV, on_08_volt_range);
  add(
      "SetTriggerLevel(-s-)", "SetTriggerLevel", [](Scratch&) { return SetTriggerLevel(1, -0.81); },
      IV, on_08_volt_range);
  add(
      "SetTriggerHys(s)", "SetTriggerHys", [](Scratch&) { return SetTriggerHys(1, 0.8); }, OK,
      on_08_volt_range);
  add(
      "SetTriggerHys(s+)", "SetTriggerHys", [](Scratch&) { return SetTriggerHys(1, 0.81); }, IV,
      on_08_volt_range);
  // Requests far above the table once chose the most sensitive range: the distances to the
  // entries all rounded to the same value.
  for (double v : {100.0, 1e21, 1e100, kHuge}) {
    add(
        "SetSensitivity(" + Show(v) + ")", "SetSensitivity",
        [v](Scratch&) {
          double in_out = v;
          const double status = SetSensitivity(1, &in_out);
          return VerifiedIfOk(status, in_out == 80.0);  // the largest range
        },
        OK);
  }
  add(
      "SetSensitivity(-1e308)", "SetSensitivity",
      [](Scratch&) {
        double v = -kHuge;
        const double status = SetSensitivity(1, &v);
        return VerifiedIfOk(status, v > 0.0);  // some range of the table
      },
      OK);
  add(
      "SetSampleFrequencyF(1e308)", "SetSampleFrequencyF",
      [](Scratch&) {
        double v = kHuge;
        const double status = SetSampleFrequencyF(&v);
        return VerifiedIfOk(status, v == 2e7);  // the fastest clock
      },
      OK);
  add(
      "SetSampleFrequencyF(1e-308)", "SetSampleFrequencyF",
      [](Scratch&) {
        double v = 1e-308;
        const double status = SetSampleFrequencyF(&v);
        return VerifiedIfOk(status, v > 0.0 && v < 1.0);  // the slowest clock
      },
      OK);
  add(
      "SetSampleFrequency(0xFFFFFFFF)", "SetSampleFrequency",
      [](Scratch&) {
        std::uint32_t f = 0xFFFFFFFF;
        const double status = SetSampleFrequency(&f);
        return VerifiedIfOk(status, f == 20000000);
      },
      OK);

  auto record_of_1000 = [] {
    SetRecordLength(1000);
    SetPostSamples(500);
  };
  for (std::uint32_t length : {0u, 32760u}) {
    add(
        "SetRecordLength(" + std::to_string(length) + ")", "SetRecordLength",
        [length](Scratch&) { return SetRecordLength(length); }, OK, record_of_1000);
  }
  for (std::uint32_t length : {32761u, 0x80000000u, 0xFFFFFFFFu}) {
    add(
        "SetRecordLength(" + std::to_string(length) + ")", "SetRecordLength",
        [length](Scratch&) { return SetRecordLength(length); }, IV, record_of_1000);
  }
  add(
      "SetPostSamples(length)", "SetPostSamples", [](Scratch&) { return SetPostSamples(1000); }, OK,
      record_of_1000);
  add(
      "SetPostSamples(0)", "SetPostSamples", [](Scratch&) { return SetPostSamples(0); }, OK,
      record_of_1000);
  for (std::uint32_t post : {1001u, 0x80000000u, 0xFFFFFFFFu}) {
    add(
        "SetPostSamples(" + std::to_string(post) + ")", "SetPostSamples",
        [post](Scratch&) { return SetPostSamples(post); }, IV, record_of_1000);
  }
  for (std::int32_t index : {-1, 1000, std::numeric_limits<std::int32_t>::min(),
                             std::numeric_limits<std::int32_t>::max()}) {
    const std::string at = "(" + std::to_string(index) + ")";
    add(
        "GetOneMeasurement" + at, "GetOneMeasurement",
        [index](Scratch& s) { return GetOneMeasurement(index, &s.d, &s.d2); }, IV, record_of_1000);
    add(
        "GetOneMeasurementRaw" + at, "GetOneMeasurementRaw",
        [index](Scratch& s) { return GetOneMeasurementRaw(index, &s.u16, &s.u16b); }, IV,
        record_of_1000);
    add(
        "GetOneMeasurementRawCh" + at, "GetOneMeasurementRawCh",
        [index](Scratch& s) { return GetOneMeasurementRawCh(2, index, &s.u16); }, IV,
        record_of_1000);
  }
  add(
      "GetOneMeasurementRaw(last)", "GetOneMeasurementRaw",
      [](Scratch& s) { return GetOneMeasurementRaw(999, &s.u16, &s.u16b); }, OK, record_of_1000);

  // Enumerations and flags: each value the board does not offer, and the first invalid ones.
  for (unsigned mode = 4; mode <= 15; ++mode) {
    add(
        "SetMeasureMode(" + std::to_string(mode) + ")", "SetMeasureMode",
        [mode](Scratch&) { return SetMeasureMode(static_cast<TMeasureMode>(mode)); }, NS);
  }
  for (unsigned mode : {17u, 128u, 255u}) {
    add(
        "SetMeasureMode(" + std::to_string(mode) + ")", "SetMeasureMode",
        [mode](Scratch&) { return SetMeasureMode(static_cast<TMeasureMode>(mode)); }, IV);
  }
  add(
      "SetMeasureMode(mXY)", "SetMeasureMode", [](Scratch&) { return SetMeasureMode(mXY); }, OK);
  for (unsigned source : {2u, 3u, 5u, 8u, 10u, 11u, 12u, 13u, 14u}) {
    add(
        "SetTriggerSource(" + std::to_string(source) + ")", "SetTriggerSource",
        [source](Scratch&) { return SetTriggerSource(static_cast<TTrigSource>(source)); }, NS);
  }
  for (unsigned source : {15u, 16u, 255u}) {
    add(
        "SetTriggerSource(" + std::to_string(source) + ")", "SetTriggerSource",
        [source](Scratch&) { return SetTriggerSource(static_cast<TTrigSource>(source)); }, IV);
  }
  for (unsigned slope = 2; slope <= 11; ++slope) {
    const auto m = static_cast<std::uint8_t>(slope);
    add(
        "SetTriggerModeCh(" + std::to_string(slope) + ")", "SetTriggerModeCh",
        [m](Scratch&) { return SetTriggerModeCh(1, m); }, NS);
    add(
        "SetTriggerMode(" + std::to_string(slope) + ")", "SetTriggerMode",
        [m](Scratch&) { return SetTriggerMode(m); }, NS);
  }
  for (unsigned slope : {12u, 255u}) {
    const auto m = static_cast<std::uint8_t>(slope);
    add(
        "SetTriggerModeCh(" + std::to_string(slope) + ")", "SetTriggerModeCh",
        [m](Scratch&) { return SetTriggerModeCh(0, m); }, IV);
    add(
        "SetTriggerMode(" + std::to_string(slope) + ")", "SetTriggerMode",
        [m](Scratch&) { return SetTriggerMode(m); }, IV);
  }
  for (std::uint8_t value : {std::uint8_t{2}, std::uint8_t{255}}) {
    add(
        "SetCoupling(" + std::to_string(value) + ")", "SetCoupling",
        [value](Scratch&) { return SetCoupling(1, value); }, IV);
    add(
        "SetAutoRanging(" + std::to_string(value) + ")", "SetAutoRanging",
        [value](Scratch&) { return SetAutoRanging(2, value); }, IV);
  }
  for (std::uint8_t bits :
       {std::uint8_t{0}, std::uint8_t{8}, std::uint8_t{11}, std::uint8_t{13}, std::uint8_t{255}}) {
    add(
        "SetResolution(" + std::to_string(bits) + ")", "SetResolution",
        [bits](Scratch&) { return SetResolution(bits); }, IV);
  }
  for (std::uint32_t ms : {0u, 1u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    add(
        "SetTriggerTimeOut(" + std::to_string(ms) + ")", "SetTriggerTimeOut",
        [ms](Scratch&) {
          const double status = SetTriggerTimeOut(ms);
          const std::int32_t back = GetTriggerTimeOut();
          const bool right = ms == 0xFFFFFFFFu   ? back == -1
                             : ms <= 0x7FFFFFFFu ? back == static_cast<std::int32_t>(ms)
                                                 : back == std::numeric_limits<std::int32_t>::max();
          SetTriggerTimeOut(100);  // keep later measurements short
          return VerifiedIfOk(status, right);
        },
        OK);
  }
  for (std::int32_t mode : {std::numeric_limits<std::int32_t>::min(), -2, 5,
                            std::numeric_limits<std::int32_t>::max()}) {
    add(
        "DoMeasure(" + std::to_string(mode) + ")", "DoMeasure",
        [mode](Scratch&) {
          const double status = DoMeasure(mode);
          DoMeasure(0);
          return status;
        },
        OK);
  }
  // The square-wave output: off, clamped into 100 .. 100 000 Hz.
  for (auto [asked, obtained] : {std::pair<std::uint32_t, std::uint32_t>{0, 0},
                                 {99, 100},
                                 {100000, 100000},
                                 {100001, 100000},
                                 {0xFFFFFFFF, 100000}}) {
    add(
        "SetSquareWaveGenFrequency(" + std::to_string(asked) + ")", "SetSquareWaveGenFrequency",
        [asked, obtained](Scratch&) {
          std::uint32_t f = asked;
          const double status = SetSquareWaveGenFrequency(&f);
          return VerifiedIfOk(status, f == obtained);
        },
        OK);
  }
  add(
      "FillFuncGenMemory(-1, null)", "FillFuncGenMemory",
      [](Scratch&) { return FillFuncGenMemory(-1, nullptr); }, NG);
  add(
      "FillFuncGenMemory(max, null)", "FillFuncGenMemory",
      [](Scratch&) { return FillFuncGenMemory(std::numeric_limits<std::int32_t>::max(), nullptr); },
      NG);

  // Null pointers: a variable or buffer that is not there is an invalid value where the
  // export would write or read it; exports of facilities the board lacks never touch theirs.
  const std::vector<std::pair<std::string, std::function<std::uint16_t()>>> nulls = {
      {"GetMeasurement", [] { return GetMeasurement(nullptr, nullptr); }},
      {"GetOneMeasurement", [] { return GetOneMeasurement(0, nullptr, nullptr); }},
      {"GetMeasurementRaw", [] { return GetMeasurementRaw(nullptr, nullptr); }},
      {"GetOneMeasurementRaw", [] { return GetOneMeasurementRaw(0, nullptr, nullptr); }},
      {"GetOneMeasurementRawCh", [] { return GetOneMeasurementRawCh(2, 0, nullptr); }},
      {"ADC_GetData", [] { return ADC_GetData(nullptr, nullptr); }},
      {"ADC_GetDataVolt", [] { return ADC_GetDataVolt(nullptr, nullptr); }},
      {"ADC_GetDataCh", [] { return ADC_GetDataCh(2, nullptr); }},
      {"ADC_GetDataVoltCh", [] { return ADC_GetDataVoltCh(1, nullptr); }},
      {"GetMeasureMode", [] { return GetMeasureMode(nullptr); }},
      {"SetSampleFrequency", [] { return SetSampleFrequency(nullptr); }},
      {"SetSampleFrequencyF", [] { return SetSampleFrequencyF(nullptr); }},
      {"GetSensitivity", [] { return GetSensitivity(2, nullptr); }},
      {"SetSensitivity", [] { return SetSensitivity(2, nullptr); }},
      {"GetAutoRanging", [] { return GetAutoRanging(1, nullptr); }},
      {"GetCoupling", [] { return GetCoupling(1, nullptr); }},
      {"GetDcLevel", [] { return GetDcLevel(2, nullptr); }},
      {"GetAvailableResolutions", [] { return GetAvailableResolutions(nullptr); }},
      {"GetAvailableSensitivities", [] { return GetAvailableSensitivities(nullptr); }},
      {"GetResolution", [] { return GetResolution(nullptr); }},
      {"GetNrChannels", [] { return GetNrChannels(nullptr); }},
      {"GetTriggerSource", [] { return GetTriggerSource(nullptr); }},
      {"GetTriggerMode", [] { return GetTriggerMode(nullptr); }},
      {"GetTriggerModeCh", [] { return GetTriggerModeCh(1, nullptr); }},
      {"GetTriggerLevel", [] { return GetTriggerLevel(2, nullptr); }},
      {"GetTriggerHys", [] { return GetTriggerHys(1, nullptr); }},
      {"SetSquareWaveGenFrequency", [] { return SetSquareWaveGenFrequency(nullptr); }},
  };
  for (const auto& [name, call] : nulls) {
    add(
        name + "(null)", name, [call](Scratch&) { return call(); }, IV);
  }
  const std::vector<std::tuple<std::string, std::function<std::uint16_t()>, double>> untouched = {
      {"GetSerialNumber", [] { return GetSerialNumber(nullptr); }, NS},
      {"GetCalibrationDate", [] { return GetCalibrationDate(nullptr); }, NS},
      {"GetExternalClock", [] { return GetExternalClock(nullptr); }, NS},
      {"GetInstrumentConfig", [] { return GetInstrumentConfig(nullptr); }, NS},
      {"GetTransferMode", [] { return GetTransferMode(nullptr); }, NS},
      {"GetPXITriggerSlopes", [] { return GetPXITriggerSlopes(nullptr); }, NS},
      {"GetPXITriggerEnables", [] { return GetPXITriggerEnables(nullptr); }, NS},
      {"GetDigitalInputValues", [] { return GetDigitalInputValues(nullptr); }, NS},
      {"GetOneDigitalValue", [] { return GetOneDigitalValue(0, nullptr); }, NS},
      {"GetFuncGenTrigSource", [] { return GetFuncGenTrigSource(nullptr); }, NS},
      {"GetFuncGenMaxAmplitude", [] { return GetFuncGenMaxAmplitude(nullptr); }, NG},
      {"GetFuncGenFrequency", [] { return GetFuncGenFrequency(nullptr); }, NG},
      {"SetFuncGenFrequency", [] { return SetFuncGenFrequency(nullptr); }, NG},
      {"GetFuncGenAmplitude", [] { return GetFuncGenAmplitude(nullptr); }, NG},
      {"GetFuncGenSignalType", [] { return GetFuncGenSignalType(nullptr); }, NG},
      {"GetFuncGenDCOffset", [] { return GetFuncGenDCOffset(nullptr); }, NG},
      {"GetFuncGenSymmetry", [] { return GetFuncGenSymmetry(nullptr); }, NG},
      {"GetFuncGenOutputOn", [] { return GetFuncGenOutputOn(nullptr); }, NG},
      {"GetFuncGenEnable", [] { return GetFuncGenEnable(nullptr); }, NG},
  };
  for (const auto& [name, call, present] : untouched) {
    add(
        name + "(null)", name, [call](Scratch&) { return call(); }, present);
  }
  return probes;
}

// The names of the interface list, as the library exports them.
std::set<std::string> ListedExports() {
  std::ifstream list(VM316_SOURCE_DIR "/src/exports/export_list.txt");
  std::set<std::string> names;
  std::string name;
  std::string line;
  while (std::getline(list, line)) {
    if (line.empty() || line[0] == '#') continue;
    names.insert(line.substr(0, line.find(' ')));
  }
  return names;
}

class BadInputTest : public SimulatedBoardTest {
 protected:
  void Enter(State state) {
    state_ = state;
    switch (state) {
      case State::kNoInstance:
        ExitInstrument();
        // Should a row bring the board up, it finds none.
        env_.Set("VM316_SIM_FAULT", "absent");
        break;
      case State::kAbsentBoard:
        ASSERT_EQ(BringUp(BoardInputs().Fault("absent")), StatusNoHardware);
        break;
      case State::kPresentBoard:
        ASSERT_EQ(BringUp(), StatusOk);
        ASSERT_EQ(SetTriggerTimeOut(100), StatusOk);  // every record is forced soon
        break;
    }
  }

  // Runs one call; checks its answer, and when it refused, that nothing was written and no
  // setting changed. A query that returns a value writes through no pointer either.
  void Check(const std::string& label, const Call& call, Expected expected,
             bool may_write = false) {
    const bool present = state_ == State::kPresentBoard;
    const std::vector<double> before = present ? Settings() : std::vector<double>{};
    scratch_.Reset();
    const double answer = call(scratch_);
    if (expected) {
      EXPECT_EQ(answer, *expected) << label;
    }
    const bool status = IsStatus(label);
    const bool refused = status && expected && *expected != OK;
    if ((refused || !status) && !may_write) {
      EXPECT_TRUE(scratch_.Untouched()) << label << " wrote while refusing";
    }
    if (refused && present) {
      EXPECT_EQ(Settings(), before) << label << " changed a setting";
    }
  }

  // The value-returning queries give no status to refuse with.
  static bool IsStatus(const std::string& label) {
    static const std::set<std::string> values = {"GetMaxSampleFrequency",
                                                 "GetMaxRecordLength",
                                                 "GetRecordLength",
                                                 "GetPostSamples",
                                                 "GetSampleFrequency",
                                                 "GetTriggerTimeOut",
                                                 "GetSquareWaveGenFrequency",
                                                 "ADC_Running",
                                                 "ADC_Triggered",
                                                 "ADC_Ready",
                                                 "GetDCLevelStatus",
                                                 "GetSampleFrequencyF",
                                                 "GetMaxSampleFrequencyF"};
    return values.count(label.substr(0, label.find('('))) == 0;
  }

  void RunEveryExport() {
    const bool present = state_ == State::kPresentBoard;
    for (const Row& row : EveryExport()) {
      // Two exports clear their output before any test; two more write 0 as they refuse.
      const std::string name = row.name;
      const bool clears_first = name == "GetFuncGenOutputOn" || name == "GetFuncGenEnable";
      Check(name, row.call, row.In(state_), clears_first || (present && row.writes_when_refusing));
    }
  }

  void RunHostileCalls() {
    const std::vector<Row> rows = EveryExport();
    for (const Probe& probe : HostileCalls()) {
      if (state_ == State::kPresentBoard) {
        probe.prepare();
        Check(probe.label, probe.call, probe.present);
      } else {
        Check(probe.label, probe.call, RowOf(rows, probe.name).In(state_));
      }
    }
  }

  State state_ = State::kNoInstance;
  Scratch scratch_;
};

TEST(BadInputTable, CoversEveryExportOfTheInterfaceOnce) {
  std::set<std::string> tabled;
  for (const Row& row : EveryExport()) EXPECT_TRUE(tabled.insert(row.name).second) << row.name;
  EXPECT_EQ(tabled.size(), 115u);
  EXPECT_EQ(tabled, ListedExports());
  for (const Probe& probe : HostileCalls()) EXPECT_EQ(tabled.count(probe.name), 1u) << probe.label;
}

TEST_F(BadInputTest, BeforeInitInstrumentEveryExportAnswersWithoutAnInstrument) {
  Enter(State::kNoInstance);
  RunHostileCalls();
  RunEveryExport();
}

TEST_F(BadInputTest, WithAnAbsentBoardEveryExportAnswersNoHardwareOrItsFixedCode) {
  Enter(State::kAbsentBoard);
  RunHostileCalls();
  RunEveryExport();
}

TEST_F(BadInputTest, OnAPresentBoardEveryExportAnswersItsCode) {
  Enter(State::kPresentBoard);
  RunEveryExport();
}

TEST_F(BadInputTest, OnAPresentBoardHostileArgumentsAreRefusedAndChangeNothing) {
  Enter(State::kPresentBoard);
  RunHostileCalls();
  // After all of it the board still measures.
  ASSERT_EQ(SetRecordLength(512), StatusOk);
  EXPECT_EQ(StartMeasurement(), StatusOk);
  std::uint16_t channels = 0;
  EXPECT_EQ(GetNrChannels(&channels), StatusOk);
  EXPECT_EQ(channels, 2);
}

}  // namespace
}  // namespace vm316::testing
