#include "sim/signal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>

#include "sim/noise.h"

namespace vm316::sim {
namespace {

enum Key : std::uint8_t { kFreq, kAmp, kOffset, kDuty, kPhase, kNoise, kKeyCount };
constexpr std::array<std::string_view, kKeyCount> kKeyNames = {"freq", "amp",   "offset",
                                                               "duty", "phase", "noise"};
constexpr unsigned Bit(Key key) {
  return 1u << key;
}

struct KindInfo {
  std::string_view name;
  SignalKind kind;
  unsigned keys;  // the keys that mean something for this kind
};

constexpr unsigned kPeriodicKeys =
    Bit(kFreq) | Bit(kAmp) | Bit(kOffset) | Bit(kPhase) | Bit(kNoise);
constexpr std::array<KindInfo, 8> kKinds = {{
    {"ground", SignalKind::kGround, Bit(kNoise)},
    {"dc", SignalKind::kDc, Bit(kOffset) | Bit(kNoise)},
    {"sine", SignalKind::kSine, kPeriodicKeys},
    {"square", SignalKind::kSquare, kPeriodicKeys | Bit(kDuty)},
    {"triangle", SignalKind::kTriangle, kPeriodicKeys},
    {"sawtooth", SignalKind::kSawtooth, kPeriodicKeys},
    {"noise", SignalKind::kNoise, Bit(kAmp) | Bit(kOffset) | Bit(kNoise)},
    {"generator", SignalKind::kGenerator, Bit(kNoise)},
}};

constexpr double kMaxFrequencyHz = 1e9;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Quoted(std::string_view text) {
  // Appended rather than prefixed: GCC 12 sees a false overlap (-Wrestrict) in "'" + string.
  return std::string("'").append(text) + "'";
}

std::optional<double> ParseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Range rules of each key; an empty result means the value is acceptable.
std::string CheckValue(Key key, double value) {
  const std::string name(kKeyNames[key]);
  switch (key) {
    case kFreq:
      if (value <= 0.0 || value > kMaxFrequencyHz) {
        return Quoted(name) + " must lie above 0 and at most 1e9 Hz";
      }
      return {};
    case kDuty:
      if (value < 0.0 || value > 1.0) return Quoted(name) + " must lie in 0..1";
      return {};
    case kAmp:
    case kNoise:
      if (value < 0.0) return Quoted(name) + " must not be negative";
      return {};
    default:
      return {};
  }
}

void Store(SignalParams& params, Key key, double value) {
  switch (key) {
    case kFreq:
      params.freq_hz = value;
      break;
    case kAmp:
      params.amp_v = value;
      break;
    case kOffset:
      params.offset_v = value;
      break;
    case kDuty:
      params.duty = value;
      break;
    case kPhase:
      params.phase_deg = value;
      break;
    case kNoise:
      params.noise_v_rms = value;
      break;
    default:
      break;
  }
}

std::string KindList() {
  std::string list;
  for (std::size_t i = 0; i < kKinds.size(); ++i) {
    if (i != 0) list += i + 1 == kKinds.size() ? " or " : ", ";
    list += kKinds[i].name;
  }
  return list;
}

// Parses "key=value,key=value" into params; returns the first fault, or an empty string.
std::string ParseKeys(std::string_view list, const KindInfo& info, SignalParams& params) {
  unsigned seen = 0;
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return "expected key=value, got " + Quoted(item);
    const std::string_view name = Trim(item.substr(0, equals));
    const std::string_view text = Trim(item.substr(equals + 1));
    int key = 0;
    while (key < kKeyCount && kKeyNames[key] != name) ++key;
    if (key == kKeyCount) {
      return "unknown key " + Quoted(name) + " (keys: freq, amp, offset, duty, phase, noise)";
    }
    const Key k = static_cast<Key>(key);
    if ((info.keys & Bit(k)) == 0) {
      return "key " + Quoted(name) + " does not apply to " + Quoted(info.name);
    }
    if ((seen & Bit(k)) != 0) return "key " + Quoted(name) + " is given twice";
    seen |= Bit(k);
    const std::optional<double> value = ParseNumber(text);
    if (!value) return "key " + Quoted(name) + " needs a number, got " + Quoted(text);
    if (std::string fault = CheckValue(k, *value); !fault.empty()) return fault;
    Store(params, k, *value);
    if (comma == std::string_view::npos) return {};
    list.remove_prefix(comma + 1);
  }
}

// The fraction of a cycle, in [0, 1).
double Fraction(double cycles) {
  return cycles - std::floor(cycles);
}

// A first-order high-pass at freq_hz: its gain and its lead, in cycles.
void HighPassResponse(double freq_hz, double corner_hz, double* gain, double* lead_cycles) {
  const double ratio = freq_hz / corner_hz;
  *gain = ratio / std::sqrt(1.0 + ratio * ratio);
  *lead_cycles = std::atan2(1.0, ratio) / (2.0 * std::numbers::pi);
}

// A shape's bounds come from its values at both ends and at the corners it passes. The phase of
// the ends is computed as the shape computes it, but in extended precision a few rounding steps
// may lie between the two, so a corner this near an end counts as passed.
constexpr double kCornerMarginCycles = 1e-6;
// A span of this many cycles or more may show the whole shape.
constexpr double kWholeShapeCycles = 0.5;
// Beyond this many cycles from the start of a second the phase is too coarse to bound (and past
// a second's end it restarts from another whole part, rounded anew).
constexpr double kLargestBoundedCycles = 1e6;
constexpr std::uint64_t kNsPerSecond = 1000000000u;
// A low-pass's output is a weighted mean of its past input: all but exp(-kMemoryTaus) of the
// weight lies within this many time constants.
constexpr double kMemoryTaus = 24.0;

double TauNs(double corner_hz) {
  return 1e9 / (2.0 * std::numbers::pi * corner_hz);
}

// A two-level periodic wave (high for `high_ns` of every `period_ns`) through a first-order
// low-pass of time constant tau_ns, in its steady state, `since_ns` after a period's start.
double LowPassedTwoLevel(double high, double low, double high_ns, double period_ns, double since_ns,
                         double tau_ns) {
  if (high_ns <= 0.0) return low;
  if (high_ns >= period_ns) return high;
  const double a = std::exp(-high_ns / tau_ns);
  const double b = std::exp(-(period_ns - high_ns) / tau_ns);
  // The output where the high part starts, and where the low part starts.
  const double at_rise = low + (high - low) * b * (1.0 - a) / (1.0 - a * b);
  const double at_fall = high + (at_rise - high) * a;
  if (since_ns < high_ns) return high + (at_rise - high) * std::exp(-since_ns / tau_ns);
  return low + (at_fall - low) * std::exp(-(since_ns - high_ns) / tau_ns);
}

}  // namespace

