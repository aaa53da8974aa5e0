// A single-threaded window-message loop: timers in the manner of a window-message timer and
// hidden windows that receive posted messages. Nothing runs by itself: the host dispatches
// with PumpMessages() (vm316_pump_messages) on its own thread, as a Windows host runs its
// message loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vm316::platform {

// A window-message timer: while enabled it becomes due every Interval() ms; a tick that could
// not be dispatched in time is not queued twice (missed periods coalesce, as WM_TIMER does).
class Timer {
 public:
  explicit Timer(std::function<void()> on_timer);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void SetInterval(std::uint32_t ms);
  std::uint32_t Interval() const { return interval_ms_; }
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }

 private:
  friend class MessageLoop;
  std::function<void()> on_timer_;
  std::uint32_t interval_ms_ = 1000;
  bool enabled_ = false;
  std::uint64_t due_ns_ = 0;
};

// A window without visible content that receives the messages posted to it.
class MessageWindow {
 public:
  using Handler =
      std::function<void(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam)>;
  explicit MessageWindow(Handler handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

 private:
  friend class MessageLoop;
  Handler handler_;
};

// How many posted messages may wait for dispatch: the window system's own limit per thread.
// A flood of posts (another program, a runaway host) must not grow the process without bound.
inline constexpr std::size_t kPostedMessageLimit = 10000;

enum class PostResult { kPosted, kNoWindow, kQueueFull };

// Posts a message to the hidden windows. Past kPostedMessageLimit waiting messages it is
// dropped.
PostResult PostWindowMessage(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam);

// Frees the loop's bookkeeping when the library is unloaded (it is made anew if used again).
void ReleaseMessageLoop();

// Dispatches what is due, waiting at most max_wait_ms for the next due timer or message.
// Returns how many timer ticks and messages it dispatched.
std::uint32_t PumpMessages(std::uint32_t max_wait_ms);

}  // namespace vm316::platform
