#include "run_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "errors.h"
#include "hdf5_writer.h"

namespace vm316::host {
namespace {

// The run's CSV: the settings once, then each record's rows led by its own fields, so that
// pandas.read_csv(comment='#').groupby('record') gives each record with its marks.
class CsvRunFile : public RunFile {
 public:
  CsvRunFile(const std::string& path, const RunFileOptions& options)
      : path_(path), options_(options) {}

  void Append(const Record& record) override {
    std::ostringstream text;
    if (count_ == 0) WriteHead(text, record);
    WriteCsvRows(text, record, options_.unit, Leading(record, count_ + 1));
    if (path_ == "-") {
      std::cout << text.str();
      std::cout.flush();
      if (!std::cout) FailToWrite("stdout", std::strerror(errno));
      ++count_;
      return;
    }
    if (!placement_) Create();
    errno = 0;
    file_.write(text.view().data(), static_cast<std::streamsize>(text.view().size()));
    file_.flush();
    if (!file_) Undo();
    placement_->Commit();
    written_ += text.view().size();
    ++count_;
  }

  void Close() override {
    if (!file_.is_open()) return;
    file_.close();
    if (!file_) FailToWrite(placement_->target(), std::strerror(errno));
  }

  std::size_t records() const override { return count_; }

  std::string Summary() const override {
    if (path_ == "-") return std::to_string(count_) + " records on stdout";
    return RunSummary(path_, count_);
  }

 private:
  void WriteHead(std::ostream& out, const Record& record) const {
    if (options_.metadata == CsvMetadata::kComments) {
      WriteCsvComments(out, record, CsvScope::kRun);
    }
    std::string leading = "record,timestamp,trigger,";
    for (int channel = 0; channel < kChannelCount; ++channel) {
      if (record.channels[channel].recorded) {
        leading += "ch" + std::to_string(channel + 1) + "_over_range,";
      }
    }
    WriteCsvHeader(out, record, options_.unit, leading);
  }

  static std::string Leading(const Record& record, std::size_t number) {
    std::string leading = std::to_string(number) + "," + record.timestamp + "," +
                          TriggerStateKey(record.trigger_state) + ",";
    for (const ChannelRecord& trace : record.channels) {
      if (trace.recorded) leading += trace.OverRange() ? "true," : "false,";
    }
    return leading;
  }

  void Create() {
    placement_ = std::make_unique<OutputPlacement>(path_);
    file_.open(placement_->writing(), std::ios::out | std::ios::trunc | std::ios::binary);
    if (!file_) FailToWrite(path_, std::strerror(errno));
  }

  // A record the file did not take whole is cut off again: the file ends with the record
  // before it.
  [[noreturn]] void Undo() {
    const std::string reason = errno != 0 ? std::strerror(errno) : "the write failed";
    file_.close();
    if (count_ > 0 && placement_->regular()) {
      std::error_code ignored;
      std::filesystem::resize_file(path_, written_, ignored);
    }
    FailToWrite(path_, reason + (count_ > 0 ? " (" + RunSummary(path_, count_) + ")" : ""));
  }

  std::string path_;
  RunFileOptions options_;
  std::unique_ptr<OutputPlacement> placement_;
  std::ofstream file_;
  std::size_t written_ = 0;  // bytes of the whole records in the file
  std::size_t count_ = 0;
};

}  // namespace

std::string RunSummary(const std::string& path, std::size_t count) {
  if (count == 0) return "nothing was written to " + path;
  return path + " holds " + std::to_string(count) + (count == 1 ? " record" : " records");
}

std::unique_ptr<RunFile> OpenRunFile(const std::string& path, const RunFileOptions& options) {
  if (options.format == RunFormat::kHdf5) return OpenHdf5RunFile(path);
  return std::make_unique<CsvRunFile>(path, options);
}

}  // namespace vm316::host
