/* The C interface of the vm316 driver library: the two-channel, 8-bit, 20 MHz digitising
 * oscilloscope board on eight consecutive I/O ports.
 *
 * The 115 functions below are shared with other instruments of the same family; those for
 * facilities this board does not have are present and answer with a status code that says so.
 * Every function returns a status code unless its comment names another result. Inputs are
 * passed by value; outputs (and some real-valued inputs) through pointers to variables the
 * caller owns, written only when the call succeeds unless the comment says otherwise. On
 * 32-bit Windows every argument fills one stack slot, a double passed by value two.
 * Channels are numbered from 1.
 *
 * Check order. A function checks, stopping at the first failure: the instrument is present
 * (else StatusNoHardware: no InitInstrument yet, the board did not answer it, or ExitInstrument
 * came since), the library is initialised (acquisition control only, StatusNotInitialized),
 * the model offers the function (StatusNotSupported, StatusNoGenerator), the channel
 * (StatusInvalidChannel), the values (StatusInvalidValue). So before a successful
 * InitInstrument every function that checks the instrument answers StatusNoHardware, the
 * acquisition-control functions too.
 *
 * Threads. The library takes no locks and starts no thread of its own; its timer and hidden
 * window belong to the thread that called InitInstrument, and port access is granted to that
 * thread alone. While an instrument is open (from InitInstrument until ExitInstrument), a call
 * from any other thread is refused before it touches anything: a function that returns a
 * status answers StatusNoHardware (the first answer of the check order: there is no instrument
 * for that thread; ExitInstrument too, as it closes nothing), one that returns a value answers
 * what it answers without an instrument. Before InitInstrument and after ExitInstrument any
 * thread may call; the next InitInstrument makes its thread the owner.
 *
 * An owner thread that ends without ExitInstrument: the instrument stays open and the other
 * functions still refuse every other thread, but the next InitInstrument or ExitInstrument
 * from another thread takes it over. InitInstrument keeps it as it stands (no new bring-up;
 * settings, calibration and a running DoMeasure acquisition kept), makes the calling thread the
 * owner with a timer and hidden window of its own, and answers as a second InitInstrument does;
 * ExitInstrument closes it and answers StatusOk.
 *
 * Re-entry. A message handler (vm316_host.h), a window procedure the host runs while a message
 * box of the library is up, or any code the library calls out to may call back into these
 * functions. ExitInstrument from there returns StatusOk and the instrument is closed to every
 * function at once, but it is destroyed only when the outermost call of the library returns;
 * InitInstrument from there opens no new instrument.
 *
 * Floating point. Every call computes in the library's own environment (round to nearest, all
 * exceptions masked, extended x87 precision) and gives the caller's back on return, status
 * flags included: results do not depend on the host's rounding mode, precision control or
 * exception masks, and no floating-point exception reaches the host. */
#ifndef VM316_H
#define VM316_H

#include <stdint.h>

/* The callee removes its arguments on 32-bit Windows; elsewhere the platform's own C call. */
#if defined(_WIN32) && !defined(_WIN64)
#define VM_CALL __stdcall
#else
#define VM_CALL
#endif

#if defined(_WIN32)
#if defined(VM316_BUILDING_LIBRARY)
#define VM316_API __declspec(dllexport)
#else
#define VM316_API __declspec(dllimport)
#endif
#else
#define VM316_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes: single values, never combined. ---------------------------------------- */

enum {
  StatusOk = 0,              /* done */
  StatusNoHardware = 1,      /* no instrument (none opened, it did not answer at InitInstrument,
                                or closed), or a call from another thread */
  StatusNotInitialized = 2,  /* acquisition control only, after the instrument check: no
                                bring-up has completed in this load of the library (seen
                                only from a message handler during the first InitInstrument) */
  StatusNotSupported = 4,    /* this instrument does not offer the function */
  StatusNoGenerator = 8,     /* this instrument has no such generator */
  StatusInvalidChannel = 16, /* channel 0, or above the channel count */
  StatusInvalidValue = 32    /* an argument outside the allowed set or range */
};

