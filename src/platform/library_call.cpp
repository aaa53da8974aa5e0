#include "platform/library_call.h"

#include <atomic>

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
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

// Claiming, releasing and taking over the owner happen one at a time: a take-over comes from
// another thread than the owner's. A spin lock, since they are rare and short.
class OwnerLock {
 public:
  OwnerLock() {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~OwnerLock() { flag_.clear(std::memory_order_release); }
  OwnerLock(const OwnerLock&) = delete;
  OwnerLock& operator=(const OwnerLock&) = delete;

 private:
  static inline std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

// Whether the owner has ended, as the system tells it. Armed by the owner when it claims,
// asked by any thread under the lock, disarmed when the owner is released.
#ifdef _WIN32
// A handle of the owner's thread: signalled once it has ended, however it ended.
HANDLE owner_handle = nullptr;

void ArmOwnerWatch() {
  owner_handle = ::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId());
}

void DisarmOwnerWatch() {
  if (owner_handle != nullptr) ::CloseHandle(owner_handle);
  owner_handle = nullptr;
}

bool OwnerEnded(std::uint32_t /*owner*/) {
  return owner_handle != nullptr && ::WaitForSingleObject(owner_handle, 0) == WAIT_OBJECT_0;
}

// Asking the handle at every call would cost a system call each; a thread with the ended
// owner's id finds the timer and window gone, but its port access is the process's, and its
// InitInstrument or ExitInstrument takes the instrument over.
bool OwnerKnownEnded() {
  return false;
}
#else
// Set as the owner's thread ends (its thread-local watch is destroyed then), so that another
// thread that the system gives the same id later is not taken for it.
std::atomic<bool> owner_ended{false};

// Not for the main thread, whose end is the process's: its thread-local objects go at exit,
// before the host's own static objects, which may still call in.
struct OwnerWatch {
  bool armed = false;
  ~OwnerWatch() {
    const std::uint32_t self = CurrentThreadId();
    if (armed && owner_thread.load() == self && self != static_cast<std::uint32_t>(::getpid())) {
      owner_ended.store(true);
    }
  }
};
thread_local OwnerWatch owner_watch;

void ArmOwnerWatch() {
  owner_watch.armed = true;
  owner_ended.store(false);
}

void DisarmOwnerWatch() {
  owner_ended.store(false);
}

// Also a thread that ended without its thread-local objects being destroyed: the system no
// longer knows its id in this process.
bool OwnerEnded(std::uint32_t owner) {
  if (owner_ended.load()) return true;
  return ::syscall(SYS_tgkill, ::getpid(), static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH;
}

// A thread that the system gave the ended owner's id is not the owner: its port access
// (ioperm) is not granted, so it is refused until it takes the instrument over.
bool OwnerKnownEnded() {
  return owner_ended.load();
}
#endif

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
  const OwnerLock lock;
  std::uint32_t expected = 0;
  if (owner_thread.compare_exchange_strong(expected, self)) {
    ArmOwnerWatch();
    return true;
  }
  return expected == self;
}

void ReleaseOwnerThread() {
  const OwnerLock lock;
  owner_thread.store(0);
  DisarmOwnerWatch();
}

bool TakeOverFromEndedOwner() {
  const OwnerLock lock;
  const std::uint32_t owner = owner_thread.load();
  if (owner == 0 || !OwnerEnded(owner)) return false;
  DisarmOwnerWatch();
  owner_thread.store(CurrentThreadId());
  ArmOwnerWatch();
  return true;
}

bool OnOwnerThread() {
  const std::uint32_t owner = owner_thread.load();
  return owner == 0 || (owner == CurrentThreadId() && !OwnerKnownEnded());
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
