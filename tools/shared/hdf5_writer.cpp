#include "hdf5_writer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "errors.h"

#ifdef VM316_WITH_HDF5
#include <hdf5.h>

#include <array>
#include <optional>
#include <vector>
#endif

namespace vm316::host {

bool IsHdf5Path(const std::string& path) {
  const std::filesystem::path extension = std::filesystem::path(path).extension();
  return extension == ".h5" || extension == ".hdf5";
}

#ifdef VM316_WITH_HDF5

namespace {

// Records per chunk of the per-record datasets; the sample datasets take a record a chunk, so
// that each flush writes the new record's own chunks.
constexpr hsize_t kMarkChunkRecords = 256;
constexpr const char* kRawUnits = "offset binary: 32768 = 0 V, converter byte x 256";

// An HDF5 identifier closed with the function that belongs to its kind.
class Handle {
 public:
  Handle() = default;
  Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : id_(other.id_), close_(other.close_) { other.id_ = -1; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      id_ = other.id_;
      close_ = other.close_;
      other.id_ = -1;
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  hid_t get() const { return id_; }
  bool valid() const { return id_ >= 0; }
  // Closes now and says whether that worked (the file's last writes happen here).
  bool Close() {
    const bool ok = id_ < 0 || close_(id_) >= 0;
    id_ = -1;
    return ok;
  }

 private:
  void Reset() {
    if (id_ >= 0) close_(id_);
    id_ = -1;
  }
  hid_t id_ = -1;
  herr_t (*close_)(hid_t) = nullptr;
};

// The failure of an HDF5 call, with what the system said where it said something.
struct Hdf5Failure {
  std::string what;
};

hid_t Checked(hid_t id, const char* what) {
  if (id < 0) throw Hdf5Failure{what};
  return id;
}

void Checked(herr_t status, const char* what) {
  if (status < 0) throw Hdf5Failure{what};
}

Handle Type(hid_t id) {
  return Handle(Checked(id, "making a type"), H5Tclose);
}

Handle Utf8Strings() {
  Handle type = Type(H5Tcopy(H5T_C_S1));
  Checked(H5Tset_size(type.get(), H5T_VARIABLE), "making a string type");
  Checked(H5Tset_cset(type.get(), H5T_CSET_UTF8), "making a string type");
  return type;
}

// h5py reads this enum as numpy's bool.
Handle Booleans() {
  Handle type = Type(H5Tenum_create(H5T_NATIVE_INT8));
  for (const auto& [name, value] : {std::pair{"FALSE", std::int8_t{0}}, {"TRUE", std::int8_t{1}}}) {
    Checked(H5Tenum_insert(type.get(), name, &value), "making the bool type");
  }
  return type;
}

Handle TriggerStates() {
  Handle type = Type(H5Tenum_create(H5T_NATIVE_UINT8));
  for (const TriggerState state : {TriggerState::kUnknown, TriggerState::kTriggered,
                                   TriggerState::kForced, TriggerState::kFreeRunning}) {
    const auto value = static_cast<std::uint8_t>(state);
    Checked(H5Tenum_insert(type.get(), TriggerStateKey(state), &value),
            "making the trigger state type");
  }
  return type;
}

void Attribute(hid_t object, const char* name, hid_t file_type, hid_t memory_type,
               const void* value) {
  Handle space(Checked(H5Screate(H5S_SCALAR), "making an attribute"), H5Sclose);
  Handle attribute(
      Checked(H5Acreate2(object, name, file_type, space.get(), H5P_DEFAULT, H5P_DEFAULT),
              "making an attribute"),
      H5Aclose);
  Checked(H5Awrite(attribute.get(), memory_type, value), "writing an attribute");
}

void TextAttribute(hid_t object, const char* name, const std::string& text) {
  const Handle type = Utf8Strings();
  const char* value = text.c_str();
  Attribute(object, name, type.get(), type.get(), &value);
}

void NumberAttribute(hid_t object, const char* name, double value) {
  Attribute(object, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, &value);
}

void CountAttribute(hid_t object, const char* name, std::size_t count) {
  const auto value = static_cast<std::uint64_t>(count);
  Attribute(object, name, H5T_STD_U64LE, H5T_NATIVE_UINT64, &value);
}

// A dataset that grows by a record at a time: records x `columns` (0 for one value a record).
class Growing {
 public:
  Growing(hid_t parent, const char* name, hid_t file_type, hid_t memory_type, hsize_t columns)
      : memory_type_(memory_type), columns_(columns) {
    const int rank = Rank();
    const std::array<hsize_t, 2> dims{0, columns};
    const std::array<hsize_t, 2> max{H5S_UNLIMITED, columns};
    const std::array<hsize_t, 2> chunk{columns > 0 ? 1 : kMarkChunkRecords, columns};
    Handle space(Checked(H5Screate_simple(rank, dims.data(), max.data()), "making a dataset"),
                 H5Sclose);
    Handle layout(Checked(H5Pcreate(H5P_DATASET_CREATE), "making a dataset"), H5Pclose);
    Checked(H5Pset_chunk(layout.get(), rank, chunk.data()), "making a dataset");
    set_ = Handle(Checked(H5Dcreate2(parent, name, file_type, space.get(), H5P_DEFAULT,
                                     layout.get(), H5P_DEFAULT),
                          "making a dataset"),
                  H5Dclose);
  }

