// The analog model against the driver's calibration searches: the same search steps, run on the
// model directly (no ports), for several boards. They must converge with every trim in 5..250,
// and afterwards DC inputs must read right, while the same boards with neutral tables read off.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "analog_tables.h"
#include "sim/analog.h"

namespace vm316::sim {
namespace {

using namespace simtest;

constexpr double kDacStep = 5.0 / 2048;
constexpr std::uint64_t kSampleNs = 250;  // the searches record at 4 MHz

struct Tables {
  std::array<std::array<double, 13>, 3> offset{};  // rows 1..3 as 0..2, ranges 1..12
  std::array<std::array<int, 13>, 3> trim{};
  Tables() {
    for (auto& row : trim) row.fill(127);
  }
};

class Searches {
 public:
  explicit Searches(AnalogModel& model) : model_(model) {}

  void Calibrate(Tables& t) {
    OffsetSearch(t);
    GainTrimSearch(t);
    OffsetSearch(t);
    GainTrimSearch(t);
    OffsetSearch(t);
    for (int row = 0; row < 2; ++row) {
      t.offset[row][1] -= 5.0 / 256;
      t.offset[row][2] -= 5.0 / 1024;
    }
  }

  // Mean code of converter over n samples with the front end as given.
  double Read(int converter, std::uint32_t word, double dac1, double dac2, int trim1, int trim2,
              int n) {
    Program(word, dac1, dac2, trim1, trim2);
    return static_cast<double>(Sum(converter, n)) / n;
  }

 private:
  void Program(std::uint32_t word, double dac1, double dac2, int trim1, int trim2) {
    model_.SetFrontEnd(word, {QuantizedDac(dac1), QuantizedDac(dac2)},
                       {static_cast<std::uint8_t>(trim1), static_cast<std::uint8_t>(trim2)});
  }
  int Sum(int converter, int n) {
    int sum = 0;
    for (int i = 0; i < n; ++i) {
      sum += model_.Convert(converter, t_);
      t_ += kSampleNs;
    }
    t_ += 1'000'000;  // the next record comes a while later
    return sum;
  }

  void OffsetSearch(Tables& t) {
    for (int ch = 1; ch <= 2; ++ch) {
      int n = 0;
      for (int r = 1; r <= 6; ++r) {
        const std::uint32_t word = kCh1Substitute[r] + kRangeBitsCh2[r] + kBothAc;
        int sum = 0;
        do {
          ++n;
          const double dac = -0.078125 + t.offset[ch - 1][r];
          Program(word, ch == 1 ? dac : 0.0, ch == 2 ? dac : 0.0, t.trim[0][r], t.trim[1][r]);
          sum = Sum(ch, 50);
          if (sum > 510) t.offset[ch - 1][r] += kDacStep;
          if (sum < 490) t.offset[ch - 1][r] -= kDacStep;
        } while (!(sum >= 490 && sum <= 510) && n <= 409);
      }
      for (int r = 7; r <= 12; ++r) t.offset[ch - 1][r] = t.offset[ch - 1][r - 3 * ((r - 4) / 3)];
    }
  }

  void GainTrimSearch(Tables& t) {
    for (int r = 1; r <= 6; ++r) {
      const double v = GainReferenceVolts(r);
      const int target = GainTarget(r);
      const std::uint32_t word = kCh1Substitute[r] + kCh2GainSubstitute[r] + kBothAc;
      // Row 1: converter 1 on channel 1; row 2: converter 2 on channel 2; row 3: converter 2 on
      // channel 1 (double rate).
      for (int row = 0; row < 3; ++row) {
        const bool ch1 = row != 1;
        const int converter = row == 0 ? 1 : 2;
        int& trim = t.trim[row][r];
        for (int n = 1;; ++n) {
          const int trim1 = t.trim[0][r];
          const int trim2 = row == 2 ? t.trim[2][r] : t.trim[1][r];
          Program(row == 2 ? word + kDoubleRate : word, ch1 ? -1.0 + t.offset[0][r] : v,
                  ch1 ? v : -1.0 + t.offset[1][r], trim1, trim2);
          const int sum = Sum(converter, 100);
          if (sum > target + 16) ++trim;
          if (sum < target - 16) --trim;
          if ((sum >= target - 16 && sum <= target + 16) || trim >= 255 || trim <= 1 || n > 128) {
            break;
          }
        }
      }
    }
    for (auto& row : t.trim) {
      for (int r = 7; r <= 12; ++r) row[r] = row[r - 3 * ((r - 4) / 3)];
    }
  }

