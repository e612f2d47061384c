// A loopback server that speaks both protocols on every connection and
// answers each request so that the answer names the request it answers: a
// tagged request gets its tag back, every other one its kind, and every
// answer carries a serial ("tag@serial") by which the server remembers how
// it was delivered.  A seeded picker chooses a fault for each answer.
//
// The peer helpers below (a stop signal, whole reads and writes, a thread
// per connection) are shared with the fault-injecting proxy.
#pragma once

#include <array>
#include <condition_variable>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace qvtest::peer {

using Bytes = std::string;

// Tells every wait of a peer to give up: a pipe that becomes readable once.
class Stopper {
 public:
  Stopper();
  ~Stopper();
  Stopper(const Stopper &) = delete;
  Stopper &operator=(const Stopper &) = delete;

  void stop();
  // Waits for events on fd (nothing when fd < 0) for at most ms (-1: no
  // limit); the events that arrived, 0 when the time ran out, -1 once stopped.
  int wait(int fd, short events, int ms = -1) const;
  // A deliberate pause; false once stopped.
  bool pause(int ms) const { return wait(-1, 0, ms) == 0; }
  // Readable once stopped, for a caller's own poll.
  int fd() const { return read_end_; }

 private:
  int read_end_ = -1;
  int write_end_ = -1;
};

// Exactly n bytes appended to out; false on a close, an error or a stop.
bool read_exact(const Stopper &stop, int fd, size_t n, Bytes &out);
bool write_all(int fd, std::string_view bytes);
// The next close of fd sends a reset instead of a FIN.
void arm_reset(int fd);

// Listens on 127.0.0.1, port chosen by the system, and serves every accepted
// connection on a thread of its own; serve owns the descriptor.  Finished
// threads are joined as new connections arrive, the others at destruction.
class Acceptor {
 public:
  explicit Acceptor(std::function<void(int)> serve);
  ~Acceptor();
  Acceptor(const Acceptor &) = delete;
  Acceptor &operator=(const Acceptor &) = delete;

  uint16_t port() const { return port_; }
  const Stopper &stopper() const { return stopper_; }

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void loop();

  std::function<void(int)> serve_;
  Stopper stopper_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::list<Worker> workers_;  // the accepting thread's alone
  std::thread thread_;
};

}  // namespace qvtest::peer

namespace qvtest {

class TaggingServer {
 public:
  enum Fault : int {
    kNone,   // the answer at once, in one write
    kSplit,  // in pieces with short gaps: must still be taken
    kDelay,  // sent whole, but only after twice the read time-out
    kDrip,   // one byte every half time-out, for six time-outs, then the rest
    kClose,  // part of it, then a close
    kReset,  // part of it, then a reset
    kStall,  // nothing; silent and not reading until the peer closes
    kExtra,  // the answer and a stray one after it, in one write
    kFaultKinds
  };
  static const char *name(int fault);
  // Whether a caller may take an answer delivered so.
  static bool whole_in_time(int fault) {
    return fault == kNone || fault == kSplit || fault == kExtra;
  }

  // Logins are accepted (900, 20900) only with this name and password.
  TaggingServer(int read_timeout_ms, std::string name, std::string pwd);

  uint16_t port() const { return acceptor_.port(); }
  // Chooses the fault of every later answer; empty: no faults.  Called
  // under the server's lock.
  void set_faults(std::function<int()> pick);

  // How the answer with this serial was delivered.
  std::optional<int> fault_of(long serial) const;
  // How the first answer that carried this tag was delivered.
  std::optional<int> first_fault_for(const std::string &tag) const;
  // Waits up to ms for a request that carries this tag; whether one came.
  bool wait_for(const std::string &tag, int ms) const;
  std::array<long, kFaultKinds> counts() const;

 private:
  struct Answer {
    peer::Bytes bytes, stray;
    std::string tag;
  };
  void serve(int fd);
  Answer answer(const peer::Bytes &request, long serial) const;
  bool deliver(int fd, const Answer &a, int fault, long serial) const;

  const int timeout_ms_;
  const std::string name_, pwd_;
  mutable std::mutex mutex_;
  std::function<int()> pick_;
  long serial_ = 0;
  std::map<long, int> fault_of_;
  std::map<std::string, int> first_fault_for_;
  mutable std::condition_variable tagged_;
  std::array<long, kFaultKinds> counts_{};
  peer::Acceptor acceptor_;  // last: its threads end before the rest goes
};

}  // namespace qvtest
