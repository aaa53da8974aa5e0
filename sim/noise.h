// Counter-based pseudo-random numbers for the simulated board. A value is a pure function of a
// key and a time stamp, so the noise at a sample instant does not depend on the order in which
// the board happens to evaluate things, and runs on the virtual clock repeat bit for bit. Only
// integer arithmetic, so every platform draws the same board from the same seed.
#pragma once

#include <cstdint>

namespace vm316::sim {

inline constexpr std::uint64_t SplitMix64(std::uint64_t x) {
  std::uint64_t z = x + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// 64 well-mixed bits for (key, t).
inline constexpr std::uint64_t NoiseBits(std::uint64_t key, std::uint64_t t) {
  return SplitMix64(key ^ SplitMix64(t));
}

// Uniform in [0, 1).
inline double UnitUniform(std::uint64_t bits) {
  return static_cast<double>(bits >> 11) * (1.0 / 9007199254740992.0);
}

// Approximately standard normal (mean 0, variance 1): the sum of four 16-bit uniforms, centred
// and scaled. Bounded at about 3.5 sigma, which is all a converter's noise needs.
inline constexpr double kUnitGaussianScale = 1.7320508075688772 / 65536.0;  // sqrt(3) per unit
// No draw of UnitGaussian lies beyond this, either way.
inline constexpr double kUnitGaussianBound = 2.0 * 65535.0 * kUnitGaussianScale;
inline double UnitGaussian(std::uint64_t bits) {
  constexpr double kScale = kUnitGaussianScale;
  double sum = 0.0;
  for (int part = 0; part < 4; ++part) {
    sum += static_cast<double>((bits >> (16 * part)) & 0xFFFF);
  }
  return (sum - 2.0 * 65535.0) * kScale;
}

// A sequential generator for drawing the board's fixed imperfections.
class DrawSequence {
 public:
  explicit DrawSequence(std::uint64_t seed) : state_(SplitMix64(seed ^ 0x5EED5EED5EED5EEDull)) {}

  double Uniform() {
    state_ += 0x9E3779B97F4A7C15ull;
    return UnitUniform(SplitMix64(state_));
  }
  double Between(double low, double high) { return low + (high - low) * Uniform(); }
  // A magnitude in [low, high] with a random sign: an error that is never negligibly small.
  double SignedMagnitude(double low, double high) {
    const double magnitude = Between(low, high);
    return Uniform() < 0.5 ? -magnitude : magnitude;
  }

 private:
  std::uint64_t state_;
};

}  // namespace vm316::sim
