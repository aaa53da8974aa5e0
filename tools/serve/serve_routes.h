// What `vm316 serve` answers: the access checks every request passes before its body is read
// (serve_access.h), then a table of routes, each building its answer from what the
// acquisition thread published, or queueing a change for it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serve_access.h"
#include "serve_http.h"
#include "serve_instrument.h"
#include "shared/spectrum.h"

namespace vm316::serve {

class RecordWaiters;

class PanelRoutes : public HttpRoutes {
 public:
  PanelRoutes(PanelInstrument& instrument, const ListenAddress& address, int bound_port,
              std::string token);
  ~PanelRoutes() override;
  PanelRoutes(const PanelRoutes&) = delete;
  PanelRoutes& operator=(const PanelRoutes&) = delete;

  std::optional<HttpAnswer> Screen(const HttpRequest& request) override;
  void Handle(const HttpRequest& request, HttpReply reply) override;
  // Every request waiting for a record gets its answer; later ones hear that the server stops.
  void Stop();

  // The headers of every answer: no framing by another site's page, no inline script or
  // style, no guessing of types, nothing cached.
  static HttpFields EveryAnswer();

 private:
  using Handler = std::function<void(const HttpRequest&, HttpReply&)>;
  struct Route {
    std::string method;  // "GET" (HEAD too) or "POST"
    std::string path;
    Handler handle;
  };
  // A download, built once for each record however many ask for it.
  struct Download {
    std::mutex mutex;
    std::uint64_t sequence = 0;
    std::shared_ptr<const std::string> body;
  };

  // The spectrum of each window, computed once for each record however many ask for it.
  struct Spectra {
    std::mutex mutex;
    std::map<host::SpectrumWindow, std::pair<std::uint64_t, std::shared_ptr<const std::string>>>
        bodies;
  };

  void AddAssets();
  HttpAnswer SpectrumAnswer(const HttpRequest& request);
  void AddApi();
  Handler DownloadHandler(const char* extension, const char* type,
                          std::function<void(std::ostream&, const PublishedRecord&)> write);

  PanelInstrument& instrument_;
  ListenAddress address_;
  int bound_port_;
  std::string token_;
  std::vector<Route> routes_;
  std::vector<std::unique_ptr<Download>> downloads_;
  Spectra spectra_;
  std::unique_ptr<RecordWaiters> waiters_;
};

}  // namespace vm316::serve
