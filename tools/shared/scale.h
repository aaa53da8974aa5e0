// Axis scales shared by the terminal plot and the SVG: round tick steps (1, 2, 5 times a power
// of ten) and a voltage span that holds every recorded trace.
#pragma once

#include <vector>

#include "record.h"

namespace vm316::host {

struct AxisScale {
  double low = 0.0;
  double high = 1.0;
  double step = 0.5;
  std::vector<double> Ticks() const;
};

// A 1-2-5 step near span / wanted_divisions.
double NiceStep(double span, int wanted_divisions);

// Low and high on multiples of the step, around [min, max]; a flat trace gets a small span.
AxisScale NiceScale(double min, double max, int wanted_divisions, double flat_span);

// The voltage axis for the recorded channels of a record.
AxisScale VoltageScale(const Record& record, int wanted_divisions);

// The window of a channel's range, from the converter's lowest code to its highest about the
// DC level, on ticks of a 1-2-5 step.
AxisScale RangeScale(const ChannelRecord& channel, int wanted_divisions);

}  // namespace vm316::host
