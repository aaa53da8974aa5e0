// Bring-up: detection by the counter handshake, the recorder reset, the calibration tables
// from today's files or from a new self-calibration, and the first relay word.
#include "instrument/bringup.h"

#include <random>

#include "instrument/calibration_files.h"
#include "instrument/recorder.h"
#include "instrument/vmx16.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace vm316 {
namespace {

using port::kControlUnit;

// Detection: N counter steps after a reset must read back as N - 2 or N - 3. N varies so that
// a bus that happens to echo a fixed value is not mistaken for the board.
constexpr int kMinSteps = 10;
constexpr int kStepSpread = 24;  // N in 10 .. 34
constexpr std::int32_t kSettleAfterResetMs = 1000;

std::minstd_rand& DetectionRandom() {
  static std::minstd_rand engine;
  return engine;
}

int DrawStepCount() {
  std::uniform_int_distribution<int> spread(0, kStepSpread);
  return kMinSteps + spread(DetectionRandom());
}

// The progress window: 500 wide when created, then fitted to its label.
constexpr std::int32_t kBusyInitialWidth = 500;
constexpr std::int32_t kBusyHeight = 100;
constexpr std::int32_t kBusyLabelLeft = 10;
constexpr std::int32_t kBusyLabelTop = 30;
constexpr std::int32_t kBusyWidthBesideLabel = 30;

// Offset corrections of ranges 1 and 2 are lowered after the searches: the ×10 stage's input
// path sits this much away from the reference path the searches measure (5/256 and 5/1024 V).
constexpr double kRange1InputPathOffset = 0.01953125;
constexpr double kRange2InputPathOffset = 0.0048828125;

// The second judgement covers the rows of the two channels; the double-rate row is left out.
constexpr int kRowsJudgedOnRetry = 2;

bool AnyTrimOutOfBand(const TVMx16& vm, int last_row, int last_range) {
  for (int row = 1; row <= last_row; ++row) {
    for (int range = 1; range <= last_range; ++range) {
      const std::int32_t trim = vm.GainTrim[row][range];
      if (trim < kMinGainTrim || trim > kMaxGainTrim) return true;
    }
  }
  return false;
}

// The searches stop as soon as a readout finds the board gone: what follows would be judged on
// stale records.
void RunSearches(TVMx16& vm) {
  using Search = void (TVMx16::*)();
  constexpr Search kSearches[] = {&TVMx16::OffsetSearch, &TVMx16::GainTrimSearch,
                                  &TVMx16::OffsetSearch, &TVMx16::GainTrimSearch,
                                  &TVMx16::OffsetSearch};
  for (const Search search : kSearches) {
    if (!vm.HardwarePresent) return;
    (vm.*search)();
  }
}

// The settings the search loops change as they go. The calibration puts them back, so that a
// bring-up that calibrates leaves the instrument exactly as one that reads the files.
struct SearchSettings {
  PerChannel<std::uint16_t> range_index;
  PerChannel<std::uint8_t> coupling;
  PerChannel<long double> dc_level;
  PerChannel<long double> dc_level_limit;
  PerChannel<std::uint8_t> trigger_slope;
  PerChannel<std::int32_t> trigger_level;
  PerChannel<std::int32_t> trigger_hysteresis;
  TTrigSource trigger_source;
  long double clock_frequency;
  long double last_set_frequency;
  bool double_rate;
  std::int32_t post_samples;
  std::int32_t pre_samples;
  std::int32_t record_length;
  std::uint8_t channel_mask;

  static SearchSettings Of(const TVMx16& vm) {
    return {vm.RangeIndex,     vm.Coupling,         vm.DcLevel,           vm.DcLevelLimit,
            vm.TriggerSlope,   vm.TriggerLevel,     vm.TriggerHysteresis, vm.tsTriggerSource,
            vm.ClockFrequency, vm.LastSetFrequency, vm.DoubleRate,        vm.lPostSamples,
            vm.lPreSamples,    vm.lRecordLength,    vm.ChannelMask};
  }

  // Stored directly: the next arm programs the clock and the front end from these values, and
  // the settings notification that ends the calibration reaches the host once.
  void RestoreTo(TVMx16& vm) const {
    vm.RangeIndex = range_index;
    vm.Coupling = coupling;
    vm.DcLevel = dc_level;
    vm.DcLevelLimit = dc_level_limit;
    vm.TriggerSlope = trigger_slope;
    vm.TriggerLevel = trigger_level;
    vm.TriggerHysteresis = trigger_hysteresis;
    vm.tsTriggerSource = trigger_source;
    vm.ClockFrequency = clock_frequency;
    vm.LastSetFrequency = last_set_frequency;
    vm.DoubleRate = double_rate;
    vm.lPostSamples = post_samples;
    vm.lPreSamples = pre_samples;
    vm.lRecordLength = record_length;
    vm.ChannelMask = channel_mask;
  }
};

}  // namespace

void CenterForm(const AnchorControl* anchor, platform::ProgressWindow& form) {
  const platform::Rect& area = platform::ScreenArea();
  const std::int32_t width = form.Width();
  const std::int32_t height = form.Height();
  if (anchor == nullptr) {
    // What the window system does for a form centred on the screen.
    form.SetBounds(area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, width, height);
    return;
  }
  std::int32_t left = anchor->left + (anchor->width - width) / 2;
  std::int32_t top = anchor->top + (anchor->height - height) / 2;
  if (left < area.left) {
    left = area.left;
  } else if (left + width > area.right) {
    left = area.right - width;
  }
  if (top < area.top) {
    top = area.top;
  } else if (top + height > area.bottom) {
    top = area.bottom - height;
  }
  form.SetBounds(left, top, width, height);
}

