// Operations through the public header.  A seeded generator starts,
// cancels, takes and frees operations on several sessions over two queues,
// and destroys sessions and queues with operations in flight (while another
// thread makes blocking calls on the same sessions), against a server that
// names in every answer the request it answers and breaks a share of its
// answers (late, cut off, reset, never, with a stray one behind).
//
// Invariants: every operation started completes exactly once, those of one
// session on one queue in the order started, and none comes out of another
// queue or after its queue's destroy returned (which keeps its bound); an
// operation, or a blocking call beside it, returns 1 only with its own answer; QV_OUTCOME_CANCELLED
// (with Sent 0) only for one that was cancelled or whose session went, and never for one the server
// received; the queue's wait handle is readable only while a completion waits, and not once all are
// taken; nothing hangs.
//
//   QUORVEX_PROPERTY_SEED    the generator's seed (default 1)
//   QUORVEX_PROPERTY_ROUNDS  rounds (default 10), each from the seed and its number
#include <quorvex.h>

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <random>
#include <string>
#include <vector>

#include "tagging_server.h"
#include "sim_session.h"
#include "simulator.h"

namespace qvtest {
namespace {

constexpr int kReadTimeoutMs = 150;
constexpr int kSessions = 3;
constexpr int kQueues = 2;  // the first lives all round; the second is destroyed and made anew
constexpr int kSteps = 150;

long from_env(const char *name, long fallback) {
  const char *v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

bool readable(QvQueue *q) {
  pollfd p{static_cast<int>(QvQueueWaitHandle(q)), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

std::string text_of(QvOp *op, int index) {
  char buffer[QV_BODY_BUFFER_SIZE] = {};
  return QvOpText(op, index, buffer, sizeof buffer) >= 0 ? buffer : "";
}

struct Started {
  std::string tag;  // empty: an operation that carries none
  int slot = 0;
  int queue = 0;
  bool cancelled = false;     // a cancel of it returned 1
  bool session_gone = false;  // its session was destroyed before it completed
  bool completed = false;
  bool dropped = false;  // its queue was destroyed before it was taken
};

class OperationsProperty {
 public:
  OperationsProperty(TaggingServer &server, unsigned seed) : server_(server), rng_(seed) {
    for (QvQueue *&q : queues_) q = QvQueueCreate();
  }

  void run(int round) {
    round_ = round;
    for (int slot = 0; slot < kSessions; ++slot) open(slot);
    // Meanwhile a host thread makes blocking calls on the same sessions:
    // they and the operations must never interleave on the wire.
    std::atomic<bool> stop{false};
    std::thread blocking([&] { call_blocking(stop, round); });
    for (int step = 0; step < kSteps; ++step) act();
    stop = true;
    blocking.join();
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pending_ > 0) {
      if (std::chrono::steady_clock::now() > give_up)
        return violation("every operation completes", never_completed());
      for (int q = 0; q < kQueues; ++q)
        if (QvOp *op = QvQueueNext(queues_[q], 20)) take(op, q);
    }
    for (QvQueue *q : queues_)
      if (readable(q) || QvQueueNext(q, 0))
        violation("an empty queue's handle not readable", "readable, or a completion left");
    for (QvSession *s : sessions_) QvSessionDestroy(s);
    for (QvQueue *q : queues_) QvQueueDestroy(q);
  }

  std::vector<std::string> violations;
  long blocking_answered = 0;
  long started = 0, completed = 0, cancelled = 0, maybe = 0, answered = 0, dropped = 0;

 private:
  void violation(const std::string &want, const std::string &got) {
    const std::lock_guard<std::mutex> lock(blocking_violations_);
    violations.push_back("round " + std::to_string(round_) + ": want " + want + ", got " + got);
  }

  void call_blocking(const std::atomic<bool> &stop, int round) {
    std::mt19937 rng(static_cast<unsigned>(round));
    char msg[QV_BODY_BUFFER_SIZE], p1[QV_PARAM_BUFFER_SIZE];
    for (int n = 0; !stop; ++n) {
      // A session the other thread destroyed meanwhile is refused, never used.
      QvSession *s = live_[rng() % kSessions].load();
      const std::string tag = "B" + std::to_string(n);
      int32_t code = -1;
      if (!QvMMSMaxSize(s, &code, msg, p1, tag.c_str(), tag.c_str())) continue;
      ++blocking_answered;
      if (code != 900 || std::string(msg).rfind(tag + "@", 0) != 0 || tag != p1) {
        const std::lock_guard<std::mutex> lock(blocking_violations_);
        violations.push_back("round " + std::to_string(round_) +
                             ": want a blocking call's own answer, got " + tag + ": " + msg);
      }
    }
  }

  // A new session in slot: its connect, read time-out and login, started
  // as operations like the rest.
  void open(int slot) {
    QvSession *s = QvSessionCreate();
    sessions_[slot] = s;
    live_[slot] = s;
    for (std::deque<intptr_t> &order : order_[slot]) order.clear();
    // On the queue that lives all round: a destroy of the other one would
    // cancel the read time-out a stalled answer needs.
    note(QvStartTcpConnect(s, queues_[0], next_tag(), "127.0.0.1", server_.port(), 2000, "", "", 0,
                           "", ""),
         slot, 0, "");
    note(QvStartSetReadTimeout(s, queues_[0], next_tag(), kReadTimeoutMs), slot, 0, "");
    const std::string tag = "L" + std::to_string(serial_);
    note(QvStartLogin(s, queues_[0], next_tag(), "app", tag.c_str(), "demo", "secret", "v1"), slot,
         0, tag);
  }

  void *next_tag() { return reinterpret_cast<void *>(static_cast<intptr_t>(++serial_)); }

  void note(QvOp *op, int slot, int queue, const std::string &tag) {
    if (!op) return violation("a start on a live session and queue", "NULL");
    const intptr_t id = reinterpret_cast<intptr_t>(QvOpTag(op));
    ops_[id] = Started{tag, slot, queue};
    handles_[id] = op;
    order_[slot][queue].push_back(id);
    ++pending_;
    ++started;
  }

  std::string never_completed() const {
    std::string list;
    for (const auto &[id, s] : ops_)
      if (!s.completed && !s.dropped)
        list += " #" + std::to_string(id) + " " + s.tag + " (session " + std::to_string(s.slot) +
                (s.cancelled ? ", cancelled" : "") + (s.session_gone ? ", its session gone" : "") +
                ")";
    return "never:" + list;
  }

  void act() {
    const unsigned dice = rng_() % 100;
    const int slot = static_cast<int>(rng_() % kSessions);
    const int queue = static_cast<int>(rng_() % kQueues);
    if (dice < 45) {
      void *id = next_tag();
      const std::string tag = "T" + std::to_string(serial_);
      note(QvStartMMSMaxSize(sessions_[slot], queues_[queue], id, tag.c_str(), tag.c_str()), slot,
           queue, tag);
    } else if (dice < 62 && !handles_.empty()) {
      // Any but a session's setup, which gives it its short read time-out.
      auto it = handles_.begin();
      std::advance(it, static_cast<long>(rng_() % handles_.size()));
      if (ops_[it->first].tag[0] == 'T' && QvOpCancel(it->second)) ops_[it->first].cancelled = true;
    } else if (dice < 95) {
      // A readable handle promises a completion to the one thread that takes.
      const bool was_readable = readable(queues_[queue]);
      QvOp *op = QvQueueNext(queues_[queue], dice < 75 ? 0 : 100);
      if (was_readable && !op) violation("a completion behind a readable handle", "none");
      if (op) take(op, queue);
    } else if (dice < 97) {
      destroy_second_queue();
    } else {
      for (const std::deque<intptr_t> &order : order_[slot])
        for (intptr_t id : order) ops_[id].session_gone = true;
      if (!QvSessionDestroy(sessions_[slot])) violation("a destroy of a live session", "0");
      open(slot);
    }
  }

  // Whatever it held that was not taken is gone with it, and comes out of
  // no queue afterwards; its operations that still run are cancelled.
  void destroy_second_queue() {
    QvQueue *old = queues_[1];
    const auto start = std::chrono::steady_clock::now();
    if (!QvQueueDestroy(old)) violation("a destroy of a live queue", "0");
    const auto took = std::chrono::steady_clock::now() - start;
    if (took > std::chrono::milliseconds(QV_QUEUE_DESTROY_WAIT_MS + 500))
      violation(
          "a queue's destroy within its bound",
          std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) +
              " ms");
    if (QvQueueNext(old, 0) || QvQueueWaitHandle(old) != -1)
      violation("a destroyed queue refused", "accepted");
    for (auto it = handles_.begin(); it != handles_.end();) {
      if (ops_[it->first].queue != 1) {
        ++it;
        continue;
      }
      ops_[it->first].dropped = true;
      it = handles_.erase(it);
      --pending_;
      ++dropped;
    }
    for (auto &order : order_) order[1].clear();
    queues_[1] = QvQueueCreate();
  }

  void take(QvOp *op, int queue) {
    const intptr_t id = reinterpret_cast<intptr_t>(QvOpTag(op));
    auto found = ops_.find(id);
    if (found == ops_.end() || found->second.completed)
      return violation("each operation completed once", "tag " + std::to_string(id) + " again");
    Started &s = found->second;
    if (s.dropped || s.queue != queue)
      return violation("nothing out of a queue but its own, nor after its destroy",
                       "tag " + std::to_string(id));
    s.completed = true;
    --pending_;
    ++completed;
    handles_.erase(id);
    std::deque<intptr_t> &order = order_[s.slot][queue];
    if (!s.session_gone) {
      if (order.empty() || order.front() != id)
        violation("a session's operations completed in the order started",
                  "tag " + std::to_string(id) + " first");
      else
        order.pop_front();
    }
    int32_t kind = -1, sent = -1;
    QvOpOutcome(op, &kind, &sent, nullptr, nullptr, nullptr, 0);
    const bool result = QvOpResult(op) != 0;
    if (kind == QV_OUTCOME_CANCELLED) {
      ++cancelled;
      if (!s.cancelled && !s.session_gone) violation("CANCELLED only after a cancel", s.tag);
      if (result || sent != 0) violation("CANCELLED with result 0 and Sent 0", s.tag);
      if (!s.tag.empty() && server_.first_fault_for(s.tag))
        violation("nothing of a cancelled operation at the server", s.tag + " arrived");
    }
    if (kind == QV_OUTCOME_MAYBE_APPLIED) ++maybe;
    if (result && !s.tag.empty()) {
      ++answered;
      const std::string message = text_of(op, 0);
      if (QvOpCode(op) != 900 || message.rfind(s.tag + "@", 0) != 0)
        violation("result 1 with its own answer", s.tag + ": " + message);
      if (s.tag[0] == 'T' && text_of(op, 1) != s.tag)
        violation("its own Param1", s.tag + ": " + text_of(op, 1));
    }
    if (!QvOpFree(op)) violation("a free of a taken operation", "0");
    if (QvOpFree(op) || QvOpCancel(op) || QvOpResult(op))
      violation("a freed operation refused", "accepted");
  }

  TaggingServer &server_;
  std::mt19937 rng_;
  QvQueue *queues_[kQueues] = {};
  QvSession *sessions_[kSessions] = {};
  std::atomic<QvSession *> live_[kSessions] = {};  // for the blocking thread
  std::mutex blocking_violations_;
  std::deque<intptr_t> order_[kSessions][kQueues];  // started, not taken, per session and queue
  std::map<intptr_t, Started> ops_;
  std::map<intptr_t, QvOp *> handles_;  // started, not yet taken
  long pending_ = 0;
  intptr_t serial_ = 0;
  int round_ = 0;
};

TEST(OperationsProperty, CompleteOnceInOrderWithTheirOwnAnswers) {
  const long seed = from_env("QUORVEX_PROPERTY_SEED", 1);
  const long rounds = from_env("QUORVEX_PROPERTY_ROUNDS", 10);
  long started = 0, completed = 0, cancelled = 0, maybe = 0, answered = 0, blocking = 0,
       dropped = 0;
  for (long round = 1; round <= rounds; ++round) {
    TaggingServer server(kReadTimeoutMs, "demo", "secret");
    std::mt19937 faults(static_cast<unsigned>(seed * 7919 + round));
    server.set_faults([&faults] {
      static const int kinds[] = {TaggingServer::kSplit, TaggingServer::kDelay,
                                  TaggingServer::kClose, TaggingServer::kReset,
                                  TaggingServer::kStall, TaggingServer::kExtra};
      return faults() % 100 < 20 ? kinds[faults() % std::size(kinds)] : TaggingServer::kNone;
    });
    OperationsProperty p(server, static_cast<unsigned>(seed * 1000003 + round));
    p.run(static_cast<int>(round));
    for (const std::string &v : p.violations) ADD_FAILURE() << "seed " << seed << ", " << v;
    started += p.started, completed += p.completed, cancelled += p.cancelled;
    maybe += p.maybe, answered += p.answered, blocking += p.blocking_answered;
    dropped += p.dropped;
  }
  std::printf(
      "[operations] seed %ld, %ld rounds: %ld started, %ld completed (%ld answered, "
      "%ld cancelled, %ld maybe applied), %ld dropped by their queue's destroy; %ld blocking "
      "calls answered beside them\n",
      seed, rounds, started, completed, answered, cancelled, maybe, dropped, blocking);
  EXPECT_EQ(started, completed + dropped);
}

// A session of a tagging server, logged in on the calling thread.
QvSession *logged_in(TaggingServer &server, int read_timeout_ms) {
  QvSession *s = QvSessionCreate();
  char msg[QV_BODY_BUFFER_SIZE] = {}, p[3][QV_PARAM_BUFFER_SIZE] = {};
  int32_t code = -1;
  EXPECT_TRUE(QvTcpConnect(s, msg, "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
  EXPECT_TRUE(QvSetReadTimeout(s, read_timeout_ms));
  EXPECT_TRUE(QvLogin_Request(s, "app", "login", "demo", "secret", "v1"));
  EXPECT_TRUE(QvLogin_Feedback(s, &code, msg, p[0], p[1], p[2]));
  return s;
}

int32_t outcome_of(QvOp *op, int32_t *sent = nullptr) {
  int32_t kind = -1;
  EXPECT_TRUE(QvOpOutcome(op, &kind, sent, nullptr, nullptr, nullptr, 0));
  return kind;
}

// A cancel is told apart by how far the operation had come: queued, nothing
// reaches the server; its request out and unanswered, "maybe applied" and
// the connection closed; completed or freed, refused.
TEST(Operations, ACancelTellsQueuedFromSent) {
  TaggingServer server(5000, "demo", "secret");
  QvSession *s = logged_in(server, 5000);
  QvQueue *q = QvQueueCreate();
  server.set_faults([] { return int(TaggingServer::kStall); });
  QvOp *sent = QvStartMMSMaxSize(s, q, nullptr, "A", "A");
  QvOp *queued = QvStartMMSMaxSize(s, q, nullptr, "B", "B");
  ASSERT_TRUE(sent && queued);
  ASSERT_TRUE(server.wait_for("A", 5000));
  EXPECT_TRUE(QvOpCancel(queued));
  EXPECT_TRUE(QvOpCancel(sent));
  int32_t was_sent = -1;
  ASSERT_EQ(QvQueueNext(q, 5000), sent);
  EXPECT_EQ(outcome_of(sent, &was_sent), QV_OUTCOME_MAYBE_APPLIED);
  EXPECT_EQ(was_sent, 1);
  EXPECT_FALSE(QvOpResult(sent));
  ASSERT_EQ(QvQueueNext(q, 5000), queued);
  EXPECT_EQ(outcome_of(queued, &was_sent), QV_OUTCOME_CANCELLED);
  EXPECT_EQ(was_sent, 0);
  EXPECT_FALSE(server.first_fault_for("B"));
  EXPECT_FALSE(QvOpCancel(sent));  // completed
  EXPECT_TRUE(QvOpFree(sent) && QvOpFree(queued));
  EXPECT_FALSE(QvOpCancel(queued));  // freed

  // The session goes on: the relogin reopens what the cancel closed.
  server.set_faults({});
  EXPECT_TRUE(QvReLogin(s));
  char msg[QV_BODY_BUFFER_SIZE] = {}, p1[QV_PARAM_BUFFER_SIZE] = {};
  int32_t code = -1;
  EXPECT_TRUE(QvMMSMaxSize(s, &code, msg, p1, "C", "C"));
  EXPECT_STREQ(p1, "C");
  EXPECT_TRUE(QvQueueDestroy(q));
  EXPECT_TRUE(QvSessionDestroy(s));
}

// A destroy with an operation blocked on the network returns within its
// bound; what it dropped is gone for the host, and the session lives on.
TEST(Operations, AQueueDestroyEndsWhatRunsWithinItsBound) {
  TaggingServer server(5000, "demo", "secret");
  QvSession *s = logged_in(server, 5000);
  QvQueue *q = QvQueueCreate();
  server.set_faults([] { return int(TaggingServer::kStall); });
  QvOp *running = QvStartMMSMaxSize(s, q, nullptr, "A", "A");
  QvOp *waiting = QvStartHeartbeat(s, q, nullptr);
  ASSERT_TRUE(server.wait_for("A", 5000));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(QvQueueDestroy(q));
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(QV_QUEUE_DESTROY_WAIT_MS));
  EXPECT_FALSE(QvOpCancel(running) || QvOpCancel(waiting) || QvOpFree(running));
  EXPECT_EQ(QvQueueWaitHandle(q), -1);
  EXPECT_EQ(QvQueueNext(q, 0), nullptr);
  server.set_faults({});
  EXPECT_TRUE(QvReLogin(s));
  EXPECT_TRUE(QvSessionDestroy(s));
}

// Every function refuses what is not a live queue or operation (null, a
// value never handed out, one destroyed or freed) as its Argument 1, and a
// start refuses each of its handles in its place.
TEST(Operations, RefuseHandlesThatAreNotLive) {
  TaggingServer server(5000, "demo", "secret");
  QvSession *s = QvSessionCreate();
  QvQueue *q = QvQueueCreate();
  QvQueue *dead_queue = QvQueueCreate();
  QvQueueDestroy(dead_queue);
  QvOp *freed = QvStartSetReadTimeout(s, q, nullptr, 100);
  ASSERT_EQ(QvQueueNext(q, 5000), freed);
  QvOpFree(freed);
  QvJob *dead_job = QvJobCreate();
  QvJobDestroy(dead_job);
  char text[8];
  int32_t n = 0;
  for (void *bad : {static_cast<void *>(nullptr), reinterpret_cast<void *>(0x5a5a5a5),
                    static_cast<void *>(dead_queue), static_cast<void *>(freed)}) {
    auto *bq = static_cast<QvQueue *>(bad);
    auto *bo = static_cast<QvOp *>(bad);
    const struct {
      const char *name;
      std::function<bool()> refused;
      int32_t argument;
    } cases[] = {
        {"QvQueueDestroy", [&] { return !QvQueueDestroy(bq); }, 1},
        {"QvQueueWaitHandle", [&] { return QvQueueWaitHandle(bq) == -1; }, 1},
        {"QvQueueNext", [&] { return !QvQueueNext(bq, 0); }, 1},
        {"QvOpResult", [&] { return !QvOpResult(bo); }, 1},
        {"QvOpCode", [&] { return QvOpCode(bo) == -1; }, 1},
        {"QvOpText", [&] { return QvOpText(bo, 0, text, sizeof text) == -1; }, 1},
        {"QvOpNumber", [&] { return QvOpNumber(bo, 0) == 0; }, 1},
        {"QvOpOutcome", [&] { return !QvOpOutcome(bo, &n, &n, &n, &n, text, sizeof text); }, 1},
        {"QvOpTag", [&] { return !QvOpTag(bo); }, 1},
        {"QvOpProgress", [&] { return !QvOpProgress(bo, &n, &n); }, 1},
        {"QvOpCancel", [&] { return !QvOpCancel(bo); }, 1},
        {"QvOpFree", [&] { return !QvOpFree(bo); }, 1},
        {"QvStartHeartbeat, its session", [&] { return !QvStartHeartbeat(nullptr, q, nullptr); },
         1},
        {"QvStartHeartbeat, its queue", [&] { return !QvStartHeartbeat(s, bq, nullptr); }, 2},
        {"QvStartSendJob, its job", [&] { return !QvStartSendJob(s, q, nullptr, dead_job, 0); }, 4},
    };
    for (const auto &c : cases) {
      EXPECT_TRUE(c.refused()) << c.name << " given " << bad;
      int32_t kind = -1, argument = -1;
      QvGetLastOutcome(s, &kind, nullptr, &argument, nullptr, nullptr, 0);
      GetLastOutcome(&kind, nullptr, &argument, nullptr, nullptr, 0);
      EXPECT_EQ(kind, QV_OUTCOME_REFUSED) << c.name;
      EXPECT_EQ(argument, c.argument) << c.name;
    }
  }
  // An operation not completed is only the host's to cancel or tag.
  QvSessionDestroy(s);
  s = logged_in(server, 5000);
  server.set_faults([] { return int(TaggingServer::kStall); });
  QvOp *open = QvStartMMSMaxSize(s, q, reinterpret_cast<void *>(7), "A", "A");
  ASSERT_TRUE(server.wait_for("A", 5000));
  EXPECT_FALSE(QvOpFree(open) || QvOpResult(open));
  EXPECT_EQ(QvOpTag(open), reinterpret_cast<void *>(7));
  EXPECT_TRUE(QvSessionDestroy(s));  // cancels it: it completes, once
  ASSERT_EQ(QvQueueNext(q, 5000), open);
  EXPECT_EQ(outcome_of(open), QV_OUTCOME_MAYBE_APPLIED);
  EXPECT_EQ(QvQueueNext(q, 0), nullptr);
  EXPECT_TRUE(QvOpFree(open));
  EXPECT_TRUE(QvQueueDestroy(q));
}

// A job sent as an operation: the job refuses changes from its start, the
// operation's result is the job's, and its progress is noted instead of
// calling the host on the library's thread.
TEST(Operations, SendAJob) {
  qv::sim::Simulator sim;
  const uint16_t port = sim.start(0);
  QvSession *s = demo_session(port);
  ASSERT_TRUE(s);
  char msg[QV_BODY_BUFFER_SIZE] = {};
  QvJob *job = QvJobCreate();
  ASSERT_TRUE(QvJobSetText(job, QV_JOB_PRODUCT, "1001", -1, QV_TEXT_GBK) &&
              QvJobSetText(job, QV_JOB_CONTENT, "hello", -1, QV_TEXT_GBK) &&
              QvJobAddNumber(job, "13800000000"));
  QvQueue *q = QvQueueCreate();
  QvOp *op = QvStartSendJob(s, q, nullptr, job, 0);
  ASSERT_TRUE(op);
  EXPECT_FALSE(QvJobSetOption(job, QV_JOB_OPTION_CHECK, 1));
  EXPECT_FALSE(QvStartSendJob(s, q, nullptr, job, 0));  // one send at a time
  ASSERT_EQ(QvQueueNext(q, 10000), op);
  int32_t status = -1, step = 0, attempt = 0;
  EXPECT_TRUE(QvOpResult(op));
  EXPECT_TRUE(QvJobResult(job, &status, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr));
  EXPECT_EQ(status, QV_JOB_SUBMITTED);
  EXPECT_TRUE(QvOpProgress(op, &step, &attempt));
  EXPECT_GT(step, 0);
  EXPECT_EQ(attempt, 1);
  EXPECT_EQ(QvOpText(op, 0, msg, sizeof msg), -1);
  EXPECT_TRUE(QvJobSetOption(job, QV_JOB_OPTION_CHECK, 1));  // its own again
  EXPECT_TRUE(QvOpFree(op));
  QvJobDestroy(job);
  QvQueueDestroy(q);
  QvSessionDestroy(s);
}

}  // namespace
}  // namespace qvtest
