// The floating-point environment the library computes in, whatever its host runs with: round to
// nearest, every exception masked, the x87 unit at extended (64-bit mantissa) precision, and no
// flushing of subnormals. Hosts change these as a matter of course (component frameworks unmask
// exceptions, Windows compilers set 53-bit precision control, numeric code switches the rounding
// mode); the library's settings are extended-precision reals whose rounding and boundary tests
// must not follow them, and its NaN tests and divisions must never fault in the host.
#pragma once

#include <cfenv>
#include <cstdint>

namespace vm316::platform {

// What is saved of an environment and put back. On x86 the control and status words of the x87
// and SSE units, read and written directly: every call of the library pays for this, and the
// C library's whole-environment calls cost several times as much. Elsewhere the C environment.
struct FloatingPointState {
#if defined(__i386__) || defined(__x86_64__)
  std::uint16_t x87_control = 0;
  std::uint16_t x87_status = 0;
  std::uint32_t mxcsr = 0;
#else
  std::fenv_t environment;
#endif
};

// Saves the calling thread's environment into saved and switches to the library's.
void EnterLibraryEnvironment(FloatingPointState& saved);
// Puts a saved environment back, status flags included: flags raised in between are dropped.
void RestoreEnvironment(const FloatingPointState& saved);

}  // namespace vm316::platform
