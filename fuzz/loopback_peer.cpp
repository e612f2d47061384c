#include "loopback_peer.h"

#include <quorvex.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace qvfuzz {
namespace {

[[noreturn]] void broken(const char *what) {
  std::perror(what);
  std::abort();
}

void send_all(int fd, const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the library closed early
    sent += static_cast<size_t>(n);
  }
}

void reset(int fd) {
  const linger abort_on_close{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  ::close(fd);
}

}  // namespace

LoopbackPeer &LoopbackPeer::get() {
  // Never destroyed: its thread serves until the process ends.
  static LoopbackPeer *peer = new LoopbackPeer;
  return *peer;
}

LoopbackPeer::LoopbackPeer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) broken("socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
    broken("listen");
  port_ = ntohs(a.sin_port);
  std::thread([this] { serve(); }).detach();
}

void LoopbackPeer::arm(std::string reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  reply_ = std::move(reply);
}

std::optional<std::string> LoopbackPeer::take_reply() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::string> reply = std::move(reply_);
  reply_.reset();
  return reply;
}

void LoopbackPeer::serve() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const std::optional<std::string> reply = take_reply();
    if (!reply) {
      reset(fd);
      continue;
    }
    send_all(fd, *reply);
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
    ::close(fd);
  }
}

int initialise_library() {
  dllInitialize();
  SetReadTimeout(5000);
  return 0;
}

}  // namespace qvfuzz
