// The simulator's sockets and stop requests on POSIX systems.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "sim_os.h"

namespace qv::sim::os {

namespace {

int fd_of(Socket s) { return static_cast<int>(s); }

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

Socket listen_on_loopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    const std::system_error error(errno, std::generic_category(), "bind 127.0.0.1");
    ::close(fd);
    throw error;
  }
  return fd;
}

uint16_t bound_port(Socket listener) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(fd_of(listener), reinterpret_cast<sockaddr *>(&addr), &len);
  return ntohs(addr.sin_port);
}

Socket accept_connection(Socket listener, bool &transient, std::string &why) {
  const int fd = ::accept4(fd_of(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    transient = error == EINTR || error == ECONNABORTED || error == EMFILE || error == ENFILE ||
                error == ENOBUFS || error == ENOMEM;
    why = std::strerror(error);
    return kNoSocket;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Shutting a listening socket down wakes accept() and fails every later one.
void wake_accept(Socket listener, uint16_t) { ::shutdown(fd_of(listener), SHUT_RDWR); }

std::string peer_address(Socket s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  char text[INET_ADDRSTRLEN] = {};
  if (::getpeername(fd_of(s), reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
      addr.sin_family != AF_INET || !::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text))
    return {};
  return text;
}

void set_idle_timeout(Socket s, uint32_t ms) {
  const timeval wait{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  ::setsockopt(fd_of(s), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  ::setsockopt(fd_of(s), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
}

bool read_exactly(Socket s, unsigned char *to, std::size_t n, bool *idle) {
  if (idle) *idle = false;
  while (n > 0) {
    const ssize_t got = ::recv(fd_of(s), to, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && idle) *idle = errno == EAGAIN || errno == EWOULDBLOCK;
    if (got <= 0) return false;
    to += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool write_all(Socket s, const unsigned char *from, std::size_t n) {
  while (n > 0) {
    const ssize_t sent = ::send(fd_of(s), from, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    from += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

void close_gracefully(Socket s) {
  ::shutdown(fd_of(s), SHUT_WR);
  unsigned char sink[4096];
  for (;;) {
    const ssize_t got = ::recv(fd_of(s), sink, sizeof sink, 0);
    if (got == 0 || (got < 0 && errno != EINTR)) return;
  }
}

void interrupt(Socket s) { ::shutdown(fd_of(s), SHUT_RDWR); }

void close_socket(Socket s) { ::close(fd_of(s)); }

// Blocked in every thread, the stop signals wait for sigwait().
void stop_on_request() {
  const sigset_t set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void wait_for_stop_request() {
  const sigset_t set = stop_signals();
  int signal = 0;
  sigwait(&set, &signal);
}

}  // namespace qv::sim::os
