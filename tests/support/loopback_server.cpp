#include "loopback_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qvtest {

// ---------------------------------------------------------------- Script

Script &Script::expect(size_t n) {
  steps_.push_back({Kind::Expect, {}, n});
  return *this;
}

Script &Script::expect(Bytes exact) {
  size_t n = exact.size();
  steps_.push_back({Kind::ExpectExact, std::move(exact), n});
  return *this;
}

Script &Script::expect_until(Bytes delimiter) {
  steps_.push_back({Kind::ExpectUntil, std::move(delimiter)});
  return *this;
}

Script &Script::send(Bytes bytes) {
  steps_.push_back({Kind::Send, std::move(bytes)});
  return *this;
}

Script &Script::send_at_once(const std::vector<Bytes> &blocks) {
  Bytes joined;
  for (const Bytes &b : blocks) joined += b;
  return send(std::move(joined));
}

Script &Script::send_flood(size_t n, char fill) { return send(Bytes(n, fill)); }

Script &Script::close() {
  steps_.push_back({Kind::Close, {}});
  return *this;
}

Script &Script::reset() {
  steps_.push_back({Kind::Reset, {}});
  return *this;
}

Script &Script::stall() {
  steps_.push_back({Kind::Stall, {}});
  return *this;
}

Script &Script::stall(Millis duration) {
  steps_.push_back({Kind::Stall, {}, 0, duration});
  return *this;
}

// -------------------------------------------------------- LoopbackServer

struct LoopbackServer::Connection {
  size_t index = 0;
  int fd = -1;
  Script script;
  bool scripted = false;
  // Guarded by the server's mutex: tests read them while the worker runs.
  Bytes received;
  std::vector<Bytes> captures;
  bool done = false;
  bool over = false;
  std::thread worker;
};

namespace {

[[noreturn]] void fail(const char *what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

LoopbackServer::LoopbackServer() {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) fail("pipe2");
  stop_read_ = pipe_fds[0];
  stop_write_ = pipe_fds[1];

  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) fail("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) fail("bind");
  if (::listen(listener_, 16) != 0) fail("listen");
  socklen_t len = sizeof addr;
  ::getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

LoopbackServer::~LoopbackServer() {
  // Closing the write end makes the read end readable for every poller.
  ::close(stop_write_);
  acceptor_.join();
  for (auto &c : connections_) {
    if (c->worker.joinable()) c->worker.join();
    if (c->fd >= 0) ::close(c->fd);
  }
  ::close(listener_);
  ::close(stop_read_);
}

void LoopbackServer::on(size_t connection, Script script) {
  std::lock_guard lock(mutex_);
  scripts_[connection] = std::move(script);
}

LoopbackServer::Wait LoopbackServer::wait_ready(int fd, short events, int limit_ms) const {
  pollfd fds[2] = {{stop_read_, POLLIN, 0}, {fd, events, 0}};
  for (;;) {
    int r = ::poll(fds, fd >= 0 ? 2 : 1, limit_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[0].revents != 0) return Wait::Stopped;
    return r == 0 ? Wait::TimedOut : Wait::Ready;
  }
}

bool LoopbackServer::ready(int fd, short events) const {
  return wait_ready(fd, events) == Wait::Ready;
}

void LoopbackServer::accept_loop() {
  while (ready(listener_, POLLIN)) {
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    auto c = std::make_unique<Connection>();
    c->index = connections_.size();
    c->fd = fd;
    if (auto it = scripts_.find(c->index); it != scripts_.end()) {
      c->script = it->second;
      c->scripted = true;
    }
    Connection &ref = *c;
    connections_.push_back(std::move(c));
    ref.worker = std::thread([this, &ref] { serve(ref); });
    changed_.notify_all();
  }
}

void LoopbackServer::mark(Connection &c, bool Connection::*flag) {
  std::lock_guard lock(mutex_);
  c.*flag = true;
  changed_.notify_all();
}

void LoopbackServer::serve(Connection &c) {
  const auto &steps = c.script.steps_;
  bool going = true;
  for (size_t i = 0; going && i < steps.size(); ++i) going = run_step(c, i, steps[i]);
  mark(c, &Connection::done);
  if (going && c.fd >= 0) drain(c);
  if (c.fd >= 0) {
    ::close(c.fd);
    c.fd = -1;
  }
  mark(c, &Connection::over);
}

bool LoopbackServer::run_step(Connection &c, size_t index, const Script::Step &step) {
  using Kind = Script::Kind;
  Bytes got;
  switch (step.kind) {
    case Kind::Expect:
    case Kind::ExpectExact:
    case Kind::ExpectUntil: {
      bool ok = step.kind == Kind::ExpectUntil ? read_until(c, step.bytes, got)
                                               : read_exact(c, step.count, got);
      {
        std::lock_guard lock(mutex_);
        c.captures.push_back(got);
      }
      if (!ok) {
        note_problem(
            c.index, index,
            "connection ended after " + std::to_string(got.size()) + " of the " +
                (step.kind == Kind::ExpectUntil ? "bytes up to a delimiter"
                                                : std::to_string(step.count) + " expected bytes"));
        return false;
      }
      if (step.kind == Kind::ExpectExact && got != step.bytes) {
        size_t at = std::mismatch(got.begin(), got.end(), step.bytes.begin()).first - got.begin();
        char detail[96];
        std::snprintf(detail, sizeof detail, "bytes differ at offset %zu: got 0x%02x, want 0x%02x",
                      at, static_cast<unsigned char>(got[at]),
                      static_cast<unsigned char>(step.bytes[at]));
        note_problem(c.index, index, detail);
      }
      return true;
    }
    case Kind::Send:
      if (!write_all(c, step.bytes)) {
        note_problem(c.index, index,
                     "could not send " + std::to_string(step.bytes.size()) + " bytes");
        return false;
      }
      return true;
    case Kind::Reset: {
      linger abort_now{1, 0};
      ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort_now, sizeof abort_now);
      [[fallthrough]];
    }
    case Kind::Close:
      ::close(c.fd);
      c.fd = -1;
      return false;
    case Kind::Stall:
      if (step.duration.count() < 0) {
        // Held until the server stops, or until the peer closes: then there
        // is nothing left to hold.  Bytes that arrive meanwhile stay unread.
        mark(c, &Connection::done);
        wait_ready(c.fd, POLLRDHUP);
        return false;
      }
      return wait_ready(-1, 0, static_cast<int>(step.duration.count())) == Wait::TimedOut;
  }
  return false;
}

bool LoopbackServer::read_exact(Connection &c, size_t n, Bytes &out) {
  char buf[65536];
  while (out.size() < n) {
    if (!ready(c.fd, POLLIN)) return false;
    ssize_t r = ::recv(c.fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (r <= 0) return false;
    out.append(buf, static_cast<size_t>(r));
    std::lock_guard lock(mutex_);
    c.received.append(buf, static_cast<size_t>(r));
  }
  return true;
}

bool LoopbackServer::read_until(Connection &c, const Bytes &delimiter, Bytes &out) {
  // One byte at a time, so that nothing after the delimiter is consumed.
  while (out.size() < delimiter.size() ||
         out.compare(out.size() - delimiter.size(), delimiter.size(), delimiter) != 0) {
    Bytes one;
    if (!read_exact(c, 1, one)) return false;
    out += one;
  }
  return true;
}

bool LoopbackServer::write_all(Connection &c, const Bytes &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t r = ::send(c.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) {
      if (!ready(c.fd, POLLOUT)) return false;
      continue;
    }
    if (r <= 0) return false;
    sent += static_cast<size_t>(r);
  }
  return true;
}

void LoopbackServer::drain(Connection &c) {
  char buf[65536];
  while (ready(c.fd, POLLIN)) {
    ssize_t r = ::recv(c.fd, buf, sizeof buf, 0);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (r <= 0) return;
    std::lock_guard lock(mutex_);
    c.received.append(buf, static_cast<size_t>(r));
  }
}

void LoopbackServer::note_problem(size_t connection, size_t step, const std::string &what) {
  std::lock_guard lock(mutex_);
  problems_.push_back("connection " + std::to_string(connection) + ", step " +
                      std::to_string(step) + ": " + what);
}

bool LoopbackServer::wait_for(Millis limit, const std::function<bool()> &pred) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, pred);
}

