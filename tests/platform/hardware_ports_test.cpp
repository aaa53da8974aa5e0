// The real port backend is only ever tested on its refusal path: no test touches real ports.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "port/port_io.h"
#include "support/message_capture.h"
#include "support/recording_backend.h"
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

// An unknown clock or message value keeps the default. An unknown port value (a mistyped
// "sim") chooses no backend at all: real ports are no fallback. The user is told which variable
// and which values; the backend is refused port access without a further word and reaches no
// port.
TEST(Environment, UnknownValuesAreReportedAndAnUnknownPortReachesNoPort) {
  for (const char* port : {"Sim", "parallel", "hw "}) {
    SCOPED_TRACE(port);
    vm316::testing::MessageCapture capture;
    testing::ScopedEnv env;
    env.Set("VM316_PORT", port).Set("VM316_CLOCK", "fast").Set("VM316_MESSAGES", "quiet");
    const Environment environment = ReadEnvironment();
    EXPECT_EQ(environment.port, PortKind::kUnknown);
    EXPECT_EQ(environment.clock, ClockKind::kReal);
    EXPECT_EQ(environment.messages, MessageSink::kQuiet);
    const std::string said = "VM316_PORT=\"" + std::string(port) +
                             "\" is not understood (use hw or sim); no port is used and the "
                             "instrument is not available";
    ASSERT_EQ(capture.Texts().size(), 2u);
    EXPECT_EQ(capture.Texts()[0], said);
    const std::unique_ptr<PortBackend> backend = CreatePortBackend(environment);
    EXPECT_EQ(backend->Reach(), PortReach::kNowhere);
    EXPECT_FALSE(port::CheckPortDriver(*backend));
    EXPECT_EQ(capture.Texts().size(), 2u);
  }
}

// Without the privilege the system asks for, the user is told what it asks for, in the three
// lines of the port-access message.
TEST(HardwarePorts, TheRefusalSaysWhatThisSystemNeeds) {
  vm316::testing::MessageCapture capture;
  vm316::testing::RecordingBackend refusing(nullptr, /*driver_ok=*/false);
  refusing.reach = PortReach::kHardware;
  EXPECT_FALSE(port::CheckPortDriver(refusing));
  EXPECT_EQ(capture.Texts(),
            std::vector<std::string>{
                "Linux requires root or the CAP_SYS_RAWIO capability (ioperm or /dev/port) for "
                "the parallel port and ISA bus.\nIt was not granted to this process.\nHardware "
                "will not be available"});
}

}  // namespace
}  // namespace vm316::platform