Bounds& Bounds::Join(const Bounds& other) {
  low = std::min(low, other.low);
  high = std::max(high, other.high);
  return *this;
}

Bounds Bounds::Scaled(double factor) const {
  const double a = low * factor;
  const double b = high * factor;
  return {std::min(a, b), std::max(a, b)};
}

double SquareWaveOutput::MeanVolts() const {
  if (!IsOn()) return 0.0;
  return kHighVolts * static_cast<double>(high_ns) / static_cast<double>(period_ns);
}

double SquareWaveOutput::VoltsAt(std::uint64_t t_ns) const {
  if (!IsOn()) return 0.0;
  // Before its origin the output runs the same periods backwards in time.
  const std::uint64_t since = t_ns >= origin_ns
                                  ? (t_ns - origin_ns) % period_ns
                                  : (period_ns - (origin_ns - t_ns) % period_ns) % period_ns;
  return since < high_ns ? kHighVolts : 0.0;
}

Bounds SquareWaveOutput::VoltsBounds(std::uint64_t t0_ns, std::uint64_t t1_ns) const {
  if (!IsOn() || high_ns == 0) return Bounds::At(0.0);
  if (high_ns >= period_ns) return Bounds::At(kHighVolts);
  // Shorter than either part of a period: one edge at most, so equal ends mean no edge.
  const std::uint64_t shortest = std::min(high_ns, period_ns - high_ns);
  const double v0 = VoltsAt(t0_ns);
  if (t1_ns - t0_ns < shortest && VoltsAt(t1_ns) == v0) return Bounds::At(v0);
  return {0.0, kHighVolts};
}

Signal::Signal(const SignalParams& params) : params_(params) {}