size_t LoopbackServer::accepted() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

bool LoopbackServer::wait_accepted(size_t n, Millis limit) const {
  return wait_for(limit, [&] { return connections_.size() >= n; });
}

bool LoopbackServer::wait_done(size_t connection, Millis limit) const {
  return wait_for(
      limit, [&] { return connection < connections_.size() && connections_[connection]->done; });
}

bool LoopbackServer::wait_closed(size_t connection, Millis limit) const {
  return wait_for(
      limit, [&] { return connection < connections_.size() && connections_[connection]->over; });
}

Bytes LoopbackServer::received(size_t connection) const {
  std::lock_guard lock(mutex_);
  return connection < connections_.size() ? connections_[connection]->received : Bytes{};
}

Bytes LoopbackServer::captured(size_t connection, size_t expect_index) const {
  std::lock_guard lock(mutex_);
  if (connection >= connections_.size()) return {};
  const auto &captures = connections_[connection]->captures;
  return expect_index < captures.size() ? captures[expect_index] : Bytes{};
}

std::string LoopbackServer::problems() const {
  std::lock_guard lock(mutex_);
  std::string all;
  for (const auto &p : problems_) all += p + "\n";
  return all;
}

std::string LoopbackServer::unfinished(Millis limit) const {
  auto all_done = [&] {
    for (const auto &[index, script] : scripts_)
      if (index >= connections_.size() || !connections_[index]->done) return false;
    return true;
  };
  wait_for(limit, all_done);
  std::lock_guard lock(mutex_);
  std::string report;
  for (const auto &[index, script] : scripts_) {
    if (index >= connections_.size())
      report += "connection " + std::to_string(index) + " was scripted but never arrived\n";
    else if (!connections_[index]->done)
      report += "connection " + std::to_string(index) + " did not finish its script\n";
  }
  return report;
}

}  // namespace qvtest
