#include "tagging_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>
#include <stdexcept>
#include <vector>

#include "record_bytes.h"

namespace qvtest::peer {

Stopper::Stopper() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  read_end_ = fds[0];
  write_end_ = fds[1];
}

Stopper::~Stopper() {
  ::close(read_end_);
  ::close(write_end_);
}

void Stopper::stop() {
  const char byte = 1;
  while (::write(write_end_, &byte, 1) < 0 && errno == EINTR) {
  }
}

int Stopper::wait(int fd, short events, int ms) const {
  pollfd fds[2] = {{read_end_, POLLIN, 0}, {fd, events, 0}};
  int n;
  while ((n = ::poll(fds, fd >= 0 ? 2 : 1, ms)) < 0 && errno == EINTR) {
  }
  if (n < 0 || fds[0].revents) return -1;
  return n == 0 ? 0 : fds[1].revents;
}

bool read_exact(const Stopper &stop, int fd, size_t n, Bytes &out) {
  char chunk[4096];
  while (n > 0) {
    if (stop.wait(fd, POLLIN) < 0) return false;
    const ssize_t got = ::recv(fd, chunk, std::min(n, sizeof chunk), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out.append(chunk, static_cast<size_t>(got));
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void arm_reset(int fd) {
  const linger abort_on_close{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
}

Acceptor::Acceptor(std::function<void(int)> serve) : serve_(std::move(serve)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
    throw std::runtime_error("cannot listen on loopback");
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { loop(); });
}

Acceptor::~Acceptor() {
  stopper_.stop();
  thread_.join();
  ::close(listener_);
}

void Acceptor::loop() {
  while (stopper_.wait(listener_, POLLIN) > 0) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    workers_.remove_if([](Worker &w) {
      if (!w.done) return false;
      w.thread.join();
      return true;
    });
    Worker &w = workers_.emplace_back();
    w.thread = std::thread([this, fd, &w] {
      serve_(fd);
      w.done = true;
    });
  }
  for (Worker &w : workers_) w.thread.join();
}

}  // namespace qvtest::peer

namespace qvtest {
namespace {

using peer::Bytes;

constexpr int32_t kFirstXmlCode = 10000;
constexpr int32_t kMaxXmlRequest = 1 << 20;

int32_t le32_at(const Bytes &b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= uint32_t(static_cast<unsigned char>(b[at + i])) << (8 * i);
  return static_cast<int32_t>(v);
}

Bytes xml_reply(int32_t code, const Bytes &body) {
  return rec::le32(code) + rec::le32(1) + rec::le32(1) +
         rec::le32(static_cast<int32_t>(body.size())) + body;
}

// The text of the first <name> element of a request body.
std::string element(const Bytes &body, const std::string &name) {
  const size_t open = body.find("<" + name + ">");
  if (open == Bytes::npos) return {};
  const size_t from = open + name.size() + 2, close = body.find("</" + name + ">", from);
  return close == Bytes::npos ? std::string() : body.substr(from, close - from);
}

const char *query_element(int32_t code) {
  switch (code) {
    case 10101: return "states";
    case 10102: return "types";
    case 10106: return "rule";
    case 10127: return "notify";
    default: return nullptr;
  }
}

}  // namespace

const char *TaggingServer::name(int fault) {
  static const char *const names[] = {"none",  "split", "delay", "drip",
                                      "close", "reset", "stall", "extra"};
  return fault >= 0 && fault < kFaultKinds ? names[fault] : "?";
}

TaggingServer::TaggingServer(int read_timeout_ms, std::string name, std::string pwd)
    : timeout_ms_(read_timeout_ms),
      name_(std::move(name)),
      pwd_(std::move(pwd)),
      acceptor_([this](int fd) { serve(fd); }) {}

void TaggingServer::set_faults(std::function<int()> pick) {
  std::lock_guard lock(mutex_);
  pick_ = std::move(pick);
}

std::optional<int> TaggingServer::fault_of(long serial) const {
  std::lock_guard lock(mutex_);
  const auto it = fault_of_.find(serial);
  return it == fault_of_.end() ? std::nullopt : std::optional<int>(it->second);
}

std::optional<int> TaggingServer::first_fault_for(const std::string &tag) const {
  std::lock_guard lock(mutex_);
  const auto it = first_fault_for_.find(tag);
  return it == first_fault_for_.end() ? std::nullopt : std::optional<int>(it->second);
}

bool TaggingServer::wait_for(const std::string &tag, int ms) const {
  std::unique_lock lock(mutex_);
  return tagged_.wait_for(lock, std::chrono::milliseconds(ms),
                          [&] { return first_fault_for_.count(tag) > 0; });
}

std::array<long, TaggingServer::kFaultKinds> TaggingServer::counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

// One request after the other: its first int32 tells the protocol.  The
// connection ends when the peer closes it or a fault ends it.
void TaggingServer::serve(int fd) {
  const peer::Stopper &stop = acceptor_.stopper();
  for (Bytes request; read_exact(stop, fd, 4, request); request.clear()) {
    if (le32_at(request, 0) >= kFirstXmlCode) {
      if (!read_exact(stop, fd, 12, request)) break;
      const int32_t length = le32_at(request, 12);
      if (length < 0 || length > kMaxXmlRequest ||
          !read_exact(stop, fd, static_cast<size_t>(length), request))
        break;
    } else if (!read_exact(stop, fd, rec::kSize - 4, request)) {
      break;
    }
    int fault = kNone;
    Answer a;
    long serial = 0;
    {
      std::lock_guard lock(mutex_);
      serial = ++serial_;
      a = answer(request, serial);
      if (pick_) fault = pick_();
      fault_of_[serial] = fault;
      if (!a.tag.empty()) first_fault_for_.emplace(a.tag, fault);
      ++counts_[fault];
    }
    tagged_.notify_all();
    if (!deliver(fd, a, fault, serial)) break;
  }
  ::close(fd);
}

TaggingServer::Answer TaggingServer::answer(const Bytes &request, long serial) const {
  const std::string at = "@" + std::to_string(serial);
  const int32_t code = le32_at(request, 0);
  Answer a;
  if (code >= kFirstXmlCode) {
    const Bytes body = request.substr(16);
    std::string stray = "<r>";  // whatever export takes it finds "stray" in its element
    for (const std::string e : {"desc", "states", "types", "rule", "notify"})
      stray += "<" + e + ">stray" + at + "</" + e + ">";
    a.stray = xml_reply(20900, stray + "</r>");
    if (code == kFirstXmlCode) {
      a.tag = element(body, "ver");
      const bool known = element(body, "name") == name_ && element(body, "pwd") == pwd_;
      a.bytes = xml_reply(known ? 20900 : 20901, "<r><desc>" + a.tag + at + "</desc></r>");
    } else if (const char *kind = query_element(code)) {
      a.bytes =
          xml_reply(20900, std::string("<r><") + kind + ">" + kind + at + "</" + kind + "></r>");
    } else {
      a.bytes = xml_reply(20901, "<r/>");
    }
    return a;
  }
  a.stray = rec::make(900, "stray" + at, "stray", "stray", "stray");
  switch (code) {
    case 100: {  // the login: body "app;extra", answered with extra
      const Bytes body = rec::body(request);
      const size_t semicolon = body.find(';');
      a.tag = semicolon == Bytes::npos ? Bytes() : body.substr(semicolon + 1);
      const bool known = rec::param(request, 1) == name_ && rec::param(request, 2) == pwd_;
      a.bytes = rec::make(known ? 900 : 901, a.tag + at, "", "", rec::param(request, 3));
      break;
    }
    case 104:
      a.tag = rec::body(request);
      a.bytes = rec::make(900, a.tag + at, rec::param(request, 1));
      break;
    case 105: a.bytes = rec::make(105, "hb" + at); break;
    case 107: a.bytes = rec::make(900, "ud" + at, "ud1", "ud2", "ud3"); break;
    default: a.bytes = rec::make(999, "unknown" + at); break;
  }
  return a;
}

// Sends the answer as the fault says; false when the connection is to end.
bool TaggingServer::deliver(int fd, const Answer &a, int fault, long serial) const {
  const peer::Stopper &stop = acceptor_.stopper();
  const Bytes &b = a.bytes;
  std::minstd_rand detail(static_cast<unsigned>(serial));
  const size_t part = detail() % b.size();
  switch (fault) {
    case kSplit: {  // two to four pieces, a tenth of the time-out apart
      std::vector<size_t> cuts{0, b.size()};
      for (unsigned n = 1 + detail() % 3; n > 0; --n) cuts.push_back(1 + detail() % (b.size() - 1));
      std::sort(cuts.begin(), cuts.end());
      for (size_t i = 0; i + 1 < cuts.size(); ++i)
        if ((i > 0 && !stop.pause(timeout_ms_ / 10)) ||
            !peer::write_all(fd, std::string_view(b).substr(cuts[i], cuts[i + 1] - cuts[i])))
          return false;
      return true;
    }
    case kDelay:  // the peer has given up by now: the late answer must go nowhere
      if (!stop.pause(2 * timeout_ms_)) return false;
      peer::write_all(fd, b);
      return true;
    case kDrip: {
      const auto until =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(6 * timeout_ms_);
      size_t i = 0;
      for (; i < b.size() && std::chrono::steady_clock::now() < until; ++i)
        if (!peer::write_all(fd, std::string_view(b).substr(i, 1)) || !stop.pause(timeout_ms_ / 2))
          return false;
      return peer::write_all(fd, std::string_view(b).substr(i));
    }
    case kClose: peer::write_all(fd, b.substr(0, part)); return false;
    case kReset:
      peer::write_all(fd, b.substr(0, part));
      peer::arm_reset(fd);
      return false;
    case kStall: stop.wait(fd, POLLRDHUP); return false;
    case kExtra: return peer::write_all(fd, b + a.stray);
    default: return peer::write_all(fd, b);
  }
}

}  // namespace qvtest
