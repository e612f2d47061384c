// The simulator's network side: a listening socket, an accept thread and a
// thread per connection.  Connection sockets are closed only under the
// mutex by their own thread, so drop_all_connections() and stop() never
// touch a descriptor number that has been reused.
#include "simulator.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "commands.h"
#include "sim_os.h"

namespace qv::sim {

using os::Socket;
using record::CommandRecord;

namespace {

constexpr std::size_t kFxHeaderSize = 16;
constexpr std::size_t kHttpMaxHead = 16384;

int32_t get_int32(const unsigned char *from) {
  return static_cast<int32_t>(uint32_t(from[0]) | uint32_t(from[1]) << 8 | uint32_t(from[2]) << 16 |
                              uint32_t(from[3]) << 24);
}

void put_int32(std::vector<unsigned char> &to, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) to.push_back(static_cast<unsigned char>(u >> shift));
}

// The reply header (code, part 1 of 1, body length) followed by the body.
void frame_fx_reply(const FxReply &fx, std::vector<unsigned char> &out) {
  out.clear();
  put_int32(out, fx.code);
  put_int32(out, 1);
  put_int32(out, 1);
  put_int32(out, static_cast<int32_t>(fx.body.size()));
  out.insert(out.end(), fx.body.begin(), fx.body.end());
}

}  // namespace

struct Simulator::Impl {
  struct Connection {
    Socket fd;         // os::kNoSocket once closed; guarded by mu
    std::string peer;  // its address, counted in per_peer while open
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  explicit Impl(Options o) : options(std::move(o)), state(options.accounts) {}

  void accept_loop();
  // Takes an accepted connection on, or closes it at once: over the cap of
  // its peer, or no thread for it.
  void admit(Socket fd);
  // One request of either protocol.
  struct Request {
    bool http = false;  // an HTTP GET: answered with the status page, then closed
    bool xml = false;
    bool idle = false;     // the last read ended for the idle time-out
    CommandRecord record;  // the record protocol
    int32_t fx_code = 0;   // the XML protocol: header code and body
    std::string fx_body;
  };

  void serve(Connection &connection, std::size_t id);
  bool read_request(Socket fd, Request &request, Session &session);
  bool read_http_head(Socket fd, Request &request, Session &session);
  void answer_http(Socket fd, Session &session);
  bool wait_delay();
  bool is_stopping() {
    std::lock_guard lock(mu);
    return stopping;
  }
  void close_connection(Connection &connection);
  void release_peer_locked(const std::string &peer);
  void reap_finished();
  void log(const std::string &line);
  void log_contents(std::size_t id, const Request &request,
                    const std::vector<unsigned char> &reply);
  std::string shown(std::string_view text) const;
  std::string shown_record(const CommandRecord &r, bool request) const;

  const Options options;
  PlatformState state;  // guarded by state_mu
  std::mutex state_mu;

