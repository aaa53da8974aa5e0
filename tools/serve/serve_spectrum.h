// The spectrum of a published record as the panel draws it: per recorded channel the dBV of
// every bin from 0 Hz to half the sample rate, the peak and its harmonics, and the one-line
// summary `measure --spectrum` prints, so that the panel shows the same words.
#pragma once

#include <string>

#include "serve_instrument.h"
#include "shared/spectrum.h"

namespace vm316::serve {

// The levels are written to a hundredth of a dB: the longest record (32 760 samples of both
// channels) gives 2 x 16 381 levels, at most 8 bytes each, about 270 kB in all.
std::string SpectrumJson(const PublishedRecord& published, host::SpectrumWindow window);

}  // namespace vm316::serve
