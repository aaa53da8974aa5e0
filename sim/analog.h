// The analog side of the board: what the relay word connects, what reaches each converter, and
// the code it converts. For a converter fed by a channel whose stage has full scale FS (volts at
// the stage input), once everything has settled:
//
//   level = 128 + 128 * v * g / FS - 128 * (v_dac + 1 V) + offset * g_trim + c_offset + dc_offset
//   code  = the converter's code for level + noise (its own transition levels, clamped 0..255)
//
// v is the stage input (the connector through the attenuator and the coupling, or a reference),
// g the product of stage, attenuator, converter and trim gains, v_dac the channel's DC-level DAC
// output in volts (with the DAC's gain error and non-linearity), offset the channel's offset
// for its configuration (scaled by the trim's gain g_trim, since it arises ahead of the trimmed
// stage), c_offset the converter's own offset and its trim's feed-through, dc_offset the x10
// stage's offset that only a DC-coupled input shows, and noise white and 1/f noise. A slow
// warm-up drift after power-on moves offset and gain.
//
// What changes settles as the parts do: a relay change keeps the old path for the relay's
// operate time, bounces, then approaches the new level exponentially over a few milliseconds;
// a DC-level or trim DAC write approaches its new level within a fraction of a millisecond; an
// input switched to AC coupling starts with its capacitor uncharged and settles with the
// coupling's time constant.
#pragma once

#include <array>
#include <cstdint>

