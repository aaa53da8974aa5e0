#include "svg_parts.h"

#include <algorithm>
#include <cstdio>

#include "terminal_plot.h"
#include "units.h"

namespace vm316::host {
namespace {

constexpr const char* kTriggeredColor = "#008000";
constexpr const char* kQuietColor = "#606060";
constexpr double kTickLabelGap = 8.0;    // between a y tick label and the frame
constexpr double kXLabelBelow = 18.0;    // from the frame to the x tick labels
constexpr double kXTitleBelow = 40.0;    // from the frame to the x axis' title
constexpr double kYTitleLeft = 70.0;     // from the frame to the y axis' title
constexpr double kBadgeCharWidth = 8.0;  // the badge's bold 13 px letters
constexpr double kSwatchLength = 24.0;

}  // namespace

std::string SvgEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string SvgFixed(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

double ClampedY(const SvgFrame& frame, double value) {
  return std::clamp(frame.Y(value), frame.top, frame.Bottom());
}

void WriteSvgStart(std::ostream& out, double width, double height, const std::string& title) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << ' ' << height << "\">\n";
  out << "  <title>" << SvgEscaped(title) << "</title>\n";
  out << "  <rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

void WriteSvgEnd(std::ostream& out) {
  out << "</svg>\n";
}

void WriteSvgHeading(std::ostream& out, const SvgFrame& frame, const std::string& title,
                     const std::string& details) {
  out << "  <g font-family=\"sans-serif\" font-size=\"14\" fill=\"#202020\">\n";
  WriteSvgText(out, frame.left, 28, "start", title);
  WriteSvgText(out, frame.left, 46, "start", details, " font-size=\"12\"");
  out << "  </g>\n";
}

void WriteSvgText(std::ostream& out, double x, double y, const std::string& anchor,
                  const std::string& text, const std::string& extra) {
  out << "  <text x=\"" << SvgFixed(x) << "\" y=\"" << SvgFixed(y) << "\" text-anchor=\"" << anchor
      << "\"" << extra << ">" << SvgEscaped(text) << "</text>\n";
}

void WriteSvgGrid(std::ostream& out, const SvgFrame& frame) {
  out << "  <g id=\"grid\" stroke=\"#d8d8d8\" stroke-width=\"1\">\n";
  for (const double x : frame.x.Ticks()) {
    out << "    <line x1=\"" << SvgFixed(frame.X(x)) << "\" y1=\"" << SvgFixed(frame.top)
        << "\" x2=\"" << SvgFixed(frame.X(x)) << "\" y2=\"" << SvgFixed(frame.Bottom()) << "\"/>\n";
  }
  for (const double y : frame.y.Ticks()) {
    out << "    <line x1=\"" << SvgFixed(frame.left) << "\" y1=\"" << SvgFixed(frame.Y(y))
        << "\" x2=\"" << SvgFixed(frame.Right()) << "\" y2=\"" << SvgFixed(frame.Y(y)) << "\"/>\n";
  }
  out << "  </g>\n";
  out << "  <rect id=\"frame\" x=\"" << SvgFixed(frame.left) << "\" y=\"" << SvgFixed(frame.top)
      << "\" width=\"" << SvgFixed(frame.width) << "\" height=\"" << SvgFixed(frame.height)
      << "\" fill=\"none\" stroke=\"#404040\" stroke-width=\"1\"/>\n";
}

void WriteSvgAxes(std::ostream& out, const SvgFrame& frame, const SvgAxisTitles& titles) {
  out << "  <g id=\"axes\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#202020\">\n";
  for (const double x : frame.x.Ticks()) {
    WriteSvgText(out, frame.X(x), frame.Bottom() + kXLabelBelow, "middle",
                 FormatQuantityShort(x, titles.x_unit, 3));
  }
  for (const double y : frame.y.Ticks()) {
    WriteSvgText(out, frame.left - kTickLabelGap, frame.Y(y) + 4, "end",
                 FormatQuantityShort(y, titles.y_unit, 3));
  }
  WriteSvgText(out, frame.left + frame.width / 2, frame.Bottom() + kXTitleBelow, "middle",
               titles.x_title);
  const std::string title_x = SvgFixed(frame.left - kYTitleLeft);
  const std::string mid_y = SvgFixed(frame.top + frame.height / 2);
  out << "  <text x=\"" << title_x << "\" y=\"" << mid_y
      << "\" text-anchor=\"middle\" transform=\"rotate(-90 " << title_x << ' ' << mid_y << ")\">"
      << SvgEscaped(titles.y_title) << "</text>\n";
  out << "  </g>\n";
}

void WriteSvgPolyline(std::ostream& out, const std::string& id, const char* color,
                      const SvgPoints& points) {
  out << "  <polyline id=\"" << id << "\" class=\"trace\" fill=\"none\" stroke=\"" << color
      << "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" points=\"";
  bool first = true;
  for (const auto& [x, y] : points) {
    if (!first) out << ' ';
    out << SvgFixed(x) << ',' << SvgFixed(y);
    first = false;
  }
  out << "\"/>\n";
}

void WriteSvgSwatch(std::ostream& out, double x, double y, const char* color) {
  out << "    <line x1=\"" << SvgFixed(x - kSwatchLength) << "\" y1=\"" << SvgFixed(y - 4)
      << "\" x2=\"" << SvgFixed(x) << "\" y2=\"" << SvgFixed(y - 4) << "\" stroke=\"" << color
      << "\" stroke-width=\"3\"/>\n";
}

void WriteSvgTriggerState(std::ostream& out, const Record& record, const SvgFrame& frame) {
  const bool alert = record.trigger_state == TriggerState::kForced;
  const char* color = record.trigger_state == TriggerState::kTriggered ? kTriggeredColor
                      : alert                                          ? kSvgAlertColor
                                                                       : kQuietColor;
  const std::string text = DescribeTriggerState(record);
  const double width = 14.0 + kBadgeCharWidth * static_cast<double>(text.size());
  const double x = frame.Right() - width;
  out << "  <g id=\"trigger-state\" class=\"" << TriggerStateKey(record.trigger_state)
      << "\" font-family=\"sans-serif\" font-size=\"13\" font-weight=\"bold\">\n";
  out << "    <rect x=\"" << SvgFixed(x) << "\" y=\"" << SvgFixed(frame.top - 44) << "\" width=\""
      << SvgFixed(width) << "\" height=\"22\" rx=\"4\" fill=\"" << (alert ? color : "white")
      << "\" stroke=\"" << color << "\" stroke-width=\"1.5\"/>\n";
  WriteSvgText(out, x + width / 2, frame.top - 28, "middle", text,
               std::string(" fill=\"") + (alert ? "white" : color) + "\"");
  out << "  </g>\n";
}

}  // namespace vm316::host
