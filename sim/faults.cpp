#include "sim/faults.h"

#include <charconv>

namespace vm316::sim {
namespace {

constexpr std::string_view kUnplugAfter = "unplug-after=";
constexpr std::string_view kStuckRelay = "stuck-relay=";
constexpr std::string_view kSlowBus = "slow-bus=";
constexpr std::uint64_t kRelayBits = 20;
constexpr std::uint64_t kSlowBusDefaultUs = 10;
constexpr std::uint64_t kSlowBusMaxUs = 1000;
constexpr std::uint64_t kNsPerUs = 1000;
constexpr const char* kFaultList =
    " (faults: absent, no-driver, stuck-busy, dead-converter2, unplug-after=N, stuck-relay=BIT, "
    "noisy-ch1, noisy-ch2, dead-ch1, dead-ch2, drifting-reference, slow-bus[=US])";

// A whole number in min..max after a prefix; false (and *error) when it is not.
bool ParseCount(std::string_view name, std::string_view prefix, std::uint64_t min,
                std::uint64_t max, std::uint64_t* value, std::string* error) {
  const std::string_view count = name.substr(prefix.size());
  const char* end = count.data() + count.size();
  const auto [ptr, ec] = std::from_chars(count.data(), end, *value);
  if (count.empty() || ec != std::errc() || ptr != end || *value < min || *value > max) {
    *error = std::string(prefix.substr(0, prefix.size() - 1)) + " needs a whole number from " +
             std::to_string(min) + " to " + std::to_string(max) + ", got '" + std::string(count) +
             "'";
    return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Applies one fault name to the set; returns the fault in the name, or an empty string.
std::string Apply(std::string_view name, FaultSet& faults) {
  if (name == "absent") {
    faults.absent = true;
  } else if (name == "no-driver") {
    faults.no_driver = true;
  } else if (name == "stuck-busy") {
    faults.stuck_busy = true;
  } else if (name == "dead-converter2") {
    faults.dead_converter2 = true;
  } else if (name == "noisy-ch1" || name == "noisy-ch2") {
    faults.noisy_channel[name.back() - '1'] = true;
  } else if (name == "dead-ch1" || name == "dead-ch2") {
    faults.dead_channel[name.back() - '1'] = true;
  } else if (name == "drifting-reference") {
    faults.drifting_reference = true;
  } else if (name == "slow-bus") {
    faults.bus_access_ns = kSlowBusDefaultUs * kNsPerUs;
  } else if (name.starts_with(kSlowBus)) {
    std::uint64_t us = 0;
    std::string error;
    if (!ParseCount(name, kSlowBus, 1, kSlowBusMaxUs, &us, &error)) return error;
    faults.bus_access_ns = us * kNsPerUs;
  } else if (name.starts_with(kStuckRelay)) {
    std::uint64_t bit = 0;
    std::string error;
    if (!ParseCount(name, kStuckRelay, 0, kRelayBits - 1, &bit, &error)) return error;
    faults.stuck_relays |= 1u << bit;
  } else if (name.starts_with(kUnplugAfter)) {
    const std::string_view count = name.substr(kUnplugAfter.size());
    std::uint64_t value = 0;
    const char* end = count.data() + count.size();
    const auto [ptr, ec] = std::from_chars(count.data(), end, value);
    if (count.empty() || ec != std::errc() || ptr != end) {
      return "unplug-after needs a whole number of port accesses, got '" + std::string(count) + "'";
    }
    faults.unplug_after = value;
  } else {
    return "unknown fault '" + std::string(name) + "'" + kFaultList;
  }
  return {};
}

}  // namespace

std::optional<FaultSet> FaultSet::Parse(std::string_view text, std::string* error) {
  FaultSet faults;
  text = Trim(text);
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view name = Trim(text.substr(0, comma));
    std::string fault =
        name.empty() ? std::string("empty entry in the fault list") : Apply(name, faults);
    if (!fault.empty()) {
      if (error != nullptr) *error = std::move(fault);
      return std::nullopt;
    }
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return faults;
}

}  // namespace vm316::sim
