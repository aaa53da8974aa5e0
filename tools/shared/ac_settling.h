// The inputs' AC coupling: a capacitor at the connector, ahead of the attenuators, that forms
// a first-order high-pass with the input's resistance. Switched from DC the capacitor starts
// empty (the DC relay shorted it), so at first the whole input passes and its DC part drains
// away with the coupling's time constant; a record taken before then shows a mean that is not
// the signal's.
#pragma once

#include <numbers>

namespace vm316::host {

// The board's corner frequency (docs/simulated-board.md; the same coupling network on the real
// board), and its time constant, 1 / (2 pi f): 53 ms.
inline constexpr double kAcCornerHz = 3.0;
inline constexpr double kAcTimeConstantSeconds = 1.0 / (2.0 * std::numbers::pi * kAcCornerHz);

// How long an input switched to AC needs until what is left of its DC part lies within half a
// converter step of the `range_volts` range: tau * ln(largest DC / half a step). The largest DC
// is taken as the largest range's full scale, the most any input the board measures carries.
double AcSettlingSeconds(double range_volts, double largest_range_volts);

}  // namespace vm316::host
