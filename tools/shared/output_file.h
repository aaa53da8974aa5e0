// Where a writer's text goes: a file, or stdout for "-".
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace vm316::host {

// Runs `write` on the file at `path` (truncated first) or on stdout for "-". Throws CliError
// when the file cannot be opened or written.
void WriteOutput(const std::string& path, const std::function<void(std::ostream&)>& write);

}  // namespace vm316::host
