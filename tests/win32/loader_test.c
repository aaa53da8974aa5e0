/* The DLL as a host of the family meets it: loaded at run time, every function looked up by
 * name or by ordinal, called with the stdcall convention, and unloaded again with an
 * instrument still running. */
#include <string.h>

#include "check.h"
#include "export_table.h"
#include "vm316.h"
#include "vm316_host.h"

static const char kLibrary[] = "vm316.dll";

static FARPROC by_ordinal(HMODULE library, int ordinal) {
  return GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
}

/* The functions a test calls, looked up by name; the types come from vm316.h. */
struct library {
  HMODULE module;
  __typeof__(&InitInstrument) InitInstrument;
  __typeof__(&ExitInstrument) ExitInstrument;
  __typeof__(&DoMeasure) DoMeasure;
  __typeof__(&SetRecordLength) SetRecordLength;
  __typeof__(&GetOneMeasurementRaw) GetOneMeasurementRaw;
  __typeof__(&vm316_set_message_handler) vm316_set_message_handler;
};

/* A looked-up address becomes a function pointer without a cast between function types. */
#define RESOLVE(lib, name)                                      \
  do {                                                          \
    const FARPROC found = GetProcAddress((lib)->module, #name); \
    memcpy(&(lib)->name, &found, sizeof found);                 \
  } while (0)

static int load(struct library* lib) {
  lib->module = LoadLibraryA(kLibrary);
  if (lib->module == NULL) return 0;
  RESOLVE(lib, InitInstrument);
  RESOLVE(lib, ExitInstrument);
  RESOLVE(lib, DoMeasure);
  RESOLVE(lib, SetRecordLength);
  RESOLVE(lib, GetOneMeasurementRaw);
  RESOLVE(lib, vm316_set_message_handler);
  return lib->InitInstrument && lib->ExitInstrument && lib->DoMeasure && lib->SetRecordLength &&
         lib->GetOneMeasurementRaw && lib->vm316_set_message_handler;
}

/* ---- The export table ------------------------------------------------------------------------ */

static void every_name_and_its_ordinal_reach_the_same_function(void) {
  const HMODULE library = LoadLibraryA(kLibrary);
  REQUIRE(library != NULL);
  for (size_t i = 0; i < sizeof listed_exports / sizeof listed_exports[0]; ++i) {
    const FARPROC named = GetProcAddress(library, listed_exports[i].name);
    const FARPROC numbered = by_ordinal(library, listed_exports[i].ordinal);
    if (named == NULL || named != numbered) {
      fprintf(stderr, "%s (ordinal %d): %s\n", listed_exports[i].name, listed_exports[i].ordinal,
              named == NULL ? "not found by name" : "another function by ordinal");
      ++check_failures;
    }
  }
  CHECK(by_ordinal(library, 68) == NULL);
  CHECK(by_ordinal(library, 69) == NULL);
  /* Undecorated only: a host asks for "InitInstrument", never for the stdcall "@4" form. */
  CHECK(GetProcAddress(library, "InitInstrument@4") == NULL);
  CHECK(GetProcAddress(library, "_InitInstrument@4") == NULL);
  for (size_t i = 0; i < sizeof host_extras / sizeof host_extras[0]; ++i) {
    const FARPROC extra = GetProcAddress(library, host_extras[i]);
    CHECK(extra != NULL);
    for (int ordinal = 1; ordinal <= 117; ++ordinal) CHECK(by_ordinal(library, ordinal) != extra);
  }
  FreeLibrary(library);
}

/* Calls function with words zero-valued 32-bit arguments and returns how many bytes of them it
 * removed from the stack itself: all of them for stdcall, none for a plain C call. */
static int bytes_removed_by_callee(FARPROC function, int words) {
  const int pushed = (int)sizeof(uint32_t) * words;
  int stack_change;
  __asm__ __volatile__(
      "movl %%esp, %%esi\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl $0\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *%%ebx\n\t"
      "movl %%esp, %%eax\n\t"
      "subl %%esi, %%eax\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(stack_change), "+c"(words)
      : "b"(function)
      : "edx", "esi", "memory", "cc");
  return pushed + stack_change;
}

static void exports_remove_their_own_arguments(void) {
  /* Calls that touch nothing without an instrument, with the argument bytes of their
   * declarations: a byte or 16-bit value fills a 32-bit slot, a double two. */
  static const struct {
    const char* name;
    int argument_bytes;
  } calls[] = {
      {"ExitInstrument", 0},
      {"GetSquareWaveGenFrequency", 0},
      {"GetCalibrationDate", 4},
      {"SetMeasureMode", 4},
      {"SetDcLevel", 4 + 8},
      {"SetTriggerLevel", 4 + 8},
      {"GetOneMeasurementRawCh", 4 + 4 + 4},
      {"SetDAC1451", 16},
  };
  const HMODULE library = LoadLibraryA(kLibrary);
  REQUIRE(library != NULL);
  for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
    const FARPROC function = GetProcAddress(library, calls[i].name);
    REQUIRE(function != NULL);
    const int words = calls[i].argument_bytes / 4;
    const int removed = bytes_removed_by_callee(function, words);
    if (removed != calls[i].argument_bytes) {
      fprintf(stderr, "%s removed %d bytes of its arguments, not %d\n", calls[i].name, removed,
              calls[i].argument_bytes);
      ++check_failures;
    }
  }
  /* The host extras are plain C calls: the caller cleans up. */
  CHECK_EQ_INT(0, bytes_removed_by_callee(GetProcAddress(library, "vm316_post_message"), 3));
  FreeLibrary(library);
}

