// The simulator's sockets and stop requests on Windows: Winsock 2 and the
// console's control events.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>

#include "sim_os.h"

namespace qv::sim::os {

namespace {

SOCKET socket_of(Socket s) { return static_cast<SOCKET>(s); }

std::system_error socket_error(const char *what) {
  return std::system_error(::WSAGetLastError(), std::system_category(), what);
}

void network_startup() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

struct StopRequest {
  std::mutex mu;
  std::condition_variable cv;
  bool requested = false;
};

StopRequest &stop_request() {
  static StopRequest request;
  return request;
}

BOOL WINAPI on_console_event(DWORD) {
  StopRequest &r = stop_request();
  {
    std::lock_guard lock(r.mu);
    r.requested = true;
  }
  r.cv.notify_all();
  return TRUE;
}

}  // namespace

Socket listen_on_loopback(uint16_t port) {
  network_startup();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw socket_error("socket");
  // Without SO_REUSEADDR, which on Windows would let another program take
  // the port over; TIME_WAIT does not keep a listener from binding here.
  const sockaddr_in addr = loopback(port);
  if (::bind(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(s, SOMAXCONN) != 0) {
    const auto error = socket_error("bind 127.0.0.1");
    ::closesocket(s);
    throw error;
  }
  return static_cast<Socket>(s);
}

uint16_t bound_port(Socket listener) {
  sockaddr_in addr{};
  int len = sizeof addr;
  ::getsockname(socket_of(listener), reinterpret_cast<sockaddr *>(&addr), &len);
  return ntohs(addr.sin_port);
}

Socket accept_connection(Socket listener, bool &transient, std::string &why) {
  const SOCKET s = ::accept(socket_of(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    const int error = ::WSAGetLastError();
    transient =
        error == WSAECONNRESET || error == WSAEINTR || error == WSAEMFILE || error == WSAENOBUFS;
    why = std::system_category().message(error);
    return kNoSocket;
  }
  const BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
  return static_cast<Socket>(s);
}

// Nothing ends a blocked accept() on Windows but a connection or closing
// the listener under it, which could close a socket that reused its
// handle; a connection of our own wakes it, and waits in the backlog if
// the accepting thread is busy.
void wake_accept(Socket, uint16_t port) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  const sockaddr_in addr = loopback(port);
  // A loopback connect to a listening socket fails only for want of
  // resources, which would leave nothing else to wake accept() either.
  (void)::connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
  ::closesocket(s);
}

std::string peer_address(Socket s) {
  sockaddr_in addr{};
  int len = sizeof addr;
  if (::getpeername(socket_of(s), reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
      addr.sin_family != AF_INET)
    return {};
  const auto a = ntohl(addr.sin_addr.s_addr);
  return std::to_string(a >> 24) + '.' + std::to_string(a >> 16 & 255) + '.' +
         std::to_string(a >> 8 & 255) + '.' + std::to_string(a & 255);
}

void set_idle_timeout(Socket s, uint32_t ms) {
  const DWORD wait = ms;
  ::setsockopt(socket_of(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&wait),
               sizeof wait);
  ::setsockopt(socket_of(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&wait),
               sizeof wait);
}

bool read_exactly(Socket s, unsigned char *to, std::size_t n, bool *idle) {
  if (idle) *idle = false;
  while (n > 0) {
    const int chunk = n > 0x10000 ? 0x10000 : static_cast<int>(n);
    const int got = ::recv(socket_of(s), reinterpret_cast<char *>(to), chunk, 0);
    if (got < 0 && idle) *idle = ::WSAGetLastError() == WSAETIMEDOUT;
    if (got <= 0) return false;
    to += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool write_all(Socket s, const unsigned char *from, std::size_t n) {
  while (n > 0) {
    const int chunk = n > 0x10000 ? 0x10000 : static_cast<int>(n);
    const int sent = ::send(socket_of(s), reinterpret_cast<const char *>(from), chunk, 0);
    if (sent <= 0) return false;
    from += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

void close_gracefully(Socket s) {
  ::shutdown(socket_of(s), SD_SEND);
  char sink[4096];
  while (::recv(socket_of(s), sink, sizeof sink, 0) > 0) {
  }
}

// A shutdown fails every later recv, but does not end one that another
// thread is blocked in; cancelling the socket's outstanding I/O does.
void interrupt(Socket s) {
  ::shutdown(socket_of(s), SD_BOTH);
  ::CancelIoEx(reinterpret_cast<HANDLE>(socket_of(s)), nullptr);
}

void close_socket(Socket s) { ::closesocket(socket_of(s)); }

void stop_on_request() { ::SetConsoleCtrlHandler(on_console_event, TRUE); }

void wait_for_stop_request() {
  StopRequest &r = stop_request();
  std::unique_lock lock(r.mu);
  r.cv.wait(lock, [&r] { return r.requested; });
}

}  // namespace qv::sim::os
