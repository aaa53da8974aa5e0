// How much slower than a plain build the tests' code runs here: VM316_TEST_SLOWDOWN, set for
// sanitized builds and under valgrind. The tests' guards against a hang scale by it.
#pragma once

#include <cstdlib>

namespace vm316::test {

inline double Slowdown() {
  const char* text = std::getenv("VM316_TEST_SLOWDOWN");
  const double factor = text != nullptr ? std::atof(text) : 1.0;
  return factor >= 1.0 ? factor : 1.0;
}

}  // namespace vm316::test
