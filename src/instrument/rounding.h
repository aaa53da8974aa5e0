// The one rounding rule of the instrument: a real becomes an integer by rounding to the
// nearest integer, halves to the even neighbour. The conversions saturate instead of reaching
// undefined behaviour: a value beyond the target type gives its nearest end, NaN gives 0.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vm316 {

// Built from operations that are exact whatever the rounding mode (truncation, the fraction
// left over, adding one to an integer), so a host that switches the mode does not move a
// code, a divisor or a time-out by one.
inline long double RoundHalfEven(long double x) {
  // 2^63: from here on every long double is an integer already (as are the infinities).
  constexpr long double kAllIntegral = 9223372036854775808.0L;
  if (!(std::fabs(x) < kAllIntegral)) return x;
  const long double whole = std::trunc(x);
  const long double fraction = std::fabs(x - whole);
  const long double away = whole + (x < 0 ? -1.0L : 1.0L);
  if (fraction > 0.5L) return away;
  if (fraction < 0.5L) return whole;
  return std::fmod(whole, 2.0L) == 0 ? whole : away;
}

template <typename Int>
Int RoundTo(long double x) {
  if (std::isnan(x)) return 0;
  const long double r = RoundHalfEven(x);
  if (r <= static_cast<long double>(std::numeric_limits<Int>::min())) {
    return std::numeric_limits<Int>::min();
  }
  if (r >= static_cast<long double>(std::numeric_limits<Int>::max())) {
    return std::numeric_limits<Int>::max();
  }
  return static_cast<Int>(r);
}

inline std::int32_t RoundToInt32(long double x) {
  return RoundTo<std::int32_t>(x);
}

}  // namespace vm316
