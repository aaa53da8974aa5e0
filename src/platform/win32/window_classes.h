// The library's window classes: registered with the library's own module on first use, and
// taken back when the library is unloaded (a class left registered would point the system at
// a window procedure that is no longer mapped).
#pragma once

#include "platform/win32/windows_api.h"

namespace vm316::platform::win32 {

// The module handle of the library itself (not of the host program).
HINSTANCE LibraryModule();

// Registers the class once and returns name (a string that outlives the class) for
// CreateWindowExA; null if the system refused the class.
const char* UseWindowClass(const char* name, WNDPROC procedure, int background_color = -1);

// Unregisters every class UseWindowClass registered (at library unload).
void UnregisterWindowClasses();

// Destroys a window of the library. A window of another thread cannot be destroyed from here
// (a host that unloads the library from another thread): it is handed to the system's default
// window procedure, so that nothing of the library is called for it any more, and asked to
// close on its own thread.
void DestroyLibraryWindow(HWND window);

}  // namespace vm316::platform::win32
