// The only interface to the operating system.  Everything above this layer
// is the same on every platform; each platform implements these functions
// once (posix/, windows/).
//
// Socket errors are Windows Sockets numbers on every platform, so that a
// host reads the same message wherever it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::platform {

// Error numbers beyond the Windows Sockets ones.
inline constexpr int kHostNotFound = 11001;  // a failed name lookup
inline constexpr int kWaitTimedOut = -1;     // a bounded wait expired (not a socket error)

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
  Socket(Socket &&other) noexcept : handle_(other.handle_), receive_timeout_ms_(other.receive_timeout_ms_) {
    other.handle_ = kInvalid;
  }
  Socket &operator=(Socket &&other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      receive_timeout_ms_ = other.receive_timeout_ms_;
      other.handle_ = kInvalid;
    }
    return *this;
  }
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;

  bool is_open() const { return handle_ != kInvalid; }

  // Opens a socket and connects it to the endpoint, with keep-alive on.
  // timeout_ms > 0 bounds the connect (kWaitTimedOut when it expires);
  // otherwise the system's own connect runs to its end.  Returns 0 or a
  // socket error; on failure the socket stays closed.
  int connect(const Endpoint &to, int timeout_ms);

  // Sends every byte before returning.  Returns 0 or a socket error.
  int send_all(const void *data, size_t size);

  // Waits up to timeout_ms (0 or below: without limit) for data and reads
  // what is there, at most size bytes.  Returns the number of bytes read,
  // 0 when the peer closed the connection, or -1 with error set to a socket
  // error or kWaitTimedOut.
  long receive(void *data, size_t size, int timeout_ms, int &error);

  // Ends both directions, waking up a receive blocked on another thread.
  void shutdown_both();
  void close();

 private:
  using Handle = intptr_t;
  static constexpr Handle kInvalid = -1;
  Handle handle_ = kInvalid;
  int receive_timeout_ms_ = 0;  // the time-out set on the socket; 0: none
};

// Starts the sockets layer where the system needs it; safe to call often.
void network_startup();

// Milliseconds from a monotonic clock.
int64_t monotonic_ms();

// A seed from a fast-moving clock (the low 32 bits of a high-resolution
// counter).
uint32_t clock_seed();

// COM of the calling thread, where the system has it.
void com_initialize();
void com_uninitialize();

}  // namespace qv::platform
