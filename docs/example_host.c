/* A host in a dozen lines: one record of channel 1, its amplitude printed. On the simulated board:
 *   VM316_PORT=sim VM316_CLOCK=virtual VM316_SIM_CH1=sine:freq=1000,amp=0.5 ./vm316_example_host */
#include <stdio.h>

#include "vm316.h"

#define LENGTH 10000 /* ten periods of 1 kHz at 1 MHz */

int main(void) {
  static double ch1[LENGTH], ch2[LENGTH];
  uint32_t frequency = 1000000;
  if (InitInstrument(0x378) != StatusOk) {
    fprintf(stderr, "no instrument at 0x378\n");
    return 1;
  }
  SetSampleFrequency(&frequency);
  SetRecordLength(LENGTH);
  SetPostSamples(LENGTH); /* the whole record after the trigger */
  if (StartMeasurement() != StatusOk || GetMeasurement(ch1, ch2) != StatusOk) return 1;
  double low = ch1[0], high = ch1[0];
  for (int i = 1; i < LENGTH; ++i) {
    if (ch1[i] < low) low = ch1[i];
    if (ch1[i] > high) high = ch1[i];
  }
  printf("channel 1: %.3f V amplitude, sampled at %u Hz\n", (high - low) / 2, frequency);
  return ExitInstrument();
}
