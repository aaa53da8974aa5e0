/* A small test frame for the Windows test hosts: each program runs one named case per process
 * (CTest starts one process per case), in a temporary directory of its own, with the driver's
 * environment set the way a host sets it, through SetEnvironmentVariableA. */
#ifndef VM316_TESTS_WIN32_CHECK_H
#define VM316_TESTS_WIN32_CHECK_H

#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <windows.h>

extern int check_failures;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++check_failures;                                                             \
    }                                                                               \
  } while (0)

#define CHECK_EQ_INT(expected, actual)                                                   \
  do {                                                                                   \
    const long long check_expected = (long long)(expected);                              \
    const long long check_actual = (long long)(actual);                                  \
    if (check_expected != check_actual) {                                                \
      fprintf(stderr, "%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #actual, \
              check_actual, check_expected);                                             \
      ++check_failures;                                                                  \
    }                                                                                    \
  } while (0)

#define CHECK_NEAR(expected, actual, tolerance)                                            \
  do {                                                                                     \
    const double check_expected = (expected);                                              \
    const double check_actual = (actual);                                                  \
    if (!(check_actual >= check_expected - (tolerance) &&                                  \
          check_actual <= check_expected + (tolerance))) {                                 \
      fprintf(stderr, "%s:%d: %s is %g, expected %g +- %g\n", __FILE__, __LINE__, #actual, \
              check_actual, check_expected, (double)(tolerance));                          \
      ++check_failures;                                                                    \
    }                                                                                      \
  } while (0)

/* Stops the case at once (what follows would make no sense). */
#define REQUIRE(condition)                                                                \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      fprintf(stderr, "%s:%d: requirement failed: %s\n", __FILE__, __LINE__, #condition); \
      ++check_failures;                                                                   \
      return;                                                                             \
    }                                                                                     \
  } while (0)

typedef void (*test_case_function)(void);

struct test_case {
  const char* name;
  test_case_function run;
};

/* Runs the case named by argv[1] in a fresh temporary directory (removed afterwards) and
 * returns the process exit code: 0 when every check held. argv[2], when given, names the
 * directory that holds the day's calibration files (relative to the starting directory). */
int run_test_case(const struct test_case* cases, int count, int argc, char** argv);

/* The directory named by argv[2], as a full path. */
const char* calibration_directory(void);

/* Copies the day's calibration files into the current directory, so that bring-up loads them
 * instead of calibrating. */
void seed_calibration(void);

/* The top-level window of this process with the given class and title (either may be NULL). CTest
 * runs cases side by side, so another case's process may have a window of the same class. */
HWND own_window(const char* window_class, const char* title);

/* The simulated board on the virtual clock, quiet: what every case starts from. Variables not
 * named by a case keep their defaults (grounded inputs). */
void use_simulated_board(void);

/* The texts the library shows the user, as the host's message handler receives them. */
struct notices {
  int message_boxes;
  int beeps;
  int progress_shown;
  int progress_hidden;
  char last_caption[256];
  char last_text[512];
};
extern struct notices received;
void record_notice(int kind, const char* caption, const char* text, void* context);

/* Runs a Win32 message loop until done() is true or timeout_ms pass; returns done(). */
typedef int (*loop_condition)(void);
int run_message_loop_until(loop_condition done, DWORD timeout_ms);

#endif
