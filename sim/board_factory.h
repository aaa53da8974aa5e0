// Makes the simulated board that the environment describes (VM316_SIM_*), for the driver's
// platform layer when VM316_PORT=sim.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/port_backend.h"
#include "sim/board.h"

namespace vm316::sim {

struct BoardResult {
  std::unique_ptr<platform::PortBackend> backend;  // never null
  std::string error;  // non-empty when a VM316_SIM_* value was malformed: then backend is an
                      // absent board (floating bus); the text names the variable and the fault
};

// Reads VM316_SIM_BASE, VM316_SIM_CH1, VM316_SIM_CH2, VM316_SIM_EXT, VM316_SIM_SEED,
// VM316_SIM_FAULT (design.md gives values and defaults).
BoardResult CreateBoardFromEnvironment(platform::Clock& clock);

// The same reading from any source of variables: lookup returns a value, or null when the
// variable is not set. An empty value counts as not set. On malformed values the config is that
// of an absent board and error names every malformed variable.
struct ConfigResult {
  BoardConfig config;
  std::string error;
};
using VariableLookup = std::function<const char*(const char* name)>;
ConfigResult ReadBoardConfig(const VariableLookup& lookup);

}  // namespace vm316::sim
