// A fresh temporary directory made the current directory for one test (bring-up keeps its
// calibration files in the current directory), removed with everything in it afterwards.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace vm316::testing {

class ScopedTempCwd {
 public:
  ScopedTempCwd() : old_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vm316-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    std::filesystem::current_path(path_);
  }
  ~ScopedTempCwd() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempCwd(const ScopedTempCwd&) = delete;
  ScopedTempCwd& operator=(const ScopedTempCwd&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path old_;
  std::filesystem::path path_;
};

}  // namespace vm316::testing
