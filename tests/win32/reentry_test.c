/* A 32-bit Windows host that is hard on the library: it runs in other floating-point
 * environments, closes the instrument from its own window procedure while a message box of the
 * library is up, calls from a second thread, and floods the hidden window with posts. */
#include <fenv.h>
#include <float.h>
#include <math.h>
#include <string.h>

#include "check.h"
#include "vm316.h"
#include "vm316_host.h"

enum { kSimBase = 0x378, kWmDeviceArrived = WM_USER + 13, kTranscriptLength = 4096 };

/* ---- Floating-point environments ------------------------------------------------------------ */

/* Everything a host sees of a run, as raw words: statuses, values, codes, records. */
static unsigned long long transcript[kTranscriptLength];
static int transcript_length;

static void add_word(unsigned long long word) {
  if (transcript_length < kTranscriptLength) transcript[transcript_length++] = word;
}
static void add_double(double value) {
  unsigned long long bits;
  memcpy(&bits, &value, sizeof bits);
  add_word(bits);
}

static void configure_and_measure(void) {
  static const double code_step = 0.8 / 128;
  const double requests[] = {3.0, HUGE_VAL, -HUGE_VAL, 0.7, 0.8};
  for (int i = 0; i < 5; ++i) {
    double volts = requests[i];
    add_word(SetSensitivity(1, &volts));
    add_double(volts);
  }
  const double levels[] = {0.5 * code_step, 1.5 * code_step, -2.5 * code_step, 0.3};
  for (int i = 0; i < 4; ++i) {
    double read = 0;
    add_word(SetTriggerLevel(1, levels[i]));
    add_word(GetTriggerLevel(1, &read));
    add_double(read);
  }
  const double hystereses[] = {2.5 * code_step, 0.5 * code_step, -HUGE_VAL};
  for (int i = 0; i < 3; ++i) {
    double read = 0;
    add_word(SetTriggerHys(2, hystereses[i]));
    add_word(GetTriggerHys(2, &read));
    add_double(read);
  }
  const uint32_t frequencies[] = {3000000u, 1234567u, 333333u};
  for (int i = 0; i < 3; ++i) {
    uint32_t hertz = frequencies[i];
    add_word(SetSampleFrequency(&hertz));
    add_word(hertz);
    add_double(GetSampleFrequencyF());
  }
  double frequency = 2.5e6 / 3;
  add_word(SetSampleFrequencyF(&frequency));
  add_double(frequency);
  add_word(SetTriggerTimeOut(1501));
  add_word((uint32_t)GetTriggerTimeOut());
  add_word(SetDcLevel(1, 0.1));
  double dc = 0;
  add_word(GetDcLevel(1, &dc));
  add_double(dc);
  add_word(SetRecordLength(500));
  add_word(SetTriggerLevel(1, 0.0));
  add_word(StartMeasurement());
  static uint16_t raw1[501], raw2[501];
  static double volts1[501], volts2[501];
  add_word(GetMeasurementRaw(raw1, raw2));
  add_word(GetMeasurement(volts1, volts2));
  for (int i = 0; i < 500; ++i) {
    add_word(raw1[i]);
    add_double(volts1[i]);
    add_double(volts2[i]);
  }
}

struct host_environment {
  const char* name;
  unsigned int control; /* _controlfp bits: rounding, precision, exception masks */
};

static int run_in(const struct host_environment* host, unsigned long long* words) {
  transcript_length = 0;
  if (InitInstrument(kSimBase) != StatusOk) return -1;
  const unsigned int saved = _controlfp(0, 0);
  feclearexcept(FE_ALL_EXCEPT);
  _controlfp(host->control, _MCW_RC | _MCW_PC | _MCW_EM);
  const unsigned int before = _controlfp(0, 0);
  configure_and_measure();
  const unsigned int after = _controlfp(0, 0);
  const int raised = fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  _controlfp(saved, _MCW_RC | _MCW_PC | _MCW_EM);
  ExitInstrument();
  if (after != before) fprintf(stderr, "%s: control word changed\n", host->name);
  if (raised != 0) fprintf(stderr, "%s: flags raised into the host: %x\n", host->name, raised);
  memcpy(words, transcript, sizeof transcript);
  return after == before && raised == 0 ? transcript_length : -1;
}

