// `vm316 serve`: the HTTP side of the panel. Every request passes the access checks of
// serve_access.h first; the handlers read what the acquisition thread published and queue
// settings for it, and never call the library themselves.
#include <httplib.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "serve.h"
#include "serve_access.h"
#include "serve_assets.h"
#include "serve_instrument.h"
#include "serve_json.h"
#include "shared/csv_writer.h"
#include "shared/errors.h"
#include "shared/interrupt.h"
#include "shared/svg_writer.h"

extern char** environ;

namespace vm316::serve {

using namespace vm316::host;
namespace {

// A long poll answers "nothing new" after this long, so that idle connections turn over.
constexpr auto kLongPollWait = std::chrono::milliseconds(2000);
// Each open connection holds a worker while it is kept alive: enough for a few panels.
constexpr std::size_t kWorkers = 16;
constexpr auto kInterruptCheck = std::chrono::milliseconds(100);
constexpr const char* kTokenCookie = "vm316_token";
constexpr const char* kPanelHeader = "X-VM316-Panel";
constexpr const char* kTokenHeader = "X-VM316-Token";

std::string CookieValue(const std::string& cookies, const std::string& name) {
  std::size_t at = 0;
  while (at < cookies.size()) {
    const std::size_t end = std::min(cookies.find(';', at), cookies.size());
    std::string pair = cookies.substr(at, end - at);
    const std::size_t first = pair.find_first_not_of(' ');
    if (first != std::string::npos) pair = pair.substr(first);
    if (pair.starts_with(name + "=")) return pair.substr(name.size() + 1);
    at = end + 1;
  }
  return {};
}

std::string RequestToken(const httplib::Request& request) {
  if (request.has_param("token")) return request.get_param_value("token");
  if (request.has_header(kTokenHeader)) return request.get_header_value(kTokenHeader);
  return CookieValue(request.get_header_value("Cookie"), kTokenCookie);
}

std::string ResultJson(const SettingResult& result) {
  return "{\"key\":" + JsonString(result.key) + ",\"asked\":" + JsonString(result.asked) +
         ",\"accepted\":" + JsonBool(result.accepted) +
         ",\"adjusted\":" + JsonBool(result.adjusted) + ",\"status\":" + JsonString(result.status) +
         ",\"value\":" + JsonString(result.value) + ",\"note\":" + JsonString(result.note) + "}";
}

void NoStore(httplib::Response& response) {
  response.set_header("Cache-Control", "no-store");
  response.set_header("X-Content-Type-Options", "nosniff");
}

void ServeAssets(httplib::Server& server, const std::string& token) {
  for (std::size_t i = 0; i < kWebAssetCount; ++i) {
    const WebAsset& asset = kWebAssets[i];
    auto handler = [&asset, token](const httplib::Request&, httplib::Response& response) {
      response.set_content(asset.content.data(), asset.content.size(),
                           std::string(asset.content_type).c_str());
      NoStore(response);
      // The page's own requests for its scripts carry no token: a cookie that no other site's
      // request carries (SameSite=Strict) stands in for it.
      if (!token.empty()) {
        response.set_header("Set-Cookie", std::string(kTokenCookie) + "=" + token +
                                              "; Path=/; HttpOnly; SameSite=Strict");
      }
    };
    server.Get(std::string(asset.path), handler);
    if (asset.path == "/index.html") server.Get("/", handler);
  }
}

void ServeApi(httplib::Server& server, PanelInstrument& instrument) {
  server.Get("/api/state", [&instrument](const httplib::Request&, httplib::Response& response) {
    response.set_content(instrument.StateJson(), "application/json");
    NoStore(response);
  });
  server.Post("/api/settings", [&instrument](const httplib::Request& request,
                                             httplib::Response& response) {
    SettingChanges changes;
    for (const auto& [key, value] : request.params) {
      if (key != "token") changes.emplace_back(key, value);
    }
    if (changes.empty()) {
      response.status = 400;
      response.set_content("name the settings to change: /api/settings?rate=1M\n", "text/plain");
      return;
    }
    std::string json = "{\"results\":[";
    bool first = true;
    for (const SettingResult& result : instrument.Apply(changes)) {
      json += (first ? "" : ",") + ResultJson(result);
      first = false;
    }
    json += "],\"state\":" + instrument.StateJson() + "}";
    response.set_content(json, "application/json");
    NoStore(response);
  });
  server.Get("/api/record",
             [&instrument](const httplib::Request& request, httplib::Response& response) {
               std::uint64_t after = 0;
               if (request.has_param("after")) {
                 const std::string text = request.get_param_value("after");
                 char* end = nullptr;
                 after = std::strtoull(text.c_str(), &end, 10);
                 if (text.empty() || *end != '\0') {
                   response.status = 400;
                   response.set_content("after: a record's sequence number\n", "text/plain");
                   return;
                 }
               }
               const auto record = instrument.WaitForRecord(after, kLongPollWait);
               NoStore(response);
               if (!record) {
                 response.status = 204;
                 return;
               }
               response.set_content(record->wire, "application/octet-stream");
             });
  auto download = [&instrument](const char* extension, const char* type, auto write) {
    return [&instrument, extension, type, write](const httplib::Request&,
                                                 httplib::Response& response) {
      const auto record = instrument.Latest();
      if (!record) {
        response.status = 404;
        response.set_content("no record yet\n", "text/plain");
        return;
      }
      std::ostringstream out;
      write(out, *record);
      response.set_content(out.str(), type);
      response.set_header("Content-Disposition", "attachment; filename=\"vm316-record-" +
                                                     std::to_string(record->sequence) + "." +
                                                     extension + "\"");
      NoStore(response);
    };
  };
  server.Get("/api/record.csv",
             download("csv", "text/csv", [](std::ostream& out, const PublishedRecord& record) {
               WriteCsv(out, record.record, SampleUnit::kVolts);
             }));
  server.Get("/api/record.svg",
             download("svg", "image/svg+xml", [](std::ostream& out, const PublishedRecord& record) {
               WriteSvg(out, record.record, record.stats);
             }));
}

void OpenBrowser(const std::string& url) {
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::fprintf(stderr, "vm316: cannot start a browser (xdg-open); open %s\n", url.c_str());
    return;
  }
  // xdg-open hands the URL over and returns; reaping it keeps no zombie behind.
  std::thread([child] { waitpid(child, nullptr, 0); }).detach();
}

}  // namespace

