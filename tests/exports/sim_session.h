// A host's view of the simulated board for one test: the inputs wired as the test says, the
// instrument brought up through InitInstrument in a fresh current directory, and a few ways to
// look at the records it takes. Bring-up calibrates when the directory holds no calibration of
// the day; one calibration (with grounded inputs) is made per build of the library and day and
// shared between the test processes, so each test starts from a directory that already holds
// the day's files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vm316.h"

namespace vm316::testing {

inline constexpr uint16_t kSimBase = 0x378;

// What is wired to the board (signals as the simulated board reads them) and its faults.
struct BoardInputs {
  BoardInputs& Ch1(std::string signal) { return Put(ch1, std::move(signal)); }
  BoardInputs& Ch2(std::string signal) { return Put(ch2, std::move(signal)); }
  BoardInputs& Ext(std::string signal) { return Put(ext, std::move(signal)); }
  BoardInputs& Fault(std::string faults) { return Put(fault, std::move(faults)); }

  std::string ch1 = "ground";
  std::string ch2 = "ground";
  std::string ext = "ground";
  std::string fault;

 private:
  BoardInputs& Put(std::string& field, std::string value) {
    field = std::move(value);
    return *this;
  }
};

// Copies the day's calibration files into the current directory, making them first if needed.
void SeedCalibration();

class SimulatedBoardTest : public ::testing::Test {
 protected:
  // Wires the inputs and brings the instrument up; StatusOk on a present board.
  uint16_t BringUp(const BoardInputs& inputs = {});
  void TearDown() override;

  ScopedTempCwd cwd_;
  ScopedEnv env_;
};

// Records of channels 1 and 2 as the host reads them.
struct Record {
  std::vector<double> ch1;
  std::vector<double> ch2;
};
Record VoltRecord();                           // GetMeasurement
Record BlockVoltRecord();                      // ADC_GetDataVolt
std::vector<uint16_t> RawRecord(int channel);  // GetMeasurementRaw

// Pumps the message loop for about ms milliseconds of (virtual) time.
void PumpFor(uint32_t ms);

// What a test checks of a record.
double Mean(const std::vector<double>& samples);
double Amplitude(const std::vector<double>& samples);  // half of max - min
// Fractional indices where the samples cross level upwards (or downwards), each after the
// samples were at least hysteresis on the other side (so noise does not count twice).
std::vector<double> Crossings(const std::vector<double>& samples, double level, bool rising,
                              double hysteresis = 0.02);
// The mean spacing of the crossings, in samples (0 when fewer than two).
double MeanPeriod(const std::vector<double>& crossings);
// The crossing nearest to index, or a large number when there is none.
double NearestCrossing(const std::vector<double>& crossings, double index);

}  // namespace vm316::testing
