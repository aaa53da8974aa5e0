// What the benchmarks through the C interface share: the simulated board on the virtual clock,
// wired as the benchmark says, a fresh empty current directory for bring-up (it keeps its
// calibration files there), and a host session that brings the instrument up and takes it
// down again.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "vm316.h"

namespace vm316::bench {

inline constexpr uint16_t kSimBase = 0x378;
inline constexpr uint32_t kFullRecord = 32760;  // GetMaxRecordLength

// The board the library makes at the next InitInstrument: simulated, on the virtual clock,
// quiet, with these inputs.
inline void UseSimulatedBoard(const std::string& ch1, const std::string& ch2) {
  setenv("VM316_PORT", "sim", 1);
  setenv("VM316_CLOCK", "virtual", 1);
  setenv("VM316_MESSAGES", "quiet", 1);
  setenv("VM316_SIM_CH1", ch1.c_str(), 1);
  setenv("VM316_SIM_CH2", ch2.c_str(), 1);
}

// A fresh empty directory made current, removed with its contents afterwards.
class TempCwd {
 public:
  TempCwd() : old_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vm316-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::current_path(path_);
  }
  ~TempCwd() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempCwd(const TempCwd&) = delete;
  TempCwd& operator=(const TempCwd&) = delete;

 private:
  std::filesystem::path old_;
  std::filesystem::path path_;
};

// A host's session on the simulated board: brought up (and calibrated, in its own empty
// directory) at construction, with full-length records; taken down at destruction.
class Session {
 public:
  Session(const std::string& ch1, const std::string& ch2) {
    UseSimulatedBoard(ch1, ch2);
    ok_ = InitInstrument(kSimBase) == StatusOk && SetRecordLength(kFullRecord) == StatusOk;
  }
  ~Session() { ExitInstrument(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool ok() const { return ok_; }

 private:
  TempCwd cwd_;
  bool ok_ = false;
};

}  // namespace vm316::bench
