#include "serve_http.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "shared/errors.h"

namespace vm316::serve {

using namespace vm316::host;
namespace {

using Clock = std::chrono::steady_clock;

// What one client may take. The panel's own requests are a few hundred bytes of headers and
// no body; the bounds leave a browser with many cookies room to spare.
constexpr unsigned kConnectionLimit = 1000;
// The request line and headers must fit in this (the library answers 414 or 431 beyond it).
constexpr std::size_t kConnectionMemory = 16 * 1024;
constexpr std::size_t kHeaderFieldLimit = 64;
constexpr std::size_t kBodyLimit = 16 * 1024;  // no route takes a body; a small one is dropped
// From the connection (or the previous answer) to the last byte of the request.
constexpr auto kArrivalLimit = std::chrono::seconds(10);
// No byte in either direction for this long ends a connection.
constexpr unsigned kIdleLimitSeconds = 10;
// From an answer's first byte to its last.
constexpr auto kSendLimit = std::chrono::seconds(60);
// The answers' bodies held for sending at once: beyond it an answer is 503 (try again).
constexpr std::size_t kBodyBudget = 32u << 20;
constexpr int kLoopWaitMs = 100;
constexpr auto kStopGrace = std::chrono::milliseconds(2000);

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<std::string> Find(const HttpFields& fields, std::string_view name, bool any_case) {
  for (const auto& [key, value] : fields) {
    if (any_case ? SameName(key, name) : key == name) return value;
  }
  return std::nullopt;
}

std::size_t Count(const HttpFields& fields, std::string_view name) {
  return static_cast<std::size_t>(
      std::count_if(fields.begin(), fields.end(),
                    [name](const auto& field) { return SameName(field.first, name); }));
}

MHD_Result Collect(void* fields, MHD_ValueKind /*kind*/, const char* key, size_t key_size,
                   const char* value, size_t value_size) {
  static_cast<HttpFields*>(fields)->emplace_back(
      std::string(key, key_size), value != nullptr ? std::string(value, value_size) : "");
  return MHD_YES;
}

// What the connection and its framing allow, before any route sees the request.
std::optional<HttpAnswer> FramingRefusal(const HttpRequest& request) {
  if (request.headers.size() > kHeaderFieldLimit) {
    return TextAnswer(431, "more than " + std::to_string(kHeaderFieldLimit) + " header fields\n");
  }
  if (Count(request.headers, "Host") > 1 || Count(request.headers, "Content-Length") > 1) {
    return TextAnswer(400, "a header that may appear once appears twice\n");
  }
  const std::optional<std::string> encoding = request.Header("Transfer-Encoding");
  if (encoding && (!SameName(*encoding, "chunked") || request.Header("Content-Length"))) {
    // Two framings of one body, or one we do not take: where it ends would be a guess.
    return TextAnswer(400, "the body's framing is ambiguous or not chunked\n");
  }
  const std::optional<std::string> length = request.Header("Content-Length");
  if (length && std::strtoull(length->c_str(), nullptr, 10) > kBodyLimit) {
    return TextAnswer(413, "no request of this server has a body of more than " +
                               std::to_string(kBodyLimit) + " bytes\n");
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
  return Find(headers, name, true);
}
std::optional<std::string> HttpRequest::Query(std::string_view name) const {
  return Find(query, name, false);
}
std::optional<std::string> HttpRequest::Cookie(std::string_view name) const {
  return Find(cookies, name, false);
}

HttpAnswer TextAnswer(int status, std::string text, bool close) {
  HttpAnswer answer;
  answer.status = status;
  answer.content_type = "text/plain; charset=utf-8";
  answer.body = std::make_shared<const std::string>(std::move(text));
  answer.close = close;
  return answer;
}

// One request and its answer. The answer may come from any thread; the connection waits
// (suspended) until it does.
struct HttpReply::Exchange {
  HttpServer::Impl* server = nullptr;
  MHD_Connection* connection = nullptr;
  HttpRequest request;
  std::size_t body_bytes = 0;
  bool dispatched = false;
  std::mutex mutex;  // guards what follows
  std::optional<HttpAnswer> answer;
  bool answered = false;
  bool suspended = false;
  bool resumed = false;  // and not yet run again
};

struct HttpServer::Impl {
  using Exchange = HttpReply::Exchange;
  struct Connection {
    int fd = -1;
    Clock::time_point deadline;
    bool timed = true;  // false while a route works on its answer
    bool cut = false;
  };
  struct Held {
    Impl* server;
    std::shared_ptr<const std::string> body;
  };

  HttpFields every_answer;
  int listen_fd = -1;
  int port = 0;
  bool ipv6 = false;
  int wake_fd = -1;
  MHD_Daemon* daemon = nullptr;
  HttpRoutes* routes = nullptr;
  std::thread thread;
  std::atomic<bool> ended{false};

  // The loop thread's own.
  std::unordered_map<MHD_Connection*, Connection> connections;
  std::map<const std::string*, int> held;  // bodies being sent, and by how many answers
  std::size_t held_bytes = 0;

  // Any thread's: the exchanges whose connection waits for an answer, and how many were
  // resumed but not yet run again (the library must not end them meanwhile).
  std::mutex waiting_mutex;
  std::set<std::shared_ptr<Exchange>> waiting;
  std::atomic<int> resuming{0};

  void Wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_fd, &one, sizeof one);
  }

