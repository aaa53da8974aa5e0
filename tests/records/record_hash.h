// What the identity test keeps of a record, a calibration file or a port read: a 64-bit FNV-1a
// hash of the bytes in the order they came. One hash per case keeps the reference table small;
// any byte that differs changes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace vm316::records {

class RecordHash {
 public:
  void AddBytes(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
      value_ = (value_ ^ bytes[i]) * kPrime;
    }
  }
  template <typename T>
  void Add(T value) {
    static_assert(std::is_integral_v<T>);
    const auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      const auto byte = static_cast<std::uint8_t>(bits >> (8 * i));
      AddBytes(&byte, 1);
    }
  }
  template <typename T>
  void Add(const std::vector<T>& values) {
    Add(static_cast<std::uint64_t>(values.size()));
    for (const T& v : values) Add(v);
  }
  std::uint64_t Value() const { return value_; }

 private:
  static constexpr std::uint64_t kPrime = 0x100000001B3ull;
  std::uint64_t value_ = 0xCBF29CE484222325ull;
};

// A case and what it gave.
struct CaseHash {
  std::string name;
  std::uint64_t hash;
};

// Cases through the library's C interface, each in a process of its own (the virtual clock and
// the detection's draw continue across bring-ups in one process): bring-ups with and without
// calibration, records of each kind of input, trigger source, coupling, rate and geometry, in
// each measurement style, and each fault.
std::vector<CaseHash> HostCaseHashes();
// Cases on the board alone: port traffic drawn from a seed (programming, arms, writes while
// recording, waits, readouts), every byte read hashed.
std::vector<CaseHash> TrafficCaseHashes();

}  // namespace vm316::records
