// The panel's HTTP interface on the simulated board, as the page uses it: settings round
// trips, refusals with the value in force and the reason, a record's bytes against the
// library's own GetMeasurementRaw for the same settings, and the access checks.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "serve/serve_process.h"
#include "vm316.h"

namespace vm316::serve_testing {
namespace {

const httplib::Headers kPanel = {{"X-VM316-Panel", "1"}};

// The object of one setting in a settings answer: {"key":"rate", ...}.
std::string ResultFor(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("{\"key\":\"" + key + "\"");
  if (at == std::string::npos) return {};
  return json.substr(at, json.find('}', at) - at + 1);
}

double NumberAfter(const std::string& json, const std::string& name) {
  std::smatch match;
  const std::regex pattern("\"" + name + "\":(-?[0-9.eE+-]+)");
  if (!std::regex_search(json, match, pattern)) return -1.0;
  return std::stod(match[1]);
}

struct Wire {
  std::string header;
  std::vector<std::uint16_t> samples;  // every recorded channel, in channel order
};

Wire Decode(const std::string& body) {
  Wire wire;
  if (body.size() < 4) return wire;
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(body[i]);
  wire.header = body.substr(4, length);
  for (std::size_t at = 4 + length; at + 1 < body.size(); at += 2) {
    wire.samples.push_back(static_cast<std::uint16_t>(
        static_cast<unsigned char>(body[at]) | static_cast<unsigned char>(body[at + 1]) << 8));
  }
  return wire;
}

// DC inputs: the same codes whenever and by whomever they are taken, but for the converter's
// own noise of a code step, which depends on the instant.
constexpr const char* kCh1 = "dc:offset=1.3";
constexpr const char* kCh2 = "dc:offset=-0.45";

class ServeApiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new ServeProcess({"--sim-ch1", kCh1, "--sim-ch2", kCh2});
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_GT(server_->port(), 0) << "vm316 serve did not start"; }

  std::string Set(const std::string& query) {
    httplib::Client client = server_->Client();
    const auto answer = client.Post(("/api/settings?" + query).c_str(), kPanel, "", "text/plain");
    EXPECT_TRUE(answer);
    if (!answer) return {};
    EXPECT_EQ(answer->status, 200) << answer->body;
    return answer->body;
  }
  std::string State() {
    httplib::Client client = server_->Client();
    const auto answer = client.Get("/api/state");
    return answer && answer->status == 200 ? answer->body : std::string();
  }

  static ServeProcess* server_;
};

ServeProcess* ServeApiTest::server_ = nullptr;

TEST_F(ServeApiTest, SettingsComeBackAsTheBoardTookThem) {
  const std::string answer =
      Set("rate=3M&length=500&ch1.range=3&ch2.coupling=ac&trigger.timeout=none&trigger.slope="
          "falling");
  const std::string rate = ResultFor(answer, "rate");
  EXPECT_NE(rate.find("\"accepted\":true,\"adjusted\":true"), std::string::npos) << rate;
  EXPECT_NE(rate.find("\"value\":\"4 MHz\""), std::string::npos) << rate;
  EXPECT_NE(rate.find("cannot sample at 3 MHz"), std::string::npos) << rate;
  EXPECT_NE(ResultFor(answer, "ch1.range").find("\"value\":\"2 V\""), std::string::npos);
  EXPECT_NE(ResultFor(answer, "length").find("\"value\":\"500 samples\""), std::string::npos);

  const std::string state = State();
  EXPECT_EQ(NumberAfter(state, "rate"), 4e6);
  EXPECT_EQ(NumberAfter(state, "length"), 500);
  EXPECT_NE(state.find("{\"on\":true,\"range\":2,"), std::string::npos) << state;
  EXPECT_NE(state.find("\"coupling\":\"ac\""), std::string::npos);
  EXPECT_NE(state.find("\"slope\":\"falling\""), std::string::npos);
  EXPECT_NE(state.find("\"timeout\":null"), std::string::npos);
  Set("rate=100k&length=1000&ch1.range=8&ch2.coupling=dc&trigger.timeout=100&trigger.slope=rising");
}

