#include "ac_settling.h"

#include <algorithm>
#include <cmath>

namespace vm316::host {
namespace {

// A converter step is 2 * full scale / 256 codes; half of it is full scale / 256.
constexpr double kHalfStepsPerFullScale = 256.0;

}  // namespace

double AcSettlingSeconds(double range_volts, double largest_range_volts) {
  if (!(range_volts > 0.0) || !(largest_range_volts > 0.0)) return 0.0;
  const double half_step = range_volts / kHalfStepsPerFullScale;
  return kAcTimeConstantSeconds * std::log(std::max(1.0, largest_range_volts / half_step));
}

}  // namespace vm316::host
