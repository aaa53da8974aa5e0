// A running `vm316 serve` on the simulated board, started as a user starts it, with a state
// directory of its own seeded with the suite's calibration; and an HTTP client for it.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace vm316::serve_testing {

namespace fs = std::filesystem;

// Guards against a server that never starts; no assertion depends on how fast it is.
constexpr int kStartLimitMs = 120000;

inline fs::path MakeTempDirectory(const char* stem) {
  std::string pattern = (fs::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
  return mkdtemp(pattern.data());
}

// Copies the calibration the CTest fixture made, so that nothing calibrates again.
inline void SeedCalibration(const fs::path& directory) {
  fs::create_directories(directory);
  const char* seed = std::getenv("VM316_CLI_TEST_CALIBRATION");
  if (seed == nullptr) return;
  for (const char* name : {"Vemora1.Cal", "Vemora2.Cal"}) {
    std::error_code ignored;
    fs::copy_file(fs::path(seed) / name, directory / name, fs::copy_options::overwrite_existing,
                  ignored);
  }
}

class ServeProcess {
 public:
  explicit ServeProcess(std::vector<std::string> arguments,
                        const std::string& listen = "127.0.0.1:0") {
    root_ = MakeTempDirectory("vm316-serve-test");
    SeedCalibration(root_ / "state");
    arguments.insert(arguments.begin(), {VM316_CLI_PATH, "serve", "-q", "--listen", listen,
                                         "--cal-dir", (root_ / "state").string()});
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      if (chdir(root_.c_str()) != 0) _exit(127);
      std::vector<char*> argv;
      for (std::string& argument : arguments) argv.push_back(argument.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // Kept open while the server runs: a closed pipe would end it at its next line.
    stdout_ = out[0];
    ReadAddress(stdout_);
  }
  ~ServeProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGINT);
      int status = 0;
      waitpid(pid_, &status, 0);
      // Ctrl-C ends the server cleanly (and a sanitizer's report would make it fail).
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    if (stdout_ >= 0) close(stdout_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int port() const { return port_; }
  // For a server that ended by itself: its exit code.
  int ExitCode() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30, 0);
    return client;
  }

 private:
  void ReadAddress(int fd) {
    std::string text;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
    const std::regex address(R"(panel at http://127\.0\.0\.1:(\d+)/)");
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd waiting{fd, POLLIN, 0};
      if (poll(&waiting, 1, 1000) <= 0) continue;
      char chunk[256];
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got <= 0) return;
      text.append(chunk, static_cast<std::size_t>(got));
      std::smatch match;
      if (std::regex_search(text, match, address)) {
        port_ = std::stoi(match[1]);
        return;
      }
    }
  }

  fs::path root_;
  pid_t pid_ = -1;
  int stdout_ = -1;
  int port_ = 0;
};

}  // namespace vm316::serve_testing
