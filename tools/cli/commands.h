// The subcommands of vm316. Each returns the exit code, or throws CliError.
#pragma once

#include <optional>
#include <string>

#include "shared/options.h"
#include "shared/spectrum.h"
#include "shared/terminal_plot.h"

namespace vm316::cli {

// What the plot shows: the record over time, its spectrum, or its XY figure.
struct ViewOptions {
  std::optional<host::SpectrumWindow> spectrum;  // the spectrum is the view
  bool xy = false;                               // the XY figure is the view
};

struct MeasureOutputs {
  int count = 1;
  std::string csv_path;      // absolute, or "-" for stdout; empty: none
  std::string svg_path;      // absolute, or "-" for stdout; empty: none
  bool raw = false;          // raw sample codes instead of volts
  bool no_metadata = false;  // CSV without the comment lines
  ViewOptions view;
  std::string format;        // of -o: "csv", "sr" or "h5"; empty: from the file's extension
  bool single_file = false;  // every record of the run in one CSV (HDF5 always is one file)
  host::PlotStyle plot;
};

inline constexpr double kMinWatchIntervalMs = 10.0;
inline constexpr double kMaxWatchIntervalMs = 60000.0;

struct WatchOptions {
  double interval_ms = 200.0;
  ViewOptions view;
  int frames = 0;  // 0: until Ctrl-C
  host::PlotStyle plot;
  // On a terminal a size not given follows the terminal's, as it is resized.
  bool width_given = false;
  bool height_given = false;
};

int RunInfo(const host::BackendOptions& backend, bool full_tables);
int RunMeasure(const host::BackendOptions& backend, const host::AcquisitionOptions& acquisition,
               const MeasureOutputs& outputs);
int RunWatch(const host::BackendOptions& backend, const host::AcquisitionOptions& acquisition,
             const WatchOptions& watch);
int RunCalibrate(const host::BackendOptions& backend);
int RunGenerator(const host::BackendOptions& backend, double frequency);

// -o writes a sigrok session file (--format sr, or a name ending in .sr).
bool WritesSigrok(const MeasureOutputs& outputs);

// -o writes an HDF5 file (--format h5, or a name ending in .h5 or .hdf5).
bool WritesHdf5(const MeasureOutputs& outputs);

// -o writes one file for the whole run: HDF5, or CSV with --single-file.
bool WritesRunFile(const MeasureOutputs& outputs);

// "cap.csv" for one capture; "cap-2.csv" for the second of several.
std::string NumberedPath(const std::string& path, int index, int count);

}  // namespace vm316::cli
