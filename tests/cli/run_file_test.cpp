// One file for a long run (`measure -n N --single-file -o run.csv`, `-o run.h5`): every record
// with its time stamp and marks, whole records only when Ctrl-C stops the run, and a write
// failure reported instead of lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "cli/cli_runner.h"
#include "cli/csv_file.h"

namespace vm316::cli_testing {
namespace {

using ::testing::HasSubstr;

// A short record on both channels, channel 2 beyond its range.
constexpr const char* kRun = "measure -q -n 3 --length 200 --sim-ch2 dc:offset=-9 ";
constexpr std::size_t kRunLength = 200;

class RunFileTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    SeedCalibration();
  }

  // Starts a long run in the background, sends Ctrl-C once `file` has grown past `bytes` (a
  // few records), and waits for the run to end.
  CliRun RunUntilFileHolds(const std::string& arguments, const std::string& file,
                           std::size_t bytes) {
    return RunAndInterruptAfter(
        arguments, "for i in $(seq 3000); do s=$(stat -c %s " + Quoted(work_ / file) +
                       " 2>/dev/null || echo 0); [ \"$s\" -ge " + std::to_string(bytes) +
                       " ] && break; sleep 0.02; done");
  }
};

// The count stderr gives: "... run.csv holds 12 records".
std::size_t HeldCount(const std::string& err) {
  std::smatch count;
  if (!std::regex_search(err, count, std::regex("holds ([0-9]+) records?"))) return 0;
  return std::stoul(count[1]);
}

struct RunRows {
  std::vector<std::string> comments;
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  bool whole = true;  // every row has every field and the file ends with a line's end
};

RunRows ReadRun(const std::string& text) {
  RunRows run;
  run.whole = text.empty() || text.back() == '\n';
  for (const std::string& line : Lines(text)) {
    if (line.rfind("# ", 0) == 0) {
      run.comments.push_back(line.substr(2));
    } else if (run.header.empty()) {
      run.header = SplitCommas(line);
    } else {
      run.rows.push_back(SplitCommas(line));
      if (run.rows.back().size() != run.header.size()) run.whole = false;
    }
  }
  return run;
}

// Each record's rows, in order, counted from 1; false when a record is short or out of order.
bool RecordsAreWhole(const RunRows& run, std::size_t length, std::size_t* records) {
  *records = run.rows.size() / length;
  if (run.rows.size() % length != 0) return false;
  for (std::size_t i = 0; i < run.rows.size(); ++i) {
    if (run.rows[i][0] != std::to_string(i / length + 1)) return false;
  }
  return true;
}

// The run CSV `file` that a stopped run left: only whole records of the default length, at least
// `fewest`, as many as stderr says it holds.
void ExpectWholeRecordsAsCounted(const fs::path& file, const CliRun& run, std::size_t fewest) {
  const RunRows rows = ReadRun(ReadFile(file));
  std::size_t records = 0;
  EXPECT_TRUE(rows.whole);
  EXPECT_TRUE(RecordsAreWhole(rows, 1000, &records));
  EXPECT_GE(records, fewest);
  EXPECT_EQ(HeldCount(run.err), records) << run.err;
}

TEST_F(RunFileTest, ACsvRunHoldsEveryRecordAsItsOwnFileDoesWithItsMarks) {
  ASSERT_EQ(Run(std::string(kRun) + "--single-file -o run.csv").exit_code, 0);
  ASSERT_EQ(Run(std::string(kRun) + "-o cap.csv").exit_code, 0);
  const RunRows run = ReadRun(ReadFile(work_ / "run.csv"));
  EXPECT_EQ(run.header,
            (std::vector<std::string>{"record", "timestamp", "trigger", "ch1_over_range",
                                      "ch2_over_range", "time_s", "ch1_v", "ch2_v"}));
  EXPECT_EQ(run.comments.front(), "vm316 run");
  // What differs between records is in the rows, never in the comments.
  for (const std::string& comment : run.comments) {
    for (const char* per_record : {"time:", "trigger_state:", "over_range:"}) {
      EXPECT_EQ(comment.rfind(per_record, 0), std::string::npos) << comment;
    }
  }
  std::size_t records = 0;
  ASSERT_TRUE(run.whole);
  ASSERT_TRUE(RecordsAreWhole(run, kRunLength, &records));
  ASSERT_EQ(records, 3u);
  for (std::size_t record = 1; record <= records; ++record) {
    const CsvFile own = ParseCsv(ReadFile(work_ / ("cap-" + std::to_string(record) + ".csv")));
    ASSERT_EQ(own.rows.size(), kRunLength);
    for (std::size_t i = 0; i < kRunLength; ++i) {
      const std::vector<std::string>& row = run.rows[(record - 1) * kRunLength + i];
      EXPECT_EQ(row[1], own.Setting("time"));
      EXPECT_EQ(row[2], own.Setting("trigger_state"));
      EXPECT_EQ(row[3], "false");
      EXPECT_EQ(row[4], "true");  // the record's over_range: ch2
      for (std::size_t column = 0; column < 3; ++column) {
        ASSERT_DOUBLE_EQ(std::stod(row[5 + column]), own.rows[i][column]) << record << " " << i;
      }
    }
  }
  // --raw names the code columns; only the recorded channel's marks.
  ASSERT_EQ(Run(std::string(kRun) + "--channels 2 --raw --single-file -o raw.csv").exit_code, 0);
  EXPECT_EQ(ReadRun(ReadFile(work_ / "raw.csv")).header,
            (std::vector<std::string>{"record", "timestamp", "trigger", "ch2_over_range", "time_s",
                                      "ch2_raw"}));
}

