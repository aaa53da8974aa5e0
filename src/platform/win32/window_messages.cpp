// Window-message names are the system's own on Windows: every program that registers the same
// name gets the same number.
#include "platform/window_messages.h"

#include "platform/win32/windows_api.h"

namespace vm316::platform {

void ReleaseWindowMessages() {}  // the system keeps its registry

std::uint32_t RegisterWindowMessage(const std::string& name) {
  if (name.empty()) return 0;
  return ::RegisterWindowMessageA(name.c_str());
}

}  // namespace vm316::platform