#include "sim/faults.h"
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
  // The input path's bandwidth (attenuator, stage and converter driver together): a first-order
  // low-pass, so that an edge rises in 0.35 / 5 MHz = 70 ns from 10 % to 90 %.
  static constexpr double kInputBandwidthHz = 5e6;
  static constexpr double kReferenceDivider = 25.0;  // nominal; each board's is drawn
  static constexpr double kExternalThresholdVolts = 1.4;
  static constexpr double kTrimGainPerStep = 0.0015;  // gain falls as the trim rises above 127
  static constexpr int kTrimNeutral = 127;
  static constexpr std::uint8_t kMidScale = 128;
  // A noisy channel's extra noise, rms, in LSB.
  static constexpr double kNoisyChannelLsbRms = 6.0;
  // A drifting reference moves the DC-level DACs' outputs by this fraction per second of board
  // time, up to kReferenceDriftMax.
  static constexpr double kReferenceDriftPerSecond = 0.002;
  static constexpr double kReferenceDriftMax = 0.05;

  AnalogModel(const Imperfections& board, std::uint64_t noise_key);

  // What is wired to the inputs, from the start.
  void SetInputs(const Signal& ch1, const Signal& ch2, const Signal& external);
  // The probes moved at t_ns: an AC-coupled input keeps its capacitor's charge and settles
  // from there.
  void Rewire(const Signal& ch1, const Signal& ch2, std::uint64_t t_ns);
  // The front end as the serial bus left it (relay word, DC-level DAC volts as written, trims),
  // settled at once: the state at power-on, and for tests of the settled model.
  void SetFrontEnd(std::uint32_t relay_word, const std::array<double, 2>& dac_volts,
                   const std::array<std::uint8_t, 2>& trims);
  // The same written at t_ns: what it changes settles as the parts do.
  void SwitchFrontEnd(std::uint32_t relay_word, const std::array<double, 2>& dac_volts,
                      const std::array<std::uint8_t, 2>& trims, std::uint64_t t_ns);
  // The square-wave output, in board time relative to the board's start.
  void SetGenerator(const SquareWaveOutput& generator) { generator_ = generator; }
  const SquareWaveOutput& Generator() const { return generator_; }
  // The analog faults of the set (dead converter 2, stuck relays, noisy or dead channels, a
  // drifting reference).
  void SetFaults(const FaultSet& faults);

  // The converter's level before noise and conversion, in codes: settling and drift included.
  double AnalogCode(int converter, std::uint64_t t_ns) const;
  // The byte converter 1 or 2 converts at t_ns.
  std::uint8_t Convert(int converter, std::uint64_t t_ns) const;
  bool ExternalHigh(std::uint64_t t_ns) const {
    return external_.VoltsAt(t_ns, generator_) > kExternalThresholdVolts;
  }

  // The first of `count` samples, the k-th at t_ns + k * period_ns, at which converter 1 or 2
  // converts a code below `below` or at least `at_least`; count when there is none. Exact: a
  // span of samples is passed over only when bounds of its level (noise included) show that no
  // code of it can qualify, and every other sample is converted.
  std::uint64_t FirstCodeOutside(int converter, int below, int at_least, std::uint64_t t_ns,
                                 std::uint64_t period_ns, std::uint64_t count) const;
  // The last of them that does; count when none does.
  std::uint64_t LastCodeOutside(int converter, int below, int at_least, std::uint64_t t_ns,
                                std::uint64_t period_ns, std::uint64_t count) const;
  // The first sample at which the external trigger input is at the given logic level.
  std::uint64_t FirstExternalAt(bool high, std::uint64_t t_ns, std::uint64_t period_ns,
                                std::uint64_t count) const;

  const ChannelPath& Path(int channel) const { return paths_[channel - 1]; }
  const Imperfections& Board() const { return board_; }
  // The DC-level DAC's real output for a written voltage.
  double DacOutput(int channel, double written_volts) const;

 private:
  // Per converter: level = constant + slope * v(t), v from the named channel's connector.
  struct ConverterSetup {
    bool open = true;    // nothing connected: the converter reads mid-scale
    int front_end = -1;  // 0 or 1: whose stage feeds the converter
    int channel = -1;    // 0 or 1: whose connector is sampled; -1 none (reference or open)
    bool ac = false;
    double constant = kMidScale;
    double idle = kMidScale;  // the level with the stage input disconnected (relay bounce)
    double dac_codes = 0.0;   // the part of the constant the DC-level DACs make
    double slope = 0.0;       // codes per volt at the connector
    bool operator==(const ConverterSetup&) const = default;
  };
  // A change on its way: until contact_ns the converter still sees `before`; from contact_ns to
  // rest_ns the contacts bounce; from rest_ns the level approaches the new one from amplitude
  // codes away with tau_ns; after quiet_ns what is left is negligible.
  struct Settling {
    ConverterSetup before;
    std::uint64_t contact_ns = 0;
    std::uint64_t rest_ns = 0;
    std::uint64_t quiet_ns = 0;
    double amplitude = 0.0;
    double tau_ns = 1.0;
  };
  // The charge an AC-coupled input's capacitor still has to lose, in volts at the connector.
  struct AcCharge {
    double volts = 0.0;
    std::uint64_t since_ns = 0;
    std::uint64_t quiet_ns = 0;
  };
  // What varies slowly, per 16 us of board time: 1/f noise, warm-up drift, reference drift,
  // folded per converter into level * gain + offset for the converter's present setup.
  struct SlowTerms {
    std::uint64_t bucket = ~std::uint64_t{0};
    std::array<double, 2> gain{1.0, 1.0};
    std::array<double, 2> offset{};   // drift, LSB
    std::array<double, 2> flicker{};  // LSB
    std::array<double, 2> fault_noise_rms{};
  };
  enum class Change : std::uint8_t { kRelay, kDac, kTrim };
  // The slow terms change every 2^14 ns; 1/f noise is the sum of equal octaves from there up to
  // 2^30 ns (about 1 s), each a random level held for its period.
  static constexpr int kSlowShift = 14;

  std::array<ConverterSetup, 2> Compute() const;
  ConverterSetup Setup(int converter_index, int channel_index) const;
  void Apply(Change change, std::uint64_t t_ns);
  void ChargeAcInputs(const std::array<ChannelPath, 2>& before, std::uint64_t t_ns);
  double Steady(const ConverterSetup& setup, std::uint64_t t_ns) const;
  double SettlingLevel(int converter_index, std::uint64_t t_ns) const;
  double Level(int converter_index, std::uint64_t t_ns) const;
  double AcChargeAt(int channel_index, std::uint64_t t_ns) const;
  const SlowTerms& Slow(std::uint64_t t_ns) const;
  void RefreshSlow(std::uint64_t bucket) const;
  double Flicker(int converter_index, std::uint64_t bucket) const;
  std::uint8_t Quantize(int converter_index, double level) const;

  // Bounds over the instants t0_ns..t1_ns (analog_scan.cpp).
  Bounds SteadyBounds(const ConverterSetup& setup, std::uint64_t t0_ns, std::uint64_t t1_ns) const;
  Bounds AcChargeBounds(int channel_index, std::uint64_t t0_ns, std::uint64_t t1_ns) const;
  Bounds LevelBounds(int converter_index, std::uint64_t t0_ns, std::uint64_t t1_ns) const;
  // The converter's level before quantizing, noise included, for samples within one span of
  // the slow terms.
  Bounds ConvertedBounds(int converter_index, std::uint64_t t0_ns, std::uint64_t t1_ns) const;
  // The first (or last) sample of a span that qualifies; count when none does.
  std::uint64_t FirstCodeInSpan(int converter, int below, int at_least, std::uint64_t t_ns,
                                std::uint64_t period_ns, std::uint64_t count, bool last) const;
  std::uint64_t FirstExternalInSpan(bool high, std::uint64_t t_ns, std::uint64_t period_ns,
                                    std::uint64_t count) const;

  Imperfections board_;
  std::uint64_t noise_key_;
  std::array<Signal, 2> inputs_;
  Signal external_;
  SquareWaveOutput generator_;
  FaultSet faults_;

  std::uint32_t relay_word_ = 0;
  std::array<double, 2> dac_volts_{};  // as written
  std::array<std::uint8_t, 2> trims_{kTrimNeutral, kTrimNeutral};
  std::array<ChannelPath, 2> paths_{};
  std::array<ConverterSetup, 2> converters_{};
  std::array<Settling, 2> settling_{};
  std::array<AcCharge, 2> ac_charge_{};
  mutable SlowTerms slow_;
  // The 1/f noise's octaves, per converter: each one's key, and the level it holds for its
  // period (the index of that period and the level), so that a new slow span draws only the
  // octaves whose period has ended.
  static constexpr int kFlickerOctaves = 17;
  std::array<std::array<std::uint64_t, kFlickerOctaves>, 2> flicker_keys_{};
  mutable std::array<std::array<std::uint64_t, kFlickerOctaves>, 2> flicker_period_{};
  mutable std::array<std::array<double, kFlickerOctaves>, 2> flicker_level_{};
};

}  // namespace vm316::sim
