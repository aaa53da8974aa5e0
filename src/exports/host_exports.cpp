// The host extras: the message pump, the message handler, posting to the hidden window and the
// window-message registry.
#include <thread>

#include "exports/library_state.h"
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
