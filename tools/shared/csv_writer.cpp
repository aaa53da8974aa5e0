#include "csv_writer.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "errors.h"

namespace vm316::host {
namespace {

std::string Number(double value, int digits) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

void WriteSettings(std::ostream& out, const Record& record) {
  out << "# vm316 capture\n";
  out << "# time: " << record.timestamp << "\n";
  out << "# backend: " << record.backend << "\n";
  out << "# sample_rate_hz: " << Number(record.sample_rate, 10) << "\n";
  if (record.asked_rate) out << "# asked_rate_hz: " << Number(*record.asked_rate, 10) << "\n";
  out << "# samples: " << record.length << "\n";
  out << "# pre_trigger_samples: " << record.pre_samples << "\n";
  out << "# trigger: " << record.trigger << "\n";
  out << "# trigger_state: " << TriggerStateKey(record.trigger_state) << "\n";
  std::string over_range;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded || !trace.OverRange()) continue;
    over_range += (over_range.empty() ? "ch" : ", ch") + std::to_string(channel + 1);
  }
  // A clipped channel's samples show the edge of the range's window, not the signal.
  out << "# over_range: " << (over_range.empty() ? "none" : over_range) << "\n";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded) continue;
    out << "# ch" << channel + 1 << ": range " << Number(trace.sensitivity, 6) << " V"
        << (trace.auto_range ? " (auto)" : "") << ", coupling " << (trace.ac_coupled ? "ac" : "dc")
        << ", dc_level " << Number(trace.dc_level, 6) << " V\n";
  }
}

}  // namespace

void WriteCsv(std::ostream& out, const Record& record, SampleUnit unit, CsvMetadata metadata) {
  if (metadata == CsvMetadata::kComments) WriteSettings(out, record);
  out << "time_s";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!record.channels[channel].recorded) continue;
    out << ",ch" << channel + 1 << (unit == SampleUnit::kVolts ? "_v" : "_raw");
  }
  out << "\n";
  for (std::size_t i = 0; i < record.length; ++i) {
    out << Number(record.TimeOf(i), 9);
    for (const ChannelRecord& trace : record.channels) {
      if (!trace.recorded) continue;
      if (unit == SampleUnit::kVolts) {
        out << ',' << Number(trace.volts[i], 7);
      } else {
        out << ',' << trace.raw[i];
      }
    }
    out << "\n";
  }
}

void WriteCsvFile(const std::string& path, const Record& record, SampleUnit unit,
                  CsvMetadata metadata) {
  if (path == "-") {
    WriteCsv(std::cout, record, unit, metadata);
    std::cout.flush();
    return;
  }
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  if (!file) throw CliError(ExitCode::kFailure, "cannot write " + path);
  WriteCsv(file, record, unit, metadata);
  file.close();
  if (!file) throw CliError(ExitCode::kFailure, "cannot write " + path);
}

}  // namespace vm316::host
