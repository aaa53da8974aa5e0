// The building blocks of every plot drawn in character cells (the time record, the spectrum,
// the XY figure): a grid of cells that each say which channels pass through them, the marks and
// colours of the channels, the label column on the left and the labels under the bottom axis.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "record.h"
#include "scale.h"

namespace vm316::host {

// "-12.5 mV |": the value labels and the axis left of the cells.
inline constexpr int kCellLabelWidth = 10;

// Cell contents: bit 0 channel 1, bit 1 channel 2.
using CellGrid = std::vector<std::vector<unsigned char>>;

inline unsigned char ChannelBit(int channel) {
  return static_cast<unsigned char>(1u << channel);
}

CellGrid EmptyGrid(int width, int height);

// The row (0 at the top) or the column (0 at the left) of a value on a scale, clamped to the
// plot: a value beyond the scale lies on its edge.
int CellRow(double value, const AxisScale& scale, int height);
int CellColumn(double value, const AxisScale& scale, int width);

// Draws a series across the whole width: each column shows the span of its values, joined to
// the last value of the column before, so that an edge of a square wave is the vertical line a
// scope shows and a spectral line stands up from the floor beside it.
void DrawSeries(std::span<const double> values, unsigned char bit, const AxisScale& scale,
                CellGrid& grid);

// Draws one value per column, each column from its value down to the lower of its neighbours',
// so that a spectral line stands in its own column rather than in the one after it.
void DrawColumns(std::span<const double> per_column, unsigned char bit, const AxisScale& scale,
                 CellGrid& grid);

// One channel's mark ("*" or "o"), coloured on a terminal that takes colours.
std::string ChannelMark(int channel, bool color);

// One row of cells; a colour is switched only where it changes.
std::string CellRowText(const std::vector<unsigned char>& cells, bool color);

// The text right-aligned in `width` columns.
std::string PadLeft(const std::string& text, int width);

// The rows of a grid behind their value labels ("  4 V +" at a tick, "      |" between), each
// row followed by its `suffix` (a mark right of the plot), trailing blanks dropped.
std::string LabelledRows(const CellGrid& grid, const std::vector<std::string>& labels,
                         const std::vector<std::string>& suffix, bool color);

// The labels of each tick of `scale` on the rows of a plot `height` high.
std::vector<std::string> RowLabels(const AxisScale& scale, int height, std::string_view unit);

// The bottom axis: "+-----" with `marks` (column, character) on it.
struct AxisMark {
  int column;
  char mark;
};
std::string BottomAxis(int width, const std::vector<AxisMark>& marks = {});

// The labels under the bottom axis, each centred on its column, in the order given: one that
// would come closer than two blanks to a label already placed is left out.
struct AxisLabel {
  int column;
  std::string text;
};
std::string AxisLabels(int width, const std::vector<AxisLabel>& labels);

// The labels of each tick of `scale` across a plot `width` wide, the scale's ends first.
std::vector<AxisLabel> ColumnLabels(const AxisScale& scale, int width, std::string_view unit);

}  // namespace vm316::host
