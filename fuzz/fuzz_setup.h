// What both harnesses do once before their first input: the simulated board on the virtual
// clock, quiet and without faults, and a directory of this run as the current one, where a
// bring-up with grounded inputs leaves the day's calibration files.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "vm316.h"

inline constexpr uint16_t kSimBase = 0x378;

// Returns the directory; pattern is its name, ending in XXXXXX.
inline std::string CalibrateInFreshDirectory(const char* pattern) {
  setenv("VM316_PORT", "sim", 1);
  setenv("VM316_CLOCK", "virtual", 1);
  setenv("VM316_MESSAGES", "quiet", 1);
  setenv("VM316_SIM_CH1", "ground", 1);
  setenv("VM316_SIM_CH2", "ground", 1);
  unsetenv("VM316_SIM_FAULT");
  std::string dir = (std::filesystem::temp_directory_path() / pattern).string();
  if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0) std::abort();
  if (InitInstrument(kSimBase) != StatusOk) std::abort();
  ExitInstrument();
  return dir;
}
