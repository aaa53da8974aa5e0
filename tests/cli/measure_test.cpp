// `vm316 measure` on the simulated board: what reaches the terminal, the CSV and the SVG.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>

#include "cli/cli_runner.h"
#include "cli/csv_file.h"
#include "cli/xml_check.h"

namespace vm316::cli_testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// One converter step on the 0.8 V range.
constexpr double kStep08 = 0.8 / 128.0;

class MeasureTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    SeedCalibration();
  }
};

double Mean(const std::vector<double>& values) {
  double sum = 0.0;
  for (const double v : values) sum += v;
  return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

TEST_F(MeasureTest, CsvHoldsTheSettingsAndEverySample) {
  const CliRun run =
      Run("measure -q --sim-ch1 sine:freq=1000,amp=0.5 --sim-ch2 dc:offset=-0.3 --range 1=0.8 "
          "--range 2=0.8 --rate 1M --length 5000 --post 5000 -o cap.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "cap.csv"));

  EXPECT_EQ(csv.Setting("sample_rate_hz"), "1000000");
  EXPECT_EQ(csv.Setting("samples"), "5000");
  EXPECT_EQ(csv.Setting("pre_trigger_samples"), "0");
  EXPECT_EQ(csv.Setting("backend"), "simulated board at 0x378");
  EXPECT_THAT(csv.Setting("trigger").value_or(""), HasSubstr("ch1 rising"));
  EXPECT_EQ(csv.Setting("trigger_state"), "triggered");
  EXPECT_EQ(csv.Setting("over_range"), "none");
  EXPECT_THAT(csv.Setting("ch1").value_or(""), HasSubstr("range 0.8 V, coupling dc"));
  EXPECT_THAT(csv.header, ::testing::ElementsAre("time_s", "ch1_v", "ch2_v"));
  ASSERT_EQ(csv.rows.size(), 5000u);
  EXPECT_TRUE(csv.rows_well_formed);

  const std::vector<double> time = csv.Column(0);
  EXPECT_DOUBLE_EQ(time.front(), 0.0);
  EXPECT_NEAR(time[1] - time[0], 1e-6, 1e-12);
  EXPECT_NEAR(time.back(), 4999e-6, 1e-9);

  const std::vector<double> ch1 = csv.Column(1);
  const auto [low, high] = std::minmax_element(ch1.begin(), ch1.end());
  EXPECT_NEAR((*high - *low) / 2.0, 0.5, 0.5 * 0.03 + kStep08);
  const std::optional<double> frequency = RecoveredFrequency(ch1, 1e6);
  ASSERT_TRUE(frequency.has_value());
  EXPECT_NEAR(*frequency, 1000.0, 5.0);
  // 0.8 V has its gain calibrated at a quarter of full scale: within 3 % (the calibration's
  // statistics in docs/).
  EXPECT_NEAR(Mean(csv.Column(2)), -0.3, 0.3 * 0.03 + kStep08);
}

TEST_F(MeasureTest, ATenthOfTheRecordPrecedesTheTriggerHalfWayUpTheSignal) {
  const CliRun run =
      Run("measure -q --sim-ch1 sine:freq=1000,amp=0.5,offset=0.2 --range 1=0.8 --rate 1M "
          "--length 2000 --channels 1 -o cap.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "cap.csv"));
  EXPECT_THAT(csv.header, ::testing::ElementsAre("time_s", "ch1_v"));
  EXPECT_EQ(csv.Setting("pre_trigger_samples"), "200");
  const std::vector<double> time = csv.Column(0);
  const std::vector<double> ch1 = csv.Column(1);
  ASSERT_EQ(ch1.size(), 2000u);
  EXPECT_NEAR(time.front(), -200e-6, 1e-12);
  EXPECT_DOUBLE_EQ(time[200], 0.0);
  // The level found from a free-running record lies at the sine's offset; the trace rises
  // through it at the trigger sample.
  EXPECT_NEAR(ch1[200], 0.2, 4 * kStep08);
  EXPECT_GT(ch1[220], ch1[200] + 2 * kStep08);
}

TEST_F(MeasureTest, VoltsAreInputVoltsWhateverTheDcLevel) {
  // The DC level moves the window of the 0.8 V range to 0.2 .. 1.8 V; the trigger level and
  // the samples are still the input's volts.
  const CliRun run =
      Run("measure -q --sim-ch1 sine:freq=1000,amp=0.5,offset=1 --range 1=0.8 --dc-level 1=1 "
          "--trigger ch1:rising:1.2 --rate 1M --length 3000 --post 3000 --channels 1 -o dc.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "dc.csv"));
  EXPECT_EQ(csv.Setting("trigger"), "ch1 rising 1.2 V");
  EXPECT_THAT(csv.Setting("ch1").value_or(""), HasSubstr("dc_level 1 V"));
  const std::vector<double> ch1 = csv.Column(1);
  EXPECT_NEAR(Mean(ch1), 1.0, 0.01 + kStep08);
  EXPECT_NEAR(ch1[0], 1.2, 4 * kStep08);
  EXPECT_GT(ch1[20], ch1[0]);
}

TEST_F(MeasureTest, AcCouplingHasSettledBeforeTheRecord) {
  // Switched to AC the coupling's capacitor starts empty: the whole 2 V of DC passes at first.
  const CliRun run =
      Run("measure -q --channels 1 --coupling 1=ac --sim-ch1 sine:freq=1k,amp=1,offset=2 "
          "--range 1=2 --rate 1M --length 5000 -o ac.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "ac.csv"));
  EXPECT_EQ(csv.Setting("trigger_state"), "triggered");
  EXPECT_NEAR(Mean(csv.Column(1)), 0.0, 2 * 2.0 / 128);
}

TEST_F(MeasureTest, RawCsvHoldsSampleCodes) {
  const CliRun run =
      Run("measure -q --sim-ch1 sine:freq=1000,amp=0.5 --range 1=0.8 --rate 1M --raw -o raw.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "raw.csv"));
  EXPECT_THAT(csv.header, ::testing::ElementsAre("time_s", "ch1_raw", "ch2_raw"));
  ASSERT_EQ(csv.rows.size(), 1000u);
  for (const double code : csv.Column(1)) {
    ASSERT_EQ(std::fmod(code, 256.0), 0.0) << code;
    ASSERT_LE(code, 65280.0);
  }
  const std::vector<double> codes = csv.Column(1);
  const auto [low, high] = std::minmax_element(codes.begin(), codes.end());
  // 0.5 V peak on the 0.8 V range: 80 converter steps either side of 128.
  EXPECT_NEAR((*high - *low) / 256.0, 160.0, 8.0);
}

TEST_F(MeasureTest, FreeRunningRecordsHoldOnlySamplesTakenAfterTheArm) {
  const CliRun run =
      Run("measure -q --sim-ch1 dc:offset=0.5 --range 1=0.8 --trigger none "
          "--length 4000 -o dc.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "dc.csv"));
  EXPECT_EQ(csv.Setting("trigger"), "none (free running)");
  for (const double v : csv.Column(1)) ASSERT_NEAR(v, 0.5, 0.5 * 0.01 + 2 * kStep08);
}

TEST_F(MeasureTest, SvgIsWellFormedWithAxesBothTracesAndTheTrigger) {
  const CliRun run = Run("measure -q --post 1000 --svg cap.svg");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string svg = ReadFile(work_ / "cap.svg");
  EXPECT_EQ(XmlProblem(svg), "");
  EXPECT_THAT(svg, HasSubstr("<svg xmlns=\"http://www.w3.org/2000/svg\""));
  for (const char* id : {"ch1", "ch2"}) {
    const std::regex trace(std::string("<polyline id=\"") + id + "\"[^>]* points=\"([^\"]*)\"");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(svg, match, trace)) << id;
    const std::string points = match[1];
    EXPECT_GE(std::count(points.begin(), points.end(), ','), 500) << id;
  }
  EXPECT_THAT(svg, HasSubstr("<g id=\"trigger\""));
  EXPECT_THAT(svg, HasSubstr("<g id=\"grid\""));
  EXPECT_THAT(svg, HasSubstr("time from the trigger (s)"));
  EXPECT_THAT(svg, HasSubstr("voltage (V)"));
  EXPECT_THAT(svg, HasSubstr(">5 V</text>"));
  EXPECT_THAT(svg, HasSubstr(">5 ms</text>"));
}

TEST_F(MeasureTest, TerminalShowsThePlotAndTheMeasurements) {
  const CliRun run = Run("measure --post 1000", "LC_ALL=C");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_GT(lines.size(), 20u);
  EXPECT_THAT(lines[0], HasSubstr("* ch1 8 V dc"));
  EXPECT_THAT(lines[0], HasSubstr("o ch2 8 V dc"));
  EXPECT_THAT(lines[0], HasSubstr("T trigger ch1 rising 2.5 V   Trig'd"));
  // Sixteen rows of plot, the frame under them with the trigger mark, then the time labels.
  EXPECT_EQ(lines[17].substr(8, 3), " +T");
  EXPECT_THAT(lines[18], HasSubstr("10 ms"));
  EXPECT_THAT(run.out, HasSubstr("100 kHz, 1000 samples (10 ms), 0 before the trigger"));
  EXPECT_THAT(run.out, HasSubstr("min        max        p-p       mean        rms       freq"));
  const std::regex ch1_row(R"(ch1 +\S+ m?V +(\S+) V .* (\S+) kHz)");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(run.out, match, ch1_row)) << run.out;
  // The board's own 0 V / 5 V output: the record's maximum, converter noise included, lies
  // within two codes of 62.5 mV on the 8 V range.
  EXPECT_NEAR(std::stod(match[1]), 5.0, 0.13);
  EXPECT_EQ(match[2], "1.000");
  // The backend is named once, on stderr.
  const std::regex backend("simulated board at 0x378");
  EXPECT_EQ(std::distance(std::sregex_iterator(run.err.begin(), run.err.end(), backend),
                          std::sregex_iterator()),
            1);
  EXPECT_THAT(run.out, Not(HasSubstr("\x1b[")));  // no colours into a pipe
}

TEST_F(MeasureTest, ARateTheBoardCannotMakeIsReportedWithTheOneItMakes) {
  const CliRun run = Run("measure --rate 3M --length 500 --post 500 -o r.csv", "LC_ALL=C");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("the board cannot sample at 3 MHz; it samples at 4 MHz"));
  EXPECT_THAT(run.out, HasSubstr("4 MHz, 500 samples (125 us), 0 before the trigger (asked for "
                                 "3 MHz)"));
  const CsvFile csv = ParseCsv(ReadFile(work_ / "r.csv"));
  EXPECT_EQ(csv.Setting("sample_rate_hz"), "4000000");
  EXPECT_EQ(csv.Setting("asked_rate_hz"), "3000000");
  EXPECT_NEAR(csv.rows[1][0] - csv.rows[0][0], 0.25e-6, 1e-12);
}

TEST_F(MeasureTest, SeveralCapturesGoToNumberedFiles) {
  const CliRun run = Run("measure -q --count 3 -o c.csv --length 200");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  for (const char* name : {"c-1.csv", "c-2.csv", "c-3.csv"}) {
    EXPECT_EQ(ParseCsv(ReadFile(work_ / name)).rows.size(), 200u) << name;
  }
  EXPECT_FALSE(fs::exists(work_ / "c.csv"));
  EXPECT_THAT(run.out, HasSubstr("capture 1 of 3"));
  EXPECT_THAT(run.out, HasSubstr("capture 3 of 3"));
}

TEST_F(MeasureTest, BothStylesMeasureTheSameSignal) {
  for (const char* style : {"blocking", "block"}) {
    const CliRun run = Run(std::string("measure -q --sim-ch2 sine:freq=2000,amp=1.5 --range "
                                       "2=2 --channels 2 --rate 1M --length 4000 --post 4000 "
                                       "-o s.csv "
                                       "--style ") +
                           style);
    ASSERT_EQ(run.exit_code, 0) << style << run.err;
    const CsvFile csv = ParseCsv(ReadFile(work_ / "s.csv"));
    EXPECT_THAT(csv.Setting("trigger").value_or(""), HasSubstr("ch2 rising")) << style;
    const std::vector<double> ch2 = csv.Column(1);
    const auto [low, high] = std::minmax_element(ch2.begin(), ch2.end());
    EXPECT_NEAR((*high - *low) / 2.0, 1.5, 1.5 * 0.03 + 2.0 / 128) << style;
    EXPECT_NEAR(RecoveredFrequency(ch2, 1e6).value_or(0.0), 2000.0, 10.0) << style;
  }
}

TEST_F(MeasureTest, AutomaticRangingSettlesBeforeTheRecord) {
  const CliRun run =
      Run("measure -q --sim-ch1 sine:freq=1000,amp=1 --range 1=auto --rate 1M "
          "--length 3000 --post 3000 -o auto.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "auto.csv"));
  // From 8 V down while the trace stays within a third of full scale: 4 V, then 2 V.
  EXPECT_THAT(csv.Setting("ch1").value_or(""), HasSubstr("range 2 V (auto)"));
  const std::vector<double> ch1 = csv.Column(1);
  const auto [low, high] = std::minmax_element(ch1.begin(), ch1.end());
  EXPECT_NEAR((*high - *low) / 2.0, 1.0, 0.03 + 2.0 / 128);
}

TEST_F(MeasureTest, TheBoardsOwnOutputIsMeasuredAtTheFrequencySet) {
  const CliRun run =
      Run("measure -q --generator 2k --rate 1M --length 5000 --post 5000 --channels 1");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, ::testing::ContainsRegex(R"(ch1 .* 2\.000 kHz)"));
}

// A slow edge spends many samples near the mid level, where one LSB of converter noise crosses
// it back and forth: the reading must not follow wherever that noise crossed last. Twenty
// records of three periods each, as the panel shows them, all within 0.2 %.
TEST_F(MeasureTest, ASlowSineReadsItsFrequencyThroughTheConvertersNoise) {
  const CliRun run =
      Run("measure --channels 2 --trigger ch2 --sim-ch2 sine:freq=300,amp=2 --range 2=8 -n 20");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::regex line(R"(ch2 .* (\d+\.\d) Hz)");
  int readings = 0;
  for (std::sregex_iterator it(run.out.begin(), run.out.end(), line), end; it != end; ++it) {
    EXPECT_NEAR(std::stod((*it)[1]), 300.0, 0.6) << (*it)[0];
    ++readings;
  }
  EXPECT_EQ(readings, 20);
}

// What a bench scope shows beside the trace: whether the record was triggered or forced after
// the time-out, and which channel went beyond its range (so that its measurements are not the
// signal's), alike in the terminal, the CSV and the SVG.
struct MarkCase {
  const char* arguments;
  const char* state;       // trigger_state in the CSV, class of the SVG's mark
  const char* legend;      // in the terminal's legend line
  const char* over_range;  // over_range in the CSV
};

void PrintTo(const MarkCase& mark, std::ostream* out) {
  *out << mark.arguments;
}

class MarkTest : public MeasureTest, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(MarkTest, TheRecordSaysHowItWasTriggeredAndWhatClipped) {
  const MarkCase& mark = GetParam();
  const CliRun run =
      Run(std::string("measure -q -o m.csv --svg m.svg ") + mark.arguments, "LC_ALL=C");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const CsvFile csv = ParseCsv(ReadFile(work_ / "m.csv"));
  EXPECT_EQ(csv.Setting("trigger_state"), mark.state);
  EXPECT_EQ(csv.Setting("over_range"), mark.over_range);
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines[0], HasSubstr(mark.legend));
  const std::string svg = ReadFile(work_ / "m.svg");
  EXPECT_EQ(XmlProblem(svg), "");
  EXPECT_THAT(svg, HasSubstr(std::string("<g id=\"trigger-state\" class=\"") + mark.state));
  for (const char* channel : {"ch1", "ch2"}) {
    const bool clipped = std::string(mark.over_range).find(channel) != std::string::npos;
    EXPECT_EQ(lines[0].find(std::string(channel) + " 8 V dc OVER RANGE") != std::string::npos ||
                  lines[0].find(std::string(channel) + " 0.4 V dc OVER RANGE") != std::string::npos,
              clipped)
        << channel << ": " << lines[0];
    EXPECT_EQ(run.out.find(std::string(channel) + " over range: ") != std::string::npos, clipped)
        << channel;
    EXPECT_EQ(svg.find(std::string("id=\"over-range-") + channel) != std::string::npos, clipped)
        << channel;
    // The flag stands clear of every trace.
    std::smatch flag;
    if (!clipped ||
        !std::regex_search(svg, flag,
                           std::regex(std::string("id=\"over-range-") + channel +
                                      "\"[\\s\\S]*?<text x=\"[0-9.]+\" y=\"([0-9.]+)\""))) {
      continue;
    }
    const std::regex points(R"re(points="([^"]*)")re");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), points);
         it != std::sregex_iterator(); ++it) {
      std::istringstream pairs((*it)[1].str());
      for (std::string pair; pairs >> pair;) {
        ASSERT_GT(std::stod(flag[1]), std::stod(pair.substr(pair.find(',') + 1))) << channel;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, MarkTest,
    ::testing::Values(
        // A 0 .. 5 V square on the 0.4 V range, the trigger on a grounded channel 2.
        MarkCase{"--sim-ch1 square:freq=1k,amp=2.5,offset=2.5 --range 1=0.4 --sim-ch2 ground "
                 "--trigger ch2:rising:1 --timeout 50ms --post 1000",
                 "forced", "Auto (no trigger within 50 ms: forced)", "ch1"},
        MarkCase{"--sim-ch1 sine:freq=1k,amp=0.5 --range 1=0.8 --channels 1 --post 1000",
                 "triggered", "Trig'd", "none"},
        MarkCase{"--trigger none --sim-ch2 dc:offset=-9", "free_running", "free running", "ch2"},
        MarkCase{"--style blocking --sim-ch1 sine:freq=1k,amp=0.5 --range 1=0.8 --channels 1 "
                 "--post 1000",
                 "unknown", "not known", "none"}));

// On the 0 / 5 V square the default hysteresis (10/128 of the 8 V range) asks a level near an
// edge for an excursion the signal never makes: each record is forced, and says why.
TEST_F(MeasureTest, AForcedRecordNamesTheHysteresisThatKeptTheTriggerFromReArming) {
  const struct {
    const char* trigger;
    const char* says;
  } cases[] = {{"ch1:rising:0.1", "ch1 re-arms only below -0.5 V"},
               {"ch1:falling:4.6", "ch1 re-arms only above 5.25 V"}};
  for (const auto& c : cases) {
    const std::string arguments =
        std::string("measure --channels 1 --timeout 50ms -o h.csv --trigger ") + c.trigger;
    const CliRun run = Run(arguments);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_THAT(run.err, HasSubstr("(--hysteresis) lets it trigger"));
    const CliRun fixed = Run(arguments + " --hysteresis 50mV");
    ASSERT_EQ(fixed.exit_code, 0) << fixed.err;
    EXPECT_EQ(ParseCsv(ReadFile(work_ / "h.csv")).Setting("trigger_state"), "triggered")
        << c.trigger;
    EXPECT_THAT(fixed.err, Not(HasSubstr("re-arms")));
  }
}

TEST_F(MeasureTest, ADashIsStandardOutputAndNoMetadataLeavesTheBareTable) {
  const CliRun svg = Run("measure -q --svg - --length 200 --post 200");
  ASSERT_EQ(svg.exit_code, 0) << svg.err;
  EXPECT_EQ(svg.out.rfind("<?xml", 0), 0u);
  EXPECT_EQ(XmlProblem(svg.out), "");
  EXPECT_FALSE(fs::exists(work_ / "-"));
  EXPECT_FALSE(fs::exists(StateDirectory() / "-"));

  const CliRun csv = Run("measure -q -o - --no-metadata --length 200 --post 200");
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  const std::vector<std::string> lines = Lines(csv.out);
  ASSERT_EQ(lines.size(), 201u);
  EXPECT_EQ(lines[0], "time_s,ch1_v,ch2_v");
  EXPECT_EQ(ParseCsv(csv.out).rows.size(), 200u);
  EXPECT_TRUE(ParseCsv(csv.out).rows_well_formed);
}

// Every number a user types takes SI prefixes and units.
struct UnitCase {
  const char* arguments;
  const char* setting;
  const char* value;
};

void PrintTo(const UnitCase& unit, std::ostream* out) {
  *out << unit.arguments;
}

class UnitTest : public MeasureTest, public ::testing::WithParamInterface<UnitCase> {};

TEST_P(UnitTest, NumbersTakePrefixesAndUnits) {
  const CliRun run = Run(std::string("measure -q -o u.csv ") + GetParam().arguments);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ParseCsv(ReadFile(work_ / "u.csv")).Setting(GetParam().setting), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Units, UnitTest,
    ::testing::Values(UnitCase{"--rate 1MHz --length 10k --post 10k", "samples", "10000"},
                      UnitCase{"--length 2.5k --post 2.4k", "pre_trigger_samples", "100"},
                      // By duration: the length follows from the rate ...
                      UnitCase{"--time 20ms --post 2k", "samples", "2000"},
                      // ... or the rate from the length ...
                      UnitCase{"--time 5ms --length 5k", "sample_rate_hz", "1000000"},
                      // ... or from the longest record, when the rate would need more.
                      UnitCase{"--time 10s --trigger none", "samples", "32760"},
                      UnitCase{"--timeout 20ms --hysteresis 100mV --trigger ch1:rising:2500mV",
                               "trigger", "ch1 rising 2.5 V"}));

TEST_F(MeasureTest, SimulatedSignalsTakePrefixesAndUnitsToo) {
  const CliRun run =
      Run("measure -q --sim-ch1 square:freq=2k,amp=500mV,duty=25% --range 1=0.8 --rate 1M "
          "--length 5k --post 5k --channels 1 -o s.csv");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<double> ch1 = ParseCsv(ReadFile(work_ / "s.csv")).Column(1);
  EXPECT_NEAR(RecoveredFrequency(ch1, 1e6).value_or(0.0), 2000.0, 10.0);
  const auto [low, high] = std::minmax_element(ch1.begin(), ch1.end());
  EXPECT_NEAR(*high, 0.5, 0.02 + kStep08);
  // A quarter of the time high.
  const auto high_samples = std::count_if(ch1.begin(), ch1.end(), [](double v) { return v > 0; });
  EXPECT_NEAR(static_cast<double>(high_samples) / ch1.size(), 0.25, 0.02);
  // The plain form the board is handed, as stderr echoes it, in the shortest digits.
  EXPECT_THAT(Run("measure --length 100 --sim-ch1 sine:freq=100m,amp=1").err,
              HasSubstr("(ch1 sine:freq=0.1,amp=1,"));
}

TEST_F(MeasureTest, MicroIsTheMicroSignWhereTheTerminalTakesUtf8) {
  const char* const kArguments = "measure -q --rate 4M --length 500 --post 500";
  EXPECT_THAT(Run(kArguments, "LC_ALL=C.UTF-8").out, HasSubstr("(125 \xC2\xB5s)"));
  EXPECT_THAT(Run(kArguments, "LC_ALL=C").out, HasSubstr("(125 us)"));
}

TEST_F(MeasureTest, ALongCaptureStopsOnCtrlC) {
  const CliRun run = RunAndInterrupt("measure --rate 100 --length 32760", 2.5, "VM316_CLOCK=real");
  EXPECT_EQ(run.exit_code, 130) << run.err;
  EXPECT_THAT(run.err, HasSubstr("takes about 5 min 28 s; Ctrl-C stops it"));
  EXPECT_THAT(run.err, HasSubstr("interrupted"));
}

}  // namespace
}  // namespace vm316::cli_testing
