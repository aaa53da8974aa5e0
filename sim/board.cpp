#include "sim/board.h"

#include "sim/noise.h"

namespace vm316::sim {
namespace {

// Keys that keep the board's random streams apart.
enum Stream : std::uint64_t {
  kStreamConverterNoise = 1,
  kStreamCh1 = 2,
  kStreamCh2 = 3,
  kStreamExternal = 4,
  kStreamMemory = 5,
};

std::uint64_t StreamKey(std::uint64_t seed, Stream stream) {
  return SplitMix64(seed * 0x100 + stream);
}

Signal Keyed(Signal signal, std::uint64_t seed, Stream stream) {
  signal.SetNoiseKey(StreamKey(seed, stream));
  return signal;
}

}  // namespace

Board::Board(const BoardConfig& config, platform::Clock& clock)
    : config_(config),
      clock_(clock),
      origin_ns_(clock.NowNs()),
      analog_(config.ideal ? Imperfections::Ideal() : Imperfections::Draw(config.seed),
              StreamKey(config.seed, kStreamConverterNoise)),
      recorder_(*this, config.faults.stuck_busy, StreamKey(config.seed, kStreamMemory)) {
  analog_.SetInputs(Keyed(config.ch1, config.seed, kStreamCh1),
                    Keyed(config.ch2, config.seed, kStreamCh2),
                    Keyed(config.external, config.seed, kStreamExternal));
  analog_.SetFaults(config.faults);
  analog_.SetFrontEnd(bus_.RelayWord(), {bus_.DcLevelDacVolts(1), bus_.DcLevelDacVolts(2)},
                      {bus_.GainTrim(1), bus_.GainTrim(2)});
  recorder_.SetSampleClock(time_base_.CurrentSampleClock(), origin_ns_);
}

bool Board::BeginAccess(std::uint16_t port, std::uint16_t* offset) {
  // Every access is a bus cycle, whether or not anything answers it; a slow bus stretches it.
  clock_.Advance(config_.faults.bus_access_ns != 0 ? config_.faults.bus_access_ns
                                                   : platform::kPortAccessNs);
  ++port_accesses_;
  if (config_.faults.absent) return false;
  if (config_.faults.unplug_after && port_accesses_ > *config_.faults.unplug_after) return false;
  *offset = static_cast<std::uint16_t>(port - config_.base);
  if (*offset >= kPortCount) return false;
  // Reading the real clock costs more than the rest of an access, so it is read only when
  // something runs on the sample clock, or when a write starts something (Now()).
  if (recorder_.Running()) recorder_.CatchUp(Now());
  return true;
}

std::uint8_t Board::In(std::uint16_t port) {
  std::uint16_t offset = 0;
  if (!BeginAccess(port, &offset)) return platform::kFloatingBus;
  switch (offset) {
    case kCounterLowPort:
      return static_cast<std::uint8_t>(recorder_.Counter());
    case kCounterHighPort:
      return static_cast<std::uint8_t>(recorder_.Counter() >> 8);
    case kStatusPort:
      return recorder_.Status();
    case kCh1SamplePort:
      return recorder_.SampleByte(1);
    case kCh2SamplePort:
      return recorder_.SampleByte(2);
    default:
      return platform::kFloatingBus;  // write-only and unused ports drive nothing
  }
}

void Board::Out(std::uint16_t port, std::uint8_t value) {
  std::uint16_t offset = 0;
  if (!BeginAccess(port, &offset)) return;
  // Whatever the write changes, the recorder works out anew from here.
  recorder_.BeforeChange();
  switch (offset) {
    case kControlIndexPort:
      selected_register_[0] = value;
      break;
    case kControlDataPort:
      WriteControl(value);
      break;
    case kCh1IndexPort:
      selected_register_[1] = value;
      break;
    case kCh1DataPort:
      WriteUnit(1, value);
      break;
    case kCh2IndexPort:
      selected_register_[2] = value;
      break;
    case kCh2DataPort:
      WriteUnit(2, value);
      break;
    default:
      break;  // the status port and base+3 take no writes
  }
}

void Board::WriteControl(std::uint8_t value) {
  switch (selected_register_[0]) {
    case kCountLowRegister:
      recorder_.WriteCountLow(value);
      break;
    case kCountHighRegister:
      recorder_.WriteCountHigh(value);
      break;
    case kTimerSelectRegister:
      time_base_.WriteSelect(value);
      TimeBaseChanged();
      break;
    case kModeRegister:
      recorder_.WriteMode(value, Now());
      break;
    case kArmRegister:
      recorder_.WriteArm();
      break;
    case kStepRegister:
      recorder_.WriteStep();
      break;
    case kTimerDataRegister:
      time_base_.WriteData(value, Now());
      TimeBaseChanged();
      break;
    case kTriggerRegister:
      recorder_.WriteTriggerSelect(value);
      break;
    default:
      break;  // no such register
  }
}

void Board::WriteUnit(int unit, std::uint8_t value) {
  TriggerComparator& comparator = recorder_.Comparator(unit);
  switch (selected_register_[unit]) {
    case kHysteresisLevelRegister:
      comparator.WriteHysteresisLevel(value);
      break;
    case kTriggerLevelRegister:
      comparator.WriteTriggerLevel(value);
      break;
    case kComparatorModeRegister:
      comparator.WriteMode(value);
      break;
    case kFrontEndBusRegister:
      if (unit == 1) WriteFrontEndBus(value);
      break;
    case kUnitModeRegister:
      recorder_.WriteUnitMode(unit, value);
      break;
    case kUnitStepRegister:
      break;  // the converters have no pipeline to clear
    default:
      break;
  }
}

void Board::WriteFrontEndBus(std::uint8_t lines) {
  if (!bus_.Write(lines)) return;
  // The samples recorded so far were converted by the front end as it was.
  recorder_.Materialize();
  analog_.SwitchFrontEnd(bus_.RelayWord(), {bus_.DcLevelDacVolts(1), bus_.DcLevelDacVolts(2)},
                         {bus_.GainTrim(1), bus_.GainTrim(2)}, InputTime(Now()));
}

void Board::Rewire(const Signal& ch1, const Signal& ch2) {
  config_.ch1 = ch1;
  config_.ch2 = ch2;
  // The samples recorded so far saw the old inputs (those since the last access are recorded at
  // the next one, and see the new ones).
  recorder_.Materialize();
  recorder_.BeforeChange();
  analog_.Rewire(Keyed(ch1, config_.seed, kStreamCh1), Keyed(ch2, config_.seed, kStreamCh2),
                 InputTime(Now()));
}

void Board::TimeBaseChanged() {
  recorder_.SetSampleClock(time_base_.CurrentSampleClock(), Now());
  SquareWaveOutput generator = time_base_.CurrentSquareWave();
  generator.origin_ns = InputTime(generator.origin_ns);
  if (generator == analog_.Generator()) return;
  recorder_.Materialize();
  analog_.SetGenerator(generator);
}

std::uint64_t Board::FirstTaken(const ComparatorWatch& watch, int converter, std::uint64_t t_ns,
                                std::uint64_t period_ns, std::uint64_t count) {
  // Instants before the board was made read as its start: there the inputs' time stands still,
  // and each sample is looked at as it comes.
  if (t_ns <= origin_ns_) {
    for (std::uint64_t k = 0; k < count; ++k) {
      const std::uint64_t t = t_ns + k * period_ns;
      const bool taken = watch.kind == ComparatorWatch::Kind::kExternal
                             ? ExternalHighAt(t) == watch.external_high
                             : watch.Takes(ConvertAt(converter, t));
      if (taken) return k;
    }
    return count;
  }
  const std::uint64_t t = InputTime(t_ns);
  if (watch.kind == ComparatorWatch::Kind::kExternal) {
    return analog_.FirstExternalAt(watch.external_high, t, period_ns, count);
  }
  return analog_.FirstCodeOutside(converter, watch.below, watch.at_least, t, period_ns, count);
}

std::uint64_t Board::LastTaken(const ComparatorWatch& watch, int converter, std::uint64_t t_ns,
                               std::uint64_t period_ns, std::uint64_t count) {
  if (t_ns <= origin_ns_) {
    for (std::uint64_t k = count; k-- > 0;) {
      if (watch.Takes(ConvertAt(converter, t_ns + k * period_ns))) return k;
    }
    return count;
  }
  return analog_.LastCodeOutside(converter, watch.below, watch.at_least, InputTime(t_ns), period_ns,
                                 count);
}

}  // namespace vm316::sim
