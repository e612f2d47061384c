// quorvex_operations_bench: what an operation costs beside its floor, the
// blocking twin, measured in the same run through the public header:
//  - one session, heartbeats one after the other: QvStartHeartbeat,
//    QvQueueNext and QvOpFree against QvHeartbeat, with a server that
//    answers at once (the cost of the two hand-overs between threads, at
//    its most visible) and with one that answers in 1 ms;
//  - many sessions, a server answering 1 ms after each request: one host
//    thread keeping one operation in flight per session on one queue
//    against as many threads each calling the blocking twin;
//  - the start itself, while 16 sessions wait for a server that answers in
//    200 ms: the time a host's thread spends in QvStartHeartbeat (p50,
//    p99.9), which must never include an exchange;
//  - the CPU the process spends per exchange either way, at the 1 ms server.
//
//   quorvex_operations_bench [ROUNDS [PHASE_MS [SESSIONS]]]
// Rounds alternate which side goes first; figures are medians over rounds,
// the ratio the median of each round's operations/twin.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "loopback.h"
#include "median.h"
#include "quorvex.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<QvSession *> connect_sessions(int count, uint16_t port) {
  std::vector<QvSession *> sessions;
  char message[QV_BODY_BUFFER_SIZE] = {};
  for (int i = 0; i < count; ++i) {
    QvSession *s = QvSessionCreate();
    if (!s || !QvTcpConnect(s, message, "127.0.0.1", port, 5000, "", "", 0, "", "")) {
      std::fprintf(stderr, "session %d could not connect: %s\n", i + 1, message);
      std::exit(1);
    }
    sessions.push_back(s);
  }
  return sessions;
}

// The process's CPU time so far (user and system), in microseconds.
double cpu_micros() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// The CPU per exchange of the last rate_of on this thread, in microseconds.
thread_local double t_cpu_each = 0;

// Exchanges per second that body makes in one phase; body returns how many
// it completed in one step, 0 for a failure.
double rate_of(std::chrono::milliseconds phase, const std::function<int()> &body) {
  const Clock::time_point start = Clock::now(), end = start + phase;
  const double cpu_before = cpu_micros();
  long done = 0;
  Clock::time_point now = start;
  while (now < end) {
    const int n = body();
    if (n <= 0) return -1;
    done += n;
    now = Clock::now();
  }
  t_cpu_each = (cpu_micros() - cpu_before) / static_cast<double>(done);
  return static_cast<double>(done) / std::chrono::duration<double>(now - start).count();
}

struct Pair {
  double operations = 0, twin = 0, ratio = 0;
  double cpu_operations = 0, cpu_twin = 0;  // process CPU per exchange, microseconds
};

// Rounds of both sides, alternating which goes first.
Pair compare(int rounds, const std::function<double()> &operations,
             const std::function<double()> &twin) {
  std::vector<double> o, t, r, co, ct;
  for (int round = 0; round < rounds; ++round) {
    double a = 0, b = 0;
    if (round % 2 == 0) {
      a = operations();
      co.push_back(t_cpu_each);
      b = twin();
      ct.push_back(t_cpu_each);
    } else {
      b = twin();
      ct.push_back(t_cpu_each);
      a = operations();
      co.push_back(t_cpu_each);
    }
    if (a <= 0 || b <= 0) {
      std::fprintf(stderr, "an exchange failed\n");
      std::exit(1);
    }
    o.push_back(a);
    t.push_back(b);
    r.push_back(a / b);
  }
  return {median_of(o), median_of(t), median_of(r), median_of(co), median_of(ct)};
}

template <class Server>
Pair one_session(int rounds, std::chrono::milliseconds phase, Server &server) {
  std::vector<QvSession *> s = connect_sessions(1, server.port());
  QvQueue *q = QvQueueCreate();
  const auto through_operations = [&] {
    return rate_of(phase, [&] {
      QvStartHeartbeat(s[0], q, nullptr);
      QvOp *op = QvQueueNext(q, -1);
      const int ok = op && QvOpResult(op);
      QvOpFree(op);
      return ok;
    });
  };
  const auto blocking = [&] { return rate_of(phase, [&] { return int{QvHeartbeat(s[0])}; }); };
  through_operations();  // warm-up: the worker's first thread, caches
  const Pair p = compare(rounds, through_operations, blocking);
  QvQueueDestroy(q);
  QvSessionDestroy(s[0]);
  return p;
}

