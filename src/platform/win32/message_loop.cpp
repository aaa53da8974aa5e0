// Window-message timers and hidden windows on Windows. A timer is a real SetTimer timer on a
// message-only window of the library; a hidden window is a top-level window that is never
// shown (unlike a message-only window it also receives the system's broadcasts, such as
// WM_DEVICECHANGE). Both belong to the thread that created them and run from its message loop:
// the host's own GetMessage/DispatchMessage loop, or vm316_pump_messages.
#include "platform/message_loop.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/library_call.h"
#include "platform/win32/window_classes.h"
#include "platform/win32/windows_api.h"

namespace vm316::platform {
namespace {

constexpr const char* kTimerWindowClass = "vm316 timer window";
// The class name of the hidden window, by which another program finds it to post to it.
constexpr const char* kHiddenWindowClass = "TDeviceMessageReceiver";

UINT_PTR TimerId(const Timer* timer) {
  return reinterpret_cast<UINT_PTR>(timer);
}

}  // namespace

class MessageLoop {
 public:
  static MessageLoop& Instance();
  static void Release();
  // At unload the library's window classes go, the progress window's too, whether or not a
  // loop was ever made.
  static void ReleaseWindowClasses() { win32::UnregisterWindowClasses(); }

  ~MessageLoop() {
    win32::DestroyLibraryWindow(timer_window_);
    for (const HiddenWindow& hidden : windows_) win32::DestroyLibraryWindow(hidden.handle);
  }

  void Add(Timer* timer) {
    // The timer window is made by the thread of the first timer, so the ticks come to the
    // thread that created the instrument object.
    if (timer_window_ == nullptr) timer_window_ = CreateTimerWindow();
    timers_.push_back(timer);
  }

  void Remove(Timer* timer) {
    if (timer_window_ != nullptr) ::KillTimer(timer_window_, TimerId(timer));
    Erase(timers_, timer);
    if (timers_.empty() && timer_window_ != nullptr) {
      win32::DestroyLibraryWindow(timer_window_);
      timer_window_ = nullptr;
    }
  }

  // Starts, restarts (a new interval) or stops the system timer behind a timer.
  void Schedule(Timer* timer) {
    if (timer_window_ == nullptr) return;
    if (timer->enabled_) {
      timer->due_ns_ = SystemClock().NowNs() + Period(*timer);
      ::SetTimer(timer_window_, TimerId(timer), timer->interval_ms_, nullptr);
    } else {
      ::KillTimer(timer_window_, TimerId(timer));
    }
  }

  void Add(MessageWindow* window) {
    const char* window_class =
        win32::UseWindowClass(kHiddenWindowClass, &MessageLoop::HiddenWindowProcedure);
    const HWND handle =
        window_class == nullptr
            ? nullptr
            : ::CreateWindowExA(WS_EX_TOOLWINDOW, window_class, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, win32::LibraryModule(), nullptr);
    if (handle == nullptr) throw std::runtime_error("the hidden window cannot be created");
    // Set after creation: the window's own creation messages are not the handler's business.
    ::SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    windows_.push_back({window, handle});
  }

  void Remove(MessageWindow* window) {
    // Messages still queued for the window go with it.
    const auto entry = std::find_if(windows_.begin(), windows_.end(), [window](const auto& hidden) {
      return hidden.window == window;
    });
    if (entry == windows_.end()) return;
    ::SetWindowLongPtrA(entry->handle, GWLP_USERDATA, 0);
    win32::DestroyLibraryWindow(entry->handle);
    windows_.erase(entry);
  }

  // Windows bounds each thread's queue (10 000 messages by default) and refuses a post past it;
  // other window systems (Wine's among them) do not, so the library keeps the same bound on its
  // own posts: those not yet taken from the queue.
  PostResult Post(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    if (windows_.empty()) return PostResult::kNoWindow;
    bool posted = false;
    for (HiddenWindow& hidden : windows_) {
      if (hidden.waiting >= kPostedMessageLimit && !PostedMessagesQueued()) hidden.waiting = 0;
      if (hidden.waiting >= kPostedMessageLimit) continue;
      if (::PostMessageA(hidden.handle, message, wparam, lparam) != 0) {
        ++hidden.waiting;
        posted = true;
      }
    }
    return posted ? PostResult::kPosted : PostResult::kQueueFull;
  }