  void Time(MHD_Connection* connection, Clock::duration limit) {
    const auto found = connections.find(connection);
    if (found == connections.end()) return;
    found->second.timed = true;
    found->second.deadline = Clock::now() + limit;
  }
  void Untime(MHD_Connection* connection) {
    const auto found = connections.find(connection);
    if (found != connections.end()) found->second.timed = false;
  }

  // A connection past its bound is shut down; the library then finds it closed and ends it.
  void Sweep() {
    const Clock::time_point now = Clock::now();
    for (auto& [connection, state] : connections) {
      if (state.timed && !state.cut && now >= state.deadline) {
        shutdown(state.fd, SHUT_RDWR);
        state.cut = true;
      }
    }
  }

  bool Hold(const std::shared_ptr<const std::string>& body) {
    const auto found = held.find(body.get());
    if (found != held.end()) {
      ++found->second;
      return true;
    }
    if (held_bytes + body->size() > kBodyBudget) return false;
    held.emplace(body.get(), 1);
    held_bytes += body->size();
    return true;
  }
  static void Release(void* context) {
    auto* held_body = static_cast<Held*>(context);
    Impl& self = *held_body->server;
    const auto found = self.held.find(held_body->body.get());
    if (found != self.held.end() && --found->second == 0) {
      self.held_bytes -= held_body->body->size();
      self.held.erase(found);
    }
    delete held_body;
  }

