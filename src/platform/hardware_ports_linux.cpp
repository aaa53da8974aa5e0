// Real port I/O on Linux: ioperm() for the ports the board uses, granted port by port on first
// use, or /dev/port where ioperm is refused. Both need root or CAP_SYS_RAWIO; without them the
// system refuses access, which the driver reports in its port-access message.
#include <fcntl.h>
#include <unistd.h>

#include <bitset>

#include "platform/system.h"

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define VM316_HAVE_IOPERM 1
#endif

namespace vm316::platform {
namespace {

// Port 0x80 is the POST diagnostic port: asking for it proves the privilege without touching
// anything the board or the system uses.
constexpr unsigned long kProbePort = 0x80;

class LinuxPortBackend final : public PortBackend {
 public:
  ~LinuxPortBackend() override {
    if (dev_port_ >= 0) ::close(dev_port_);
  }

  PortReach Reach() const override { return PortReach::kHardware; }

  bool OpenDriver() override {
#ifdef VM316_HAVE_IOPERM
    if (::ioperm(kProbePort, 1, 1) == 0) {
      ::ioperm(kProbePort, 1, 0);
      use_ioperm_ = true;
      return true;
    }
#endif
    dev_port_ = ::open("/dev/port", O_RDWR | O_CLOEXEC);
    return dev_port_ >= 0;
  }

  void Out(std::uint16_t port, std::uint8_t value) override {
#ifdef VM316_HAVE_IOPERM
    if (use_ioperm_ && Grant(port)) {
      ::outb(value, port);
      return;
    }
#endif
    if (dev_port_ >= 0) (void)::pwrite(dev_port_, &value, 1, port);
  }

  std::uint8_t In(std::uint16_t port) override {
#ifdef VM316_HAVE_IOPERM
    if (use_ioperm_ && Grant(port)) return ::inb(port);
#endif
    std::uint8_t value = kFloatingBus;
    if (dev_port_ >= 0) (void)::pread(dev_port_, &value, 1, port);
    return value;
  }

  // ioperm grants the calling thread alone; /dev/port serves the whole process.
  void MoveToCallingThread() override {
#ifdef VM316_HAVE_IOPERM
    granted_.reset();
#endif
  }

 private:
#ifdef VM316_HAVE_IOPERM
  bool Grant(std::uint16_t port) {
    if (granted_[port]) return true;
    if (::ioperm(port, 1, 1) != 0) return false;
    granted_[port] = true;
    return true;
  }
  std::bitset<65536> granted_;
#endif
  bool use_ioperm_ = false;
  int dev_port_ = -1;
};

}  // namespace

std::unique_ptr<PortBackend> CreateHardwarePortBackend() {
  return std::make_unique<LinuxPortBackend>();
}

}  // namespace vm316::platform
