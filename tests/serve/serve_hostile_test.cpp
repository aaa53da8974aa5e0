// `vm316 serve` against clients that do not play fair, on loopback with raw sockets: requests
// hidden in the bytes of a refused one, connections that send slowly or nothing, floods of
// headers, ranges and bodies, framing by another site's page; and the many well-behaved
// clients that must keep getting answers meanwhile. Every loop and wait is bounded; no
// assertion depends on how fast the machine is beyond generous bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serve/raw_connection.h"
#include "serve/serve_process.h"

namespace vm316::serve_testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kAnswerLimit{10000};
// The server's own bound on the time a request may take to arrive is 10 s.
constexpr milliseconds kSlowCutLimit{40000};
constexpr int kSilentConnections = 200;
constexpr int kTricklingConnections = 16;
// The memory the server may take through every flood.
constexpr long kMemoryLimitKb = 100 * 1024;

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

class ServeHostileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new ServeProcess(std::vector<std::string>{}); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_GT(server_->port(), 0) << "vm316 serve did not start"; }

  static std::string Host() { return "Host: " + server_->host() + "\r\n"; }
  static std::string Generator() {
    httplib::Client client = server_->Client();
    const auto state = client.Get("/api/state");
    std::smatch match;
    const std::string body = state ? state->body : std::string();
    return std::regex_search(body, match, std::regex("\"generator\":([0-9]+)")) ? match[1].str()
                                                                                : "";
  }

  static ServeProcess* server_;
};

ServeProcess* ServeHostileTest::server_ = nullptr;

// A refused request answers once and ends its connection: nothing it carried, nor anything
// after it, is read as a request. The hidden request would switch the square-wave output to
// 250 Hz.
TEST_F(ServeHostileTest, NoByteOfARefusedRequestIsReadAsARequest) {
  const std::string before = Generator();
  ASSERT_FALSE(before.empty());
  const std::string hidden = "POST /api/settings?generator=250 HTTP/1.1\r\n" + Host() +
                             "X-VM316-Panel: 1\r\nContent-Length: 0\r\n\r\n";
  // The hidden request at byte 4096 of the body, as a browser's no-cors post can place it.
  const std::string body = std::string(4096, ' ') + hidden;
  const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
  auto chunked = [](const std::string& data) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return std::string(size) + data + "\r\n0\r\n\r\n";
  };
  const std::string post = "POST /api/settings?run=run HTTP/1.1\r\n";
  const struct {
    const char* what;
    std::string bytes;
    int status;
  } cases[] = {
      {"another site's name (DNS rebinding)",
       post + "Host: evil.example\r\nX-VM316-Panel: 1\r\n" + length + "\r\n" + body, 403},
      {"another site's page",
       post + Host() + "Origin: http://evil.example\r\n" + length +
           "Content-Type: text/plain\r\n\r\n" + body,
       403},
      {"no panel header", post + Host() + length + "\r\n" + body, 403},
      {"a chunked body",
       post + "Host: evil.example\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(body), 403},
      {"a request after a refused one",
       "GET /api/state HTTP/1.1\r\nHost: evil.example\r\n\r\n" + hidden, 403},
      {"a refusal before 100-continue",
       post + "Host: evil.example\r\nExpect: 100-continue\r\n" + length + "\r\n" + body, 403},
      {"two framings of one body",
       post + Host() +
           "X-VM316-Panel: 1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" +
           "0\r\n\r\n" + hidden,
       400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawConnection connection(server_->port());
    ASSERT_TRUE(connection.connected());
    connection.Send(c.bytes);
    const std::string stream = connection.ReadUntilClosed(kAnswerLimit);
    EXPECT_TRUE(connection.closed());
    EXPECT_EQ(CountAnswers(stream), 1) << stream;
    EXPECT_EQ(StatusOf(stream), c.status) << stream;
  }
  EXPECT_EQ(Generator(), before);
}

// Connections that send nothing, or a header line now and then, neither keep a normal client
// from its answers nor stay open beyond the bound on a request's arrival.
TEST_F(ServeHostileTest, SlowClientsNeitherShutOthersOutNorStay) {
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < kSilentConnections + kTricklingConnections; ++i) {
    slow.push_back(std::make_unique<RawConnection>(server_->port()));
    ASSERT_TRUE(slow.back()->connected());
    if (i >= kSilentConnections) slow.back()->Send("GET /api/state HTTP/1.1\r\n" + Host());
  }
  httplib::Client client = server_->Client();
  client.set_connection_timeout(5, 0);
  client.set_read_timeout(5, 0);
  for (int i = 0; i < 7; ++i) {
    const auto answer = client.Get("/api/state");
    ASSERT_TRUE(answer) << "answer " << i << " did not come";
    EXPECT_EQ(answer->status, 200);
  }
  const auto record = client.Get("/api/record?after=0");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->status, 200);

  const Clock::time_point start = Clock::now();
  std::vector<bool> cut(slow.size(), false);
  std::size_t remaining = slow.size();
  for (int line = 0; remaining > 0 && Clock::now() - start < kSlowCutLimit; ++line) {
    for (std::size_t i = 0; i < slow.size(); ++i) {
      if (cut[i]) continue;
      const bool trickling = i >= static_cast<std::size_t>(kSilentConnections);
      if ((trickling && !slow[i]->Send("X-Slow-" + std::to_string(line) + ": 1\r\n")) ||
          slow[i]->ClosedWithin(milliseconds(0))) {
        cut[i] = true;
        --remaining;
      }
    }
    std::this_thread::sleep_for(milliseconds(1000));
  }
  EXPECT_EQ(remaining, 0u) << "slow connections still open after " << Seconds(Clock::now() - start)
                           << " s";
}

