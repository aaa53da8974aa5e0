// Quantities as a bench user types and reads them: "100k", "2.5M", "500m", "20 mV", "1.00 kHz".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vm316::cli {

// Parses a number with an optional SI prefix (p n u m k M G) and an optional unit, which must
// be `unit` when one is given ("100k", "100 kHz", "2.5e6", "500mV"). Refuses NaN and infinity.
std::optional<double> ParseQuantity(std::string_view text, std::string_view unit);

// Formats with an SI prefix and `significant` digits, keeping trailing zeros so that columns
// line up ("5.01 V", "50.0 Hz", "-20.0 mV", "0 V").
std::string FormatQuantity(double value, std::string_view unit, int significant = 3);

// The same, but without trailing zeros: for axis labels and settings ("10 ms", "2.5 V").
std::string FormatQuantityShort(double value, std::string_view unit, int significant = 4);

// A setting or a limit in plain volts, as the board's range table writes them: "0.8 V",
// "1.61 V", "-16 V".
std::string FormatVolts(double volts);

// A duration for progress lines: "12.3 s", "5 min 27 s", "2 h 03 min".
std::string FormatDuration(double seconds);

}  // namespace vm316::cli
