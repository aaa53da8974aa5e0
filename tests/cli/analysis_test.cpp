// What `vm316 measure` works out of a record beyond its levels, on the simulated board: the
// pulse measurements of a bench scope.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "cli/cli_runner.h"

namespace vm316::cli_testing {
namespace {

using ::testing::HasSubstr;

class AnalysisTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    SeedCalibration();
  }
};

// The seven texts of a channel's row under "period  rise  fall ...".
std::vector<std::string> PulseRow(const std::string& out, int channel) {
  const std::vector<std::string> lines = Lines(out);
  std::vector<std::string> cells;
  bool in_table = false;
  for (const std::string& line : lines) {
    if (line.find("period") != std::string::npos && line.find("overshoot") != std::string::npos) {
      in_table = true;
      continue;
    }
    if (!in_table || line.rfind("ch" + std::to_string(channel), 0) != 0) continue;
    const std::regex cell(R"(\S+( \S+)?)");
    for (auto it = std::sregex_iterator(line.begin() + 3, line.end(), cell);
         it != std::sregex_iterator(); ++it) {
      cells.push_back(it->str());
    }
    break;
  }
  return cells;
}

// "77.1 ns" in seconds, "50.0 %" as a fraction; NaN for "--".
double ValueOf(const std::string& text) {
  if (text == "--") return std::nan("");
  const double number = std::stod(text);
  const std::string unit = text.substr(text.find(' ') + 1);
  if (unit == "%") return number / 100.0;
  const std::string prefixes = "num";
  const double scale[] = {1e-9, 1e-6, 1e-3};
  const std::size_t prefix = prefixes.find(unit[0]);
  return unit.size() > 1 && prefix != std::string::npos ? number * scale[prefix] : number;
}

// Expected values (NaN: "--"), each within its tolerance.
struct PulseCase {
  const char* arguments;
  double period, rise, positive_width, duty, overshoot_max;
  double time_tolerance;  // fraction of each time
};

void PrintTo(const PulseCase& pulse, std::ostream* out) {
  *out << pulse.arguments;
}

class PulseTest : public AnalysisTest, public ::testing::WithParamInterface<PulseCase> {};

TEST_P(PulseTest, TheRowShowsWhatTheRecordCanGive) {
  const PulseCase& expected = GetParam();
  const CliRun run = Run(std::string("measure -q --channels 1 ") + expected.arguments, "LC_ALL=C");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::string> row = PulseRow(run.out, 1);
  ASSERT_EQ(row.size(), 7u) << run.out;
  auto check = [&](const std::string& text, double value, double tolerance, const char* name) {
    if (std::isnan(value)) {
      EXPECT_EQ(text, "--") << name << "\n" << run.out;
    } else {
      EXPECT_NEAR(ValueOf(text), value, tolerance) << name << "\n" << run.out;
    }
  };
  const double t = expected.time_tolerance;
  check(row[0], expected.period, expected.period * t, "period");
  check(row[1], expected.rise, expected.rise * t, "rise");
  check(row[2], expected.rise, expected.rise * t, "fall");
  check(row[3], expected.positive_width, expected.positive_width * t, "+width");
  check(row[4], expected.period - expected.positive_width, expected.period * t, "-width");
  check(row[5], expected.duty, 0.01, "duty");
  if (std::isnan(expected.overshoot_max)) {
    EXPECT_EQ(row[6], "--");
  } else {
    EXPECT_LE(ValueOf(row[6]), expected.overshoot_max) << run.out;
  }
}

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Pulses, PulseTest,
    ::testing::Values(
        // The board's own output at 20 MHz: the input path's 5 MHz rises in 70 ns (10-90 %),
        // a little over one sample, measured between interpolated samples.
        PulseCase{"--sim-ch1 generator --generator 100k --rate 20M --length 2000", 10e-6, 70e-9,
                  5e-6, 0.5, 0.03, 0.2},
        // A quarter duty; at 1 MHz an edge is one sample (0.8 us from 10 % to 90 %).
        PulseCase{"--sim-ch1 square:freq=2k,amp=0.3,duty=0.25 --range 1=0.8 --rate 1M "
                  "--length 4000",
                  500e-6, 0.8e-6, 125e-6, 0.25, 0.05, 0.05},
        // Flat: nothing to measure, and no division by a zero amplitude.
        PulseCase{"--sim-ch1 ground", kNone, kNone, kNone, kNone, kNone, 0.0},
        // Two edges are less than a whole period: the levels would be those of half a wave.
        PulseCase{"--sim-ch1 square:freq=60,amp=2 --rate 100k --length 1000", kNone, kNone, kNone,
                  kNone, kNone, 0.0},
        // Clipped: the edges' levels and times are the range's, not the signal's.
        PulseCase{"--sim-ch1 square:freq=1k,amp=2.5,offset=2.5 --range 1=0.4 --post 1000", kNone,
                  kNone, kNone, kNone, kNone, 0.0}));

}  // namespace
}  // namespace vm316::cli_testing
