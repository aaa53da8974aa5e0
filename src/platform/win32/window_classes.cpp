#include "platform/win32/window_classes.h"

#include <string>
#include <vector>

namespace vm316::platform::win32 {
namespace {

std::vector<std::string>& RegisteredClasses() {
  static std::vector<std::string> classes;
  return classes;
}

}  // namespace

HINSTANCE LibraryModule() {
  HMODULE module = nullptr;
  // The address of this very function lies in the library's image.
  ::GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&LibraryModule), &module);
  return module;
}

const char* UseWindowClass(const char* name, WNDPROC procedure, int background_color) {
  for (const std::string& registered : RegisteredClasses()) {
    if (registered == name) return name;
  }
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = LibraryModule();
  window_class.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  if (background_color >= 0) window_class.hbrBackground = ::GetSysColorBrush(background_color);
  window_class.lpszClassName = name;
  if (::RegisterClassA(&window_class) == 0) return nullptr;
  RegisteredClasses().emplace_back(name);
  return name;
}

void UnregisterWindowClasses() {
  for (const std::string& name : RegisteredClasses()) {
    ::UnregisterClassA(name.c_str(), LibraryModule());
  }
  RegisteredClasses().clear();
  RegisteredClasses().shrink_to_fit();
}

void DestroyLibraryWindow(HWND window) {
  if (window == nullptr) return;
  if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
    ::DestroyWindow(window);
    return;
  }
  ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcA));
  ::PostMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace vm316::platform::win32
