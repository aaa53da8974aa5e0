#include "serve_routes.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <sstream>
#include <thread>

#include "serve_assets.h"
#include "serve_json.h"
#include "serve_spectrum.h"
#include "shared/csv_writer.h"
#include "shared/sigrok_writer.h"
#include "shared/svg_writer.h"

namespace vm316::serve {

using namespace vm316::host;
namespace {

using Clock = std::chrono::steady_clock;

// A long poll answers "nothing new" after this long, so that idle connections turn over.
constexpr auto kLongPollWait = std::chrono::milliseconds(2000);
constexpr const char* kTokenCookie = "vm316_token";
constexpr const char* kPanelHeader = "X-VM316-Panel";
constexpr const char* kTokenHeader = "X-VM316-Token";
// A refusal quotes this much of a value it cannot read, no more.
constexpr std::size_t kQuotedValueLimit = 32;

HttpAnswer Answer(std::string content_type, std::shared_ptr<const std::string> body) {
  HttpAnswer answer;
  answer.content_type = std::move(content_type);
  answer.body = std::move(body);
  return answer;
}

HttpAnswer JsonAnswer(std::string json) {
  return Answer("application/json", std::make_shared<const std::string>(std::move(json)));
}

HttpAnswer Stopping() {
  return TextAnswer(503, "vm316 serve is stopping\n", true);
}

HttpAnswer RecordAnswer(const PublishedRecord& record) {
  return Answer("application/octet-stream", record.wire);
}

HttpAnswer NothingNew() {
  HttpAnswer answer;
  answer.status = 204;
  return answer;
}

std::string ResultJson(const SettingResult& result) {
  return "{\"key\":" + JsonString(result.key) + ",\"asked\":" + JsonString(result.asked) +
         ",\"accepted\":" + JsonBool(result.accepted) +
         ",\"adjusted\":" + JsonBool(result.adjusted) + ",\"status\":" + JsonString(result.status) +
         ",\"value\":" + JsonString(result.value) + ",\"note\":" + JsonString(result.note) + "}";
}

std::string SettingsJson(const std::vector<SettingResult>& results, const std::string& state) {
  std::string json = "{\"results\":[";
  bool first = true;
  for (const SettingResult& result : results) {
    json += (first ? "" : ",") + ResultJson(result);
    first = false;
  }
  return json + "],\"state\":" + state + "}";
}

// A value as a refusal quotes it: cut short, and without control characters.
std::string Quoted(const std::string& value) {
  std::string quoted;
  for (const char c : value.substr(0, kQuotedValueLimit)) {
    quoted += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
  return "\"" + quoted + (value.size() > kQuotedValueLimit ? "...\"" : "\"");
}

}  // namespace

// The long polls for a record: each waits, without holding a thread, until a record newer
// than the one it has comes or its wait is over.
class RecordWaiters {
 public:
  explicit RecordWaiters(PanelInstrument& instrument)
      : instrument_(instrument), thread_(&RecordWaiters::Loop, this) {}
  ~RecordWaiters() { Stop(); }
  RecordWaiters(const RecordWaiters&) = delete;
  RecordWaiters& operator=(const RecordWaiters&) = delete;

  void Add(std::uint64_t after, HttpReply reply) {
    const std::shared_ptr<const PublishedRecord> record = instrument_.Poll(after);
    if (record) {
      reply(RecordAnswer(*record));
      return;
    }
    {
      std::lock_guard lock(mutex_);
      if (!stopped_) {
        waiters_.push_back(Waiter{after, Clock::now() + kLongPollWait, std::move(reply)});
        fresh_ = true;  // a record may have come since the poll
        changed_.notify_one();
        return;
      }
    }
    reply(Stopping());
  }