Pair many_sessions(int rounds, std::chrono::milliseconds phase, int count) {
  qvbench::DelayedResponder server(std::chrono::microseconds(1000));
  std::vector<QvSession *> s = connect_sessions(count, server.port());
  QvQueue *q = QvQueueCreate();
  const auto through_operations = [&] {
    for (int i = 0; i < count; ++i)
      QvStartHeartbeat(s[i], q, reinterpret_cast<void *>(static_cast<intptr_t>(i)));
    const double rate = rate_of(phase, [&] {
      QvOp *op = QvQueueNext(q, -1);
      const int ok = op && QvOpResult(op);
      const auto i = reinterpret_cast<intptr_t>(QvOpTag(op));
      QvOpFree(op);
      QvStartHeartbeat(s[static_cast<size_t>(i)], q, reinterpret_cast<void *>(i));
      return ok;
    });
    for (int i = 0; i < count; ++i) QvOpFree(QvQueueNext(q, -1));  // the ones still in flight
    return rate;
  };
  const auto threads = [&] {
    std::vector<std::thread> workers;
    std::atomic<long> done{0};
    std::atomic<bool> failed{false};
    const Clock::time_point start = Clock::now(), end = start + phase;
    for (int i = 0; i < count; ++i)
      workers.emplace_back([&, i] {
        long n = 0;
        while (Clock::now() < end) {
          if (!QvHeartbeat(s[static_cast<size_t>(i)])) {
            failed = true;
            break;
          }
          ++n;
        }
        done += n;
      });
    for (std::thread &t : workers) t.join();
    return failed ? -1.0
                  : static_cast<double>(done) /
                        std::chrono::duration<double>(Clock::now() - start).count();
  };
  const Pair p = compare(rounds, through_operations, threads);
  QvQueueDestroy(q);
  for (QvSession *session : s) QvSessionDestroy(session);
  return p;
}

// The time in QvStartHeartbeat while 16 sessions wait for a server that
// answers in 200 ms, in microseconds: p50 and p99.9.
std::pair<double, double> start_cost(int starts) {
  constexpr int kBusy = 16;
  qvbench::DelayedResponder server(std::chrono::microseconds(200000));
  std::vector<QvSession *> s = connect_sessions(kBusy, server.port());
  QvQueue *q = QvQueueCreate();
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(starts));
  for (int i = 0; i < starts; ++i) {
    const Clock::time_point before = Clock::now();
    QvOp *op = QvStartHeartbeat(s[static_cast<size_t>(i % kBusy)], q, nullptr);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    if (!op) std::exit(1);
  }
  QvQueueDestroy(q);  // cancels what has not run, ends what runs
  for (QvSession *session : s) QvSessionDestroy(session);
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[micros.size() * 999 / 1000]};
}

int positive(const char *text, int fallback) {
  const int value = text ? std::atoi(text) : 0;
  return value > 0 ? value : fallback;
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = positive(argc > 1 ? argv[1] : nullptr, 5);
  const std::chrono::milliseconds phase(positive(argc > 2 ? argv[2] : nullptr, 300));
  const int sessions = positive(argc > 3 ? argv[3] : nullptr, 64);
  std::printf("%d rounds of %lld ms per side, medians; ratio: operations / blocking twin\n\n",
              rounds, static_cast<long long>(phase.count()));
  qvbench::LoopbackResponder at_once;
  const Pair one = one_session(rounds, phase, at_once);
  std::printf("1 session, answered at once    operations %8.0f/s  twin %8.0f/s  ratio %.2f\n",
              one.operations, one.twin, one.ratio);
  qvbench::DelayedResponder in_1ms(std::chrono::microseconds(1000));
  const Pair far = one_session(rounds, phase, in_1ms);
  std::printf("1 session, answered in 1 ms    operations %8.0f/s  twin %8.0f/s  ratio %.2f\n",
              far.operations, far.twin, far.ratio);
  std::printf(
      "  CPU per exchange (the process's, the server's included): operation %.1f us, "
      "twin %.1f us, beyond the twin %.1f us\n",
      far.cpu_operations, far.cpu_twin, far.cpu_operations - far.cpu_twin);
  std::fflush(stdout);
  const Pair many = many_sessions(rounds, phase, sessions);
  std::printf(
      "%d sessions, answered in 1 ms   one thread %8.0f/s  %d threads %8.0f/s  ratio %.2f\n",
      sessions, many.operations, sessions, many.twin, many.ratio);
  const auto [p50, p999] = start_cost(20000);
  std::printf(
      "a start while 16 sessions wait for a server answering in 200 ms: p50 %.2f us, "
      "p99.9 %.2f us\n",
      p50, p999);
  return 0;
}
