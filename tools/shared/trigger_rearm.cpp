#include "trigger_rearm.h"

#include <algorithm>

#include "units.h"

namespace vm316::host {

std::optional<RearmShortfall> FindRearmShortfall(const Record& record) {
  if (record.trigger_state != TriggerState::kForced || !record.trigger_channel ||
      !record.trigger_level || !record.trigger_hysteresis) {
    return std::nullopt;
  }
  const ChannelRecord& channel = record.channels[*record.trigger_channel - 1];
  if (!channel.recorded || channel.volts.empty()) return std::nullopt;
  RearmShortfall shortfall;
  shortfall.channel = *record.trigger_channel;
  shortfall.falling = record.trigger_falling;
  shortfall.level = *record.trigger_level;
  shortfall.hysteresis = *record.trigger_hysteresis;
  const auto [low, high] = std::minmax_element(channel.volts.begin(), channel.volts.end());
  if (shortfall.falling) {
    shortfall.rearm_level = shortfall.level + shortfall.hysteresis;
    shortfall.reached = *high;
    if (shortfall.reached > shortfall.rearm_level) return std::nullopt;
  } else {
    shortfall.rearm_level = shortfall.level - shortfall.hysteresis;
    shortfall.reached = *low;
    if (shortfall.reached < shortfall.rearm_level) return std::nullopt;
  }
  return shortfall;
}

std::string DescribeRearmShortfall(const RearmShortfall& shortfall, const std::string& setting) {
  const std::string name = "ch" + std::to_string(shortfall.channel);
  const char* side = shortfall.falling ? "above " : "below ";
  std::string text = name + " re-arms only " + side + FormatVolts(shortfall.rearm_level) +
                     " (the level " + FormatVolts(shortfall.level) +
                     (shortfall.falling ? " plus" : " less") + " the hysteresis " +
                     FormatVolts(shortfall.hysteresis) + "), and the record never went " + side +
                     FormatVolts(shortfall.reached);
  const double below = shortfall.HysteresisBelow();
  if (below > 0.0) {
    text += ": a hysteresis below " + FormatVolts(below) + " (" + setting + ") lets it trigger";
  } else {
    text += std::string(": the level lies ") + (shortfall.falling ? "above" : "below") +
            " the signal, where no hysteresis lets it trigger";
  }
  return text;
}

}  // namespace vm316::host