std::optional<Signal> Signal::Parse(std::string_view text, std::string* error) {
  text = Trim(text);
  const std::size_t colon = text.find(':');
  const std::string_view kind_name = Trim(text.substr(0, colon));
  const KindInfo* info = nullptr;
  for (const KindInfo& candidate : kKinds) {
    if (candidate.name == kind_name) info = &candidate;
  }
  std::string fault;
  SignalParams params;
  if (info == nullptr) {
    fault = "unknown signal kind " + Quoted(kind_name) + " (kinds: " + KindList() + ")";
  } else {
    params.kind = info->kind;
    if (colon != std::string_view::npos) fault = ParseKeys(text.substr(colon + 1), *info, params);
  }
  if (!fault.empty()) {
    if (error != nullptr) *error = "malformed signal " + Quoted(text) + ": " + fault;
    return std::nullopt;
  }
  return Signal(params);
}

bool Signal::IsSilent() const {
  return params_.noise_v_rms == 0.0 &&
         (params_.kind == SignalKind::kGround ||
          (params_.kind == SignalKind::kDc && params_.offset_v == 0.0));
}

double Signal::CyclesAt(std::uint64_t t_ns) const {
  // Whole seconds and the rest apart, so that frequency x time keeps its precision in long runs.
  const double whole_seconds = static_cast<double>(t_ns / 1000000000u);
  const double rest_seconds = static_cast<double>(t_ns % 1000000000u) * 1e-9;
  return Fraction(params_.freq_hz * whole_seconds) + params_.freq_hz * rest_seconds +
         params_.phase_deg / 360.0;
}

double Signal::ShapeAt(double cycles) const {
  const double amp = params_.amp_v;
  const double x = Fraction(cycles);
  switch (params_.kind) {
    case SignalKind::kSine:
      return amp * std::sin(2.0 * std::numbers::pi * x);
    case SignalKind::kSquare:
      return x < params_.duty ? amp : -amp;
    case SignalKind::kTriangle:
      return x < 0.5 ? amp * (4.0 * x - 1.0) : amp * (3.0 - 4.0 * x);
    case SignalKind::kSawtooth:
      return amp * (2.0 * x - 1.0);
    default:
      return 0.0;
  }
}

double Signal::PathShapeAt(double cycles) const {
  if (corner_hz_ <= 0.0) return ShapeAt(cycles);
  const double amp = params_.amp_v;
  const double x = Fraction(cycles);
  const double period_ns = 1e9 / params_.freq_hz;
  const double tau_ns = TauNs(corner_hz_);
  const double t_ns = x * period_ns;
  // A ramp of slope s comes out s * tau late, plus an exponential from where its corner left
  // the output; each shape's steady state fixes that start.
  switch (params_.kind) {
    case SignalKind::kSine: {
      const double ratio = params_.freq_hz / corner_hz_;
      const double lag = std::atan(ratio) / (2.0 * std::numbers::pi);
      return amp / std::sqrt(1.0 + ratio * ratio) * std::sin(2.0 * std::numbers::pi * (x - lag));
    }
    case SignalKind::kSquare:
      return LowPassedTwoLevel(amp, -amp, params_.duty * period_ns, period_ns, t_ns, tau_ns);
    case SignalKind::kTriangle: {
      const double lag = 4.0 * amp * params_.freq_hz * 1e-9 * tau_ns;  // slope x tau, volts
      const double h = std::exp(-period_ns / (2.0 * tau_ns));
      const double at_peak = amp - lag * (1.0 - h) / (1.0 + h);
      if (x < 0.5) return ShapeAt(cycles) - lag + (lag - at_peak + amp) * std::exp(-t_ns / tau_ns);
      const double since = t_ns - period_ns / 2.0;
      return ShapeAt(cycles) + lag + (at_peak - amp - lag) * std::exp(-since / tau_ns);
    }
    case SignalKind::kSawtooth: {
      const double lag = 2.0 * amp * params_.freq_hz * 1e-9 * tau_ns;
      const double e = std::exp(-period_ns / tau_ns);
      const double at_start = (amp - lag + (amp + lag) * e) / (1.0 - e);
      return ShapeAt(cycles) - lag + (at_start + amp + lag) * std::exp(-t_ns / tau_ns);
    }
    default:
      return 0.0;
  }
}

