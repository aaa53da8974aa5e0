// The real port backend is only ever tested on its refusal path: no test touches real ports.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/system.h"
#include "support/scoped_env.h"

namespace vm316::platform {
namespace {

TEST(HardwarePorts, AnUnprivilegedProcessIsRefusedPortAccess) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Give up root (CI runs as root) so that ioperm and /dev/port are refused.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    auto backend = CreateHardwarePortBackend();
    _exit(backend->OpenDriver() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "port access was granted without privilege";
}

TEST(Environment, UnknownValuesAreReportedAndTheDefaultsKept) {
  testing::ScopedEnv env;
  env.Set("VM316_PORT", "parallel").Set("VM316_CLOCK", "fast").Set("VM316_MESSAGES", "quiet");
  const Environment environment = ReadEnvironment();
  EXPECT_EQ(environment.port, PortKind::kHardware);
  EXPECT_EQ(environment.clock, ClockKind::kReal);
  EXPECT_EQ(environment.messages, MessageSink::kQuiet);
}

}  // namespace
}  // namespace vm316::platform
