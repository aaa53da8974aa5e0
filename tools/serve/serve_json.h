// The little JSON that `vm316 serve` writes: strings escaped, numbers that JSON can hold.
#pragma once

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace vm316::serve {

inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// NaN and infinity have no JSON form: null.
inline std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

inline std::string JsonNumber(std::optional<double> value) {
  return value ? JsonNumber(*value) : "null";
}

inline std::string JsonBool(bool value) {
  return value ? "true" : "false";
}

}  // namespace vm316::serve
