#include "load.h"

#include <quorvex.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <latch>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "call.h"
#include "cli_os.h"
#include "demo.h"
#include "proxy_option.h"
#include "simulator.h"
#include "text_codec.h"

namespace qv::cli {

const char *const kLoadUsage =
    "usage: quorvex load [--sessions N] [--seconds S] [--job] [--async] [--delay MS] "
    "[--drop-after N]";

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxSessions = 1000;
constexpr int kMaxSeconds = 86400;
constexpr int kMaxDelayMs = 60000;
constexpr int32_t kConnectTimeoutMs = 5000;
constexpr int32_t kReadTimeoutMs = 10000;

// Latencies are counted in buckets, 64 for each power of two of
// nanoseconds (below 128 ns, one per nanosecond), which places every one
// within 1/64 of its value, up to 2^40 ns (18 minutes; longer ones count
// there).
constexpr int kSubBits = 6;
constexpr uint64_t kMaxNs = (uint64_t{1} << 40) - 1;

constexpr std::size_t latency_bucket(uint64_t ns) {
  const int shift = std::max(0, static_cast<int>(std::bit_width(ns)) - (kSubBits + 1));
  return (static_cast<std::size_t>(shift) << kSubBits) + static_cast<std::size_t>(ns >> shift);
}

constexpr uint64_t bucket_middle(std::size_t bucket) {
  const std::size_t shift = bucket < (2U << kSubBits) ? 0 : (bucket >> kSubBits) - 1;
  const uint64_t low = static_cast<uint64_t>(bucket - (shift << kSubBits)) << shift;
  return low + ((uint64_t{1} << shift) >> 1);
}

// Buckets follow each other without a gap, and every latency lies within
// 1/64 of the middle of its bucket.
static_assert([] {
  std::size_t last = 0;
  for (uint64_t ns = 0; ns <= kMaxNs; ns = ns < 4096 ? ns + 1 : ns + ns / 200) {
    const std::size_t bucket = latency_bucket(ns);
    const uint64_t middle = bucket_middle(bucket);
    const uint64_t off = middle > ns ? middle - ns : ns - middle;
    if (bucket < last || bucket > last + 1 || off * 64 > ns) return false;
    last = bucket;
  }
  return true;
}());

// The latencies of a run in a fixed number of buckets, so that a run of
// any length costs the same memory.
class LatencyHistogram {
 public:
  void add(std::chrono::nanoseconds latency) {
    const auto ns = static_cast<uint64_t>(std::max<int64_t>(latency.count(), 0));
    ++counts_[latency_bucket(std::min<uint64_t>(ns, kMaxNs))];
    ++total_;
  }
  void merge(const LatencyHistogram &other) {
    for (std::size_t i = 0; i < counts_.size(); ++i) counts_[i] += other.counts_[i];
    total_ += other.total_;
  }
  // The latency below which the given share of them lie (the middle of its
  // bucket); zero when there are none.
  std::chrono::nanoseconds quantile(double share) const {
    if (total_ == 0) return {};
    const auto rank = static_cast<uint64_t>(share * static_cast<double>(total_ - 1));
    uint64_t seen = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen > rank) return std::chrono::nanoseconds(bucket_middle(i));
    }
    return std::chrono::nanoseconds(kMaxNs);
  }

 private:
  std::array<uint64_t, latency_bucket(kMaxNs) + 1> counts_{};
  uint64_t total_ = 0;
};

[[noreturn]] void mistake(const std::string &what) {
  throw StepError("load: " + what + "; " + kLoadUsage);
}

int number_option(const std::vector<std::string> &words, std::size_t &i, int min, int max) {
  const std::string &option = words[i];
  if (i + 1 >= words.size()) mistake(option + " needs a number");
  const std::string &text = words[++i];
  char *end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < min || value > max)
    mistake(option + " takes a number from " + std::to_string(min) + " to " + std::to_string(max) +
            ", not \"" + text + "\"");
  return static_cast<int>(value);
}

// Each session logs in with an account of its own, which the simulator is
// given: "load1" / "load1pw", ... with a quota that a long run cannot use up.
std::string account_name(int session) { return "load" + std::to_string(session); }
std::string account_password(int session) { return account_name(session) + "pw"; }

