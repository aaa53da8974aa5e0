// The analog front end's relay tables: the relay-word bits of each input range. They are
// library-wide, restored with the port set, and patched by the calibration loops while they run.
#pragma once

#include <cstdint>

#include "instrument/vmx16.h"

namespace vm316 {

extern PerRange<std::uint32_t> RangeBitsCh1;
extern PerRange<std::uint32_t> RangeBitsCh2;

// Puts the relay tables back to the patterns of the input ranges.
void RestoreRelayTables();

}  // namespace vm316
