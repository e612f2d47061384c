#include "connection/connect.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/fixed_texts.h"
#include "connection/http_proxy.h"
#include "connection/socket_errors.h"
#include "trace/trace.h"

namespace qv::connection {
namespace {

enum class Route { Direct, Socks, Http };

std::string ascii_lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  return s;
}

Route select_path(const std::string &kind) {
  const std::string lower = ascii_lower(kind);
  if (lower == "socks4" || lower == "socks5") return Route::Socks;
  if (lower == "http") return Route::Http;
  return Route::Direct;
}

SocksSettings::Version select_socks_version(const std::string &kind) {
  return ascii_lower(kind) == "socks5" ? SocksSettings::Version::Socks5
                                       : SocksSettings::Version::Socks4;
}

connection::Path login_path(Route path, const std::string &kind) {
  switch (path) {
    case Route::Socks:
      return select_socks_version(kind) == SocksSettings::Version::Socks5
                 ? connection::Path::Socks5
                 : connection::Path::Socks4;
    case Route::Http: return connection::Path::Http;
    case Route::Direct: break;
  }
  return connection::Path::Direct;
}

std::string_view failure_prefix(Route path) {
  switch (path) {
    case Route::Socks: return text::kSocksProxyFailed.gbk;
    case Route::Http: return text::kHttpProxyFailed.gbk;
    case Route::Direct: break;
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
    note_connect_error(e);
    message.write(text::kDirectConnectFailed.gbk, e.text());
    return false;
  }
  if (protocol == Protocol::Xml) message.write(text::kTcpConnected.gbk);
  return true;
}

bool socks_path(Session &session, Protocol, const MessageBuffer &message,
                const ConnectionSettings &args) {
  SocksSettings &s = *session.socks_settings;
  s.host = args.proxy_host;
  s.port = args.proxy_port;
  s.username = args.proxy_user;
  s.password = args.proxy_password;
  s.version = select_socks_version(args.proxy_kind);

  TcpClient &tcp = *session.tcp_client;
  session.socks_handler->settings = s;
  tcp.attach(session.socks_handler.get());
  tcp.set_target(args.host, args.port);
  try {
    tcp.connect(args.timeout);
  } catch (const Error &e) {
    note_connect_error(e);
    message.write(text::kSocksProxyFailed.gbk, e.text());
    return false;
  }
  return true;
}

// "connect record direct 127.0.0.1:9000 (time-out 5000 ms)", the proxy's
// password masked.
std::string connect_line(Protocol protocol, Route path, const ConnectionSettings &args) {
  std::string line = std::string("connect ") + (protocol == Protocol::Record ? "record" : "xml") +
                     " to " + args.host + ":" + std::to_string(args.port) + " (time-out " +
                     std::to_string(args.timeout) + " ms)";
  if (path != Route::Direct)
    line += " through " + ascii_lower(args.proxy_kind) + " proxy " + args.proxy_host + ":" +
            std::to_string(args.proxy_port) + " user " + trace::quoted(args.proxy_user) +
            " password " + std::string(trace::kMasked);
  return line;
}

}  // namespace

void MessageBuffer::write(std::string_view first, std::string_view second) const {
  if (!data || capacity == 0) return;
  size_t room = capacity - 1;
  const size_t a = std::min(first.size(), room);
  if (a) std::memcpy(data, first.data(), a);
  room -= a;
  const size_t b = std::min(second.size(), room);
  if (b) std::memcpy(data + a, second.data(), b);
  data[a + b] = '\0';
}

bool connect(Session &session, Protocol protocol, const MessageBuffer &message,
             const ConnectionSettings &args) {
  const Route path = select_path(args.proxy_kind);
  clear_connect_error();
  if (session.disconnect_requested()) {
    // Another thread is disconnecting or destroying the session: a connect
    // queued behind it opens nothing.
    note_connect_error(interrupted());
    message.write(failure_prefix(path), text::kDisconnectedByHost);
    return false;
  }
  if (!session.tcp_client) {
    note_connect_error(not_initialised(text::kNotInitialized));
    message.write(failure_prefix(path), text::kNotInitialized);
    return false;
  }
  TcpClient &tcp = *session.tcp_client;

  const int64_t start = trace::on() ? trace::now_us() : 0;
  trace::event_if_on([&] { return connect_line(protocol, path, args); });
  bool ok = false;
  switch (path) {
    case Route::Direct: ok = direct_path(tcp, protocol, message, args); break;
    case Route::Socks: ok = socks_path(session, protocol, message, args); break;
    case Route::Http: ok = http_proxy_path(tcp, protocol, message, args); break;
  }
  if (!ok || !tcp.connected()) {
    // The earlier connection and its login go with a failed attempt, unless
    // it is still the one open (a connect over it is refused).
    if (tcp.generation() != session.login_state.connection || !tcp.connected())
      session.login_state = {};
    trace::event_if_on([&] {
      const std::optional<Error> e = last_connect_error();
      return "connect failed in " + trace::elapsed_since(start) + ": " +
             (e ? e->text() : std::string("?"));
    });
    return false;
  }
  trace::event_if_on([&] { return "connected in " + trace::elapsed_since(start); });
  session.login_state = {login_path(path, args.proxy_kind), LoginProtocol::None, -1, false,
                         tcp.generation()};

  // The final step: only a connect that worked is remembered for relogins.
  if (protocol == Protocol::Record) message.write(text::kTcpConnected.gbk);
  if (&args != &session.connection_settings) session.connection_settings = args;
  return true;
}

MessageBuffer reconnect_message(Session &session) {
  return {session.reconnect_message ? session.reconnect_message->data() : nullptr,
          kReconnectMessageSize};
}

bool reconnect(Session &session, Protocol protocol) {
  if (session.disconnect_requested()) return false;  // the host is closing the connection
  trace::event_if_on([] { return "relogin: reconnecting with the saved settings"; });
  if (!session.disconnect()) {
    const Error e = not_initialised(text::kNotInitialized);
    relogin_connect_failed(&e);
    return false;
  }
  // A copy: a successful connect stores its arguments over the saved ones.
  const ConnectionSettings settings = session.connection_settings;
  if (connect(session, protocol, reconnect_message(session), settings)) return true;
  const std::optional<Error> e = last_connect_error();
  relogin_connect_failed(e ? &*e : nullptr);
  return false;
}

}  // namespace qv::connection