  hid_t get() const { return set_.get(); }

  // Writes record `index` (from 0), the dataset grown to hold it.
  void Put(hsize_t index, const void* values) const {
    const int rank = Rank();
    const std::array<hsize_t, 2> size{index + 1, columns_};
    Checked(H5Dset_extent(set_.get(), size.data()), "growing a dataset");
    Handle file_space(Checked(H5Dget_space(set_.get()), "growing a dataset"), H5Sclose);
    const std::array<hsize_t, 2> start{index, 0};
    const std::array<hsize_t, 2> count{1, columns_};
    Checked(H5Sselect_hyperslab(file_space.get(), H5S_SELECT_SET, start.data(), nullptr,
                                count.data(), nullptr),
            "selecting a record");
    Handle memory_space(Checked(H5Screate_simple(rank, count.data(), nullptr), "writing"),
                        H5Sclose);
    Checked(H5Dwrite(set_.get(), memory_type_, memory_space.get(), file_space.get(), H5P_DEFAULT,
                     values),
            "writing a record");
  }

 private:
  int Rank() const { return columns_ > 0 ? 2 : 1; }
  Handle set_;
  hid_t memory_type_;
  hsize_t columns_;
};

struct ChannelSets {
  Handle group;
  std::optional<Growing> volts, raw, over_range, range;
};

class Hdf5RunFile : public RunFile {
 public:
  explicit Hdf5RunFile(std::string path) : path_(std::move(path)) {
    // The library's own error stacks stay off the terminal: a failure is one line of ours.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }

  void Append(const Record& record) override {
    try {
      errno = 0;
      if (!file_.valid()) Create(record);
      Write(record);
      Checked(H5Fflush(file_.get(), H5F_SCOPE_GLOBAL), "flushing the record");
    } catch (const Hdf5Failure& failure) {
      Fail(failure.what);
    }
    placement_->Commit();
    ++count_;
  }

  void Close() override {
    if (!file_.valid()) return;
    for (ChannelSets& sets : channels_) sets = ChannelSets{};
    timestamps_.reset();
    states_.reset();
    errno = 0;
    if (!file_.Close()) Fail("closing the file");
  }

  std::size_t records() const override { return count_; }
  std::string Summary() const override { return RunSummary(path_, count_); }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    FailToWrite(path_, errno != 0 ? std::strerror(errno) : "HDF5 failed " + what);
  }

