#include "output_file.h"

#include <fstream>
#include <iostream>

#include "errors.h"

namespace vm316::host {

void WriteOutput(const std::string& path, const std::function<void(std::ostream&)>& write) {
  if (path == "-") {
    write(std::cout);
    std::cout.flush();
    return;
  }
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  if (!file) throw CliError(ExitCode::kFailure, "cannot write " + path);
  write(file);
  file.close();
  if (!file) throw CliError(ExitCode::kFailure, "cannot write " + path);
}

}  // namespace vm316::host