qv::sim::Options simulator_options(const LoadOptions &options) {
  qv::sim::Options sim;
  sim.delay = options.delay;
  sim.drop_after = static_cast<std::size_t>(options.drop_after);
  // Every session comes from 127.0.0.1, more of them than the cap allows.
  sim.max_per_peer = 0;
  for (int i = 1; i <= options.sessions; ++i) {
    qv::sim::Account account = qv::sim::demo_account();
    account.name = account_name(i);
    account.password = account_password(i);
    account.id = std::to_string(20000 + i);
    account.quota = 1 << 30;
    sim.accounts.push_back(account);
  }
  return sim;
}

// The texts of the send job that every session sends, as the demo's (UTF-8).
struct JobTexts {
  std::vector<const char *> numbers = {"13800000000", "13900000001", "13600000004"};
  std::string content = "明天上午九点开会";
  std::string begin_date = date_in(1);
  std::string end_date = date_in(7);
};

// What one session counts.  The two counters are read each second by the
// main thread; the rest only after the session's thread has been joined
// (or, on the queue, by the one thread that drives them all).
struct alignas(64) Tally {
  std::atomic<uint64_t> done{0};    // calls or jobs finished, failed or not
  std::atomic<uint64_t> failed{0};  // of those, failed
  std::array<uint64_t, kOutcomeNames.size()> by_outcome{};
  uint64_t refused = 0;      // jobs that the server did not accept
  LatencyHistogram latency;  // of each call or job
  std::string setup_error;   // why the session could not start
};

std::string outcome_text(int32_t outcome, const char *detail) {
  return std::string(kOutcomeNames[outcome_index(outcome)]) + (detail[0] ? ": " : "") + detail;
}

// How the calling thread's last call went, for a start refused at once.
std::string thread_outcome_text() {
  int32_t outcome = QV_OUTCOME_FAILED;
  char detail[256] = {};
  GetLastOutcome(&outcome, nullptr, nullptr, nullptr, detail, sizeof detail);
  return outcome_text(outcome, detail);
}

class SessionRunner {
 public:
  SessionRunner(int number, const JobTexts &texts) : number_(number), texts_(texts) {}
  ~SessionRunner() {
    if (job_) QvJobDestroy(job_);
    if (session_) QvSessionDestroy(session_);
  }
  SessionRunner(const SessionRunner &) = delete;
  SessionRunner &operator=(const SessionRunner &) = delete;

  // Makes the session and the job it sends; empty when that worked,
  // otherwise why not.
  std::string create(std::chrono::milliseconds delay) {
    session_ = QvSessionCreate();
    if (!session_) return "out of memory";
    // A call that the simulator leaves unanswered fails in seconds, not the
    // default minute; a slow answer under load is still awaited.
    QvSetReadTimeout(session_, static_cast<int32_t>(kReadTimeoutMs + 2 * delay.count()));
    return make_job();
  }

  // Makes, connects and logs in with blocking calls; empty when that
  // worked, otherwise why not.
  std::string start(uint16_t port, std::chrono::milliseconds delay) {
    if (std::string error = create(delay); !error.empty()) return error;
    const ProxyOption &p = proxy();
    if (!QvTcpConnect(session_, message_, "127.0.0.1", port, kConnectTimeoutMs, p.kind.c_str(),
                      p.host.c_str(), p.port, p.user.c_str(), p.password.c_str()))
      return "connect failed: " + quoted_from_gbk(message_);
    const std::string name = account_name(number_), password = account_password(number_);
    char p1[QV_PARAM_BUFFER_SIZE], p2[QV_PARAM_BUFFER_SIZE], p3[QV_PARAM_BUFFER_SIZE];
    if (!QvLogin_Request(session_, "QuorvexLoad", "cli", name.c_str(), password.c_str(), "1.0") ||
        !QvLogin_Feedback(session_, &code_, message_, p1, p2, p3))
      return "login failed: " + session_outcome_text();
    return login_refusal();
  }

