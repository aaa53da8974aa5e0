/* The rules the vm316 hosts share, for hosts that are not C++ (Python by ctypes): how a
 * setting's text is read and checked against the board's limits, whether a record went over
 * its range, and why a forced record was forced. They call libvm316 (the board's limits are its
 * capability lists), so the same process must have it loaded and, for the limits, open. */
#ifndef VM316_HOST_C_H
#define VM316_HOST_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define VM316_HOST_C_API __declspec(dllexport)
#else
#define VM316_HOST_C_API __attribute__((visibility("default")))
#endif

/* What vm316_read_setting answers. */
enum {
  VM316_SETTING_OK = 0,
  VM316_SETTING_MALFORMED = 1, /* no such setting, or a text its rule does not take */
  VM316_SETTING_OUTSIDE = 2    /* beyond what the board does: refused, never the nearest value */
};
/* Bits of *flags. */
enum { VM316_SETTING_AUTO = 1, VM316_SETTING_NONE = 2 };

/* Reads `text` as the value of the setting `key` ("rate", "ch1.range", "generator", ...; the
 * keys of vm316 serve) by the command line's rules: SI prefixes and units, words in any case.
 * On VM316_SETTING_OK *number holds the value (Hz, samples, per cent, volts, ms), *flags
 * VM316_SETTING_AUTO or VM316_SETTING_NONE, and `word` (word_size bytes, always terminated) the
 * word of a choice ("ac", "rising"). Otherwise `why` (why_size bytes) says why, in the words of
 * the command line. Any output pointer may be null. */
VM316_HOST_C_API int vm316_read_setting(const char* key, const char* text, double* number,
                                        int* flags, char* word, size_t word_size, char* why,
                                        size_t why_size);

/* 1 when a sample of the `count` raw samples touched the converter's limits (the driver's own
 * clipping test: a converter byte of 0..2 or 254..255), else 0. */
VM316_HOST_C_API int vm316_over_range(const uint16_t* samples, size_t count);

/* For a forced record whose trigger channel (`volts`, `count` samples, at the input) never went
 * past the comparator's re-arm level (level - hysteresis rising, level + hysteresis falling):
 * writes why into `text` (size bytes), naming the hysteresis as `setting`, and answers 1; else
 * writes "" and answers 0. */
VM316_HOST_C_API int vm316_describe_rearm(int channel, int falling, double level, double hysteresis,
                                          const double* volts, size_t count, const char* setting,
                                          char* text, size_t size);

/* The measurements every vm316 front end shows, in the order of vm316_trace_statistics's
 * values: the levels and frequency of measure's first table, then the pulse measurements of
 * its second (seconds; the duty cycle and overshoot as fractions). */
enum {
  VM316_STATISTICS_MIN,
  VM316_STATISTICS_MAX,
  VM316_STATISTICS_PEAK_TO_PEAK,
  VM316_STATISTICS_MEAN,
  VM316_STATISTICS_RMS,
  VM316_STATISTICS_FREQUENCY,
  VM316_STATISTICS_PERIOD,
  VM316_STATISTICS_RISE_TIME,
  VM316_STATISTICS_FALL_TIME,
  VM316_STATISTICS_POSITIVE_WIDTH,
  VM316_STATISTICS_NEGATIVE_WIDTH,
  VM316_STATISTICS_DUTY_CYCLE,
  VM316_STATISTICS_OVERSHOOT,
  VM316_STATISTICS_COUNT
};

/* The measurements of one channel's record: `count` samples in volts and the same as raw codes
 * (for the over-range test), taken at `sample_rate` Hz on a range of `full_scale` volts (its
 * converter step sets the noise floor). Writes VM316_STATISTICS_COUNT values, NaN where the
 * record cannot give one ("--" on the command line). Answers 0, or -1 for a null pointer, too
 * small a `values`, or a rate or full scale that is not positive. */
VM316_HOST_C_API int vm316_trace_statistics(const double* volts, const uint16_t* raw, size_t count,
                                            double sample_rate, double full_scale, double* values,
                                            size_t value_count);

/* The number of bins of the spectrum of `count` samples: 0 Hz to half the sample rate. */
VM316_HOST_C_API size_t vm316_spectrum_bins(size_t count);

/* The amplitude spectrum of `count` samples in volts at `sample_rate` Hz through `window`
 * ("hann", "flattop", "rect"), as measure --spectrum computes it: dBV per bin into `dbv`
 * (dbv_count >= vm316_spectrum_bins(count)), the bin width into *bin_hz, and into `lines` pairs
 * of frequency and level, the peak first, then its 2nd, 3rd ... harmonics (NaN where there is
 * none). `text` gets measure's line for channel `channel`. Answers the number of bins, or -1
 * with why in `text` (a window of another name, too few samples or bins, no FFT library in
 * this build). */
VM316_HOST_C_API int vm316_spectrum(int channel, const double* volts, size_t count,
                                    double sample_rate, const char* window, double* dbv,
                                    size_t dbv_count, double* bin_hz, double* lines,
                                    size_t line_count, char* text, size_t text_size);

#ifdef __cplusplus
}
#endif

#endif /* VM316_HOST_C_H */
