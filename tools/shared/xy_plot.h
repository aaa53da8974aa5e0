// A record taken in the board's XY mode as a Lissajous figure: channel 1 across, channel 2 up,
// each axis spanning its channel's range, in character cells and as an SVG picture.
#pragma once

#include <ostream>
#include <string>

#include "record.h"
#include "terminal_plot.h"

namespace vm316::host {

// The legend line (which channel is which axis, and its range), the figure with both axes
// labelled in volts, and the record's line. The figure is as many rows high as the style's
// height and twice as many columns wide (a cell is about twice as high as it is wide), so that
// a circle looks round.
std::string RenderXyPlot(const Record& record, const PlotStyle& style);

// A square plot of the samples in order as one polyline (id "xy").
void WriteXySvg(std::ostream& out, const Record& record);
// "-" is stdout. Throws CliError when the file cannot be written.
void WriteXySvgFile(const std::string& path, const Record& record);

}  // namespace vm316::host
