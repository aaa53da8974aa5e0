#include "sine_fit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vm316::host {
namespace {

// The frequency search: a grid over the range (the spectrum asks for at most 13 bins, so a step
// under half a bin, finer than a fitted sine's main lobe of two), then golden-section steps
// around the best point until the bracket is a hundred-thousandth of a grid step.
constexpr int kGridPoints = 32;
constexpr int kNarrowingSteps = 24;
// A pivot below this share of the matrix's largest diagonal entry makes the fit degenerate:
// the sines cannot be told from the offset (near 0 Hz) or from nothing (near half the rate).
constexpr double kMinPivotShare = 1e-10;

// Solves the symmetric system m x = rhs in place (Gaussian elimination with partial pivoting);
// false when it is degenerate.
bool Solve(std::vector<double>& m, std::vector<double>& rhs, std::size_t n) {
  double largest = 0.0;
  for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, std::abs(m[i * n + i]));
  if (!(largest > 0.0)) return false;
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot = col;
    for (std::size_t row = col + 1; row < n; ++row) {
      if (std::abs(m[row * n + col]) > std::abs(m[pivot * n + col])) pivot = row;
    }
    if (std::abs(m[pivot * n + col]) < kMinPivotShare * largest) return false;
    if (pivot != col) {
      for (std::size_t k = 0; k < n; ++k) std::swap(m[col * n + k], m[pivot * n + k]);
      std::swap(rhs[col], rhs[pivot]);
    }
    for (std::size_t row = col + 1; row < n; ++row) {
      const double factor = m[row * n + col] / m[col * n + col];
      for (std::size_t k = col; k < n; ++k) m[row * n + k] -= factor * m[col * n + k];
      rhs[row] -= factor * rhs[col];
    }
  }
  for (std::size_t col = n; col-- > 0;) {
    double sum = rhs[col];
    for (std::size_t k = col + 1; k < n; ++k) sum -= m[col * n + k] * rhs[k];
    rhs[col] = sum / m[col * n + col];
  }
  return true;
}

// The least-squares fit of an offset and `count` harmonics of `hz`: the coefficients (offset,
// then cosine and sine of each harmonic) and the energy the fit explains beyond the offset's.
struct Fit {
  std::vector<double> coefficients;
  double explained = 0.0;
};

std::optional<Fit> FitAt(std::span<const double> volts, double sample_rate, double hz, int count) {
  const std::size_t n = 1 + 2 * static_cast<std::size_t>(count);
  std::vector<double> m(n * n, 0.0);
  std::vector<double> rhs(n, 0.0);
  std::vector<double> basis(n);
  const double step = 2.0 * std::numbers::pi * hz / sample_rate;
  const double cos_step = std::cos(step);
  const double sin_step = std::sin(step);
  double c = 1.0;  // cos and sin of the fundamental's phase at the sample, by rotation
  double s = 0.0;
  double sum = 0.0;
  for (const double v : volts) {
    basis[0] = 1.0;
    double ch = c;
    double sh = s;
    for (std::size_t h = 0; h < static_cast<std::size_t>(count); ++h) {
      basis[1 + 2 * h] = ch;
      basis[2 + 2 * h] = sh;
      const double next = ch * c - sh * s;
      sh = sh * c + ch * s;
      ch = next;
    }
    for (std::size_t i = 0; i < n; ++i) {
      rhs[i] += v * basis[i];
      for (std::size_t k = i; k < n; ++k) m[i * n + k] += basis[i] * basis[k];
    }
    sum += v;
    const double next = c * cos_step - s * sin_step;
    s = s * cos_step + c * sin_step;
    c = next;
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < i; ++k) m[i * n + k] = m[k * n + i];
  }
  const std::vector<double> projections = rhs;
  if (!Solve(m, rhs, n)) return std::nullopt;
  Fit fit{rhs, 0.0};
  for (std::size_t i = 0; i < n; ++i) fit.explained += rhs[i] * projections[i];
  fit.explained -= sum * sum / static_cast<double>(volts.size());
  return fit;
}

double Explained(std::span<const double> volts, double sample_rate, double hz) {
  const std::optional<Fit> fit = FitAt(volts, sample_rate, hz, 1);
  return fit ? fit->explained : -1.0;
}

}  // namespace

std::optional<double> FitSineFrequency(std::span<const double> volts, double sample_rate,
                                       double low_hz, double high_hz) {
  if (volts.size() < 4 || !(sample_rate > 0.0) || !(high_hz > low_hz) || !(low_hz > 0.0)) {
    return std::nullopt;
  }
  const double grid = (high_hz - low_hz) / (kGridPoints - 1);
  double best_hz = low_hz;
  double best = -1.0;
  for (int i = 0; i < kGridPoints; ++i) {
    const double hz = low_hz + grid * i;
    const double explained = Explained(volts, sample_rate, hz);
    if (explained > best) {
      best = explained;
      best_hz = hz;
    }
  }
  if (best <= 0.0) return std::nullopt;
  double a = std::max(low_hz, best_hz - grid);
  double b = std::min(high_hz, best_hz + grid);
  const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
  double x1 = b - ratio * (b - a);
  double x2 = a + ratio * (b - a);
  double f1 = Explained(volts, sample_rate, x1);
  double f2 = Explained(volts, sample_rate, x2);
  for (int i = 0; i < kNarrowingSteps; ++i) {
    if (f1 > f2) {
      b = x2;
      x2 = x1;
      f2 = f1;
      x1 = b - ratio * (b - a);
      f1 = Explained(volts, sample_rate, x1);
    } else {
      a = x1;
      x1 = x2;
      f1 = f2;
      x2 = a + ratio * (b - a);
      f2 = Explained(volts, sample_rate, x2);
    }
  }
  const double narrowed = f1 > f2 ? x1 : x2;
  return std::max(f1, f2) >= best ? narrowed : best_hz;
}

std::optional<std::vector<double>> FitHarmonicAmplitudes(std::span<const double> volts,
                                                         double sample_rate, double fundamental_hz,
                                                         int count) {
  if (count < 1 || volts.size() < 1 + 2 * static_cast<std::size_t>(count) || !(sample_rate > 0.0) ||
      !(fundamental_hz > 0.0)) {
    return std::nullopt;
  }
  const std::optional<Fit> fit = FitAt(volts, sample_rate, fundamental_hz, count);
  if (!fit) return std::nullopt;
  std::vector<double> amplitudes(static_cast<std::size_t>(count));
  for (std::size_t h = 0; h < amplitudes.size(); ++h) {
    amplitudes[h] = std::hypot(fit->coefficients[1 + 2 * h], fit->coefficients[2 + 2 * h]);
  }
  return amplitudes;
}

}  // namespace vm316::host
