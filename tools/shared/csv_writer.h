// A record as CSV: comment lines with the settings, a header, then one row per sample with the
// time from the trigger in seconds and each recorded channel in volts (or as raw codes).
#pragma once

#include <ostream>
#include <string>

#include "record.h"

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

}  // namespace vm316::host
