// A running `vm316 serve` on the simulated board, started as a user starts it, with a state
// directory of its own seeded with the suite's calibration; and an HTTP client for it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

// How a test starts the server: its extra arguments, where it listens, extra environment
// ("NAME=value"), whether the state directory gets the suite's calibration (else it
// calibrates first), and whether the constructor waits for the panel's URL.
struct Launch {
  std::vector<std::string> arguments;
  std::string listen = "127.0.0.1:0";
  std::vector<std::string> environment;
  bool seed_calibration = true;
  bool quiet = true;
  bool wait_for_url = true;
};

inline Launch WithArguments(std::vector<std::string> arguments, const std::string& listen) {
  Launch launch;
  launch.arguments = std::move(arguments);
  launch.listen = listen;
  return launch;
}

class ServeProcess {
 public:
  explicit ServeProcess(std::vector<std::string> arguments,
                        const std::string& listen = "127.0.0.1:0")
      : ServeProcess(WithArguments(std::move(arguments), listen)) {}
  explicit ServeProcess(Launch launch) {
    root_ = MakeTempDirectory("vm316-serve-test");
    if (launch.seed_calibration) SeedCalibration(root_ / "state");
    std::vector<std::string> arguments = {VM316_CLI_PATH, "serve",     "--listen",
                                          launch.listen,  "--cal-dir", (root_ / "state").string()};
    if (launch.quiet) arguments.push_back("-q");
    arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
    int out[2];
    if (pipe(out) != 0) return;
    const std::string errors = (root_ / "stderr.txt").string();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      const int error_file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (error_file >= 0) dup2(error_file, STDERR_FILENO);
      if (chdir(root_.c_str()) != 0) _exit(127);
      for (std::string& variable : launch.environment) putenv(variable.data());
      std::vector<char*> argv;
      for (std::string& argument : arguments) argv.push_back(argument.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // Kept open while the server runs: a closed pipe would end it at its next line.
    stdout_ = out[0];
    if (launch.wait_for_url) ReadAddress(stdout_);
  }
  ~ServeProcess() {
    if (pid_ > 0) {
      const int status = Interrupt();
      // Ctrl-C ends the server cleanly (and a sanitizer's report would make it fail).
      EXPECT_EQ(status, 0) << Stderr();
    }
    if (stdout_ >= 0) close(stdout_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  // Ctrl-C, and the exit code once the server has ended (-1 when it did not exit).
  int Interrupt() {
    kill(pid_, SIGINT);
    return ExitCode();
  }
  void Signal(int signal) const { kill(pid_, signal); }
  pid_t pid() const { return pid_; }
  // What the server wrote to stderr so far.
  std::string Stderr() const {
    std::ifstream in(root_ / "stderr.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Waits, at most `limit`, until stderr holds `text`.
  bool WaitForStderr(const std::string& text, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Stderr().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Everything on stdout once the server has ended.
  std::string Stdout() {
    char chunk[256];
    ssize_t got = 0;
    while ((got = read(stdout_, chunk, sizeof chunk)) > 0) {
      stdout_text_.append(chunk, static_cast<std::size_t>(got));
    }
    return stdout_text_;
  }
  // What stdout held when the panel's URL appeared.
  const std::string& StdoutSoFar() const { return stdout_text_; }
  // The peak resident memory of the server so far, in kB (VmHWM).
  long PeakMemoryKb() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
  }
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
      stdout_text_ = text;
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
  std::string stdout_text_;
  int port_ = 0;
};

}  // namespace vm316::serve_testing
