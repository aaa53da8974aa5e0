// What a user sees when an option is wrong or the board refuses a value: one line naming the
// setting and the value, and an exit code a script can test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/cli_runner.h"

namespace vm316::cli_testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ErrorCase {
  const char* arguments;
  int exit_code;
  std::vector<const char*> says;  // each must appear in the error line
};

void PrintTo(const ErrorCase& error_case, std::ostream* out) {
  *out << error_case.arguments;
}

class ErrorTest : public CliTest, public ::testing::WithParamInterface<ErrorCase> {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    SeedCalibration();
  }
};

// Malformed options: one line names the option and what it takes, the next says where the
// usage is; no raw texts of the option parser.
class UsageErrorTest : public ErrorTest {};

TEST_P(UsageErrorTest, NamesTheOptionAndWhereTheUsageIs) {
  const ErrorCase& error = GetParam();
  const CliRun run = Run(std::string(error.arguments) + " -q");
  EXPECT_EQ(run.exit_code, error.exit_code) << run.err;
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 2u) << run.err;
  EXPECT_EQ(lines[0].rfind("vm316: ", 0), 0u) << lines[0];
  for (const char* text : error.says) EXPECT_THAT(lines[0], HasSubstr(text));
  EXPECT_THAT(lines[1], ::testing::MatchesRegex("see `vm316( [a-z]+)? --help`"));
  for (const char* raw : {"Could not convert", "not in range", "was not expected", "required"}) {
    EXPECT_THAT(lines[0], Not(HasSubstr(raw)));
  }
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    MalformedOptions, UsageErrorTest,
    ::testing::Values(ErrorCase{"", 2, {"subcommand"}},
                      ErrorCase{"measure --bogus", 2, {"--bogus"}},
                      ErrorCase{"frobnicate", 2, {"frobnicate"}},
                      ErrorCase{"measure --rate fast", 2, {"--rate", "\"fast\""}},
                      ErrorCase{"measure --length many", 2, {"--length"}},
                      ErrorCase{"measure --channels 3", 2, {"--channels", "\"3\""}},
                      ErrorCase{"measure --range 3=2", 2, {"--range", "\"3=2\""}},
                      ErrorCase{"measure --range 1=big", 2, {"--range", "\"big\""}},
                      ErrorCase{"measure --coupling 2=xy", 2, {"--coupling", "\"xy\""}},
                      ErrorCase{"measure --dc-level 1", 2, {"--dc-level", "CH=VALUE"}},
                      ErrorCase{"measure --trigger ch3", 2, {"--trigger", "\"ch3\""}},
                      ErrorCase{"measure --trigger ch1:up", 2, {"--trigger", "\"up\""}},
                      ErrorCase{"measure --trigger ext:1.0", 2, {"--trigger", "no level"}},
                      ErrorCase{"measure --timeout soon", 2, {"--timeout", "\"soon\""}},
                      ErrorCase{"measure --style fast", 2, {"--style", "\"fast\""}},
                      ErrorCase{"measure --count 0", 2, {"--count", "at least 1"}},
                      ErrorCase{"watch --frames 0", 2, {"--frames", "at least 1"}},
                      ErrorCase{"measure --width 5", 2, {"--width", "20 to 400"}},
                      ErrorCase{"watch --interval 5ms", 2, {"--interval", "10 ms to 60 s"}},
                      ErrorCase{"watch --xy --channels 2", 2, {"XY needs both channels"}},
                      ErrorCase{"measure --length 1.5", 2, {"--length", "whole number"}},
                      ErrorCase{"measure --length 0x10", 2, {"--length", "\"0x10\""}},
                      ErrorCase{"measure -o ''", 2, {"--output", "file name"}},
                      ErrorCase{"measure --svg ''", 2, {"--svg", "file name"}},
                      ErrorCase{"info --cal-dir ''", 2, {"--cal-dir", "directory"}},
                      ErrorCase{"measure --svg - -o -", 2, {"stdout"}},
                      ErrorCase{"measure --time 1s --rate 1k --length 10", 2, {"--time"}},
                      ErrorCase{"measure --spectrum -o cap.sr", 2, {"--spectrum", "sigrok"}},
                      ErrorCase{"measure --spectrum --raw", 2, {"--spectrum", "--raw"}},
                      ErrorCase{"measure --xy --spectrum", 2, {"--xy", "--spectrum"}},
                      ErrorCase{"measure --xy --channels 1", 2, {"XY needs both channels"}},
                      ErrorCase{"measure --sim-ch1 sine:freq=abc", 2, {"--sim-ch1", "freq"}},
                      ErrorCase{"measure --sim-ch2 dc:duty=0.5", 2, {"--sim-ch2", "duty"}},
                      ErrorCase{"measure --port 0x10000", 2, {"--port", "\"0x10000\""}},
                      ErrorCase{"generator", 2, {"--freq must be given"}},
                      ErrorCase{"generator --freq loud", 2, {"--freq", "\"loud\""}}));

