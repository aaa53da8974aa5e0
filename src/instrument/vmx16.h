// TVMx16: one digitiser board, with every setting, capability, calibration value, sample
// buffer and hardware state it has. The object is a plain record with its operations; the
// operations are implemented one concern per file:
//   object.cpp       construction, destruction, settings notification, port set
//   timebase.cpp     sample clock, square-wave clock, record geometry
//   ranges.cpp       input ranges, coupling, DC level, measure mode, resolution
//   trigger.cpp      trigger source, slopes, levels, hysteresis, time-out
//   recorder.cpp     hardware setup writer and record readout
//   frontend.cpp     front-end serial bus writes; calibration.cpp the two search loops
//   bringup.cpp      detection, calibration files, bring-up
//   sequencer.cpp    the acquisition state machine and its three drives
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instrument/global.h"
#include "instrument/konsts.h"
#include "platform/message_loop.h"
#include "platform/port_backend.h"
#include "port/port_io.h"

namespace vm316 {

class TVMx16;
using TNotifyEvent = std::function<void(TVMx16& sender)>;

template <typename T>
using PerChannel = std::array<T, kChannelSlots>;  // index 1..4 (0 unused, or the external input)
template <typename T>
using PerRange = std::array<T, kRangeSlots>;  // index 1..12
template <typename T>
using CalibrationTable = std::array<PerRange<T>, kCalibrationRows + 1>;  // [row 1..3][range]

class TVMx16 {
 public:
  // Create: the backend comes from the environment (VM316_PORT and friends).
  explicit TVMx16(void* owner = nullptr);
  // Create with a given port backend (tests use recording or scripted backends).
  explicit TVMx16(std::unique_ptr<platform::PortBackend> backend, void* owner = nullptr);
  ~TVMx16();  // Destroy
  TVMx16(const TVMx16&) = delete;
  TVMx16& operator=(const TVMx16&) = delete;

  // ---- Identity and capabilities (constants of the model, set only by construction)
  std::uint8_t ModelCode = kModelCode;
  std::int16_t ChannelCount = kChannelCount;
  std::int32_t Resolution = kResolutionBits;
  std::int16_t ResolutionCount = 1;
  std::array<std::uint16_t, kResolutionSlots> Resolutions{};
  long double MaxSampleFrequency = kMaxSampleFrequency;
  std::int32_t MaxRecordLength = kMaxRecordLength;
  std::int32_t RangeCount = kRangeCount;
  PerRange<long double> Sensitivities{};
  PerRange<long double> DcLevelLimits{};
  bool HasDcLevel = true;
  bool HasSquareWaveGenerator = true;
  bool HasFunctionGenerator = false;
  bool HasExternalTrigger = true;
  bool HasAnalogExternalTrigger = false;
  bool HasAndOrTrigger = true;
  bool HasXorTrigger = false;
  bool HasPxiTrigger = false;
  bool HasGeneratorTrigger = false;
  bool HasTriggerModes2And3 = false;
  bool HasTriggerMode4 = false;
  bool HasTriggerModes5And6 = false;
  bool HasGeneratorBurst = false;
  bool HasGeneratorTriggerInput = false;
  std::int32_t HasDigitalInputs = 0;
  std::int32_t HasDigitalOutputs = 0;

  // ---- Published properties
  std::int32_t nHardwareAddress = 0;
  TMeasureMode mMeasureMode = mCh12;
  TAcquisitionMode amAcquisitionMode = amContinuous;
  TTransferMode tmTransferMode = tmBlock;
  bool bEnableMeasurements = false;
  std::int32_t nCalculations = 1;
  std::int32_t nAverageNumber = 1;
  long double rTransSampleTime = 1.0L;
  std::int32_t lPreSamples = 256;
  std::int32_t lPostSamples = 256;
  std::int32_t lRecordLength = 512;
  bool bExternalClock = false;
  TTrigSource tsTriggerSource = tsCh1;
  long double rTrigTimeOut = 0.0L;  // construction sets 1.0 through its setter
  TNotifyEvent OnSettingsChanged;
  TNotifyEvent OnMeasurementReady;
  TNotifyEvent OnTriggered;
  TNotifyEvent OnTransientUpdate;
  bool bSlowIO = false;
  std::string Cursor() const { return kNotApplicable; }
  std::string Hint() const { return kNotApplicable; }
  std::string Tag() const { return kNotApplicable; }

