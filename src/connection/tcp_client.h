// A session's connection: a target, a socket handler that owns the
// socket, and a buffered reader.  Writes go out at once; reads take
// exactly the bytes asked for.
//
// The stream stays in step: a read or write that fails, times out or stops
// part-way leaves the stream at an unknown position, so the connection is
// closed before the error leaves this class.  Every operation has a
// deadline for the whole of it (the read time-out by default), and a
// disconnect requested by another thread ends any wait.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "trace/trace.h"

namespace qv::connection {

using platform::Deadline;

// What every blocking operation of one session follows: the read time-out
// that bounds it, and the interrupt by which another thread's disconnect
// ends it.  Each session has its own, so that one session's disconnect
// never touches another's calls.
class Waits {
 public:
  // Milliseconds that every blocking operation may take; 0 or below waits
  // without limit.
  int read_timeout_ms() const { return read_timeout_ms_.load(std::memory_order_relaxed); }
  void set_read_timeout_ms(int ms) { read_timeout_ms_.store(ms, std::memory_order_relaxed); }
  // The deadline of one operation under the read time-out.
  Deadline operation_deadline() const { return Deadline::after(read_timeout_ms()); }

  // A disconnect requested by another thread: ends the receive, send or
  // connect that a call is blocked in on the session's connection (that
  // call fails), and every one that starts, until end_interrupt() is
  // called once for it after the disconnect has run.  Safe from any thread
  // at any time.
  void request_interrupt();
  void end_interrupt();
  bool interrupt_pending() const { return interrupts_.load() > 0; }
  // How many interrupts were ever requested, so that a caller working
  // across several calls (a send job) learns of a disconnect that came
  // and went between two of them.
  uint64_t interrupts_requested() const { return requested_.load(); }
  const platform::CancelCount &interrupts() const { return interrupts_; }

 private:
  friend class BlockingSection;

  std::atomic<int> read_timeout_ms_{60000};
  // Disconnects requested by other threads and not yet run.
  platform::CancelCount interrupts_{0};
  std::atomic<uint64_t> requested_{0};
  // The socket that a call is blocked on right now, so that another thread
  // can shut it down.  Registered only for the duration of the blocking
  // call, during which the calling thread keeps the socket alive.
  std::mutex blocking_mutex_;
  platform::Socket *blocking_socket_ = nullptr;
};

// Owns the socket of a connection opened through it.  The plain handler
// connects straight to the target; a proxy handler overrides open().
class SocketHandler {
 public:
  virtual ~SocketHandler() = default;

  bool is_open() const { return socket_.is_open(); }
  // Opens the connection to host:port; timeout as for the timed connect.
  // Throws Error; the socket is closed on failure.
  virtual void open(const std::string &host, int32_t port, int32_t timeout);
  void close() { socket_.close(); }
  platform::Socket &socket() { return socket_; }

  // Makes the connect and the handshakes give way to a disconnect that
  // another thread requests through waits, and bounds the handshakes by
  // its read time-out (a session's connection does; a web request's
  // does not).
  void follow(Waits *waits) { waits_ = waits; }

 protected:
  // The TCP connect itself: resolve, then connect within the time-out.
  void connect_socket(const std::string &host, int32_t port, int32_t timeout);
  // The waits followed, or null.
  Waits *waits() const { return waits_; }
  // The deadline of a handshake: the read time-out of the waits followed.
  Deadline handshake_deadline() const;

 private:
  platform::Socket socket_;
  Waits *waits_ = nullptr;
};

// Sends or receives exactly size bytes straight on a socket, for
// handshakes that run before the connection is handed to the buffered
// reader.  Throws Error (timeout_text when the deadline passes).  A
// disconnect requested through waits (when not null) ends the wait.
// out says what the trace shows of the block (by default, the trace as it
// is when the call starts, nothing masked).
void send_exact(Waits *waits, platform::Socket &socket, const void *data, size_t size,
                Deadline deadline, const trace::Outgoing &out = trace::Outgoing::now());
void receive_exact(Waits *waits, platform::Socket &socket, void *data, size_t size,
                   Deadline deadline, std::string_view timeout_text);

class TcpClient {
 public:
  // Defined out of line, so that making one never zeroes the read buffer:
  // its pages are touched only as replies fill them.  Every wait follows
  // waits, which outlive the client.
  explicit TcpClient(Waits &waits);
  TcpClient(const TcpClient &) = delete;
  TcpClient &operator=(const TcpClient &) = delete;

  void set_target(std::string host, int32_t port);
  // Attaches a handler, or none; a plain handler of our own is destroyed
  // (closing its socket) whenever another one, or none, is attached.
  void attach(SocketHandler *handler);
  SocketHandler *attached() const { return handler_; }

  // Opens the connection through the attached handler, or through a new
  // plain handler of our own when none is attached.  Unread bytes of an
  // earlier connection are discarded.  Throws Error.
  void connect(int32_t timeout);
  // Closes the attached handler's socket and destroys our own handler.
  void disconnect();
  bool connected() const { return handler_ && handler_->is_open(); }
  // Closes the connection because the stream's position is lost; the
  // handler stays attached for the next connect.
  void abandon();

  // Names the connection as it is now: it changes whenever a connection
  // is opened or closed and never repeats in the process, so that what was
  // read on one connection is never taken for another's.
  uint64_t generation() const { return generation_; }

  // Sends the whole block before returning.  Bytes that no request asked
  // for, or the peer's close, found waiting first fail the write before
  // anything is sent.  out says what the trace shows of it.  Throws Error.
  void write(const void *data, size_t size, Deadline deadline,
             const trace::Outgoing &out = trace::Outgoing::now());
  // The same under the read time-out.
  void write(const void *data, size_t size, const trace::Outgoing &out) {
    write(data, size, waits_.operation_deadline(), out);
  }
  // Blocks until exactly size bytes have arrived.  Throws Error.
  void read_exact(void *data, size_t size, Deadline deadline);
  // The same under the read time-out.
  void read_exact(void *data, size_t size) { read_exact(data, size, waits_.operation_deadline()); }
  const Waits &waits() const { return waits_; }
  // Right after an answer was read: whether bytes that no request asked
  // for are waiting already (a second answer), so that the answer read may
  // not have been the request's own.  Never blocks; bytes found stay for
  // the next write, which refuses them.  The peer's close is no such byte.
  bool unrequested_waiting();
  // Reads one LF-terminated line (a CR before the LF dropped) of at most
  // max_length bytes; a longer one fails with "Max line length exceeded.".
  std::string read_line(size_t max_length, Deadline deadline);

 private:
  platform::Socket &open_socket();
  void fill(Deadline deadline);
  void check_in_step(platform::Socket &s);
  template <class Operation>
  auto or_abandon(Operation &&op) -> decltype(op());
  void renew_generation();

  Waits &waits_;
  std::string host_;
  int32_t port_ = 0;
  SocketHandler *handler_ = nullptr;
  std::unique_ptr<SocketHandler> own_;
  uint64_t generation_ = 0;

  static constexpr size_t kChunk = 32768;
  unsigned char buffer_[kChunk];
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last received byte
};

}  // namespace qv::connection
