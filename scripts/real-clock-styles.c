/* Records per second on the real clock in each measurement style, with 256 of 512 samples
 * before the trigger and with none, and a host-side auto trigger: a small C host as the
 * programs written for the board are, for Linux (against build/libvm316.so) and for the DLL
 * (built with the MinGW cross compiler, run under Wine). docs/performance.md has the figures.
 *
 *   cc -O2 -I include scripts/real-clock-styles.c -o styles -L build -lvm316 \
 *      -Wl,-rpath,$PWD/build
 *   i686-w64-mingw32-gcc -O2 -I include scripts/real-clock-styles.c -o styles.exe \
 *      -L build-mingw32 -lvm316 -static-libgcc
 *   VM316_PORT=sim VM316_MESSAGES=quiet VM316_SIM_CH1=sine:freq=10000,amp=0.5 \
 *      ./styles [RATE_HZ [SECONDS]]        (default 1 MHz, 3 s per case)
 *
 * The first run in a directory calibrates (some seconds on the real clock). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vm316.h"

#ifdef _WIN32
#include <windows.h>
static double now_s(void) {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return (double)counter.QuadPart / (double)frequency.QuadPart;
}
static void sleep_ms(int ms) {
  Sleep((DWORD)ms);
}
/* The host's own message loop drives the acquisition timer. */
static void pump(void) {
  MSG message;
  MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
#else
#include <time.h>

#include "vm316_host.h"
static double now_s(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}
static void sleep_ms(int ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}
static void pump(void) {
  vm316_pump_messages(10);
}
#endif

enum { kLength = 512, kStyles = 4 };
static const char* const kStyleNames[kStyles] = {"StartMeasurement", "block, polled", "continuous",
                                                 "block, Sleep(1) polls"};
static uint16_t ch1[kLength], ch2[kLength], last[kLength];

static void use_geometry(uint32_t post, double rate) {
  double frequency = rate;
  SetPostSamples(0);
  SetRecordLength(kLength);
  SetPostSamples(post);
  SetSampleFrequencyF(&frequency);
}

/* One record in the style; continuous counts a record when the buffers change. */
static int take(int style) {
  switch (style) {
    case 0:
      return StartMeasurement() == StatusOk;
    case 1:
      ADC_Start();
      while (!ADC_Ready()) {
      }
      return ADC_GetData(ch1, ch2) == StatusOk;
    case 3:
      ADC_Start();
      do sleep_ms(1);
      while (!ADC_Ready());
      return ADC_GetData(ch1, ch2) == StatusOk;
    default:
      pump();
      GetMeasurementRaw(ch1, ch2);
      if (memcmp(ch1, last, sizeof ch1) == 0) return 0;
      memcpy(last, ch1, sizeof ch1);
      return 1;
  }
}

static double records_per_second(int style, double seconds) {
  int records = 0;
  if (style == 2) DoMeasure(-1);
  const double start = now_s();
  while (now_s() - start < seconds) records += take(style);
  const double elapsed = now_s() - start;
  if (style == 2) DoMeasure(0);
  return records / elapsed;
}

/* Arm, do something else for 50 ms, force unless ADC_Triggered says the trigger came. */
static int forced_of_twenty(void) {
  int forced = 0;
  for (int record = 0; record < 20; ++record) {
    ADC_Start();
    sleep_ms(50);
    if (ADC_Triggered() == 0) {
      ADC_ForceTrig();
      ++forced;
    }
    while (!ADC_Ready()) {
    }
    ADC_GetData(ch1, ch2);
  }
  return forced;
}

int main(int argc, char** argv) {
  const double rate = argc > 1 ? atof(argv[1]) : 1e6;
  const double seconds = argc > 2 ? atof(argv[2]) : 3.0;
  if (InitInstrument(0x378) != StatusOk) {
    puts("no instrument");
    return 1;
  }
  for (int style = 0; style < kStyles; ++style) {
    double rates[2];
    for (int part = 0; part < 2; ++part) {
      use_geometry(part == 0 ? kLength / 2 : kLength, rate);
      records_per_second(style, 0.2); /* the first records reprogram the front end */
      rates[part] = records_per_second(style, seconds);
    }
    printf("%-22s %.0f Hz: 256 before the trigger %.1f records/s, none %.1f, ratio %.3f\n",
           kStyleNames[style], rate, rates[0], rates[1], rates[0] / rates[1]);
    fflush(stdout);
  }
  use_geometry(kLength / 2, rate);
  printf("auto trigger at %.0f Hz: %d of 20 records forced\n", rate, forced_of_twenty());
  ExitInstrument();
  return 0;
}