  // ---- Hardware state
  bool PortAccessOk = false;
  bool HardwarePresent = false;
  bool Calibrating = false;
  bool DoubleRate = false;
  std::uint8_t ChannelMask = 3;
  bool NotifySettings = false;
  bool Armed = false;
  bool SettingsDirty = true;
  TTrigSource ActiveTriggerSource = tsCh1;
  // Where an arm starts the sample-address counter, as the detection handshake found it.
  std::uint16_t ArmAddress = kDefaultArmAddress;
  // The last arm was made by ArmAcquisition and its record has not been read yet: the readout
  // then knows which locations the board wrote since.
  bool ArmKnown = false;
  // The trigger hold-off of the present arm (recorder.cpp), on the fine clock: until
  // HoldOffEndUs the pre-trigger part may not be complete, so the comparators stay parked
  // (ComparatorsParked) and a forced trigger waits (ForcePending).
  bool HoldOffRunning = false;
  bool ComparatorsParked = false;
  bool ForcePending = false;
  std::uint64_t ArmTimeUs = 0;
  std::uint64_t HoldOffEndUs = 0;
  // No trigger of the present arm can have come before this time (the arm, or the end of its
  // hold-off); the record then takes at least ArmedCount more samples (the count register).
  std::uint64_t TriggerNotBeforeUs = 0;
  std::uint16_t ArmedCount = 0;
  // A trigger was forced since the arm: the trigger status no longer says whether it came.
  bool ForceGiven = false;
  port::PortIo Io;  // the port set and the two primitives
  std::unique_ptr<platform::Timer> AcquisitionTimer;

  // ---- Time base (timebase.cpp)
  // Construction programs 20 MHz through the rSampleFreq setter, which fills both.
  long double ClockFrequency = 0.0L;
  long double LastSetFrequency = 0.0L;

  // ---- Per-channel settings (ranges.cpp, trigger.cpp)
  PerChannel<std::uint16_t> RangeIndex{};
  PerChannel<std::uint8_t> Coupling{};
  PerChannel<long double> DcLevel{};
  PerChannel<long double> DcLevelLimit{};
  PerChannel<bool> AutoRanging{};
  PerChannel<std::uint8_t> TriggerSlope{};  // slot 0: the external trigger input
  PerChannel<std::int32_t> TriggerLevel{};
  PerChannel<std::int32_t> TriggerHysteresis{};
  PerChannel<long double> OffsetDacBase{};  // channels 1 and 2

  // ---- Sequencer state (sequencer.cpp)
  std::int32_t WaitTicks = 0;
  // The trigger time-out is time, not steps: the tick count at which the present wait for a
  // trigger began (the arm, the last record or the last forced trigger).
  std::uint32_t WaitStartTick = 0;
  PerChannel<std::int32_t> RangeStep{};  // channels 1 and 2
  bool RecordDone = false;
  bool BlockRunning = false;

  // ---- Calibration tables: [row 1..3][range 1..12]
  CalibrationTable<std::int32_t> GainTrim{};
  CalibrationTable<double> OffsetCorrection{};

  // ---- Sample buffers, allocated once: OutputBuffer[1], [2] and RawBuffer[1], [2]
  std::array<std::vector<std::uint16_t>, 3> OutputBuffer;
  std::array<std::vector<std::uint16_t>, 3> RawBuffer;

  // ---- Object (object.cpp)
  void SetHardwareAddress(std::int32_t address);
  void SettingsChanged();
  void SuspendSettingsNotify();
  void ResumeSettingsNotify();
  long double RangeSensitivity(std::uint16_t range_index) const;
  long double ChannelSensitivity(int channel) const;
  // Recomputes the port set from nHardwareAddress and restores the relay tables.
  void ComputePortSet();
  // Another thread takes the object over: the acquisition timer, which ticks on the thread
  // that made it, is made anew on this one as it was, and the port backend is told.
  void MoveToCallingThread();

