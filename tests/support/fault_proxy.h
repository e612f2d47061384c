// An HTTP CONNECT proxy on loopback that relays every tunnel to one
// upstream port, and that a seeded picker makes misbehave in its handshake:
// refuse the tunnel, stall, drip its reply or close.  A client that sends
// bytes after a refusal, or after a reply that took longer than its read
// time-out, took a tunnel it should not have: the proxy reports it as a
// misuse, from its own thread, as soon as the byte arrives.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <string>

#include "tagging_server.h"

namespace qvtest {

class FaultProxy {
 public:
  enum Handshake : int {
    kGrant,   // 200, then the relay
    kRefuse,  // 502, then watch whether the client writes anyway
    kHang,    // no reply; silent until the client closes
    kDrip,    // the 200 reply a byte per half time-out, then watch as for kRefuse
    kCut,     // part of the 200 reply, then a close
    kHandshakeKinds
  };
  static const char *name(int handshake);

  FaultProxy(uint16_t upstream_port, int read_timeout_ms,
             std::function<void(const std::string &)> misuse);

  uint16_t port() const { return acceptor_.port(); }
  // Chooses the handshake of every later tunnel; empty: all granted.
  void set_faults(std::function<int()> pick);
  std::array<long, kHandshakeKinds> counts() const;

 private:
  void serve(int client);
  void relay(int client);
  void watch(int client, const char *what);

  const uint16_t upstream_port_;
  const int timeout_ms_;
  mutable std::mutex mutex_;
  std::function<int()> pick_;
  long tunnels_ = 0;
  std::array<long, kHandshakeKinds> counts_{};
  const std::function<void(const std::string &)> misuse_;
  peer::Acceptor acceptor_;  // last: its threads end before the rest goes
};

}  // namespace qvtest