/* Whether the processor loads a double into the x87 exactly under reduced precision control,
 * as the x87 does: the precision field governs arithmetic only. An emulator that rounds the load
 * itself changes a host's own arguments before the library is entered, so reduced-precision
 * hosts can then only be checked for faults and for their environment, not bit for bit. */
static int loads_are_exact_under_reduced_precision(void) {
  const volatile double third = 1.0 / 3.0;
  volatile double copy = 0.0;
  const unsigned int saved = _controlfp(0, 0);
  _controlfp(_PC_24, _MCW_PC);
  __asm__ __volatile__("fldl %1\n\tfstpl %0" : "=m"(copy) : "m"(third));
  _controlfp(saved, _MCW_PC);
  return copy == third;
}

static void every_environment_gets_the_same_answers(void) {
  seed_calibration();
  /* DC inputs: a record then does not depend on the sub-millisecond phase of the clock at which
   * each run happens to start. */
  SetEnvironmentVariableA("VM316_SIM_CH1", "dc:offset=0.31");
  SetEnvironmentVariableA("VM316_SIM_CH2", "dc:offset=-0.2");
  static unsigned long long reference[kTranscriptLength];
  static unsigned long long words[kTranscriptLength];
  const struct host_environment standard = {"default", _RC_NEAR | _PC_64 | _MCW_EM};
  /* The first bring-up of the process starts the board from another state than the later ones:
   * the reference is the second run in the default environment. */
  REQUIRE(run_in(&standard, reference) > 1000);
  const int length = run_in(&standard, reference);
  REQUIRE(length > 1000);
  const int exact_loads = loads_are_exact_under_reduced_precision();
  if (!exact_loads) {
    fprintf(stderr,
            "this processor rounds x87 loads to the precision control (an emulator): "
            "reduced-precision hosts are checked for faults and environment only\n");
  }
  /* Invalid, zero-divide and overflow unmasked: any of them would fault in the host. */
  const unsigned int traps = _EM_INEXACT | _EM_UNDERFLOW | _EM_DENORMAL;
  const struct host_environment hosts[] = {
      {"near, traps", _RC_NEAR | _PC_64 | traps},   {"up, traps", _RC_UP | _PC_64 | traps},
      {"down, traps", _RC_DOWN | _PC_64 | traps},   {"chop, traps", _RC_CHOP | _PC_64 | traps},
      {"53-bit, traps", _RC_NEAR | _PC_53 | traps}, {"53-bit, up", _RC_UP | _PC_53 | _MCW_EM},
      {"24-bit, traps", _RC_NEAR | _PC_24 | traps}, {"24-bit, down", _RC_DOWN | _PC_24 | _MCW_EM},
  };
  for (size_t i = 0; i < sizeof hosts / sizeof hosts[0]; ++i) {
    const int got = run_in(&hosts[i], words);
    CHECK_EQ_INT(length, got);
    const int reduced = (hosts[i].control & _MCW_PC) != _PC_64;
    if (got != length || (reduced && !exact_loads)) continue;
    for (int word = 0; word < length; ++word) {
      if (words[word] == reference[word]) continue;
      fprintf(stderr,
              "%s: other answers than the default environment's, first at word %d: %llx"
              " instead of %llx\n",
              hosts[i].name, word, words[word], reference[word]);
      ++check_failures;
      break;
    }
  }
}

/* ---- Closing from a window procedure while a message box of the library is up -------------- */

static struct {
  UINT_PTR timer;
  int exits;
  uint16_t exit_status;
  uint16_t channels_status;
  uint16_t init_status;
} host_window;

/* The host's timer fires in the message box's modal loop: the host closes the instrument (and
 * tries to reopen it), then dismisses the box. */
