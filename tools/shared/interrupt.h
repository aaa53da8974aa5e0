// Ctrl-C: a loop of the host (a long capture, watch) sees it and stops cleanly; inside a call
// that blocks in the library, which cannot be stopped half way, it ends the program at once.
#pragma once

namespace vm316::host {

// Catches SIGINT and SIGTERM for the rest of the run.
void InstallInterruptHandler();

// True once Ctrl-C was pressed.
bool Interrupted();

// While one exists, Ctrl-C ends the program at once with exit code 130.
class BlockingCallScope {
 public:
  BlockingCallScope();
  ~BlockingCallScope();
  BlockingCallScope(const BlockingCallScope&) = delete;
  BlockingCallScope& operator=(const BlockingCallScope&) = delete;
};

}  // namespace vm316::host
