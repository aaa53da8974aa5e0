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

#ifdef __cplusplus
}
#endif

#endif /* VM316_HOST_C_H */
