// The protocol trace: an opt-in account of what the library does, one line
// per event (connects and proxy steps, each request and answer, time-outs,
// failures, relogins, disconnects), with a monotonic time stamp and the
// calling thread.  Off by default; while off, each event point costs one
// relaxed load.  Secrets never reach it: their bytes are masked in every
// line and in the hex dump.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qv::trace {

extern std::atomic<bool> g_on;

inline bool on() { return g_on.load(std::memory_order_relaxed); }

// Starts a trace into the file at path (appended to; created for its owner
// alone), or into standard error for "-"; a trace already running is
// stopped first.  hex adds a dump of every byte sent and received.  False,
// with the reason in *why, when the file is refused (a symbolic link, not a
// regular file, an existing file that others may read) or cannot be opened.
bool start(std::string_view path, bool hex, std::string *why = nullptr);
void stop();
// Starts the trace that the environment asks for (QUORVEX_TRACE, and
// QUORVEX_TRACE_HEX=1 for the dump), unless one is running.
void start_from_environment();
bool hex();

// The session a thread's lines are about while it runs a call on one:
// each line it writes names the session ("s3") after the thread.  0, the
// default session or none, adds nothing.
class SessionScope {
 public:
  explicit SessionScope(uint64_t number) noexcept;
  ~SessionScope();
  SessionScope(const SessionScope &) = delete;
  SessionScope &operator=(const SessionScope &) = delete;

 private:
  uint64_t previous_;
};

// One event line.  A failed write stops the trace; the call goes on.
void event(std::string_view text) noexcept;

// An event whose text is made only while the trace is on: line() returns
// it (a std::string or a literal).  While the trace is off this costs the
// one relaxed load and builds nothing.
template <class Line>
void event_if_on(Line &&line) {
  if (on()) event(line());
}

// Bytes that must not appear in a dump: a range of the block being sent.
struct Secret {
  size_t at;
  size_t size;
};

// What the trace shows of one block about to be sent, decided once before
// it goes out: whether it is dumped, and which ranges are masked.  The
// dump follows this snapshot and never the trace's state at the time of
// sending, so that a hex trace switched on by another thread part-way
// through a write cannot dump a block whose masks were never set.
struct Outgoing {
  bool dump = false;
  uint8_t count = 0;
  std::array<Secret, 4> secrets{};

  // The trace as it is now, nothing masked.
  static Outgoing now() { return {on() && hex()}; }
  void mask(size_t at, size_t size) {
    if (size && count < secrets.size()) secrets[count++] = {at, size};
  }
  bool masked(size_t i) const;
};

// A hex dump of a block sent, as out says, or received.
void dump_sent(const void *data, size_t size, const Outgoing &out);
void dump_received(const void *data, size_t size);

// A text as the trace shows it: GBK turned into UTF-8 (text that is UTF-8
// already kept as it is, when utf8_first), quoted, control bytes escaped.
std::string quoted(std::string_view gbk, bool utf8_first = false);
// The mask that stands for a secret.
inline constexpr std::string_view kMasked = "\"***\"";

// Milliseconds since a steady-clock stamp, for "in N ms".
int64_t now_us();
std::string elapsed_since(int64_t start_us);

}  // namespace qv::trace
