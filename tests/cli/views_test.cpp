// The other views of a record on the simulated board: the spectrum (terminal plot, CSV, SVG)
// and the XY figure of a record taken in the board's XY mode.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <regex>
#include <set>

#include "cli/cli_runner.h"
#include "cli/csv_file.h"
#include "cli/xml_check.h"

namespace vm316::cli_testing {
namespace {

using ::testing::HasSubstr;

constexpr std::size_t kLabelColumns = 10;  // "-100 dBV +" left of the cells
constexpr const char* kSine1k =
    "measure -q --channels 1 --sim-ch1 sine:freq=1k,amp=0.5 --range 1=0.8 --rate 1M --length "
    "10000 --spectrum --window flattop ";

class ViewTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    SeedCalibration();
  }
};

// The rows of the plot's cells, from under the legend (and any peak lines) to the bottom axis.
std::vector<std::string> PlotRows(const std::string& out) {
  std::vector<std::string> rows;
  for (const std::string& line : Lines(out)) {
    if (line.size() > kLabelColumns && line.compare(kLabelColumns - 2, 3, " +-") == 0) break;
    if (line.size() >= kLabelColumns && (line.compare(kLabelColumns - 2, 2, " |") == 0 ||
                                         line.compare(kLabelColumns - 2, 2, " +") == 0)) {
      rows.push_back(line.substr(kLabelColumns));
    }
  }
  return rows;
}

TEST_F(ViewTest, TheSpectrumCsvReadsAKnownSineAtItsFrequency) {
  ASSERT_EQ(Run(std::string(kSine1k) + "-o spectrum.csv").exit_code, 0);
  const CsvFile csv = ParseCsv(ReadFile(work_ / "spectrum.csv"));
  EXPECT_EQ(csv.header, (std::vector<std::string>{"frequency_Hz", "ch1_dBV"}));
  EXPECT_TRUE(csv.rows_well_formed);
  ASSERT_EQ(csv.rows.size(), 5001u);  // 0 Hz to half the rate, 100 Hz a bin
  EXPECT_EQ(csv.rows[10][0], 1000.0);
  EXPECT_NEAR(csv.rows[10][1], -9.03, 0.3);
  EXPECT_EQ(csv.Setting("window"), "flattop");
  EXPECT_EQ(csv.Setting("bin_hz"), "100");
  EXPECT_THAT(csv.Setting("ch1_peak").value_or(""), ::testing::StartsWith("1000 Hz -"));
  EXPECT_THAT(csv.Setting("ch1_harmonics").value_or(""), HasSubstr("7000 Hz"));

  // Bare, on stdout, both channels: no comment lines and no plot beside the rows.
  const CliRun bare = Run("measure -q --rate 1M --length 2000 --spectrum --no-metadata -o -");
  ASSERT_EQ(bare.exit_code, 0) << bare.err;
  const std::vector<std::string> lines = Lines(bare.out);
  ASSERT_EQ(lines.size(), 1002u);
  EXPECT_EQ(lines[0], "frequency_Hz,ch1_dBV,ch2_dBV");
  EXPECT_EQ(lines[1001].rfind("500000,", 0), 0u) << lines[1001];
}

TEST_F(ViewTest, TheSpectrumSvgIsWellFormedWithItsMarks) {
  ASSERT_EQ(Run("measure -q --rate 1M --length 4000 --spectrum --svg spectrum.svg").exit_code, 0);
  const std::string svg = ReadFile(work_ / "spectrum.svg");
  EXPECT_EQ(XmlProblem(svg), "");
  for (const char* part : {"<polyline id=\"ch1\"", "<polyline id=\"ch2\"", "id=\"peak-ch1\"",
                           "id=\"harmonics-ch1\"", "ch1 peak 1.000 kHz", ">500 kHz<", " dBV<"}) {
    EXPECT_THAT(svg, HasSubstr(part));
  }
}

struct PeakCase {
  const char* arguments;
  int width;
  int column;  // frequency / half the rate * width, rounded down
};

class SpectrumPlotTest : public ViewTest, public ::testing::WithParamInterface<PeakCase> {};

// The peak's mark and the top of its line stand in the column of its frequency.
TEST_P(SpectrumPlotTest, ThePeakStandsInTheColumnOfItsFrequency) {
  const PeakCase& peak = GetParam();
  const CliRun run = Run(std::string("measure -q --channels 1 --range 1=0.8 --rate 1M --length "
                                     "10000 --spectrum --width ") +
                             std::to_string(peak.width) + " " + peak.arguments,
                         "LC_ALL=C");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 2u);
  const std::string& marks = lines[1];
  const std::size_t mark = marks.back() == 'v' ? marks.size() - 1 : marks.find("v ch1 peak");
  EXPECT_EQ(mark, kLabelColumns + peak.column) << run.out;
  const std::vector<std::string> rows = PlotRows(run.out);
  ASSERT_FALSE(rows.empty()) << run.out;
  const auto top = std::find_if(rows.begin(), rows.end(), [](const std::string& row) {
    return row.find('*') != std::string::npos;
  });
  ASSERT_NE(top, rows.end()) << run.out;
  EXPECT_EQ(top->find('*'), static_cast<std::size_t>(peak.column)) << run.out;
  EXPECT_EQ(top->rfind('*'), static_cast<std::size_t>(peak.column)) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Peaks, SpectrumPlotTest,
                         ::testing::Values(PeakCase{"--sim-ch1 sine:freq=10k,amp=0.5", 100, 2},
                                           PeakCase{"--sim-ch1 sine:freq=100k,amp=0.5", 72, 14},
                                           // No room on either side: the label overhangs.
                                           PeakCase{"--sim-ch1 sine:freq=5k,amp=0.5", 20, 0},
                                           // Past the middle: the label goes left of its mark.
                                           PeakCase{"--sim-ch1 sine:freq=450k,amp=0.5", 72, 64}));

