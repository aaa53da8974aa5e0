#include "sim/analog.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/noise.h"

namespace vm316::sim {
namespace {

constexpr std::array<double, 3> kStageVolts = {0.2, 0.4, 0.8};
constexpr std::array<double, 3> kAttenuation = {1.0, 10.0, 100.0};
constexpr double kGain10 = 10.0;
constexpr double kCodesPerFullScale = 128.0;
// The DC-level DAC's level that puts code 128 at 0 V on a perfect board.
constexpr double kDacZeroVolts = -1.0;
constexpr double kDacVoltsPerStep = 5.0 / 2048.0;
constexpr double kDacHalfScale = 2048.0;
constexpr double kDacSteps = 4095.0;

// The x10 stage's input network carries a small bias offset that only a DC-coupled input
// shows: the coupling capacitor blocks it, and the calibration references bypass it. So the
// searches (which run AC-coupled or on the references) never see it, and the calibration's
// closing step, which lowers the range 1 and 2 corrections by 5/256 V and 5/1024 V (8 and 2 DAC
// steps, 2.5 and 0.625 codes), is what cancels it. Codes, by configuration.
constexpr std::array<double, kStageConfigCount> kDcInputOffsetLsb = {-2.5, -0.625, 0.0,
                                                                     0.0,  0.0,    0.0};

// A settling level below this (codes) is not worth computing any more.
constexpr double kQuietLsb = 1e-3;
// An AC coupling's charge below this (volts) is nothing on the most sensitive range.
constexpr double kQuietVolts = 1e-7;
// The amplifiers' rails, in codes: a level from which a path recovers is never beyond them.
constexpr double kRailLowLsb = -64.0;
constexpr double kRailHighLsb = 320.0;
// Relay contacts bounce in chunks of 2^14 ns (16 us), open or closed at random.
constexpr int kBounceShift = 14;

// Keys of the model's random streams, apart from the white noise's.
constexpr std::uint64_t kFlickerKey = 0xF1F1F1F1'00000000ull;
constexpr std::uint64_t kBounceKey = 0xB0B0B0B0'00000000ull;
constexpr std::uint64_t kFaultNoiseKey = 0xFA17FA17'00000000ull;

struct ChannelRelays {
  std::uint32_t attenuator[3];
  std::uint32_t reference;  // 0: this channel takes the reference when no attenuator is in
  std::uint32_t gain10;
  std::uint32_t stage[3];
  std::uint32_t ac;
};

constexpr std::array<ChannelRelays, 2> kRelays = {{
    {{relay::kCh1Attenuator1, relay::kCh1Attenuator10, relay::kCh1Attenuator100},
     relay::kCh1Reference,
     relay::kCh1Gain10,
     {relay::kCh1Stage02, relay::kCh1Stage04, relay::kCh1Stage08},
     relay::kCh1AcCoupling},
    {{relay::kCh2Attenuator1, relay::kCh2Attenuator10, relay::kCh2Attenuator100},
     0,
     relay::kCh2Gain10,
     {relay::kCh2Stage02, relay::kCh2Stage04, relay::kCh2Stage08},
     relay::kCh2AcCoupling},
}};

double AcTauNs() {
  return 1e9 / (2.0 * std::numbers::pi * AnalogModel::kAcCornerHz);
}

// The time after which amplitude * exp(-t / tau) stays below limit.
std::uint64_t QuietAfter(double amplitude, double tau_ns, double limit) {
  const double size = std::abs(amplitude);
  if (size <= limit) return 0;
  return static_cast<std::uint64_t>(std::ceil(tau_ns * std::log(size / limit)));
}

double Rails(double level) {
  return std::clamp(level, kRailLowLsb, kRailHighLsb);
}

}  // namespace

double ChannelPath::StageFullScale() const {
  if (stage == kNoStage) return 0.0;
  return kStageVolts[stage] / (gain10 ? kGain10 : 1.0);
}

double ChannelPath::InputFullScale() const {
  return StageFullScale() * kAttenuation[attenuator];
}

ChannelPath DecodeChannelPath(std::uint32_t relay_word, int channel) {
  const ChannelRelays& bits = kRelays[channel - 1];
  ChannelPath path;
  // Channel 1's reference relay disconnects the connector; channel 2 falls back to the
  // reference when none of its input relays is closed.
  if (bits.reference != 0 && (relay_word & bits.reference) != 0) {
    path.input = ChannelPath::Input::kReference;
  } else {
    for (int att = 0; att < kAttenuatorCount; ++att) {
      if ((relay_word & bits.attenuator[att]) != 0) {
        path.input = ChannelPath::Input::kConnector;
        path.attenuator = att;
        break;
      }
    }
    if (path.input == ChannelPath::Input::kOpen && bits.reference == 0) {
      path.input = ChannelPath::Input::kReference;
    }
  }
  path.gain10 = (relay_word & bits.gain10) != 0;
  for (int stage = 0; stage < 3; ++stage) {
    if ((relay_word & bits.stage[stage]) != 0) {
      path.stage = stage;
      break;
    }
  }
  path.ac = (relay_word & bits.ac) != 0;
  return path;
}

AnalogModel::AnalogModel(const Imperfections& board, std::uint64_t noise_key)
    : board_(board), noise_key_(noise_key) {
  for (int c = 0; c < 2; ++c) {
    for (int octave = 0; octave < kFlickerOctaves; ++octave) {
      flicker_keys_[c][octave] =
          SplitMix64(noise_key_ ^ kFlickerKey ^ static_cast<std::uint64_t>(c * 64 + octave));
      flicker_period_[c][octave] = ~std::uint64_t{0};  // none drawn yet
    }
  }
  SetFrontEnd(relay_word_, dac_volts_, trims_);
}

void AnalogModel::SetInputs(const Signal& ch1, const Signal& ch2, const Signal& external) {
  inputs_ = {ch1, ch2};
  for (Signal& input : inputs_) input.SetBandwidth(kInputBandwidthHz);
  external_ = external;
  ac_charge_ = {};
}

void AnalogModel::Rewire(const Signal& ch1, const Signal& ch2, std::uint64_t t_ns) {
  const std::array<Signal, 2> next = {ch1, ch2};
  for (int ch = 0; ch < 2; ++ch) {
    if (!paths_[ch].ac) {
      inputs_[ch] = next[ch];
      inputs_[ch].SetBandwidth(kInputBandwidthHz);
      continue;
    }
    // The capacitor keeps the voltage it holds: the input minus what passes it.
    const double held = inputs_[ch].VoltsAt(t_ns, generator_) -
                        inputs_[ch].HighPassedVoltsAt(t_ns, kAcCornerHz, generator_) -
                        AcChargeAt(ch, t_ns);
    inputs_[ch] = next[ch];
    inputs_[ch].SetBandwidth(kInputBandwidthHz);
    AcCharge& charge = ac_charge_[ch];
    charge.volts = inputs_[ch].VoltsAt(t_ns, generator_) - held -
                   inputs_[ch].HighPassedVoltsAt(t_ns, kAcCornerHz, generator_);
    charge.since_ns = t_ns;
    charge.quiet_ns = t_ns + QuietAfter(charge.volts, AcTauNs(), kQuietVolts);
  }
  // What each converter sees follows the inputs; the change itself is a wire, not a part.
}

void AnalogModel::SetFaults(const FaultSet& faults) {
  faults_ = faults;
  SetFrontEnd(relay_word_, dac_volts_, trims_);
}

void AnalogModel::SetFrontEnd(std::uint32_t relay_word, const std::array<double, 2>& dac_volts,
                              const std::array<std::uint8_t, 2>& trims) {
  relay_word_ = relay_word;
  dac_volts_ = dac_volts;
  trims_ = trims;
  paths_ = {DecodeChannelPath(relay_word_ & ~faults_.stuck_relays, 1),
            DecodeChannelPath(relay_word_ & ~faults_.stuck_relays, 2)};
  converters_ = Compute();
  settling_ = {};
  ac_charge_ = {};
  slow_.bucket = ~std::uint64_t{0};  // the slow terms follow the setups
}

void AnalogModel::SwitchFrontEnd(std::uint32_t relay_word, const std::array<double, 2>& dac_volts,
                                 const std::array<std::uint8_t, 2>& trims, std::uint64_t t_ns) {
  Change change = Change::kDac;
  if (relay_word != relay_word_) {
    change = Change::kRelay;
  } else if (trims != trims_) {
    change = Change::kTrim;
  }
  const std::array<ChannelPath, 2> before = paths_;
  relay_word_ = relay_word;
  dac_volts_ = dac_volts;
  trims_ = trims;
  paths_ = {DecodeChannelPath(relay_word_ & ~faults_.stuck_relays, 1),
            DecodeChannelPath(relay_word_ & ~faults_.stuck_relays, 2)};
  ChargeAcInputs(before, t_ns);
  Apply(change, t_ns);
}

void AnalogModel::ChargeAcInputs(const std::array<ChannelPath, 2>& before, std::uint64_t t_ns) {
  for (int ch = 0; ch < 2; ++ch) {
    AcCharge& charge = ac_charge_[ch];
    if (!paths_[ch].ac) {
      charge = {};  // the DC relay shorts the capacitor
      continue;
    }
    if (before[ch].ac) continue;
    // Switched to AC with the capacitor empty: at first the whole input passes, then its mean
    // drains away with the coupling's time constant.
    const Signal& input = inputs_[ch];
    charge.volts =
        input.VoltsAt(t_ns, generator_) - input.HighPassedVoltsAt(t_ns, kAcCornerHz, generator_);
    charge.since_ns = t_ns;
    charge.quiet_ns = t_ns + QuietAfter(charge.volts, AcTauNs(), kQuietVolts);
  }
}

void AnalogModel::Apply(Change change, std::uint64_t t_ns) {
  const std::array<ConverterSetup, 2> next = Compute();
  for (int c = 0; c < 2; ++c) {
    const ConverterSetup& old = converters_[c];
    if (old == next[c]) continue;  // nothing this converter sees has changed
    Settling& s = settling_[c];
    // The new level is approached from where the old one was (within the amplifiers' rails).
    const double step = Rails(Steady(old, t_ns)) - Rails(Steady(next[c], t_ns));
    if (t_ns < s.rest_ns) {
      // A relay still on its way: the approach starts from the same place to the new level.
      s.amplitude += step;
      if (change == Change::kRelay) {
        s.contact_ns = t_ns + board_.relay_operate_ns;
        s.rest_ns = s.contact_ns + board_.relay_bounce_ns;
      }
    } else {
      const double left =
          t_ns < s.quiet_ns
              ? s.amplitude * std::exp(-static_cast<double>(t_ns - s.rest_ns) / s.tau_ns)
              : 0.0;
      s.amplitude = left + step;
      double tau = change == Change::kDac ? board_.dac_tau_ns : board_.trim_tau_ns;
      if (std::abs(left) > 0.01) tau = std::max(tau, s.tau_ns);
      s.before = old;
      s.contact_ns = t_ns;
      s.rest_ns = t_ns;
      if (change == Change::kRelay) {
        tau = board_.relay_tau_ns;
        s.contact_ns = t_ns + board_.relay_operate_ns;
        s.rest_ns = s.contact_ns + board_.relay_bounce_ns;
      }
      s.tau_ns = std::max(tau, 1.0);
    }
    s.quiet_ns = s.rest_ns + QuietAfter(s.amplitude, s.tau_ns, kQuietLsb);
    converters_[c] = next[c];
    slow_.bucket = ~std::uint64_t{0};  // the slow terms follow the setups
  }
}

double AnalogModel::DacOutput(int channel, double written_volts) const {
  const int index = channel - 1;
  // The bus only writes whole steps; a test of the settled model may ask for any level.
  const double steps = written_volts / kDacVoltsPerStep;
  const double x = (steps + kDacHalfScale) / kDacSteps;  // 0..1 across the scale
  const double bow = 1.0 - (2.0 * x - 1.0) * (2.0 * x - 1.0);
  const double inl = board_.dac_inl_bow[index] * bow +
                     board_.dac_inl_s[index] * std::sin(2.0 * std::numbers::pi * x);
  return (steps + inl) * kDacVoltsPerStep * board_.dac_gain[index];
}

std::array<AnalogModel::ConverterSetup, 2> AnalogModel::Compute() const {
  std::array<ConverterSetup, 2> setups;
  setups[0] = Setup(0, 0);
  if ((relay_word_ & ~faults_.stuck_relays & relay::kCh1ToConverter2) != 0) {
    setups[1] = Setup(1, 0);
  } else if ((relay_word_ & ~faults_.stuck_relays & relay::kCh2ToConverter2) != 0) {
    setups[1] = Setup(1, 1);
  }
  return setups;
}

AnalogModel::ConverterSetup AnalogModel::Setup(int converter_index, int channel_index) const {
  const ChannelPath& path = paths_[channel_index];
  const int config = path.Config();
  ConverterSetup setup;
  setup.open = false;
  setup.front_end = channel_index;
  const double trim_steps = static_cast<int>(trims_[converter_index]) - kTrimNeutral;
  const double trim_gain = 1.0 - kTrimGainPerStep * trim_steps;
  setup.dac_codes = -kCodesPerFullScale * DacOutput(channel_index + 1, dac_volts_[channel_index]);
  setup.constant = kMidScale + setup.dac_codes + kCodesPerFullScale * kDacZeroVolts +
                   board_.offset_lsb[channel_index][config] * trim_gain +
                   board_.converter_offset_lsb[converter_index] +
                   board_.trim_offset_lsb_per_step[converter_index] * trim_steps;
  setup.idle = setup.constant;
  const bool dead = faults_.dead_channel[channel_index];
  if (path.stage == ChannelPath::kNoStage || path.input == ChannelPath::Input::kOpen || dead) {
    setup.channel = -1;  // the converter sees the DAC level alone
    return setup;
  }
  const double gain =
      board_.stage_gain[channel_index][config] * board_.converter_gain[converter_index] * trim_gain;
  const double codes_per_stage_volt = kCodesPerFullScale * gain / path.StageFullScale();
  if (path.input == ChannelPath::Input::kReference) {
    const int other = 1 - channel_index;
    const double reference_codes = codes_per_stage_volt * DacOutput(other + 1, dac_volts_[other]) /
                                   board_.reference_divider[channel_index];
    setup.constant += reference_codes;
    // The reference comes from a DAC too: it drifts with the DACs' reference.
    setup.dac_codes += reference_codes;
    setup.channel = -1;
    return setup;
  }
  setup.channel = channel_index;
  setup.ac = path.ac;
  setup.slope = codes_per_stage_volt * board_.attenuator_gain[channel_index][path.attenuator] /
                kAttenuation[path.attenuator];
  if (!path.ac) setup.constant += kDcInputOffsetLsb[config];
  return setup;
}

double AnalogModel::AcChargeAt(int channel_index, std::uint64_t t_ns) const {
  const AcCharge& charge = ac_charge_[channel_index];
  if (t_ns >= charge.quiet_ns || t_ns < charge.since_ns) return 0.0;
  return charge.volts * std::exp(-static_cast<double>(t_ns - charge.since_ns) / AcTauNs());
}

double AnalogModel::Steady(const ConverterSetup& setup, std::uint64_t t_ns) const {
  if (setup.open) return kMidScale;
  if (setup.channel < 0) return setup.constant;
  const Signal& input = inputs_[setup.channel];
  const bool charged = setup.ac && t_ns < ac_charge_[setup.channel].quiet_ns;
  if (input.IsSilent() && !charged) return setup.constant;
  const double volts = setup.ac ? input.HighPassedVoltsAt(t_ns, kAcCornerHz, generator_) +
                                      AcChargeAt(setup.channel, t_ns)
                                : input.VoltsAt(t_ns, generator_);
  return setup.constant + setup.slope * volts;
}

double AnalogModel::SettlingLevel(int converter_index, std::uint64_t t_ns) const {
  const Settling& s = settling_[converter_index];
  const ConverterSetup& setup = converters_[converter_index];
  if (t_ns < s.contact_ns) return Steady(s.before, t_ns);
  if (t_ns < s.rest_ns) {
    const bool open = (NoiseBits(noise_key_ ^ kBounceKey, t_ns >> kBounceShift) & 1) != 0;
    return open ? setup.idle : Steady(setup, t_ns) + s.amplitude;
  }
  return Steady(setup, t_ns) +
         s.amplitude * std::exp(-static_cast<double>(t_ns - s.rest_ns) / s.tau_ns);
}

double AnalogModel::Level(int converter_index, std::uint64_t t_ns) const {
  if (t_ns < settling_[converter_index].quiet_ns) return SettlingLevel(converter_index, t_ns);
  return Steady(converters_[converter_index], t_ns);
}

const AnalogModel::SlowTerms& AnalogModel::Slow(std::uint64_t t_ns) const {
  const std::uint64_t bucket = t_ns >> kSlowShift;
  if (bucket != slow_.bucket) RefreshSlow(bucket);
  return slow_;
}

void AnalogModel::RefreshSlow(std::uint64_t bucket) const {
  slow_.bucket = bucket;
  const double seconds = static_cast<double>(bucket << kSlowShift) * 1e-9;
  const double warm = 1.0 - std::exp(-seconds / board_.warm_tau_s);
  const double reference_drift =
      faults_.drifting_reference ? std::min(kReferenceDriftPerSecond * seconds, kReferenceDriftMax)
                                 : 0.0;
  const double octave_rms = board_.flicker_lsb_rms / std::sqrt(double{kFlickerOctaves});
  for (int c = 0; c < 2; ++c) {
    slow_.flicker[c] = octave_rms != 0.0 ? Flicker(c, bucket) * octave_rms : 0.0;
    const ConverterSetup& setup = converters_[c];
    slow_.gain[c] = 1.0;
    slow_.offset[c] = 0.0;
    slow_.fault_noise_rms[c] = 0.0;
    if (setup.front_end < 0) continue;
    const int ch = setup.front_end;
    // level + warm offset + (level - 128) * warm gain + DAC part * reference drift.
    const double gain = warm * board_.warm_gain[ch];
    slow_.gain[c] = 1.0 + gain;
    slow_.offset[c] =
        warm * board_.warm_offset_lsb[ch] - kMidScale * gain + setup.dac_codes * reference_drift;
    if (faults_.noisy_channel[ch]) slow_.fault_noise_rms[c] = kNoisyChannelLsbRms;
  }
}

double AnalogModel::Flicker(int converter_index, std::uint64_t bucket) const {
  // Summed in octave order, as always: an octave's level is held for its whole period, so only
  // those whose period has ended are drawn again.
  double sum = 0.0;
  for (int octave = 0; octave < kFlickerOctaves; ++octave) {
    const std::uint64_t period = bucket >> octave;
    if (flicker_period_[converter_index][octave] != period) {
      flicker_period_[converter_index][octave] = period;
      flicker_level_[converter_index][octave] =
          UnitGaussian(NoiseBits(flicker_keys_[converter_index][octave], period));
    }
    sum += flicker_level_[converter_index][octave];
  }
  return sum;
}

double AnalogModel::AnalogCode(int converter, std::uint64_t t_ns) const {
  const int c = converter - 1;
  const SlowTerms& slow = Slow(t_ns);
  return Level(c, t_ns) * slow.gain[c] + slow.offset[c];
}

std::uint8_t AnalogModel::Quantize(int converter_index, double level) const {
  const std::array<double, kCodeCount + 1>& transitions = board_.transition_lsb[converter_index];
  // The nearest ideal code (truncation is rounding here: the argument is never below -0.5).
  const double x = std::clamp(level, -1.0, double{kCodeCount});
  int code = std::min(static_cast<int>(x + 0.5), kCodeCount - 1);
  // Transitions lie within half an LSB of their ideal place: one step at most.
  if (x < transitions[code]) {
    --code;
  } else if (x >= transitions[code + 1]) {
    ++code;
  }
  return static_cast<std::uint8_t>(code);
}

std::uint8_t AnalogModel::Convert(int converter, std::uint64_t t_ns) const {
  if (converter == 2 && faults_.dead_converter2) return kMidScale;
  const int c = converter - 1;
  const SlowTerms& slow = Slow(t_ns);
  double level = Level(c, t_ns) * slow.gain[c] + slow.offset[c] + slow.flicker[c];
  if (board_.noise_lsb_rms != 0.0) {
    level += board_.noise_lsb_rms *
             UnitGaussian(NoiseBits(noise_key_ + static_cast<std::uint64_t>(converter), t_ns));
  }
  if (slow.fault_noise_rms[c] != 0.0) {
    level += slow.fault_noise_rms[c] * UnitGaussian(NoiseBits(noise_key_ ^ kFaultNoiseKey, t_ns));
  }
  return Quantize(c, level);
}

}  // namespace vm316::sim
