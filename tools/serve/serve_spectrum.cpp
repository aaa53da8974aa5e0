#include "serve_spectrum.h"

#include <cstdio>

#include "serve_json.h"

namespace vm316::serve {

using namespace vm316::host;
namespace {

std::string LineJson(const SpectralLine& line) {
  return "{\"frequency\":" + JsonNumber(line.frequency) + ",\"dbv\":" + JsonNumber(line.dbv) + "}";
}

// A level to the hundredth of a dB: finer than the 8-bit converter resolves, and it keeps the
// answer short.
void AppendLevel(std::string& json, double dbv) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", dbv);
  json += text;
}

std::string ChannelJson(int channel, const ChannelRecord& trace, double rate,
                        SpectrumWindow window) {
  if (!trace.recorded) return "{\"recorded\":false}";
  const Spectrum spectrum = ComputeSpectrum(trace.volts, rate, window);
  std::string text = DescribeSpectrum(channel, spectrum, window);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::string json = "{\"recorded\":true,\"peak\":" +
                     (spectrum.peak ? LineJson(*spectrum.peak) : std::string("null")) +
                     ",\"harmonics\":[";
  for (std::size_t i = 0; i < spectrum.harmonics.size(); ++i) {
    json += (i == 0 ? "" : ",") + LineJson(spectrum.harmonics[i]);
  }
  json += "],\"text\":" + JsonString(text) + ",\"dbv\":[";
  json.reserve(json.size() + spectrum.dbv.size() * sizeof(double));
  for (std::size_t k = 0; k < spectrum.dbv.size(); ++k) {
    if (k > 0) json += ',';
    AppendLevel(json, spectrum.dbv[k]);
  }
  return json + "]}";
}

}  // namespace

std::string SpectrumJson(const PublishedRecord& published, SpectrumWindow window) {
  const Record& record = published.record;
  const double bin_hz = record.length > 0 ? record.sample_rate / record.length : 0.0;
  std::string json = "{\"sequence\":" + std::to_string(published.sequence) +
                     ",\"window\":" + JsonString(SpectrumWindowName(window)) +
                     ",\"rate\":" + JsonNumber(record.sample_rate) +
                     ",\"bin_hz\":" + JsonNumber(bin_hz) + ",\"channels\":[";
  for (int index = 0; index < kChannelCount; ++index) {
    json += (index == 0 ? "" : ",") +
            ChannelJson(index + 1, record.channels[index], record.sample_rate, window);
  }
  return json + "]}";
}

}  // namespace vm316::serve
