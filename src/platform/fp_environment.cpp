#include "platform/fp_environment.h"

namespace vm316::platform {

#if defined(__i386__) || defined(__x86_64__)

namespace {

// x87 control word: all six exceptions masked (bits 0-5), precision control 11 = 64-bit
// mantissa (bits 8-9), rounding control 00 = nearest (bits 10-11).
constexpr std::uint16_t kLibraryX87Control = 0x037F;
// x87 status word: the six exception flags.
constexpr std::uint16_t kX87Flags = 0x003F;
// SSE control and status: all exceptions masked, round to nearest, no flush-to-zero and no
// denormals-are-zero, no flags.
constexpr std::uint32_t kLibraryMxcsr = 0x1F80;

// The x87 environment image of fnstenv/fldenv (32-bit protected mode layout).
struct X87Environment {
  std::uint32_t control;
  std::uint32_t status;
  std::uint32_t rest[5];
};

bool HasSse() {
#if defined(__x86_64__) || defined(__SSE__)
  return true;
#else
  static const bool has_sse = __builtin_cpu_supports("sse");
  return has_sse;
#endif
}

}  // namespace

void EnterLibraryEnvironment(FloatingPointState& saved) {
  __asm__ __volatile__("fnstcw %0" : "=m"(saved.x87_control));
  __asm__ __volatile__("fnstsw %0" : "=m"(saved.x87_status));
  // The host's pending flags are cleared without being raised and put back on the way out.
  __asm__ __volatile__("fnclex");
  const std::uint16_t control = kLibraryX87Control;
  __asm__ __volatile__("fldcw %0" : : "m"(control));
  if (HasSse()) {
    __asm__ __volatile__("stmxcsr %0" : "=m"(saved.mxcsr));
    const std::uint32_t mxcsr = kLibraryMxcsr;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
  }
}

void RestoreEnvironment(const FloatingPointState& saved) {
  __asm__ __volatile__("fnclex");
  if ((saved.x87_status & kX87Flags) != 0) {
    // Flags can only be put back through the whole x87 environment (rare: a host that left
    // flags standing).
    X87Environment environment{};
    __asm__ __volatile__("fnstenv %0" : "=m"(environment));
    environment.status =
        (environment.status & ~std::uint32_t{kX87Flags}) | (saved.x87_status & kX87Flags);
    __asm__ __volatile__("fldenv %0" : : "m"(environment));
  }
  __asm__ __volatile__("fldcw %0" : : "m"(saved.x87_control));
  if (HasSse()) __asm__ __volatile__("ldmxcsr %0" : : "m"(saved.mxcsr));
}

#else

void EnterLibraryEnvironment(FloatingPointState& saved) {
  std::fegetenv(&saved.environment);
  std::fesetenv(FE_DFL_ENV);
}

void RestoreEnvironment(const FloatingPointState& saved) {
  std::fesetenv(&saved.environment);
}

#endif

}  // namespace vm316::platform