/* ---- Enumerations: each value is held in one byte. --------------------------------------- */

/* Trigger source. This board accepts tsCh1, tsCh2, tsExternal, tsAnd, tsOr and tsNoTrig. */
typedef uint8_t TTrigSource;
enum {
  tsCh1 = 0,
  tsCh2 = 1,
  tsCh3 = 2,
  tsCh4 = 3,
  tsExternal = 4,
  tsAnaExt = 5,
  tsAnd = 6,
  tsOr = 7,
  tsXor = 8,
  tsNoTrig = 9,
  tsNeverTrig = 10,
  tsPxiExt = 11,
  tsGenStart = 12,
  tsGenStop = 13,
  tsGenNew = 14,
  tsUnknown = 15
};

/* Channels to record: a channel bit set (bit 0 = channel 1 ... bit 3 = channel 4), or mXY.
 * This board accepts mNone, mCh1, mCh2, mCh12 and mXY. */
typedef uint8_t TMeasureMode;
enum {
  mNone = 0,
  mCh1 = 1,
  mCh2 = 2,
  mCh12 = 3,
  mCh3 = 4,
  mCh13 = 5,
  mCh23 = 6,
  mCh123 = 7,
  mCh4 = 8,
  mCh14 = 9,
  mCh24 = 10,
  mCh124 = 11,
  mCh34 = 12,
  mCh134 = 13,
  mCh234 = 14,
  mCh1234 = 15,
  mXY = 16
};

/* How the acquisition timer measures: repeatedly, not at all, or once and then hold. */
typedef uint8_t TAcquisitionMode;
enum { amContinuous = 0, amHold = 1, amOneShot = 2 };

/* How records reach the host. This board transfers whole blocks only. */
typedef uint8_t TTransferMode;
enum { tmBlock = 0, tmStream = 1 };

/* Trigger slope of a channel (GetTriggerMode, SetTriggerModeCh, ...). This board stores only
 * these two; 2 to 11 are not supported and 12 and above are invalid. */
enum { SlopeRising = 0, SlopeFalling = 1 };

/* ---- Lifecycle and identification -------------------------------------------------------- */

/* Finds the board at I/O port base address, calibrates and programs it; StatusOk or
 * StatusNoHardware. A second call only reports whether the board is present (also the call that
 * takes over the instrument of an owner thread that ended: see Threads above). */
VM316_API uint16_t VM_CALL InitInstrument(uint16_t address);
/* Stops acquisition and releases the instrument; StatusOk (StatusNoHardware from a thread
 * other than the one that opened it, while that one runs). */
VM316_API uint16_t VM_CALL ExitInstrument(void);
/* The board keeps no calibration date: StatusNotSupported, date untouched. */
VM316_API uint16_t VM_CALL GetCalibrationDate(int32_t* date);
/* The board has no readable serial number: writes 0, StatusNotSupported. */
VM316_API uint16_t VM_CALL GetSerialNumber(int32_t* serial);

/* ---- Measurement ------------------------------------------------------------------------- */
/* Block style: ADC_Start, poll ADC_Ready, then fetch with ADC_GetData and its variants (the
 * first fetch after an arm reads the board). Measurement style: DoMeasure or StartMeasurement
 * fill the sample buffers, and GetMeasurement and its variants copy them. Raw samples are
 * offset binary, 32768 = 0 V, a converter byte b held as b * 256; volt buffers hold doubles.
 * Buffers hold the record length of samples and are not checked for size.
 *
 * What a record holds: GetRecordLength() samples, the trigger sample at index length -
 * GetPostSamples(). Every sample was recorded after the arm: with samples before the trigger
 * the library holds the trigger off until they have been recorded (the comparators armed so
 * that they cannot fire, a forced trigger held), which takes (length - post + 1) sample
 * periods and a thousandth more, plus 4 microseconds, on a microsecond clock. A hold-off of
 * up to 20 ms (the longest the readout waits for its seek) is waited out by the call that arms
 * (ADC_Start, StartMeasurement, the timer step of DoMeasure), which returns with the real
 * trigger settings in place: ask ADC_Triggered or ADC_Ready whenever you like, as without
 * samples before the trigger. A longer one (256 samples before the trigger at 10 kHz, say) is
 * ended by whichever call comes next once it has passed: the blocking loop, a timer step,
 * ADC_Ready, ADC_Triggered, ADC_Running or ADC_ForceTrig. A record takes at most the hold-off,
 * the time-out when it forces, the post-trigger samples and 8 more sample periods, and a
 * second (vm316_record_bound_ms in vm316_host.h gives the figure). docs/records.md has the
 * details. */

