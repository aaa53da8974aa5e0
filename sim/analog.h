// The analog side of the board: what the relay word connects, what reaches each converter, and
// the code it converts. For a converter fed by a channel whose stage has full scale FS (volts at
// the stage input):
//
//   code = clamp(round(128 + 128 * v * g / FS - 128 * (v_dac - v0) + dc_offset + noise), 0, 255)
//
// v is the stage input (the connector through the attenuator and the coupling, or a reference),
// g the product of stage, attenuator, converter and trim gains, v_dac the channel's DC-level DAC
// in volts, v0 = -1 V + the channel's offset error / 128, dc_offset the x10 stage's offset that
// only a DC-coupled input shows, and noise the converter's noise.
#pragma once

#include <array>
#include <cstdint>

#include "sim/imperfections.h"
#include "sim/signal.h"

namespace vm316::sim {

// The relay word, bit by bit.
namespace relay {
inline constexpr std::uint32_t kCh1Stage04 = 0x1;
inline constexpr std::uint32_t kCh1Stage08 = 0x2;
inline constexpr std::uint32_t kCh1Gain10 = 0x4;
inline constexpr std::uint32_t kCh2Gain10 = 0x8;
inline constexpr std::uint32_t kCh2Stage08 = 0x10;
inline constexpr std::uint32_t kCh2Stage04 = 0x20;
inline constexpr std::uint32_t kCh2Stage02 = 0x40;
inline constexpr std::uint32_t kCh2ToConverter2 = 0x80;
inline constexpr std::uint32_t kCh1ToConverter2 = 0x100;  // double rate
inline constexpr std::uint32_t kCh1Stage02 = 0x200;
inline constexpr std::uint32_t kCh1Attenuator10 = 0x400;
inline constexpr std::uint32_t kCh1Attenuator1 = 0x800;
inline constexpr std::uint32_t kCh1AcCoupling = 0x1000;
inline constexpr std::uint32_t kCh2AcCoupling = 0x2000;
inline constexpr std::uint32_t kCh2Attenuator1 = 0x4000;
inline constexpr std::uint32_t kCh2Attenuator10 = 0x8000;
inline constexpr std::uint32_t kCh2Attenuator100 = 0x10000;
inline constexpr std::uint32_t kCh1Reference = 0x40000;  // channel 2's DC-level DAC / 25
inline constexpr std::uint32_t kCh1Attenuator100 = 0x80000;
}  // namespace relay

// What one channel's relays select.
struct ChannelPath {
  enum class Input : std::uint8_t { kOpen, kConnector, kReference };
  static constexpr int kNoStage = -1;

  Input input = Input::kOpen;
  int attenuator = 0;  // 0: /1, 1: /10, 2: /100 (connector only)
  bool gain10 = false;
  int stage = kNoStage;  // 0: 0.2 V, 1: 0.4 V, 2: 0.8 V
  bool ac = false;

  // The imperfection set this path uses (see kStageConfigCount).
  int Config() const { return (gain10 ? 0 : 3) + (stage == kNoStage ? 0 : stage); }
  // Full scale at the stage input in volts, 0 without a stage.
  double StageFullScale() const;
  // Full scale at the connector in volts (the range's sensitivity), 0 without a stage.
  double InputFullScale() const;
};

ChannelPath DecodeChannelPath(std::uint32_t relay_word, int channel);

class AnalogModel {
 public:
  static constexpr double kAcCornerHz = 3.0;
  static constexpr double kReferenceDivider = 25.0;
  static constexpr double kExternalThresholdVolts = 1.4;
  static constexpr double kTrimGainPerStep = 0.0015;  // gain falls as the trim rises above 127
  static constexpr int kTrimNeutral = 127;
  static constexpr std::uint8_t kMidScale = 128;

  AnalogModel(const Imperfections& board, std::uint64_t noise_key);

  void SetInputs(const Signal& ch1, const Signal& ch2, const Signal& external);
  // The front end as the serial bus left it: relay word, DC-level DAC volts, trims.
  void SetFrontEnd(std::uint32_t relay_word, const std::array<double, 2>& dac_volts,
                   const std::array<std::uint8_t, 2>& trims);
  // The square-wave output, in board time relative to the board's start.
  void SetGenerator(const SquareWaveOutput& generator) { generator_ = generator; }
  void SetDeadConverter2(bool dead) { dead_converter2_ = dead; }

  // The converter's level before rounding, clamping and noise, in codes.
  double AnalogCode(int converter, std::uint64_t t_ns) const;
  // The byte converter 1 or 2 converts at t_ns.
  std::uint8_t Convert(int converter, std::uint64_t t_ns) const;
  bool ExternalHigh(std::uint64_t t_ns) const {
    return external_.VoltsAt(t_ns, generator_) > kExternalThresholdVolts;
  }

  const ChannelPath& Path(int channel) const { return paths_[channel - 1]; }
  const Imperfections& Board() const { return board_; }

 private:
  // Per converter: code = constant + slope * v(t), v from the named channel's connector.
  struct ConverterSetup {
    bool open = true;  // nothing connected: the converter reads mid-scale
    int channel = 0;   // 0 or 1: whose connector is sampled; -1 none (reference or open)
    bool ac = false;
    double constant = kMidScale;
    double slope = 0.0;  // codes per volt at the connector
  };

  void Recompute();
  ConverterSetup Setup(int converter_index, int channel_index) const;

  Imperfections board_;
  std::uint64_t noise_key_;
  std::array<Signal, 2> inputs_;
  Signal external_;
  SquareWaveOutput generator_;
  bool dead_converter2_ = false;

  std::uint32_t relay_word_ = 0;
  std::array<double, 2> dac_volts_{};
  std::array<std::uint8_t, 2> trims_{kTrimNeutral, kTrimNeutral};
  std::array<ChannelPath, 2> paths_{};
  std::array<ConverterSetup, 2> converters_{};
};

}  // namespace vm316::sim
