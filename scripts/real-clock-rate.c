/* How often StartMeasurement delivers a record on the simulated board with the real clock, and
 * the process's CPU time per record: a host that measures in a loop, as a newcomer's first
 * program does. Built and run by scripts/real-clock-rate.sh, for Linux and for the DLL under
 * Wine.
 *
 *   real-clock-rate SAMPLE_HZ SECONDS [RECORD_LENGTH POST_SAMPLES]
 *
 * The board's inputs come from VM316_SIM_CH1 and VM316_SIM_CH2 as usual. Prints one line:
 * sample rate, records, records per second, CPU milliseconds per record, the statuses that were
 * not StatusOk. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "vm316.h"

#ifdef _WIN32
#include <windows.h>

static double WallSeconds(void) {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return (double)count.QuadPart / (double)frequency.QuadPart;
}

static double CpuSeconds(void) {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const double ticks =
      (double)(((unsigned long long)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime) +
      (double)(((unsigned long long)user.dwHighDateTime << 32) | user.dwLowDateTime);
  return ticks * 1e-7;
}
#else
static double WallSeconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

static double CpuSeconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}
#endif

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    fprintf(stderr, "usage: %s SAMPLE_HZ SECONDS [RECORD_LENGTH POST_SAMPLES]\n", argv[0]);
    return 2;
  }
  uint32_t frequency = (uint32_t)strtoul(argv[1], NULL, 10);
  const double seconds = strtod(argv[2], NULL);
  const int32_t length = argc == 5 ? (int32_t)strtol(argv[3], NULL, 10) : 512;
  const int32_t post = argc == 5 ? (int32_t)strtol(argv[4], NULL, 10) : 256;
  if (InitInstrument(0x378) != StatusOk) {
    fprintf(stderr, "no instrument at 0x378\n");
    return 1;
  }
  SetSampleFrequency(&frequency);
  SetRecordLength(length);
  SetPostSamples(post);
  StartMeasurement(); /* the first record also switches the relays */

  long records = 0, failures = 0;
  const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
  double wall = 0.0;
  while ((wall = WallSeconds() - wall0) < seconds) {
    if (StartMeasurement() == StatusOk) {
      ++records;
    } else {
      ++failures;
    }
  }
  const double cpu = CpuSeconds() - cpu0;
  printf("%u Hz: %ld records in %.2f s: %.1f records/s, %.3f ms CPU per record, %ld failed\n",
         frequency, records, wall, (double)records / wall,
         records > 0 ? cpu * 1e3 / (double)records : 0.0, failures);
  ExitInstrument();
  return 0;
}