/* Acquires and reads one complete record, blocking until done. StatusNoHardware without a
 * present instrument (so before a successful InitInstrument); when no complete record came
 * within its bound (counted from the call when the time-out forces, else from the moment the
 * trigger status shows the trigger; without a time-out and without a trigger it waits), for
 * this call only; and from then on when the board has gone (the bus floats, checked before and
 * after the readout, so a record read from a floating bus is never StatusOk). */
VM316_API uint16_t VM_CALL StartMeasurement(void);
/* Copies channels 1 and 2 of the last record as volts. */
VM316_API uint16_t VM_CALL GetMeasurement(double* ch1_volts, double* ch2_volts);
/* Sample index of channels 1 and 2 in volts; an index outside the record: StatusInvalidValue. */
VM316_API uint16_t VM_CALL GetOneMeasurement(int32_t index, double* ch1_volt, double* ch2_volt);
/* Copies channels 1 and 2 of the last record as raw samples. */
VM316_API uint16_t VM_CALL GetMeasurementRaw(uint16_t* ch1_samples, uint16_t* ch2_samples);
/* Raw sample index of channels 1 and 2; an index outside the record: StatusInvalidValue. */
VM316_API uint16_t VM_CALL GetOneMeasurementRaw(int32_t index, uint16_t* ch1_sample,
                                                uint16_t* ch2_sample);
/* Arms one block acquisition; StatusNoHardware without a present instrument. Returns once a
 * hold-off of up to 20 ms has passed (see What a record holds). */
VM316_API uint16_t VM_CALL ADC_Start(void);
/* 1 from ADC_Start until the first fetch, else 0 (0 also without an instrument). */
VM316_API uint16_t VM_CALL ADC_Running(void);
/* Accepted for compatibility; the armed acquisition runs on. StatusOk. */
VM316_API uint16_t VM_CALL ADC_Abort(void);
/* Trigger seen: 0 (not yet or no instrument), 2, 4 or 6 depending on the source. */
VM316_API uint16_t VM_CALL ADC_Triggered(void);
/* 1 when the armed record is complete, else 0 (0 also without an instrument). */
VM316_API uint16_t VM_CALL ADC_Ready(void);
/* Copies channels 1 and 2 as raw samples, reading the board on the first fetch after an arm. */
VM316_API uint16_t VM_CALL ADC_GetData(uint16_t* ch1_samples, uint16_t* ch2_samples);
/* Copies channels 1 and 2 as volts, reading the board on the first fetch after an arm. */
VM316_API uint16_t VM_CALL ADC_GetDataVolt(double* ch1_volts, double* ch2_volts);
/* Forces the trigger of the armed acquisition; before its samples before the trigger have been
 * recorded, the force is held and given as soon as they have. */
