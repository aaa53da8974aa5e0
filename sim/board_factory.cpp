#include "sim/board_factory.h"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace vm316::sim {
namespace {

constexpr const char* kBaseVariable = "VM316_SIM_BASE";
constexpr const char* kCh1Variable = "VM316_SIM_CH1";
constexpr const char* kCh2Variable = "VM316_SIM_CH2";
constexpr const char* kExternalVariable = "VM316_SIM_EXT";
constexpr const char* kSeedVariable = "VM316_SIM_SEED";
constexpr const char* kFaultVariable = "VM316_SIM_FAULT";

// A whole number, decimal or 0x-hex, at most max.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || ptr != end || value > max) return std::nullopt;
  return value;
}

// A seed: any 64-bit integer, negative ones included (they stand for their two's complement).
std::optional<std::uint64_t> ParseSeed(std::string_view text) {
  if (!text.empty() && text.front() == '-') {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return static_cast<std::uint64_t>(value);
  }
  return ParseUnsigned(text, UINT64_MAX);
}

class ConfigReader {
 public:
  explicit ConfigReader(const VariableLookup& lookup) : lookup_(lookup) {}

  // The variable's value, or null when it is unset or empty.
  const char* Value(const char* name) const {
    const char* value = lookup_(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
  }

  void Fail(const char* name, const std::string& fault) {
    if (!error_.empty()) error_ += "; ";
    error_ += std::string(name) + ": " + fault;
  }

  void ReadBase(std::uint16_t* base) {
    const char* text = Value(kBaseVariable);
    if (text == nullptr) return;
    const std::optional<std::uint64_t> value = ParseUnsigned(text, 0xFFFF);
    if (!value) {
      Fail(kBaseVariable,
           std::string("'") + text + "' is not a port number (decimal or 0x-hex, 0 to 0xFFFF)");
      return;
    }
    *base = static_cast<std::uint16_t>(*value);
  }

  void ReadSignal(const char* name, Signal* signal) {
    const char* text = Value(name);
    if (text == nullptr) return;
    std::string fault;
    std::optional<Signal> parsed = Signal::Parse(text, &fault);
    if (!parsed) {
      Fail(name, fault);
      return;
    }
    *signal = *parsed;
  }

  void ReadSeed(std::uint64_t* seed) {
    const char* text = Value(kSeedVariable);
    if (text == nullptr) return;
    const std::optional<std::uint64_t> value = ParseSeed(text);
    if (!value) {
      Fail(kSeedVariable, std::string("'") + text + "' is not an integer");
      return;
    }
    *seed = *value;
  }

  void ReadFaults(FaultSet* faults) {
    const char* text = Value(kFaultVariable);
    if (text == nullptr) return;
    std::string fault;
    std::optional<FaultSet> parsed = FaultSet::Parse(text, &fault);
    if (!parsed) {
      Fail(kFaultVariable, fault);
      return;
    }
    *faults = *parsed;
  }

  const std::string& Error() const { return error_; }

 private:
  const VariableLookup& lookup_;
  std::string error_;
};

}  // namespace

ConfigResult ReadBoardConfig(const VariableLookup& lookup) {
  ConfigReader reader(lookup);
  ConfigResult result;
  reader.ReadBase(&result.config.base);
  reader.ReadSignal(kCh1Variable, &result.config.ch1);
  reader.ReadSignal(kCh2Variable, &result.config.ch2);
  reader.ReadSignal(kExternalVariable, &result.config.external);
  reader.ReadSeed(&result.config.seed);
  reader.ReadFaults(&result.config.faults);
  if (!reader.Error().empty()) {
    // A board described wrongly is not there at all: better no answer than a wrong one.
    result.config = BoardConfig{};
    result.config.faults.absent = true;
    result.error = reader.Error();
  }
  return result;
}

BoardResult CreateBoardFromEnvironment(platform::Clock& clock) {
  ConfigResult read = ReadBoardConfig([](const char* name) { return std::getenv(name); });
  BoardResult result;
  result.backend = std::make_unique<Board>(read.config, clock);
  result.error = std::move(read.error);
  return result;
}

}  // namespace vm316::sim
