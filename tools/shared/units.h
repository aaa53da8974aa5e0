// Quantities as a bench user types and reads them: "100k", "2.5M", "500m", "20 mV", "1.00 kHz".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm316::host {

// Parses a number with an optional SI prefix (p n u µ m k K M G) and an optional unit, which
// must be `unit` when one is given ("100k", "100 kHz", "2.5e6", "500mV"). Refuses NaN and
// infinity.
std::optional<double> ParseQuantity(std::string_view text, std::string_view unit);

// A count with an optional SI prefix: "1000", "10k", "1.5k". Nothing for a fraction, a
// negative number or one above `limit`'s type.
std::optional<std::uint64_t> ParseWholeNumber(std::string_view text);

// A duration in seconds: "10ms", "0.5s", "2 s", "500us"; a bare number counts in
// `bare_unit_seconds` ("200" with 1e-3 is 200 ms).
std::optional<double> ParseDuration(std::string_view text, double bare_unit_seconds);

// Whether the micro prefix is written as the micro sign (a terminal that takes UTF-8) or as
// "u". Set once at start from the locale.
void UseMicroSign(bool micro_sign);
// True when the locale's character set (LC_ALL, LC_CTYPE, LANG) is UTF-8.
bool LocaleTakesUtf8();

// Formats with an SI prefix and `significant` digits, keeping trailing zeros so that columns
// line up ("5.01 V", "50.0 Hz", "-20.0 mV", "0 V").
std::string FormatQuantity(double value, std::string_view unit, int significant = 3);

// The same, but without trailing zeros: for axis labels and settings ("10 ms", "2.5 V").
std::string FormatQuantityShort(double value, std::string_view unit, int significant = 4);

// A frequency: four significant digits everywhere, so that a measurement and a setting read
// alike ("1.000 kHz", "50.00 Hz", "3.001 kHz"); `exact` drops trailing zeros for a setting
// that is exact ("4 MHz", "100 kHz").
std::string FormatFrequency(double hertz, bool exact = false);

// A setting or a limit in plain volts, as the board's range table writes them: "0.8 V",
// "1.61 V", "-16 V".
std::string FormatVolts(double volts);

// A duration for progress lines: "12.3 s", "5 min 27 s", "2 h 03 min".
std::string FormatDuration(double seconds);

// The text without the white space around it.
std::string_view Trim(std::string_view text);

}  // namespace vm316::host
