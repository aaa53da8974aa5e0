// The host extras: the message pump, the message handler, posting to the hidden window and the
// window-message registry; the record bound. They share the exports' frame: another thread
// than the one that opened the instrument is refused.
#include <cmath>
#include <thread>

#include "exports/export_entry.h"
#include "exports/library_state.h"
#include "instrument/record_timing.h"
#include "platform/message_loop.h"
#include "platform/messages.h"
#include "platform/window_messages.h"
#include "vm316_host.h"

// Timer ticks and window messages belong to the thread that called InitInstrument.
VM316_API uint32_t vm316_pump_messages(uint32_t max_wait_ms) {
  VM316_EXPORT_ENTRY(0);
  return vm316::platform::PumpMessages(max_wait_ms);
}

VM316_API void vm316_set_message_handler(vm316_message_handler handler, void* context) {
  VM316_EXPORT_ENTRY(void());
  vm316::platform::SetMessageHandler(handler, context);
}

VM316_API int32_t vm316_post_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  // The hidden window's bookkeeping takes no lock, whatever the system's queue would accept.
  VM316_EXPORT_ENTRY(VM316_POST_NO_WINDOW);
  switch (vm316::platform::PostWindowMessage(message, wparam, lparam)) {
    case vm316::platform::PostResult::kPosted:
      return VM316_POST_DONE;
    case vm316::platform::PostResult::kQueueFull:
      return VM316_POST_QUEUE_FULL;
    case vm316::platform::PostResult::kNoWindow:
      break;
  }
  return VM316_POST_NO_WINDOW;
}

VM316_API uint32_t vm316_register_window_message(const char* name) {
  VM316_EXPORT_ENTRY(0);
  return name == nullptr ? 0 : vm316::platform::RegisterWindowMessage(name);
}

VM316_API double vm316_record_bound_ms(double sample_frequency, int32_t pre_samples,
                                       int32_t post_samples, double trigger_timeout_ms) {
  VM316_EXPORT_ENTRY(-1.0);
  if (!std::isfinite(sample_frequency) || sample_frequency <= 0.0) return -1.0;
  if (std::isnan(trigger_timeout_ms)) return -1.0;
  constexpr long double kMsPerSecond = 1000.0L;
  return static_cast<double>(vm316::RecordBoundMs(sample_frequency, pre_samples, post_samples,
                                                  trigger_timeout_ms / kMsPerSecond));
}
