// Finding the first sample at which a converter's code (or the external input) does something,
// without converting every sample: the level of a span of samples lies within bounds made of the
// signal's bounds over the span, the settling and coupling terms at its ends and the noise's
// largest draws. A span whose bounds cannot reach the codes asked for is passed over whole;
// one that may is halved until its samples are few, and those are converted one by one with
// Convert itself. So the answer is always that of converting every sample.
#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/analog.h"
#include "sim/noise.h"

namespace vm316::sim {
namespace {

// Spans are bounded at most this many samples at once, and converted sample by sample from
// this many down.
constexpr std::uint64_t kLongestSpan = 1024;
constexpr std::uint64_t kConvertedSpan = 8;
// The bounds are computed in another order than the level itself; this much (relative, and in
// codes) covers the rounding between the two.
constexpr double kRelativeMargin = 1e-9;
constexpr double kMarginLsb = 1e-6;

constexpr Bounds kEmpty = {std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};

bool IsEmpty(const Bounds& bounds) {
  return bounds.low > bounds.high;
}

// Samples of the span from t_ns that lie before end_ns (at least one).
std::uint64_t SamplesBefore(std::uint64_t t_ns, std::uint64_t period_ns, std::uint64_t end_ns) {
  if (end_ns <= t_ns) return 1;
  return (end_ns - t_ns + period_ns - 1) / period_ns;
}

}  // namespace

Bounds AnalogModel::AcChargeBounds(int channel_index, std::uint64_t t0_ns,
                                   std::uint64_t t1_ns) const {
  const AcCharge& charge = ac_charge_[channel_index];
  // Zero outside since..quiet; within, a decay with its extremes at the ends.
  Bounds bounds = kEmpty;
  if (t0_ns < charge.since_ns || t1_ns >= charge.quiet_ns) bounds.Join(Bounds::At(0.0));
  const std::uint64_t a = std::max(t0_ns, charge.since_ns);
  if (charge.quiet_ns > 0) {
    const std::uint64_t b = std::min(t1_ns, charge.quiet_ns - 1);
    if (a <= b) {
      bounds.Join(Bounds::At(AcChargeAt(channel_index, a)));
      bounds.Join(Bounds::At(AcChargeAt(channel_index, b)));
    }
  }
  return IsEmpty(bounds) ? Bounds::At(0.0) : bounds;
}

Bounds AnalogModel::SteadyBounds(const ConverterSetup& setup, std::uint64_t t0_ns,
                                 std::uint64_t t1_ns) const {
  if (setup.open) return Bounds::At(kMidScale);
  if (setup.channel < 0) return Bounds::At(setup.constant);
  const Signal& input = inputs_[setup.channel];
  const bool charged = setup.ac && t0_ns < ac_charge_[setup.channel].quiet_ns;
  if (input.IsSilent() && !charged) return Bounds::At(setup.constant);
  const Bounds volts = setup.ac ? input.HighPassedBounds(t0_ns, t1_ns, kAcCornerHz, generator_) +
                                      AcChargeBounds(setup.channel, t0_ns, t1_ns)
                                : input.VoltsBounds(t0_ns, t1_ns, generator_);
  return volts.Scaled(setup.slope) + setup.constant;
}

Bounds AnalogModel::LevelBounds(int converter_index, std::uint64_t t0_ns,
                                std::uint64_t t1_ns) const {
  const Settling& s = settling_[converter_index];
  const ConverterSetup& setup = converters_[converter_index];
  if (t0_ns >= s.quiet_ns) return SteadyBounds(setup, t0_ns, t1_ns);
  // The pieces of a settling change that the span touches: the old path until the contacts
  // close, the bounce (open or closed), the approach from the old level, and the settled level.
  Bounds bounds = kEmpty;
  if (t1_ns >= s.quiet_ns) bounds.Join(SteadyBounds(setup, s.quiet_ns, t1_ns));
  const std::uint64_t end = std::min(t1_ns, s.quiet_ns - 1);
  if (t0_ns < s.contact_ns) {
    bounds.Join(SteadyBounds(s.before, t0_ns, std::min(end, s.contact_ns - 1)));
  }
  if (end >= s.contact_ns && t0_ns < s.rest_ns) {
    const std::uint64_t a = std::max(t0_ns, s.contact_ns);
    const std::uint64_t b = std::min(end, s.rest_ns - 1);
    bounds.Join(Bounds::At(setup.idle));
    bounds.Join(SteadyBounds(setup, a, b) + s.amplitude);
  }
  if (end >= s.rest_ns) {
    const std::uint64_t a = std::max(t0_ns, s.rest_ns);
    const auto approach = [&s](std::uint64_t t) {
      return s.amplitude * std::exp(-static_cast<double>(t - s.rest_ns) / s.tau_ns);
    };
    Bounds left = Bounds::At(approach(a));
    left.Join(Bounds::At(approach(end)));
    bounds.Join(SteadyBounds(setup, a, end) + left);
  }
  return bounds;
}

Bounds AnalogModel::ConvertedBounds(int converter_index, std::uint64_t t0_ns,
                                    std::uint64_t t1_ns) const {
  const SlowTerms& slow = Slow(t0_ns);
  const int c = converter_index;
  Bounds level =
      LevelBounds(c, t0_ns, t1_ns).Scaled(slow.gain[c]) + slow.offset[c] + slow.flicker[c];
  const double noise = (board_.noise_lsb_rms + slow.fault_noise_rms[c]) * kUnitGaussianBound;
  const double margin =
      kRelativeMargin * (std::abs(level.low) + std::abs(level.high) + noise) + kMarginLsb;
  return level.Widened(noise + margin);
}

std::uint64_t AnalogModel::FirstCodeInSpan(int converter, int below, int at_least,
                                           std::uint64_t t_ns, std::uint64_t period_ns,
                                           std::uint64_t count, bool last) const {
  const Bounds level = ConvertedBounds(converter - 1, t_ns, t_ns + (count - 1) * period_ns);
  // The codes are monotonic in the level (each transition lies within half an LSB of its
  // place), so the bounds' codes bound every sample's code. A level that is no number proves
  // nothing.
  if (level.low <= level.high) {
    const int lowest = Quantize(converter - 1, level.low);
    const int highest = Quantize(converter - 1, level.high);
    if (lowest >= below && highest < at_least) return count;                 // none can qualify
    if (highest < below || lowest >= at_least) return last ? count - 1 : 0;  // all of them do
  }
  if (count <= kConvertedSpan) {
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t k = last ? count - 1 - i : i;
      const int code = Convert(converter, t_ns + k * period_ns);
      if (code < below || code >= at_least) return k;
    }
    return count;
  }
  // Halves, the one at the end looked at first when the last sample is asked for.
  const std::uint64_t half = count / 2;
  const auto in_half = [&](bool second) {
    const std::uint64_t start = second ? half : 0;
    const std::uint64_t n = second ? count - half : half;
    const std::uint64_t k =
        FirstCodeInSpan(converter, below, at_least, t_ns + start * period_ns, period_ns, n, last);
    return k < n ? start + k : count;
  };
  const std::uint64_t found = in_half(last);
  return found < count ? found : in_half(!last);
}

