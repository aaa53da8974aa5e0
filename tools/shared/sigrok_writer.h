// A record as a sigrok session file (version 2): a zip holding "version", the "metadata" with
// the sample rate and the channel names, and each recorded channel as an analog channel of
// little-endian 32-bit floats in volts. The format has no field for the trigger instant, so it
// goes into an entry of its own, "vm316-trigger" (the sigrok tools pass over it): the sample
// index of the trigger and the trigger's description.
#pragma once

#include <string>

#include "record.h"

namespace vm316::host {

// False when this build has no zip library (libzip): then WriteSigrokFile refuses.
bool SigrokFilesAvailable();

// Throws CliError when the file cannot be written or the build cannot write the format. A
// session file is a zip and is never written to standard output.
void WriteSigrokFile(const std::string& path, const Record& record);

// The session file's bytes, for a download. Throws CliError as WriteSigrokFile does.
std::string SigrokSessionBytes(const Record& record);

// "capture.sr" and "--format sr" both ask for a session file.
bool IsSigrokPath(const std::string& path);

}  // namespace vm316::host