  // The connect as an operation on the queue; null when refused at once.
  QvOp *start_connect(QvQueue *queue, void *tag, uint16_t port) {
    const ProxyOption &p = proxy();
    return QvStartTcpConnect(session_, queue, tag, "127.0.0.1", port, kConnectTimeoutMs,
                             p.kind.c_str(), p.host.c_str(), p.port, p.user.c_str(),
                             p.password.c_str());
  }
  // Empty when the connect's operation succeeded, otherwise why not.
  std::string connected(QvOp *op) {
    if (QvOpResult(op)) return {};
    message_[0] = '\0';  // stays empty when the text does not fit
    QvOpText(op, 0, message_, sizeof message_);
    return "connect failed: " + quoted_from_gbk(message_);
  }

  // The login as an operation on the queue; null when refused at once.
  QvOp *start_login(QvQueue *queue, void *tag) {
    const std::string name = account_name(number_), password = account_password(number_);
    return QvStartLogin(session_, queue, tag, "QuorvexLoad", "cli", name.c_str(), password.c_str(),
                        "1.0");
  }
  // Empty when the login's operation was accepted, otherwise why not.
  std::string logged_in(QvOp *op) {
    if (!QvOpResult(op)) {
      int32_t outcome = QV_OUTCOME_FAILED;
      char detail[256] = {};
      QvOpOutcome(op, &outcome, nullptr, nullptr, nullptr, detail, sizeof detail);
      return "login failed: " + outcome_text(outcome, detail);
    }
    code_ = QvOpCode(op);
    message_[0] = '\0';
    QvOpText(op, 0, message_, sizeof message_);
    return login_refusal();
  }

  // One heartbeat or one send job, counted in the tally.
  void run_one(bool job, Tally &tally) {
    const Clock::time_point begin = Clock::now();
    const bool ok = job ? QvSendJob(session_, job_, 0) == 1 : QvHeartbeat(session_) == 1;
    tally.latency.add(Clock::now() - begin);
    count(job, ok, nullptr, tally);
  }

  // One heartbeat or one send job as an operation on the queue; null when
  // refused at once.
  QvOp *start_one(bool job, QvQueue *queue, void *tag) {
    return job ? QvStartSendJob(session_, queue, tag, job_, 0)
               : QvStartHeartbeat(session_, queue, tag);
  }

  // Counts a heartbeat or a job that has ended, ok being its result; op is
  // the operation that ran it, null for a blocking call.
  void count(bool job, bool ok, QvOp *op, Tally &tally) {
    bool accepted = true;
    if (job) {
      // Refused by the server is not a failure of the library.
      int32_t status = 0;
      QvJobResult(job_, &status, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr);
      accepted = ok;
      ok = ok || status == QV_JOB_REFUSED;
    }
    if (!ok) {
      // A job's outcome is that of the call it ended on.
      int32_t outcome = QV_OUTCOME_FAILED;
      if (job)
        QvJobOutcome(job_, &outcome, nullptr, nullptr, nullptr, nullptr, 0);
      else if (op)
        QvOpOutcome(op, &outcome, nullptr, nullptr, nullptr, nullptr, 0);
      else
        QvGetLastOutcome(session_, &outcome, nullptr, nullptr, nullptr, nullptr, 0);
      ++tally.by_outcome[outcome_index(outcome)];
      tally.failed.fetch_add(1, std::memory_order_relaxed);
    } else if (!accepted) {
      ++tally.refused;
    }
    tally.done.fetch_add(1, std::memory_order_relaxed);
  }

 private:
  // The job every send of this session sends; empty when it could be
  // made, otherwise why not.
  std::string make_job() {
    job_ = QvJobCreate();
    if (!job_) return "no job could be made";
    const struct {
      int32_t field;
      const char *text;
    } fields[] = {
        {QV_JOB_PRODUCT, "1001"},
        {QV_JOB_CONTENT, texts_.content.c_str()},
        {QV_JOB_BEGIN_DATE, texts_.begin_date.c_str()},
        {QV_JOB_END_DATE, texts_.end_date.c_str()},
        {QV_JOB_BEGIN_TIME, "08:00"},
        {QV_JOB_END_TIME, "20:00"},
    };
    bool ok = QvJobSetOption(job_, QV_JOB_OPTION_CHECK, 1) == 1;
    for (const auto &f : fields) ok = ok && QvJobSetText(job_, f.field, f.text, -1, QV_TEXT_UTF8);
    for (const char *number : texts_.numbers) ok = ok && QvJobAddNumber(job_, number);
    char detail[QV_DETAIL_BUFFER_SIZE] = "";
    if (!ok) GetLastOutcome(nullptr, nullptr, nullptr, nullptr, detail, sizeof detail);
    return ok ? std::string() : std::string("the job was refused: ") + detail;
  }

