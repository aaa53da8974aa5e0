// The square-wave generator exports and the table of facilities the board lacks: which
// answer behind the instrument check, which answer without one, and with what code.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim_session.h"
#include "vm316.h"

namespace vm316::testing {
namespace {

struct AbsentFacility {
  std::string name;
  std::function<uint16_t()> call;
  bool gated;     // answers StatusNoHardware without a present instrument
  uint16_t code;  // the answer with one
};

std::vector<AbsentFacility> AbsentFacilities() {
  static double real = 1.5;
  static uint16_t word = 3;
  static uint8_t byte = 3;
  static const uint16_t points[4] = {1, 2, 3, 4};
  return {
      {"SetFuncGenSignalType", [] { return SetFuncGenSignalType(1); }, true, StatusNoGenerator},
      {"GetFuncGenSignalType", [] { return GetFuncGenSignalType(&word); }, true, StatusNoGenerator},
      {"SetFuncGenAmplitude", [] { return SetFuncGenAmplitude(1.0); }, true, StatusNoGenerator},
      {"GetFuncGenAmplitude", [] { return GetFuncGenAmplitude(&real); }, true, StatusNoGenerator},
      {"SetFuncGenDCOffset", [] { return SetFuncGenDCOffset(0.1); }, true, StatusNoGenerator},
      {"GetFuncGenDCOffset", [] { return GetFuncGenDCOffset(&real); }, true, StatusNoGenerator},
      {"SetFuncGenSymmetry", [] { return SetFuncGenSymmetry(50.0); }, true, StatusNoGenerator},
      {"GetFuncGenSymmetry", [] { return GetFuncGenSymmetry(&real); }, true, StatusNoGenerator},
      {"SetFuncGenFrequency", [] { return SetFuncGenFrequency(&real); }, true, StatusNoGenerator},
      {"GetFuncGenFrequency", [] { return GetFuncGenFrequency(&real); }, true, StatusNoGenerator},
      {"SetFuncGenOutputOn", [] { return SetFuncGenOutputOn(1); }, true, StatusNoGenerator},
      {"FillFuncGenMemory", [] { return FillFuncGenMemory(4, points); }, true, StatusNoGenerator},
      {"SetFuncGenEnable", [] { return SetFuncGenEnable(1); }, true, StatusNotSupported},
      {"FuncGenBurst", [] { return FuncGenBurst(3); }, true, StatusNotSupported},
      {"SetFuncGenTrigSource", [] { return SetFuncGenTrigSource(1); }, true, StatusNotSupported},
      {"GetFuncGenTrigSource", [] { return GetFuncGenTrigSource(&byte); }, true,
       StatusNotSupported},
      {"SetFuncGenAmplitudeRange", [] { return SetFuncGenAmplitudeRange(1); }, false,
       StatusNotSupported},
      {"GetFuncGenAmplitudeRange", [] { return GetFuncGenAmplitudeRange(1); }, false,
       StatusNotSupported},
      {"SetFuncGenMode", [] { return SetFuncGenMode(1); }, false, StatusNotSupported},
      {"GetFuncGenMode", [] { return GetFuncGenMode(1); }, false, StatusNotSupported},
      {"GetDigitalInputValues", [] { return GetDigitalInputValues(&word); }, true,
       StatusNotSupported},
      {"GetOneDigitalValue", [] { return GetOneDigitalValue(1, &word); }, true, StatusNotSupported},
      {"SetDigitalOutputs", [] { return SetDigitalOutputs(1); }, true, StatusNotSupported},
      {"GetDigitalOutputs", [] { return GetDigitalOutputs(1); }, true, StatusNotSupported},
      {"SetPXITriggerSlopes", [] { return SetPXITriggerSlopes(1); }, true, StatusNotSupported},
      {"GetPXITriggerSlopes", [] { return GetPXITriggerSlopes(&byte); }, true, StatusNotSupported},
      {"SetPXITriggerEnables", [] { return SetPXITriggerEnables(1); }, true, StatusNotSupported},
      {"GetPXITriggerEnables", [] { return GetPXITriggerEnables(&byte); }, true,
       StatusNotSupported},
      {"SetupOhmMeasurements", [] { return SetupOhmMeasurements(1); }, true, StatusNotSupported},
      {"GetOhmValues", [] { return GetOhmValues(1, 2); }, false, StatusNotSupported},
      {"I2CWrite", [] { return I2CWrite(1, 2, 3); }, true, StatusNotSupported},
      {"I2CWriteNoStop", [] { return I2CWriteNoStop(1, 2, 3); }, true, StatusNotSupported},
      {"I2CRead", [] { return I2CRead(1, 2, 3); }, true, StatusNotSupported},
      {"I2CReadNoStop", [] { return I2CReadNoStop(1, 2, 3); }, true, StatusNotSupported},
      {"I2CSetSpeed", [] { return I2CSetSpeed(100); }, true, StatusNotSupported},
      {"I2CGetSpeed", [] { return I2CGetSpeed(100); }, true, StatusNotSupported},
      {"GetActiveKT5", [] { return GetActiveKT5(1); }, false, StatusNotSupported},
      {"SetActiveKT5", [] { return SetActiveKT5(1); }, false, StatusNotSupported},
      {"SetDAC1451", [] { return SetDAC1451(1, 2, 3, 4); }, false, StatusNotSupported},
      {"SetMotorOn", [] { return SetMotorOn(1, 1); }, false, StatusNotSupported},
  };
}

class AbsentFacilityTest : public SimulatedBoardTest {};

TEST_F(AbsentFacilityTest, WithoutAnInstrumentGatedExportsSayNoHardware) {
  ExitInstrument();
  for (const AbsentFacility& facility : AbsentFacilities()) {
    EXPECT_EQ(facility.call(), facility.gated ? uint16_t{StatusNoHardware} : facility.code)
        << facility.name;
  }
}

TEST_F(AbsentFacilityTest, WithAnInstrumentEachAnswersItsCodeAndTouchesNothing) {
  ASSERT_EQ(BringUp(), StatusOk);
  for (const AbsentFacility& facility : AbsentFacilities()) {
    EXPECT_EQ(facility.call(), facility.code) << facility.name;
  }
  double real = 1.5;
  EXPECT_EQ(SetFuncGenFrequency(&real), StatusNoGenerator);
  EXPECT_EQ(GetFuncGenFrequency(&real), StatusNoGenerator);
  EXPECT_EQ(real, 1.5);
  uint8_t byte = 3;
  EXPECT_EQ(GetPXITriggerSlopes(&byte), StatusNotSupported);
  EXPECT_EQ(byte, 3);
}

// The two exceptions clear their output before any test.
TEST_F(AbsentFacilityTest, OutputOnAndEnableAreClearedBeforeAnyTest) {
  ExitInstrument();
  uint16_t on = 7;
  uint16_t enable = 7;
  EXPECT_EQ(GetFuncGenOutputOn(&on), StatusNoHardware);
  EXPECT_EQ(GetFuncGenEnable(&enable), StatusNoHardware);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(enable, 0);
  ASSERT_EQ(BringUp(), StatusOk);
  on = enable = 7;
  EXPECT_EQ(GetFuncGenOutputOn(&on), StatusNoGenerator);
  EXPECT_EQ(GetFuncGenEnable(&enable), StatusNoGenerator);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(enable, 0);
  EXPECT_EQ(GetFuncGenEnable(nullptr), StatusNoGenerator);
}

class SquareWaveTest : public SimulatedBoardTest {};

TEST_F(SquareWaveTest, TheFrequencyObtainedIsWrittenBackAndKept) {
  ASSERT_EQ(BringUp(), StatusOk);
  const struct {
    uint32_t request;
    uint32_t obtained;
  } cases[] = {{1000, 1000}, {3000, 3001}, {50, 100}, {150000, 100000}, {30000, 30075}, {0, 0}};
  for (const auto& c : cases) {
    uint32_t frequency = c.request;
    EXPECT_EQ(SetSquareWaveGenFrequency(&frequency), StatusOk);
    EXPECT_EQ(frequency, c.obtained) << c.request;
    EXPECT_EQ(GetSquareWaveGenFrequency(), static_cast<int32_t>(c.obtained));
  }
  uint32_t frequency = 2000;
  ASSERT_EQ(SetSquareWaveGenFrequency(&frequency), StatusOk);
  ExitInstrument();
  EXPECT_EQ(GetSquareWaveGenFrequency(), 2000);  // library state: no instrument needed
  frequency = 500;
  EXPECT_EQ(SetSquareWaveGenFrequency(&frequency), StatusNoHardware);
  EXPECT_EQ(frequency, 500u);
  EXPECT_EQ(GetSquareWaveGenFrequency(), 2000);
}

}  // namespace
}  // namespace vm316::testing
