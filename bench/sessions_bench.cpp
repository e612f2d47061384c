// quorvex_sessions_bench: how the library's sessions scale.  Heartbeat
// exchanges per second with 1, 2, 4, 8, 16 and 32 sessions, each driven by a
// thread of its own, against a loopback server that answers every request
// 1 ms after it has arrived (a server a round trip away), beside as many
// raw blocking sockets writing the same request and reading the same answer
// from the same server in the same run; and, with --idle K, the resident
// memory that an idle connected and logged-in session adds to its host,
// beside a raw socket that has made the same exchange.  Driven through the
// public header only, as a host drives it.
//
//   quorvex_sessions_bench [ROUNDS [PHASE_MS]]   the scaling table
//   quorvex_sessions_bench --idle K              memory of K idle sessions
//
// Each count runs ROUNDS rounds (default 7); a round is one phase of the
// library and one of the raw sockets, PHASE_MS long (default 400), in
// alternating order, so that both sides see the machine at the same moment.
// Figures are medians over the rounds; the ratio is the median of each
// round's library/raw.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "median.h"
#include "quorvex.h"

namespace {

using Clock = std::chrono::steady_clock;
using qvbench::Record;

constexpr int32_t kLoginCode = 100;
constexpr int32_t kHeartbeatCode = 105;
constexpr int32_t kAccepted = 900;
constexpr int kConnectTimeoutMs = 5000;
constexpr std::chrono::microseconds kAnswerDelay{1000};
constexpr int kCounts[] = {1, 2, 4, 8, 16, 32};
constexpr int kScalingTargetUpTo = 16;
constexpr double kTarget = 0.9;
constexpr int kIdleRepetitions = 3;

// ------------------------------------------------------------ the two sides

// The library's sessions, connected to the server.
class LibraryFleet {
 public:
  LibraryFleet(int count, uint16_t port) {
    char message[QV_BODY_BUFFER_SIZE] = {};
    for (int i = 0; i < count; ++i) {
      QvSession *session = QvSessionCreate();
      sessions_.push_back(session);
      if (!session || !QvTcpConnect(session, message, "127.0.0.1", port, kConnectTimeoutMs, "", "",
                                    0, "", "")) {
        std::fprintf(stderr, "session %d could not connect: %s\n", i + 1, message);
        std::exit(1);
      }
    }
  }
  ~LibraryFleet() {
    for (QvSession *session : sessions_) QvSessionDestroy(session);
  }
  LibraryFleet(const LibraryFleet &) = delete;
  LibraryFleet &operator=(const LibraryFleet &) = delete;

  // Logs every session in, as a host does before it goes idle.
  bool log_in() {
    char message[QV_BODY_BUFFER_SIZE], p1[QV_PARAM_BUFFER_SIZE], p2[QV_PARAM_BUFFER_SIZE],
        p3[QV_PARAM_BUFFER_SIZE];
    int32_t code = -1;
    for (QvSession *session : sessions_)
      if (!QvLogin_Request(session, "bench", "", "demo", "demo123", "1.0") ||
          !QvLogin_Feedback(session, &code, message, p1, p2, p3) || code != kAccepted)
        return false;
    return true;
  }
  bool exchange(std::size_t i) { return QvHeartbeat(sessions_[i]) == 1; }

 private:
  std::vector<QvSession *> sessions_;
};

// The floor: plain blocking sockets, each writing a whole record and
// reading a whole record.
class RawFleet {
 public:
  RawFleet(int count, uint16_t port) {
    qvbench::encode_record(heartbeat_, kHeartbeatCode, {}, {});
    for (int i = 0; i < count; ++i) {
      sockets_.push_back(qvbench::raw_connect(port));
      if (!sockets_.back().valid()) {
        std::fprintf(stderr, "raw socket %d could not connect\n", i + 1);
        std::exit(1);
      }
    }
  }
  // The login's record (texts as the library sends them) and its answer.
  bool log_in() {
    Record login, reply;
    qvbench::encode_record(login, kLoginCode, "bench;", "demo");
    for (const qvbench::Socket &socket : sockets_)
      if (!exchange_on(socket.fd(), login, reply)) return false;
    return true;
  }
  bool exchange(std::size_t i) {
    Record reply;  // each thread its own
    return exchange_on(sockets_[i].fd(), heartbeat_, reply);
  }

