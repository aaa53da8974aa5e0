#include "output_placement.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <utility>

#include "errors.h"

namespace vm316::host {
namespace {

constexpr const char* kPartialSuffix = ".partial";

}  // namespace

void FailToWrite(const std::string& path, const std::string& reason) {
  throw CliError(ExitCode::kFailure, "cannot write " + path + ": " + reason);
}

OutputPlacement::OutputPlacement(std::string path) : target_(std::move(path)) {
  struct stat status {};
  regular_ = stat(target_.c_str(), &status) != 0 || S_ISREG(status.st_mode);
  writing_ = regular_ ? target_ + kPartialSuffix : target_;
  committed_ = !regular_;
}

OutputPlacement::~OutputPlacement() {
  if (!committed_) std::remove(writing_.c_str());
}

void OutputPlacement::Commit() {
  if (committed_) return;
  std::error_code error;
  std::filesystem::rename(writing_, target_, error);
  if (error) FailToWrite(target_, error.message());
  committed_ = true;
}

}  // namespace vm316::host
