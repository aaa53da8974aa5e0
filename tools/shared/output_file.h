// Where a writer's text goes: a file, or stdout for "-".
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace vm316::host {

// Runs `write` on the file at `path` or on stdout for "-". The file is written under a
// temporary name and takes its own once complete (OutputPlacement). Throws CliError ("cannot
// write PATH: REASON") when it cannot be opened or written.
void WriteOutput(const std::string& path, const std::function<void(std::ostream&)>& write);

}  // namespace vm316::host