// Headers, ranges and bodies without end are cut short before they cost memory.
TEST_F(ServeHostileTest, FloodsAreCutShortAndMemoryStaysBounded) {
  constexpr std::size_t kFloodBytes = 64u << 20;  // far beyond every socket buffer
  const std::string line = "X-Flood: " + std::string(1000, 'a') + "\r\n";
  std::string lines;
  while (lines.size() < (64u << 10)) lines += line;
  auto flood = [&](RawConnection& connection, const std::string& head, const std::string& piece) {
    if (!connection.Send(head)) return true;
    for (std::size_t sent = 0; sent < kFloodBytes; sent += piece.size()) {
      if (!connection.Send(piece)) return true;
    }
    return connection.ClosedWithin(kAnswerLimit);
  };
  // Nine floods of 1 kB header lines.
  for (int i = 0; i < 9; ++i) {
    RawConnection connection(server_->port());
    EXPECT_TRUE(flood(connection, "GET /api/state HTTP/1.1\r\n" + Host(), lines))
        << "a header flood was read to the end";
  }
  // A body without end to a route that takes posts.
  {
    RawConnection connection(server_->port());
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", lines.size());
    EXPECT_TRUE(flood(connection,
                      "POST /api/settings?run=run HTTP/1.1\r\n" + Host() +
                          "X-VM316-Panel: 1\r\nContent-Type: application/octet-stream\r\n"
                          "Transfer-Encoding: chunked\r\n\r\n",
                      size + lines + "\r\n"))
        << "a chunked body was read to the end";
  }
  const std::string settings = "POST /api/settings?run=run HTTP/1.1\r\n" + Host() +
                               "X-VM316-Panel: 1\r\nContent-Type: text/plain\r\n";
  std::string many_headers;
  for (int i = 0; i < 200; ++i) many_headers += "X-H" + std::to_string(i) + ": 1\r\n";
  const struct {
    const char* what;
    std::string bytes;
    int status;
  } refused[] = {
      {"a body larger than any request needs", settings + "Content-Length: 268435456\r\n\r\n", 413},
      {"200 header fields", "GET /api/state HTTP/1.1\r\n" + Host() + many_headers + "\r\n", 431},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    RawConnection connection(server_->port());
    connection.Send(c.bytes);
    const std::string stream = connection.ReadUntilClosed(kAnswerLimit);
    EXPECT_EQ(StatusOf(stream), c.status) << stream;
    EXPECT_TRUE(connection.closed());
  }
  // A small body is drained, and the connection serves the next request.
  {
    RawConnection connection(server_->port());
    connection.Send(settings + "Content-Length: 5\r\n\r\nhello");
    EXPECT_EQ(StatusOf(connection.ReadAnswer(kAnswerLimit)), 200);
    connection.Send("GET /api/state HTTP/1.1\r\n" + Host() + "\r\n");
    EXPECT_EQ(StatusOf(connection.ReadAnswer(kAnswerLimit)), 200);
  }
  // A thousand ranges of the whole record give one record, not a thousand.
  {
    httplib::Client client = server_->Client();
    ASSERT_TRUE(client.Get("/api/record?after=0"));  // a record to download
    RawConnection plain(server_->port());
    plain.Send("GET /api/record.csv HTTP/1.1\r\n" + Host() + "\r\n");
    const std::string whole = plain.ReadAnswer(kAnswerLimit, 0);
    ASSERT_EQ(StatusOf(whole), 200) << whole;
    std::string ranges = "Range: bytes=0-";
    for (int i = 1; i < 1000; ++i) ranges += ",0-";
    RawConnection connection(server_->port());
    connection.Send("GET /api/record.csv HTTP/1.1\r\n" + Host() + ranges + "\r\n\r\n");
    const std::string answer = connection.ReadAnswer(kAnswerLimit, 0);
    EXPECT_EQ(StatusOf(answer), 200) << answer;
    EXPECT_LE(RawConnection::ContentLength(answer), 2 * RawConnection::ContentLength(whole));
  }
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own memory would be counted
  EXPECT_LT(server_->PeakMemoryKb(), kMemoryLimitKb);
#endif
}

