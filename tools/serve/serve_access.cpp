#include "serve_access.h"

#include <charconv>
#include <random>

namespace vm316::serve {
namespace {

constexpr int kMaxPort = 65535;
constexpr int kHttpPort = 80;
constexpr int kTokenWords = 4;  // 4 x 32 random bits

// Every character of the expected token is compared, whatever the guess and however long it
// is, so that the time taken tells neither how much of a guess matched nor the token's length.
bool SameToken(std::string_view given, std::string_view expected) {
  unsigned difference = given.size() == expected.size() ? 0U : 1U;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const unsigned char guess = i < given.size() ? static_cast<unsigned char>(given[i]) : 0U;
    difference |= guess ^ static_cast<unsigned char>(expected[i]);
  }
  return difference == 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// "name:port", "[v6]:port", or "name" alone (port 80): the name (brackets kept) and the port.
std::optional<std::pair<std::string, int>> SplitHostHeader(std::string_view header) {
  if (header.empty()) return std::nullopt;
  const std::size_t bracket = header.rfind(']');
  const std::size_t colon = header.rfind(':');
  if (colon == std::string_view::npos || (bracket != std::string_view::npos && colon < bracket)) {
    return std::make_pair(Lower(header), kHttpPort);
  }
  int port = 0;
  const std::string_view digits = header.substr(colon + 1);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    return std::nullopt;
  }
  return std::make_pair(Lower(header.substr(0, colon)), port);
}

bool IsIpv6(std::string_view host) {
  return host.find(':') != std::string_view::npos;
}

}  // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<ListenAddress> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return fail("expected ADDR:PORT, e.g. 127.0.0.1:8316");
  std::string_view host = text.substr(0, colon);
  const std::string_view digits = text.substr(colon + 1);
  int port = -1;
  const auto [end, parse_error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || parse_error != std::errc() || end != digits.data() + digits.size() ||
      port < 0 || port > kMaxPort) {
    return fail("the port must be a number from 0 to 65535");
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (IsIpv6(host)) {
    return fail("write an IPv6 address in brackets: [::1]:8316");
  }
  ListenAddress address;
  address.host = host.empty() ? "127.0.0.1" : std::string(host);
  address.port = port;
  return address;
}

bool IsLoopback(std::string_view host) {
  const std::string lower = Lower(host);
  return lower == "localhost" || lower == "::1" || lower.starts_with("127.");
}

bool IsWildcard(std::string_view host) {
  return host == "0.0.0.0" || host == "::";
}

std::string GenerateToken() {
  std::random_device source;  // the system's random source, not a seeded generator
  std::string token;
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int word = 0; word < kTokenWords; ++word) {
    std::uint32_t bits = source();
    for (int nibble = 0; nibble < 8; ++nibble, bits >>= 4) token += kDigits[bits & 0xF];
  }
  return token;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kDigits[byte >> 4];
      encoded += kDigits[byte & 0xF];
    }
  }
  return encoded;
}

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int high = text[i] == '%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string UrlHost(const ListenAddress& address, int bound_port) {
  std::string host = IsWildcard(address.host) ? "127.0.0.1" : address.host;
  if (IsIpv6(host)) host = "[" + host + "]";
  return host + ":" + std::to_string(bound_port);
}

std::string RefusalReason(const ListenAddress& address, int bound_port,
                          std::string_view expected_token, const RequestFacts& request) {
  const auto host = SplitHostHeader(request.host_header);
  if (!host || host->second != bound_port) return "the Host header does not name this server";
  if (!IsWildcard(address.host)) {
    // A page from another site that made its name resolve to this machine still sends its own
    // name: only the names of the listening address pass.
    std::string listening = Lower(address.host);
    if (IsIpv6(listening)) listening = "[" + listening + "]";
    const bool loopback_alias =
        IsLoopback(address.host) &&
        (host->first == "localhost" || host->first == "127.0.0.1" || host->first == "[::1]");
    if (host->first != listening && !loopback_alias) {
      return "the Host header does not name this server";
    }
  }
  if (!request.origin_header.empty() &&
      Lower(request.origin_header) != "http://" + Lower(request.host_header)) {
    return "requests from other sites' pages are not served";
  }
  if (request.changes_state && !request.has_panel_header) {
    return "settings are changed only by the panel's own page";
  }
  if (!expected_token.empty() && !SameToken(request.token, expected_token)) {
    return "a valid token is required (the one vm316 serve printed)";
  }
  return {};
}

}  // namespace vm316::serve
