// What is wired to the board's inputs: a signal given as text, KIND[:key=value[,key=value...]],
// and its voltage at any instant of board time. Time is integer nanoseconds since the board was
// made, so phases never drift however long a run lasts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm316::sim {

// A closed interval of values, for what a signal or a level can do over a span of time.
struct Bounds {
  double low = 0.0;
  double high = 0.0;

  static Bounds At(double value) { return {value, value}; }
  Bounds& Join(const Bounds& other);
  Bounds operator+(const Bounds& other) const { return {low + other.low, high + other.high}; }
  Bounds operator+(double value) const { return {low + value, high + value}; }
  Bounds Scaled(double factor) const;
  Bounds Widened(double margin) const { return {low - margin, high + margin}; }
};

// The board's own square-wave output (0 V / 5 V), for inputs wired to it. A period of 0 means
// the output is switched off and sits at 0 V.
struct SquareWaveOutput {
  std::uint64_t period_ns = 0;
  std::uint64_t high_ns = 0;    // the output is high for the first high_ns of each period
  std::uint64_t origin_ns = 0;  // board time at which a period starts

  static constexpr double kHighVolts = 5.0;

  bool IsOn() const { return period_ns != 0; }
  double FrequencyHz() const { return IsOn() ? 1e9 / static_cast<double>(period_ns) : 0.0; }
  double MeanVolts() const;
  double VoltsAt(std::uint64_t t_ns) const;
  // What VoltsAt gives at any instant from t0_ns to t1_ns.
  Bounds VoltsBounds(std::uint64_t t0_ns, std::uint64_t t1_ns) const;
  bool operator==(const SquareWaveOutput&) const = default;
};

enum class SignalKind : std::uint8_t {
  kGround,
  kDc,
  kSine,
  kSquare,
  kTriangle,
  kSawtooth,
  kNoise,
  kGenerator,
};

struct SignalParams {
  SignalKind kind = SignalKind::kGround;
  double freq_hz = 1000.0;
  double amp_v = 1.0;  // peak; for kNoise the bound of the uniform noise
  double offset_v = 0.0;
  double duty = 0.5;  // fraction of the period a square wave is high
  double phase_deg = 0.0;
  double noise_v_rms = 0.0;  // gaussian noise added to any kind
};

// Shapes at phase 0: a sine starts at the offset rising, a square starts high, a triangle and a
// sawtooth start at their lowest point (offset - amp).
class Signal {
 public:
  Signal() = default;  // ground
  explicit Signal(const SignalParams& params);

  // Parses a signal spec. On a malformed spec returns nothing and says what is wrong in *error
  // (without the name of the variable it came from; the caller knows that).
  static std::optional<Signal> Parse(std::string_view text, std::string* error);

  const SignalParams& Params() const { return params_; }
  SignalKind Kind() const { return params_.kind; }

  // Keys the added noise (and a kNoise signal) so that two inputs never carry the same noise.
  void SetNoiseKey(std::uint64_t key) { noise_key_ = key; }

  // The input path's first-order low-pass, corner in Hz (0: none): the periodic shapes and the
  // square-wave output arrive in its steady state, exact for each shape (a sine loses gain and
  // lags; an edge becomes an exponential approach). Added noise, DC and a kNoise signal pass
  // unfiltered: they stand for what arises within the band.
  void SetBandwidth(double corner_hz) { corner_hz_ = corner_hz; }
  double Bandwidth() const { return corner_hz_; }

  // True when the voltage is 0 at every instant and through either coupling.
  bool IsSilent() const;

  // The voltage at the input connector.
  double VoltsAt(std::uint64_t t_ns, const SquareWaveOutput& generator = {}) const;

  // The voltage after a first-order high-pass with the given corner frequency, in its steady
  // state: the mean is removed and the periodic part takes the filter's gain and phase at the
  // fundamental (exact for a sine; for other shapes the droop within a period is neglected).
  double HighPassedVoltsAt(std::uint64_t t_ns, double corner_hz,
                           const SquareWaveOutput& generator = {}) const;

  // What VoltsAt and HighPassedVoltsAt give at any instant from t0_ns to t1_ns (t0_ns <= t1_ns):
  // for the board to tell, without sampling them one by one, that a span of samples cannot
  // reach a level.
  Bounds VoltsBounds(std::uint64_t t0_ns, std::uint64_t t1_ns,
                     const SquareWaveOutput& generator = {}) const;
  Bounds HighPassedBounds(std::uint64_t t0_ns, std::uint64_t t1_ns, double corner_hz,
                          const SquareWaveOutput& generator = {}) const;

 private:
  double CyclesAt(std::uint64_t t_ns) const;  // frequency x time + phase, in cycles
  double ShapeAt(double cycles) const;        // the periodic shape, -amp..+amp, without offset
  // The shape, or the square-wave output, as the input path's low-pass passes it.
  double PathShapeAt(double cycles) const;
  double PathGeneratorAt(std::uint64_t t_ns, const SquareWaveOutput& generator) const;
  // The span whose input bounds what the low-pass gives from t0_ns on: it reaches back the
  // filter's memory; false when that lies before the board's start.
  bool ReachBack(std::uint64_t* t0_ns) const;
  // What the filter's older memory may add to a span's bounds, for a shape spanning `range`.
  double MemoryMargin(double range) const;
  // ShapeBounds and the square-wave output's bounds as the low-pass passes them.
  Bounds PathShapeBounds(std::uint64_t t0_ns, std::uint64_t t1_ns, double lead_cycles) const;
  Bounds PathGeneratorBounds(std::uint64_t t0_ns, std::uint64_t t1_ns,
                             const SquareWaveOutput& generator) const;
  double ShapeMean() const;
  double NoiseAt(std::uint64_t t_ns) const;
  double UniformNoiseAt(std::uint64_t t_ns) const;
  // ShapeAt(CyclesAt(t) + lead_cycles) from t0_ns to t1_ns.
  Bounds ShapeBounds(std::uint64_t t0_ns, std::uint64_t t1_ns, double lead_cycles) const;
  Bounds NoiseBounds() const;

  SignalParams params_;
  std::uint64_t noise_key_ = 0;
  double corner_hz_ = 0.0;
};

}  // namespace vm316::sim
