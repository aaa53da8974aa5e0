#include "platform/library_call.h"

#include <atomic>

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include <unistd.h>
#endif

namespace vm316::platform {
namespace {

// The owner's thread id, 0 for none. Read by any thread that calls in, hence atomic; every
// other piece of the frame is only touched by the owner.
std::atomic<std::uint32_t> owner_thread{0};

// Calls of the library in progress on this thread, the host's environment of the outermost one
// (what the host's code runs in when the library calls out), and the work left for its end.
// Per thread, so that calls made before any thread owns the library cannot disturb each other.
thread_local int depth = 0;
thread_local FloatingPointState outermost_host;
thread_local void (*deferred_work)() = nullptr;

std::uint32_t SystemThreadId() {
#ifdef _WIN32
  return static_cast<std::uint32_t>(::GetCurrentThreadId());
#else
  return static_cast<std::uint32_t>(::gettid());
#endif
}

// Asked once per thread: on Linux it is a system call, and every call of the library asks.
std::uint32_t CurrentThreadId() {
  thread_local const std::uint32_t id = SystemThreadId();
  return id;
}

void RunDeferredWork() {
  // The work may itself defer more (closing calls out to nothing today, but stay safe).
  while (deferred_work != nullptr) {
    void (*work)() = deferred_work;
    deferred_work = nullptr;
    work();
  }
}

}  // namespace

bool ClaimOwnerThread() {
  const std::uint32_t self = CurrentThreadId();
  std::uint32_t expected = 0;
  return owner_thread.compare_exchange_strong(expected, self) || expected == self;
}

void ReleaseOwnerThread() {
  owner_thread.store(0);
}

bool OnOwnerThread() {
  const std::uint32_t owner = owner_thread.load();
  return owner == 0 || owner == CurrentThreadId();
}

LibraryCall::LibraryCall() noexcept : admitted_(OnOwnerThread()) {
  if (!admitted_) return;
  EnterLibraryEnvironment(host_);
  if (depth == 0) outermost_host = host_;
  ++depth;
}

LibraryCall::~LibraryCall() {
  if (!admitted_) return;
  // Still counted as inside while the deferred work runs: whatever it calls nests in this call.
  if (depth == 1) RunDeferredWork();
  --depth;
  RestoreEnvironment(host_);
}

bool LibraryCall::Nested() {
  return depth > 1;
}

bool LibraryCall::Active() {
  return depth > 0;
}

void LibraryCall::AtOutermostEnd(void (*work)()) {
  if (depth == 0) {
    work();
    return;
  }
  deferred_work = work;
}

HostCallout::HostCallout() : inside_library_(depth > 0) {
  if (inside_library_) RestoreEnvironment(outermost_host);
}

HostCallout::~HostCallout() {
  FloatingPointState host_after_callout;
  if (inside_library_) EnterLibraryEnvironment(host_after_callout);
}

}  // namespace vm316::platform
