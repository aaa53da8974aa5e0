#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "errors.h"
#include "output_placement.h"

namespace vm316::host {
namespace {

std::string LastReason() {
  return errno != 0 ? std::strerror(errno) : "the write failed";
}

}  // namespace

void WriteOutput(const std::string& path, const std::function<void(std::ostream&)>& write) {
  if (path == "-") {
    write(std::cout);
    std::cout.flush();
    if (!std::cout) FailToWrite("stdout", LastReason());
    return;
  }
  // Under a temporary name until the whole text is in: a failure half way leaves an existing
  // file as it was.
  OutputPlacement placement(path);
  errno = 0;
  std::ofstream file(placement.writing(), std::ios::out | std::ios::trunc);
  if (!file) FailToWrite(path, LastReason());
  write(file);
  file.close();
  if (!file) FailToWrite(path, LastReason());
  placement.Commit();
}

}  // namespace vm316::host