double Signal::PathGeneratorAt(std::uint64_t t_ns, const SquareWaveOutput& generator) const {
  if (corner_hz_ <= 0.0 || !generator.IsOn()) return generator.VoltsAt(t_ns);
  const std::uint64_t origin = generator.origin_ns;
  const std::uint64_t period = generator.period_ns;
  const std::uint64_t since =
      t_ns >= origin ? (t_ns - origin) % period : (period - (origin - t_ns) % period) % period;
  return LowPassedTwoLevel(SquareWaveOutput::kHighVolts, 0.0,
                           static_cast<double>(generator.high_ns), static_cast<double>(period),
                           static_cast<double>(since), TauNs(corner_hz_));
}

bool Signal::ReachBack(std::uint64_t* t0_ns) const {
  if (corner_hz_ <= 0.0) return true;
  const auto memory = static_cast<std::uint64_t>(std::ceil(kMemoryTaus * TauNs(corner_hz_)));
  if (*t0_ns < memory) return false;
  *t0_ns -= memory;
  return true;
}

double Signal::MemoryMargin(double range) const {
  return corner_hz_ <= 0.0 ? 0.0 : range * std::exp(-kMemoryTaus);
}

Bounds Signal::PathShapeBounds(std::uint64_t t0_ns, std::uint64_t t1_ns, double lead_cycles) const {
  const double amp = params_.amp_v;
  if (!ReachBack(&t0_ns)) return {-amp, amp};
  return ShapeBounds(t0_ns, t1_ns, lead_cycles).Widened(MemoryMargin(2.0 * amp));
}

Bounds Signal::PathGeneratorBounds(std::uint64_t t0_ns, std::uint64_t t1_ns,
                                   const SquareWaveOutput& generator) const {
  if (!generator.IsOn()) return Bounds::At(0.0);
  if (!ReachBack(&t0_ns)) return {0.0, SquareWaveOutput::kHighVolts};
  return generator.VoltsBounds(t0_ns, t1_ns).Widened(MemoryMargin(SquareWaveOutput::kHighVolts));
}

double Signal::ShapeMean() const {
  return params_.kind == SignalKind::kSquare ? params_.amp_v * (2.0 * params_.duty - 1.0) : 0.0;
}

double Signal::NoiseAt(std::uint64_t t_ns) const {
  if (params_.noise_v_rms == 0.0) return 0.0;
  return params_.noise_v_rms * UnitGaussian(NoiseBits(noise_key_, t_ns));
}

double Signal::UniformNoiseAt(std::uint64_t t_ns) const {
  // A key of its own, apart from the added gaussian noise.
  const double u = UnitUniform(NoiseBits(noise_key_ ^ 0xA5A5A5A5A5A5A5A5ull, t_ns));
  return params_.amp_v * (2.0 * u - 1.0);
}

double Signal::VoltsAt(std::uint64_t t_ns, const SquareWaveOutput& generator) const {
  double volts = NoiseAt(t_ns);
  switch (params_.kind) {
    case SignalKind::kGround:
      break;
    case SignalKind::kDc:
      volts += params_.offset_v;
      break;
    case SignalKind::kNoise:
      volts += params_.offset_v + UniformNoiseAt(t_ns);
      break;
    case SignalKind::kGenerator:
      volts += PathGeneratorAt(t_ns, generator);
      break;
    default:
      volts += params_.offset_v + PathShapeAt(CyclesAt(t_ns));
      break;
  }
  return volts;
}

double Signal::HighPassedVoltsAt(std::uint64_t t_ns, double corner_hz,
                                 const SquareWaveOutput& generator) const {
  // Broadband noise lies far above the corner and passes; what is constant does not.
  double volts = NoiseAt(t_ns);
  const auto response = [corner_hz](double freq_hz, double* gain, double* lead_cycles) {
    HighPassResponse(freq_hz, corner_hz, gain, lead_cycles);
  };
  double gain = 0.0;
  double lead = 0.0;
  switch (params_.kind) {
    case SignalKind::kGround:
    case SignalKind::kDc:
      break;
    case SignalKind::kNoise:
      volts += UniformNoiseAt(t_ns);
      break;
    case SignalKind::kGenerator:
      if (generator.IsOn()) {
        response(generator.FrequencyHz(), &gain, &lead);
        const auto lead_ns =
            static_cast<std::uint64_t>(lead * static_cast<double>(generator.period_ns));
        volts += gain * (PathGeneratorAt(t_ns + lead_ns, generator) - generator.MeanVolts());
      }
      break;
    default:
      response(params_.freq_hz, &gain, &lead);
      volts += gain * (PathShapeAt(CyclesAt(t_ns) + lead) - ShapeMean());
      break;
  }
  return volts;
}