static BOOL CALLBACK dismiss_box(HWND window, LPARAM unused) {
  (void)unused;
  char window_class[16];
  if (GetClassNameA(window, window_class, sizeof window_class) > 0 &&
      strcmp(window_class, "#32770") == 0) {
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

static LRESULT CALLBACK host_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER) {
    if (host_window.exits == 0) {
      uint16_t channels = 0;
      host_window.exit_status = ExitInstrument();
      host_window.channels_status = GetNrChannels(&channels);
      host_window.init_status = InitInstrument(kSimBase);
    }
    ++host_window.exits;
    EnumThreadWindows(GetCurrentThreadId(), dismiss_box, 0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

static HWND make_host_window(void) {
  WNDCLASSA window_class;
  memset(&window_class, 0, sizeof window_class);
  window_class.lpfnWndProc = host_procedure;
  window_class.hInstance = GetModuleHandleA(NULL);
  window_class.lpszClassName = "vm316 reentrant host";
  RegisterClassA(&window_class);
  const HWND window = CreateWindowExA(0, "vm316 reentrant host", "host", WS_OVERLAPPED, 0, 0, 10,
                                      10, NULL, NULL, GetModuleHandleA(NULL), NULL);
  memset(&host_window, 0, sizeof host_window);
  SetTimer(window, 1, 20, NULL);
  return window;
}

static void check_closed_from_the_host(void) {
  CHECK(host_window.exits >= 1);
  CHECK_EQ_INT(StatusOk, host_window.exit_status);
  CHECK_EQ_INT(StatusNoHardware, host_window.channels_status);
  CHECK_EQ_INT(StatusNoHardware, host_window.init_status);
  uint16_t channels = 0;
  CHECK_EQ_INT(StatusNoHardware, GetNrChannels(&channels));
}

/* The calibration-failure box of the bring-up (the system's own message box). */
static void exit_from_a_window_procedure_during_the_calibration_box(void) {
  SetEnvironmentVariableA("VM316_MESSAGES", NULL);
  SetEnvironmentVariableA("VM316_SIM_FAULT", "dead-converter2");
  const HWND window = make_host_window();
  CHECK_EQ_INT(StatusNoHardware, InitInstrument(kSimBase));
  check_closed_from_the_host();
  DestroyWindow(window);
  SetEnvironmentVariableA("VM316_SIM_FAULT", NULL);
  seed_calibration();
  CHECK_EQ_INT(StatusOk, InitInstrument(kSimBase));
  CHECK_EQ_INT(StatusOk, StartMeasurement());
  ExitInstrument();
}

static int box_dismissed(void) {
  return host_window.exits >= 1;
}

/* The hidden window's own box: closing there destroys the window whose procedure runs. */
static void exit_from_a_window_procedure_during_the_device_arrival_box(void) {
  seed_calibration();
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  SetEnvironmentVariableA("VM316_MESSAGES", NULL);
  vm316_set_message_handler(NULL, NULL);
  /* The message sink is read when the instrument is made: open it again with the system's. */
  ExitInstrument();
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  const HWND window = make_host_window();
  CHECK_EQ_INT(VM316_POST_DONE, vm316_post_message(kWmDeviceArrived, 0, 0));
  CHECK(run_message_loop_until(box_dismissed, 5000));
  check_closed_from_the_host();
  CHECK_EQ_INT(VM316_POST_NO_WINDOW, vm316_post_message(kWmDeviceArrived, 0, 0));
  DestroyWindow(window);
}

/* ---- Another thread ------------------------------------------------------------------------- */

static DWORD WINAPI foreign_calls(LPVOID unused) {
  (void)unused;
  uint16_t channels = 77;
  double volts = 5.0;
  CHECK_EQ_INT(StatusNoHardware, ExitInstrument());
  CHECK_EQ_INT(StatusNoHardware, InitInstrument(kSimBase));
  CHECK_EQ_INT(StatusNoHardware, GetNrChannels(&channels));
  CHECK_EQ_INT(StatusNoHardware, SetSensitivity(1, &volts));
  CHECK_EQ_INT(StatusNoHardware, StartMeasurement());
  CHECK_EQ_INT(0, GetRecordLength());
  CHECK_EQ_INT(1, GetTriggerTimeOut());
  CHECK_EQ_INT(0, vm316_pump_messages(0));
  CHECK_EQ_INT(VM316_POST_NO_WINDOW, vm316_post_message(kWmDeviceArrived, 0, 0));
  CHECK_EQ_INT(77, channels);
  CHECK(volts == 5.0);
  return 0;
}

static void calls_from_another_thread_are_refused(void) {
  seed_calibration();
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  double volts = 2.0;
  CHECK_EQ_INT(StatusOk, SetSensitivity(1, &volts));
  const HANDLE thread = CreateThread(NULL, 0, foreign_calls, NULL, 0, NULL);
  REQUIRE(thread != NULL);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CHECK_EQ_INT(StatusOk, GetSensitivity(1, &volts));
  CHECK(volts == 2.0);
  CHECK_EQ_INT(StatusOk, StartMeasurement());
  ExitInstrument();
}

/* An owner that ends without ExitInstrument: InitInstrument from another thread takes the
 * instrument over as it stands, with a timer and a hidden window of the new owner's. */
static DWORD WINAPI owner_that_ends(LPVOID unused) {
  (void)unused;
  double volts = 2.0;
  CHECK_EQ_INT(StatusOk, InitInstrument(kSimBase));
  CHECK_EQ_INT(StatusOk, SetSensitivity(1, &volts));
  CHECK_EQ_INT(StatusOk, SetRecordLength(8000));
  CHECK_EQ_INT(StatusOk, DoMeasure(-1));
  return 0;
}

static int record_taken(void) {
  uint16_t ch1 = 0, ch2 = 0;
  return GetOneMeasurementRaw(7999, &ch1, &ch2) == StatusOk && ch1 != 0;
}

static void a_thread_takes_over_from_an_owner_that_ended(void) {
  seed_calibration();
  const HANDLE thread = CreateThread(NULL, 0, owner_that_ends, NULL, 0, NULL);
  REQUIRE(thread != NULL);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  uint16_t channels = 0;
  CHECK_EQ_INT(StatusNoHardware, GetNrChannels(&channels));
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  double volts = 0;
  CHECK_EQ_INT(StatusOk, GetSensitivity(1, &volts));
  CHECK(volts == 2.0);
  CHECK(run_message_loop_until(record_taken, 20000)); /* the timer ticks here now */
  CHECK_EQ_INT(VM316_POST_DONE, vm316_post_message(WM_DEVICECHANGE, 0, 0));
  CHECK_EQ_INT(StatusOk, ExitInstrument());
}

/* ---- The posted-message bound --------------------------------------------------------------- */

static void posts_past_the_bound_are_dropped(void) {
  seed_calibration();
  REQUIRE(InitInstrument(kSimBase) == StatusOk);
  int posted = 0;
  int32_t last = VM316_POST_DONE;
  while (posted < 2 * VM316_POSTED_MESSAGE_LIMIT && last == VM316_POST_DONE) {
    last = vm316_post_message(WM_DEVICECHANGE, 0, 0);
    if (last == VM316_POST_DONE) ++posted;
  }
  CHECK_EQ_INT(VM316_POST_QUEUE_FULL, last);
  CHECK(posted <= VM316_POSTED_MESSAGE_LIMIT);
  CHECK(posted >= VM316_POSTED_MESSAGE_LIMIT - 100); /* the system's own messages count too */
  ExitInstrument();
}

static const struct test_case cases[] = {
    {"every_environment_gets_the_same_answers", every_environment_gets_the_same_answers},
    {"exit_from_a_window_procedure_during_the_calibration_box",
     exit_from_a_window_procedure_during_the_calibration_box},
    {"exit_from_a_window_procedure_during_the_device_arrival_box",
     exit_from_a_window_procedure_during_the_device_arrival_box},
    {"calls_from_another_thread_are_refused", calls_from_another_thread_are_refused},
    {"a_thread_takes_over_from_an_owner_that_ended", a_thread_takes_over_from_an_owner_that_ended},
    {"posts_past_the_bound_are_dropped", posts_past_the_bound_are_dropped},
};

int main(int argc, char** argv) {
  return run_test_case(cases, (int)(sizeof cases / sizeof cases[0]), argc, argv);
}
