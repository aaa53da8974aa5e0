#include "platform/message_loop.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <vector>

#include "platform/clock.h"
#include "platform/library_call.h"

namespace vm316::platform {

struct PostedMessage {
  std::uint32_t message;
  std::uintptr_t wparam;
  std::intptr_t lparam;
};

class MessageLoop {
 public:
  static MessageLoop& Instance();
  static void Release();
  static void ReleaseWindowClasses() {}  // the loop's windows need no class here

  void Add(Timer* timer) { timers_.push_back(timer); }
  void Remove(Timer* timer) { Erase(timers_, timer); }
  void Add(MessageWindow* window) { windows_.push_back(window); }
  void Remove(MessageWindow* window) {
    Erase(windows_, window);
    if (windows_.empty()) posted_.clear();
  }

  PostResult Post(std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    if (windows_.empty()) return PostResult::kNoWindow;
    if (posted_.size() >= kPostedMessageLimit) return PostResult::kQueueFull;
    posted_.push_back({message, wparam, lparam});
    return PostResult::kPosted;
  }

  std::uint32_t Pump(std::uint32_t max_wait_ms) {
    Clock& clock = SystemClock();
    const std::uint64_t deadline = clock.NowNs() + std::uint64_t{max_wait_ms} * 1000000u;
    for (;;) {
      const std::uint32_t dispatched = DispatchDue(clock.NowNs());
      if (dispatched > 0) return dispatched;
      const std::uint64_t now = clock.NowNs();
      if (now >= deadline) return 0;
      clock.WaitUntil(std::min(deadline, NextDue()));
    }
  }

 private:
  template <typename T>
  static void Erase(std::vector<T*>& items, T* item) {
    items.erase(std::remove(items.begin(), items.end(), item), items.end());
  }

  std::uint64_t NextDue() const {
    std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
    if (!posted_.empty()) return 0;
    for (const Timer* timer : timers_) {
      if (timer->enabled_) next = std::min(next, timer->due_ns_);
    }
    return next;
  }

  // Posted messages first, then each due timer once. A handler may create or destroy timers
  // and windows, so the lists are walked by a snapshot that is re-checked before each call.
  std::uint32_t DispatchDue(std::uint64_t now) {
    std::uint32_t count = 0;
    while (!posted_.empty() && !windows_.empty()) {
      const PostedMessage message = posted_.front();
      posted_.pop_front();
      const std::vector<MessageWindow*> windows = windows_;
      for (MessageWindow* window : windows) {
        if (std::find(windows_.begin(), windows_.end(), window) == windows_.end()) continue;
        const LibraryCall call;
        window->handler_(message.message, message.wparam, message.lparam);
      }
      ++count;
    }
    const std::vector<Timer*> timers = timers_;
    for (Timer* timer : timers) {
      if (std::find(timers_.begin(), timers_.end(), timer) == timers_.end()) continue;
      if (!timer->enabled_ || timer->due_ns_ > now) continue;
      timer->due_ns_ = now + std::uint64_t{timer->interval_ms_} * 1000000u;
      const LibraryCall call;
      timer->on_timer_();
      ++count;
    }
    return count;
  }

  static inline MessageLoop* instance_ = nullptr;
  std::vector<Timer*> timers_;
  std::vector<MessageWindow*> windows_;
  std::deque<PostedMessage> posted_;
};

void Timer::SetInterval(std::uint32_t ms) {
  interval_ms_ = ms;
  if (enabled_) due_ns_ = SystemClock().NowNs() + std::uint64_t{ms} * 1000000u;
}

void Timer::SetEnabled(bool enabled) {
  if (enabled && !enabled_)
    due_ns_ = SystemClock().NowNs() + std::uint64_t{interval_ms_} * 1000000u;
  enabled_ = enabled;
}

std::uint32_t PumpMessages(std::uint32_t max_wait_ms) {
  return MessageLoop::Instance().Pump(max_wait_ms);
}

}  // namespace vm316::platform

// The members both loops share, now that this loop's MessageLoop is complete.
#include "platform/message_loop_members.h"