  static const ProxyOption &proxy() {
    static const ProxyOption none;
    const ProxyOption *proxy = run_proxy();
    return proxy ? *proxy : none;
  }

  // Empty when the login was accepted, otherwise its code and message.
  std::string login_refusal() const {
    if (code_ == QV_CODE_ACCEPTED) return {};
    return "login refused with code " + std::to_string(code_) + ": " + quoted_from_gbk(message_);
  }

  std::string session_outcome_text() {
    int32_t outcome = QV_OUTCOME_FAILED;
    char detail[256] = {};
    QvGetLastOutcome(session_, &outcome, nullptr, nullptr, nullptr, detail, sizeof detail);
    return outcome_text(outcome, detail);
  }

  int number_;
  const JobTexts &texts_;
  QvSession *session_ = nullptr;
  QvJob *job_ = nullptr;
  int32_t code_ = -1;
  char message_[QV_BODY_BUFFER_SIZE] = {};
};

std::string milliseconds(std::chrono::nanoseconds latency) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(latency.count()) / 1e6);
  return text;
}

std::string per_second(double count, double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", seconds > 0 ? count / seconds : 0.0);
  return text;
}

// "failures 0" or "failures 3 (not connected 2, timed out 1)".
std::string failures_text(uint64_t failed,
                          const std::array<uint64_t, kOutcomeNames.size()> &by_outcome) {
  std::string text = "failures " + std::to_string(failed);
  std::string kinds;
  for (std::size_t i = 0; i < by_outcome.size(); ++i)
    if (by_outcome[i])
      kinds += (kinds.empty() ? "" : ", ") + std::string(kOutcomeNames[i]) + " " +
               std::to_string(by_outcome[i]);
  return kinds.empty() ? text : text + " (" + kinds + ")";
}

// How a run went, for its summary.
struct Run {
  int unready = 0;  // sessions that could not connect or log in
  std::chrono::duration<double> elapsed{};
};

// Names the first few sessions that could not start; returns how many.
int report_unready(const std::vector<Tally> &tallies, std::ostream &out) {
  int unready = 0;
  for (std::size_t i = 0; i < tallies.size(); ++i) {
    if (tallies[i].setup_error.empty()) continue;
    if (unready++ < 5) out << "session " << i + 1 << ": " << tallies[i].setup_error << '\n';
  }
  return unready;
}

// The line of each second: what finished in it and how much of that failed.
class Progress {
 public:
  explicit Progress(const char *unit) : unit_(unit) {}
  void line(int second, const std::vector<Tally> &tallies, std::ostream &out) {
    uint64_t done = 0, failed = 0;
    for (const Tally &t : tallies) {
      done += t.done.load(std::memory_order_relaxed);
      failed += t.failed.load(std::memory_order_relaxed);
    }
    out << "  " << second << " s: " << done - done_ << ' ' << unit_ << "/s, failures "
        << failed - failed_ << '\n';
    out.flush();
    done_ = done;
    failed_ = failed;
  }

 private:
  const char *unit_;
  uint64_t done_ = 0, failed_ = 0;
};