VM316_API uint16_t VM_CALL ADC_ForceTrig(void);
/* Accepted for compatibility: transfer mode stays tmBlock; StatusNotSupported. */
VM316_API uint16_t VM_CALL SetTransferMode(int32_t mode);
/* Nothing is written: StatusNotSupported (the mode is always tmBlock). */
VM316_API uint16_t VM_CALL GetTransferMode(int32_t* mode);
/* Copies one channel as raw samples, reading the board on the first fetch after an arm. */
VM316_API uint16_t VM_CALL ADC_GetDataCh(uint16_t channel, uint16_t* samples);
/* Copies one channel as volts, reading the board on the first fetch after an arm. */
VM316_API uint16_t VM_CALL ADC_GetDataVoltCh(uint16_t channel, double* volts);
/* No data-ready notification on this board: nothing is stored; StatusNotSupported. */
VM316_API uint16_t VM_CALL SetDataReadyCallback(uint32_t callback_address);
/* No data-ready notification on this board: nothing is stored; StatusNotSupported. */
VM316_API uint16_t VM_CALL SetDataReadyEvent(uint32_t event_handle);
/* Drives the acquisition timer: 0 stops, -1 measures continuously, any other value once. */
VM316_API uint16_t VM_CALL DoMeasure(int32_t mode);
/* Raw sample index of one channel; an index outside the record: StatusInvalidValue. */
VM316_API uint16_t VM_CALL GetOneMeasurementRawCh(uint16_t channel, int32_t index,
                                                  uint16_t* sample);

/* ---- Configuration and capabilities ------------------------------------------------------ */
/* Value-returning queries return 0 (or 0.0) without an instrument, except GetTriggerTimeOut
 * and GetDCLevelStatus, which return 1. */

/* Time base and record geometry. */

/* Highest sample frequency in Hz (20 000 000), rounded. */
VM316_API int32_t VM_CALL GetMaxSampleFrequency(void);
/* Largest record length in samples (32760). */
VM316_API int32_t VM_CALL GetMaxRecordLength(void);
/* Record length in samples. */
VM316_API int32_t VM_CALL GetRecordLength(void);
/* Record length in samples, up to GetMaxRecordLength; else StatusInvalidValue. */
VM316_API uint16_t VM_CALL SetRecordLength(uint32_t length);
/* Samples recorded after the trigger. */
VM316_API int32_t VM_CALL GetPostSamples(void);
/* Samples after the trigger, up to the record length (the rest come before it). */
VM316_API uint16_t VM_CALL SetPostSamples(uint32_t samples);
/* Sample frequency in Hz, rounded. */
VM316_API int32_t VM_CALL GetSampleFrequency(void);
/* Asks for a sample frequency in Hz and writes back the frequency obtained, rounded, whatever
 * the status (without an instrument, the request itself). */
VM316_API uint16_t VM_CALL SetSampleFrequency(uint32_t* frequency);
/* Not on this board: writes 0, StatusNotSupported. */
VM316_API uint16_t VM_CALL GetExternalClock(uint16_t* external);
/* Not on this board: the internal clock stays; StatusNotSupported. */
VM316_API uint16_t VM_CALL SetExternalClock(uint16_t external);
/* Sample frequency in Hz. */
VM316_API double VM_CALL GetSampleFrequencyF(void);
/* Asks for a sample frequency in Hz and writes back the frequency obtained. */
VM316_API uint16_t VM_CALL SetSampleFrequencyF(double* frequency);
/* Highest sample frequency in Hz (20 000 000). */
VM316_API double VM_CALL GetMaxSampleFrequencyF(void);

/* Input channels: ranges, coupling, DC level, resolution, channels to record. */

/* Writes the channels recorded (TMeasureMode). */
VM316_API uint16_t VM_CALL GetMeasureMode(TMeasureMode* mode);
/* Channels to record; StatusNotSupported for channels the board lacks, above mXY invalid. */
VM316_API uint16_t VM_CALL SetMeasureMode(TMeasureMode mode);
/* Writes the channel's full-scale sensitivity in volts. */
VM316_API uint16_t VM_CALL GetSensitivity(uint8_t channel, double* sensitivity);
/* Selects the range nearest to a full scale in volts and writes back the sensitivity chosen:
 * any magnitude, sign or zero (+infinity gives 80 V, -infinity like every negative value
 * 0.02 V); NaN has no nearest range: StatusInvalidValue, nothing written. */
