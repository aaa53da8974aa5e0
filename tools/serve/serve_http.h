// The HTTP layer of `vm316 serve` (libmicrohttpd). One thread owns every connection and
// waits on all of them at once, so a connection that sends slowly or not at all holds nothing
// but its own bounded buffer; every request is bounded in the size of its headers, the number
// of its header fields, its body and the time it may take to arrive. A request refused before
// its body was read ends its connection, so that none of its bytes is ever read as a request.
// The routes (serve_routes.h) see only the types below, never the library.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serve_access.h"

namespace vm316::serve {

using HttpFields = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;  // "GET", "HEAD", "POST", ...
  std::string path;    // decoded, without the query
  HttpFields query;    // decoded, in the order given
  HttpFields headers;  // names as sent
  HttpFields cookies;

  // The first value of a header (names compared without case), or nothing.
  std::optional<std::string> Header(std::string_view name) const;
  std::optional<std::string> Query(std::string_view name) const;
  std::optional<std::string> Cookie(std::string_view name) const;
};

struct HttpAnswer {
  int status = 200;
  std::string content_type;
  // Shared rather than copied: every panel gets the same bytes of a record.
  std::shared_ptr<const std::string> body;
  HttpFields headers;
  bool close = false;  // end the connection after this answer
};

HttpAnswer TextAnswer(int status, std::string text, bool close = false);

// Where a route sends its answer: once, from any thread; later calls are ignored.
class HttpReply {
 public:
  struct Exchange;
  explicit HttpReply(std::shared_ptr<Exchange> exchange) : exchange_(std::move(exchange)) {}
  void operator()(HttpAnswer answer) const;

 private:
  std::shared_ptr<Exchange> exchange_;
};

class HttpRoutes {
 public:
  virtual ~HttpRoutes() = default;
  // Once the headers are in: an answer refuses the request before its body is read, and ends
  // the connection.
  virtual std::optional<HttpAnswer> Screen(const HttpRequest& request) = 0;
  // Once the whole request is in (a body is drained and dropped: no route takes one).
  virtual void Handle(const HttpRequest& request, HttpReply reply) = 0;
};

class HttpServer {
 public:
  // Listens at once; throws CliError when the address is in use or not this machine's.
  // `every_answer` goes with every answer, the routes' and the server's own.
  HttpServer(const ListenAddress& address, HttpFields every_answer);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int port() const;
  // Starts taking connections on a thread of its own.
  void Start(HttpRoutes& routes);
  // Answers what still waits with 503, ends every connection and the thread.
  void Stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vm316::serve