// The panel reads a value as `measure` reads the option: the same units, the same limits, the
// same words; nothing outside what the board does is taken as its nearest value.
TEST_F(ServeApiTest, ValuesFollowTheRulesOfTheCommandLine) {
  struct Case {
    const char* query;
    const char* key;
    bool accepted;
    const char* says;           // in the value (accepted) or the note (refused)
    bool by_the_board = false;  // refused with the library's status, not as malformed text
  };
  const Case cases[] = {
      {"length=10k", "length", true, "\"value\":\"10000 samples\""},
      {"ch1.coupling=AC", "ch1.coupling", true, "\"value\":\"ac\""},
      {"rate=30M", "rate", false, "the board samples at 0.61 Hz to 20 MHz", true},
      {"generator=250k", "generator", false, "100 Hz to 100 kHz, or off", true},
      {"ch1.range=-5", "ch1.range", false, "0.02 V to 80 V full scale", true},
      {"trigger.hysteresis=-1", "trigger.hysteresis", false, "at least 0 V", true},
      {"ch1.bogus=1", "ch1.bogus", false, "no such setting: \\\"ch1.bogus\\\" (run, ch1.on,"},
      // Decimal notation only: the C library would read this as 1 V.
      {"trigger.level=0x1", "trigger.level", false, "not \\\"0x1\\\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const std::string result = ResultFor(Set(c.query), c.key);
    EXPECT_NE(result.find(c.accepted ? "\"accepted\":true" : "\"accepted\":false"),
              std::string::npos)
        << result;
    EXPECT_NE(result.find(c.says), std::string::npos) << result;
    if (c.by_the_board) {
      EXPECT_NE(result.find("\"status\":\"StatusInvalidValue\""), std::string::npos) << result;
    }
    if (std::string(c.key) == "rate" || std::string(c.key) == "ch1.range") {
      EXPECT_NE(result.find(c.key[0] == 'r' ? "\"value\":\"100 kHz\"" : "\"value\":\"8 V\""),
                std::string::npos)
          << result;  // what stays in force
    }
  }
  // A post that names nothing is answered at once, saying what it lacks.
  httplib::Client client = server_->Client();
  const auto bare = client.Post("/api/settings", kPanel, "", "text/plain");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->status, 400);
  EXPECT_NE(bare->body.find("name the settings to change"), std::string::npos) << bare->body;
  Set("length=1000&ch1.coupling=dc");
}

// The defaults of `measure` (a tenth of the record before the trigger), but for the live
// view's time-out (docs/serve.md says why).
TEST_F(ServeApiTest, TheDefaultsAreThoseOfMeasure) {
  const std::string state = State();
  EXPECT_EQ(NumberAfter(state, "pre_percent"), 10) << state;
  EXPECT_EQ(NumberAfter(state, "post"), 900) << state;
  EXPECT_EQ(NumberAfter(state, "timeout"), 100) << state;
}

