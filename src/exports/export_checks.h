// The common check order of the exports, in one place. Every export tests, in this order and
// stopping at the first failure: the instrument is present (H), the library is initialised
// (I, acquisition control only), the model or capability offers the function, the channel is
// valid (C), the values are admitted. An export chains the steps of its table row on a Gate
// and either acts or returns the first refusal:
//
//   Gate gate = Gate::Present().Channel(channel).Valid(coupling <= 1);
//   if (gate) gate->SetCoupling(channel, coupling);
//   return gate.Status();
//
// A refused step leaves every later step untested, so a predicate that reads the instrument
// or a caller's variable is passed as a callable: it runs only once the earlier steps passed
// (in particular after NotNull has vouched for the pointer it reads through).
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <utility>

#include "exports/library_state.h"
#include "instrument/trigger_codes.h"
#include "instrument/vmx16.h"
#include "vm316.h"

namespace vm316::exports {

class Gate {
 public:
  // H: the instance exists and answered at bring-up.
  static Gate Present() { return Gate(PresentInstrument()); }
  // The instance exists, whether or not it answered (the transfer-mode exports).
  static Gate InstanceExists() { return Gate(LiveInstance()); }

  // I: a bring-up has succeeded in this load of the library.
  Gate& Initialised() { return Refuse(!Library().Initialised, StatusNotInitialized); }

  // The model or capability offers the function; else the refusal given.
  Gate& Has(bool TVMx16::*capability, std::uint16_t refusal = StatusNotSupported) {
    return Refuse(*this && !(vm_->*capability), refusal);
  }

  // The model offers what the predicate asks of it; else the refusal given.
  template <typename Predicate>
  requires std::invocable<Predicate, const TVMx16&> Gate& Offers(
      Predicate&& offered, std::uint16_t refusal = StatusNotSupported) {
    return Refuse(*this && !Run(std::forward<Predicate>(offered)), refusal);
  }

  // C: 1 .. ChannelCount, compared unsigned.
  Gate& Channel(unsigned channel) {
    return Refuse(*this && (channel < 1 || channel > ChannelCount()), StatusInvalidChannel);
  }
  // C for the trigger-slope exports: channel 0 addresses the external trigger input's slot,
  // which exists when the board has an external trigger.
  Gate& TriggerInput(unsigned channel) {
    return Refuse(*this && (channel > ChannelCount() || (channel == 0 && !vm_->HasExternalTrigger)),
                  StatusInvalidChannel);
  }

  // Value step: the caller's variables and buffers must exist before anything is read from or
  // written to them.
  template <typename... Pointers>
  Gate& NotNull(const Pointers*... pointers) {
    return Refuse(((pointers == nullptr) || ...), StatusInvalidValue);
  }
  // Value step: a NaN or an infinity never reaches the instrument's arithmetic.
  template <std::same_as<double>... Values>
  Gate& Finite(Values... values) {
    return Refuse(!(std::isfinite(values) && ...), StatusInvalidValue);
  }
  // Value step: a NaN stands for no value at all; an infinity is a value like any large one
  // and meets the same rules.
  template <std::same_as<double>... Values>
  Gate& NotNaN(Values... values) {
    return Refuse((std::isnan(values) || ...), StatusInvalidValue);
  }
  // Value step: a condition on by-value arguments...
  Gate& Valid(std::same_as<bool> auto admitted) { return Refuse(!admitted, StatusInvalidValue); }
  // ...or a predicate, run only when the earlier steps passed; it may take the instrument.
  template <typename Predicate>
  requires std::invocable<Predicate> || std::invocable<Predicate, const TVMx16&> Gate& Valid(
      Predicate&& admitted) {
    return Refuse(*this && !Run(std::forward<Predicate>(admitted)), StatusInvalidValue);
  }
  // An admission rule of the trigger settings: not offered, or not a valid value.
  template <typename Rule>
  Gate& Admitted(Rule&& rule) {
    if (!*this) return *this;
    switch (Run(std::forward<Rule>(rule))) {
      case Admission::kOk:
        return *this;
      case Admission::kNotSupported:
        return Refuse(true, StatusNotSupported);
      case Admission::kInvalidValue:
        break;
    }
    return Refuse(true, StatusInvalidValue);
  }

  explicit operator bool() const { return status_ == StatusOk; }
  std::uint16_t Status() const { return status_; }
  // The instrument; only after a passed gate.
  TVMx16& Instrument() const { return *vm_; }
  TVMx16* operator->() const { return vm_; }

 private:
  explicit Gate(TVMx16* vm) : vm_(vm), status_(vm != nullptr ? StatusOk : StatusNoHardware) {}

  // The first refusal stands; later steps do not replace it.
  Gate& Refuse(bool refused, std::uint16_t status) {
    if (*this && refused) status_ = status;
    return *this;
  }

  unsigned ChannelCount() const { return static_cast<std::uint16_t>(vm_->ChannelCount); }

  template <typename Callable>
  auto Run(Callable&& callable) const {
    if constexpr (std::invocable<Callable, const TVMx16&>) {
      return callable(std::as_const(*vm_));
    } else {
      return callable();
    }
  }

  TVMx16* vm_;
  std::uint16_t status_;
};

// An export of a facility the board lacks, behind gate H: StatusNoHardware without an
// instrument, otherwise the code that says the facility is absent.
inline std::uint16_t AbsentBehindGate(std::uint16_t absent) {
  if (!Gate::Present()) return StatusNoHardware;
  return absent;
}

}  // namespace vm316::exports
