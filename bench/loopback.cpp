#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fcntl.h>
#include <cstring>
#include <stdexcept>
#include <string>

namespace qvbench {

namespace {

void put_int32_le(char *at, int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
}

int32_t get_int32_le(const char *at) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= uint32_t(static_cast<unsigned char>(at[i])) << (8 * i);
  return static_cast<int32_t>(bits);
}

sockaddr_in loopback_address(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

[[noreturn]] void fail(const char *what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// A text a few hundred bytes long, like a server's descriptive answer.
constexpr std::string_view kReplyBody =
    "Multimedia messages up to the size in Param1 (bytes) are accepted for "
    "this account. Larger messages are refused before delivery; split the "
    "content or reduce image quality. The limit covers all frames, the "
    "subject and the text parts together, and applies per recipient batch. "
    "Contact the platform operator to raise it.";
constexpr std::string_view kReplyParam1 = "307200";

}  // namespace

void encode_record(Record &record, int32_t code, std::string_view body, std::string_view param1,
                   std::string_view param2, std::string_view param3) {
  record.fill(0);
  put_int32_le(record.data(), code);
  std::memcpy(record.data() + kBodyOffset, body.data(), body.size());
  put_int32_le(record.data() + kBodyLenOffset, static_cast<int32_t>(body.size()));
  std::memcpy(record.data() + kParam1Offset, param1.data(), param1.size());
  std::memcpy(record.data() + kParam1Offset + kParamSize, param2.data(), param2.size());
  std::memcpy(record.data() + kParam1Offset + 2 * kParamSize, param3.data(), param3.size());
}

int32_t record_code(const Record &record) { return get_int32_le(record.data()); }

void take_text(const char *field, std::size_t size, char *out) {
  const std::size_t length = strnlen(field, size);
  std::memcpy(out, field, length);
  out[length] = '\0';
}

Socket &Socket::operator=(Socket &&other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void Socket::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool write_all(int fd, const char *data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool read_all(int fd, char *data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::recv(fd, data, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

Socket raw_connect(uint16_t port) {
  Socket socket(::socket(AF_INET, SOCK_STREAM, 0));
  if (!socket.valid()) return socket;
  const sockaddr_in address = loopback_address(port);
  if (::connect(socket.fd(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
    socket.reset();
  return socket;
}

LoopbackListener::LoopbackListener(int backlog) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
  if (!socket_.valid()) fail("socket");
  const int on = 1;
  ::setsockopt(socket_.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = loopback_address(0);
  if (::bind(socket_.fd(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    fail("bind");
  if (::listen(socket_.fd(), backlog) != 0) fail("listen");
  socklen_t length = sizeof address;
  if (::getsockname(socket_.fd(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
    fail("getsockname");
  port_ = ntohs(address.sin_port);
}

void LoopbackListener::shut() {
  // On Linux, shutting a listening socket down makes a blocked accept() return.
  ::shutdown(socket_.fd(), SHUT_RDWR);
}

LoopbackResponder::LoopbackResponder() : LoopbackResponder(kReplyParam1, {}, {}) {}

LoopbackResponder::LoopbackResponder(std::string_view param1, std::string_view param2,
                                     std::string_view param3) {
  int ends[2];
  if (::pipe(ends) != 0) fail("pipe");
  wake_read_ = Socket(ends[0]);
  wake_write_ = Socket(ends[1]);
  encode_record(reply_, 900, kReplyBody, param1, param2, param3);
  thread_ = std::thread([this] { serve(); });
}

LoopbackResponder::~LoopbackResponder() {
  const char stop = 0;
  (void)!::write(wake_write_.fd(), &stop, 1);
  thread_.join();
}

void LoopbackResponder::serve() {
  std::vector<pollfd> watched;
  for (;;) {
    watched.assign({{wake_read_.fd(), POLLIN, 0}, {listener_.fd(), POLLIN, 0}});
    for (const Socket &connection : connections_) watched.push_back({connection.fd(), POLLIN, 0});
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[0].revents) return;
    if (watched[1].revents) accept_one();
    // Walk backwards so that erasing a closed connection keeps the
    // indices of the ones not yet visited.
    for (std::size_t i = watched.size(); i-- > 2;) {
      if (watched[i].revents && !answer(connections_[i - 2]))
        connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(i - 2));
    }
  }
}

void LoopbackResponder::accept_one() {
  Socket connection(::accept(listener_.fd(), nullptr, nullptr));
  if (connection.valid()) connections_.push_back(std::move(connection));
}

bool LoopbackResponder::answer(const Socket &connection) {
  Record request;
  return read_all(connection.fd(), request.data(), request.size()) &&
         write_all(connection.fd(), reply_.data(), reply_.size());
}

struct DelayedResponder::Connection {
  Socket socket;
  uint64_t serial = 0;  // tells a new connection from an old one on the same descriptor
  Record request{};
  std::size_t have = 0;  // bytes of the request read so far
};

namespace {

void watch(int epoll, int fd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0) fail("epoll_ctl");
}

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Sends a whole record on a non-blocking socket; with one request in
// flight per connection its send buffer has room, so waiting is rare.
bool send_record(int fd, const Record &record) {
  std::size_t sent = 0;
  while (sent < record.size()) {
    const ssize_t n = ::send(fd, record.data() + sent, record.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd writable{fd, POLLOUT, 0};
      if (::poll(&writable, 1, 1000) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

DelayedResponder::DelayedResponder(std::chrono::microseconds delay)
    : delay_(delay),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
  if (!epoll_.valid() || !timer_.valid()) fail("epoll or timerfd");
  int ends[2];
  if (::pipe(ends) != 0) fail("pipe");
  wake_read_ = Socket(ends[0]);
  wake_write_ = Socket(ends[1]);
  encode_record(reply_, 900, kReplyBody, kReplyParam1);
  set_nonblocking(listener_.fd());
  for (const int fd : {listener_.fd(), timer_.fd(), wake_read_.fd()}) watch(epoll_.fd(), fd);
  thread_ = std::thread([this] {
    // Answers leave when they are due, not up to the default 50 us later.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    serve();
  });
}

DelayedResponder::~DelayedResponder() {
  const char stop = 0;
  (void)!::write(wake_write_.fd(), &stop, 1);
  thread_.join();
}

void DelayedResponder::serve() {
  std::array<epoll_event, 64> events;
  for (;;) {
    const int n = ::epoll_wait(epoll_.fd(), events.data(), static_cast<int>(events.size()), -1);
    if (n < 0 && errno != EINTR) return;
    for (int i = 0; i < n; ++i) {
      const int fd = events[static_cast<std::size_t>(i)].data.fd;
      if (fd == wake_read_.fd()) return;
      if (fd == listener_.fd()) {
        accept_all();
      } else if (fd == timer_.fd()) {
        uint64_t expirations;
        (void)!::read(timer_.fd(), &expirations, sizeof expirations);
      } else if (static_cast<std::size_t>(fd) < connections_.size() && connections_[fd]) {
        read_from(*connections_[static_cast<std::size_t>(fd)]);
      }
    }
    answer_due();
    arm_timer();
  }
}

void DelayedResponder::accept_all() {
  for (;;) {
    Socket socket(::accept4(listener_.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!socket.valid()) return;
    const auto fd = static_cast<std::size_t>(socket.fd());
    if (connections_.size() <= fd) connections_.resize(fd + 1);
    watch(epoll_.fd(), socket.fd());
    connections_[fd] = std::make_unique<Connection>();
    connections_[fd]->socket = std::move(socket);
    connections_[fd]->serial = ++accepted_;
  }
}

void DelayedResponder::read_from(Connection &connection) {
  for (;;) {
    const ssize_t got = ::recv(connection.socket.fd(), connection.request.data() + connection.have,
                               connection.request.size() - connection.have, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) return close(connection);
    connection.have += static_cast<std::size_t>(got);
    if (connection.have == connection.request.size()) {
      connection.have = 0;
      due_.push_back(
          {std::chrono::steady_clock::now() + delay_, connection.socket.fd(), connection.serial});
    }
  }
}

void DelayedResponder::answer_due() {
  const auto now = std::chrono::steady_clock::now();
  while (!due_.empty() && due_.front().at <= now) {
    const Due due = due_.front();
    due_.pop_front();
    const auto fd = static_cast<std::size_t>(due.fd);
    Connection *connection = fd < connections_.size() ? connections_[fd].get() : nullptr;
    if (connection && connection->serial == due.serial &&
        !send_record(connection->socket.fd(), reply_))
      close(*connection);
  }
}

void DelayedResponder::arm_timer() {
  itimerspec when{};
  if (!due_.empty()) {
    const auto since_epoch = due_.front().at.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    when.it_value.tv_sec = seconds.count();
    when.it_value.tv_nsec = std::chrono::nanoseconds(since_epoch - seconds).count();
  }
  if (when.it_value.tv_sec == armed_.tv_sec && when.it_value.tv_nsec == armed_.tv_nsec) return;
  ::timerfd_settime(timer_.fd(), TFD_TIMER_ABSTIME, &when, nullptr);
  armed_ = when.it_value;
}

void DelayedResponder::close(Connection &connection) {
  const auto fd = static_cast<std::size_t>(connection.socket.fd());
  ::epoll_ctl(epoll_.fd(), EPOLL_CTL_DEL, connection.socket.fd(), nullptr);
  connections_[fd].reset();
}

ClosingAcceptor::ClosingAcceptor() {
  thread_ = std::thread([this] {
    while (!stopping_) {
      Socket connection(::accept(listener_.fd(), nullptr, nullptr));
      if (!connection.valid() && errno != EINTR && errno != ECONNABORTED) return;
    }
  });
}

ClosingAcceptor::~ClosingAcceptor() {
  stopping_ = true;
  listener_.shut();
  thread_.join();
}

RawRecordClient::RawRecordClient(uint16_t port) : socket_(raw_connect(port)) {}

bool RawRecordClient::exchange(const Record &request, Record &reply) {
  return write_all(socket_.fd(), request.data(), request.size()) &&
         read_all(socket_.fd(), reply.data(), reply.size());
}

}  // namespace qvbench
