// What `vm316 measure` works out of a record beyond its levels, on the simulated board: the
// pulse measurements of a bench scope; and the files other tools read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>

#include "cli/cli_runner.h"
#include "cli/csv_file.h"

namespace vm316::cli_testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

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

// What a shell command prints on stdout.
std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
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

// Known inputs through the board: a 1 kHz sine of 0.5 V peak is -9.03 dBV (0.354 V rms) with
// the flat-top window; the generator's square has odd harmonics at 1/3 and 1/5 of its
// fundamental (-9.5 dB, -14.0 dB, -16.9 dB) and next to none even ones. A harmonic is named at
// its multiple of the peak, not at the strongest noise line beside it.
TEST_F(AnalysisTest, TheSpectrumReadsKnownLevelsAndHarmonics) {
  const std::regex line(
      R"(peak (\S+) kHz (\S+) dBV; harmonics \S+ kHz (\S+) dBV, \S+ kHz (\S+) )"
      R"(dBV, \S+ kHz (\S+) dBV, \S+ kHz (\S+) dBV, \S+ kHz (\S+) dBV, \S+ kHz (\S+) dBV)");
  std::smatch match;
  // Ten thousand samples of a hundred periods; then the records where the line falls between
  // bins or within the window's reach of 0 Hz: one period, 1.6 periods, 3.7 samples a period.
  for (const char* settings : {"--range 1=0.8 --rate 1M --length 10000", "--rate 1M",
                               "--rate 20M --length 32760", "--rate 3.7k --length 37"}) {
    const CliRun sine = Run(std::string("measure -q --channels 1 --sim-ch1 sine:freq=1k,amp=0.5 ") +
                            settings + " --spectrum --window flattop");
    ASSERT_THAT(sine.out, HasSubstr("peak 1.000 kHz")) << settings << "\n" << sine.out;
    const std::size_t at = sine.out.find("peak 1.000 kHz ") + std::strlen("peak 1.000 kHz ");
    EXPECT_NEAR(std::stod(sine.out.substr(at)), -9.03, 0.3) << settings;
  }
  const CliRun sine =
      Run("measure -q --channels 1 --sim-ch1 sine:freq=1k,amp=0.5 --range 1=0.8 --rate 1M --length "
          "10000 --spectrum --window flattop");
  EXPECT_THAT(sine.out, HasSubstr("harmonics 2.000 kHz"));
  EXPECT_THAT(sine.out, HasSubstr(", 7.000 kHz"));
  // The square over twenty periods, one, and 1.6 (where the fundamental's leakage over the
  // partial period would stand for the harmonics).
  for (const char* length : {"20000", "1000", "1600"}) {
    const CliRun square =
        Run(std::string("measure -q --channels 1 --rate 1M --spectrum --length ") + length);
    ASSERT_TRUE(std::regex_search(square.out, match, line)) << square.out;
    const double fundamental = std::stod(match[2]);
    EXPECT_NEAR(std::stod(match[4]) - fundamental, 20 * std::log10(1.0 / 3), 0.5) << length;
    EXPECT_NEAR(std::stod(match[6]) - fundamental, 20 * std::log10(1.0 / 5), 0.5) << length;
    EXPECT_NEAR(std::stod(match[8]) - fundamental, 20 * std::log10(1.0 / 7), 0.5) << length;
    EXPECT_LT(std::stod(match[3]) - fundamental, -40.0) << length;
    EXPECT_LT(std::stod(match[5]) - fundamental, -40.0) << length;
  }
  // Less than a period (a twentieth of the 50 Hz sine): no harmonics to name, and the fitted
  // level stays within the signal's own (2 V peak, 3 dBV), not the ill-conditioned fit's.
  const CliRun part = Run("measure -q --channels 2 --rate 1M --spectrum");
  EXPECT_THAT(part.out, Not(HasSubstr("harmonics"))) << part.out;
  const std::size_t level = part.out.find(" Hz ", part.out.find("peak "));
  ASSERT_NE(level, std::string::npos) << part.out;
  EXPECT_LT(std::stod(part.out.substr(level + 4)), 3.1) << part.out;
  // A line within the window's reach of 0 Hz (3 bins; flat-top reaches 5) is still the peak:
  // the record's DC must not hide it.
  const CliRun low =
      Run("measure -q --channels 1 --sim-ch1 sine:freq=300,amp=1,offset=1 --range 1=4 --rate 100k "
          "--length 1000 --spectrum --window flattop");
  EXPECT_THAT(low.out, HasSubstr("peak 300.0 Hz")) << low.out;
}

// A session file as the real sigrok-cli reads it: both channels, in volts, at the record's
// rate, with the CSV's values of the same record (the virtual clock repeats it).
TEST_F(AnalysisTest, SigrokCliReadsTheSessionFileAsTheCsvHoldsTheRecord) {
#ifndef VM316_SIGROK_CLI
  GTEST_SKIP() << "no sigrok-cli or no libzip in this build";
#else
  const std::string capture =
      "measure -q --sim-ch1 sine:freq=1k,amp=0.5 --range 1=0.8 --sim-ch2 generator --rate 1M "
      "--length 3000 ";
  ASSERT_EQ(Run(capture + "-o cap.sr").exit_code, 0);
  ASSERT_EQ(Run(capture + "--format sr -o cap.zip").exit_code, 0);
  EXPECT_EQ(ReadFile(work_ / "cap.sr"), ReadFile(work_ / "cap.zip"));
  ASSERT_EQ(Run(capture + "-o cap.csv").exit_code, 0);
  const CsvFile csv = ParseCsv(ReadFile(work_ / "cap.csv"));

  const std::string sigrok = std::string(VM316_SIGROK_CLI) + " -i " + Quoted(work_ / "cap.sr");
  const std::string show = Output(sigrok + " --show");
  EXPECT_THAT(show, HasSubstr("Samplerate: 1000000"));
  EXPECT_THAT(show, HasSubstr("- CH1: analog"));
  EXPECT_THAT(show, HasSubstr("- CH2: analog"));
  EXPECT_THAT(show, HasSubstr("Analog sample count: 3000"));

  const std::string values = Output(sigrok + " -O csv");
  std::array<std::vector<double>, 2> read;
  // After its header ("V DC,V DC") one row per sample, the channels in the file's order.
  bool rows = false;
  for (const std::string& text : Lines(values)) {
    if (text == "V DC,V DC") {
      rows = true;
      continue;
    }
    if (!rows) continue;
    const std::size_t comma = text.find(',');
    ASSERT_NE(comma, std::string::npos) << text;
    read[0].push_back(std::stod(text.substr(0, comma)));
    read[1].push_back(std::stod(text.substr(comma + 1)));
  }
  for (std::size_t channel = 0; channel < 2; ++channel) {
    const std::vector<double> expected = csv.Column(channel + 1);
    ASSERT_EQ(read[channel].size(), expected.size()) << values.substr(0, 400);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      // The file holds 32-bit floats; the CSV six significant digits.
      ASSERT_NEAR(read[channel][i], expected[i], 1e-5) << "ch" << channel + 1 << " sample " << i;
    }
  }
  const CliRun to_stdout = Run("measure -q --format sr -o -");
  EXPECT_EQ(to_stdout.exit_code, 2);
  EXPECT_THAT(to_stdout.err, HasSubstr("give -o a file name"));
#endif
}

}  // namespace
}  // namespace vm316::cli_testing