TEST_F(ServeApiTest, RefusalsSayWhyAndKeepTheValueInForce) {
  struct Case {
    const char* query;
    const char* key;
    const char* status;  // empty: refused before it reached the library
    const char* reason;
    const char* value;
  };
  const Case cases[] = {
      {"ch1.dc=100", "ch1.dc", "StatusInvalidValue", "within twice the range", "0 V"},
      {"length=40000", "length", "StatusInvalidValue", "at most 32760 samples", "1000 samples"},
      {"rate=fast", "rate", "", "a sample rate is a number of Hz", ""},
      {"volume=11", "volume", "", "no such setting: \\\"volume\\\"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const std::string result = ResultFor(Set(c.query), c.key);
    EXPECT_NE(result.find("\"accepted\":false"), std::string::npos) << result;
    EXPECT_NE(result.find(std::string("\"status\":\"") + c.status + "\""), std::string::npos)
        << result;
    EXPECT_NE(result.find(c.reason), std::string::npos) << result;
    EXPECT_NE(result.find(std::string("\"value\":\"") + c.value + "\""), std::string::npos)
        << result;
  }
  const std::string state = State();
  EXPECT_EQ(NumberAfter(state, "length"), 1000);
  EXPECT_NE(state.find("\"dc\":0}"), std::string::npos) << state;
  // The panel shows the last refusal beside its control, also after a reload.
  EXPECT_NE(state.find("\"ch1.dc\":{\"asked\":\"100\",\"accepted\":false"), std::string::npos);
}

// A post that changes no value the board holds leaves the record being taken alone: with
// posts coming faster than a record takes, records still come.
TEST_F(ServeApiTest, PostsThatChangeNothingDoNotAbortTheRecord) {
  constexpr const char* kSlowRecord = "rate=10k&length=10000&trigger.source=none&run=run";
  Set(kSlowRecord);
  const auto first = static_cast<std::uint64_t>(NumberAfter(State(), "sequence"));
  std::uint64_t sequence = first;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (sequence < first + 3 && std::chrono::steady_clock::now() < deadline) {
    sequence = static_cast<std::uint64_t>(NumberAfter(Set(kSlowRecord), "sequence"));
  }
  EXPECT_GE(sequence, first + 3) << "records were aborted by posts that changed nothing";
  Set("rate=100k&length=1000&trigger.source=ch1");
}

// The library in this process, on the same simulated board and calibration, with the settings
// the panel was given.
std::vector<std::uint16_t> LibraryRecord(std::uint32_t length) {
  const fs::path directory = MakeTempDirectory("vm316-serve-library");
  SeedCalibration(directory);
  const fs::path before = fs::current_path();
  fs::current_path(directory);
  setenv("VM316_SIM_CH1", kCh1, 1);
  setenv("VM316_SIM_CH2", kCh2, 1);
  std::vector<std::uint16_t> ch1(length), ch2(length);
  EXPECT_EQ(InitInstrument(0x378), StatusOk);
  EXPECT_EQ(SetMeasureMode(mNone), StatusOk);
  EXPECT_EQ(SetMeasureMode(mCh12), StatusOk);
  double ch1_range = 2.0;
  double ch2_range = 0.8;
  EXPECT_EQ(SetSensitivity(1, &ch1_range), StatusOk);
  EXPECT_EQ(SetSensitivity(2, &ch2_range), StatusOk);
  EXPECT_EQ(SetRecordLength(length), StatusOk);
  EXPECT_EQ(SetPostSamples(length), StatusOk);
  EXPECT_EQ(SetTriggerSource(tsNoTrig), StatusOk);
  EXPECT_EQ(StartMeasurement(), StatusOk);
  EXPECT_EQ(GetMeasurementRaw(ch1.data(), ch2.data()), StatusOk);
  ExitInstrument();
  fs::current_path(before);
  fs::remove_all(directory);
  ch1.insert(ch1.end(), ch2.begin(), ch2.end());
  return ch1;
}

TEST_F(ServeApiTest, ARecordCarriesTheSamplesTheLibraryReads) {
  constexpr std::uint32_t kLength = 600;
  const std::string answer =
      Set("length=600&ch1.range=2&ch2.range=0.8&trigger.source=none&run=run");
  ASSERT_EQ(answer.find("\"accepted\":false"), std::string::npos) << answer;
  // Every record after this one was armed with the new settings.
  const auto after = static_cast<std::uint64_t>(NumberAfter(State(), "sequence"));

  httplib::Client client = server_->Client();
  const auto response = client.Get(("/api/record?after=" + std::to_string(after)).c_str());
  ASSERT_TRUE(response);
  ASSERT_EQ(response->status, 200);
  const Wire wire = Decode(response->body);
  EXPECT_GT(NumberAfter(wire.header, "sequence"), static_cast<double>(after));
  EXPECT_EQ(NumberAfter(wire.header, "length"), kLength);
  EXPECT_NE(wire.header.find("\"mark\":\"Auto\""), std::string::npos) << wire.header;
  // Each channel as the library read it: the same count, in channel order, little-endian, on
  // the ranges asked for (on the default 8 V ranges the codes would lie far apart), within the
  // converter's noise.
  const std::vector<std::uint16_t> library = LibraryRecord(kLength);
  ASSERT_EQ(wire.samples.size(), library.size());
  constexpr double kCodeStep = 256.0;
  for (std::size_t channel = 0; channel < 2; ++channel) {
    SCOPED_TRACE(channel + 1);
    double mean = 0.0;
    for (std::size_t i = 0; i < kLength; ++i) mean += library[channel * kLength + i];
    mean /= kLength;
    for (std::size_t i = 0; i < kLength; ++i) {
      ASSERT_NEAR(wire.samples[channel * kLength + i], mean, 2 * kCodeStep) << "sample " << i;
    }
  }
  // The CSV download is the CLI's writer over the same record: 600 rows of two channels.
  const auto csv = client.Get("/api/record.csv");
  ASSERT_TRUE(csv);
  EXPECT_EQ(csv->get_header_value("Content-Disposition").find("attachment"), 0u);
  // Channel 1 at 1.3 V, within the converter's noise of a code step or two (16 mV each).
  EXPECT_TRUE(std::regex_search(csv->body, std::regex(",1\\.(2[6-9]|3[0-4])")))
      << csv->body.substr(0, 600);
  Set("length=1000&ch1.range=8&ch2.range=8&trigger.source=ch1");
}

// A forced record whose trigger channel never went past the comparator's re-arm level names
// the hysteresis that lets it trigger; one the signal re-arms carries nothing.
TEST_F(ServeApiTest, AForcedRecordSaysWhenTheHysteresisKeptTheTriggerFromReArming) {
  httplib::Client client = server_->Client();
  const auto record_after = [&] {
    const auto after = static_cast<std::uint64_t>(NumberAfter(State(), "sequence"));
    const auto response = client.Get(("/api/record?after=" + std::to_string(after)).c_str());
    return response && response->status == 200 ? Decode(response->body).header : std::string();
  };
  // Channel 1 sits at 1.3 V: falling through 1.25 V it would have to rise above 1.875 V first.
  Set("trigger.source=ch1&trigger.slope=falling&trigger.level=1.25&trigger.timeout=20&run=run");
  const std::string forced = record_after();
  EXPECT_NE(forced.find("\"mark\":\"Auto\""), std::string::npos) << forced;
  EXPECT_NE(forced.find("\"rearm\":\"ch1 re-arms only above"), std::string::npos) << forced;
  EXPECT_NE(forced.find("(Hysteresis V) lets it trigger"), std::string::npos) << forced;
  Set("trigger.source=none");
  EXPECT_NE(record_after().find("\"rearm\":null"), std::string::npos);
  Set("trigger.source=ch1&trigger.slope=rising&trigger.level=2.5&trigger.timeout=100");
}

// XY is the board's mode with both channels: refused without them, ended by turning one off.
TEST_F(ServeApiTest, XyTakesBothChannels) {
  struct Case {
    const char* query;
    const char* key;
    bool accepted;
    const char* says;  // in the result
    bool xy;           // in force afterwards
  };
  const Case cases[] = {
      {"xy=on", "xy", true, "\"value\":\"on\"", true},
      {"ch1.on=on", "ch1.on", true, "\"value\":\"on\"", true},
      {"ch2.on=off", "ch2.on", true, "xy is off: xy needs both channels on", false},
      {"xy=on", "xy", false, "xy needs both channels on (ch1.on and ch2.on)", false},
      {"ch2.on=on&xy=1", "xy", true, "\"value\":\"on\"", true},
      {"xy=maybe", "xy", false, "on or off, not \\\"maybe\\\"", true},
      {"xy=off", "xy", true, "\"value\":\"off\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const std::string answer = Set(c.query);
    const std::string result = ResultFor(answer, c.key);
    EXPECT_NE(result.find(c.accepted ? "\"accepted\":true" : "\"accepted\":false"),
              std::string::npos)
        << result;
    EXPECT_NE(result.find(c.says), std::string::npos) << result;
    EXPECT_NE(answer.find(c.xy ? "\"xy\":true" : "\"xy\":false"), std::string::npos) << answer;
  }
  // A record taken in XY says so.
  Set("xy=on&trigger.source=none");
  const auto after = static_cast<std::uint64_t>(NumberAfter(State(), "sequence"));
  httplib::Client client = server_->Client();
  const auto record = client.Get(("/api/record?after=" + std::to_string(after)).c_str());
  ASSERT_TRUE(record);
  ASSERT_EQ(record->status, 200);
  const Wire wire = Decode(record->body);
  EXPECT_NE(wire.header.find("\"xy\":true"), std::string::npos) << wire.header;
  EXPECT_EQ(wire.samples.size(), 2 * 1000u);
  Set("xy=off&trigger.source=ch1");
}

// The spectrum of the newest record: a 1 kHz sine of 0.5 V peak is 0.354 V rms, -9.03 dBV,
// which the flat-top window reads within 0.3 dB; a channel that is off has none.
TEST(ServeSpectrumTest, ASineReadsItsLevelAtItsFrequency) {
  ServeProcess server({"--sim-ch1", "sine:freq=1000,amp=0.5"});
  ASSERT_GT(server.port(), 0) << "vm316 serve did not start: " << server.Stderr();
  httplib::Client client = server.Client();
  const auto set = client.Post("/api/settings?ch1.range=0.8&ch2.on=off&trigger.source=none", kPanel,
                               "", "text/plain");
  ASSERT_TRUE(set);
  ASSERT_EQ(set->status, 200);
  ASSERT_EQ(set->body.find("\"accepted\":false"), std::string::npos) << set->body;
  const auto after = static_cast<std::uint64_t>(NumberAfter(set->body, "sequence"));
  ASSERT_TRUE(client.Get(("/api/record?after=" + std::to_string(after)).c_str()));

  const auto answer = client.Get("/api/spectrum?window=flattop");
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->status, 200) << answer->body;
  EXPECT_EQ(answer->get_header_value("Content-Type"), "application/json");
  const std::string& json = answer->body;
  EXPECT_GT(NumberAfter(json, "sequence"), static_cast<double>(after));
  EXPECT_NE(json.find("\"window\":\"flattop\""), std::string::npos);
  const double bin = NumberAfter(json, "bin_hz");
  EXPECT_DOUBLE_EQ(bin, 100.0);  // 100 kHz over 1000 samples
  EXPECT_NEAR(NumberAfter(json, "frequency"), 1000.0, bin / 2);
  EXPECT_NEAR(NumberAfter(json, "dbv"), -9.03, 0.3);
  EXPECT_NE(json.find("\"text\":\"ch1 spectrum (flattop, 100.0 Hz a bin): peak 1.000 kHz -"),
            std::string::npos)
      << json.substr(0, 400);
  // 501 levels, 0 Hz to 50 kHz.
  const std::size_t levels = json.find("\"dbv\":[");
  ASSERT_NE(levels, std::string::npos);
  const std::string list = json.substr(levels, json.find(']', levels) - levels);
  EXPECT_EQ(std::count(list.begin(), list.end(), ','), 500);
  EXPECT_NE(json.find("{\"recorded\":false}]"), std::string::npos) << "channel 2 is off";

  struct Refused {
    const char* query;
    int status;
    const char* says;
  };
  const Refused refused[] = {
      {"/api/spectrum?window=kaiser", 400, "window: hann, flattop or rect, not \"kaiser\""},
      {"/api/spectrum?window=", 400, "window: hann, flattop or rect, not \"\""},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.query);
    const auto bad = client.Get(c.query);
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, c.status);
    EXPECT_NE(bad->body.find(c.says), std::string::npos) << bad->body;
  }
}

