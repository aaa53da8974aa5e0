// A TCP connection to the server on loopback that sends exactly the bytes a test gives it, for
// the requests no well-behaved client sends: smuggled, trickled, oversized. Every wait is
// bounded.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

namespace vm316::serve_testing {

class RawConnection {
 public:
  explicit RawConnection(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RawConnection() {
    if (fd_ >= 0) close(fd_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return fd_ >= 0; }

  // False once the server has closed or reset the connection.
  bool Send(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      const ssize_t sent = send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      at += static_cast<std::size_t>(sent);
    }
    return true;
  }

  // True when the server has closed its side within `limit` (0: already): the next read finds
  // the end (or a reset). What it sent meanwhile is kept.
  bool ClosedWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char chunk[4096];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(std::clamp<long>(left.count(), 0, 50))) > 0) {
        const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) return true;
        received_.append(chunk, static_cast<std::size_t>(got));
      } else if (left.count() <= 0) {
        return false;
      }
    }
  }

  // Everything the server sends until it closes the connection or `limit` passes.
  std::string ReadUntilClosed(std::chrono::milliseconds limit) {
    closed_ = ClosedWithin(limit);
    return received_;
  }
  bool closed() const { return closed_; }

  // One answer: its status line and headers, and `Content-Length` bytes of body unless the
  // body is larger than `max_body` (then only the headers are read). Empty on a time-out.
  std::string ReadAnswer(std::chrono::milliseconds limit, std::size_t max_body = 1 << 20) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t end = std::string::npos;
    std::size_t total = std::string::npos;
    char chunk[65536];
    while (std::chrono::steady_clock::now() < deadline) {
      if (end == std::string::npos) {
        end = received_.find("\r\n\r\n");
        if (end != std::string::npos) {
          const std::size_t length = ContentLength(received_.substr(0, end));
          total = length > max_body ? end + 4 : end + 4 + length;
        }
      }
      if (total != std::string::npos && received_.size() >= total) {
        std::string answer = received_.substr(0, total);
        received_.erase(0, total);
        return answer;
      }
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) break;
      received_.append(chunk, static_cast<std::size_t>(got));
    }
    return {};
  }

  static std::size_t ContentLength(const std::string& headers) {
    for (const char* name : {"\r\nContent-Length: ", "\r\ncontent-length: "}) {
      const std::size_t at = headers.find(name);
      if (at != std::string::npos) return std::strtoull(headers.c_str() + at + 18, nullptr, 10);
    }
    return 0;
  }

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool closed_ = false;
  std::string received_;
};

// "HTTP/1.1 403 Forbidden\r\n..." -> 403; 0 when it is no answer.
inline int StatusOf(const std::string& answer) {
  if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
  return std::atoi(answer.c_str() + 9);
}

// How many answers a stream of bytes holds.
inline int CountAnswers(const std::string& stream) {
  int count = 0;
  for (std::size_t at = stream.find("HTTP/1."); at != std::string::npos;
       at = stream.find("HTTP/1.", at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace vm316::serve_testing
