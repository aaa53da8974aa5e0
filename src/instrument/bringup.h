// Bring-up helpers that are not operations of the instrument: the placement of the progress
// window and the texts shown to the user.
#pragma once

#include <cstdint>

#include "platform/progress_window.h"

namespace vm316 {

// A control to centre a window on, in screen coordinates (its top-left corner as seen through
// its parent).
struct AnchorControl {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Without an anchor the window is centred on the screen; with one it is centred on the anchor
// and then kept inside the screen area.
void CenterForm(const AnchorControl* anchor, platform::ProgressWindow& form);

inline constexpr const char* kBusyCaption = "Information";
inline constexpr const char* kBusyText = "Busy Calibrating VM316";
inline constexpr const char* kCalibrationFailedMessage =
    "Calibration of the VM316 failed, connect inputs to ground and try again";

}  // namespace vm316
