#include "platform/fp_environment.h"

namespace vm316::platform {
namespace {

#if defined(__i386__) || defined(__x86_64__)
// x87 control word: all six exceptions masked (bits 0-5), precision control 11 = 64-bit
// mantissa (bits 8-9), rounding control 00 = nearest (bits 10-11).
constexpr std::uint16_t kLibraryX87Control = 0x037F;
// SSE control and status: all exceptions masked, round to nearest, no flush-to-zero and no
// denormals-are-zero, no flags.
constexpr std::uint32_t kLibraryMxcsr = 0x1F80;

std::uint16_t ReadX87Control() {
  std::uint16_t control = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(control));
  return control;
}

void WriteX87Control(std::uint16_t control) {
  __asm__ __volatile__("fldcw %0" : : "m"(control));
}

bool HasSse() {
#if defined(__x86_64__) || defined(__SSE__)
  return true;
#else
  static const bool has_sse = __builtin_cpu_supports("sse");
  return has_sse;
#endif
}

void WriteMxcsr(std::uint32_t mxcsr) {
  __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
}
#endif

}  // namespace

void EnterLibraryEnvironment(FloatingPointState& saved) {
  std::fegetenv(&saved.environment);
#if defined(__i386__) || defined(__x86_64__)
  saved.x87_control = ReadX87Control();
  // Pending x87 flags are the host's: cleared here (without raising them) and put back with the
  // saved environment on the way out.
  __asm__ __volatile__("fnclex");
  WriteX87Control(kLibraryX87Control);
  if (HasSse()) WriteMxcsr(kLibraryMxcsr);
#else
  std::fesetenv(FE_DFL_ENV);
#endif
}

void RestoreEnvironment(const FloatingPointState& saved) {
  std::fesetenv(&saved.environment);
#if defined(__i386__) || defined(__x86_64__)
  WriteX87Control(saved.x87_control);
#endif
}

}  // namespace vm316::platform
