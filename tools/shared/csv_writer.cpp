#include "csv_writer.h"

#include <cstdio>

#include "output_file.h"

namespace vm316::host {
namespace {

constexpr int kTimeDigits = 9;
constexpr int kVoltDigits = 7;
constexpr int kSettingDigits = 6;
constexpr int kRateDigits = 10;

// The marks of one record: Trig'd or Auto, and the channels that clipped.
void WriteRecordMarks(std::ostream& out, const Record& record) {
  out << "# trigger_state: " << TriggerStateKey(record.trigger_state) << "\n";
  std::string over_range;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded || !trace.OverRange()) continue;
    over_range += (over_range.empty() ? "ch" : ", ch") + std::to_string(channel + 1);
  }
  // A clipped channel's samples show the edge of the range's window, not the signal.
  out << "# over_range: " << (over_range.empty() ? "none" : over_range) << "\n";
}

std::string Line(const SpectralLine& line) {
  return CsvNumber(line.frequency, 10) + " Hz " + CsvNumber(line.dbv, 5) + " dBV";
}

// The window, the bin width, and each channel's peak and harmonics, "frequency Hz level dBV".
void WriteSpectrumSettings(std::ostream& out, const RecordSpectra& spectra, SpectrumWindow window) {
  out << "# window: " << SpectrumWindowName(window) << "\n";
  for (const std::optional<Spectrum>& spectrum : spectra) {
    if (!spectrum) continue;
    out << "# bin_hz: " << CsvNumber(spectrum->bin_hz, 10) << "\n";
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

std::string CsvNumber(double value, int digits) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

void WriteCsvComments(std::ostream& out, const Record& record, CsvScope scope) {
  const bool run = scope == CsvScope::kRun;
  out << "# vm316 "
      << (run                            ? "run"
          : scope == CsvScope::kSpectrum ? "spectrum"
                                         : "capture")
      << "\n";
  if (!run) out << "# time: " << record.timestamp << "\n";
  out << "# backend: " << record.backend << "\n";
  out << "# sample_rate_hz: " << CsvNumber(record.sample_rate, kRateDigits) << "\n";
  if (record.asked_rate) {
    out << "# asked_rate_hz: " << CsvNumber(*record.asked_rate, kRateDigits) << "\n";
  }
  out << "# samples: " << record.length << "\n";
  out << "# pre_trigger_samples: " << record.pre_samples << "\n";
  out << "# trigger: " << record.trigger << "\n";
  if (!run) WriteRecordMarks(out, record);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const ChannelRecord& trace = record.channels[channel];
    if (!trace.recorded) continue;
    // An automatic range may move between the records of a run; the volts stay right.
    const char* automatic = !trace.auto_range ? ""
                            : run             ? " at the first record (auto)"
                                              : " (auto)";
    out << "# ch" << channel + 1 << ": range " << CsvNumber(trace.sensitivity, kSettingDigits)
        << " V" << automatic << ", coupling " << (trace.ac_coupled ? "ac" : "dc") << ", dc_level "
        << CsvNumber(trace.dc_level, kSettingDigits) << " V\n";
  }
}

void WriteCsvHeader(std::ostream& out, const Record& record, SampleUnit unit,
                    std::string_view leading) {
  out << leading << "time_s";
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!record.channels[channel].recorded) continue;
    out << ",ch" << channel + 1 << (unit == SampleUnit::kVolts ? "_v" : "_raw");
  }
  out << "\n";
}

void WriteCsvRows(std::ostream& out, const Record& record, SampleUnit unit,
                  std::string_view leading) {
  for (std::size_t i = 0; i < record.length; ++i) {
    out << leading << CsvNumber(record.TimeOf(i), kTimeDigits);
    for (const ChannelRecord& trace : record.channels) {
      if (!trace.recorded) continue;
      if (unit == SampleUnit::kVolts) {
        out << ',' << CsvNumber(trace.volts[i], kVoltDigits);
      } else {
        out << ',' << trace.raw[i];
      }
    }
    out << "\n";
  }
}

void WriteCsv(std::ostream& out, const Record& record, SampleUnit unit, CsvMetadata metadata) {
  if (metadata == CsvMetadata::kComments) WriteCsvComments(out, record, CsvScope::kRecord);
  WriteCsvHeader(out, record, unit, "");
  WriteCsvRows(out, record, unit, "");
}

void WriteSpectrumCsv(std::ostream& out, const Record& record, const RecordSpectra& spectra,
                      SpectrumWindow window, CsvMetadata metadata) {
  if (metadata == CsvMetadata::kComments) {
    WriteCsvComments(out, record, CsvScope::kSpectrum);
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
    out << CsvNumber(static_cast<double>(k) * bin_hz, 10);
    for (const std::optional<Spectrum>& spectrum : spectra) {
      if (spectrum) out << ',' << CsvNumber(spectrum->dbv[k], 6);
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