VM316_API uint16_t VM_CALL SetSensitivity(uint8_t channel, double* sensitivity);
/* Writes 1 when the channel ranges automatically, else 0. */
VM316_API uint16_t VM_CALL GetAutoRanging(uint8_t channel, uint8_t* on);
/* 1 switches automatic ranging on, 0 off; else StatusInvalidValue. */
VM316_API uint16_t VM_CALL SetAutoRanging(uint8_t channel, uint8_t on);
/* Writes the channel's input coupling (0 or 1). */
VM316_API uint16_t VM_CALL GetCoupling(uint8_t channel, uint8_t* coupling);
/* Sets the channel's input coupling, 0 or 1; else StatusInvalidValue. */
VM316_API uint16_t VM_CALL SetCoupling(uint8_t channel, uint8_t coupling);
/* Writes the channel's DC level in volts. */
VM316_API uint16_t VM_CALL GetDcLevel(uint8_t channel, double* volts);
/* DC level in volts, within twice the sensitivity either way; else StatusInvalidValue. */
VM316_API uint16_t VM_CALL SetDcLevel(uint8_t channel, double volts);
/* Writes 20 doubles: the resolutions in bits this board offers, then zeros. */
VM316_API uint16_t VM_CALL GetAvailableResolutions(double* resolutions);
/* Writes 20 doubles: the full-scale sensitivities in volts, largest first, then zeros. */
VM316_API uint16_t VM_CALL GetAvailableSensitivities(double* sensitivities);
/* Writes the resolution in bits (8). */
VM316_API uint16_t VM_CALL GetResolution(uint8_t* bits);
/* Accepts a resolution that GetAvailableResolutions lists; else StatusInvalidValue. */
VM316_API uint16_t VM_CALL SetResolution(uint8_t bits);
/* 0 when the board has adjustable DC levels (it has); 1 without an instrument. */
VM316_API int32_t VM_CALL GetDCLevelStatus(void);
/* Not on this board: nothing changes; StatusNotSupported. */
VM316_API uint16_t VM_CALL SetInstrumentConfig(uint16_t config);
/* Not on this board: nothing is written; StatusNotSupported. */
VM316_API uint16_t VM_CALL GetInstrumentConfig(uint16_t* config);
/* Writes the number of input channels (2). */
VM316_API uint16_t VM_CALL GetNrChannels(uint16_t* channels);

/* Trigger. */

/* Writes the trigger source (TTrigSource). */
VM316_API uint16_t VM_CALL GetTriggerSource(TTrigSource* source);
/* Trigger source; StatusNotSupported for sources the board lacks, 15 and above invalid. */
VM316_API uint16_t VM_CALL SetTriggerSource(TTrigSource source);
/* Writes the slope of the current source; leaves it untouched for tsNoTrig and above. */
VM316_API uint16_t VM_CALL GetTriggerMode(uint8_t* slope);
/* Sets the slope of every channel (and of the external input for SlopeRising, SlopeFalling). */
VM316_API uint16_t VM_CALL SetTriggerMode(uint8_t slope);
/* Writes the channel's trigger level in volts. */
VM316_API uint16_t VM_CALL GetTriggerLevel(uint8_t channel, double* volts);
/* Trigger level in volts, within the channel's sensitivity; else StatusInvalidValue. */
VM316_API uint16_t VM_CALL SetTriggerLevel(uint8_t channel, double volts);
/* Writes the channel's trigger hysteresis in volts. */
VM316_API uint16_t VM_CALL GetTriggerHys(uint8_t channel, double* volts);
/* Trigger hysteresis in volts; StatusInvalidValue when it takes the level past full scale, or
 * NaN. An infinity is judged as a huge value is: with a rising slope -infinity, like -1e300, is
 * admitted and stored as the largest hysteresis code. */
