// The protocol trace: an opt-in account of what the library does, one line
// per event (connects and proxy steps, each request and answer, time-outs,
// failures, relogins, disconnects), with a monotonic time stamp and the
// calling thread.  Off by default; while off, each event point costs one
// relaxed load.  Secrets never reach it: their bytes are masked in every
// line and in the hex dump.
#pragma once

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
// regular file) or cannot be opened.
bool start(std::string_view path, bool hex, std::string *why = nullptr);
void stop();
// Starts the trace that the environment asks for (QUORVEX_TRACE, and
// QUORVEX_TRACE_HEX=1 for the dump), unless one is running.
void start_from_environment();
bool hex();

// One event line.  A failed write stops the trace; the call goes on.
void event(std::string_view text) noexcept;

// Bytes that must not appear in a dump: a range of the block being sent.
struct Secret {
  size_t at;
  size_t size;
};

// Shows a range of the next block sent on this thread as masked.
class SecretScope {
 public:
  explicit SecretScope(std::initializer_list<Secret> secrets);
  ~SecretScope();
  SecretScope(const SecretScope &) = delete;
  SecretScope &operator=(const SecretScope &) = delete;
};

// A hex dump of a block sent (">") or received ("<").
void dump(char direction, const void *data, size_t size);

// A text as the trace shows it: GBK turned into UTF-8 (text that is UTF-8
// already kept as it is, when utf8_first), quoted, control bytes escaped.
std::string quoted(std::string_view gbk, bool utf8_first = false);
// The mask that stands for a secret.
inline constexpr std::string_view kMasked = "\"***\"";

// Milliseconds since a steady-clock stamp, for "in N ms".
int64_t now_us();
std::string elapsed_since(int64_t start_us);

}  // namespace qv::trace