  // ---- Time base and record geometry (timebase.cpp)
  void ProgramSampleClock(long double& frequency);
  void ProgramSquareWaveClock(long double& frequency);
  long double SampleFreq() const;               // rSampleFreq
  void SetSampleFrequencyValue(long double x);  // rSampleFreq := x
  void SetPreSamples(std::int32_t value);
  void SetPostSamples(std::int32_t value);
  void SetRecordLength(std::int32_t value);
  void SetTransSampleTime(long double value);

  // ---- Input ranges, coupling, DC level, measure mode (ranges.cpp)
  // The per-channel setters and getters do nothing (read 0) for a slot outside 0..4, so that
  // no argument value reaches past the arrays; the exports validate channels before calling.
  static constexpr bool IsChannelSlot(int slot) { return slot >= 0 && slot < kChannelSlots; }
  void SelectRange(int channel, long double volts);
  void ClampRangeIndex(std::uint16_t& range_index) const;
  void ClampDcLevel(int channel);
  void SetCoupling(int channel, std::uint8_t coupling);
  std::uint8_t GetCoupling(int channel) const;
  void SetDcLevel(int channel, long double volts);
  long double GetDcLevel(int channel) const;
  void SetAutoRanging(int channel, bool on);
  bool GetAutoRanging(int channel) const;
  void SetMeasureMode(TMeasureMode mode);
  std::uint16_t ResolutionEntry(int i) const;
  void SetResolution();

  // ---- Trigger settings (trigger.cpp)
  void SetTriggerSource(TTrigSource source);
  void SetTriggerSlope(int slot, std::uint8_t slope);
  std::uint8_t GetTriggerSlope(int slot) const;
  void SetTriggerLevel(int channel, std::int32_t code);
  std::int32_t GetTriggerLevel(int channel) const;
  void SetTriggerHysteresis(int channel, std::int32_t code);
  std::int32_t GetTriggerHysteresis(int channel) const;
  void SetTrigTimeOut(long double seconds);

  // ---- Hardware setup writer and record readout (recorder.cpp)
  void ArmAcquisition();
  void ReadRecord();
  void SeekRecordStart(std::uint16_t address);
  void ResetRecorder();
  void WriteCount(std::uint16_t value);
  void ProgramTriggerComparators();
  static std::int32_t ClampToByte(std::int32_t value);
  bool RecordReady();
  std::uint16_t TriggerStatus();
  void ForceTrigger();
  // Ends the hold-off once the pre-trigger part has been recorded: the real comparator settings
  // reach the board and a held forced trigger is given. Every drive calls it as it passes.
  void EndHoldOffWhenDue();
  // The arming drives: a hold-off no longer than kLongestArmWaitUs is waited out on the fine
  // clock and ended before the call returns.
  void WaitOutShortHoldOff();
  // ForceTrigger, held until the hold-off has ended.
  void RequestForcedTrigger();
  // The bus floats: the counter and the status port read 0xFF, so the board is gone.
  bool BusFloats();

  // ---- Front-end serial bus (frontend.cpp) and calibration loops (calibration.cpp)
  void WriteGainTrims(std::int32_t first, std::int32_t second);
  void WriteRelayWord();
  void WriteDcLevelDac(int channel, long double volts);
  void OffsetSearch();
  void GainTrimSearch();

  // ---- Bring-up (bringup.cpp)
  bool BringUp();
  bool DetectHardware();
  bool CalibrationFilesCurrent();
  bool RunCalibration();  // true: failed
  // One read of the address counter: false when it reads as a floating bus (the board has gone).
  bool BoardStillAnswers();
  void Stop();

  // ---- Acquisition sequencer (sequencer.cpp)
  void AcquisitionTimerTick();
  void AcquisitionStep();
  void MeasureOnce();  // RecordDone stays False when the record's bound ran out
  void StartBlockAcquisition();
  bool IsBlockRunning();
  void AbortBlockAcquisition();
  void ForceBlockTrigger();
  std::uint16_t BlockTriggerStatus();
  std::uint16_t BlockRecordReady();
  void FetchBlockRecord();
  void StartTimer();
  void StopTimer();
  void SetAcquisitionMode(TAcquisitionMode mode);
  void SetEnableMeasurements(bool enable);

 private:
  void Create(std::unique_ptr<platform::PortBackend> backend);
  void MakeAcquisitionTimer(bool enabled);

  std::unique_ptr<platform::PortBackend> backend_;
};

}  // namespace vm316
