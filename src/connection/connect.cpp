#include "connection/connect.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/fixed_texts.h"
#include "connection/socket_errors.h"

namespace qv::connection {
namespace {

enum class Path { Direct, Socks, Http };

Path select_path(const std::string &kind) {
  std::string lower = kind;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  if (lower == "socks4" || lower == "socks5") return Path::Socks;
  if (lower == "http") return Path::Http;
  return Path::Direct;
}

std::string_view failure_prefix(Path path) {
  switch (path) {
    case Path::Socks: return text::kSocksProxyFailed.gbk;
    case Path::Http: return text::kHttpProxyFailed.gbk;
    case Path::Direct: break;
  }
  return text::kDirectConnectFailed.gbk;
}

bool direct_path(TcpClient &tcp, Protocol protocol, const MessageBuffer &message,
                 const ConnectionSettings &args) {
  tcp.set_target(args.host, args.port);
  tcp.attach(nullptr);
  try {
    tcp.connect(args.timeout);
  } catch (const Error &e) {
    message.write(text::kDirectConnectFailed.gbk, e.text());
    return false;
  }
  if (protocol == Protocol::Xml) message.write(text::kTcpConnected.gbk);
  return true;
}

}  // namespace

void MessageBuffer::write(std::string_view first, std::string_view second) const {
  if (!data || capacity == 0) return;
  size_t room = capacity - 1;
  const size_t a = std::min(first.size(), room);
  std::memcpy(data, first.data(), a);
  room -= a;
  const size_t b = std::min(second.size(), room);
  std::memcpy(data + a, second.data(), b);
  data[a + b] = '\0';
}

bool connect(Protocol protocol, const MessageBuffer &message, const ConnectionSettings &args) {
  ClientContext &c = context();
  const Path path = select_path(args.proxy_kind);
  if (!c.tcp_client) {
    message.write(failure_prefix(path), text::kNotInitialized);
    return false;
  }
  TcpClient &tcp = *c.tcp_client;

  bool ok = false;
  switch (path) {
    case Path::Direct:
      ok = direct_path(tcp, protocol, message, args);
      break;
    case Path::Socks:
    case Path::Http:
      message.write(failure_prefix(path), text::kProxyUnavailable);
      return false;
  }
  if (!ok || !tcp.connected()) return false;

  // The final step: only a connect that worked is remembered for relogins.
  if (protocol == Protocol::Record) message.write(text::kTcpConnected.gbk);
  if (&args != &c.connection_settings) c.connection_settings = args;
  return true;
}

}  // namespace qv::connection