Bounds Signal::NoiseBounds() const {
  const double bound = params_.noise_v_rms * kUnitGaussianBound;
  return {-bound, bound};
}

Bounds Signal::ShapeBounds(std::uint64_t t0_ns, std::uint64_t t1_ns, double lead_cycles) const {
  const double amp = params_.amp_v;
  const Bounds whole = {-amp, amp};
  const double span = params_.freq_hz * static_cast<double>(t1_ns - t0_ns) * 1e-9;
  if (!(span < kWholeShapeCycles) || t0_ns / kNsPerSecond != t1_ns / kNsPerSecond) return whole;
  const double c0 = CyclesAt(t0_ns) + lead_cycles;
  if (!(std::abs(c0) < kLargestBoundedCycles)) return whole;
  Bounds bounds = Bounds::At(ShapeAt(c0));
  bounds.Join(Bounds::At(ShapeAt(CyclesAt(t1_ns) + lead_cycles)));
  // The corners within the span, as fractions of a cycle from the start of c0's cycle.
  const double x0 = Fraction(c0) - kCornerMarginCycles;
  const double x1 = Fraction(c0) + span + kCornerMarginCycles;
  const auto passes = [x0, x1](double corner) {
    return (x0 <= corner && corner <= x1) || (x0 <= corner + 1.0 && corner + 1.0 <= x1);
  };
  switch (params_.kind) {
    case SignalKind::kSine:
      if (passes(0.25)) bounds.Join(Bounds::At(amp));
      if (passes(0.75)) bounds.Join(Bounds::At(-amp));
      return bounds;
    case SignalKind::kTriangle:
      if (passes(0.0)) bounds.Join(Bounds::At(-amp));
      if (passes(0.5)) bounds.Join(Bounds::At(amp));
      return bounds;
    case SignalKind::kSawtooth:
      return passes(0.0) ? whole : bounds;
    case SignalKind::kSquare:
      return passes(0.0) || passes(params_.duty) ? whole : bounds;
    default:
      return Bounds::At(0.0);
  }
}

Bounds Signal::VoltsBounds(std::uint64_t t0_ns, std::uint64_t t1_ns,
                           const SquareWaveOutput& generator) const {
  Bounds bounds;
  switch (params_.kind) {
    case SignalKind::kGround:
      break;
    case SignalKind::kDc:
      bounds = Bounds::At(params_.offset_v);
      break;
    case SignalKind::kNoise:
      bounds = Bounds{-params_.amp_v, params_.amp_v} + params_.offset_v;
      break;
    case SignalKind::kGenerator:
      bounds = PathGeneratorBounds(t0_ns, t1_ns, generator);
      break;
    default:
      bounds = PathShapeBounds(t0_ns, t1_ns, 0.0) + params_.offset_v;
      break;
  }
  return bounds + NoiseBounds();
}

Bounds Signal::HighPassedBounds(std::uint64_t t0_ns, std::uint64_t t1_ns, double corner_hz,
                                const SquareWaveOutput& generator) const {
  double gain = 0.0;
  double lead = 0.0;
  Bounds bounds;
  switch (params_.kind) {
    case SignalKind::kGround:
    case SignalKind::kDc:
      break;
    case SignalKind::kNoise:
      bounds = {-params_.amp_v, params_.amp_v};
      break;
    case SignalKind::kGenerator:
      if (generator.IsOn()) {
        HighPassResponse(generator.FrequencyHz(), corner_hz, &gain, &lead);
        const auto lead_ns =
            static_cast<std::uint64_t>(lead * static_cast<double>(generator.period_ns));
        bounds = (PathGeneratorBounds(t0_ns + lead_ns, t1_ns + lead_ns, generator) +
                  -generator.MeanVolts())
                     .Scaled(gain);
      }
      break;
    default:
      HighPassResponse(params_.freq_hz, corner_hz, &gain, &lead);
      bounds = (PathShapeBounds(t0_ns, t1_ns, lead) + -ShapeMean()).Scaled(gain);
      break;
  }
  return bounds + NoiseBounds();
}

}  // namespace vm316::sim
