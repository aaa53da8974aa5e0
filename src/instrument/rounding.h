// The one rounding rule of the instrument: a real becomes an integer by rounding to the
// nearest integer, halves to the even neighbour. The conversions saturate instead of reaching
// undefined behaviour: a value beyond the target type gives its nearest end, NaN gives 0.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vm316 {

inline long double RoundHalfEven(long double x) {
  // The default floating-point environment rounds to nearest, ties to even; nothing in the
  // library changes it.
  return std::nearbyintl(x);
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

inline std::int32_t RoundToInt32(long double x) { return RoundTo<std::int32_t>(x); }

}  // namespace vm316
