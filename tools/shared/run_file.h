// One file for a whole run of records (`measure -n N` into one CSV or HDF5 file). Each record is
// written whole and reaches the file before the next capture starts, so that a run stopped by
// Ctrl-C, or by a failure, leaves every record taken before it and no part of another.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "csv_writer.h"
#include "output_placement.h"
#include "record.h"

namespace vm316::host {

enum class RunFormat { kCsv, kHdf5 };

struct RunFileOptions {
  RunFormat format = RunFormat::kCsv;
  SampleUnit unit = SampleUnit::kVolts;           // CSV only: HDF5 holds both
  CsvMetadata metadata = CsvMetadata::kComments;  // CSV only
};

class RunFile {
 public:
  virtual ~RunFile() = default;
  // Writes the record and flushes it to the file; throws CliError (kFailure) when it cannot,
  // and the file then keeps the records before it.
  virtual void Append(const Record& record) = 0;
  // Closes the file. Throws CliError when the last of it cannot be written.
  virtual void Close() = 0;
  virtual std::size_t records() const = 0;
  // "/home/u/run.csv holds 12 records", "12 records on stdout" (RunSummary).
  virtual std::string Summary() const = 0;
};

// The file is created with the first record, whose settings head it; "-" is stdout (CSV only).
std::unique_ptr<RunFile> OpenRunFile(const std::string& path, const RunFileOptions& options);

// "/home/u/run.h5 holds 12 records"; "nothing was written to /home/u/run.h5" before the first.
std::string RunSummary(const std::string& path, std::size_t count);

}  // namespace vm316::host