TEST_F(ServeApiTest, RequestsFromElsewhereAreRefused) {
  struct Case {
    const char* what;
    bool post;
    httplib::Headers headers;
    int status;
  };
  const std::string port = std::to_string(server_->port());
  const Case cases[] = {
      {"the listening address", false, {{"Host", "127.0.0.1:" + port}}, 200},
      {"localhost on loopback", false, {{"Host", "localhost:" + port}}, 200},
      {"a rebound name", false, {{"Host", "attacker.example:" + port}}, 403},
      {"another port", false, {{"Host", "127.0.0.1:1"}}, 403},
      {"no Host", false, {{"Host", ""}}, 403},
      {"a change from the page", true, {{"X-VM316-Panel", "1"}}, 200},
      {"a change without the page's header", true, {}, 403},
      {"a change from another site's page",
       true,
       {{"X-VM316-Panel", "1"}, {"Origin", "http://attacker.example"}},
       403},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    httplib::Client client = server_->Client();
    const auto answer = c.post ? client.Post("/api/settings?run=run", c.headers, "", "text/plain")
                               : client.Get("/api/state", c.headers);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, c.status) << answer->body;
  }
}

// A second server on a port in use must not share it and take half the requests.
TEST_F(ServeApiTest, APortInUseIsRefused) {
  ServeProcess second({}, server_->host());
  EXPECT_EQ(second.port(), 0);
  EXPECT_EQ(second.ExitCode(), 1);
}

