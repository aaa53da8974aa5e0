// Who may talk to `vm316 serve`: the listening address, the token and the checks every request
// passes before a handler sees it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vm316::serve {

struct ListenAddress {
  std::string host;  // as given: "127.0.0.1", "::1", "localhost", "0.0.0.0", ...
  int port = 0;      // 0: any free port
};

// "127.0.0.1:8316", "[::1]:8316", "localhost:8316", ":8316" (loopback). Nothing, with the reason
// in *error, when malformed.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error);

// 127.0.0.0/8, ::1 and localhost: only this machine can reach the server.
bool IsLoopback(std::string_view host);

// 0.0.0.0 and ::: every address of the machine.
bool IsWildcard(std::string_view host);

// 32 hexadecimal digits from the system's random source.
std::string GenerateToken();

// Every byte but the unreserved ones (letters, digits, "-._~") as %XX: a token as it stands in
// a URL or a cookie, whatever its characters.
std::string PercentEncode(std::string_view text);
// The inverse; an escape that is not one stays as it is.
std::string PercentDecode(std::string_view text);

// The name under which a browser reaches the server, as it writes it in a URL.
std::string UrlHost(const ListenAddress& address, int bound_port);

struct RequestFacts {
  std::string_view host_header;
  std::string_view origin_header;  // empty when the browser sent none
  std::string_view token;          // from the query or the X-VM316-Token header
  bool changes_state = false;      // POST: settings, run, stop
  bool has_panel_header = false;   // X-VM316-Panel: set only by the page's own scripts
};

// Empty when the request may pass; otherwise why not (for a 403 answer).
std::string RefusalReason(const ListenAddress& address, int bound_port,
                          std::string_view expected_token, const RequestFacts& request);

}  // namespace vm316::serve