VM316_API uint16_t VM_CALL SetTriggerHys(uint8_t channel, double volts);
/* Time-out after which the trigger is forced, in ms; -1 waits for ever. */
VM316_API int32_t VM_CALL GetTriggerTimeOut(void);
/* Trigger time-out in ms; 0xFFFFFFFF waits for ever. Always StatusOk on a present board. */
VM316_API uint16_t VM_CALL SetTriggerTimeOut(uint32_t milliseconds);
/* Slope of one trigger input (channel 0 is the external input); SlopeRising or SlopeFalling. */
VM316_API uint16_t VM_CALL SetTriggerModeCh(uint8_t channel, uint8_t slope);
/* Writes the slope of one trigger input (channel 0 is the external input). */
VM316_API uint16_t VM_CALL GetTriggerModeCh(uint8_t channel, uint8_t* slope);

/* Generator status. */

/* StatusOk: the board has a square-wave generator. */
VM316_API uint16_t VM_CALL GetSquareWaveGenStatus(void);
/* StatusNoGenerator: the board has no function generator. */
VM316_API uint16_t VM_CALL GetFunctionGenStatus(void);
/* No function generator: nothing is written; StatusNoGenerator. */
VM316_API uint16_t VM_CALL GetFuncGenMaxAmplitude(double* amplitude);

/* ---- Square-wave generator --------------------------------------------------------------- */

/* Frequency in Hz of the square-wave output last set (0 until set); no instrument needed. */
VM316_API int32_t VM_CALL GetSquareWaveGenFrequency(void);
/* Asks for a frequency in Hz (0 switches off, else 100 .. 100 000) and writes back the one
 * obtained. */
VM316_API uint16_t VM_CALL SetSquareWaveGenFrequency(uint32_t* frequency);

/* ---- Facilities this instrument does not have -------------------------------------------- */
/* They touch neither the board nor any setting, and write nothing unless the comment says so.
 * Most answer StatusNoHardware before a successful InitInstrument, by the check order. */

/* PXI trigger lines: StatusNotSupported. */

/* Nothing is written. */
VM316_API uint16_t VM_CALL GetPXITriggerSlopes(uint8_t* slopes);
/* Slopes ignored. */
VM316_API uint16_t VM_CALL SetPXITriggerSlopes(uint8_t slopes);
/* Nothing is written. */
VM316_API uint16_t VM_CALL GetPXITriggerEnables(uint8_t* enables);
/* Enables ignored. */
VM316_API uint16_t VM_CALL SetPXITriggerEnables(uint8_t enables);

/* Function generator: StatusNoGenerator, unless the comment says StatusNotSupported. */

/* Frequency in Hz: nothing is written. */
VM316_API uint16_t VM_CALL GetFuncGenFrequency(double* frequency);
/* Frequency in Hz, in/out: left untouched. */
VM316_API uint16_t VM_CALL SetFuncGenFrequency(double* frequency);
/* Amplitude in volts: nothing is written. */
VM316_API uint16_t VM_CALL GetFuncGenAmplitude(double* amplitude);
/* Amplitude in volts, ignored. */
VM316_API uint16_t VM_CALL SetFuncGenAmplitude(double amplitude);
/* Signal type code: nothing is written. */
VM316_API uint16_t VM_CALL GetFuncGenSignalType(uint16_t* signal_type);
/* Signal type code, ignored. */
VM316_API uint16_t VM_CALL SetFuncGenSignalType(uint16_t signal_type);
/* DC offset in volts: nothing is written. */
VM316_API uint16_t VM_CALL GetFuncGenDCOffset(double* offset);
/* DC offset in volts, ignored. */
VM316_API uint16_t VM_CALL SetFuncGenDCOffset(double offset);
/* Symmetry: nothing is written. */
VM316_API uint16_t VM_CALL GetFuncGenSymmetry(double* symmetry);
/* Symmetry, ignored. */
VM316_API uint16_t VM_CALL SetFuncGenSymmetry(double symmetry);
/* Output state: writes 0 first, also without an instrument. */
VM316_API uint16_t VM_CALL GetFuncGenOutputOn(uint16_t* on);
/* Output state, ignored. */
VM316_API uint16_t VM_CALL SetFuncGenOutputOn(uint16_t on);
/* Waveform memory: count points, ignored and not read. */
VM316_API uint16_t VM_CALL FillFuncGenMemory(int32_t count, const uint16_t* points);
/* Burst of a number of periods, ignored: StatusNotSupported. */
VM316_API uint16_t VM_CALL FuncGenBurst(uint16_t periods);
/* Generator trigger source, ignored: StatusNotSupported. */
VM316_API uint16_t VM_CALL SetFuncGenTrigSource(uint8_t source);
/* Generator trigger source: nothing is written; StatusNotSupported. */
VM316_API uint16_t VM_CALL GetFuncGenTrigSource(uint8_t* source);
/* Mode, ignored: StatusNotSupported, also without an instrument. */
VM316_API uint16_t VM_CALL SetFuncGenMode(uint32_t mode);
/* Mode slot, ignored: StatusNotSupported, also without an instrument. */
VM316_API uint16_t VM_CALL GetFuncGenMode(uint32_t mode);
/* Generator enable, ignored: StatusNotSupported. */
VM316_API uint16_t VM_CALL SetFuncGenEnable(uint16_t enable);
/* Generator enable: writes 0 first, also without an instrument. */
VM316_API uint16_t VM_CALL GetFuncGenEnable(uint16_t* enable);
/* Amplitude range, ignored: StatusNotSupported, also without an instrument. */
VM316_API uint16_t VM_CALL SetFuncGenAmplitudeRange(uint32_t range);
/* Amplitude range slot, ignored: StatusNotSupported, also without an instrument. */
VM316_API uint16_t VM_CALL GetFuncGenAmplitudeRange(uint32_t range);

