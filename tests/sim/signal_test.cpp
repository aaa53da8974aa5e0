#include "sim/signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace vm316::sim {
namespace {

constexpr std::uint64_t kMs = 1'000'000;

Signal Parsed(const char* text) {
  std::string error;
  std::optional<Signal> signal = Signal::Parse(text, &error);
  EXPECT_TRUE(signal.has_value()) << text << ": " << error;
  return signal.value_or(Signal());
}

TEST(SignalSpec, ParsesEveryKindWithItsKeys) {
  const SignalParams sine = Parsed("sine:freq=1000,amp=0.5").Params();
  EXPECT_EQ(sine.kind, SignalKind::kSine);
  EXPECT_EQ(sine.freq_hz, 1000.0);
  EXPECT_EQ(sine.amp_v, 0.5);
  EXPECT_EQ(Parsed("dc:offset=-1.25").Params().offset_v, -1.25);
  const SignalParams square = Parsed(" square : freq=50, amp=2 ,duty=0.25 ").Params();
  EXPECT_EQ(square.kind, SignalKind::kSquare);
  EXPECT_EQ(square.duty, 0.25);
  EXPECT_EQ(Parsed("triangle:phase=90,offset=+1").Params().phase_deg, 90.0);
  EXPECT_EQ(Parsed("sawtooth").Kind(), SignalKind::kSawtooth);
  EXPECT_EQ(Parsed("noise:amp=0.1").Kind(), SignalKind::kNoise);
  EXPECT_EQ(Parsed("generator").Kind(), SignalKind::kGenerator);
  EXPECT_EQ(Parsed("ground:noise=0.001").Params().noise_v_rms, 0.001);
}

TEST(SignalSpec, MalformedSpecsSayWhatIsWrong) {
  const struct {
    const char* text;
    const char* fault;
  } cases[] = {
      {"sin", "unknown signal kind 'sin'"},
      {"", "unknown signal kind ''"},
      {"sine:frq=1", "unknown key 'frq'"},
      {"sine:freq", "expected key=value, got 'freq'"},
      {"sine:", "expected key=value, got ''"},
      {"sine:freq=1,", "expected key=value, got ''"},
      {"sine:freq=abc", "key 'freq' needs a number, got 'abc'"},
      {"sine:freq=1k", "needs a number, got '1k'"},
      {"sine:freq=nan", "needs a number"},
      {"sine:freq=0", "'freq' must lie above 0"},
      {"square:duty=1.5", "'duty' must lie in 0..1"},
      {"sine:amp=-1", "'amp' must not be negative"},
      {"sine:freq=1,freq=2", "key 'freq' is given twice"},
      {"dc:freq=10", "key 'freq' does not apply to 'dc'"},
      {"sine:duty=0.5", "key 'duty' does not apply to 'sine'"},
      {"ground:offset=1", "does not apply to 'ground'"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Signal::Parse(c.text, &error).has_value()) << c.text;
    EXPECT_NE(error.find(c.fault), std::string::npos) << c.text << " gave: " << error;
  }
}

TEST(SignalValue, ShapesFollowTheirParameters) {
  const Signal sine = Parsed("sine:freq=1000,amp=0.5,offset=0.1");
  EXPECT_NEAR(sine.VoltsAt(0), 0.1, 1e-12);
  EXPECT_NEAR(sine.VoltsAt(kMs / 4), 0.6, 1e-12);
  EXPECT_NEAR(sine.VoltsAt(3 * kMs / 4), -0.4, 1e-12);
  EXPECT_NEAR(Parsed("sine:freq=1000,phase=90").VoltsAt(0), 1.0, 1e-12);

  const Signal square = Parsed("square:freq=1000,amp=2,duty=0.25");
  EXPECT_EQ(square.VoltsAt(0), 2.0);
  EXPECT_EQ(square.VoltsAt(kMs / 4 - 1), 2.0);
  EXPECT_EQ(square.VoltsAt(kMs / 4 + 1), -2.0);

  const Signal triangle = Parsed("triangle:freq=1000");
  EXPECT_NEAR(triangle.VoltsAt(0), -1.0, 1e-12);
  EXPECT_NEAR(triangle.VoltsAt(kMs / 4), 0.0, 1e-12);
  EXPECT_NEAR(triangle.VoltsAt(kMs / 2), 1.0, 1e-12);
  EXPECT_NEAR(triangle.VoltsAt(3 * kMs / 4), 0.0, 1e-12);

  const Signal sawtooth = Parsed("sawtooth:freq=1000,amp=0.5");
  EXPECT_NEAR(sawtooth.VoltsAt(0), -0.5, 1e-12);
  EXPECT_NEAR(sawtooth.VoltsAt(kMs / 2), 0.0, 1e-12);
  EXPECT_NEAR(sawtooth.VoltsAt(kMs - 1), 0.5, 1e-6);

  EXPECT_EQ(Parsed("dc:offset=-1.25").VoltsAt(123456789), -1.25);
  EXPECT_EQ(Signal().VoltsAt(42), 0.0);
}

TEST(SignalValue, PhaseHoldsOverLongRuns) {
  // A day and a quarter period later a 1 kHz sine is at its peak again: no drift.
  const Signal sine = Parsed("sine:freq=1000");
  const std::uint64_t day = 86'400ull * 1'000'000'000ull;
  EXPECT_NEAR(sine.VoltsAt(day + kMs / 4), 1.0, 1e-9);
  EXPECT_NEAR(Parsed("sine:freq=12345.5").VoltsAt(day), 0.0, 1e-6);
}

TEST(SignalValue, NoiseIsBoundedKeyedAndRepeatable) {
  Signal a = Parsed("noise:amp=0.2,offset=1");
  Signal b = a;
  a.SetNoiseKey(1);
  b.SetNoiseKey(2);
  double sum = 0.0;
  int differ = 0;
  for (std::uint64_t t = 0; t < 10000; ++t) {
    const double v = a.VoltsAt(t);
    EXPECT_GE(v, 0.8);
    EXPECT_LE(v, 1.2);
    EXPECT_EQ(v, a.VoltsAt(t));
    sum += v;
    differ += v != b.VoltsAt(t);
  }
  EXPECT_NEAR(sum / 10000, 1.0, 0.01);
  EXPECT_GT(differ, 9900);

  Signal gaussian = Parsed("dc:offset=0,noise=0.01");
  double square_sum = 0.0;
  for (std::uint64_t t = 0; t < 20000; ++t) square_sum += std::pow(gaussian.VoltsAt(t * 7), 2);
  EXPECT_NEAR(std::sqrt(square_sum / 20000), 0.01, 0.0005);
}

TEST(SignalValue, HighPassRemovesTheMeanAndShiftsSlowSignals) {
  EXPECT_EQ(Parsed("dc:offset=3").HighPassedVoltsAt(1000, 3.0), 0.0);
  // Far above the corner a sine passes unchanged.
  const Signal fast = Parsed("sine:freq=1000,amp=0.5,offset=2");
  EXPECT_NEAR(fast.HighPassedVoltsAt(kMs / 4, 3.0), 0.5, 1e-4);
  // At the corner: 1/sqrt(2) and an eighth of a period ahead.
  const Signal corner = Parsed("sine:freq=3");
  const std::uint64_t period = 1'000'000'000ull / 3;
  EXPECT_NEAR(corner.HighPassedVoltsAt(period / 8, 3.0), std::sqrt(0.5), 1e-6);
  // A square with duty 0.25 has mean -amp/2: it is removed.
  const Signal square = Parsed("square:freq=1000,amp=2,duty=0.25,offset=1");
  EXPECT_NEAR(square.HighPassedVoltsAt(kMs / 8, 3.0), 3.0, 1e-3);
  EXPECT_NEAR(square.HighPassedVoltsAt(kMs / 2, 3.0), -1.0, 1e-3);
}

TEST(SignalValue, GeneratorFollowsTheSquareWaveOutput) {
  const Signal generator = Parsed("generator");
  EXPECT_EQ(generator.VoltsAt(100), 0.0) << "output off";
  const SquareWaveOutput output{10'000, 5'000, 2'000};
  EXPECT_EQ(generator.VoltsAt(2'000, output), 5.0);
  EXPECT_EQ(generator.VoltsAt(6'999, output), 5.0);
  EXPECT_EQ(generator.VoltsAt(7'000, output), 0.0);
  EXPECT_EQ(generator.VoltsAt(1'999, output), 0.0);
  EXPECT_EQ(generator.VoltsAt(12'000, output), 5.0);
  EXPECT_NEAR(generator.HighPassedVoltsAt(3'000, 3.0, output), 2.5, 1e-3);
}

}  // namespace
}  // namespace vm316::sim
