#include "scale.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vm316::host {
namespace {

constexpr double kCodesPerFullScale = 128.0;  // one converter step is sensitivity / 128
constexpr double kHighestCode = 255.0;
constexpr double kMidCode = 128.0;

}  // namespace

std::vector<double> AxisScale::Ticks() const {
  std::vector<double> ticks;
  if (!(step > 0.0) || !(high > low)) return ticks;
  const long first = std::lround(std::ceil(low / step - 1e-9));
  const long last = std::lround(std::floor(high / step + 1e-9));
  for (long k = first; k <= last; ++k) {
    const double tick = static_cast<double>(k) * step;
    ticks.push_back(std::fabs(tick) < step * 1e-9 ? 0.0 : tick);
  }
  return ticks;
}

double NiceStep(double span, int wanted_divisions) {
  if (!(span > 0.0) || wanted_divisions < 1) return 1.0;
  const double raw = span / wanted_divisions;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / power;
  double nice = 10.0;
  if (fraction <= 1.0) {
    nice = 1.0;
  } else if (fraction <= 2.0) {
    nice = 2.0;
  } else if (fraction <= 5.0) {
    nice = 5.0;
  }
  return nice * power;
}

AxisScale NiceScale(double min, double max, int wanted_divisions, double flat_span) {
  if (!(max - min > flat_span * 1e-3)) {
    const double centre = (min + max) / 2.0;
    min = centre - flat_span / 2.0;
    max = centre + flat_span / 2.0;
  }
  AxisScale scale;
  scale.step = NiceStep(max - min, wanted_divisions);
  scale.low = std::floor(min / scale.step) * scale.step;
  scale.high = std::ceil(max / scale.step) * scale.step;
  // A trace that just touches a tick gets a little room so that it is not drawn on the frame.
  if (max >= scale.high - scale.step * 1e-6) scale.high += scale.step;
  if (min <= scale.low + scale.step * 1e-6) scale.low -= scale.step;
  return scale;
}

AxisScale VoltageScale(const Record& record, int wanted_divisions) {
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
  double smallest_range = std::numeric_limits<double>::infinity();
  for (const ChannelRecord& channel : record.channels) {
    if (!channel.recorded || channel.volts.empty()) continue;
    const auto [low, high] = std::minmax_element(channel.volts.begin(), channel.volts.end());
    min = std::min(min, *low);
    max = std::max(max, *high);
    smallest_range = std::min(smallest_range, channel.sensitivity);
  }
  if (!std::isfinite(min)) return NiceScale(-1.0, 1.0, wanted_divisions, 2.0);
  // A flat trace is shown on a span of a quarter of its range, like a scope at rest.
  const double flat_span =
      std::isfinite(smallest_range) && smallest_range > 0.0 ? smallest_range / 4.0 : 0.1;
  return NiceScale(min, max, wanted_divisions, flat_span);
}

AxisScale RangeScale(const ChannelRecord& channel, int wanted_divisions) {
  const double step = channel.sensitivity / kCodesPerFullScale;
  AxisScale scale;
  scale.low = channel.dc_level - kMidCode * step;
  scale.high = channel.dc_level + (kHighestCode - kMidCode) * step;
  if (!(scale.high > scale.low)) scale.high = scale.low + 1.0;
  scale.step = NiceStep(scale.high - scale.low, wanted_divisions);
  return scale;
}

}  // namespace vm316::host
