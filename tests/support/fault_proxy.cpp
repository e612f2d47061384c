#include "fault_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qvtest {
namespace {

constexpr std::string_view kGranted = "HTTP/1.1 200 Connection established\r\n\r\n";
constexpr std::string_view kRefused = "HTTP/1.1 502 Cannot connect to 10.1.1.200:9000\r\n\r\n";
constexpr size_t kDrippedBytes = 8;

}  // namespace

const char *FaultProxy::name(int handshake) {
  static const char *const names[] = {"grant", "refuse", "hang", "drip", "cut"};
  return handshake >= 0 && handshake < kHandshakeKinds ? names[handshake] : "?";
}

FaultProxy::FaultProxy(uint16_t upstream_port, int read_timeout_ms,
                       std::function<void(const std::string &)> misuse)
    : upstream_port_(upstream_port),
      timeout_ms_(read_timeout_ms),
      misuse_(std::move(misuse)),
      acceptor_([this](int fd) { serve(fd); }) {}

void FaultProxy::set_faults(std::function<int()> pick) {
  std::lock_guard lock(mutex_);
  pick_ = std::move(pick);
}

std::array<long, FaultProxy::kHandshakeKinds> FaultProxy::counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void FaultProxy::serve(int client) {
  const peer::Stopper &stop = acceptor_.stopper();
  peer::Bytes request;
  while (request.find("\r\n\r\n") == peer::Bytes::npos && request.size() < 8192)
    if (!peer::read_exact(stop, client, 1, request)) break;
  int handshake = kGrant;
  long tunnel = 0;
  if (request.rfind("CONNECT ", 0) == 0 && request.ends_with("\r\n\r\n")) {
    std::lock_guard lock(mutex_);
    tunnel = ++tunnels_;
    if (pick_) handshake = pick_();
    ++counts_[handshake];
  } else {
    handshake = kCut;
  }
  switch (handshake) {
    case kGrant: relay(client); break;
    case kRefuse:
      peer::write_all(client, kRefused);
      watch(client, ("tunnel " + std::to_string(tunnel) + ", refused with 502").c_str());
      break;
    case kHang: stop.wait(client, POLLRDHUP); break;
    case kDrip: {
      size_t i = 0;
      for (; i < kDrippedBytes; ++i)
        if (!peer::write_all(client, kGranted.substr(i, 1)) || !stop.pause(timeout_ms_ / 2)) break;
      if (i == kDrippedBytes && peer::write_all(client, kGranted.substr(i)))
        watch(client, ("tunnel " + std::to_string(tunnel) +
                       ", whose 200 took longer than the read time-out")
                          .c_str());
      break;
    }
    default:
      peer::write_all(client, kGranted.substr(0, static_cast<size_t>(tunnel) % kGranted.size()));
      break;
  }
  ::close(client);
}

// Waits for the client to close; a byte from it first is a misuse.
void FaultProxy::watch(int client, const char *what) {
  if (acceptor_.stopper().wait(client, POLLIN | POLLRDHUP) <= 0) return;
  char byte;
  if (::recv(client, &byte, 1, MSG_PEEK) > 0)
    misuse_(std::string("the client sent bytes through ") + what);
}

void FaultProxy::relay(int client) {
  const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(upstream_port_);
  if (upstream < 0 || ::connect(upstream, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      !peer::write_all(client, kGranted)) {
    if (upstream >= 0) ::close(upstream);
    return;
  }
  // Both directions until either side ends; a reset travels on as a reset.
  pollfd fds[3] = {
      {client, POLLIN, 0}, {upstream, POLLIN, 0}, {acceptor_.stopper().fd(), POLLIN, 0}};
  for (bool open = true; open;) {
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[2].revents) break;
    for (int side = 0; side < 2 && open; ++side) {
      if (!fds[side].revents) continue;
      char chunk[8192];
      const ssize_t got = ::recv(fds[side].fd, chunk, sizeof chunk, 0);
      if (got > 0) {
        open = peer::write_all(fds[1 - side].fd, std::string_view(chunk, static_cast<size_t>(got)));
      } else if (got == 0 || errno != EINTR) {
        if (got < 0 && errno == ECONNRESET) peer::arm_reset(fds[1 - side].fd);
        open = false;
      }
    }
  }
  ::close(upstream);
}

}  // namespace qvtest
