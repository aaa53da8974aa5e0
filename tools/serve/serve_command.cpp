// `vm316 serve`: the panel's server. The instrument (serve_instrument.h) owns the board on its
// own thread; the HTTP layer (serve_http.h) owns the connections on another; the routes
// (serve_routes.h) join them. Ctrl-C stops all three in that order.
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "serve.h"
#include "serve_access.h"
#include "serve_http.h"
#include "serve_instrument.h"
#include "serve_routes.h"
#include "shared/calibration_files.h"
#include "shared/errors.h"
#include "shared/interrupt.h"
#include "shared/session.h"

extern char** environ;

namespace vm316::serve {

using namespace vm316::host;
namespace {

constexpr auto kInterruptCheck = std::chrono::milliseconds(100);
constexpr const char* kTokenVariable = "VM316_TOKEN";

void CheckToken(const std::string& token, const std::string& from) {
  if (token.empty()) throw CliError(ExitCode::kUsage, from + ": the token is empty");
  for (const char c : token) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      throw CliError(ExitCode::kUsage, from + ": the token holds a control character");
    }
  }
}

// --token, else the first line of --token-file, else $VM316_TOKEN: the last two keep it out of
// the process list, where every local user can read it. Beyond the loopback a token is
// generated when none is given.
std::string ChooseToken(const ListenAddress& address, const ServeOptions& options) {
  std::string token;
  std::string from;
  if (!options.token.empty()) {
    token = options.token;
    from = "--token";
  } else if (!options.token_file.empty()) {
    std::ifstream file(options.token_file);
    if (!file || !std::getline(file, token)) {
      throw CliError(ExitCode::kUsage, "--token-file " + options.token_file + ": cannot read it");
    }
    token.erase(token.find_last_not_of(" \t\r") + 1);
    from = "--token-file " + options.token_file;
  } else if (const char* variable = std::getenv(kTokenVariable)) {
    token = variable;
    from = kTokenVariable;
  }
  if (!from.empty()) {
    CheckToken(token, from);
    return token;
  }
  return IsLoopback(address.host) ? std::string() : GenerateToken();
}

// Bring-up, and a calibration that is due, cannot be cut short inside the library: a first
// Ctrl-C says so and lets it end, after which nothing is started; a second ends the program
// at once.
void StartInstrument(PanelInstrument& instrument, const BackendOptions& backend) {
  const bool calibration_due =
      backend.port ? false : !CalibrationCurrent(StateDirectory(backend.cal_dir));
  std::unique_ptr<BlockingCallScope> second_ends_at_once;
  instrument.Start([&] {
    if (!Interrupted() || second_ends_at_once) return;
    std::fprintf(stderr,
                 "vm316: Ctrl-C: %s cannot be cut short; vm316 stops when it ends "
                 "and starts nothing after it (Ctrl-C again ends at once)\n",
                 calibration_due ? "the calibration under way" : "bringing the board up");
    second_ends_at_once = std::make_unique<BlockingCallScope>();
  });
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
  const std::string token = ChooseToken(*address, options);

  PanelInstrument instrument(backend);
  // The port first: a busy one is said before the board is brought up for nothing.
  HttpServer http(*address, PanelRoutes::EveryAnswer());
  PanelRoutes routes(instrument, *address, http.port(), token);
  StartInstrument(instrument, backend);
  http.Start(routes);

  std::string url = "http://" + UrlHost(*address, http.port()) + "/";
  if (!token.empty()) url += "?token=" + PercentEncode(token);
  if (IsWildcard(address->host)) {
    std::printf("vm316: serving the panel on every address of this machine, port %d, token %s\n",
                http.port(), token.c_str());
  }
  std::printf("vm316: panel at %s (Ctrl-C stops)\n", url.c_str());
  std::fflush(stdout);
  if (options.open_browser) OpenBrowser(url);

  while (!Interrupted()) std::this_thread::sleep_for(kInterruptCheck);
  // The waiting requests first, then the board (which answers the changes still queued), then
  // the connections, however slow their clients.
  routes.Stop();
  instrument.Stop();
  http.Stop();
  return static_cast<int>(ExitCode::kOk);
}

}  // namespace vm316::serve
