// The frame of every entry into the library: an export, a timer tick, a window procedure, the
// message pump. One object on the stack at each entry applies the three rules that keep the host
// process unharmed:
//
// - Only the thread that opened the instrument may call in. Port access is granted per thread
//   (ioperm), the library takes no locks, and its timer and windows belong to that thread; a
//   call from any other thread is refused before it touches anything.
// - Calls nest: a host's message handler, a window procedure run by a modal message box, or an
//   event hook may call back into the exports while an outer call still uses the instrument.
//   What would free what the outer call uses is deferred to the end of the outermost call.
// - The library computes in its own floating-point environment and gives the host's back on
//   the way out (fp_environment.h), also around every call out to the host.
#pragma once

#include <cstdint>

#include "platform/fp_environment.h"

namespace vm316::platform {

class LibraryCall {
 public:
  LibraryCall() noexcept;
  ~LibraryCall();
  LibraryCall(const LibraryCall&) = delete;
  LibraryCall& operator=(const LibraryCall&) = delete;

  // False when the call came from a thread other than the owner: refuse it, touch nothing.
  explicit operator bool() const { return admitted_; }

  // True while a call of the library is in progress beneath the current one on this thread.
  static bool Nested();
  // True while any call of the library is in progress on this thread.
  static bool Active();

  // Work that must wait until no call of the library is in progress: run at the end of the
  // outermost call (at once when there is none). One piece of work at a time is enough: the
  // only such work is closing the instrument, which is idempotent.
  static void AtOutermostEnd(void (*work)());

 private:
  bool admitted_;
  FloatingPointState host_;
};

// Runs the host's code (a message handler, a system message box with its modal loop) in the
// host's floating-point environment, and returns to the library's afterwards.
class HostCallout {
 public:
  HostCallout();
  ~HostCallout();
  HostCallout(const HostCallout&) = delete;
  HostCallout& operator=(const HostCallout&) = delete;

 private:
  bool inside_library_;
};

// The owner: the thread that opened the instrument. Claimed by InitInstrument (false when
// another thread owns the library), released once the instrument is closed. Without an owner
// every thread may call in (and finds no instrument).
bool ClaimOwnerThread();
void ReleaseOwnerThread();
bool OnOwnerThread();

// When the owner has ended (without closing the instrument), makes the calling thread the
// owner and returns true; else changes nothing and returns false. Also true for a thread that
// the system gave the ended owner's id: it is a thread of its own all the same.
bool TakeOverFromEndedOwner();

}  // namespace vm316::platform