  void Create(const Record& record) {
    placement_ = std::make_unique<OutputPlacement>(path_);
    file_ = Handle(
        Checked(H5Fcreate(placement_->writing().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT),
                "creating the file"),
        H5Fclose);
    const hid_t root = file_.get();
    TextAttribute(root, "format", "vm316 run");
    TextAttribute(root, "backend", record.backend);
    NumberAttribute(root, "sample_rate_hz", record.sample_rate);
    if (record.asked_rate) NumberAttribute(root, "asked_rate_hz", *record.asked_rate);
    CountAttribute(root, "samples", record.length);
    CountAttribute(root, "pre_trigger_samples", record.pre_samples);
    TextAttribute(root, "trigger", record.trigger);
    std::string names;
    for (int channel = 0; channel < kChannelCount; ++channel) {
      if (!record.channels[channel].recorded) continue;
      names += (names.empty() ? "ch" : ",ch") + std::to_string(channel + 1);
    }
    TextAttribute(root, "channels", names);

    std::vector<double> times(record.length);
    for (std::size_t i = 0; i < record.length; ++i) times[i] = record.TimeOf(i);
    const hsize_t samples = record.length;
    Handle time_space(Checked(H5Screate_simple(1, &samples, nullptr), "making time_s"), H5Sclose);
    Handle time(Checked(H5Dcreate2(root, "time_s", H5T_IEEE_F64LE, time_space.get(), H5P_DEFAULT,
                                   H5P_DEFAULT, H5P_DEFAULT),
                        "making time_s"),
                H5Dclose);
    Checked(H5Dwrite(time.get(), H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, times.data()),
            "writing time_s");
    TextAttribute(time.get(), "units", "s");

    timestamps_.emplace(root, "timestamp", strings_.get(), strings_.get(), 0);
    states_.emplace(root, "trigger_state", trigger_states_.get(), trigger_states_.get(), 0);
    for (int channel = 0; channel < kChannelCount; ++channel) {
      const ChannelRecord& trace = record.channels[channel];
      if (!trace.recorded) continue;
      ChannelSets& sets = channels_[channel];
      const std::string name = "ch" + std::to_string(channel + 1);
      sets.group =
          Handle(Checked(H5Gcreate2(root, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                         "making a channel's group"),
                 H5Gclose);
      const hid_t group = sets.group.get();
      NumberAttribute(group, "range_v", trace.sensitivity);
      TextAttribute(group, "auto_range", trace.auto_range ? "yes" : "no");
      TextAttribute(group, "coupling", trace.ac_coupled ? "ac" : "dc");
      NumberAttribute(group, "dc_level_v", trace.dc_level);
      sets.volts.emplace(group, "volts", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, samples);
      TextAttribute(sets.volts->get(), "units", "V");
      sets.raw.emplace(group, "raw", H5T_STD_U16LE, H5T_NATIVE_UINT16, samples);
      TextAttribute(sets.raw->get(), "units", kRawUnits);
      sets.over_range.emplace(group, "over_range", booleans_.get(), booleans_.get(), 0);
      sets.range.emplace(group, "range_v", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, 0);
      TextAttribute(sets.range->get(), "units", "V");
    }
  }

  void Write(const Record& record) {
    const hsize_t index = count_;
    const char* timestamp = record.timestamp.c_str();
    timestamps_->Put(index, &timestamp);
    const auto state = static_cast<std::uint8_t>(record.trigger_state);
    states_->Put(index, &state);
    for (int channel = 0; channel < kChannelCount; ++channel) {
      const ChannelRecord& trace = record.channels[channel];
      ChannelSets& sets = channels_[channel];
      if (!trace.recorded || !sets.volts) continue;
      // Narrowed here rather than by the library, whose conversion takes a buffer of its own
      // for every write.
      volts_.assign(trace.volts.begin(), trace.volts.end());
      sets.volts->Put(index, volts_.data());
      sets.raw->Put(index, trace.raw.data());
      const std::int8_t over_range = trace.OverRange() ? 1 : 0;
      sets.over_range->Put(index, &over_range);
      sets.range->Put(index, &trace.sensitivity);
    }
  }

  std::string path_;
  Handle strings_ = Utf8Strings();
  Handle booleans_ = Booleans();
  Handle trigger_states_ = TriggerStates();
  std::unique_ptr<OutputPlacement> placement_;
  Handle file_;
  std::optional<Growing> timestamps_, states_;
  std::array<ChannelSets, kChannelCount> channels_;
  std::vector<float> volts_;
  std::size_t count_ = 0;
};

}  // namespace

bool Hdf5FilesAvailable() {
  return true;
}

std::unique_ptr<RunFile> OpenHdf5RunFile(const std::string& path) {
  if (path == "-") FailToWrite("stdout", "an HDF5 file needs a file name");
  return std::make_unique<Hdf5RunFile>(path);
}

#else

bool Hdf5FilesAvailable() {
  return false;
}

std::unique_ptr<RunFile> OpenHdf5RunFile(const std::string& path) {
  FailToWrite(path,
              "this vm316 was built without libhdf5 (apt-get install libhdf5-dev brings it back)");
}

#endif

}  // namespace vm316::host
