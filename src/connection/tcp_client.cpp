#include "connection/tcp_client.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/fixed_texts.h"
#include "connection/socket_errors.h"
#include "trace/trace.h"

namespace qv::connection {

// Registers the socket that a call blocks on with its session's waits, so
// that another thread's disconnect can shut it down; while a disconnect is
// pending, the socket is shut down as the call enters.
class BlockingSection {
 public:
  BlockingSection(Waits *waits, platform::Socket &s) : waits_(waits) {
    if (!waits_) return;
    std::lock_guard<std::mutex> lock(waits_->blocking_mutex_);
    waits_->blocking_socket_ = &s;
    if (waits_->interrupts_.load() > 0) s.shutdown_both();
  }
  ~BlockingSection() {
    if (!waits_) return;
    std::lock_guard<std::mutex> lock(waits_->blocking_mutex_);
    waits_->blocking_socket_ = nullptr;
  }
  BlockingSection(const BlockingSection &) = delete;
  BlockingSection &operator=(const BlockingSection &) = delete;

 private:
  Waits *waits_;
};

namespace {

// Names connections uniquely across every session of the process; touched
// only when a connection is opened or closed.
std::atomic<uint64_t> g_generations{0};

bool equals_ignoring_case(const std::string &a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

bool interrupt_pending(const Waits *waits) { return waits && waits->interrupt_pending(); }

// One receive under the deadline: the bytes read, never 0.  Throws Error
// for the peer's close, a socket error or the deadline.
size_t receive_some(Waits *waits, platform::Socket &s, void *data, size_t size, Deadline deadline,
                    std::string_view timeout_text) {
  int error = 0;
  long n;
  {
    BlockingSection section(waits, s);
    n = s.receive(data, size, deadline, error);
  }
  // While a disconnect of the host's is pending, whatever ended the wait
  // (the shut-down socket, as a rule) is the host's doing.
  if (n <= 0 && interrupt_pending(waits)) throw interrupted();
  if (n == 0) throw Error(std::string(text::kClosedGracefully), Cause::Closed);
  if (n < 0) throw platform_error(error, timeout_text);
  if (trace::on()) trace::dump_received(data, static_cast<size_t>(n));
  return static_cast<size_t>(n);
}

}  // namespace

void Waits::request_interrupt() {
  std::lock_guard<std::mutex> lock(blocking_mutex_);
  interrupts_.fetch_add(1);
  requested_.fetch_add(1);
  if (blocking_socket_) blocking_socket_->shutdown_both();
}

void Waits::end_interrupt() {
  int pending = interrupts_.load();
  while (pending > 0 && !interrupts_.compare_exchange_weak(pending, pending - 1)) {
  }
}

Deadline SocketHandler::handshake_deadline() const {
  return waits_ ? waits_->operation_deadline() : Deadline();
}

void SocketHandler::open(const std::string &host, int32_t port, int32_t timeout) {
  connect_socket(host, port, timeout);
}

void SocketHandler::connect_socket(const std::string &host, int32_t port, int32_t timeout) {
  platform::network_startup();
  // Only a positive time-out bounds the connect; 0, -1 and -2 leave it to
  // the system (which has its own limit).
  const Deadline deadline = Deadline::after(timeout);
  const char *name = equals_ignoring_case(host, "localhost") ? "127.0.0.1" : host.c_str();
  if (port < 0 || port > 65535) throw socket_error(10049);

  std::vector<platform::Endpoint> endpoints;
  if (const int rc = platform::resolve(name, static_cast<uint16_t>(port), endpoints); rc != 0)
    throw socket_error(rc);

  const platform::CancelCount *cancel = waits_ ? &waits_->interrupts() : nullptr;
  int last = 0;
  for (const platform::Endpoint &e : endpoints) {
    int wait = 0;
    if (!deadline.none()) {
      const int64_t left = deadline.left_ms();
      if (left <= 0)
        throw Error(std::string(text::kConnectTimedOut), Cause::TimedOut, kWsaTimedOut);
      wait = static_cast<int>(left);
    }
    last = socket_.connect(e, wait, cancel);
    if (last == 0) return;
    if (last == platform::kWaitTimedOut)
      throw Error(std::string(text::kConnectTimedOut), Cause::TimedOut, kWsaTimedOut);
    if (last == platform::kInterrupted || (cancel && cancel->load() > 0)) throw interrupted();
  }
  throw socket_error(last);
}

void send_exact(Waits *waits, platform::Socket &socket, const void *data, size_t size,
                Deadline deadline, const trace::Outgoing &out) {
  trace::dump_sent(data, size, out);
  int rc;
  {
    BlockingSection section(waits, socket);
    rc = socket.send_all(data, size, deadline);
  }
  if (rc != 0 && interrupt_pending(waits)) throw interrupted();
  if (rc != 0) throw platform_error(rc, text::kWriteTimedOut);
}

void receive_exact(Waits *waits, platform::Socket &socket, void *data, size_t size,
                   Deadline deadline, std::string_view timeout_text) {
  auto *out = static_cast<unsigned char *>(data);
  while (size > 0) {
    const size_t n = receive_some(waits, socket, out, size, deadline, timeout_text);
    out += n;
    size -= n;
  }
}

TcpClient::TcpClient(Waits &waits) : waits_(waits) {}  // NOLINT: the buffer stays untouched

void TcpClient::set_target(std::string host, int32_t port) {
  host_ = std::move(host);
  port_ = port;
}

void TcpClient::renew_generation() { generation_ = g_generations.fetch_add(1) + 1; }

void TcpClient::attach(SocketHandler *handler) {
  if (handler_ == handler) return;
  // A handler that is let go keeps no socket open behind our back.
  if (handler_) handler_->close();
  renew_generation();
  handler_ = handler;
  if (own_ && own_.get() != handler) own_.reset();
}

void TcpClient::connect(int32_t timeout) {
  if (connected()) throw Error(std::string(text::kAlreadyConnected));
  if (!handler_) {
    own_ = std::make_unique<SocketHandler>();
    handler_ = own_.get();
  }
  begin_ = end_ = 0;
  handler_->follow(&waits_);
  renew_generation();
  handler_->open(host_, port_, timeout);
  renew_generation();
}

void TcpClient::disconnect() {
  if (handler_) handler_->close();
  if (own_) {
    if (handler_ == own_.get()) handler_ = nullptr;
    own_.reset();
  }
  begin_ = end_ = 0;
  renew_generation();
}

void TcpClient::abandon() {
  if (trace::on() && connected())
    trace::event("connection closed: its place in the stream is lost");
  if (handler_) handler_->close();
  begin_ = end_ = 0;
  renew_generation();
}

platform::Socket &TcpClient::open_socket() {
  if (!handler_)
    throw Error(std::string(text::kNotConnected), Cause::NotConnected, kWsaNotConnected);
  // Closed earlier (by the host, or after a failure): nothing was sent.
  if (!handler_->is_open())
    throw Error(std::string(text::kClosedGracefully), Cause::NotConnected, kWsaNotConnected);
  return handler_->socket();
}

template <class Operation>
auto TcpClient::or_abandon(Operation &&op) -> decltype(op()) {
  try {
    return op();
  } catch (...) {
    abandon();
    throw;
  }
}

// Nothing may be waiting when a request goes out: every answer so far has
// been read whole, so waiting bytes are ones that no request asked for
// (or the peer's close), and reading them as this request's answer would
// hand the host an answer that was not sent for it.
void TcpClient::check_in_step(platform::Socket &s) {
  if (begin_ != end_) {
    trace::event_if_on(
        [&] { return "unrequested bytes are waiting: " + std::to_string(end_ - begin_); });
    throw Error(std::string(text::kUnrequestedData));
  }
  if (!s.readable_now()) return;
  receive_some(&waits_, s, buffer_, kChunk, waits_.operation_deadline(), text::kReadTimedOut);
  throw Error(std::string(text::kUnrequestedData));
}

bool TcpClient::unrequested_waiting() {
  if (begin_ != end_) return true;
  if (!connected()) return false;
  platform::Socket &s = handler_->socket();
  if (!s.readable_now()) return false;
  int error = 0;
  const long n = s.receive(buffer_, kChunk, Deadline::after(1), error);
  if (n <= 0) return false;
  if (trace::on()) trace::dump_received(buffer_, static_cast<size_t>(n));
  begin_ = 0;
  end_ = static_cast<size_t>(n);
  return true;
}

void TcpClient::write(const void *data, size_t size, Deadline deadline,
                      const trace::Outgoing &out) {
  platform::Socket &s = open_socket();
  or_abandon([&] {
    check_in_step(s);
    send_exact(&waits_, s, data, size, deadline, out);
  });
}

void TcpClient::read_exact(void *data, size_t size, Deadline deadline) {
  auto *out = static_cast<unsigned char *>(data);
  or_abandon([&] {
    while (size > 0) {
      if (begin_ == end_) fill(deadline);
      const size_t n = std::min(size, end_ - begin_);
      std::memcpy(out, buffer_ + begin_, n);
      begin_ += n;
      out += n;
      size -= n;
    }
  });
}

std::string TcpClient::read_line(size_t max_length, Deadline deadline) {
  return or_abandon([&] {
    std::string line;
    for (;;) {
      if (begin_ == end_) fill(deadline);
      const auto *start = buffer_ + begin_;
      const auto *lf = static_cast<const unsigned char *>(std::memchr(start, '\n', end_ - begin_));
      const size_t n = lf ? static_cast<size_t>(lf - start) : end_ - begin_;
      // One byte of room beyond the limit for a CR, which does not count.
      if (line.size() + n > max_length + 1) throw Error(std::string(text::kMaxLineLength));
      line.append(reinterpret_cast<const char *>(start), n);
      begin_ += n;
      if (lf) {
        ++begin_;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > max_length) throw Error(std::string(text::kMaxLineLength));
        return line;
      }
    }
  });
}

// Receives the next chunk into the empty buffer.
void TcpClient::fill(Deadline deadline) {
  platform::Socket &s = open_socket();
  begin_ = end_ = 0;
  end_ = receive_some(&waits_, s, buffer_, kChunk, deadline, text::kReadTimedOut);
}

}  // namespace qv::connection