  AnalogModel& model_;
  std::uint64_t t_ = 0;
};

// Largest reading error in LSB beyond the allowance, over a few DC levels on one range.
double WorstExcess(Searches& searches, AnalogModel& model, const Tables& t, int ch, int r,
                   double percent, double allowed_lsb = 1.0) {
  double worst = -1e9;
  for (double fraction : {-0.75, -0.5, -0.3, 0.0, 0.4, 0.5, 0.75}) {
    const double volts = fraction * kSensitivity[r];
    const Signal dc(SignalParams{SignalKind::kDc, 0, 0, volts});
    model.SetInputs(dc, dc, Signal());
    const double expected = 128 + 128 * fraction;
    const double read =
        searches.Read(ch, kRangeBitsCh1[r] + kRangeBitsCh2[r], -1.0 + t.offset[0][r],
                      -1.0 + t.offset[1][r], t.trim[0][r], t.trim[1][r], 400);
    const double allowed = allowed_lsb + percent / 100 * std::abs(expected - 128);
    worst = std::max(worst, std::abs(read - expected) - allowed);
  }
  model.SetInputs(Signal(), Signal(), Signal());
  return worst;
}

// What the searches reach on a board with the errors of real parts (docs/calibration-statistics.md
// has the figures over 100 boards). The zero is found at the offset search's DAC level and used
// at another, so the DAC's gain error and non-linearity leave up to about 1.5 LSB; the gain is
// tuned at full scale on the x10 and 0.2 V stages, at half scale on the 0.4 V stage and at a
// quarter on the 0.8 V stage, where that zero error weighs two and four times as much.
constexpr double kAllowedLsb = 1.5;
double AllowedPercent(int range) {
  const int stage = (range - 1) % 3;  // 0.2, 0.4, 0.8 V
  if (range <= 3 || stage == 0) return range <= 6 ? 0.5 : 1.0;
  return stage == 1 ? 1.5 : 3.0;
}

TEST(CalibrationModel, SearchesConvergeAndTheBoardThenReadsRight) {
  for (std::uint64_t seed : {1ull, 2ull, 3ull, 17ull, 42ull, 1234ull, 99999ull}) {
    SCOPED_TRACE(seed);
    AnalogModel model(Imperfections::Draw(seed), seed);
    Searches searches(model);
    Tables tables;
    searches.Calibrate(tables);
    for (int row = 0; row < 3; ++row) {
      for (int r = 1; r <= 12; ++r) {
        EXPECT_GE(tables.trim[row][r], 5);
        EXPECT_LE(tables.trim[row][r], 250);
      }
    }
    for (int ch = 1; ch <= 2; ++ch) {
      for (int r = 1; r <= 12; ++r) {
        EXPECT_LE(WorstExcess(searches, model, tables, ch, r, AllowedPercent(r), kAllowedLsb), 0.0)
            << "channel " << ch << " range " << r;
      }
    }
    // Neutral tables: at 0 V every range from 3 up is off by at least 2.5 LSB.
    const Tables neutral;
    for (int ch = 1; ch <= 2; ++ch) {
      for (int r = 3; r <= 12; ++r) {
        EXPECT_GT(WorstExcess(searches, model, neutral, ch, r, 0.0), 1.5)
            << "channel " << ch << " range " << r;
      }
    }
  }
}

}  // namespace
}  // namespace vm316::sim