TEST(ServeTokenTest, EveryRequestNeedsTheToken) {
  ServeProcess server({"--token", "s3cret"});
  ASSERT_GT(server.port(), 0) << "vm316 serve did not start";
  httplib::Client client = server.Client();
  const auto page = client.Get("/?token=s3cret");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  // The page's own scripts load with the cookie the page brought.
  const std::string cookie = page->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos) << cookie;
  const struct {
    const char* path;
    httplib::Headers headers;
    int status;
  } cases[] = {
      {"/api/state", {}, 403},
      {"/", {}, 403},
      {"/api/state?token=wrong", {}, 403},
      {"/api/state?token=s3cret", {}, 200},
      {"/api/state", {{"X-VM316-Token", "s3cret"}}, 200},
      {"/app.js", {{"Cookie", cookie.substr(0, cookie.find(';'))}}, 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto answer = client.Get(c.path, c.headers);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, c.status);
  }
}

// The token need not stand on the command line, where every local user sees it.
TEST(ServeTokenTest, TheTokenComesFromAFileOrTheEnvironment) {
  const fs::path directory = MakeTempDirectory("vm316-serve-token");
  std::ofstream(directory / "token") << "from-a-file\n";
  Launch from_file;
  from_file.arguments = {"--token-file", (directory / "token").string()};
  Launch from_environment;
  from_environment.environment = {"VM316_TOKEN=from-the-environment"};
  const struct {
    const char* what;
    Launch launch;
    const char* token;
  } cases[] = {
      {"--token-file", from_file, "from-a-file"},
      {"VM316_TOKEN", from_environment, "from-the-environment"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ServeProcess server(c.launch);
    ASSERT_GT(server.port(), 0) << "vm316 serve did not start: " << server.Stderr();
    httplib::Client client = server.Client();
    const auto without = client.Get("/api/state");
    ASSERT_TRUE(without);
    EXPECT_EQ(without->status, 403);
    const auto with = client.Get("/api/state", {{"X-VM316-Token", c.token}});
    ASSERT_TRUE(with);
    EXPECT_EQ(with->status, 200);
  }
  fs::remove_all(directory);
}

// A token of any characters reaches the browser intact through the printed URL and the cookie.
TEST(ServeTokenTest, ThePrintedUrlEncodesTheToken) {
  ServeProcess server({"--token", "a b&c/d+e"});
  ASSERT_GT(server.port(), 0) << "vm316 serve did not start: " << server.Stderr();
  EXPECT_NE(server.StdoutSoFar().find("/?token=a%20b%26c%2Fd%2Be "), std::string::npos)
      << server.StdoutSoFar();
  httplib::Client client = server.Client();
  const auto page = client.Get("/?token=a%20b%26c%2Fd%2Be");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  const std::string cookie = page->get_header_value("Set-Cookie");
  const auto script = client.Get("/app.js", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200) << cookie;
}

// Ctrl-C while the board calibrates at start-up: the calibration cannot be cut short, and
// nothing starts after it; a second Ctrl-C ends the program at once.
TEST(ServeStartTest, CtrlCDuringTheCalibrationStartsNothingAfterIt) {
  for (const int presses : {1, 2}) {
    SCOPED_TRACE(presses);
    Launch launch;
    launch.environment = {"VM316_CLOCK=real"};  // a calibration that takes seconds
    launch.seed_calibration = false;
    launch.quiet = false;
    launch.wait_for_url = false;
    ServeProcess server(launch);
    ASSERT_TRUE(server.WaitForStderr("calibrating", std::chrono::seconds(60))) << server.Stderr();
    server.Signal(SIGINT);
    EXPECT_TRUE(server.WaitForStderr("cannot be cut short", std::chrono::seconds(10)))
        << server.Stderr();
    if (presses == 2) server.Signal(SIGINT);
    EXPECT_EQ(server.ExitCode(), 130);
    EXPECT_EQ(server.Stdout().find("panel at"), std::string::npos);
    const std::string errors = server.Stderr();
    EXPECT_NE(errors.find(presses == 1 ? "nothing was started" : "interrupted"), std::string::npos)
        << errors;
  }
}

}  // namespace
}  // namespace vm316::serve_testing
