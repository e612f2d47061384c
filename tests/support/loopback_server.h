// A scriptable TCP server on 127.0.0.1 for tests.  It speaks bytes, not
// records, so that every protocol of the library can be scripted with it.
//
// A test gives one Script per accepted connection, by the order in which the
// connections arrive (0, 1, 2...), before it makes the library connect:
//
//   LoopbackServer server;
//   server.on(0, Script().expect(rec::kSize).close());            // fails
//   server.on(1, Script().expect(login).send(rec::make(900)));     // relogin
//   ... call the library ...
//   ASSERT_TRUE(server.wait_done(1));
//   EXPECT_EQ(rec::code(server.captured(0, 0)), 105);
//
// A connection without a script, and every connection after its script has
// ended without closing, is drained: what it receives is recorded until the
// peer closes it or the server stops.  Mismatches and short reads are
// collected in problems(), never thrown, so that a test reports them all.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

using Bytes = std::string;
using Millis = std::chrono::milliseconds;

// How long a test waits for the server by default before it gives up.
inline constexpr Millis kWaitLimit{5000};

class Script {
 public:
  // Reads exactly n bytes; they are kept as the next captured block.
  Script &expect(size_t n);
  // Reads as many bytes as `exact` holds and reports a problem if they differ.
  Script &expect(Bytes exact);
  // Reads until `delimiter` has arrived (for line-based protocols).
  Script &expect_until(Bytes delimiter);
  // Sends the bytes in one write.
  Script &send(Bytes bytes);
  // Sends several blocks (two records, say) in a single write.
  Script &send_at_once(const std::vector<Bytes> &blocks);
  // Sends n filler bytes, more than any reader asked for.
  Script &send_flood(size_t n, char fill = 'x');
  // Closes the connection normally (FIN).
  Script &close();
  // Aborts the connection: SO_LINGER 0, then close, so the peer gets a reset.
  Script &reset();
  // Holds the connection open and silent, reading nothing, until the server
  // stops or the peer closes; the script ends there.
  Script &stall();
  // Holds it silent for the given time, then goes on with the script.
  Script &stall(Millis duration);

 private:
  friend class LoopbackServer;
  enum class Kind { Expect, ExpectExact, ExpectUntil, Send, Close, Reset, Stall };
  struct Step {
    Kind kind;
    Bytes bytes;
    size_t count = 0;
    Millis duration{-1};  // -1: until the server stops
  };
  std::vector<Step> steps_;
};

class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer &) = delete;
  LoopbackServer &operator=(const LoopbackServer &) = delete;

  uint16_t port() const { return port_; }

  // Sets the script of the connection with this index; call it before that
  // connection arrives.
  void on(size_t connection, Script script);

  // Number of connections accepted so far.
  size_t accepted() const;
  // Waits until at least n connections have been accepted.
  bool wait_accepted(size_t n, Millis limit = kWaitLimit) const;
  // Waits until the connection's script has run to its end (or broke off).
  bool wait_done(size_t connection, Millis limit = kWaitLimit) const;
  // Waits until the connection is over: closed by the peer, reset, or closed
  // by its script.
  bool wait_closed(size_t connection, Millis limit = kWaitLimit) const;

  // Every byte the connection has received so far, in order.
  Bytes received(size_t connection) const;
  // The bytes read by the connection's index-th expect step (empty if none).
  Bytes captured(size_t connection, size_t expect_index) const;
  // Everything that went against a script, one line each; empty when fine.
  std::string problems() const;
  // Waits until every scripted connection has been accepted and has run its
  // script (a script that stalls until the end counts as run once it stalls);
  // describes those that did not, one line each.
  std::string unfinished(Millis limit = Millis{2000}) const;

 private:
  struct Connection;

  void accept_loop();
  void serve(Connection &c);
  void mark(Connection &c, bool Connection::*flag);
  bool run_step(Connection &c, size_t index, const Script::Step &step);
  bool read_exact(Connection &c, size_t n, Bytes &out);
  bool read_until(Connection &c, const Bytes &delimiter, Bytes &out);
  bool write_all(Connection &c, const Bytes &bytes);
  void drain(Connection &c);
  void note_problem(size_t connection, size_t step, const std::string &what);
  enum class Wait { Ready, TimedOut, Stopped };
  // Waits for readiness of fd (none when fd < 0), the stop signal or the limit.
  Wait wait_ready(int fd, short events, int limit_ms = -1) const;
  bool ready(int fd, short events) const;
  bool wait_for(Millis limit, const std::function<bool()> &pred) const;

  int listener_ = -1;
  int stop_read_ = -1;
  int stop_write_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<size_t, Script> scripts_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<std::string> problems_;
};

}  // namespace qvtest
