#include "signal_wiring.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "units.h"

namespace vm316::host {
namespace {

enum class Value : std::uint8_t { kHertz, kVolts, kFraction, kDegrees };

struct Key {
  std::string_view name;
  Value value;
};

constexpr std::array<Key, 6> kKeys = {{{"freq", Value::kHertz},
                                       {"amp", Value::kVolts},
                                       {"offset", Value::kVolts},
                                       {"duty", Value::kFraction},
                                       {"phase", Value::kDegrees},
                                       {"noise", Value::kVolts}}};

struct Kind {
  std::string_view name;
  std::string_view keys;  // the keys that mean something for it, comma-separated
};

constexpr std::array<Kind, 8> kKinds = {{{"ground", "noise"},
                                         {"dc", "offset,noise"},
                                         {"sine", "freq,amp,offset,phase,noise"},
                                         {"square", "freq,amp,offset,duty,phase,noise"},
                                         {"triangle", "freq,amp,offset,phase,noise"},
                                         {"sawtooth", "freq,amp,offset,phase,noise"},
                                         {"noise", "amp,offset,noise"},
                                         {"generator", "noise"}}};

constexpr double kMaxSignalHz = 1e9;

bool Applies(const Kind& kind, std::string_view key) {
  std::string_view list = kind.keys;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (list.substr(0, comma) == key) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

bool Fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

// The number in the board's units, or nothing with the fault in *error.
std::optional<double> ParseValue(const Key& key, std::string_view text, std::string* error) {
  std::optional<double> value;
  std::string limit;
  switch (key.value) {
    case Value::kHertz:
      value = ParseQuantity(text, "Hz");
      if (value && !(*value > 0.0 && *value <= kMaxSignalHz)) limit = "above 0 and at most 1 GHz";
      break;
    case Value::kVolts:
      value = ParseQuantity(text, "V");
      if (value && key.name != "offset" && *value < 0.0) limit = "not negative";
      break;
    case Value::kFraction:
      if (!text.empty() && text.back() == '%') {
        value = ParseQuantity(text.substr(0, text.size() - 1), "");
        if (value) *value /= 100.0;
      } else {
        value = ParseQuantity(text, "");
      }
      if (value && !(*value >= 0.0 && *value <= 1.0)) limit = "0 .. 1 (or 0% .. 100%)";
      break;
    case Value::kDegrees:
      value = ParseQuantity(text, "deg");
      break;
  }
  if (!value) {
    Fail(error,
         "'" + std::string(key.name) + "' takes a number, not \"" + std::string(text) + "\"");
    return std::nullopt;
  }
  if (!limit.empty()) {
    Fail(error, "'" + std::string(key.name) + "' must be " + limit + ", not \"" +
                    std::string(text) + "\"");
    return std::nullopt;
  }
  return value;
}

// The shortest text that reads back as the same number: "0.1", not "0.10000000000000001".
std::string Plain(double value) {
  char text[40];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("0");
}

}  // namespace

std::optional<std::string> ParseSignalWiring(std::string_view text, std::string* error) {
  const std::size_t colon = text.find(':');
  const std::string_view kind_name = Trim(text.substr(0, colon));
  const Kind* kind = nullptr;
  std::string kinds;
  for (const Kind& candidate : kKinds) {
    if (candidate.name == kind_name) kind = &candidate;
    kinds += (kinds.empty() ? "" : ", ") + std::string(candidate.name);
  }
  if (kind == nullptr) {
    Fail(error, "unknown signal \"" + std::string(kind_name) + "\" (" + kinds + ")");
    return std::nullopt;
  }
  std::string plain(kind->name);
  if (colon == std::string_view::npos) return plain;
  std::string_view list = text.substr(colon + 1);
  std::string seen = ",";
  char separator = ':';
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      Fail(error, "expected key=value in the signal, not \"" + std::string(item) + "\"");
      return std::nullopt;
    }
    const std::string_view name = Trim(item.substr(0, equals));
    const Key* key = nullptr;
    for (const Key& candidate : kKeys) {
      if (candidate.name == name) key = &candidate;
    }
    if (key == nullptr) {
      Fail(error, "unknown key '" + std::string(name) +
                      "' in the signal (freq, amp, offset, duty, phase, noise)");
      return std::nullopt;
    }
    if (!Applies(*kind, name)) {
      Fail(error, "'" + std::string(name) + "' does not apply to " + std::string(kind->name) +
                      " (it takes " + std::string(kind->keys) + ")");
      return std::nullopt;
    }
    if (seen.find("," + std::string(name) + ",") != std::string::npos) {
      Fail(error, "'" + std::string(name) + "' is given twice");
      return std::nullopt;
    }
    seen += std::string(name) + ",";
    const std::optional<double> value = ParseValue(*key, Trim(item.substr(equals + 1)), error);
    if (!value) return std::nullopt;
    plain += separator;
    plain += std::string(name) + "=" + Plain(*value);
    separator = ',';
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return plain;
}

}  // namespace vm316::host
