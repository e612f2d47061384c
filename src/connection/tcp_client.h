// The one connection of the library: a target, a socket handler that owns
// the socket, and a buffered reader.  Writes go out at once; reads take
// exactly the bytes asked for, and bytes beyond them stay queued for the
// next read until the connection is opened again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace qv::connection {

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

 protected:
  // The TCP connect itself: resolve, then connect within the time-out.
  void connect_socket(const std::string &host, int32_t port, int32_t timeout);

 private:
  platform::Socket socket_;
};

// Receives exactly size bytes straight from a socket, for handshakes that
// run before the connection is handed to the buffered reader.  Throws Error
// with the given text when the peer is silent past the read time-out.
void receive_exact(platform::Socket &socket, void *data, size_t size, std::string_view timeout_text);

// Ends the receive or send that another thread is blocked in on the
// connection, by shutting its socket down; that call then fails.  Safe from
// any thread at any time.
void interrupt_blocking_io();
// Ends the interrupt: blocking calls block again.  Called once the
// disconnect that the interrupt announced has run.
void clear_interrupt();

// Milliseconds that every blocking read waits; 0 or below waits without
// limit.  Library-wide.
int read_timeout_ms();
void set_read_timeout_ms(int ms);

class TcpClient {
 public:
  TcpClient() = default;
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

  // Sends the whole block before returning.  Throws Error.
  void write(const void *data, size_t size);
  // Blocks until exactly size bytes have arrived (read time-out applies).
  // Throws Error.
  void read_exact(void *data, size_t size);
  // Reads one LF-terminated line (a CR before the LF dropped) of at most
  // max_length bytes; a longer one fails with "Max line length exceeded.".
  std::string read_line(size_t max_length);

 private:
  platform::Socket &open_socket();
  void fill();

  std::string host_;
  int32_t port_ = 0;
  SocketHandler *handler_ = nullptr;
  std::unique_ptr<SocketHandler> own_;

  static constexpr size_t kChunk = 32768;
  unsigned char buffer_[kChunk];
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last received byte
};

}  // namespace qv::connection
