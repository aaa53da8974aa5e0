#include "sim/comparator.h"

namespace vm316::sim {

void TriggerComparator::Reset() {
  rearmed_ = false;
  have_external_ = false;
  external_was_high_ = false;
  seen_ = false;
}

bool TriggerComparator::Clock(std::uint8_t code, bool external_high) {
  bool fired = false;
  switch (mode_) {
    case kAnalogRising:
      fired = rearmed_ && code >= level_;
      if (fired) rearmed_ = false;
      if (code < hysteresis_) rearmed_ = true;
      break;
    case kAnalogFalling:
      fired = rearmed_ && code <= level_;
      if (fired) rearmed_ = false;
      if (code > hysteresis_) rearmed_ = true;
      break;
    case kExternalRising:
    case kExternalFalling: {
      const bool edge_high = mode_ == kExternalRising;
      fired = have_external_ && external_was_high_ != edge_high && external_high == edge_high;
      have_external_ = true;
      external_was_high_ = external_high;
      break;
    }
    default:
      break;
  }
  seen_ = seen_ || fired;
  return fired;
}

}  // namespace vm316::sim
