// A record as CSV: comment lines with the settings, a header, then one row per sample with the
// time from the trigger in seconds and each recorded channel in volts (or as raw codes).
#pragma once

#include <ostream>
#include <string>

#include "record.h"
#include "spectrum.h"

namespace vm316::host {

enum class SampleUnit { kVolts, kRawCodes };

// With comment lines ("# key: value", read by pandas with comment='#'), or bare: the header
// line and the rows, for csv.DictReader and spreadsheet imports.
enum class CsvMetadata { kComments, kNone };

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

}  // namespace vm316::host
