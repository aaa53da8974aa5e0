#include "cell_plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "units.h"

namespace vm316::host {
namespace {

// The traces keep their colours of a bench scope: channel 1 yellow, channel 2 cyan.
constexpr std::array<char, kChannelCount> kTraceGlyph = {'*', 'o'};
constexpr char kOverlapGlyph = '#';
constexpr unsigned char kBothChannels = 3;
constexpr std::array<const char*, kChannelCount> kTraceColor = {"\x1b[33m", "\x1b[36m"};
constexpr const char* kOverlapColor = "\x1b[1m";
constexpr const char* kResetColor = "\x1b[0m";
// The room the bottom labels have right of the plot, so that the last one can be centred.
constexpr int kLabelOverhang = 12;
constexpr int kLabelGap = 2;

char Glyph(unsigned char content) {
  if (content == 0) return ' ';
  if (content == kBothChannels) return kOverlapGlyph;
  return kTraceGlyph[(content & 1) != 0 ? 0 : 1];
}

const char* ColorOf(unsigned char content) {
  if (content == 0) return kResetColor;
  if (content == kBothChannels) return kOverlapColor;
  return kTraceColor[(content & 1) != 0 ? 0 : 1];
}

int Position(double fraction, int cells) {
  return std::clamp(static_cast<int>(std::lround(fraction * (cells - 1))), 0, cells - 1);
}

}  // namespace

CellGrid EmptyGrid(int width, int height) {
  return CellGrid(static_cast<std::size_t>(height),
                  std::vector<unsigned char>(static_cast<std::size_t>(width), 0));
}

int CellRow(double value, const AxisScale& scale, int height) {
  return Position((scale.high - value) / (scale.high - scale.low), height);
}

int CellColumn(double value, const AxisScale& scale, int width) {
  return Position((value - scale.low) / (scale.high - scale.low), width);
}

void DrawSeries(std::span<const double> values, unsigned char bit, const AxisScale& scale,
                CellGrid& grid) {
  const std::size_t count = values.size();
  if (count == 0 || grid.empty()) return;
  const int height = static_cast<int>(grid.size());
  const int width = static_cast<int>(grid.front().size());
  std::optional<double> previous;
  for (int column = 0; column < width; ++column) {
    std::size_t first = count * static_cast<std::size_t>(column) / static_cast<std::size_t>(width);
    std::size_t last =
        count * static_cast<std::size_t>(column + 1) / static_cast<std::size_t>(width);
    if (last <= first) last = std::min(first + 1, count);
    if (first >= count) break;
    double low = values[first];
    double high = values[first];
    for (std::size_t i = first; i < last; ++i) {
      low = std::min(low, values[i]);
      high = std::max(high, values[i]);
    }
    if (previous) {
      low = std::min(low, *previous);
      high = std::max(high, *previous);
    }
    previous = values[last - 1];
    const int top = CellRow(high, scale, height);
    const int bottom = CellRow(low, scale, height);
    for (int row = top; row <= bottom; ++row) grid[row][column] |= bit;
  }
}

void DrawColumns(std::span<const double> per_column, unsigned char bit, const AxisScale& scale,
                 CellGrid& grid) {
  if (grid.empty()) return;
  const int height = static_cast<int>(grid.size());
  const std::size_t count = std::min(per_column.size(), grid.front().size());
  for (std::size_t column = 0; column < count; ++column) {
    double low = per_column[column];
    if (column > 0) low = std::min(low, per_column[column - 1]);
    if (column + 1 < count) low = std::min(low, per_column[column + 1]);
    const int top = CellRow(per_column[column], scale, height);
    const int bottom = std::max(top, CellRow(low, scale, height) - 1);
    for (int row = top; row <= bottom; ++row) grid[row][column] |= bit;
  }
}

std::string ChannelMark(int channel, bool color) {
  const unsigned char content = ChannelBit(channel);
  if (!color) return std::string(1, Glyph(content));
  return std::string(ColorOf(content)) + Glyph(content) + kResetColor;
}

std::string CellRowText(const std::vector<unsigned char>& cells, bool color) {
  std::string row;
  const char* current = kResetColor;
  for (const unsigned char content : cells) {
    if (color && content != 0 && ColorOf(content) != current) {
      if (current != kResetColor) row += kResetColor;
      current = ColorOf(content);
      row += current;
    }
    row += Glyph(content);
  }
  if (current != kResetColor) row += kResetColor;
  return row;
}

std::string PadLeft(const std::string& text, int width) {
  if (static_cast<int>(text.size()) >= width) return text;
  return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
}

std::string LabelledRows(const CellGrid& grid, const std::vector<std::string>& labels,
                         const std::vector<std::string>& suffix, bool color) {
  std::string out;
  for (std::size_t row = 0; row < grid.size(); ++row) {
    const std::string label = row < labels.size() ? labels[row] : std::string();
    out += PadLeft(label, kCellLabelWidth - 2);
    out += label.empty() ? " |" : " +";
    std::string cells = CellRowText(grid[row], color);
    if (row < suffix.size() && !suffix[row].empty()) {
      cells += suffix[row];
    } else {
      while (!cells.empty() && cells.back() == ' ') cells.pop_back();
    }
    out += cells + "\n";
  }
  return out;
}

std::vector<std::string> RowLabels(const AxisScale& scale, int height, std::string_view unit) {
  std::vector<std::string> labels(static_cast<std::size_t>(height));
  for (const double tick : scale.Ticks()) {
    labels[CellRow(tick, scale, height)] = FormatQuantityShort(tick, unit, 3);
  }
  return labels;
}

std::string BottomAxis(int width, const std::vector<AxisMark>& marks) {
  std::string axis(static_cast<std::size_t>(width), '-');
  for (const AxisMark& mark : marks) {
    if (mark.column >= 0 && mark.column < width) axis[mark.column] = mark.mark;
  }
  return std::string(kCellLabelWidth - 2, ' ') + " +" + axis + "\n";
}

std::string AxisLabels(int width, const std::vector<AxisLabel>& labels) {
  std::string line(static_cast<std::size_t>(kCellLabelWidth + width + kLabelOverhang), ' ');
  std::vector<std::pair<int, int>> taken;  // [start, end) of each label placed
  for (const AxisLabel& label : labels) {
    const int size = static_cast<int>(label.text.size());
    const int at = std::clamp(kCellLabelWidth + label.column - size / 2, 0,
                              static_cast<int>(line.size()) - size);
    const bool clear = std::all_of(taken.begin(), taken.end(), [&](const auto& span) {
      return at >= span.second + kLabelGap || at + size + kLabelGap <= span.first;
    });
    if (!clear) continue;
    line.replace(static_cast<std::size_t>(at), label.text.size(), label.text);
    taken.emplace_back(at, at + size);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::vector<AxisLabel> ColumnLabels(const AxisScale& scale, int width, std::string_view unit) {
  std::vector<double> ticks = scale.Ticks();
  if (ticks.size() > 2) std::rotate(ticks.begin() + 1, ticks.end() - 1, ticks.end());
  std::vector<AxisLabel> labels;
  for (const double tick : ticks) {
    labels.push_back({CellColumn(tick, scale, width), FormatQuantityShort(tick, unit, 3)});
  }
  return labels;
}

}  // namespace vm316::host
