// measure and watch: the subcommands that take records.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "commands.h"
#include "shared/acquisition.h"
#include "shared/csv_writer.h"
#include "shared/errors.h"
#include "shared/hdf5_writer.h"
#include "shared/interrupt.h"
#include "shared/run_file.h"
#include "shared/session.h"
#include "shared/sigrok_writer.h"
#include "shared/spectrum_plot.h"
#include "shared/svg_writer.h"
#include "shared/terminal_plot.h"
#include "shared/trigger_rearm.h"
#include "shared/units.h"
#include "shared/xy_plot.h"

namespace vm316::cli {

using namespace vm316::host;
namespace {

constexpr const char* kHideCursor = "\x1b[?25l";
constexpr const char* kShowCursor = "\x1b[?25h";
constexpr const char* kClearScreen = "\x1b[2J";
constexpr const char* kHome = "\x1b[H";
constexpr const char* kClearToEnd = "\x1b[J";
constexpr const char* kClearToLineEnd = "\x1b[K";
// Between frames the library's messages are dispatched in slices: on the virtual clock one
// acquisition-timer interval at a time, so the time the host counts stays close to the board's.
constexpr std::uint32_t kTimerIntervalMs = 6;
constexpr std::uint32_t kMaxRealPumpMs = 20;

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

// Colours only on a terminal that has them, and never when NO_COLOR is set.
bool UseColor() {
  const char* term = std::getenv("TERM");
  return StdoutIsTerminal() && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
         std::strcmp(term, "dumb") != 0;
}

PlotStyle ForTerminal(PlotStyle style) {
  style.color = UseColor();
  return style;
}

// The record's spectra when the spectrum is the view, computed once for the plot, the summary
// and the files.
std::optional<RecordSpectra> SpectraFor(const Record& record, const ViewOptions& view) {
  if (!view.spectrum) return std::nullopt;
  return ComputeRecordSpectra(record, *view.spectrum);
}

// The record over time, its spectrum or its XY figure, as the view asks.
std::string RenderView(const Record& record, const PlotStyle& style, const ViewOptions& view,
                       const std::optional<RecordSpectra>& spectra) {
  if (spectra) return RenderSpectrumPlot(record, *spectra, *view.spectrum, style);
  if (view.xy) return RenderXyPlot(record, style);
  return RenderPlot(record, style);
}

// The spectrum's summary lines, one per recorded channel; nothing for another view.
std::string DescribeSpectra(const ViewOptions& view, const std::optional<RecordSpectra>& spectra) {
  std::string text;
  if (!spectra) return text;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if ((*spectra)[channel]) {
      text += DescribeSpectrum(channel + 1, *(*spectra)[channel], *view.spectrum);
    }
  }
  return text;
}

void WriteViewSvg(const std::string& path, const Record& record, const ViewOptions& view,
                  const std::optional<RecordSpectra>& spectra) {
  if (spectra) {
    WriteSpectrumSvgFile(path, record, *spectra, *view.spectrum);
  } else if (view.xy) {
    WriteXySvgFile(path, record);
  } else {
    WriteSvgFile(path, record, RecordStatistics(record));
  }
}

void PrintRecord(const Record& record, const PlotStyle& style, const ViewOptions& view,
                 const std::optional<RecordSpectra>& spectra) {
  const auto stats = RecordStatistics(record);
  std::cout << RenderView(record, style, view, spectra) << "\n"
            << RenderStatistics(record, stats) << DescribeSpectra(view, spectra);
  std::cout.flush();
}

SampleUnit CsvUnit(const MeasureOutputs& outputs) {
  return outputs.raw ? SampleUnit::kRawCodes : SampleUnit::kVolts;
}

CsvMetadata CsvComments(const MeasureOutputs& outputs) {
  return outputs.no_metadata ? CsvMetadata::kNone : CsvMetadata::kComments;
}

// The run's one file, when -o asks for one; nothing is written before the first record.
std::unique_ptr<RunFile> OpenRunFileOf(const MeasureOutputs& outputs) {
  if (!WritesRunFile(outputs)) return nullptr;
  return OpenRunFile(outputs.csv_path,
                     RunFileOptions{WritesHdf5(outputs) ? RunFormat::kHdf5 : RunFormat::kCsv,
                                    CsvUnit(outputs), CsvComments(outputs)});
}

void WriteFiles(const Record& record, const MeasureOutputs& outputs, int index, RunFile* run,
                const std::optional<RecordSpectra>& spectra) {
  const SampleUnit unit = CsvUnit(outputs);
  const CsvMetadata metadata = CsvComments(outputs);
  if (run != nullptr) {
    run->Append(record);
  } else if (!outputs.csv_path.empty() && WritesSigrok(outputs)) {
    WriteSigrokFile(NumberedPath(outputs.csv_path, index, outputs.count), record);
  } else if (!outputs.csv_path.empty() && spectra) {
    WriteSpectrumCsvFile(NumberedPath(outputs.csv_path, index, outputs.count), record, *spectra,
                         *outputs.view.spectrum, metadata);
  } else if (!outputs.csv_path.empty()) {
    WriteCsvFile(NumberedPath(outputs.csv_path, index, outputs.count), record, unit, metadata);
  } else if (outputs.raw) {
    WriteCsv(std::cout, record, SampleUnit::kRawCodes, metadata);
  }
  if (!outputs.svg_path.empty()) {
    WriteViewSvg(NumberedPath(outputs.svg_path, index, outputs.count), record, outputs.view,
                 spectra);
  }
}

// The terminal's size, as TIOCGWINSZ reports it; nothing when stdout is not a terminal.
struct TerminalSize {
  int columns = 0;
  int rows = 0;
};

std::optional<TerminalSize> QueryTerminalSize() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return std::nullopt;
  }
  return TerminalSize{size.ws_col, size.ws_row};
}

