// The trigger comparator of one channel unit. It is clocked with the sample clock and compares
// the unit's converted code with its two levels (analog modes), or watches the external trigger
// input for an edge (external modes). After firing, an analog comparator waits until the signal
// has gone beyond the hysteresis level again (below it when rising, above it when falling); a
// fresh comparator waits for that too, so a signal already past the level does not fire at once.
#pragma once

#include <cstdint>

namespace vm316::sim {

// What a sample must show to change a comparator (fire it, re-arm it, or move its view of the
// external input): nothing can, any sample does, a converter code below `below` or at least
// `at_least`, or the external input at a level. Every other sample leaves it as it is.
struct ComparatorWatch {
  enum class Kind : std::uint8_t { kNothing, kAnySample, kCode, kExternal };
  static constexpr int kNoCode = 256;

  Kind kind = Kind::kNothing;
  int below = 0;               // kCode: codes 0 .. below - 1
  int at_least = kNoCode;      // kCode: codes at_least .. 255
  bool external_high = false;  // kExternal

  bool Takes(int code) const { return code < below || code >= at_least; }
};

class TriggerComparator {
 public:
  // ComparatorModeRegister values.
  static constexpr std::uint8_t kExternalFalling = 0;
  static constexpr std::uint8_t kExternalRising = 1;
  static constexpr std::uint8_t kAnalogRising = 5;
  static constexpr std::uint8_t kAnalogFalling = 6;

  void WriteMode(std::uint8_t mode) { mode_ = mode; }
  void WriteTriggerLevel(std::uint8_t level) { level_ = level; }
  void WriteHysteresisLevel(std::uint8_t level) { hysteresis_ = level; }

  std::uint8_t Mode() const { return mode_; }
  std::uint8_t TriggerLevel() const { return level_; }
  std::uint8_t HysteresisLevel() const { return hysteresis_; }

  // Starts a new record: not re-armed, nothing seen.
  void Reset();

  // One sample: the unit's code and the external input's logic level. True when the comparator
  // fires on this sample.
  bool Clock(std::uint8_t code, bool external_high);

  // Fired at least once since Reset (the status bit of the unit).
  bool Seen() const { return seen_; }

  // Which samples would change it in its present state; Clock with any other sample neither
  // fires it nor changes it.
  ComparatorWatch Watch() const;
  // Which samples decide its state whatever it was before: after a run of samples its state is
  // what Clock with the last of these made it (unchanged when there is none).
  ComparatorWatch Deciding() const;

 private:
  std::uint8_t mode_ = 0xFF;  // none of the modes: never fires
  std::uint8_t level_ = 0;
  std::uint8_t hysteresis_ = 0;
  bool rearmed_ = false;
  bool have_external_ = false;
  bool external_was_high_ = false;
  bool seen_ = false;
};

}  // namespace vm316::sim
