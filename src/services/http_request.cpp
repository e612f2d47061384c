#include "services/http_request.h"

#include <cstdio>

namespace qv::services {
namespace {

constexpr std::string_view kContentType = "text/html";
constexpr std::string_view kAccept = "text/html, */*";
constexpr std::string_view kUserAgent = "Mozilla/3.0 (compatible; Quorvex)";

bool has_control_character(std::string_view s) {
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return true;
  }
  return false;
}

bool is_http(std::string_view scheme) {
  if (scheme.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i)
    if ((scheme[i] | 0x20) != "http"[i]) return false;
  return true;
}

std::optional<uint16_t> parse_port(std::string_view digits) {
  if (digits.empty()) return 80;
  unsigned value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<uint16_t>(value);
}

// Bytes that cannot stand in a request line as they are.
std::string encoded_target(std::string_view target) {
  std::string out;
  out.reserve(target.size());
  for (const char c : target) {
    const auto u = static_cast<unsigned char>(c);
    if (u == ' ' || u >= 0x80) {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::optional<HttpUrl> parse_http_url(std::string_view url) {
  if (has_control_character(url)) return std::nullopt;
  if (const size_t sep = url.find("://"); sep != std::string_view::npos) {
    if (!is_http(url.substr(0, sep))) return std::nullopt;
    url.remove_prefix(sep + 3);
  }
  if (const size_t hash = url.find('#'); hash != std::string_view::npos) url = url.substr(0, hash);

  const size_t authority_end = url.find_first_of("/?");
  std::string_view authority = url.substr(0, authority_end);
  std::string_view target =
      authority_end == std::string_view::npos ? "" : url.substr(authority_end);
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);

  HttpUrl out;
  std::string_view host, port;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(1, close - 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return std::nullopt;
    if (!rest.empty()) port = rest.substr(1);
  } else {
    const size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (host.empty() || host.find(' ') != std::string_view::npos) return std::nullopt;
  const std::optional<uint16_t> number = parse_port(port);
  if (!number) return std::nullopt;

  out.host = std::string(host);
  out.port = *number;
  const bool bracketed = authority.front() == '[';
  if (bracketed) out.host_header += '[';
  out.host_header += out.host;
  if (bracketed) out.host_header += ']';
  if (out.port != 80) out.host_header.append(":").append(std::to_string(out.port));
  if (target.empty() || target.front() != '/') out.target = '/';
  out.target += encoded_target(target);
  return out;
}

std::string get_request(const HttpUrl &url) {
  std::string request;
  request.reserve(128 + url.target.size() + url.host_header.size());
  const auto header = [&request](std::string_view name, std::string_view value) {
    request.append(name).append(": ").append(value).append("\r\n");
  };
  request.append("GET ").append(url.target).append(" HTTP/1.1\r\n");
  header("Content-Type", kContentType);
  header("Host", url.host_header);
  header("Accept", kAccept);
  header("User-Agent", kUserAgent);
  request.append("\r\n");
  return request;
}

}  // namespace qv::services
