// Loopback peers for the benchmark: a record responder, a listener that only
// accepts, and the hand-written raw client that serves as the floor.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qvbench {

// The fixed record of the wire protocol, written independently of the
// library so that the floor does not share its code.
inline constexpr std::size_t kRecordSize = 2116;
inline constexpr std::size_t kBodyOffset = 4;
inline constexpr std::size_t kBodySize = 2048;
inline constexpr std::size_t kBodyLenOffset = 2052;
inline constexpr std::size_t kParam1Offset = 2056;
inline constexpr std::size_t kParamSize = 20;

using Record = std::array<char, kRecordSize>;

// Fills the whole record: code, body, its length and the Params given (the
// others stay empty).  Texts must fit their fields.
void encode_record(Record &record, int32_t code, std::string_view body, std::string_view param1,
                   std::string_view param2 = {}, std::string_view param3 = {});
int32_t record_code(const Record &record);
// Copies a zero-terminated field of `size` bytes into `out` (size + 1 bytes),
// as a caller's output buffer receives it.
void take_text(const char *field, std::size_t size, char *out);

// Owns one socket descriptor.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket &operator=(Socket &&other) noexcept;
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;
  ~Socket() { reset(); }

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset();

 private:
  int fd_ = -1;
};

bool write_all(int fd, const char *data, std::size_t size);
bool read_all(int fd, char *data, std::size_t size);

// socket() and connect() to 127.0.0.1:port; an invalid Socket on failure.
Socket raw_connect(uint16_t port);

// A listening socket on 127.0.0.1 on a port that the kernel picks.
class LoopbackListener {
 public:
  explicit LoopbackListener(int backlog);
  uint16_t port() const { return port_; }
  int fd() const { return socket_.fd(); }
  // Wakes a thread blocked in accept() so that it can be joined.
  void shut();

 private:
  Socket socket_;
  uint16_t port_ = 0;
};

// Answers every record with one fixed record (code 900, a body and Param1).
// One thread serves every connection, so that the library and the floor
// talk to the same peer thread: with two peer threads, whichever happened
// to share a CPU with the client would answer several times faster.
class LoopbackResponder {
 public:
  LoopbackResponder();
  // Answers with these three Params instead: a submit's numbers.
  LoopbackResponder(std::string_view param1, std::string_view param2, std::string_view param3);
  ~LoopbackResponder();
  LoopbackResponder(const LoopbackResponder &) = delete;
  LoopbackResponder &operator=(const LoopbackResponder &) = delete;

  uint16_t port() const { return listener_.port(); }

 private:
  void serve();
  void accept_one();
  bool answer(const Socket &connection);

  LoopbackListener listener_{16};
  Socket wake_read_, wake_write_;  // a byte here stops serve()
  Record reply_{};
  std::vector<Socket> connections_;  // touched only by the serving thread
  std::thread thread_;
};

// Answers every record with the same fixed record as LoopbackResponder, a
// given delay after the request has arrived, on any number of connections
// at once: a server a round trip away.  One thread waits for requests and
// for the earliest answer due (epoll and a timer), so that the delay costs
// no CPU and a thousand connections cost no thread each.
class DelayedResponder {
 public:
  explicit DelayedResponder(std::chrono::microseconds delay);
  ~DelayedResponder();
  DelayedResponder(const DelayedResponder &) = delete;
  DelayedResponder &operator=(const DelayedResponder &) = delete;

  uint16_t port() const { return listener_.port(); }

 private:
  struct Connection;
  void serve();
  void accept_all();
  void read_from(Connection &connection);
  void answer_due();
  void arm_timer();
  void close(Connection &connection);

  const std::chrono::microseconds delay_;
  LoopbackListener listener_{4096};
  Socket epoll_, timer_, wake_read_, wake_write_;
  Record reply_{};
  std::vector<std::unique_ptr<Connection>> connections_;  // by descriptor
  struct Due {
    std::chrono::steady_clock::time_point at;
    int fd;
    uint64_t serial;  // the connection's, so that an answer never reaches its successor
  };
  std::deque<Due> due_;  // in order of time: every answer waits the same delay
  timespec armed_{};     // when the timer goes off; zero: disarmed
  uint64_t accepted_ = 0;
  std::thread thread_;
};

// Accepts connections and closes them at once: the target of connect timing.
class ClosingAcceptor {
 public:
  ClosingAcceptor();
  ~ClosingAcceptor();
  ClosingAcceptor(const ClosingAcceptor &) = delete;
  ClosingAcceptor &operator=(const ClosingAcceptor &) = delete;

  uint16_t port() const { return listener_.port(); }

 private:
  LoopbackListener listener_{1024};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// The floor: one connection, one write of a record, one read of a record,
// with nothing else around it.
class RawRecordClient {
 public:
  explicit RawRecordClient(uint16_t port);
  bool connected() const { return socket_.valid(); }
  bool exchange(const Record &request, Record &reply);

 private:
  Socket socket_;
};

}  // namespace qvbench
