/* Process attach and detach of the shared library: the library state is set up at load, and
 * unloading runs ExitInstrument, as a host that forgot it expects. */
void vm316_library_load(void);
void vm316_library_unload(void);

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance); /* threads of the host are none of our business */
      vm316_library_load();
      break;
    case DLL_PROCESS_DETACH:
      /* FreeLibrary: the host's thread is still there to own the windows being destroyed.
       * At process exit (reserved set) the other threads are gone and the system takes back
       * windows and memory itself; nothing is done that could wait on them. */
      if (reserved == NULL) vm316_library_unload();
      break;
    default:
      break;
  }
  return TRUE;
}

#else

__attribute__((constructor)) static void library_attach(void) { vm316_library_load(); }

__attribute__((destructor)) static void library_detach(void) { vm316_library_unload(); }

#endif