// Each session on a thread of its own, calling the blocking exports.  False
// when the run stopped before it began (and says why).
bool run_threads(const LoadOptions &options, uint16_t port, std::vector<Tally> &tallies,
                 std::ostream &out, Run &run) {
  const std::size_t count = tallies.size();
  const JobTexts texts;
  std::atomic<bool> stop{false};
  std::latch ready(static_cast<std::ptrdiff_t>(count));
  std::latch go(1);
  std::vector<std::thread> threads;
  threads.reserve(count);
  // The system may run out of threads (a 32-bit process's address space,
  // a limit on processes): the run then stops with the threads it has.
  std::string thread_failure;
  for (std::size_t i = 0; i < count; ++i) {
    try {
      threads.emplace_back([&, i] {
        Tally &tally = tallies[i];
        SessionRunner runner(static_cast<int>(i) + 1, texts);
        tally.setup_error = runner.start(port, options.delay);
        ready.count_down();
        go.wait();
        if (!tally.setup_error.empty()) return;
        while (!stop.load(std::memory_order_relaxed)) runner.run_one(options.job, tally);
      });
    } catch (const std::system_error &e) {
      thread_failure = e.code().message();
      break;
    }
  }
  const std::size_t made = threads.size();
  ready.count_down(static_cast<std::ptrdiff_t>(count - made));
  ready.wait();
  run.unready = report_unready(tallies, out);
  if (made < count) {
    out << "load: thread " << made + 1 << " of " << count
        << " could not be made: " << thread_failure << "; "
        << made - static_cast<std::size_t>(run.unready) << " session(s) started, none run\n";
    out.flush();
    stop = true;
    go.count_down();
    for (std::thread &t : threads) t.join();
    return false;
  }
  if (run.unready) stop = true;

  const Clock::time_point start = Clock::now();
  go.count_down();
  Progress progress(options.job ? "jobs" : "calls");
  for (int second = 1; !stop && second <= options.seconds; ++second) {
    std::this_thread::sleep_until(start + std::chrono::seconds(second));
    progress.line(second, tallies, out);
  }
  stop = true;
  for (std::thread &t : threads) t.join();
  run.elapsed = Clock::now() - start;
  return true;
}

// The tag of session i's operations, and back.
void *session_tag(std::size_t i) { return reinterpret_cast<void *>(static_cast<uintptr_t>(i + 1)); }
std::size_t tagged_session(QvOp *op) { return reinterpret_cast<uintptr_t>(QvOpTag(op)) - 1; }

// Every session from this thread through one queue, one operation in
// flight on each.  False when the run stopped before it began (and says
// why).
bool run_on_queue(const LoadOptions &options, uint16_t port, std::vector<Tally> &tallies,
                  std::ostream &out, Run &run) {
  const std::size_t count = tallies.size();
  const std::unique_ptr<QvQueue, decltype(&QvQueueDestroy)> queue(QvQueueCreate(), &QvQueueDestroy);
  if (!queue) {
    out << "load: no queue could be made: " << thread_outcome_text() << '\n';
    return false;
  }
  const JobTexts texts;
  // Destroyed before the queue: by then no operation is in flight.
  std::vector<std::unique_ptr<SessionRunner>> runners;
  runners.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    runners.push_back(std::make_unique<SessionRunner>(static_cast<int>(i) + 1, texts));
    tallies[i].setup_error = runners.back()->create(options.delay);
  }
  // Every session connects, and then every one logs in, all at once.
  for (const bool login : {false, true}) {
    std::size_t pending = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!tallies[i].setup_error.empty()) continue;
      SessionRunner &r = *runners[i];
      if (login ? r.start_login(queue.get(), session_tag(i))
                : r.start_connect(queue.get(), session_tag(i), port))
        ++pending;
      else
        tallies[i].setup_error =
            std::string(login ? "login" : "connect") + " not started: " + thread_outcome_text();
    }
    for (; pending > 0; --pending) {
      QvOp *op = QvQueueNext(queue.get(), -1);
      if (!op) break;  // only for a queue that is not live
      const std::size_t i = tagged_session(op);
      tallies[i].setup_error = login ? runners[i]->logged_in(op) : runners[i]->connected(op);
      QvOpFree(op);
    }
  }
  run.unready = report_unready(tallies, out);
  if (run.unready) return true;

  // A start refused at once counts as a failure by the thread's outcome,
  // and leaves its session idle for the rest of the run.
  std::vector<Clock::time_point> began(count);
  std::size_t in_flight = 0;
  const auto start_next = [&](std::size_t i) {
    began[i] = Clock::now();
    if (runners[i]->start_one(options.job, queue.get(), session_tag(i))) {
      ++in_flight;
      return;
    }
    int32_t outcome = QV_OUTCOME_FAILED;
    GetLastOutcome(&outcome, nullptr, nullptr, nullptr, nullptr, 0);
    ++tallies[i].by_outcome[outcome_index(outcome)];
    tallies[i].failed.fetch_add(1, std::memory_order_relaxed);
    tallies[i].done.fetch_add(1, std::memory_order_relaxed);
  };
  const Clock::time_point start = Clock::now();
  for (std::size_t i = 0; i < count; ++i) start_next(i);
  Progress progress(options.job ? "jobs" : "calls");
  // Until the time is up, each completion starts its session's next call;
  // then those in flight are awaited and counted.
  bool stopping = false;
  for (int second = 1; in_flight > 0;) {
    const Clock::time_point tick = start + std::chrono::seconds(second);
    int32_t wait = -1;
    if (!stopping)
      wait = static_cast<int32_t>(std::max<int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(tick - Clock::now()).count()));
    if (QvOp *op = QvQueueNext(queue.get(), wait)) {
      const std::size_t i = tagged_session(op);
      --in_flight;
      tallies[i].latency.add(Clock::now() - began[i]);
      runners[i]->count(options.job, QvOpResult(op) == 1, op, tallies[i]);
      QvOpFree(op);
      if (!stopping) start_next(i);
    } else if (stopping) {
      break;  // only for a queue that is not live
    }
    if (!stopping && Clock::now() >= tick) {
      progress.line(second, tallies, out);
      stopping = ++second > options.seconds;
    }
  }
  run.elapsed = Clock::now() - start;
  return true;
}

}  // namespace

