// Real port I/O on 32-bit Windows: the x86 in and out instructions, issued directly. On the NT
// family they work from user mode only once the port-access driver has granted the process the
// I/O ports; it is there when its device "\\.\giveio" can be opened.
#include "platform/system.h"
#include "platform/win32/windows_api.h"

namespace vm316::platform {
namespace {

constexpr const char* kPortAccessDevice = "\\\\.\\giveio";

class X86PortBackend final : public PortBackend {
 public:
  PortReach Reach() const override { return PortReach::kHardware; }

  // The device is opened only to learn that the driver is installed: opening it is what grants
  // the ports, and the handle is not needed afterwards.
  bool OpenDriver() override {
    const HANDLE device =
        ::CreateFileA(kPortAccessDevice, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(device);
    return true;
  }

  void Out(std::uint16_t port, std::uint8_t value) override {
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
  }

  std::uint8_t In(std::uint16_t port) override {
    std::uint8_t value;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
    return value;
  }
};

}  // namespace

std::unique_ptr<PortBackend> CreateHardwarePortBackend() {
  return std::make_unique<X86PortBackend>();
}

}  // namespace vm316::platform
