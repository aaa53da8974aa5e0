// A record as CSV: comment lines with the settings, a header, then one row per sample with the
// time from the trigger in seconds and each recorded channel in volts (or as raw codes). The
// pieces are shared with the run file (run_file.h), which puts many records into one CSV.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "record.h"
#include "spectrum.h"

namespace vm316::host {

enum class SampleUnit { kVolts, kRawCodes };

// With comment lines ("# key: value", read by pandas with comment='#'), or bare: the header
// line and the rows, for csv.DictReader and spreadsheet imports.
enum class CsvMetadata { kComments, kNone };

// What the comment lines describe: one record, a run of records taken with the same settings
// (where the time stamp, Trig'd or Auto and over range are columns of each row), or one
// record's spectrum.
enum class CsvScope { kRecord, kRun, kSpectrum };

void WriteCsv(std::ostream& out, const Record& record, SampleUnit unit,
              CsvMetadata metadata = CsvMetadata::kComments);

// Writes to a file ("-" is stdout); throws CliError when the file cannot be written.
void WriteCsvFile(const std::string& path, const Record& record, SampleUnit unit,
                  CsvMetadata metadata = CsvMetadata::kComments);

// The spectra of a record's channels: the record's comment lines, then the window, the bin
// width and each channel's peak and harmonics; a header "frequency_Hz,ch1_dBV,ch2_dBV" of the
// channels that have a spectrum, then one row per bin from 0 Hz to half the sample rate.
void WriteSpectrumCsv(std::ostream& out, const Record& record, const RecordSpectra& spectra,
                      SpectrumWindow window, CsvMetadata metadata = CsvMetadata::kComments);
void WriteSpectrumCsvFile(const std::string& path, const Record& record,
                          const RecordSpectra& spectra, SpectrumWindow window,
                          CsvMetadata metadata = CsvMetadata::kComments);

void WriteCsvComments(std::ostream& out, const Record& record, CsvScope scope);

// The header line: the columns `leading` names (comma-terminated, or empty), then time_s and
// the recorded channels.
void WriteCsvHeader(std::ostream& out, const Record& record, SampleUnit unit,
                    std::string_view leading);

// One row per sample, each starting with `leading` (the record's own fields, comma-terminated).
void WriteCsvRows(std::ostream& out, const Record& record, SampleUnit unit,
                  std::string_view leading);

// The shortest text of `value` in `digits` significant digits, as every CSV field is written.
std::string CsvNumber(double value, int digits);

}  // namespace vm316::host