volatile std::sig_atomic_t g_resized = 0;

void OnResize(int /*signal*/) {
  g_resized = 1;
}

// The columns a line takes on the terminal: escape sequences take none, a UTF-8 character one.
int DisplayWidth(std::string_view line) {
  int width = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == 0x1b) {
      while (i + 1 < line.size() && !std::isalpha(static_cast<unsigned char>(line[i + 1]))) ++i;
      ++i;
    } else if ((c & 0xC0) != 0x80) {
      ++width;
    }
  }
  return width;
}

// The line cut to `columns`, escape sequences kept whole; the colours reset where it was cut.
std::string CutToWidth(const std::string& line, int columns) {
  if (DisplayWidth(line) <= columns) return line;
  std::string out;
  int width = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == 0x1b) {
      const std::size_t start = i;
      while (i + 1 < line.size() && !std::isalpha(static_cast<unsigned char>(line[i + 1]))) ++i;
      ++i;
      out.append(line, start, i - start + 1);
      continue;
    }
    if ((c & 0xC0) != 0x80 && width++ == columns) break;
    out += line[i];
  }
  return out + "\x1b[0m";
}

// The plot's size that makes `frame_lines` lines of `frame_columns` columns, drawn with
// `style`, fit the terminal; the sizes the user gave stay as they are.
PlotStyle FitPlot(PlotStyle style, const WatchOptions& watch, const TerminalSize& terminal,
                  int frame_columns, int frame_lines) {
  if (!watch.width_given) {
    style.width =
        std::clamp(style.width - (frame_columns - terminal.columns), kMinPlotWidth, kMaxPlotWidth);
  }
  if (!watch.height_given) {
    style.height =
        std::clamp(style.height - (frame_lines - terminal.rows), kMinPlotHeight, kMaxPlotHeight);
  }
  return style;
}

// The terminal of `watch`: the cursor hidden while frames are drawn over each other, and back
// however the run ends. On a terminal each frame is cut to its size, so that nothing scrolls
// the top away; a resize (SIGWINCH) clears the screen for the next frame.
class LiveScreen {
 public:
  explicit LiveScreen(bool terminal) : terminal_(terminal) {
    if (!terminal_) return;
    std::signal(SIGWINCH, OnResize);
    std::cout << kHideCursor << kClearScreen;
  }
  ~LiveScreen() {
    if (terminal_) {
      std::signal(SIGWINCH, SIG_DFL);
      std::cout << kShowCursor;
    }
    std::cout.flush();
  }
  LiveScreen(const LiveScreen&) = delete;
  LiveScreen& operator=(const LiveScreen&) = delete;

  std::optional<TerminalSize> size() const {
    return terminal_ ? QueryTerminalSize() : std::nullopt;
  }

  void Show(const std::string& frame) {
    if (!terminal_) {
      std::cout << frame << "\n";
      std::cout.flush();
      return;
    }
    const std::optional<TerminalSize> terminal = QueryTerminalSize();
    std::cout << (g_resized != 0 ? kClearScreen : "") << kHome;
    g_resized = 0;
    std::istringstream lines(frame);
    int row = 0;
    for (std::string line; std::getline(lines, line);) {
      if (terminal && row == terminal->rows) break;
      // The last row of the terminal takes no newline: it would scroll the frame up.
      if (row > 0) std::cout << kClearToLineEnd << "\n";
      std::cout << (terminal ? CutToWidth(line, terminal->columns) : line);
      ++row;
    }
    std::cout << kClearToLineEnd << kClearToEnd;
    std::cout.flush();
  }

 private:
  bool terminal_;
};

std::pair<int, int> ColumnsAndLines(const std::string& frame) {
  int columns = 0;
  int lines = 0;
  std::istringstream in(frame);
  for (std::string line; std::getline(in, line); ++lines) {
    columns = std::max(columns, DisplayWidth(line));
  }
  return {columns, lines};
}

}  // namespace

bool WritesSigrok(const MeasureOutputs& outputs) {
  return outputs.format == "sr" || (outputs.format.empty() && IsSigrokPath(outputs.csv_path));
}

bool WritesHdf5(const MeasureOutputs& outputs) {
  return outputs.format == "h5" || (outputs.format.empty() && IsHdf5Path(outputs.csv_path));
}

bool WritesRunFile(const MeasureOutputs& outputs) {
  return !outputs.csv_path.empty() && (outputs.single_file || WritesHdf5(outputs));
}

