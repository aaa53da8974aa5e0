#include "csv_writer.h"

#include <cstdio>

#include "output_file.h"

namespace vm316::host {
namespace {

std::string Number(double value, int digits) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

void WriteSettings(std::ostream& out, const Record& record, const char* title) {
  out << "# vm316 " << title << "\n";
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

std::string Line(const SpectralLine& line) {
  return Number(line.frequency, 10) + " Hz " + Number(line.dbv, 5) + " dBV";
}

// The window, the bin width, and each channel's peak and harmonics, "frequency Hz level dBV".
void WriteSpectrumSettings(std::ostream& out, const RecordSpectra& spectra, SpectrumWindow window) {
  out << "# window: " << SpectrumWindowName(window) << "\n";
  for (const std::optional<Spectrum>& spectrum : spectra) {
    if (!spectrum) continue;
    out << "# bin_hz: " << Number(spectrum->bin_hz, 10) << "\n";
    break;
  }
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!spectra[channel]) continue;
    const Spectrum& spectrum = *spectra[channel];
    const std::string name = "# ch" + std::to_string(channel + 1);
    out << name << "_peak: " << (spectrum.peak ? Line(*spectrum.peak) : "none") << "\n";
    out << name << "_harmonics:";
    for (std::size_t i = 0; i < spectrum.harmonics.size(); ++i) {
      out << (i == 0 ? " " : ", ") << Line(spectrum.harmonics[i]);
    }
    out << (spectrum.harmonics.empty() ? " none\n" : "\n");
  }
}

}  // namespace

void WriteCsv(std::ostream& out, const Record& record, SampleUnit unit, CsvMetadata metadata) {
  if (metadata == CsvMetadata::kComments) WriteSettings(out, record, "capture");
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

void WriteSpectrumCsv(std::ostream& out, const Record& record, const RecordSpectra& spectra,
                      SpectrumWindow window, CsvMetadata metadata) {
  if (metadata == CsvMetadata::kComments) {
    WriteSettings(out, record, "spectrum");
    WriteSpectrumSettings(out, spectra, window);
  }
  out << "frequency_Hz";
  std::size_t bins = 0;
  double bin_hz = 0.0;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!spectra[channel]) continue;
    out << ",ch" << channel + 1 << "_dBV";
    bins = spectra[channel]->dbv.size();
    bin_hz = spectra[channel]->bin_hz;
  }
  out << "\n";
  for (std::size_t k = 0; k < bins; ++k) {
    out << Number(static_cast<double>(k) * bin_hz, 10);
    for (const std::optional<Spectrum>& spectrum : spectra) {
      if (spectrum) out << ',' << Number(spectrum->dbv[k], 6);
    }
    out << "\n";
  }
}

void WriteCsvFile(const std::string& path, const Record& record, SampleUnit unit,
                  CsvMetadata metadata) {
  WriteOutput(path, [&](std::ostream& out) { WriteCsv(out, record, unit, metadata); });
}

void WriteSpectrumCsvFile(const std::string& path, const Record& record,
                          const RecordSpectra& spectra, SpectrumWindow window,
                          CsvMetadata metadata) {
  WriteOutput(path,
              [&](std::ostream& out) { WriteSpectrumCsv(out, record, spectra, window, metadata); });
}

}  // namespace vm316::host
