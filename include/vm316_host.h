/* Host-side extras of the vm316 driver library for systems without a window-message loop.
 *
 * On Windows the host's own message loop drives the acquisition timer and the hidden window;
 * elsewhere the host calls vm316_pump_messages() from the thread that called InitInstrument.
 * The library never starts a thread and never blocks on the user: the texts of message boxes
 * go to a handler the host installs, or to stderr (VM316_MESSAGES=stderr, the default), or
 * nowhere (VM316_MESSAGES=quiet). On Windows the default is the system's modal message box,
 * which does wait for the user; stderr and quiet are there for unattended runs. */
#ifndef VM316_HOST_H
#define VM316_HOST_H

#include <stdint.h>

#include "vm316.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every function here, like every export of vm316.h, belongs to the thread that called
 * InitInstrument while the instrument is open: from another thread it does nothing and returns
 * 0 (VM316_POST_NO_WINDOW for vm316_post_message). */

/* Dispatches due timer ticks and posted window messages on the thread that called
 * InitInstrument, waiting at most max_wait_ms for the next one (on the virtual clock the wait
 * advances the clock instead of sleeping). Returns how many it dispatched. */
VM316_API uint32_t vm316_pump_messages(uint32_t max_wait_ms);

/* What a message handler receives. */
enum {
  VM316_NOTICE_MESSAGE_BOX = 0,   /* a modal message box: caption and text */
  VM316_NOTICE_BEEP = 1,          /* the default system beep; no text */
  VM316_NOTICE_PROGRESS_SHOW = 2, /* the progress window appears: caption and label text */
  VM316_NOTICE_PROGRESS_HIDE = 3  /* the progress window is gone */
};

typedef void (*vm316_message_handler)(int kind, const char* caption, const char* text,
                                      void* context);

/* Installs the handler that receives every text for the user (null restores the default).
 *
 * The handler runs inside the call that shows the text (InitInstrument's calibration, for
 * example), in the host's own floating-point environment, and may call any export. A call that
 * would destroy what that outer call still uses is deferred: ExitInstrument returns StatusOk
 * and every export answers as after ExitInstrument at once, but the instrument is destroyed
 * when the outermost call returns (the outer InitInstrument then answers StatusNoHardware). An
 * InitInstrument from inside a handler does not open a new instrument: it answers for the one
 * that exists, or StatusNoHardware. */
VM316_API void vm316_set_message_handler(vm316_message_handler handler, void* context);

/* What vm316_post_message returns. At most VM316_POSTED_MESSAGE_LIMIT posted messages wait for
 * dispatch (the window system's own limit per thread); a post past it is dropped. */
#define VM316_POSTED_MESSAGE_LIMIT 10000
enum {
  VM316_POST_DONE = 1,       /* posted */
  VM316_POST_NO_WINDOW = 0,  /* no hidden window (no instrument), or called from another thread */
  VM316_POST_QUEUE_FULL = -1 /* VM316_POSTED_MESSAGE_LIMIT messages wait already: dropped */
};

/* Posts a window message to the library's hidden window, as another program would (for
 * example WM_USER + 13). It is handled at the next vm316_pump_messages(). */
VM316_API int32_t vm316_post_message(uint32_t message, uintptr_t wparam, intptr_t lparam);

/* The system-wide window-message registry: the same name always gives the same id, ids start
 * at 0xC000. Returns 0 for a null or empty name. */
VM316_API uint32_t vm316_register_window_message(const char* name);

/* The longest a sound board takes to complete one record, in milliseconds: the library's own
 * rule, the one StartMeasurement gives up by. sample_frequency is the frequency the board runs
 * at (GetSampleFrequencyF), pre_samples and post_samples the record's split (GetRecordLength -
 * GetPostSamples, and GetPostSamples), trigger_timeout_ms the time-out as SetTriggerTimeOut
 * takes it (-1 for none).
 *
 * The bound counts from the arm: the hold-off that lets the pre-trigger part be recorded, the
 * time-out when it forces a trigger, the post-trigger samples and the board's stop latency in
 * sample periods, and a second of slack. A time-out of -1 (or of 100 s and more) never forces:
 * the wait for the trigger is then the host's, and the bound counts from the moment
 * ADC_Triggered shows the trigger. Returns -1 for a frequency that is not a positive number or a
 * time-out that is not a number. */
VM316_API double vm316_record_bound_ms(double sample_frequency, int32_t pre_samples,
                                       int32_t post_samples, double trigger_timeout_ms);

#ifdef __cplusplus
}
#endif

#endif /* VM316_HOST_H */
