#include "sigrok_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <vector>

#include "errors.h"
#include "output_placement.h"
#include "units.h"

#ifdef VM316_WITH_LIBZIP
#include <zip.h>
#endif

namespace vm316::host {
namespace {

constexpr const char* kSessionVersion = "2";
[[maybe_unused]] constexpr const char* kWithoutLibzip =
    "this vm316 was built without libzip (apt-get install libzip-dev brings it back)";
// Each channel's samples in chunks of this many bytes, as the sigrok tools write them.
constexpr std::size_t kChunkBytes = 4u << 20;

// Used only where libzip is built in, as are the two below.
[[maybe_unused]] std::string Metadata(const Record& record) {
  std::string text = "[global]\nsigrok version=0.5.2\n\n[device 1]\ndriver=vm316\n";
  char rate[64];
  std::snprintf(rate, sizeof rate, "samplerate=%.0f Hz\n", record.sample_rate);
  text += rate;
  text += "total probes=0\n";
  int analog = 0;
  for (const ChannelRecord& channel : record.channels) analog += channel.recorded ? 1 : 0;
  text += "total analog=" + std::to_string(analog) + "\n";
  int index = 0;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    if (!record.channels[channel].recorded) continue;
    ++index;
    text += "analog" + std::to_string(index) + "=CH" + std::to_string(channel + 1) + "\n";
  }
  return text;
}

[[maybe_unused]] std::string TriggerEntry(const Record& record) {
  std::string text = "[trigger]\n";
  text += "pre_trigger_samples=" + std::to_string(record.pre_samples) + "\n";
  text += "trigger=" + record.trigger + "\n";
  text += std::string("trigger_state=") + TriggerStateKey(record.trigger_state) + "\n";
  text += "timestamp=" + record.timestamp + "\n";
  return text;
}

[[maybe_unused]] std::vector<char> Floats(const std::vector<double>& volts, std::size_t first,
                                          std::size_t count) {
  std::vector<char> bytes(count * sizeof(float));
  for (std::size_t i = 0; i < count; ++i) {
    const auto value = static_cast<float>(volts[first + i]);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<char>((bits >> (8 * b)) & 0xFF);
  }
  return bytes;
}

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw CliError(ExitCode::kFailure, "cannot write " + path + ": " + why);
}

}  // namespace

bool IsSigrokPath(const std::string& path) {
  return std::filesystem::path(path).extension() == ".sr";
}

#ifdef VM316_WITH_LIBZIP

bool SigrokFilesAvailable() {
  return true;
}

std::string SigrokSessionBytes(const Record& record) {
  zip_error_t error;
  zip_error_init(&error);
  auto fail = [&error](const char* what) {
    const std::string why = std::string(what) + ": " + zip_error_strerror(&error);
    zip_error_fini(&error);
    throw CliError(ExitCode::kFailure, "cannot make the session file: " + why);
  };
  // The archive is made in memory; the source outlives zip_close so that its bytes can be read.
  zip_source_t* memory = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (memory == nullptr) fail("memory");
  zip_t* archive = zip_open_from_source(memory, ZIP_TRUNCATE, &error);
  if (archive == nullptr) {
    zip_source_free(memory);
    fail("archive");
  }
  zip_source_keep(memory);
  // libzip copies nothing until zip_close: the buffers live until then, where they are.
  std::deque<std::vector<char>> buffers;
  auto add = [&](const std::string& name, std::vector<char> bytes) {
    buffers.push_back(std::move(bytes));
    zip_source_t* source =
        zip_source_buffer(archive, buffers.back().data(), buffers.back().size(), 0);
    if (source == nullptr || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      if (source != nullptr) zip_source_free(source);
      zip_error_set(&error, zip_error_code_zip(zip_get_error(archive)), 0);
      zip_discard(archive);
      zip_source_free(memory);
      fail(name.c_str());
    }
  };
  auto text = [](const std::string& s) { return std::vector<char>(s.begin(), s.end()); };
  add("version", text(kSessionVersion));
  add("metadata", text(Metadata(record)));
  add("vm316-trigger", text(TriggerEntry(record)));
  int index = 0;
  const std::size_t per_chunk = kChunkBytes / sizeof(float);
  for (const ChannelRecord& channel : record.channels) {
    if (!channel.recorded) continue;
    ++index;
    int chunk = 0;
    for (std::size_t first = 0; first < channel.volts.size(); first += per_chunk) {
      const std::size_t count = std::min(per_chunk, channel.volts.size() - first);
      add("analog-1-" + std::to_string(index) + "-" + std::to_string(++chunk),
          Floats(channel.volts, first, count));
    }
  }
  if (zip_close(archive) != 0) {
    zip_error_set(&error, zip_error_code_zip(zip_get_error(archive)), 0);
    zip_discard(archive);
    zip_source_free(memory);
    fail("closing");
  }
  zip_stat_t stat;
  std::string bytes;
  if (zip_source_stat(memory, &stat) != 0 || zip_source_open(memory) != 0) {
    zip_source_free(memory);
    fail("reading back");
  }
  bytes.resize(static_cast<std::size_t>(stat.size));
  const zip_int64_t read = zip_source_read(memory, bytes.data(), stat.size);
  zip_source_close(memory);
  zip_source_free(memory);
  if (read != static_cast<zip_int64_t>(stat.size)) fail("reading back");
  zip_error_fini(&error);
  return bytes;
}

void WriteSigrokFile(const std::string& path, const Record& record) {
  if (path == "-") Fail("standard output", "a session file is a zip archive; give a file name");
  const std::string bytes = SigrokSessionBytes(record);
  // Written beside the target and moved over it once complete, so that a failure leaves no
  // half archive under the name asked for; a device (/dev/null) is written where it is.
  OutputPlacement placement(path);
  {
    std::ofstream out(placement.writing(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) Fail(path, std::strerror(errno));
  }
  placement.Commit();
}

#else

bool SigrokFilesAvailable() {
  return false;
}

std::string SigrokSessionBytes(const Record&) {
  throw CliError(ExitCode::kFailure, kWithoutLibzip);
}

void WriteSigrokFile(const std::string& path, const Record&) {
  Fail(path, kWithoutLibzip);
}

#endif

}  // namespace vm316::host
