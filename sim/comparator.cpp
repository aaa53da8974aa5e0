#include "sim/comparator.h"

#include <algorithm>

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

ComparatorWatch TriggerComparator::Watch() const {
  using Kind = ComparatorWatch::Kind;
  ComparatorWatch watch;
  switch (mode_) {
    case kAnalogRising:
      // Armed it fires at the level; unarmed it re-arms below the hysteresis level.
      watch.kind = Kind::kCode;
      if (rearmed_) {
        watch.at_least = level_;
      } else {
        watch.below = hysteresis_;
      }
      break;
    case kAnalogFalling:
      watch.kind = Kind::kCode;
      if (rearmed_) {
        watch.below = level_ + 1;
      } else {
        watch.at_least = hysteresis_ + 1;
      }
      break;
    case kExternalRising:
    case kExternalFalling:
      if (!have_external_) {
        watch.kind = Kind::kAnySample;  // the first sample is its first look at the input
      } else {
        watch.kind = Kind::kExternal;
        watch.external_high = !external_was_high_;
      }
      break;
    default:
      break;
  }
  return watch;
}

ComparatorWatch TriggerComparator::Deciding() const {
  using Kind = ComparatorWatch::Kind;
  ComparatorWatch watch;
  switch (mode_) {
    case kAnalogRising:
      // Below the hysteresis level it is armed after the sample; at or above both levels it is
      // not (it fired, or it was not armed); in between it stays as it was.
      watch.kind = Kind::kCode;
      watch.below = hysteresis_;
      watch.at_least = std::max(level_, hysteresis_);
      break;
    case kAnalogFalling:
      watch.kind = Kind::kCode;
      watch.below = std::min(level_, hysteresis_) + 1;
      watch.at_least = hysteresis_ + 1;
      break;
    case kExternalRising:
    case kExternalFalling:
      watch.kind = Kind::kAnySample;  // it keeps the last sample's level
      break;
    default:
      break;
  }
  return watch;
}

}  // namespace vm316::sim