  // On the acquisition thread, after each record.
  void NewRecord() {
    std::lock_guard lock(mutex_);
    fresh_ = true;
    changed_.notify_one();
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
      changed_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct Waiter {
    std::uint64_t after;
    Clock::time_point until;
    HttpReply reply;
  };

  void Loop() {
    std::unique_lock lock(mutex_);
    while (!stopped_) {
      if (waiters_.empty()) {
        changed_.wait(lock, [this] { return stopped_ || !waiters_.empty(); });
      } else {
        // A copy: the waiters may grow while the lock is released.
        const Clock::time_point earliest =
            std::min_element(waiters_.begin(), waiters_.end(),
                             [](const Waiter& a, const Waiter& b) { return a.until < b.until; })
                ->until;
        changed_.wait_until(lock, earliest, [this] { return stopped_ || fresh_; });
      }
      fresh_ = false;
      const std::shared_ptr<const PublishedRecord> latest = instrument_.Latest();
      const Clock::time_point now = Clock::now();
      std::vector<std::pair<HttpReply, HttpAnswer>> due;
      std::erase_if(waiters_, [&](Waiter& waiter) {
        if (latest && latest->sequence > waiter.after) {
          due.emplace_back(std::move(waiter.reply), RecordAnswer(*latest));
        } else if (stopped_) {
          due.emplace_back(std::move(waiter.reply), Stopping());
        } else if (now >= waiter.until) {
          due.emplace_back(std::move(waiter.reply), NothingNew());
        } else {
          return false;
        }
        return true;
      });
      lock.unlock();
      for (auto& [reply, answer] : due) reply(std::move(answer));
      lock.lock();
    }
    for (Waiter& waiter : waiters_) waiter.reply(Stopping());
    waiters_.clear();
  }

  PanelInstrument& instrument_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Waiter> waiters_;
  bool fresh_ = false;
  bool stopped_ = false;
  std::thread thread_;
};

PanelRoutes::PanelRoutes(PanelInstrument& instrument, const ListenAddress& address, int bound_port,
                         std::string token)
    : instrument_(instrument),
      address_(address),
      bound_port_(bound_port),
      token_(std::move(token)),
      waiters_(std::make_unique<RecordWaiters>(instrument)) {
  instrument_.OnRecord([waiters = waiters_.get()] { waiters->NewRecord(); });
  AddAssets();
  AddApi();
}

PanelRoutes::~PanelRoutes() {
  Stop();
}

void PanelRoutes::Stop() {
  waiters_->Stop();
}

HttpFields PanelRoutes::EveryAnswer() {
  return {{"Content-Security-Policy",
           "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
           "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
          {"X-Frame-Options", "DENY"},
          {"X-Content-Type-Options", "nosniff"},
          {"Referrer-Policy", "no-referrer"},
          {"Cache-Control", "no-store"}};
}

std::optional<HttpAnswer> PanelRoutes::Screen(const HttpRequest& request) {
  const std::string host = request.Header("Host").value_or("");
  const std::string origin = request.Header("Origin").value_or("");
  std::string given = request.Query("token").value_or("");
  if (given.empty()) given = request.Header(kTokenHeader).value_or("");
  if (given.empty()) given = PercentDecode(request.Cookie(kTokenCookie).value_or(""));
  RequestFacts facts;
  facts.host_header = host;
  facts.origin_header = origin;
  facts.token = given;
  facts.changes_state = request.method != "GET" && request.method != "HEAD";
  facts.has_panel_header = request.Header(kPanelHeader).has_value();
  const std::string refusal = RefusalReason(address_, bound_port_, token_, facts);
  if (refusal.empty()) return std::nullopt;
  return TextAnswer(403, refusal + "\n", true);
}

void PanelRoutes::Handle(const HttpRequest& request, HttpReply reply) {
  const std::string method = request.method == "HEAD" ? "GET" : request.method;
  std::string allowed;
  for (const Route& route : routes_) {
    if (route.path != request.path) continue;
    if (route.method == method) {
      route.handle(request, reply);
      return;
    }
    allowed = route.method == "GET" ? "GET, HEAD" : route.method;
  }
  if (allowed.empty()) {
    reply(TextAnswer(404, "no such page: " + request.path + "\n"));
    return;
  }
  HttpAnswer answer = TextAnswer(405, request.method + " is not taken here\n");
  answer.headers.emplace_back("Allow", allowed);
  reply(std::move(answer));
}

void PanelRoutes::AddAssets() {
  for (std::size_t i = 0; i < kWebAssetCount; ++i) {
    const WebAsset& asset = kWebAssets[i];
    HttpAnswer answer =
        Answer(std::string(asset.content_type), std::make_shared<const std::string>(asset.content));
    // The page's own requests for its scripts carry no token: a cookie that no other site's
    // request carries (SameSite=Strict) stands in for it.
    if (!token_.empty()) {
      answer.headers.emplace_back("Set-Cookie", std::string(kTokenCookie) + "=" +
                                                    PercentEncode(token_) +
                                                    "; Path=/; HttpOnly; SameSite=Strict");
    }
    Handler handler = [answer](const HttpRequest&, HttpReply& reply) { reply(answer); };
    routes_.push_back({"GET", std::string(asset.path), handler});
    if (asset.path == "/index.html") routes_.push_back({"GET", "/", handler});
  }
}

void PanelRoutes::AddApi() {
  routes_.push_back({"GET", "/api/state", [this](const HttpRequest&, HttpReply& reply) {
                       reply(JsonAnswer(instrument_.StateJson()));
                     }});
  routes_.push_back(
      {"POST", "/api/settings", [this](const HttpRequest& request, HttpReply& reply) {
         SettingChanges changes;
         for (const auto& [key, value] : request.query) {
           if (key != "token") changes.emplace_back(key, value);
         }
         if (changes.empty()) {
           reply(TextAnswer(400, "name the settings to change: /api/settings?rate=1M\n"));
           return;
         }
         // Answered on the acquisition thread once it has applied them.
         PanelInstrument& instrument = instrument_;
         instrument_.Apply(changes, [&instrument, reply](std::vector<SettingResult> results) {
           reply(results.empty() ? Stopping()
                                 : JsonAnswer(SettingsJson(results, instrument.StateJson())));
         });
       }});
  routes_.push_back({"GET", "/api/record", [this](const HttpRequest& request, HttpReply& reply) {
                       std::uint64_t after = 0;
                       if (const auto text = request.Query("after")) {
                         char* end = nullptr;
                         after = std::strtoull(text->c_str(), &end, 10);
                         if (text->empty() || *end != '\0') {
                           reply(TextAnswer(400, "after: a record's sequence number\n"));
                           return;
                         }
                       }
                       waiters_->Add(after, std::move(reply));
                     }});
  routes_.push_back(
      {"GET", "/api/record.csv",
       DownloadHandler("csv", "text/csv", [](std::ostream& out, const PublishedRecord& record) {
         WriteCsv(out, record.record, SampleUnit::kVolts);
       })});
  routes_.push_back({"GET", "/api/record.svg",
                     DownloadHandler("svg", "image/svg+xml",
                                     [](std::ostream& out, const PublishedRecord& record) {
                                       WriteSvg(out, record.record, record.stats);
                                     })});
  routes_.push_back({"GET", "/api/spectrum", [this](const HttpRequest& request, HttpReply& reply) {
                       reply(SpectrumAnswer(request));
                     }});
  if (SigrokFilesAvailable()) {
    routes_.push_back({"GET", "/api/record.sr",
                       DownloadHandler("sr", "application/zip",
                                       [](std::ostream& out, const PublishedRecord& record) {
                                         out << SigrokSessionBytes(record.record);
                                       })});
  }
}

HttpAnswer PanelRoutes::SpectrumAnswer(const HttpRequest& request) {
  const std::string name = request.Query("window").value_or("hann");
  const std::optional<SpectrumWindow> window = ParseSpectrumWindow(name);
  if (!window) return TextAnswer(400, "window: hann, flattop or rect, not " + Quoted(name) + "\n");
  if (!SpectrumAvailable()) {
    return TextAnswer(501,
                      "this vm316 was built without FFTW: no spectrum (apt-get install "
                      "libfftw3-dev brings it back)\n");
  }
  const std::shared_ptr<const PublishedRecord> record = instrument_.Latest();
  if (!record) return TextAnswer(404, "no record yet\n");
  std::lock_guard lock(spectra_.mutex);
  auto& [sequence, body] = spectra_.bodies[*window];
  if (!body || sequence != record->sequence) {
    body = std::make_shared<const std::string>(SpectrumJson(*record, *window));
    sequence = record->sequence;
  }
  return Answer("application/json", body);
}

PanelRoutes::Handler PanelRoutes::DownloadHandler(
    const char* extension, const char* type,
    std::function<void(std::ostream&, const PublishedRecord&)> write) {
  downloads_.push_back(std::make_unique<Download>());
  Download& cache = *downloads_.back();
  return [this, &cache, extension, type, write](const HttpRequest&, HttpReply& reply) {
    const std::shared_ptr<const PublishedRecord> record = instrument_.Latest();
    if (!record) {
      reply(TextAnswer(404, "no record yet\n"));
      return;
    }
    std::shared_ptr<const std::string> body;
    {
      std::lock_guard lock(cache.mutex);
      if (!cache.body || cache.sequence != record->sequence) {
        std::ostringstream out;
        write(out, *record);
        cache.body = std::make_shared<const std::string>(out.str());
        cache.sequence = record->sequence;
      }
      body = cache.body;
    }
    HttpAnswer answer = Answer(type, std::move(body));
    answer.headers.emplace_back("Content-Disposition", "attachment; filename=\"vm316-record-" +
                                                           std::to_string(record->sequence) + "." +
                                                           extension + "\"");
    reply(std::move(answer));
  };
}

}  // namespace vm316::serve
