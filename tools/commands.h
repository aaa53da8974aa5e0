// The subcommands of vm316. Each returns the exit code, or throws CliError.
#pragma once

#include <string>

#include "options.h"
#include "terminal_plot.h"

namespace vm316::cli {

struct MeasureOutputs {
  int count = 1;
  std::string csv_path;      // absolute, or "-" for stdout; empty: none
  std::string svg_path;      // absolute, or "-" for stdout; empty: none
  bool raw = false;          // raw sample codes instead of volts
  bool no_metadata = false;  // CSV without the comment lines
  PlotStyle plot;
};

inline constexpr double kMinWatchIntervalMs = 10.0;
inline constexpr double kMaxWatchIntervalMs = 60000.0;

struct WatchOptions {
  double interval_ms = 200.0;
  int frames = 0;  // 0: until Ctrl-C
  PlotStyle plot;
};

int RunInfo(const BackendOptions& backend, bool full_tables);
int RunMeasure(const BackendOptions& backend, const AcquisitionOptions& acquisition,
               const MeasureOutputs& outputs);
int RunWatch(const BackendOptions& backend, const AcquisitionOptions& acquisition,
             const WatchOptions& watch);
int RunCalibrate(const BackendOptions& backend);
int RunGenerator(const BackendOptions& backend, double frequency);

// "cap.csv" for one capture; "cap-2.csv" for the second of several.
std::string NumberedPath(const std::string& path, int index, int count);

}  // namespace vm316::cli