// Values the board refuses: one line, the setting, the value and the limit.
class RefusedValueTest : public ErrorTest {};

TEST_P(RefusedValueTest, SaysWhichSettingRefusedWhichValue) {
  const ErrorCase& error = GetParam();
  const CliRun run = Run(std::string(error.arguments) + " -q");
  EXPECT_EQ(run.exit_code, error.exit_code) << run.err;
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind("vm316: ", 0), 0u) << lines[0];
  for (const char* text : error.says) EXPECT_THAT(lines[0], HasSubstr(text));
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    RefusedValues, RefusedValueTest,
    ::testing::Values(
        ErrorCase{"measure --length 40000", 4, {"record length to 40000", "at most 32760"}},
        ErrorCase{"measure --length 1", 4, {"record length to 1", "at least 2"}},
        ErrorCase{"measure --length 1000 --post 1001", 4, {"after the trigger to 1001", "1000"}},
        ErrorCase{"measure --rate 0", 4, {"sample rate to 0 Hz", "20 MHz"}},
        ErrorCase{"measure --rate -5k", 4, {"sample rate to -5 kHz"}},
        ErrorCase{"measure --dc-level 1=20", 4, {"DC level of ch1 to 20 V", "16 V"}},
        ErrorCase{"measure --range 2=0.8 --dc-level 2=1.61",
                  4,
                  {"DC level of ch2 to 1.61 V", "-1.6 V to 1.6 V on the 0.8 V range"}},
        ErrorCase{"measure --trigger ch1:rising:9", 4, {"trigger level of ch1 to 9 V", "8 V"}},
        ErrorCase{"measure --trigger ch2:falling:-8.5", 4, {"trigger level of ch2 to -8.5 V"}},
        ErrorCase{"measure --trigger ch1:rising:-7 --hysteresis 2",
                  4,
                  {"hysteresis of ch1 to 2 V", "-8 V"}},
        ErrorCase{"measure --hysteresis -1", 4, {"hysteresis of ch1 to -1 V", "at least 0 V"}},
        // Beyond what the board can do: refused with the limit, never clamped.
        ErrorCase{"measure --range 1=-5", 4, {"range of ch1 to -5 V", "0.02 V to 80 V"}},
        ErrorCase{"measure --range 2=100", 4, {"range of ch2 to 100 V", "80 V"}},
        ErrorCase{"measure --rate 30M", 4, {"sample rate to 30 MHz", "0.61 Hz to 20 MHz"}},
        ErrorCase{
            "measure --generator 250k", 4, {"square-wave output to 250 kHz", "100 Hz to 100 kHz"}},
        ErrorCase{"generator --freq 50", 4, {"square-wave output to 50 Hz", "100 Hz"}},
        ErrorCase{"measure --port 0x300", 3, {"no board answers at port 0x300"}}));

TEST_F(ErrorTest, AnAbsentBoardIsReportedOnce) {
  const CliRun run = Run("measure -q", "VM316_SIM_FAULT=absent");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  EXPECT_THAT(run.err, HasSubstr("the simulated board does not answer at 0x378"));
}

TEST_F(ErrorTest, HelpAndVersionSucceed) {
  const CliRun help = Run("measure --help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_THAT(help.out, HasSubstr("--trigger SOURCE[:rising|falling][:LEVEL]"));
  const CliRun version = Run("--version");
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_THAT(version.out, HasSubstr("vm316"));
}

}  // namespace
}  // namespace vm316::cli_testing
