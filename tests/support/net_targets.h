// Loopback addresses that fail in a known way, for connect tests.
#pragma once

#include <cstdint>
#include <vector>

namespace qvtest {

// A port on 127.0.0.1 that answers no connect: it listens with a backlog of
// 0 and its one queue slot is taken by a connection that is never accepted,
// so further SYNs are dropped and a connect hangs until its own time-out.
class UnansweringTarget {
 public:
  UnansweringTarget();
  ~UnansweringTarget();
  UnansweringTarget(const UnansweringTarget &) = delete;
  UnansweringTarget &operator=(const UnansweringTarget &) = delete;
  uint16_t port() const { return port_; }

 private:
  void close_all();
  int listener_ = -1;
  std::vector<int> fillers_;
  uint16_t port_ = 0;
};

// A port on 127.0.0.1 that refuses connects: bound but never listening, so
// nothing else can take it while the object lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort &) = delete;
  RefusingPort &operator=(const RefusingPort &) = delete;
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A host name that never resolves (the .invalid domain is reserved for that).
inline constexpr const char *kUnresolvableHost = "quorvex-test-host.invalid";

}  // namespace qvtest
