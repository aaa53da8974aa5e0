#include "sim/faults.h"

#include <charconv>

namespace vm316::sim {
namespace {

constexpr std::string_view kUnplugAfter = "unplug-after=";

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
    return "unknown fault '" + std::string(name) +
           "' (faults: absent, no-driver, stuck-busy, dead-converter2, unplug-after=N)";
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