 private:
  template <typename T>
  static void Erase(std::vector<T*>& items, T* item) {
    items.erase(std::remove(items.begin(), items.end(), item), items.end());
  }

  // A host may take posted messages from the queue without dispatching them: when the count
  // says full, the queue itself is asked whether any posted message still waits.
  static bool PostedMessagesQueued() {
    return (HIWORD(::GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0;
  }

  // A message taken from the queue for a hidden window: one of the library's posts (or another
  // program's, which only makes the count err low, where the system's own bound still holds).
  void Delivered(HWND handle) {
    for (HiddenWindow& hidden : windows_) {
      if (hidden.handle == handle && hidden.waiting > 0) --hidden.waiting;
    }
  }

  static HWND CreateTimerWindow() {
    const char* window_class =
        win32::UseWindowClass(kTimerWindowClass, &MessageLoop::TimerWindowProcedure);
    if (window_class == nullptr) return nullptr;
    return ::CreateWindowExA(0, window_class, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             win32::LibraryModule(), nullptr);
  }

  // A WM_TIMER already queued when its timer was stopped or destroyed is dropped here: the
  // system does not take back what it has queued. On the virtual clock a tick comes at its due
  // time, as it does where the library runs the loop itself: the period the system waited has
  // passed for the simulated board too.
  void Tick(UINT_PTR id) {
    const auto entry = std::find_if(timers_.begin(), timers_.end(),
                                    [id](const Timer* timer) { return TimerId(timer) == id; });
    if (entry == timers_.end() || !(*entry)->enabled_) return;
    Timer& timer = **entry;
    Clock& clock = SystemClock();
    clock.WaitUntil(timer.due_ns_);
    timer.due_ns_ = clock.NowNs() + Period(timer);
    timer.on_timer_();
  }

  static std::uint64_t Period(const Timer& timer) {
    return std::uint64_t{timer.interval_ms_} * 1000000u;
  }

  static LRESULT CALLBACK TimerWindowProcedure(HWND handle, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
    if (message == WM_TIMER && instance_ != nullptr) {
      const LibraryCall call;
      if (call) instance_->Tick(wparam);
      return 0;
    }
    return ::DefWindowProcA(handle, message, wparam, lparam);
  }

  static LRESULT CALLBACK HiddenWindowProcedure(HWND handle, UINT message, WPARAM wparam,
                                                LPARAM lparam) {
    // The frame ends after DefWindowProcA: an ExitInstrument from within the handler (from the
    // modal loop of a message box it shows, say) destroys this window only then.
    const LibraryCall call;
    // A message sent from another thread (a system broadcast) did not come from the queue.
    if (call && instance_ != nullptr && !::InSendMessage()) instance_->Delivered(handle);
    auto* window = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrA(handle, GWLP_USERDATA));
    if (window != nullptr && call) {
      window->handler_(message, static_cast<std::uintptr_t>(wparam),
                       static_cast<std::intptr_t>(lparam));
    }
    return ::DefWindowProcA(handle, message, wparam, lparam);
  }

  static inline MessageLoop* instance_ = nullptr;
  HWND timer_window_ = nullptr;
  std::vector<Timer*> timers_;
  struct HiddenWindow {
    MessageWindow* window;
    HWND handle;
    std::size_t waiting = 0;  // posts of the library not yet taken from the queue
  };
  std::vector<HiddenWindow> windows_;
};

void Timer::SetInterval(std::uint32_t ms) {
  interval_ms_ = ms;
  if (enabled_) MessageLoop::Instance().Schedule(this);
}

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;  // a running timer keeps its period
  enabled_ = enabled;
  MessageLoop::Instance().Schedule(this);
}

// The host's loop in small: everything queued for this thread is dispatched, the host's own
// messages too; with nothing queued it waits for input or the bound, whichever comes first.
std::uint32_t PumpMessages(std::uint32_t max_wait_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    std::uint32_t dispatched = 0;
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
      if (message.message == WM_QUIT) {
        // The host's loop must still see it.
        ::PostQuitMessage(static_cast<int>(message.wParam));
        return dispatched;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
      ++dispatched;
    }
    if (dispatched > 0) return dispatched;
    const DWORD waited = ::GetTickCount() - start;
    if (waited >= max_wait_ms) return 0;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, max_wait_ms - waited, QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

}  // namespace vm316::platform

// The members both loops share, now that this loop's MessageLoop is complete.
#include "platform/message_loop_members.h"