bool TVMx16::DetectHardware() {
  if (!PortAccessOk) return false;
  // On real ports a set that wraps past 0xFFFF would put its upper ports on the PC's own
  // devices at the bottom of the I/O space; no board can sit there.
  if (Io.Backend()->Reach() == platform::PortReach::kHardware &&
      !port::BaseFitsPortSpace(static_cast<std::uint16_t>(nHardwareAddress))) {
    HardwarePresent = false;
    return false;
  }
  const int steps = DrawStepCount();

  Io.WriteRegister(kControlUnit, port::kArmRegister, 0);
  WriteModeRegister(Io, port::kModeStopped);
  Io.WriteRegister(kControlUnit, port::kArmRegister, 0);
  port::DelayMs(kSettleAfterResetMs);

  for (int i = 0; i < steps + 1; ++i) {
    Io.WriteRegister(kControlUnit, port::kStepRegister, 0);
    Io.Read(port::kCounterLowPort);
    Io.Read(port::kCounterHighPort);
  }
  const std::uint8_t low = Io.Read(port::kCounterLowPort);
  const std::uint8_t high = Io.Read(port::kCounterHighPort);
  const int count = low + 256 * high;

  HardwarePresent = steps == count + 2 || steps == count + 3;
  // The arm left the counter steps + 1 locations before what it reads now.
  if (HardwarePresent) {
    ArmAddress = static_cast<std::uint16_t>((count - (steps + 1)) & port::kSampleAddressMask);
  }
  return HardwarePresent;
}

bool TVMx16::CalibrationFilesCurrent() {
  return calibration_files::ModifiedToday(calibration_files::kGainTrimFileName);
}

bool TVMx16::RunCalibration() {
  SuspendSettingsNotify();
  Calibrating = true;
  const SearchSettings before = SearchSettings::Of(*this);

  WriteDcLevelDac(1, OffsetDacBase[1] + OffsetCorrection[1][1]);
  WriteDcLevelDac(2, OffsetDacBase[2] + OffsetCorrection[2][1]);
  RunSearches(*this);
  bool failed = AnyTrimOutOfBand(*this, kCalibrationRows, RangeCount);
  if (failed && HardwarePresent) {
    RunSearches(*this);
    failed = AnyTrimOutOfBand(*this, kRowsJudgedOnRetry, kRangeCount);
  }
  // A readout notices a pulled board only at its start; one pulled during the last readout or
  // the recorder reset after it would pass unseen, and its records are suspect all the same.
  // One more look at the counter after the last access of the searches settles it.
  if (HardwarePresent && !BoardStillAnswers()) HardwarePresent = false;

  for (int row = 1; row <= 2; ++row) {
    OffsetCorrection[row][1] -= kRange1InputPathOffset;
    OffsetCorrection[row][2] -= kRange2InputPathOffset;
  }

  before.RestoreTo(*this);
  Calibrating = false;
  ResumeSettingsNotify();
  return failed;
}

bool TVMx16::BringUp() {
  if (!DetectHardware()) {
    StopTimer();
    return false;
  }
  ResetRecorder();

  for (auto& row : OffsetCorrection) row.fill(0.0);
  for (auto& row : GainTrim) row.fill(kNeutralGainTrim);

  // Today's files, if they are there and whole; anything less needs a new calibration.
  const bool loaded = CalibrationFilesCurrent() &&
                      calibration_files::ReadCalibrationFiles(GainTrim, OffsetCorrection);
  if (!loaded) {
    bool failed = false;
    {
      platform::ProgressWindow busy(kBusyCaption, kBusyInitialWidth, kBusyHeight);
      const std::int32_t label_width = busy.SetLabel(kBusyLabelLeft, kBusyLabelTop, kBusyText);
      busy.SetBounds(busy.Left(), busy.Top(), label_width + kBusyWidthBesideLabel, kBusyHeight);
      CenterForm(nullptr, busy);
      busy.ShowAndRepaint();
      failed = RunCalibration();
    }
    if (!HardwarePresent) {
      // The board stopped answering during the calibration: what the searches found is not a
      // calibration, the files keep the last good one, and "connect inputs to ground" would
      // name the wrong cause. The host learns it from the status.
      return false;
    }
    if (failed) {
      // The tables keep what the searches found; the files keep the last good calibration.
      platform::MessageBeep();
      platform::ShowErrorMessage(kCalibrationFailedMessage);
    } else {
      const std::string error =
          calibration_files::WriteCalibrationFiles(GainTrim, OffsetCorrection);
      if (!error.empty()) platform::ShowMessage(error);
    }
  }

  WriteRelayWord();
  return HardwarePresent;
}

// One read, so that a board pulled even at the calibration's very last access is seen: the
// counter's high byte alone is evidence enough, since a board never reads 0xFF there.
bool TVMx16::BoardStillAnswers() {
  if (!PortAccessOk) return false;
  return !port::CounterFloats(Io.Read(port::kCounterHighPort));
}

void TVMx16::Stop() {
  StopTimer();
}

}  // namespace vm316
