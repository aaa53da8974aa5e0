// How the C interface hands a text to its caller: cut to the caller's buffer and always
// terminated; nothing for a null buffer or one of no bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace vm316::host_c {

inline void CopyText(std::string_view text, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return;
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace vm316::host_c
