// A host that runs in another floating-point environment than the default (another rounding
// mode, exceptions unmasked, the x87 at reduced precision) gets the very same answers, bit for
// bit, and finds its environment as it left it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "sim_session.h"
#include "vm316.h"

namespace vm316::testing {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// On the 0.8 V range one trigger code is 0.8 / 128 V: these sit on halves of a code.
constexpr double kCodeStep = 0.8 / 128;

// Everything a host sees of a run: statuses, values written back or returned, codes, records.
class Transcript {
 public:
  void Add(uint64_t word) { words_.push_back(word); }
  void Add(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    words_.push_back(bits);
  }
  const std::vector<uint64_t>& words() const { return words_; }

 private:
  std::vector<uint64_t> words_;
};

void Configure(Transcript& t) {
  for (double request : {3.0, kInfinity, -kInfinity, 0.7, 0.8}) {
    double volts = request;
    t.Add(uint64_t{SetSensitivity(1, &volts)});
    t.Add(volts);
  }
  for (double level : {0.5 * kCodeStep, 1.5 * kCodeStep, -2.5 * kCodeStep, 0.3}) {
    t.Add(uint64_t{SetTriggerLevel(1, level)});
    double read = 0;
    t.Add(uint64_t{GetTriggerLevel(1, &read)});
    t.Add(read);
  }
  for (double hysteresis : {2.5 * kCodeStep, 0.5 * kCodeStep, -kInfinity}) {
    t.Add(uint64_t{SetTriggerHys(2, hysteresis)});
    double read = 0;
    t.Add(uint64_t{GetTriggerHys(2, &read)});
    t.Add(read);
  }
  for (uint32_t hertz : {3000000u, 1234567u, 333333u}) {
    uint32_t frequency = hertz;
    t.Add(uint64_t{SetSampleFrequency(&frequency)});
    t.Add(uint64_t{frequency});
    t.Add(GetSampleFrequencyF());
  }
  double frequency = 2.5e6 / 3;
  t.Add(uint64_t{SetSampleFrequencyF(&frequency)});
  t.Add(frequency);
  t.Add(uint64_t{SetTriggerTimeOut(1501)});
  t.Add(uint64_t(GetTriggerTimeOut()));
  t.Add(uint64_t{SetDcLevel(1, 0.1)});
  double dc = 0;
  t.Add(uint64_t{GetDcLevel(1, &dc)});
  t.Add(dc);
  t.Add(uint64_t{SetRecordLength(500)});
  t.Add(uint64_t{SetTriggerLevel(1, 0.0)});
}

void Measure(Transcript& t) {
  t.Add(uint64_t{StartMeasurement()});
  for (uint16_t sample : RawRecord(1)) t.Add(uint64_t{sample});
  const Record volts = VoltRecord();
  for (double v : volts.ch1) t.Add(v);
  for (double v : volts.ch2) t.Add(v);
}

// A host environment: a rounding mode, unmasked exceptions, and (x86) an x87 precision.
struct HostEnvironment {
  const char* name;
  int rounding;
  int unmasked;
  uint16_t x87_precision;  // precision-control bits of the x87 control word
};

constexpr uint16_t kPrecisionMask = 0x0300;
constexpr uint16_t kExtended = 0x0300;
constexpr uint16_t kDouble = 0x0200;
constexpr uint16_t kSingle = 0x0000;
constexpr int kTraps = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

void SetX87Precision([[maybe_unused]] uint16_t precision) {
#if defined(__i386__) || defined(__x86_64__)
  uint16_t control = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(control));
  control = static_cast<uint16_t>((control & ~kPrecisionMask) | precision);
  __asm__ __volatile__("fldcw %0" : : "m"(control));
#endif
}

uint16_t X87Control() {
  uint16_t control = 0;
#if defined(__i386__) || defined(__x86_64__)
  __asm__ __volatile__("fnstcw %0" : "=m"(control));
#endif
  return control;
}

class FloatingPointEnvironmentTest : public SimulatedBoardTest {
 protected:
  Transcript Run(const HostEnvironment& host) {
    EXPECT_EQ(BringUp(BoardInputs().Ch1("dc:offset=0.31").Ch2("dc:offset=-0.2")), StatusOk);
    std::fenv_t saved;
    std::fegetenv(&saved);
    std::fesetround(host.rounding);
    feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(host.unmasked);
    SetX87Precision(host.x87_precision);
    const uint16_t control_before = X87Control();
    Transcript t;
    Configure(t);
    Measure(t);
    // As the host left it, and no flag of the library's work raised in it.
    EXPECT_EQ(std::fegetround(), host.rounding);
    EXPECT_EQ(fegetexcept(), host.unmasked);
    EXPECT_EQ(X87Control(), control_before);
    EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
    std::fesetenv(&saved);
    return t;
  }
};

TEST_F(FloatingPointEnvironmentTest, EveryHostEnvironmentGetsTheDefaultsAnswers) {
  // The first bring-up of the process starts the board from another state than the later ones:
  // the reference is the second run in the default environment.
  Run({"default", FE_TONEAREST, 0, kExtended});
  const Transcript reference = Run({"default", FE_TONEAREST, 0, kExtended});
  const HostEnvironment hosts[] = {
      {"nearest, traps", FE_TONEAREST, kTraps, kExtended},
      {"upward, traps", FE_UPWARD, kTraps, kExtended},
      {"downward, traps", FE_DOWNWARD, kTraps, kExtended},
      {"toward zero, traps", FE_TOWARDZERO, kTraps, kExtended},
      {"53-bit x87", FE_TONEAREST, kTraps, kDouble},
      {"24-bit x87, upward", FE_UPWARD, 0, kSingle},
  };
  for (const HostEnvironment& host : hosts) {
    SCOPED_TRACE(host.name);
    const std::vector<uint64_t> words = Run(host).words();
    ASSERT_EQ(words.size(), reference.words().size());
    const auto differ = std::mismatch(words.begin(), words.end(), reference.words().begin());
    EXPECT_TRUE(differ.first == words.end())
        << "first difference at word " << (differ.first - words.begin()) << ": " << *differ.first
        << " instead of " << *differ.second;
  }
}

}  // namespace
}  // namespace vm316::testing