  std::mutex mu;
  std::condition_variable stopping_cv;
  bool stopping = false;
  Socket listen_fd = os::kNoSocket;
  uint16_t port = 0;
  std::thread acceptor;
  std::list<std::unique_ptr<Connection>> connections;
  std::map<std::string, std::size_t> per_peer;  // open connections by address
  std::size_t accepted = 0;
  std::size_t answered = 0;
  std::size_t refused = 0;
};

void Simulator::Impl::accept_loop() {
  std::string last_failure;
  for (;;) {
    bool transient = false;
    std::string why;
    const Socket fd = os::accept_connection(listen_fd, transient, why);
    // stop() wakes accept() once it has set stopping.
    if (is_stopping()) {
      if (fd != os::kNoSocket) os::close_socket(fd);
      return;
    }
    if (fd == os::kNoSocket) {
      if (!transient) {
        log("accept failed, no longer accepting: " + why);
        return;
      }
      // Out of descriptors (or an aborted connection): those of ending
      // connections come free, so wait a moment and accept again rather
      // than spin or give up; one log line per kind of failure.
      if (why != last_failure) log("accept failed, trying again: " + why);
      last_failure = why;
      std::unique_lock lock(mu);
      if (stopping_cv.wait_for(lock, std::chrono::milliseconds(10), [this] { return stopping; }))
        return;
      continue;
    }
    last_failure.clear();
    reap_finished();
    admit(fd);
  }
}

void Simulator::Impl::admit(Socket fd) {
  const std::string peer = os::peer_address(fd);
  std::string refusal;
  {
    std::lock_guard lock(mu);
    const std::size_t held = per_peer[peer];
    if (options.max_per_peer == 0 || held < options.max_per_peer) {
      ++per_peer[peer];
      if (options.idle_timeout.count() > 0)
        os::set_idle_timeout(
            fd, static_cast<uint32_t>(std::min<int64_t>(options.idle_timeout.count(), INT32_MAX)));
      auto &connection = *connections.emplace_back(std::make_unique<Connection>());
      connection.fd = fd;
      connection.peer = peer;
      const std::size_t id = ++accepted;
      try {
        connection.thread = std::thread([this, &connection, id] { serve(connection, id); });
        return;
      } catch (const std::system_error &e) {
        // Out of threads: this one is closed, the others are served on.
        refusal = "no thread for a connection from " + peer + " (" + e.code().message() + ")";
        release_peer_locked(peer);
        connections.pop_back();
      }
    } else {
      refusal = "refused a connection from " + peer + ", which holds " + std::to_string(held) +
                " already";
    }
    ++refused;
  }
  os::close_socket(fd);
  log(refusal + ", closing it");
}

void Simulator::Impl::serve(Connection &connection, std::size_t id) {
  Session session{.id = id};
  log("#" + std::to_string(id) + " connected");
  Request request;
  std::vector<unsigned char> reply;
  for (;;) {
    if (!read_request(connection.fd, request, session)) {
      if (request.idle)
        log("#" + std::to_string(id) + " idle for " + std::to_string(options.idle_timeout.count()) +
            " ms, closing");
      break;
    }
    if (request.http) {
      answer_http(connection.fd, session);
      break;
    }
    std::string_view command;
    int32_t code = 0;
    {
      std::lock_guard lock(state_mu);
      if (request.xml) {
        const FxReply fx = answer_fx(state, session, request.fx_code, request.fx_body, command);
        code = fx.code;
        frame_fx_reply(fx, reply);
      } else {
        const AccountState *account = session.account;
        const std::size_t jobs_before = account ? account->jobs_applied : 0;
        const CommandRecord record = answer(state, session, request.record, command);
        code = record.code();
        if (options.applied && account && account == session.account &&
            account->jobs_applied != jobs_before) {
          const SendJob &job = session.account->jobs.back();
          options.applied(job.number, job.recipients.empty() ? "" : job.recipients.front().number);
        }
        reply.assign(record.data(), record.data() + record.size());
      }
    }
    if (!wait_delay()) break;
    // One buffer, one send: header and body never travel apart.
    if (!os::write_all(connection.fd, reply.data(), reply.size())) break;
    {
      std::lock_guard lock(mu);
      ++answered;
    }
    ++session.answered;
    const int32_t request_code = request.xml ? request.fx_code : request.record.code();
    if (options.log_contents) log_contents(id, request, reply);
    log("#" + std::to_string(id) + " " + std::to_string(request_code) + " " + std::string(command) +
        " -> " + std::to_string(code));
    if (options.drop_after != 0 && session.answered >= options.drop_after) {
      log("#" + std::to_string(id) + " dropped after " + std::to_string(session.answered) +
          " answers");
      break;
    }
  }
  close_connection(connection);
  log("#" + std::to_string(id) + " closed");
  connection.finished = true;
}

// Reads one request: a record, or an XML-protocol header and its body when
// the first int32 is kFirstXmlCode or above.  False on a close, an error
// or an XML body over kFxMaxRequestBody.
bool Simulator::Impl::read_request(Socket fd, Request &request, Session &session) {
  request.record.clear();
  bool *const idle = &request.idle;
  unsigned char *bytes = request.record.data();
  if (!os::read_exactly(fd, bytes, 4, idle)) return false;
  request.http = std::memcmp(bytes, "GET ", 4) == 0;
  if (request.http) return read_http_head(fd, request, session);
  request.xml = request.record.code() >= kFirstXmlCode;
  if (!request.xml) return os::read_exactly(fd, bytes + 4, CommandRecord::size() - 4, idle);
  unsigned char header[kFxHeaderSize];
  std::memcpy(header, bytes, 4);
  if (!os::read_exactly(fd, header + 4, kFxHeaderSize - 4, idle)) return false;
  request.fx_code = get_int32(header);
  const int32_t length = get_int32(header + 12);
  if (length < 0 || length > kFxMaxRequestBody) {
    log("#" + std::to_string(session.id) + " " + std::to_string(request.fx_code) + " XML body of " +
        std::to_string(length) + " bytes refused, closing");
    os::close_gracefully(fd);
    return false;
  }
  request.fx_body.resize(static_cast<std::size_t>(length));
  return os::read_exactly(fd, reinterpret_cast<unsigned char *>(request.fx_body.data()),
                          request.fx_body.size(), idle);
}

// Reads the rest of an HTTP request head, up to its empty line; false on a
// close, an error or a head over kHttpMaxHead.
bool Simulator::Impl::read_http_head(Socket fd, Request &request, Session &session) {
  std::string head = "GET ";
  while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
    if (head.size() >= kHttpMaxHead) {
      log("#" + std::to_string(session.id) + " HTTP request head over " +
          std::to_string(kHttpMaxHead) + " bytes, closing");
      os::close_gracefully(fd);
      return false;
    }
    unsigned char c;
    if (!os::read_exactly(fd, &c, 1, &request.idle)) return false;
    head.push_back(static_cast<char>(c));
  }
  log("#" + std::to_string(session.id) + " " + head.substr(0, head.find("\r\n")));
  return true;
}

