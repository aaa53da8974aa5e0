/* Process attach and detach of the shared library: the library state is set up at load, and
 * unloading runs ExitInstrument, as a host that forgot it expects. */
void vm316_library_load(void);
void vm316_library_unload(void);

__attribute__((constructor)) static void library_attach(void) { vm316_library_load(); }

__attribute__((destructor)) static void library_detach(void) { vm316_library_unload(); }
