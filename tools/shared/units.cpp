#include "units.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vm316::host {
namespace {

struct Prefix {
  std::string_view symbol;
  int exponent;
};

constexpr std::string_view kMicroSign = "\xC2\xB5";
// Both spellings of micro are read; "K" is taken for kilo, as people type it. The first
// symbol of each exponent is the one written ("u" turns into the micro sign where it may).
constexpr std::array<Prefix, 10> kPrefixes{{{"p", -12},
                                            {"n", -9},
                                            {"u", -6},
                                            {kMicroSign, -6},
                                            {"m", -3},
                                            {"k", 3},
                                            {"K", 3},
                                            {"M", 6},
                                            {"G", 9}}};

bool g_micro_sign = false;

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (suffix.empty() || text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) !=
        std::tolower(static_cast<unsigned char>(suffix[i]))) {
      return false;
    }
  }
  return true;
}

// std::from_chars reads decimal notation only, whatever the locale: the C library's strtod
// would also take hexadecimal ("0x10" as 16) and leading blanks. It takes no '+', which is
// stepped over here (but not "+-").
std::optional<double> ParsePlainNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  double value = 0.0;
  const char* end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, value);
  if (read.ec != std::errc() || read.ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

// The prefix whose exponent (a multiple of 3) brings |value| into 1 .. 1000.
int EngineeringExponent(double value) {
  if (value == 0.0) return 0;
  int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value)) / 3.0)) * 3;
  if (exponent < -12) exponent = -12;
  if (exponent > 9) exponent = 9;
  return exponent;
}

std::string_view PrefixFor(int exponent) {
  if (exponent == -6) return g_micro_sign ? kMicroSign : "u";
  for (const Prefix& prefix : kPrefixes) {
    if (prefix.exponent == exponent) return prefix.symbol;
  }
  return "";
}

std::string Format(double value, std::string_view unit, int significant, bool keep_zeros) {
  if (!std::isfinite(value)) return std::string("--");
  if (significant < 1) significant = 1;
  int exponent = EngineeringExponent(value);
  double mantissa = value / std::pow(10.0, exponent);
  // Rounding may carry into the next prefix (999.7 -> 1000): take it there instead.
  const int integer_digits =
      mantissa == 0.0 ? 1 : static_cast<int>(std::floor(std::log10(std::fabs(mantissa)))) + 1;
  int decimals = std::max(0, significant - integer_digits);
  const double scale = std::pow(10.0, decimals);
  if (std::fabs(std::round(mantissa * scale) / scale) >= 1000.0 && exponent < 9) {
    exponent += 3;
    mantissa = value / std::pow(10.0, exponent);
    decimals = std::max(0, significant - 1);
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, mantissa);
  std::string number(buffer);
  if (!keep_zeros && number.find('.') != std::string::npos) {
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
  }
  if (number == "-0") number = "0";
  if (value == 0.0) number = keep_zeros ? number : "0";
  std::string text = number;
  text += ' ';
  text += PrefixFor(value == 0.0 ? 0 : exponent);
  text += unit;
  return text;
}

}  // namespace

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<double> ParseQuantity(std::string_view text, std::string_view unit) {
  text = Trim(text);
  if (EndsWithNoCase(text, unit)) text = Trim(text.substr(0, text.size() - unit.size()));
  if (const std::optional<double> plain = ParsePlainNumber(text)) return plain;
  for (const Prefix& prefix : kPrefixes) {
    if (text.size() > prefix.symbol.size() &&
        text.substr(text.size() - prefix.symbol.size()) == prefix.symbol) {
      const std::optional<double> number =
          ParsePlainNumber(Trim(text.substr(0, text.size() - prefix.symbol.size())));
      if (!number) return std::nullopt;
      const double value = *number * std::pow(10.0, prefix.exponent);
      if (!std::isfinite(value)) return std::nullopt;
      return value;
    }
  }
  return std::nullopt;
}

std::optional<std::uint64_t> ParseWholeNumber(std::string_view text) {
  const std::optional<double> value = ParseQuantity(text, "");
  constexpr double kLargest = 9.0e15;  // whole doubles are exact up to here
  if (!value || *value < 0.0 || *value > kLargest || std::floor(*value) != *value) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(*value);
}

std::optional<double> ParseDuration(std::string_view text, double bare_unit_seconds) {
  const std::string_view trimmed = Trim(text);
  if (EndsWithNoCase(trimmed, "s")) return ParseQuantity(trimmed, "s");
  const std::optional<double> bare = ParseQuantity(trimmed, "");
  if (!bare) return std::nullopt;
  return *bare * bare_unit_seconds;
}

void UseMicroSign(bool micro_sign) {
  g_micro_sign = micro_sign;
}

bool LocaleTakesUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    std::string lower(value);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
  }
  return false;
}

std::string FormatFrequency(double hertz, bool exact) {
  return exact ? FormatQuantityShort(hertz, "Hz", 4) : FormatQuantity(hertz, "Hz", 4);
}

std::string FormatQuantity(double value, std::string_view unit, int significant) {
  return Format(value, unit, significant, true);
}

std::string FormatQuantityShort(double value, std::string_view unit, int significant) {
  return Format(value, unit, significant, false);
}

std::string FormatVolts(double volts) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3g V", volts == 0.0 ? 0.0 : volts);
  return buffer;
}

std::string FormatDuration(double seconds) {
  char buffer[64];
  if (!std::isfinite(seconds) || seconds < 0.0) return "--";
  if (seconds < 60.0) return FormatQuantityShort(seconds, "s", 3);
  const long total = std::lround(seconds);
  if (total < 3600) {
    std::snprintf(buffer, sizeof buffer, "%ld min %02ld s", total / 60, total % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%ld h %02ld min", total / 3600, (total % 3600) / 60);
  }
  return buffer;
}

}  // namespace vm316::host
