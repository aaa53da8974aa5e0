// The system's notices on Windows: a modal message box with a single OK button, owned by the
// host's active window so that the host waits for it, and the default system beep. The progress
// window is a window of its own (progress_window.cpp) and needs no notice here.
#include "platform/messages.h"

#include "platform/win32/windows_api.h"

namespace vm316::platform {

void ShowSystemNotice(int kind, const std::string& caption, const std::string& text,
                      MessageIcon icon) {
  switch (kind) {
    case VM316_NOTICE_MESSAGE_BOX: {
      const HWND owner = ::GetActiveWindow();
      // Without an owner the box still keeps the calling thread's windows waiting.
      const UINT style = MB_OK | (owner == nullptr ? MB_TASKMODAL : 0u) |
                         (icon == MessageIcon::kError ? MB_ICONERROR : 0u);
      ::MessageBoxA(owner, text.c_str(), caption.c_str(), style);
      break;
    }
    case VM316_NOTICE_BEEP:
      ::MessageBeep(0);
      break;
    default:
      break;
  }
}

}  // namespace vm316::platform