#ifdef VM316_H5PY_PYTHON
// h5py without help: the same samples, marks and settings as the run's CSV.
constexpr const char* kReadBack = R"py(
import csv, sys, h5py, numpy
f = h5py.File(sys.argv[1], 'r')
rows = list(csv.DictReader(l for l in open(sys.argv[2]) if not l.startswith('#')))
n, length = f['ch1/volts'].shape
assert n * length == len(rows), (n, length, len(rows))
assert f['ch1/raw'].dtype == numpy.uint16 and f['ch1/volts'].dtype == numpy.float32
assert f['ch2/over_range'].dtype == bool
states = {v: k for k, v in h5py.check_enum_dtype(f['trigger_state'].dtype).items()}
for i in range(n):
    row = rows[i * length]
    assert f['timestamp'].asstr()[i] == row['timestamp']
    assert states[f['trigger_state'][i]] == row['trigger']
    for ch in ('ch1', 'ch2'):
        assert bool(f[ch + '/over_range'][i]) == (row[ch + '_over_range'] == 'true')
        volts = numpy.array([float(r[ch + '_v']) for r in rows[i * length:(i + 1) * length]])
        assert numpy.allclose(f[ch + '/volts'][i], volts, rtol=1e-6, atol=1e-6), ch
numpy.testing.assert_allclose(f['time_s'][:], [float(r['time_s']) for r in rows[:length]])
a = f.attrs
print(n, length, a['sample_rate_hz'], a['samples'], a['pre_trigger_samples'], a['trigger'],
      a['channels'], f['ch2'].attrs['range_v'], f['ch2'].attrs['coupling'],
      f['ch2/volts'].attrs['units'], f['ch2/range_v'][0])
)py";

TEST_F(RunFileTest, AnHdf5RunReadsWithH5pyAsTheCsvOfTheSameRun) {
  ASSERT_EQ(Run(std::string(kRun) + "--single-file -o run.csv").exit_code, 0);
  const CliRun h5 = Run(std::string(kRun) + "-o run.h5");
  ASSERT_EQ(h5.exit_code, 0) << h5.err;
  // --format h5 whatever the name.
  ASSERT_EQ(Run(std::string(kRun) + "--format h5 -o run.data").exit_code, 0);
  EXPECT_EQ(ReadFile(work_ / "run.data").substr(1, 3), "HDF");
  std::ofstream(root_ / "read.py") << kReadBack;
  const CliRun read = Capture(std::string(VM316_H5PY_PYTHON) + " " + Quoted(root_ / "read.py") +
                              " " + Quoted(work_ / "run.h5") + " " + Quoted(work_ / "run.csv"));
  ASSERT_EQ(read.exit_code, 0) << read.err;
  EXPECT_EQ(read.out, "3 200 100000.0 200 20 ch1 rising 2.5 V ch1,ch2 8.0 dc V 8.0\n");
}
#endif

// Ctrl-C in a long run: the records taken are all in the file, each whole, and stderr says how
// many; the record being taken is not written.
TEST_F(RunFileTest, CtrlCLeavesEveryRecordTakenAndOnlyWholeOnes) {
  // About 67 kB a record: past 210 000 bytes three records are whole and a fourth is begun.
  const CliRun run =
      RunUntilFileHolds("measure -n 100000 --single-file -o run.csv", "run.csv", 210000);
  EXPECT_EQ(run.exit_code, 130) << run.err;
  ExpectWholeRecordsAsCounted(work_ / "run.csv", run, 3);
  EXPECT_FALSE(fs::exists(work_ / "run.csv.partial"));
}

