#include "trace/trace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/code_page.h"
#include "platform/owner_file.h"

namespace qv::trace {

std::atomic<bool> g_on{false};

namespace {

std::mutex g_mutex;  // guards the file and every line written to it
std::FILE *g_file = nullptr;
bool g_owns_file = false;
std::atomic<bool> g_hex{false};
int64_t g_start_us = 0;

std::atomic<int> g_next_thread{1};
thread_local int t_thread = 0;
thread_local uint64_t t_session = 0;

int thread_number() {
  if (t_thread == 0) t_thread = g_next_thread.fetch_add(1);
  return t_thread;
}

void close_locked() {
  g_on.store(false);
  if (g_file && g_owns_file) std::fclose(g_file);
  g_file = nullptr;
  g_owns_file = false;
}

// Writes one line; a write that fails ends the trace, never the call.
void write_locked(std::string_view text) {
  if (!g_file) return;
  char stamp[80];
  const int64_t us = now_us() - g_start_us;
  const int n =
      std::snprintf(stamp, sizeof stamp, "%lld.%06lld t%d ", static_cast<long long>(us / 1000000),
                    static_cast<long long>(us % 1000000), thread_number());
  if (t_session != 0 && n > 0 && static_cast<size_t>(n) < sizeof stamp)
    std::snprintf(stamp + n, sizeof stamp - static_cast<size_t>(n), "s%llu ",
                  static_cast<unsigned long long>(t_session));
  const bool ok = std::fputs(stamp, g_file) >= 0 &&
                  std::fwrite(text.data(), 1, text.size(), g_file) == text.size() &&
                  std::fputc('\n', g_file) != EOF && std::fflush(g_file) == 0;
  if (!ok) close_locked();
}

bool valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

}  // namespace

int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string elapsed_since(int64_t start_us) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f ms", static_cast<double>(now_us() - start_us) / 1000.0);
  return buf;
}

bool start(std::string_view path, bool hex, std::string *why) {
  std::lock_guard<std::mutex> lock(g_mutex);
  close_locked();
  std::string reason;
  if (path == "-") {
    g_file = stderr;
  } else {
    g_file = platform::open_owner_append(std::string(path).c_str(), reason);
    g_owns_file = g_file != nullptr;
  }
  if (!g_file) {
    if (why) *why = reason;
    return false;
  }
  g_hex = hex;
  g_start_us = now_us();
  write_locked(hex ? "trace started (with a hex dump of every byte)" : "trace started");
  g_on.store(g_file != nullptr);
  return g_file != nullptr;
}

void stop() {
  std::lock_guard<std::mutex> lock(g_mutex);
  write_locked("trace stopped");
  close_locked();
}

void start_from_environment() {
  if (on()) return;
  const char *path = std::getenv("QUORVEX_TRACE");
  if (!path || !*path) return;
  const char *hex = std::getenv("QUORVEX_TRACE_HEX");
  start(path, hex && std::string_view(hex) == "1");
}

bool hex() { return g_hex; }

SessionScope::SessionScope(uint64_t number) noexcept : previous_(t_session) { t_session = number; }
SessionScope::~SessionScope() { t_session = previous_; }

void event(std::string_view text) noexcept {
  try {
    std::lock_guard<std::mutex> lock(g_mutex);
    write_locked(text);
  } catch (...) {
    // A trace that cannot be written is no error of the call.
  }
}

namespace {

// Rows of 16 bytes, hex then ASCII; a masked byte shows as "**" and "*".
void dump_block(char direction, const unsigned char *bytes, size_t size, const Outgoing *out) {
  std::string text;
  text.reserve(size * 4 + 64);
  char line[96];
  std::snprintf(line, sizeof line, "%s %zu bytes", direction == '>' ? "sent" : "received", size);
  text += line;
  for (size_t row = 0; row < size; row += 16) {
    std::snprintf(line, sizeof line, "\n    %c %06zx ", direction, row);
    text += line;
    std::string ascii;
    for (size_t i = row; i < row + 16; ++i) {
      if (i >= size) {
        text += "   ";
        continue;
      }
      if (out && out->masked(i)) {
        text += "** ";
        ascii += '*';
      } else {
        std::snprintf(line, sizeof line, "%02x ", bytes[i]);
        text += line;
        ascii += bytes[i] >= 0x20 && bytes[i] < 0x7f ? static_cast<char>(bytes[i]) : '.';
      }
    }
    text += ascii;
  }
  event(text);
}

}  // namespace

bool Outgoing::masked(size_t i) const {
  return std::any_of(secrets.begin(), secrets.begin() + count,
                     [i](const Secret &s) { return i >= s.at && i < s.at + s.size; });
}

void dump_sent(const void *data, size_t size, const Outgoing &out) {
  if (!out.dump || !on()) return;
  try {
    dump_block('>', static_cast<const unsigned char *>(data), size, &out);
  } catch (...) {
    // The trace is only a witness: its own failure changes no call.
  }
}

void dump_received(const void *data, size_t size) {
  if (!on() || !g_hex) return;
  try {
    dump_block('<', static_cast<const unsigned char *>(data), size, nullptr);
  } catch (...) {
  }
}

std::string quoted(std::string_view gbk, bool utf8_first) {
  std::string utf8;
  const bool as_is = utf8_first && valid_utf8(gbk);
  const bool readable = as_is || platform::gbk_to_utf8(gbk, utf8);
  const std::string_view shown = as_is ? gbk : readable ? std::string_view(utf8) : gbk;
  std::string out = "\"";
  for (const char c : shown) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7f || (!readable && u >= 0x80)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace qv::trace
