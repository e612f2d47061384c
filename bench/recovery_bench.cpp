// quorvex_recovery_bench: how long the library takes to recover when the
// server drops the connection: from the start of the call that meets the
// dropped connection, through its relogin, to the end of the next call that
// works.  A raw-socket client does the same steps against the same peer in
// the same run (write, see the close, reconnect, log in, exchange again):
// that is the floor.  Driven through the public header only.
//
// The peer answers the first two records of every connection (the login and
// one call) and drops the connection when the third arrives, so every round
// is one failing call, one relogin and one call that works.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "median.h"
#include "quorvex.h"

namespace {

using qvbench::Record;
using Clock = std::chrono::steady_clock;

constexpr int32_t kLoginCode = 100;
constexpr int32_t kHeartbeatCode = 105;
constexpr int32_t kAccepted = 900;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kReadTimeoutMs = 5000;
constexpr int kWarmupRounds = 10;
constexpr int kDefaultRounds = 101;

constexpr char kApp[] = "bench";
constexpr char kName[] = "demo";
constexpr char kPwd[] = "demo123";
constexpr char kVer[] = "1.0";

// Answers two records per connection, then closes the connection when the
// third one arrives.  One thread serves every connection, as in the other
// benchmarks, so the library and the floor talk to the same peer thread.
class DroppingResponder {
 public:
  DroppingResponder() {
    int ends[2];
    if (::pipe(ends) != 0) throw std::runtime_error("pipe");
    wake_read_ = qvbench::Socket(ends[0]);
    wake_write_ = qvbench::Socket(ends[1]);
    qvbench::encode_record(reply_, kAccepted, "accepted", "");
    thread_ = std::thread([this] { serve(); });
  }
  ~DroppingResponder() {
    const char stop = 0;
    (void)!::write(wake_write_.fd(), &stop, 1);
    thread_.join();
  }
  DroppingResponder(const DroppingResponder &) = delete;
  DroppingResponder &operator=(const DroppingResponder &) = delete;

  uint16_t port() const { return listener_.port(); }

 private:
  struct Connection {
    qvbench::Socket socket;
    int answered = 0;
  };

  void serve() {
    std::vector<pollfd> watched;
    for (;;) {
      watched.assign({{wake_read_.fd(), POLLIN, 0}, {listener_.fd(), POLLIN, 0}});
      for (const Connection &c : connections_) watched.push_back({c.socket.fd(), POLLIN, 0});
      if (::poll(watched.data(), watched.size(), -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (watched[0].revents) return;
      if (watched[1].revents) {
        qvbench::Socket s(::accept(listener_.fd(), nullptr, nullptr));
        if (s.valid()) connections_.push_back({std::move(s), 0});
      }
      for (std::size_t i = watched.size(); i-- > 2;)
        if (watched[i].revents && !answer(connections_[i - 2]))
          connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i - 2));
    }
  }

  // False when the connection is over: closed by the peer, or dropped here.
  bool answer(Connection &c) {
    Record request;
    if (!qvbench::read_all(c.socket.fd(), request.data(), request.size())) return false;
    if (c.answered == 2) return false;
    ++c.answered;
    return qvbench::write_all(c.socket.fd(), reply_.data(), reply_.size());
  }

  qvbench::LoopbackListener listener_{16};
  qvbench::Socket wake_read_, wake_write_;
  Record reply_{};
  std::vector<Connection> connections_;
  std::thread thread_;
};

// ---------------------------------------------------------------- library

bool library_login() {
  int32_t code = -1;
  char message[QV_BODY_BUFFER_SIZE], p1[QV_PARAM_BUFFER_SIZE], p2[QV_PARAM_BUFFER_SIZE],
      p3[QV_PARAM_BUFFER_SIZE];
  return Login_Request(kApp, "", kName, kPwd, kVer) && Login_Feedback(&code, message, p1, p2, p3) &&
         code == kAccepted;
}

// Connected, logged in and one call made: the next call meets the drop.
bool library_start(uint16_t port) {
  char message[QV_BODY_BUFFER_SIZE] = {};
  if (!TcpConnect(message, "127.0.0.1", port, kConnectTimeoutMs, "", "", 0, "", "")) {
    std::fprintf(stderr, "TcpConnect failed: %s\n", message);
    return false;
  }
  return library_login() && Heartbeat();
}

// The call that meets the dropped connection fails and relogs in; the next
// one works on the new connection.
bool library_round() { return !Heartbeat() && Heartbeat(); }

// ---------------------------------------------------------------- floor

class RawRecovery {
 public:
  explicit RawRecovery(uint16_t port) : port_(port) {
    qvbench::encode_record(login_, kLoginCode, "bench;", kName);
    qvbench::encode_record(heartbeat_, kHeartbeatCode, {}, {});
  }

  bool start() { return reconnect_and_login() && exchange(heartbeat_); }

  bool round() {
    // The request goes out; the answer is the close.
    if (!qvbench::write_all(socket_.fd(), heartbeat_.data(), heartbeat_.size())) return false;
    if (qvbench::read_all(socket_.fd(), reply_.data(), reply_.size())) return false;
    return reconnect_and_login() && exchange(heartbeat_);
  }

 private:
  bool reconnect_and_login() {
    socket_.reset();
    socket_ = qvbench::raw_connect(port_);
    return socket_.valid() && exchange(login_);
  }

  bool exchange(const Record &request) {
    return qvbench::write_all(socket_.fd(), request.data(), request.size()) &&
           qvbench::read_all(socket_.fd(), reply_.data(), reply_.size()) &&
           qvbench::record_code(reply_) == kAccepted;
  }

  uint16_t port_;
  qvbench::Socket socket_;
  Record login_{}, heartbeat_{}, reply_{};
};

template <typename Round>
bool timed(Round &round, std::vector<double> &samples) {
  const auto start = Clock::now();
  const bool ok = round();
  samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;

  DroppingResponder responder;
  dllInitialize();
  SetReadTimeout(kReadTimeoutMs);
  RawRecovery raw(responder.port());
  if (!library_start(responder.port()) || !raw.start()) {
    std::fprintf(stderr, "could not start both clients against the responder\n");
    return 1;
  }

  // Alternating which side goes first, so neither always inherits the
  // other's aftermath on a shared machine.
  std::vector<double> library_us, raw_us, ignored;
  auto library_side = [] { return library_round(); };
  auto raw_side = [&raw] { return raw.round(); };
  for (int i = 0; i < kWarmupRounds + rounds; ++i) {
    const bool keep = i >= kWarmupRounds;
    std::vector<double> &lib = keep ? library_us : ignored;
    std::vector<double> &flo = keep ? raw_us : ignored;
    const bool ok = i % 2 == 0 ? timed(library_side, lib) && timed(raw_side, flo)
                               : timed(raw_side, flo) && timed(library_side, lib);
    if (!ok) {
      std::fprintf(stderr, "round %d did not recover\n", i);
      return 1;
    }
  }
  TcpDisconnect();
  dllUnInitialize();

  const double library = median_of(library_us), floor = median_of(raw_us);
  std::printf("recovery after a drop (median of %d)  library %8.1f us  raw %8.1f us  ratio %.2f\n",
              rounds, library, floor, floor > 0 ? library / floor : 0);
  return 0;
}
