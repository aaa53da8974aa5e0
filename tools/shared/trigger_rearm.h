// Why a forced record may have been forced: the trigger comparator fires on a rising slope
// only after the input has gone below the level less the hysteresis (above the level plus the
// hysteresis on a falling one). A level near the signal's bottom (top) with the default
// hysteresis of 10/128 of the range asks for an excursion the signal never makes, and every
// record is forced.
#pragma once

#include <optional>
#include <string>

#include "record.h"

namespace vm316::host {

struct RearmShortfall {
  int channel = 1;
  bool falling = false;
  double level = 0.0;        // volts at the input
  double hysteresis = 0.0;   // volts
  double rearm_level = 0.0;  // level - hysteresis (rising), level + hysteresis (falling)
  double reached = 0.0;      // the record's lowest (rising) or highest (falling) sample
  // The largest hysteresis that lets the record's signal re-arm the comparator.
  double HysteresisBelow() const { return falling ? reached - level : level - reached; }
};

// A forced record whose trigger channel was recorded and never went past the re-arm level.
std::optional<RearmShortfall> FindRearmShortfall(const Record& record);

// "ch1 re-arms only below -0.525 V (the level 0.1 V less the hysteresis 0.625 V), and the
// record never went below -0.0313 V: a hysteresis below 0.131 V (--hysteresis) lets it
// trigger". `setting` names the hysteresis as the front end takes it.
std::string DescribeRearmShortfall(const RearmShortfall& shortfall, const std::string& setting);

}  // namespace vm316::host
