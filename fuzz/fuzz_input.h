// The bytes of a fuzz input read front to back as the harnesses' choices; past its end every
// value is 0, so that every input, however short, is a whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Room for any record the board can hold (32 768 locations), with some to spare: the harnesses'
// buffers for the record exports.
inline constexpr std::size_t kFuzzBufferSamples = 32768 + 16;

// Each harness reads its own choices from the bytes (its own table of edge values among them):
// the tables look alike but hold what that harness's calls need.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16() | static_cast<uint32_t>(U16()) << 16); }
  int32_t I32() {
    const uint32_t bits = U32();
    int32_t value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};
