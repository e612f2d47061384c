// Several host threads on the one connection: calls are serialised, so no
// record is ever misframed, and a disconnect from another thread frees a
// call blocked in a read instead of waiting behind it.
#include <quorvex.h>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.h"
#include "net_targets.h"
#include "record_bytes.h"
#include "simulator.h"

namespace {

using namespace qvtest;
using Clock = std::chrono::steady_clock;

struct Buffers {
  char msg[QV_BODY_BUFFER_SIZE];
  char p1[QV_PARAM_BUFFER_SIZE], p2[QV_PARAM_BUFFER_SIZE], p3[QV_PARAM_BUFFER_SIZE];
  int32_t code;
};

bool connect_and_login(uint16_t port) {
  char msg[QV_BODY_BUFFER_SIZE];
  Buffers b;
  return TcpConnect(msg, "127.0.0.1", port, 5000, "", "", 0, "", "") &&
         Login_Request("stress", "", "demo", "demo123", "1.0") &&
         Login_Feedback(&b.code, b.msg, b.p1, b.p2, b.p3) && b.code == QV_CODE_ACCEPTED;
}

// Each call's answer is one only its own request gets, so an answer read by
// the wrong call, or a record read half-way, shows up as a mismatch.
TEST(Threads, MixedCallsFromSeveralThreadsNeverMisframe) {
  qv::sim::Simulator sim;
  const uint16_t port = sim.start(0);
  ASSERT_TRUE(dllInitialize());
  ASSERT_TRUE(SetReadTimeout(2000));  // a misframed stream fails soon instead of hanging
  ASSERT_TRUE(connect_and_login(port));

  std::atomic<int> wrong{0}, failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([t, &wrong, &failed] {
      Buffers b;
      for (int i = 0; i < 150; ++i) {
        switch ((t + i) % 4) {
          case 0:
            if (!Heartbeat()) ++failed;
            break;
          case 1:
            if (!MMSMaxSize(&b.code, b.msg, b.p1, "size", "B"))
              ++failed;
            else if (b.code != 900 || std::strcmp(b.msg, "102400") != 0 ||
                     std::strcmp(b.p1, "B") != 0)
              ++wrong;
            break;
          case 2:
            if (!MMSMaxSize(&b.code, b.msg, b.p1, "size", "KB"))
              ++failed;
            else if (b.code != 900 || std::strcmp(b.msg, "100") != 0 ||
                     std::strcmp(b.p1, "KB") != 0)
              ++wrong;
            break;
          case 3:
            if (!GetUdInfo(&b.code, b.msg, b.p1, b.p2, b.p3))
              ++failed;
            else if (b.code != 900 || std::strcmp(b.p1, "10001") != 0)
              ++wrong;
            break;
        }
      }
    });
  }
  for (std::thread &th : threads) th.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(sim.connections_accepted(), 1u);  // no failure, so no relogin
  EXPECT_TRUE(TcpDisconnect());
  EXPECT_TRUE(dllUnInitialize());
}

// The Detail of the calling thread's last call.
std::string last_detail() {
  char detail[QV_DETAIL_BUFFER_SIZE] = {};
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, detail, sizeof detail);
  return detail;
}

TEST(Threads, DisconnectFromAnotherThreadFreesABlockedRead) {
  LoopbackServer server;
  server.on(0, Script().expect(rec::kSize).stall());  // the heartbeat is never answered
  ASSERT_TRUE(dllInitialize());
  ASSERT_TRUE(SetReadTimeout(0));  // without the disconnect the read would wait for ever
  char msg[QV_BODY_BUFFER_SIZE];
  ASSERT_TRUE(TcpConnect(msg, "127.0.0.1", server.port(), 5000, "", "", 0, "", ""));

  std::atomic<int> result{-1};
  std::string detail;
  std::thread blocked([&] {
    result = Heartbeat();
    detail = last_detail();
  });
  ASSERT_TRUE(server.wait_done(0));  // the heartbeat has arrived: the call is in its read
  const auto start = Clock::now();
  EXPECT_TRUE(TcpDisconnect());
  blocked.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ("Disconnected by the host.", detail);
  // The failed call did not reconnect behind the host's back.
  EXPECT_EQ(server.accepted(), 1u);
  SetReadTimeout(200);
  int32_t code = 0;
  EXPECT_FALSE(NumRule(&code, msg));  // still disconnected; its own relogin may reconnect now
  EXPECT_TRUE(dllUnInitialize());
}