  MHD_Result Queue(MHD_Connection* connection, HttpAnswer answer) {
    if (answer.body && answer.body->empty()) answer.body.reset();
    if (answer.body && !Hold(answer.body)) {
      answer = TextAnswer(503, "vm316 serve is sending much already: try again\n");
      answer.headers.emplace_back("Retry-After", "1");
      Hold(answer.body);
    }
    static constexpr char kEmpty[] = "";
    MHD_Response* response =
        answer.body
            ? MHD_create_response_from_buffer_with_free_callback_cls(
                  answer.body->size(), const_cast<char*>(answer.body->data()), &Release,
                  new Held{this, answer.body})
            : MHD_create_response_from_buffer(0, const_cast<char*>(kEmpty), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    for (const auto& [name, value] : every_answer) {
      MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    for (const auto& [name, value] : answer.headers) {
      MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    if (!answer.content_type.empty()) {
      MHD_add_response_header(response, "Content-Type", answer.content_type.c_str());
    }
    if (answer.close) MHD_add_response_header(response, "Connection", "close");
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    Time(connection, kSendLimit);
    return queued;
  }

  MHD_Result Access(MHD_Connection* connection, const char* url, const char* method,
                    size_t* upload_size, void** context) {
    auto** slot = reinterpret_cast<std::shared_ptr<Exchange>**>(context);
    if (*slot == nullptr) {
      // The headers are in.
      auto exchange = std::make_shared<Exchange>();
      exchange->server = this;
      exchange->connection = connection;
      HttpRequest& request = exchange->request;
      request.method = method;
      request.path = url;
      MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, &Collect, &request.query);
      MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &Collect, &request.headers);
      MHD_get_connection_values_n(connection, MHD_COOKIE_KIND, &Collect, &request.cookies);
      *slot = new std::shared_ptr<Exchange>(exchange);
      std::optional<HttpAnswer> refusal = FramingRefusal(request);
      if (!refusal) refusal = routes->Screen(request);
      if (!refusal) return MHD_YES;
      // Answered before its body was read: the library discards the rest with the connection.
      exchange->answered = true;
      refusal->close = true;
      return Queue(connection, std::move(*refusal));
    }
    const std::shared_ptr<Exchange> exchange = **slot;
    if (*upload_size != 0) {
      exchange->body_bytes += *upload_size;
      *upload_size = 0;
      // A chunked body has no length to refuse in advance: beyond the bound it ends the
      // connection at once.
      return exchange->body_bytes > kBodyLimit ? MHD_NO : MHD_YES;
    }
    if (!exchange->dispatched) {
      exchange->dispatched = true;
      Untime(connection);
      routes->Handle(exchange->request, HttpReply(exchange));
    }
    std::unique_lock lock(exchange->mutex);
    Ran(*exchange);
    if (!exchange->answer) {
      exchange->suspended = true;
      {
        std::lock_guard waiting_lock(waiting_mutex);
        waiting.insert(exchange);
      }
      MHD_suspend_connection(connection);
      return MHD_YES;
    }
    HttpAnswer answer = std::move(*exchange->answer);
    exchange->answer.reset();
    lock.unlock();
    return Queue(connection, std::move(answer));
  }

  // With the exchange's mutex held.
  void Ran(Exchange& exchange) {
    if (!exchange.resumed) return;
    exchange.resumed = false;
    --resuming;
  }

  void Resume(const std::shared_ptr<Exchange>& exchange) {
    MHD_resume_connection(exchange->connection);
    {
      std::lock_guard waiting_lock(waiting_mutex);
      waiting.erase(exchange);
    }
    Wake();
  }

  void Loop() {
    // The library sends with MSG_NOSIGNAL; a broken pipe must not end the program either way.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    const int epoll_fd = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    while (!ended) {
      MHD_UNSIGNED_LONG_LONG wait = kLoopWaitMs;
      MHD_UNSIGNED_LONG_LONG wanted = 0;
      if (MHD_get_timeout(daemon, &wanted) == MHD_YES) wait = std::min(wait, wanted);
      pollfd ready[2] = {{epoll_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
      poll(ready, 2, static_cast<int>(wait));
      if ((ready[1].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(wake_fd, &count, sizeof count);
      }
      MHD_run(daemon);
      Sweep();
    }
  }

  static MHD_Result OnAccess(void* self, MHD_Connection* connection, const char* url,
                             const char* method, const char* /*version*/, const char* /*upload*/,
                             size_t* upload_size, void** context) {
    return static_cast<Impl*>(self)->Access(connection, url, method, upload_size, context);
  }

  static void OnConnection(void* context, MHD_Connection* connection, void** /*socket*/,
                           MHD_ConnectionNotificationCode code) {
    Impl& self = *static_cast<Impl*>(context);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
      self.connections.erase(connection);
      return;
    }
    const int fd =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
    // An answer leaves at once, not after the client's delayed acknowledgement of the last.
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    Connection& state = self.connections[connection];
    state.fd = fd;
    state.deadline = Clock::now() + kArrivalLimit;
  }

  static void OnCompleted(void* context, MHD_Connection* connection, void** request,
                          MHD_RequestTerminationCode /*code*/) {
    Impl& self = *static_cast<Impl*>(context);
    auto* slot = static_cast<std::shared_ptr<Exchange>*>(*request);
    if (slot != nullptr) {
      {
        // A route that answers late finds the exchange over.
        std::lock_guard lock((*slot)->mutex);
        (*slot)->answered = true;
        (*slot)->suspended = false;
        self.Ran(**slot);
      }
      delete slot;
      *request = nullptr;
    }
    // The next request on a kept connection has the same time to arrive.
    self.Time(connection, kArrivalLimit);
  }
};

void HttpReply::operator()(HttpAnswer answer) const {
  Exchange& exchange = *exchange_;
  bool resume = false;
  {
    std::lock_guard lock(exchange.mutex);
    if (exchange.answered) return;
    exchange.answered = true;
    exchange.answer = std::move(answer);
    resume = exchange.suspended;
    exchange.suspended = false;
    if (resume) {
      exchange.resumed = true;
      ++exchange.server->resuming;
    }
  }
  // Until resumed, the library does not touch the connection again.
  if (resume) exchange.server->Resume(exchange_);
}

HttpServer::HttpServer(const ListenAddress& address, HttpFields every_answer)
    : impl_(std::make_unique<Impl>()) {
  impl_->every_answer = std::move(every_answer);
  const std::string where = address.host + ":" + std::to_string(address.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found) !=
      0) {
    throw CliError(ExitCode::kFailure, "cannot listen on " + where + ": no such address");
  }
  for (const addrinfo* candidate = found; candidate != nullptr; candidate = candidate->ai_next) {
    const int fd = socket(candidate->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) continue;
    // Only SO_REUSEADDR, never SO_REUSEPORT: a second server on a port in use must not take
    // half of its requests; it is refused.
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(fd, candidate->ai_addr, candidate->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
      impl_->listen_fd = fd;
      impl_->ipv6 = candidate->ai_family == AF_INET6;
      break;
    }
    close(fd);
  }
  freeaddrinfo(found);
  if (impl_->listen_fd < 0) {
    throw CliError(ExitCode::kFailure,
                   "cannot listen on " + where + ": the address is in use or not this machine's");
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  getsockname(impl_->listen_fd, reinterpret_cast<sockaddr*>(&bound), &size);
  impl_->port = ntohs(impl_->ipv6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  // Room for every connection the server takes.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < kConnectionLimit + 64) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, kConnectionLimit + 64);
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

HttpServer::~HttpServer() {
  Stop();
  if (impl_->listen_fd >= 0) close(impl_->listen_fd);  // never handed to the library
}

int HttpServer::port() const {
  return impl_->port;
}

void HttpServer::Start(HttpRoutes& routes) {
  impl_->routes = &routes;
  impl_->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const unsigned flags =
      MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | (impl_->ipv6 ? unsigned{MHD_USE_IPv6} : 0U);
  impl_->daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Impl::OnAccess, impl_.get(), MHD_OPTION_LISTEN_SOCKET,
      impl_->listen_fd, MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
      MHD_OPTION_CONNECTION_TIMEOUT, kIdleLimitSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kConnectionMemory, MHD_OPTION_NOTIFY_CONNECTION, &Impl::OnConnection, impl_.get(),
      MHD_OPTION_NOTIFY_COMPLETED, &Impl::OnCompleted, impl_.get(), MHD_OPTION_STRICT_FOR_CLIENT, 1,
      MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, MHD_OPTION_END);
  if (impl_->daemon == nullptr || impl_->wake_fd < 0) {
    throw CliError(ExitCode::kFailure, "cannot start the HTTP server");
  }
  impl_->listen_fd = -1;  // the library's now: it closes it when it stops
  impl_->thread = std::thread(&Impl::Loop, impl_.get());
}

void HttpServer::Stop() {
  if (impl_->daemon == nullptr) return;
  // Every connection that waits for an answer gets one, and runs again, before the library
  // may end them all.
  const Clock::time_point until = Clock::now() + kStopGrace;
  while (Clock::now() < until) {
    std::set<std::shared_ptr<Impl::Exchange>> waiting;
    {
      std::lock_guard lock(impl_->waiting_mutex);
      waiting = impl_->waiting;
    }
    for (const auto& exchange : waiting) {
      const HttpReply reply(exchange);
      reply(TextAnswer(503, "vm316 serve is stopping\n", true));
    }
    if (waiting.empty() && impl_->resuming == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  impl_->ended = true;
  impl_->Wake();
  impl_->thread.join();
  MHD_stop_daemon(impl_->daemon);
  impl_->daemon = nullptr;
  close(impl_->wake_fd);
}

}  // namespace vm316::serve
