#include "sim/analog.h"

#include <algorithm>
#include <cmath>

#include "sim/noise.h"

namespace vm316::sim {
namespace {

constexpr std::array<double, 3> kStageVolts = {0.2, 0.4, 0.8};
constexpr std::array<double, 3> kAttenuation = {1.0, 10.0, 100.0};
constexpr double kGain10 = 10.0;
constexpr double kCodesPerFullScale = 128.0;
// The DC-level DAC's level that puts code 128 at 0 V on a perfect board.
constexpr double kDacZeroVolts = -1.0;

// The x10 stage's input network carries a small bias offset that only a DC-coupled input
// shows: the coupling capacitor blocks it, and the calibration references bypass it. So the
// searches (which run AC-coupled or on the references) never see it, and the calibration's
// closing step, which lowers the range 1 and 2 corrections by 5/256 V and 5/1024 V (8 and 2 DAC
// steps, 2.5 and 0.625 codes), is exactly what cancels it. Codes, by configuration.
constexpr std::array<double, kStageConfigCount> kDcInputOffsetLsb = {-2.5, -0.625, 0.0,
                                                                     0.0,  0.0,    0.0};

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
  Recompute();
}

void AnalogModel::SetInputs(const Signal& ch1, const Signal& ch2, const Signal& external) {
  inputs_ = {ch1, ch2};
  external_ = external;
}

void AnalogModel::SetFrontEnd(std::uint32_t relay_word, const std::array<double, 2>& dac_volts,
                              const std::array<std::uint8_t, 2>& trims) {
  relay_word_ = relay_word;
  dac_volts_ = dac_volts;
  trims_ = trims;
  Recompute();
}

void AnalogModel::Recompute() {
  paths_ = {DecodeChannelPath(relay_word_, 1), DecodeChannelPath(relay_word_, 2)};
  converters_[0] = Setup(0, 0);
  if ((relay_word_ & relay::kCh1ToConverter2) != 0) {
    converters_[1] = Setup(1, 0);
  } else if ((relay_word_ & relay::kCh2ToConverter2) != 0) {
    converters_[1] = Setup(1, 1);
  } else {
    converters_[1] = ConverterSetup{};
  }
}

AnalogModel::ConverterSetup AnalogModel::Setup(int converter_index, int channel_index) const {
  const ChannelPath& path = paths_[channel_index];
  const int config = path.Config();
  ConverterSetup setup;
  setup.open = false;
  const double v0 = kDacZeroVolts + board_.offset_lsb[channel_index][config] / kCodesPerFullScale;
  setup.constant = kMidScale - kCodesPerFullScale * (dac_volts_[channel_index] - v0);
  if (path.stage == ChannelPath::kNoStage || path.input == ChannelPath::Input::kOpen) {
    setup.channel = -1;  // the converter sees the DAC level alone
    return setup;
  }
  const double trim_gain =
      1.0 - kTrimGainPerStep * (static_cast<int>(trims_[converter_index]) - kTrimNeutral);
  const double gain =
      board_.stage_gain[channel_index][config] * board_.converter_gain[converter_index] * trim_gain;
  const double codes_per_stage_volt = kCodesPerFullScale * gain / path.StageFullScale();
  if (path.input == ChannelPath::Input::kReference) {
    const double reference = dac_volts_[1 - channel_index] / kReferenceDivider;
    setup.constant += codes_per_stage_volt * reference;
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

double AnalogModel::AnalogCode(int converter, std::uint64_t t_ns) const {
  const ConverterSetup& setup = converters_[converter - 1];
  if (setup.open) return kMidScale;
  if (setup.channel < 0) return setup.constant;
  const Signal& input = inputs_[setup.channel];
  if (input.IsSilent()) return setup.constant;
  const double volts = setup.ac ? input.HighPassedVoltsAt(t_ns, kAcCornerHz, generator_)
                                : input.VoltsAt(t_ns, generator_);
  return setup.constant + setup.slope * volts;
}

std::uint8_t AnalogModel::Convert(int converter, std::uint64_t t_ns) const {
  if (converter == 2 && dead_converter2_) return kMidScale;
  double code = AnalogCode(converter, t_ns);
  if (board_.noise_lsb_rms != 0.0) {
    code += board_.noise_lsb_rms *
            UnitGaussian(NoiseBits(noise_key_ + static_cast<std::uint64_t>(converter), t_ns));
  }
  return static_cast<std::uint8_t>(std::clamp(std::floor(code + 0.5), 0.0, 255.0));
}

}  // namespace vm316::sim