// The polyline's points in pixels: both axes span the same range on a square, so a circle in
// volts is a circle in pixels.
std::vector<std::pair<double, double>> XyPoints(const std::string& svg) {
  std::smatch match;
  std::vector<std::pair<double, double>> points;
  if (!std::regex_search(svg, match, std::regex("<polyline id=\"xy\"[^>]* points=\"([^\"]*)\""))) {
    return points;
  }
  std::istringstream in(match[1].str());
  for (std::string point; in >> point;) {
    const std::size_t comma = point.find(',');
    points.emplace_back(std::stod(point.substr(0, comma)), std::stod(point.substr(comma + 1)));
  }
  return points;
}

struct Figure {
  double radius_spread;  // (largest - smallest) / mean distance from the centre
  std::size_t sectors;   // of twelve 30-degree sectors about the centre, those reached
};

Figure Describe(const std::vector<std::pair<double, double>>& points) {
  double cx = 0.0;
  double cy = 0.0;
  for (const auto& [x, y] : points) {
    cx += x;
    cy += y;
  }
  cx /= static_cast<double>(points.size());
  cy /= static_cast<double>(points.size());
  double low = INFINITY;
  double high = 0.0;
  double sum = 0.0;
  for (const auto& [x, y] : points) {
    const double r = std::hypot(x - cx, y - cy);
    low = std::min(low, r);
    high = std::max(high, r);
    sum += r;
  }
  // The directions of the points well away from the centre, where noise cannot turn them.
  std::set<int> sectors;
  for (const auto& [x, y] : points) {
    if (std::hypot(x - cx, y - cy) < high / 4) continue;
    const double angle = std::atan2(y - cy, x - cx) + std::numbers::pi;
    sectors.insert(static_cast<int>(angle / (std::numbers::pi / 6)) % 12);
  }
  return {(high - low) / (sum / static_cast<double>(points.size())), sectors.size()};
}

TEST_F(ViewTest, TwoSinesAQuarterTurnApartDrawACircleInPhaseALine) {
  const std::string xy =
      "measure -q --xy --range 1=4 --range 2=4 --trigger none --sim-ch1 sine:freq=1k,amp=2 ";
  ASSERT_EQ(
      Run(xy + "--sim-ch2 sine:freq=1k,amp=2,phase=90 --svg circle.svg -o circle.csv").exit_code,
      0);
  const std::string svg = ReadFile(work_ / "circle.svg");
  EXPECT_EQ(XmlProblem(svg), "");
  EXPECT_THAT(svg, HasSubstr("ch1 across (-4 V .. 4 V)"));
  const std::vector<std::pair<double, double>> circle = XyPoints(svg);
  ASSERT_EQ(circle.size(), 1000u);  // every sample, in order
  const Figure round = Describe(circle);
  EXPECT_LT(round.radius_spread, 0.06);
  EXPECT_EQ(round.sectors, 12u);
  // -o still writes the record itself.
  EXPECT_EQ(ParseCsv(ReadFile(work_ / "circle.csv")).header,
            (std::vector<std::string>{"time_s", "ch1_v", "ch2_v"}));

  ASSERT_EQ(Run(xy + "--sim-ch2 sine:freq=1k,amp=2,phase=0 --svg line.svg").exit_code, 0);
  const Figure line = Describe(XyPoints(ReadFile(work_ / "line.svg")));
  EXPECT_GT(line.radius_spread, 1.5);
  EXPECT_LE(line.sectors, 4u);
}

// In cells: the marks go round the centre and leave it empty.
TEST_F(ViewTest, TheTerminalXyFigureIsARing) {
  const CliRun run =
      Run("measure -q --xy --range 1=4 --range 2=4 --trigger none --sim-ch1 sine:freq=1k,amp=2 "
          "--sim-ch2 sine:freq=1k,amp=2,phase=90",
          "LC_ALL=C");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("ch2 up (-4 V .. 4 V)"));
  const std::vector<std::string> rows = PlotRows(run.out);
  ASSERT_EQ(rows.size(), 16u) << run.out;
  const std::vector<std::string> lines = Lines(run.out);
  const auto zero = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("     0 V +", 0) == 0;
  });
  ASSERT_NE(zero, lines.end()) << run.out;
  const std::string middle = zero->substr(kLabelColumns);
  const std::size_t centre = 15;  // of 31 columns
  ASSERT_GT(middle.size(), centre);
  EXPECT_EQ(middle[centre], ' ') << run.out;
  EXPECT_NE(middle.find('*'), std::string::npos);
  EXPECT_NE(middle.find('*', centre), std::string::npos);
  std::string column;
  for (const std::string& row : rows) column += row.size() > centre ? row[centre] : ' ';
  const std::size_t middle_row = static_cast<std::size_t>(zero - lines.begin()) - 1;
  EXPECT_NE(column.find('*'), std::string::npos);
  EXPECT_LT(column.find('*'), middle_row) << column;
  EXPECT_GT(column.rfind('*'), middle_row) << column;
}

}  // namespace
}  // namespace vm316::cli_testing
