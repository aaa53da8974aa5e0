// What is wired to the simulated board's inputs, as a user types it: the numbers take SI
// prefixes and units ("square:freq=1k,amp=500mV", "sine:freq=2.5 kHz,phase=90deg"). The
// board's own reader takes plain numbers only, so the description is checked here and handed
// on in its plain form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vm316::host {

// "square:freq=1k,amp=2" -> "square:freq=1000,amp=2"; nothing, and the fault in *error, when
// the kind or a key is unknown, a key does not apply to the kind or comes twice, or a value is
// malformed or outside its limits.
std::optional<std::string> ParseSignalWiring(std::string_view text, std::string* error);

}  // namespace vm316::host