// The status page: one line of counters, whatever the path, so that a
// host can time a request to the platform's side.
void Simulator::Impl::answer_http(Socket fd, Session &session) {
  std::string body;
  {
    std::lock_guard lock(mu);
    body = "quorvex-sim on 127.0.0.1:" + std::to_string(port) + ": " + std::to_string(accepted) +
           " connections, " + std::to_string(answered) + " requests answered\r\n";
  }
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  if (os::write_all(fd, reinterpret_cast<const unsigned char *>(reply.data()), reply.size())) {
    log("#" + std::to_string(session.id) + " HTTP -> 200");
    os::close_gracefully(fd);
  }
}

// Waits out the answer delay; false when the simulator stops meanwhile.
bool Simulator::Impl::wait_delay() {
  if (options.delay.count() <= 0) return true;
  std::unique_lock lock(mu);
  return !stopping_cv.wait_for(lock, options.delay, [this] { return stopping; });
}

void Simulator::Impl::close_connection(Connection &connection) {
  std::lock_guard lock(mu);
  os::close_socket(connection.fd);
  connection.fd = os::kNoSocket;
  release_peer_locked(connection.peer);
}

void Simulator::Impl::release_peer_locked(const std::string &peer) {
  const auto it = per_peer.find(peer);
  if (it != per_peer.end() && --it->second == 0) per_peer.erase(it);
}

void Simulator::Impl::reap_finished() {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard lock(mu);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if ((*it)->finished) done.splice(done.end(), connections, it);
      it = next;
    }
  }
  for (auto &c : done) c->thread.join();
}

namespace {

// Fields that carry a password, by request code; shown masked.
bool secret_field(int32_t code, record::Field f) {
  using F = record::Field;
  switch (code) {
    case 100: return f == F::Param2;
    case 110:
    case 119: return f != F::Body;
    case 111:
    case 1110:
    case 1111: return f == F::Param1;
    default: return false;
  }
}

}  // namespace

std::string Simulator::Impl::shown(std::string_view text) const {
  if (options.show_text) return options.show_text(text);
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f && c != '"' && c != '\\') {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    }
  }
  return out + "\"";
}