#ifdef VM316_H5PY_PYTHON
TEST_F(RunFileTest, CtrlCLeavesAnHdf5FileOfWholeRecords) {
  // The file holds 63 464 bytes after its first record and 12 000 more after each further
  // one: past 100 000 bytes at least four records are in it.
  const CliRun run = RunUntilFileHolds("measure -n 100000 -o run.h5", "run.h5", 100000);
  EXPECT_EQ(run.exit_code, 130) << run.err;
  const CliRun read =
      Capture(std::string(VM316_H5PY_PYTHON) +
              " -c \"import h5py, sys; f = h5py.File(sys.argv[1], 'r'); n = f['ch1/raw'].shape[0]; "
              "assert all(f[k].shape[0] == n for k in ('timestamp', 'trigger_state', 'ch2/volts', "
              "'ch2/over_range')); assert (f['ch2/raw'][n - 1] > 0).all(); print(n)\" " +
              Quoted(work_ / "run.h5"));
  ASSERT_EQ(read.exit_code, 0) << read.err;
  EXPECT_GE(std::stoul(read.out), 3u);
  EXPECT_EQ(HeldCount(run.err), std::stoul(read.out)) << run.err;
}
#endif

// A run stopped before its first record is whole leaves the file there was as it was.
TEST_F(RunFileTest, AnExistingFileStaysUntilTheFirstRecordIsWhole) {
  std::ofstream(work_ / "run.csv") << "an earlier run\n";
  const CliRun run = RunAndInterrupt(
      "measure --rate 100 --length 32760 -n 2 --single-file "
      "-o run.csv",
      1.5, "VM316_CLOCK=real");
  EXPECT_EQ(run.exit_code, 130) << run.err;
  EXPECT_THAT(run.err, HasSubstr("nothing was written to"));
  EXPECT_EQ(ReadFile(work_ / "run.csv"), "an earlier run\n");
  EXPECT_FALSE(fs::exists(work_ / "run.csv.partial"));
}

// A disk that takes nothing: exit code 1 and the line that says so, in every format; the
// device itself stays what it was.
TEST_F(RunFileTest, AFullDiskIsReportedNotLost) {
  std::vector<std::string> outputs{std::string(kRun) + "--single-file -o /dev/full"};
#ifdef VM316_WITH_HDF5
  outputs.push_back(std::string(kRun) + "-o /dev/full --format h5");
#endif
#ifdef VM316_SIGROK_CLI
  // A session file is made beside its name and moved over it: never over a device.
  outputs.push_back("measure -q -o /dev/full --format sr");
#endif
  for (const std::string& output : outputs) {
    const CliRun run = Run(output);
    EXPECT_EQ(run.exit_code, 1) << output;
    EXPECT_THAT(run.err, HasSubstr("cannot write /dev/full: No space left on device")) << output;
    struct stat status {};
    ASSERT_EQ(stat("/dev/full", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode)) << output;
  }
}

// A file that stops growing half way through a record (here the process's file size limit) is
// cut back to the record before: the file it leaves holds whole records, as many as it says.
TEST_F(RunFileTest, AFailedWriteLeavesTheWholeRecordsBeforeIt) {
  const CliRun run = Capture("cd " + Quoted(work_) + " && trap '' XFSZ && ulimit -f 400 && env " +
                             "XDG_STATE_HOME=" + Quoted(state_home_) + " " +
                             Quoted(VM316_CLI_PATH) + " measure -q -n 20 --single-file -o run.csv");
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr("run.csv: File too large"));
  ExpectWholeRecordsAsCounted(work_ / "run.csv", run, 1);
}

TEST_F(RunFileTest, WhatARunFileCannotDoIsAUsageError) {
  for (const auto& [arguments, says] : std::vector<std::pair<std::string, std::string>>{
           {"--single-file", "--single-file needs -o FILE"},
           {"--single-file -o cap.sr", "one record"},
           {"-o - --format h5", "file name"},
           {"-o run.hdf5 --raw", "leave out --raw"}}) {
    const CliRun run = Run("measure -q -n 2 " + arguments);
    EXPECT_EQ(run.exit_code, 2) << arguments;
    EXPECT_THAT(run.err, HasSubstr(says)) << arguments;
  }
}

}  // namespace
}  // namespace vm316::cli_testing