std::string NumberedPath(const std::string& path, int index, int count) {
  if (count <= 1 || path == "-") return path;
  const int width = static_cast<int>(std::to_string(count).size());
  char number[16];
  std::snprintf(number, sizeof number, "-%0*d", width, index);
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return path + number;
  }
  return path.substr(0, dot) + number + path.substr(dot);
}

int RunMeasure(const BackendOptions& backend, const AcquisitionOptions& acquisition,
               const MeasureOutputs& outputs) {
  Session session(backend, ClockUse::kInstant);
  session.Open();
  Acquisition board(session, acquisition);
  board.Configure();
  // A CSV, a raw listing or an SVG on stdout replaces the plot there.
  const bool file_on_stdout = outputs.csv_path == "-" || outputs.svg_path == "-" ||
                              (outputs.raw && outputs.csv_path.empty());
  const PlotStyle style = ForTerminal(outputs.plot);
  const std::unique_ptr<RunFile> run = OpenRunFileOf(outputs);
  for (int index = 1; index <= outputs.count; ++index) {
    Record record;
    try {
      record = board.Capture();
    } catch (const CliError& error) {
      // Ctrl-C between records or in one: the records taken are in the file; it is closed.
      if (run == nullptr || error.code() != ExitCode::kInterrupted) throw;
      run->Close();
      throw CliError(ExitCode::kInterrupted, std::string(error.what()) + ": " + run->Summary());
    }
    const std::optional<RecordSpectra> spectra = SpectraFor(record, outputs.view);
    WriteFiles(record, outputs, index, run.get(), spectra);
    if (record.trigger_state == TriggerState::kForced) {
      std::string note = "no trigger within the time-out: the record was forced (Auto)";
      if (const std::optional<RearmShortfall> shortfall = FindRearmShortfall(record)) {
        note += "; " + DescribeRearmShortfall(*shortfall, "--hysteresis");
      }
      session.Note(note);
    }
    if (file_on_stdout) continue;
    if (outputs.count == 1) {
      PrintRecord(record, style, outputs.view, spectra);
    } else if (index == outputs.count) {
      std::cout << "capture " << index << " of " << outputs.count << "\n";
      PrintRecord(record, style, outputs.view, spectra);
    } else {
      std::cout << "capture " << index << " of " << outputs.count << "\n"
                << RenderStatistics(record, RecordStatistics(record)) << "\n";
    }
  }
  if (run != nullptr) {
    run->Close();
    session.Note(run->Summary());
  }
  return static_cast<int>(ExitCode::kOk);
}

int RunWatch(const BackendOptions& backend, const AcquisitionOptions& acquisition,
             const WatchOptions& watch) {
  Session session(backend, ClockUse::kRealTime);
  session.Open();
  Acquisition board(session, acquisition);
  board.Configure();
  const PlotStyle style = ForTerminal(watch.plot);
  LiveScreen screen(StdoutIsTerminal());
  // One record per frame, each taken in the block style: only there does the host see the
  // trigger status before it forces the trigger, so that each frame says Trig'd or Auto.
  BoardTime time(session.virtual_clock());
  int frames = 0;
  int forced = 0;
  while (!Interrupted()) {
    const double frame_start = time.Elapsed();
    Record record;
    try {
      record = board.Capture();
    } catch (const CliError& error) {
      if (error.code() == ExitCode::kInterrupted) break;
      throw;
    }
    ++frames;
    if (record.trigger_state == TriggerState::kForced) ++forced;
    std::string status = "watch: " + FormatDuration(time.Elapsed()) + ", frame " +
                         std::to_string(frames) + " " + TriggerStateMark(record.trigger_state) +
                         " (" + std::to_string(forced) + " of " + std::to_string(frames) +
                         " forced); Ctrl-C stops\n";
    if (const std::optional<RearmShortfall> shortfall = FindRearmShortfall(record)) {
      status += DescribeRearmShortfall(*shortfall, "--hysteresis") + "\n";
    }
    const std::optional<RecordSpectra> spectra = SpectraFor(record, watch.view);
    // The spectrum's summary lines are long: like the note, they are cut to the terminal.
    status = DescribeSpectra(watch.view, spectra) + status;
    const std::string table = RenderStatistics(record, RecordStatistics(record));
    PlotStyle fitted = style;
    if (const std::optional<TerminalSize> terminal = screen.size()) {
      // The plot and the table set the width; a long note under them is cut instead.
      const std::string plot = RenderView(record, style, watch.view, spectra) + "\n" + table;
      fitted = FitPlot(style, watch, *terminal, ColumnsAndLines(plot).first,
                       ColumnsAndLines(plot + status).second);
    }
    screen.Show(RenderView(record, fitted, watch.view, spectra) + "\n" + table + status);
    if (watch.frames > 0 && frames >= watch.frames) break;
    const double until = frame_start + watch.interval_ms / 1000.0;
    while (time.Elapsed() < until && !Interrupted()) {
      time.Pump(session.virtual_clock() ? kTimerIntervalMs : kMaxRealPumpMs);
    }
  }
  session.Close();
  return static_cast<int>(ExitCode::kOk);
}

}  // namespace vm316::cli