std::string Simulator::Impl::shown_record(const CommandRecord &r, bool request) const {
  using F = record::Field;
  std::string line = std::to_string(r.code());
  const char *names[] = {" body ", " p1 ", " p2 ", " p3 "};
  for (F f : {F::Body, F::Param1, F::Param2, F::Param3})
    line += names[static_cast<int>(f)] +
            (request && secret_field(r.code(), f) ? std::string("\"***\"") : shown(r.text(f)));
  return line;
}

// "#1 < 106 body ..." for what arrived, "#1 > 900 body ..." for the answer.
void Simulator::Impl::log_contents(std::size_t id, const Request &request,
                                   const std::vector<unsigned char> &reply) {
  const std::string who = "#" + std::to_string(id);
  if (!request.xml) {
    log(who + " < " + shown_record(request.record, true));
    CommandRecord answer;
    std::memcpy(answer.data(), reply.data(), std::min(reply.size(), CommandRecord::size()));
    log(who + " > " + shown_record(answer, false));
    return;
  }
  std::string body = request.fx_body;
  if (const size_t open = body.find("<pwd>"); open != std::string::npos) {
    const size_t close = body.find("</pwd>", open);
    body.replace(open + 5, (close == std::string::npos ? body.size() : close) - open - 5, "***");
  }
  log(who + " < xml " + std::to_string(request.fx_code) + " " + shown(body));
  const std::string_view answer(reinterpret_cast<const char *>(reply.data()), reply.size());
  const int32_t code = reply.size() >= kFxHeaderSize ? get_int32(reply.data()) : -1;
  log(who + " > xml " + std::to_string(code) + " " +
      shown(answer.substr(std::min(answer.size(), kFxHeaderSize))));
}

void Simulator::Impl::log(const std::string &line) {
  if (!options.log) return;
  static std::mutex log_mu;  // one line at a time, across simulators
  std::lock_guard lock(log_mu);
  options.log(line);
}

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() { stop(); }

uint16_t Simulator::start(uint16_t port) {
  std::lock_guard lock(impl_->mu);
  if (impl_->listen_fd != os::kNoSocket) throw std::logic_error("Simulator already started");
  impl_->listen_fd = os::listen_on_loopback(port);
  impl_->port = os::bound_port(impl_->listen_fd);
  impl_->stopping = false;
  impl_->acceptor = std::thread([impl = impl_.get()] { impl->accept_loop(); });
  return impl_->port;
}

void Simulator::stop() {
  {
    std::lock_guard lock(impl_->mu);
    if (impl_->listen_fd == os::kNoSocket) return;
    impl_->stopping = true;
    os::wake_accept(impl_->listen_fd, impl_->port);
  }
  impl_->stopping_cv.notify_all();
  impl_->acceptor.join();
  std::list<std::unique_ptr<Impl::Connection>> all;
  {
    std::lock_guard lock(impl_->mu);
    os::close_socket(impl_->listen_fd);
    impl_->listen_fd = os::kNoSocket;
    impl_->port = 0;
    for (auto &c : impl_->connections)
      if (c->fd != os::kNoSocket) os::interrupt(c->fd);
    all.swap(impl_->connections);
  }
  for (auto &c : all) c->thread.join();
}

void Simulator::drop_all_connections() {
  std::lock_guard lock(impl_->mu);
  for (auto &c : impl_->connections)
    if (c->fd != os::kNoSocket) os::interrupt(c->fd);
}

uint16_t Simulator::port() const {
  std::lock_guard lock(impl_->mu);
  return impl_->port;
}

std::size_t Simulator::connections_accepted() const {
  std::lock_guard lock(impl_->mu);
  return impl_->accepted;
}

std::size_t Simulator::logins_accepted() const {
  std::lock_guard lock(impl_->state_mu);
  return impl_->state.logins_accepted;
}

std::size_t Simulator::connections_refused() const {
  std::lock_guard lock(impl_->mu);
  return impl_->refused;
}

std::size_t Simulator::records_answered() const {
  std::lock_guard lock(impl_->mu);
  return impl_->answered;
}

}  // namespace qv::sim
