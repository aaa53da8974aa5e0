// The host extras: the message pump, the message handler, posting to the hidden window and the
// window-message registry; the record bound.
#include <cmath>
#include <thread>

#include "exports/library_state.h"
#include "instrument/record_timing.h"
#include "platform/message_loop.h"
#include "platform/messages.h"
#include "platform/window_messages.h"
#include "vm316_host.h"

VM316_API uint32_t vm316_pump_messages(uint32_t max_wait_ms) {
  const std::thread::id owner = vm316::exports::Library().owner_thread;
  // Timer ticks and window messages belong to the thread that called InitInstrument.
  if (owner != std::thread::id() && owner != std::this_thread::get_id()) return 0;
  return vm316::platform::PumpMessages(max_wait_ms);
}

VM316_API void vm316_set_message_handler(vm316_message_handler handler, void* context) {
  vm316::platform::SetMessageHandler(handler, context);
}

VM316_API int32_t vm316_post_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return vm316::platform::PostWindowMessage(message, wparam, lparam) ? 1 : 0;
}

VM316_API uint32_t vm316_register_window_message(const char* name) {
  return name == nullptr ? 0 : vm316::platform::RegisterWindowMessage(name);
}

VM316_API double vm316_record_bound_ms(double sample_frequency, int32_t pre_samples,
                                       int32_t post_samples, double trigger_timeout_ms) {
  if (!std::isfinite(sample_frequency) || sample_frequency <= 0.0) return -1.0;
  if (std::isnan(trigger_timeout_ms)) return -1.0;
  constexpr long double kMsPerSecond = 1000.0L;
  return static_cast<double>(vm316::RecordBoundMs(sample_frequency, pre_samples, post_samples,
                                                  trigger_timeout_ms / kMsPerSecond));
}