int RunServe(const BackendOptions& backend, const ServeOptions& options) {
  std::string error;
  const std::optional<ListenAddress> address = ParseListenAddress(options.listen, &error);
  if (!address) throw CliError(ExitCode::kUsage, "--listen " + options.listen + ": " + error);
  std::string token = options.token;
  // Beyond this machine, every request needs the token: generated when none is given.
  if (!IsLoopback(address->host) && token.empty()) token = GenerateToken();

  PanelInstrument instrument(backend);
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  // The library's default shares the port with any other server that asks (SO_REUSEPORT):
  // a second `serve` would then take half the requests, for another board or another
  // instance of this one. Only SO_REUSEADDR: a port still busy is refused.
  server.set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  const int bound_port =
      address->port == 0 ? server.bind_to_any_port(address->host)
                         : (server.bind_to_port(address->host, address->port) ? address->port : -1);
  if (bound_port <= 0) {
    throw CliError(ExitCode::kFailure, "cannot listen on " + options.listen +
                                           ": the address is in use or not this machine's");
  }
  // The port first: a busy one is said before the board is brought up for nothing.
  instrument.Start();
  server.set_pre_routing_handler([&](const httplib::Request& request, httplib::Response& response) {
    RequestFacts facts;
    const std::string host = request.get_header_value("Host");
    const std::string origin = request.get_header_value("Origin");
    const std::string given = RequestToken(request);
    facts.host_header = host;
    facts.origin_header = origin;
    facts.token = given;
    facts.changes_state = request.method != "GET" && request.method != "HEAD";
    facts.has_panel_header = request.has_header(kPanelHeader);
    const std::string refusal = RefusalReason(*address, bound_port, token, facts);
    if (refusal.empty()) return httplib::Server::HandlerResponse::Unhandled;
    response.status = 403;
    response.set_content(refusal + "\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  ServeAssets(server, token);
  ServeApi(server, instrument);

  std::string url = "http://" + UrlHost(*address, bound_port) + "/";
  if (!token.empty()) url += "?token=" + token;
  if (IsWildcard(address->host)) {
    std::printf("vm316: serving the panel on every address of this machine, port %d, token %s\n",
                bound_port, token.c_str());
  }
  std::printf("vm316: panel at %s (Ctrl-C stops)\n", url.c_str());
  std::fflush(stdout);
  if (options.open_browser) OpenBrowser(url);

  std::atomic<bool> finished{false};
  std::thread watcher([&server, &instrument, &finished] {
    while (!Interrupted() && !finished) std::this_thread::sleep_for(kInterruptCheck);
    // The board first: the long polls waiting for its next record then end at once.
    instrument.Stop();
    server.stop();
  });
  server.listen_after_bind();
  finished = true;
  watcher.join();
  instrument.Stop();
  return static_cast<int>(ExitCode::kOk);
}

}  // namespace vm316::serve
