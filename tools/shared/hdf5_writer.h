// A run of records as one HDF5 file (libhdf5's C interface), for h5py, MATLAB and the HDF5
// tools without help. Per recorded channel a group "ch1", "ch2" with the datasets
//   volts       records x samples, float32 (8-bit codes need far less than its 24-bit mantissa)
//   raw         records x samples, uint16, offset binary: 32768 = 0 V, converter byte x 256
//   over_range  per record, bool (h5py's enum FALSE/TRUE)
//   range_v     per record, the range's full scale (an automatic range may move)
// and the attributes range_v (the first record's), auto_range, coupling, dc_level_v, units.
// Beside them, per record: timestamp (a UTF-8 string) and trigger_state (an enum of unknown,
// triggered, forced, free_running); time_s (samples) is the time from the trigger. The root
// attributes: sample_rate_hz, samples, pre_trigger_samples, trigger, backend, channels.
// Every record is flushed (H5Fflush) before the next one is taken.
#pragma once

#include <memory>
#include <string>

#include "run_file.h"

namespace vm316::host {

// False when this build has no HDF5 library (libhdf5-dev): then OpenHdf5RunFile refuses.
bool Hdf5FilesAvailable();

// Throws CliError when the build cannot write the format; the file is created with the first
// record. HDF5 needs a file name: "-" is refused.
std::unique_ptr<RunFile> OpenHdf5RunFile(const std::string& path);

// "run.h5" and "run.hdf5" ask for an HDF5 file.
bool IsHdf5Path(const std::string& path);

}  // namespace vm316::host
