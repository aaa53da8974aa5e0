#include "interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace vm316::host {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_in_blocking_call = 0;

constexpr int kInterruptedExit = 130;

void OnInterrupt(int /*signal*/) {
  g_interrupted = 1;
  if (g_in_blocking_call != 0) {
    static const char kText[] = "\nvm316: interrupted\n";
    // Only async-signal-safe calls here.
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kText, sizeof kText - 1);
    _exit(kInterruptedExit);
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
  return g_interrupted != 0;
}

BlockingCallScope::BlockingCallScope() {
  g_in_blocking_call = 1;
}

BlockingCallScope::~BlockingCallScope() {
  g_in_blocking_call = 0;
}

}  // namespace vm316::host
