// Runs the vm316 binary as a user does: in a working directory of its own, with its own state
// directory, capturing stdout, stderr and the exit code.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vm316::cli_testing {

namespace fs = std::filesystem;

struct CliRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string Quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Each test gets a fresh working directory and state directory. The calibration made once by
// the CTest fixture is copied into the state directory, so that a test does not calibrate
// unless it asks for a fresh state.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vm316-cli-test-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    work_ = root_ / "work";
    state_home_ = root_ / "state";
    fs::create_directories(work_);
    fs::create_directories(StateDirectory());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path StateDirectory() const { return state_home_ / "vm316"; }

  // Copies the suite's calibration; without the fixture the first run calibrates itself.
  void SeedCalibration() {
    const char* seed = std::getenv("VM316_CLI_TEST_CALIBRATION");
    if (seed == nullptr) return;
    for (const char* name : {"Vemora1.Cal", "Vemora2.Cal"}) {
      std::error_code error;
      fs::copy_file(fs::path(seed) / name, StateDirectory() / name,
                    fs::copy_options::overwrite_existing, error);
    }
  }

  // `environment` is a list of NAME=value words put before the command.
  CliRun Run(const std::string& arguments, const std::string& environment = "") {
    return Capture("cd " + Quoted(work_) + " && env XDG_STATE_HOME=" + Quoted(state_home_) + " " +
                   environment + " " + Quoted(VM316_CLI_PATH) + " " + arguments);
  }

  // Runs a shell command line with stderr to a file.
  CliRun Capture(const std::string& command_line) {
    const fs::path err_file = root_ / "stderr.txt";
    const std::string command = command_line + " 2>" + Quoted(err_file);
    CliRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      run.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFile(err_file);
    return run;
  }

  // Runs `arguments` on a pseudo-terminal of `columns` x `rows` (util-linux's script); `out`
  // is what the terminal received.
  CliRun RunOnTerminal(const std::string& arguments, int columns, int rows) {
    const std::string inner = "stty cols " + std::to_string(columns) + " rows " +
                              std::to_string(rows) + "; exec " + Quoted(VM316_CLI_PATH) + " " +
                              arguments;
    return Capture("cd " + Quoted(work_) + " && env XDG_STATE_HOME=" + Quoted(state_home_) +
                   " LC_ALL=C script -qec \"" + inner + "\" /dev/null");
  }

  // Runs `arguments` in the background and sends SIGINT after `seconds`.
  CliRun RunAndInterrupt(const std::string& arguments, double seconds,
                         const std::string& environment = "") {
    return RunAndInterruptAfter(arguments, "sleep " + std::to_string(seconds), environment);
  }

  // Runs `arguments` in the background, runs the shell command `wait` (it may read $pid), then
  // sends SIGINT and waits for the program to end.
  CliRun RunAndInterruptAfter(const std::string& arguments, const std::string& wait,
                              const std::string& environment = "") {
    const fs::path err_file = root_ / "stderr.txt";
    const std::string script =
        "cd " + Quoted(work_) + " && env XDG_STATE_HOME=" + Quoted(state_home_) + " " +
        environment + " " + Quoted(VM316_CLI_PATH) + " " + arguments + " >/dev/null 2>" +
        Quoted(err_file) + " & pid=$!; " + wait + "; kill -INT $pid; wait $pid";
    CliRun run;
    const int status = std::system(script.c_str());
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFile(err_file);
    return run;
  }

  fs::path root_;
  fs::path work_;
  fs::path state_home_;
};

}  // namespace vm316::cli_testing