/* Digital inputs and outputs: StatusNotSupported. */

/* Outputs, ignored. */
VM316_API uint16_t VM_CALL SetDigitalOutputs(uint32_t outputs);
/* Outputs slot, ignored. */
VM316_API uint16_t VM_CALL GetDigitalOutputs(uint32_t outputs);
/* Input values: nothing is written. */
VM316_API uint16_t VM_CALL GetDigitalInputValues(uint16_t* values);
/* One input's value: nothing is written. */
VM316_API uint16_t VM_CALL GetOneDigitalValue(uint32_t input, uint16_t* value);

/* Other extras: StatusNotSupported, the arguments ignored. */

/* Active module selection; also without an instrument. */
VM316_API uint16_t VM_CALL GetActiveKT5(uint32_t module);
/* Active module selection; also without an instrument. */
VM316_API uint16_t VM_CALL SetActiveKT5(uint32_t module);
/* Auxiliary DAC; also without an instrument. */
VM316_API uint16_t VM_CALL SetDAC1451(uint32_t dac, uint32_t value, uint32_t option1,
                                      uint32_t option2);
/* Motor drive; also without an instrument. */
VM316_API uint16_t VM_CALL SetMotorOn(uint32_t motor, uint32_t on);
/* Resistance measurement setup. */
VM316_API uint16_t VM_CALL SetupOhmMeasurements(uint32_t setup);
/* Resistance values; also without an instrument. */
VM316_API uint16_t VM_CALL GetOhmValues(uint32_t values, uint32_t count);
/* I2C write with stop. */
VM316_API uint16_t VM_CALL I2CWrite(uint32_t device, uint32_t data, uint32_t length);
/* I2C read with stop. */
VM316_API uint16_t VM_CALL I2CRead(uint32_t device, uint32_t data, uint32_t length);
/* I2C write without stop. */
VM316_API uint16_t VM_CALL I2CWriteNoStop(uint32_t device, uint32_t data, uint32_t length);
/* I2C read without stop. */
VM316_API uint16_t VM_CALL I2CReadNoStop(uint32_t device, uint32_t data, uint32_t length);
/* I2C bus speed. */
VM316_API uint16_t VM_CALL I2CSetSpeed(uint32_t speed);
/* I2C bus speed slot. */
VM316_API uint16_t VM_CALL I2CGetSpeed(uint32_t speed);

#ifdef __cplusplus
}
#endif

#endif /* VM316_H */
