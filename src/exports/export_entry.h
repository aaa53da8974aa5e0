// The first statement of every export: the frame of the call (platform/library_call.h) and the
// answer to a call from a thread other than the one that opened the instrument. That answer is
// what the export gives when there is no instrument (StatusNoHardware, or the value a query
// returns then), so a host needs no code it does not already have.
#pragma once

#include "exports/library_state.h"
#include "platform/library_call.h"

// `refused` is returned, with nothing touched, when the call came from another thread.
#define VM316_EXPORT_ENTRY(refused)                           \
  const ::vm316::platform::LibraryCall vm316_library_call_{}; \
  if (!vm316_library_call_) return refused

// The entry of InitInstrument and ExitInstrument: from another thread than the owner, they take
// the instrument over once the owner has ended, and it is moved to the calling thread.
#define VM316_EXPORT_ENTRY_TAKING_OVER(refused)                               \
  const bool vm316_taken_over_ = ::vm316::platform::TakeOverFromEndedOwner(); \
  VM316_EXPORT_ENTRY(refused);                                                \
  if (vm316_taken_over_) ::vm316::exports::AdoptInstrument()