// Every answer forbids framing by another site's page and guessing its type, and the page
// runs under a policy that allows no inline script or style.
TEST_F(ServeHostileTest, EveryAnswerForbidsFramingAndSniffing) {
  const struct {
    const char* path;
    httplib::Headers headers;
  } cases[] = {
      {"/", {}},
      {"/app.js", {}},
      {"/api/state", {}},
      {"/api/record.csv", {}},
      {"/nowhere", {}},
      {"/api/state", {{"Host", "evil.example"}}},
      {"/api/spectrum?window=%3Cscript%3Ealert(1)%3C/script%3E%0D%0AX-Injected:%201", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    httplib::Client client = server_->Client();
    const auto answer = client.Get(c.path, c.headers);
    ASSERT_TRUE(answer);
    const std::string policy = answer->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("script-src 'self'"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos) << policy;
    EXPECT_EQ(answer->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(answer->get_header_value("X-Frame-Options"), "DENY");
  }
  httplib::Client client = server_->Client();
  // A window no spectrum has is refused as text, quoted short and without its line breaks.
  const auto window = client.Get(std::prev(std::end(cases))->path);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->status, 400);
  EXPECT_EQ(window->get_header_value("Content-Type").find("text/plain"), 0u);
  EXPECT_FALSE(window->has_header("X-Injected"));
  EXPECT_EQ(window->body.find('\r'), std::string::npos) << window->body;
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_FALSE(std::regex_search(page->body, std::regex("<script>|<style|\\sstyle=|\\son[a-z]+=")))
      << "inline script or style in the page";
}

// Each answer leaves in one piece at once: no wait for the client's delayed acknowledgement
// (40 ms on Linux) between its headers and its body.
TEST_F(ServeHostileTest, AnswersDoNotWaitForDelayedAcknowledgements) {
  std::vector<double> times;
  // Four requests a connection: the stall shows from the second on.
  for (int group = 0; group < 6; ++group) {
    RawConnection connection(server_->port());
    ASSERT_TRUE(connection.connected());
    for (int i = 0; i < 4; ++i) {
      const Clock::time_point start = Clock::now();
      connection.Send("GET /api/state HTTP/1.1\r\n" + Host() + "\r\n");
      ASSERT_EQ(StatusOf(connection.ReadAnswer(kAnswerLimit)), 200);
      times.push_back(Seconds(Clock::now() - start));
    }
  }
  std::sort(times.begin(), times.end());
  EXPECT_LT(times[times.size() / 2], 0.02) << "median answer time";
}

TEST_F(ServeHostileTest, SixtyFourPollingClientsAllGetRecords) {
  constexpr int kClients = 64;
  constexpr int kRecordsEach = 3;
  std::atomic<int> satisfied{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      httplib::Client client = server_->Client();
      std::string after = "0";
      int records = 0;
      const Clock::time_point start = Clock::now();
      while (records < kRecordsEach && Clock::now() - start < milliseconds(60000)) {
        const auto answer = client.Get(("/api/record?after=" + after).c_str());
        if (!answer || answer->status != 200) continue;
        std::smatch match;
        const std::string& body = answer->body;
        if (std::regex_search(body.begin(), body.begin() + std::min<std::size_t>(body.size(), 200),
                              match, std::regex("\"sequence\":([0-9]+)"))) {
          after = match[1].str();
          ++records;
        }
      }
      if (records == kRecordsEach) ++satisfied;
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(satisfied, kClients);
}

TEST(ServeStopTest, CtrlCEndsPromptlyWithSlowClientsOpen) {
  ServeProcess server(std::vector<std::string>{});
  ASSERT_GT(server.port(), 0) << "vm316 serve did not start";
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < kSilentConnections + kTricklingConnections; ++i) {
    slow.push_back(std::make_unique<RawConnection>(server.port()));
    if (i >= kSilentConnections) slow.back()->Send("GET /api/state HTTP/1.1\r\n");
  }
  // The trickling connections go on sending while the server stops.
  std::atomic<bool> ended{false};
  std::thread trickle([&] {
    for (int line = 0; line < 30 && !ended; ++line) {
      for (int i = kSilentConnections; i < kSilentConnections + kTricklingConnections; ++i) {
        slow[i]->Send("X-Slow-" + std::to_string(line) + ": 1\r\n");
      }
      std::this_thread::sleep_for(milliseconds(1000));
    }
  });
  // And long polls that wait: with the acquisition stopped, no record ends their wait.
  httplib::Client client = server.Client();
  const auto stopped =
      client.Post("/api/settings?run=stop", {{"X-VM316-Panel", "1"}}, "", "text/plain");
  ASSERT_TRUE(stopped);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(stopped->body, match, std::regex("\"sequence\":([0-9]+)")));
  const std::string sequence = match[1];
  std::vector<std::unique_ptr<RawConnection>> polls;
  for (int i = 0; i < 8; ++i) {
    polls.push_back(std::make_unique<RawConnection>(server.port()));
    polls.back()->Send("GET /api/record?after=" + sequence + " HTTP/1.1\r\nHost: " + server.host() +
                       "\r\n\r\n");
  }
  std::this_thread::sleep_for(milliseconds(500));
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(server.Interrupt(), 0) << server.Stderr();
  const double took = Seconds(Clock::now() - start);
  ended = true;
  trickle.join();
  // Before, the slow connections held the exit back by 14 to 24 s.
  EXPECT_LT(took, 8.0);
  for (const auto& poll : polls) EXPECT_TRUE(poll->ClosedWithin(milliseconds(0)));
}

}  // namespace
}  // namespace vm316::serve_testing