LoadOptions parse_load_options(const std::vector<std::string> &words) {
  LoadOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string &word = words[i];
    if (word == "--sessions")
      options.sessions = number_option(words, i, 1, kMaxSessions);
    else if (word == "--seconds")
      options.seconds = number_option(words, i, 1, kMaxSeconds);
    else if (word == "--delay")
      options.delay = std::chrono::milliseconds(number_option(words, i, 0, kMaxDelayMs));
    else if (word == "--drop-after")
      options.drop_after = number_option(words, i, 0, 1 << 30);
    else if (word == "--job")
      options.job = true;
    else if (word == "--async")
      options.async = true;
    else
      mistake("unknown option \"" + word + "\"");
  }
  return options;
}

int run_load(const LoadOptions &options, std::ostream &out) {
  // Both ends of every connection are in this process: two sockets a
  // session, more than a default soft limit of 1024 allows past 500.
  allow_many_sockets();
  qv::sim::Simulator sim(simulator_options(options));
  const uint16_t port = sim.start(0);
  const char *unit = options.job ? "jobs" : "calls";
  out << "load: " << options.sessions << " session(s) "
      << (options.async ? "from one thread through one queue" : "on as many threads") << ", "
      << (options.job ? "send jobs" : "heartbeats") << " for " << options.seconds
      << " s against the simulator on 127.0.0.1:" << port << " (answers after "
      << options.delay.count() << " ms"
      << (options.drop_after ? ", dropping each connection after " +
                                   std::to_string(options.drop_after) + " answers"
                             : std::string())
      << ")\n";
  if (const ProxyOption *proxy = run_proxy())
    out << "every connect goes through the " << describe(*proxy) << '\n';
  out.flush();

  const auto count = static_cast<std::size_t>(options.sessions);
  std::vector<Tally> tallies(count);
  Run run;
  if (!(options.async ? run_on_queue : run_threads)(options, port, tallies, out, run)) return 1;
  if (run.unready) {
    out << "load: " << run.unready << " of " << count << " session(s) could not start\n";
    return 1;
  }
  uint64_t done = 0, failed = 0, refused = 0;
  std::array<uint64_t, kOutcomeNames.size()> by_outcome{};
  LatencyHistogram latency;
  for (Tally &t : tallies) {
    done += t.done;
    failed += t.failed;
    refused += t.refused;
    for (std::size_t k = 0; k < by_outcome.size(); ++k) by_outcome[k] += t.by_outcome[k];
    latency.merge(t.latency);
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", run.elapsed.count());
  out << "summary: " << done << ' ' << unit << " in " << seconds
      << " s: " << per_second(static_cast<double>(done), run.elapsed.count()) << ' ' << unit
      << "/s, latency median " << milliseconds(latency.quantile(0.5)) << ", p99 "
      << milliseconds(latency.quantile(0.99)) << ", " << failures_text(failed, by_outcome);
  if (options.job) out << ", refused " << refused;
  // The simulator counts an answer after writing it: stopped (its
  // connections' threads joined), it has counted every answer a session read.
  sim.stop();
  out << "\nsimulator: " << sim.records_answered() << " requests answered on "
      << sim.connections_accepted() << " connection(s)\n";
  return failed == 0 && refused == 0 ? 0 : 1;
}

}  // namespace qv::cli
