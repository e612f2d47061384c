#include "net_targets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qvtest {

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

int bound_socket(uint16_t &port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in addr = loopback(0);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// Starts a non-blocking connect; true when it completes within the limit.
bool connects(int fd, uint16_t port, int limit_ms) {
  sockaddr_in addr = loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd p{fd, POLLOUT, 0};
  return ::poll(&p, 1, limit_ms) == 1;
}

}  // namespace

UnansweringTarget::UnansweringTarget() {
  listener_ = bound_socket(port_);
  if (::listen(listener_, 0) != 0) {
    close_all();
    throw std::runtime_error("listen");
  }
  // Fill the queue until a connect no longer completes: from then on the
  // kernel drops SYNs for this port.
  for (int i = 0; i < 16; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    fillers_.push_back(fd);
    if (!connects(fd, port_, 200)) return;
  }
  close_all();
  throw std::runtime_error("could not fill the listen queue");
}

UnansweringTarget::~UnansweringTarget() { close_all(); }

void UnansweringTarget::close_all() {
  for (int fd : fillers_) ::close(fd);
  fillers_.clear();
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

RefusingPort::RefusingPort() { fd_ = bound_socket(port_); }

RefusingPort::~RefusingPort() { ::close(fd_); }

}  // namespace qvtest
