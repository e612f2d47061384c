// The client side of the SOCKS4 and SOCKS5 handshakes, run by SocksHandler
// right after its TCP connect to the proxy.
#include <cstring>
#include <string>

#include "common/fixed_texts.h"
#include "connection/session.h"
#include "connection/socket_errors.h"
#include "trace/trace.h"

namespace qv::connection {
namespace {

using Version = SocksSettings::Version;

[[noreturn]] void fail(std::string_view text) { throw Error(std::string(text)); }

void put_port(std::string &out, int32_t port) {
  out.push_back(static_cast<char>((port >> 8) & 0xff));
  out.push_back(static_cast<char>(port & 0xff));
}

bool is_localhost(const std::string &host) {
  if (host.size() != 9) return false;
  for (size_t i = 0; i < 9; ++i)
    if ((host[i] | 0x20) != "localhost"[i]) return false;
  return true;
}

void socks4(Waits *w, platform::Socket &s, const SocksSettings &settings, const std::string &host,
            int32_t port, Deadline deadline) {
  unsigned char address[4];
  const char *name = is_localhost(host) ? "127.0.0.1" : host.c_str();
  if (const int rc = platform::resolve_ipv4(name, address); rc != 0) throw socket_error(rc);

  trace::event_if_on([&] {
    return "socks4: connect to " + std::string(name) + ":" + std::to_string(port) + " as user " +
           trace::quoted(settings.username);
  });
  std::string request{4, 1};
  put_port(request, port);
  request.append(reinterpret_cast<const char *>(address), 4);
  request.append(settings.username, 0, 255);
  request.push_back('\0');
  send_exact(w, s, request.data(), request.size(), deadline);

  unsigned char reply[8];
  receive_exact(w, s, reply, sizeof reply, deadline, text::kReadTimedOut);
  trace::event_if_on([&] { return "socks4: reply " + std::to_string(reply[1]); });
  switch (reply[1]) {
    case 90: return;
    case 91: fail(text::kSocks4Rejected);
    case 92: fail(text::kSocks4CannotConnect);
    case 93: fail(text::kSocks4UserIdMismatch);
    default: fail(text::kSocksUnknownError);
  }
}

// SOCKS5 receives all report the same text whatever went wrong.
void socks5_receive(Waits *w, platform::Socket &s, void *data, size_t size, Deadline deadline) {
  try {
    receive_exact(w, s, data, size, deadline, text::kSocksNoResponse);
  } catch (const Error &e) {
    if (e.cause() == Cause::Interrupted) throw;
    fail(text::kSocksNoResponse);
  }
}

std::string_view socks5_reply_text(unsigned char code) {
  switch (code) {
    case 1: return text::kSocks5GeneralFailure;
    case 2: return text::kSocks5NotAllowed;
    case 3: return text::kSocks5NetworkUnreachable;
    case 4: return text::kSocks5HostUnreachable;
    case 5: return text::kSocks5Refused;
    case 6: return text::kSocks5TtlExpired;
    case 7: return text::kSocks5CommandNotSupported;
    case 8: return text::kSocks5AddressTypeNotSupported;
    default: return text::kSocksUnknownError;
  }
}

void socks5(Waits *w, platform::Socket &s, const std::string &host, int32_t port,
            Deadline deadline) {
  // The length of the host travels in one byte; refuse before sending.
  if (host.size() > 255) fail(text::kSocks5HostTooLong);

  const unsigned char greeting[3] = {5, 1, 0};
  send_exact(w, s, greeting, sizeof greeting, deadline);
  unsigned char method[2];
  socks5_receive(w, s, method, sizeof method, deadline);
  if (method[1] != 0) fail(text::kSocksBadAuthMethod);

  trace::event_if_on([&] {
    return "socks5: no authentication accepted; connect to " + host + ":" + std::to_string(port);
  });
  std::string request{5, 1, 0, 3};
  request.push_back(static_cast<char>(host.size()));
  request.append(host);
  put_port(request, port);
  send_exact(w, s, request.data(), request.size(), deadline);

  // Version, reply code, reserved, address type and the bound address's
  // first byte.
  unsigned char head[5];
  socks5_receive(w, s, head, sizeof head, deadline);
  trace::event_if_on([&] { return "socks5: reply " + std::to_string(head[1]); });
  if (head[1] != 0) fail(socks5_reply_text(head[1]));

  // The rest of the bound address and the port, so that the next byte read
  // is the server's.
  size_t rest = 0;
  switch (head[3]) {
    case 1: rest = 3 + 2; break;
    case 3: rest = head[4] + 2u; break;
    case 4: rest = 15 + 2; break;
    default: fail(text::kSocks5UnknownAddressType);  // where the server's bytes begin is unknown
  }
  unsigned char skip[257 + 2];
  socks5_receive(w, s, skip, rest, deadline);
}

}  // namespace

void SocksHandler::open(const std::string &host, int32_t port, int32_t timeout) {
  if (settings.version == Version::None) {
    connect_socket(host, port, timeout);
    return;
  }
  if (port < 0 || port > 65535) throw socket_error(10049);
  connect_socket(settings.host, settings.port, timeout);
  // One deadline for the whole handshake, however the proxy splits it.
  const Deadline deadline = handshake_deadline();
  try {
    if (settings.version == Version::Socks5)
      socks5(waits(), socket(), host, port, deadline);
    else
      socks4(waits(), socket(), settings, host, port, deadline);
  } catch (...) {
    close();
    throw;
  }
}

}  // namespace qv::connection