/* ---- Unloading ------------------------------------------------------------------------------- */

static struct library lib;
static int32_t watched_length;

static int record_of_watched_length(void) {
  uint16_t ch1 = 0, ch2 = 0;
  return lib.GetOneMeasurementRaw(watched_length - 1, &ch1, &ch2) == StatusOk && ch1 != 0;
}

static int never(void) {
  return 0;
}

static void start_continuous_acquisition(int32_t length) {
  REQUIRE(lib.InitInstrument(0x378) == StatusOk);
  watched_length = length;
  REQUIRE(lib.SetRecordLength(watched_length) == StatusOk);
  REQUIRE(lib.DoMeasure(-1) == StatusOk);
  CHECK(run_message_loop_until(record_of_watched_length, 20000));
}

/* FreeLibrary with the acquisition running: unloading stops it and takes the windows and
 * their classes along, so that nothing of the library is called after it is gone, and a new
 * load starts afresh. */
static void unloading_a_running_instrument(void) {
  SetEnvironmentVariableA("VM316_SIM_CH1", "sine:freq=1000,amp=0.5"); /* triggers at once */
  seed_calibration();
  REQUIRE(load(&lib));
  lib.vm316_set_message_handler(record_notice, NULL);
  start_continuous_acquisition(8000);
  CHECK(own_window("TDeviceMessageReceiver", NULL) != NULL);

  REQUIRE(FreeLibrary(lib.module));
  CHECK(GetModuleHandleA(kLibrary) == NULL);
  CHECK(own_window("TDeviceMessageReceiver", NULL) == NULL);
  run_message_loop_until(never, 200); /* no tick may reach the unmapped library */

  REQUIRE(load(&lib));
  lib.vm316_set_message_handler(record_notice, NULL);
  start_continuous_acquisition(10000);
  CHECK(own_window("TDeviceMessageReceiver", NULL) != NULL);
  CHECK_EQ_INT(StatusOk, lib.ExitInstrument());
  CHECK(FreeLibrary(lib.module));
  CHECK_EQ_INT(0, received.message_boxes);
}

static const struct test_case cases[] = {
    {"every_name_and_its_ordinal_reach_the_same_function",
     every_name_and_its_ordinal_reach_the_same_function},
    {"exports_remove_their_own_arguments", exports_remove_their_own_arguments},
    {"unloading_a_running_instrument", unloading_a_running_instrument},
};

int main(int argc, char** argv) {
  return run_test_case(cases, (int)(sizeof cases / sizeof cases[0]), argc, argv);
}