 private:
  static bool exchange_on(int fd, const Record &request, Record &reply) {
    return qvbench::write_all(fd, request.data(), request.size()) &&
           qvbench::read_all(fd, reply.data(), reply.size()) &&
           qvbench::record_code(reply) == kAccepted;
  }

  Record heartbeat_{};
  std::vector<qvbench::Socket> sockets_;
};

// ------------------------------------------------------------ the scaling

// Runs `exchange(i)` in a loop on thread i, for `count` threads, for one
// phase; returns exchanges per second over all threads, or a negative
// number when an exchange failed.  The threads are started and waiting
// before the clock starts, so that no thread's start-up is timed; each
// thread's rate runs from the common start to the end of its own last
// exchange.
double run_phase(int count, std::chrono::milliseconds length,
                 const std::function<bool(std::size_t)> &exchange) {
  const auto threads_wanted = static_cast<std::size_t>(count);
  std::vector<uint64_t> done(threads_wanted, 0);
  std::vector<Clock::time_point> last(threads_wanted);
  std::atomic<bool> failed{false};
  std::latch ready(count), go(1);
  Clock::time_point start, end;
  std::vector<std::thread> threads;
  threads.reserve(threads_wanted);
  for (std::size_t i = 0; i < threads_wanted; ++i) {
    threads.emplace_back([&, i] {
      ready.count_down();
      go.wait();
      uint64_t n = 0;
      Clock::time_point now = start;
      while (now < end) {
        if (!exchange(i)) {
          failed = true;
          break;
        }
        ++n;
        now = Clock::now();
      }
      done[i] = n;
      last[i] = now;
    });
  }
  ready.wait();
  start = Clock::now();
  end = start + length;
  go.count_down();
  for (std::thread &t : threads) t.join();
  if (failed) return -1;
  double rate = 0;
  for (std::size_t i = 0; i < threads_wanted; ++i) {
    const std::chrono::duration<double> took = last[i] - start;
    if (took.count() > 0) rate += static_cast<double>(done[i]) / took.count();
  }
  return rate;
}

struct CountResult {
  int count = 0;
  double library = 0, raw = 0, ratio = 0;
};

CountResult measure_count(int count, uint16_t port, int rounds, std::chrono::milliseconds phase) {
  LibraryFleet library(count, port);
  RawFleet raw(count, port);
  const auto library_exchange = [&library](std::size_t i) { return library.exchange(i); };
  const auto raw_exchange = [&raw](std::size_t i) { return raw.exchange(i); };
  // A short warm-up of each side: connections, caches and code paths.
  run_phase(count, std::chrono::milliseconds(50), library_exchange);
  run_phase(count, std::chrono::milliseconds(50), raw_exchange);
  std::vector<double> library_rates, raw_rates, ratios;
  for (int round = 0; round < rounds; ++round) {
    double l = 0, r = 0;
    if (round % 2 == 0) {
      l = run_phase(count, phase, library_exchange);
      r = run_phase(count, phase, raw_exchange);
    } else {
      r = run_phase(count, phase, raw_exchange);
      l = run_phase(count, phase, library_exchange);
    }
    if (l <= 0 || r <= 0) {
      std::fprintf(stderr, "an exchange failed with %d sessions\n", count);
      std::exit(1);
    }
    library_rates.push_back(l);
    raw_rates.push_back(r);
    ratios.push_back(l / r);
  }
  return {count, median_of(library_rates), median_of(raw_rates), median_of(ratios)};
}

int run_scaling(int rounds, std::chrono::milliseconds phase) {
  qvbench::DelayedResponder server(kAnswerDelay);
  std::printf(
      "Heartbeat exchanges per second, server answering %lld us after each request;\n"
      "%d rounds of %lld ms per side and count, medians (ratio: library/raw, per "
      "round;\nscaling: library(N) / library(1) / N; raw_scaling: the same of the raw sockets)\n\n",
      static_cast<long long>(kAnswerDelay.count()), rounds, static_cast<long long>(phase.count()));
  std::vector<CountResult> results;
  for (const int count : kCounts) {
    results.push_back(measure_count(count, server.port(), rounds, phase));
    const CountResult &r = results.back();
    const double scaling = r.library / results.front().library / count;
    const double raw_scaling = r.raw / results.front().raw / count;
    std::printf(
        "sessions %2d exchanges library %8.0f/s raw %8.0f/s ratio %.2f scaling %.2f "
        "raw_scaling %.2f\n",
        count, r.library, r.raw, r.ratio, scaling, raw_scaling);
    std::fflush(stdout);
  }
  bool ratio_met = true, scaling_met = true;
  for (const CountResult &r : results) {
    ratio_met = ratio_met && r.ratio >= kTarget;
    if (r.count <= kScalingTargetUpTo)
      scaling_met = scaling_met && r.library / results.front().library / r.count >= kTarget;
  }
  std::printf("\ntarget ratio %.2f at every count: %s\n", kTarget, ratio_met ? "met" : "missed");
  std::printf("target scaling %.2f up to %d sessions: %s\n", kTarget, kScalingTargetUpTo,
              scaling_met ? "met" : "missed");
  return 0;
}

// ------------------------------------------------------------ idle memory

long vm_rss_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// In a process of its own: the resident memory that `count` connected and
// logged-in sessions (or raw sockets) add, per session, in KiB.  One of each
// is made and destroyed first, so that what the first use alone costs
// (code paged in, the allocator's arenas) is not charged to every one.
double idle_kib_each(bool library, int count, uint16_t port) {
  if (library) {
    LibraryFleet warm(1, port);
    warm.log_in();
  } else {
    RawFleet warm(1, port);
    warm.log_in();
  }
  const long before = vm_rss_kib();
  if (library) {
    LibraryFleet fleet(count, port);
    if (!fleet.log_in()) return -1;
    return static_cast<double>(vm_rss_kib() - before) / count;
  }
  RawFleet fleet(count, port);
  if (!fleet.log_in()) return -1;
  return static_cast<double>(vm_rss_kib() - before) / count;
}

// Runs idle_kib_each in a child process, which starts its own server.
double idle_in_child(bool library, int count) {
  int ends[2];
  if (::pipe(ends) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    double kib = -1;
    {
      qvbench::DelayedResponder server(std::chrono::microseconds(0));
      kib = idle_kib_each(library, count, server.port());
    }
    (void)!::write(ends[1], &kib, sizeof kib);
    ::_exit(0);
  }
  ::close(ends[1]);
  double kib = -1;
  if (child < 0 || ::read(ends[0], &kib, sizeof kib) != sizeof kib) kib = -1;
  ::close(ends[0]);
  if (child > 0) ::waitpid(child, nullptr, 0);
  return kib;
}

int run_idle(int count) {
  // Two descriptors per connection in this process (both ends).
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);
  std::vector<double> library, raw;
  for (int i = 0; i < kIdleRepetitions; ++i) {
    library.push_back(idle_in_child(true, count));
    raw.push_back(idle_in_child(false, count));
  }
  const double l = median_of(library), r = median_of(raw);
  if (l < 0 || r < 0) {
    std::fprintf(stderr, "the idle sessions could not be connected and logged in\n");
    return 1;
  }
  std::printf(
      "idle session resident library %.1f KiB raw %.1f KiB (%d connected at once, "
      "median of %d processes; target under 100 KiB: %s)\n",
      l, r, count, kIdleRepetitions, l < 100 ? "met" : "missed");
  return 0;
}

int positive_argument(const char *text, int fallback) {
  if (!text) return fallback;
  const int value = std::atoi(text);
  return value > 0 ? value : fallback;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "--idle") == 0)
    return run_idle(positive_argument(argc > 2 ? argv[2] : nullptr, 500));
  const int rounds = positive_argument(argc > 1 ? argv[1] : nullptr, 7);
  const int phase_ms = positive_argument(argc > 2 ? argv[2] : nullptr, 400);
  return run_scaling(rounds, std::chrono::milliseconds(phase_ms));
}
