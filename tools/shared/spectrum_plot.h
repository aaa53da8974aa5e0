// The spectrum as a view of a record: in character cells for the terminal and as an SVG
// picture, dBV up and frequency across from 0 Hz to half the sample rate, each channel's peak
// marked (and in the picture its harmonics).
#pragma once

#include <ostream>
#include <string>

#include "record.h"
#include "spectrum.h"
#include "terminal_plot.h"

namespace vm316::host {

// The legend line, a line per channel marking its peak ("v ch1 peak 1.000 kHz -9.03 dBV"
// with the v over the peak's column), the plot with its dBV and frequency axes, and the
// record's line with the window and the bin width.
std::string RenderSpectrumPlot(const Record& record, const RecordSpectra& spectra,
                               SpectrumWindow window, const PlotStyle& style);

void WriteSpectrumSvg(std::ostream& out, const Record& record, const RecordSpectra& spectra,
                      SpectrumWindow window);
// "-" is stdout. Throws CliError when the file cannot be written.
void WriteSpectrumSvgFile(const std::string& path, const Record& record,
                          const RecordSpectra& spectra, SpectrumWindow window);

}  // namespace vm316::host
