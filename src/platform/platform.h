// The only interface to the operating system.  Everything above this layer
// is the same on every platform; each platform implements these functions
// once (posix/, windows/).
//
// Socket errors are Windows Sockets numbers on every platform, so that a
// host reads the same message wherever it runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::platform {

// Error numbers beyond the Windows Sockets ones.
inline constexpr int kHostNotFound = 11001;  // a failed name lookup
inline constexpr int kWaitTimedOut = -1;     // a bounded wait expired (not a socket error)
inline constexpr int kInterrupted = 10004;   // a wait given up at another thread's request

// Milliseconds from a monotonic clock.
int64_t monotonic_ms();

// The moment by which a whole operation (a record, a handshake) must be
// over, however many system calls it takes; or none, to wait without limit.
class Deadline {
 public:
  Deadline() = default;
  // ms <= 0: no deadline.
  static Deadline after(int ms) { return ms > 0 ? Deadline(monotonic_ms() + ms) : Deadline(); }
  bool none() const { return at_ms_ == 0; }
  // Milliseconds left, 0 once passed; only meaningful when !none().
  int64_t left_ms() const {
    const int64_t left = at_ms_ - monotonic_ms();
    return left > 0 ? left : 0;
  }
  bool passed() const { return !none() && left_ms() == 0; }
  // What a socket's own time-out should allow: the time left, or 0 (no
  // limit) without a deadline.
  int64_t socket_wait_ms() const { return none() ? 0 : left_ms(); }

 private:
  explicit Deadline(int64_t at_ms) : at_ms_(at_ms) {}
  int64_t at_ms_ = 0;
};

// Whether a socket time-out of current ms (0: none) serves a wait of
// wanted ms (0: none): a few milliseconds either way do not matter, and
// sparing the system call keeps an ordinary read at one call.
inline bool timeout_fits(int current, int64_t wanted) {
  constexpr int64_t kSlackMs = 10;
  if (wanted <= 0 || current <= 0) return wanted <= 0 && current <= 0;
  const int64_t gap = current > wanted ? current - wanted : wanted - current;
  return gap <= kSlackMs;
}

// Counted requests from other threads to give up waiting: while it is above
// zero, a connect in progress ends with kInterrupted.
using CancelCount = std::atomic<int>;

// One resolved TCP endpoint, opaque to the layers above.
struct Endpoint {
  alignas(8) unsigned char storage[128];
  int length = 0;
};

// Resolves host for a TCP connect to port.  Returns 0 and at least one
// endpoint, or kHostNotFound.
int resolve(const char *host, uint16_t port, std::vector<Endpoint> &out);

// Resolves host to its first IPv4 address (network byte order).  Returns 0
// or kHostNotFound.
int resolve_ipv4(const char *host, unsigned char address[4]);

// A connected TCP socket.  Move-only; closes itself.
class Socket {
 public:
  Socket() = default;
  ~Socket() { close(); }
  Socket(Socket &&other) noexcept
      : handle_(other.handle_),
        receive_timeout_ms_(other.receive_timeout_ms_),
        send_timeout_ms_(other.send_timeout_ms_) {
    other.handle_ = kInvalid;
  }
  Socket &operator=(Socket &&other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      receive_timeout_ms_ = other.receive_timeout_ms_;
      send_timeout_ms_ = other.send_timeout_ms_;
      other.handle_ = kInvalid;
    }
    return *this;
  }
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;

  bool is_open() const { return handle_ != kInvalid; }

  // Opens a socket and connects it to the endpoint, with keep-alive on.
  // timeout_ms > 0 bounds the connect (kWaitTimedOut when it expires);
  // otherwise the system's own connect runs to its end.  While *cancel is
  // above zero the wait ends within a few tens of milliseconds with
  // kInterrupted.  Returns 0 or a socket error; on failure the socket stays
  // closed.
  int connect(const Endpoint &to, int timeout_ms, const CancelCount *cancel = nullptr);

  // Sends every byte before the deadline.  Returns 0, a socket error, or
  // kWaitTimedOut (some bytes may have gone out).
  int send_all(const void *data, size_t size, Deadline deadline = {});

  // Waits until the deadline for data and reads what is there, at most size
  // bytes.  Returns the number of bytes read, 0 when the peer closed the
  // connection, or -1 with error set to a socket error or kWaitTimedOut.
  long receive(void *data, size_t size, Deadline deadline, int &error);

  // True when a read would not block: bytes, the peer's close or an error
  // are waiting.  Never waits.
  bool readable_now() const;

  // Ends both directions, waking up a receive blocked on another thread.
  void shutdown_both();
  void close();

 private:
  using Handle = intptr_t;
  static constexpr Handle kInvalid = -1;
  // Sets the socket's own receive or send time-out for a wait of left_ms
  // (0: none), unless the one it has is close enough: most waits then cost
  // no extra system call.  False with error set when the system refuses.
  bool arm(bool receive, int64_t left_ms, int &error);

  Handle handle_ = kInvalid;
  int receive_timeout_ms_ = 0;  // the time-outs set on the socket; 0: none
  int send_timeout_ms_ = 0;
};

// Starts the sockets layer where the system needs it; safe to call often.
void network_startup();

// A seed from a fast-moving clock (the low 32 bits of a high-resolution
// counter).
uint32_t clock_seed();

// COM of the calling thread, where the system has it.  com_uninitialize
// undoes only what com_initialize on the same thread set up, so that COM
// the host set up itself stays as it was.
void com_initialize();
void com_uninitialize();

}  // namespace qv::platform
