// Where an output file is written: under a temporary name beside the target until what it must
// hold is complete, so that a failure before then leaves an existing file as it was; then under
// its own name. A target that is no regular file (a device such as /dev/null or /dev/full, a
// pipe) is written where it is: moving a file over it would replace the device.
#pragma once

#include <string>

namespace vm316::host {

class OutputPlacement {
 public:
  explicit OutputPlacement(std::string path);
  // Removes the temporary file unless it took the target's name.
  ~OutputPlacement();
  OutputPlacement(const OutputPlacement&) = delete;
  OutputPlacement& operator=(const OutputPlacement&) = delete;

  const std::string& target() const { return target_; }
  // The name to open the file under.
  const std::string& writing() const { return writing_; }
  bool regular() const { return regular_; }
  // The file is complete enough to stand for the target: it takes the target's name (throws
  // CliError when it cannot). Later calls do nothing.
  void Commit();

 private:
  std::string target_;
  std::string writing_;
  bool regular_ = true;
  bool committed_ = false;
};

// "cannot write PATH: REASON", as a CliError with exit code 1.
[[noreturn]] void FailToWrite(const std::string& path, const std::string& reason);

}  // namespace vm316::host
