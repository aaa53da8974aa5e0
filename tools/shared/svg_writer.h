// A record as an SVG picture: axes with units, a grid, each recorded channel as a trace, the
// trigger instant and level, and the measurements.
#pragma once

#include <array>
#include <ostream>
#include <string>

#include "record.h"
#include "statistics.h"

namespace vm316::host {

void WriteSvg(std::ostream& out, const Record& record,
              const std::array<TraceStatistics, kChannelCount>& stats);

// "-" is stdout. Throws CliError when the file cannot be written.
void WriteSvgFile(const std::string& path, const Record& record,
                  const std::array<TraceStatistics, kChannelCount>& stats);

}  // namespace vm316::host