// A disconnect from another thread ends a call blocked in a connect (direct
// without a time-out, or to an HTTP proxy, which connects without one) or
// in a write to a server that reads nothing, within a few tens of
// milliseconds; the read case is above.
TEST(Threads, DisconnectFromAnotherThreadEndsABlockedConnectOrWrite) {
  UnansweringTarget silent;
  LoopbackServer deaf;
  deaf.on(0, Script().expect(16).stall());  // the header read: the write has begun
  const std::string huge(32 * 1024 * 1024, 'a');
  struct Case {
    const char *name;
    std::function<qv_bool()> call;
    bool call_writes = false;
  };
  const Case cases[] = {
      {"direct connect",
       [&] {
         char msg[QV_BODY_BUFFER_SIZE];
         return TcpConnect(msg, "127.0.0.1", silent.port(), -2, "", "", 0, "", "");
       }},
      {"connect to an HTTP proxy",
       [&] {
         char msg[QV_BODY_BUFFER_SIZE];
         return TcpConnect(msg, "127.0.0.1", 9, 0, "http", "127.0.0.1", silent.port(), "", "");
       }},
      {"write",
       [&] {
         char msg[QV_BODY_BUFFER_SIZE];
         int32_t code = 0, length = 0;
         return fxTcpConnect(msg, "127.0.0.1", deaf.port(), 2000, "", "", 0, "", "") &&
                fxLogin_Req(&code, &length, huge.c_str(), "", "n", "p", "v");
       },
       true},
  };
  ASSERT_TRUE(dllInitialize());
  ASSERT_TRUE(SetReadTimeout(0));  // nothing but the disconnect ends these waits
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int> result{-1};
    std::string detail;
    std::thread blocked([&] {
      const int ended = c.call();
      detail = last_detail();
      result = ended;
    });
    // Nothing signals that a connect has started to wait, and a disconnect
    // that lands before the call begins is left to the next, so after a
    // moment the disconnect is repeated until the call has returned.  The
    // write's call builds its 32 MiB request first, which a sanitizer build
    // on a loaded machine can take longer than that moment to do, so it is
    // awaited until the server has read the request's header.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (c.call_writes) deaf.wait_done(0, std::chrono::seconds(30));
    EXPECT_EQ(-1, result.load());
    const auto start = Clock::now();
    while (result.load() == -1) {
      EXPECT_TRUE(TcpDisconnect());
      if (result.load() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    blocked.join();
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::printf("%s: ended %lld ms after the disconnect\n", c.name, static_cast<long long>(took));
    EXPECT_LT(took, 300);
    EXPECT_EQ(0, result.load());
    EXPECT_EQ("Disconnected by the host.", detail) << "the failed call says who ended it";
  }
  EXPECT_TRUE(dllUnInitialize());
}

// The simulator out of descriptors: connections wait in its backlog, and
// once descriptors come free it accepts them again instead of stopping for
// good.  Each client then gets its Heartbeat answered.
TEST(SimulatorAccept, TakesConnectionsAgainOnceDescriptorsComeFree) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' runtimes open descriptors of their own (UBSan's checks
  // of an object's type open a pipe), which the lowered limit denies them.
  GTEST_SKIP() << "the descriptor limit is lowered for the whole process";
#endif
  qv::sim::Simulator sim;
  const uint16_t port = sim.start();
  std::vector<int> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  // The lowest free descriptor: with the limit just above it, the next
  // accept succeeds and the one after fails for want of a descriptor.
  const int lowest = ::dup(clients[0]);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(lowest) + 1;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int c : clients) EXPECT_EQ(::connect(c, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // its accepts fail meanwhile
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
  const timeval wait{5, 0};
  const Bytes heartbeat = rec::make(105);
  for (int c : clients) {
    ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ASSERT_EQ(::send(c, heartbeat.data(), heartbeat.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(heartbeat.size()));
    std::string answer(rec::kSize, '\0');
    size_t got = 0;
    while (got < answer.size()) {
      const ssize_t n = ::recv(c, answer.data() + got, answer.size() - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    EXPECT_EQ(got, rec::kSize) << "client " << c;
    ::close(c);
  }
}

// Connection limits of the simulator.
namespace limits {

// A socket connected to the simulator from the loopback address `from`
// (any of 127.0.0.0/8 is this host), with reads that wait at most 5 s.
int connect_from(const char *from, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &at.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval wait{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0)
    ADD_FAILURE() << "cannot connect from " << from << ": " << std::strerror(errno);
  return fd;
}

bool heartbeat(int fd) {
  const Bytes request = rec::make(105);
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size()))
    return false;
  std::string answer(rec::kSize, '\0');
  for (size_t got = 0; got < answer.size();) {
    const ssize_t n = ::recv(fd, answer.data() + got, answer.size() - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// The simulator closed the connection: its end arrives within the wait.
bool closed_by_server(int fd) {
  char byte;
  return ::recv(fd, &byte, 1, 0) == 0;
}

// One peer opens many connections and sends nothing, with so few
// descriptors left that it could take them all: beyond its cap each is
// closed at once, and another peer is still served.
TEST(SimulatorLimits, APeerHoldingIdleConnectionsStallsNoOther) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the descriptor limit is lowered for the whole process";
#endif
  qv::sim::Options options;
  options.max_per_peer = 4;
  qv::sim::Simulator sim(options);
  const uint16_t port = sim.start();
  const int lowest = ::dup(0);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  // The peer's connections and the other's, made before the limit drops.
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  std::vector<int> hog;
  for (int i = 0; i < 16; ++i) hog.push_back(connect_from("127.0.0.2", port));
  // Beyond the 17 clients, descriptors for the peer's four, the other's one
  // and one to refuse with: without the cap the peer would take them all.
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(lowest) + 17 + 6;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  const int other = connect_from("127.0.0.1", port);
  EXPECT_TRUE(heartbeat(other)) << "the other peer is served";
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
  for (size_t i = 0; i < hog.size(); ++i) {
    if (i < 4)
      EXPECT_TRUE(heartbeat(hog[i])) << i;
    else
      EXPECT_TRUE(closed_by_server(hog[i])) << i;
  }
  EXPECT_EQ(sim.connections_refused(), 12u);
  for (int fd : hog) ::close(fd);
  ::close(other);
}

// A connection that sends nothing for the idle time-out is closed; one
// that pauses less between its requests is kept however long it lasts.
TEST(SimulatorLimits, DropsAConnectionThatSendsNothing) {
  qv::sim::Options options;
  options.idle_timeout = std::chrono::milliseconds(300);
  qv::sim::Simulator sim(options);
  const uint16_t port = sim.start();
  const auto start = Clock::now();
  const int quiet = connect_from("127.0.0.1", port);
  const int busy = connect_from("127.0.0.1", port);
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(heartbeat(busy)) << i;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(closed_by_server(quiet));
  const auto quiet_for = Clock::now() - start;
  EXPECT_GE(quiet_for, std::chrono::milliseconds(290));
  EXPECT_LT(quiet_for, std::chrono::seconds(3));
  EXPECT_TRUE(heartbeat(busy)) << "still served after twice the time-out";
  EXPECT_TRUE(closed_by_server(busy)) << "once silent, closed too";
  ::close(quiet);
  ::close(busy);
}

}  // namespace limits

}  // namespace