std::uint64_t AnalogModel::FirstCodeOutside(int converter, int below, int at_least,
                                            std::uint64_t t_ns, std::uint64_t period_ns,
                                            std::uint64_t count) const {
  if (below <= 0 && at_least >= kCodeCount) return count;
  if (converter == 2 && faults_.dead_converter2) {
    return (kMidScale < below || kMidScale >= at_least) ? 0 : count;
  }
  // Spans within one period of the slow terms. A periodic input's bounds over a span of half a
  // cycle or more are its whole swing, which often enough settles it already; where it does not,
  // the halving comes down to spans short enough to follow the shape.
  std::uint64_t done = 0;
  while (done < count) {
    const std::uint64_t t = t_ns + done * period_ns;
    const std::uint64_t slow_end = ((t >> kSlowShift) + 1) << kSlowShift;
    const std::uint64_t span =
        std::min({count - done, kLongestSpan, SamplesBefore(t, period_ns, slow_end)});
    const std::uint64_t first =
        FirstCodeInSpan(converter, below, at_least, t, period_ns, span, false);
    if (first < span) return done + first;
    done += span;
  }
  return count;
}

std::uint64_t AnalogModel::LastCodeOutside(int converter, int below, int at_least,
                                           std::uint64_t t_ns, std::uint64_t period_ns,
                                           std::uint64_t count) const {
  if (below <= 0 && at_least >= kCodeCount) return count;
  if (converter == 2 && faults_.dead_converter2) {
    return (kMidScale < below || kMidScale >= at_least) && count > 0 ? count - 1 : count;
  }
  // The same spans as FirstCodeOutside, from the end.
  std::uint64_t left = count;
  while (left > 0) {
    const std::uint64_t t_last = t_ns + (left - 1) * period_ns;
    const std::uint64_t slow_start = (t_last >> kSlowShift) << kSlowShift;
    const std::uint64_t span =
        std::min({left, kLongestSpan, (t_last - slow_start) / period_ns + 1});
    const std::uint64_t start = left - span;
    const std::uint64_t k = FirstCodeInSpan(converter, below, at_least, t_ns + start * period_ns,
                                            period_ns, span, true);
    if (k < span) return start + k;
    left = start;
  }
  return count;
}

std::uint64_t AnalogModel::FirstExternalInSpan(bool high, std::uint64_t t_ns,
                                               std::uint64_t period_ns, std::uint64_t count) const {
  const Bounds volts =
      external_.VoltsBounds(t_ns, t_ns + (count - 1) * period_ns, generator_).Widened(kMarginLsb);
  if (volts.low <= volts.high) {
    if (volts.high <= kExternalThresholdVolts) return high ? count : 0;
    if (volts.low > kExternalThresholdVolts) return high ? 0 : count;
  }
  if (count <= kConvertedSpan) {
    for (std::uint64_t k = 0; k < count; ++k) {
      if (ExternalHigh(t_ns + k * period_ns) == high) return k;
    }
    return count;
  }
  const std::uint64_t half = count / 2;
  const std::uint64_t first = FirstExternalInSpan(high, t_ns, period_ns, half);
  if (first < half) return first;
  return half + FirstExternalInSpan(high, t_ns + half * period_ns, period_ns, count - half);
}

std::uint64_t AnalogModel::FirstExternalAt(bool high, std::uint64_t t_ns, std::uint64_t period_ns,
                                           std::uint64_t count) const {
  std::uint64_t done = 0;
  while (done < count) {
    const std::uint64_t span = std::min(count - done, kLongestSpan);
    const std::uint64_t first = FirstExternalInSpan(high, t_ns + done * period_ns, period_ns, span);
    if (first < span) return done + first;
    done += span;
  }
  return count;
}

}  // namespace vm316::sim
