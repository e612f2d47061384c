// The send job through the public header, against a job server that keeps
// what the platform keeps (one open job per account, the jobs it applied)
// and breaks a seeded share of its exchanges: the server never applies a
// job twice nor takes a field twice within one job, and the status the
// library reports is never more than the stream could tell.
//   QUORVEX_PROPERTY_SEED    added to each case's seed (default 0)
//   QUORVEX_PROPERTY_ROUNDS  jobs per case (default 30)
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quorvex.h"
#include "support/record_bytes.h"
#include "support/tagging_server.h"

namespace {

using qvtest::peer::Bytes;
namespace rec = qvtest::rec;
namespace peer = qvtest::peer;

enum class Fault {
  None,
  Close,           // the request read, nothing done, the connection closed
  ApplyThenClose,  // done, then closed without an answer
  Reset,
  Stall,        // no answer until the peer gives up
  TwiceNow,     // the answer and a copy of it in one write
  TwiceLater,   // the answer now, its copy before the next request's
  Refuse,       // answered 400, nothing done
  RefuseLogin,  // a login answered 401, then closed
  Restart,      // the server forgets the open job and closes
  HostEnds,     // another thread cancels or disconnects; no answer
  Kinds
};

// One account; a job is the content tag and numbers "tag-k".  With one
// client, a login ends the connections before it, as a platform that
// allows one connection per account does: a request still unread on an
// abandoned connection is dropped, never applied behind the new one's back.
class JobServer {
 public:
  explicit JobServer(std::function<Fault(int32_t)> pick, bool one_client = false)
      : pick_(std::move(pick)), one_client_(one_client), acceptor_([this](int fd) { serve(fd); }) {}

  uint16_t port() const { return acceptor_.port(); }
  int applied(const std::string &tag) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = applied_.find(tag);
    return it == applied_.end() ? 0 : it->second;
  }
  std::vector<std::string> problems() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
  }
  // What the server did since the last look, one line per request, for a
  // failure's trace.
  std::string take_log() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(log_, {});
  }
  std::function<void()> on_host_ends;

 private:
  struct Draft {
    bool open = false;
    std::set<int32_t> fields;
    std::vector<std::string> numbers;
    std::string product, count, content;
  };

  void serve(int fd) {
    Bytes duplicate;
    const int connection = ++connections_;
    for (;;) {
      Bytes request;
      if (!peer::read_exact(acceptor_.stopper(), fd, rec::kSize, request)) break;
      const int32_t code = rec::code(request);
      const Fault fault = pick_(code);
      note(connection, code, fault);
      // A copy held back goes out in the same write as this request's
      // answer: it arrives after the request was written, and the answer
      // behind it is there for the client to see.  (A copy that comes
      // later still is beyond what any client of the stream can tell.)
      Bytes out = std::exchange(duplicate, {});
      const Bytes answer = answer_to(connection, request, fault);
      if (!answer.empty() && fault == Fault::TwiceNow) out += answer;
      if (!out.empty() || !answer.empty()) peer::write_all(fd, out + answer);
      if (fault == Fault::Reset) peer::arm_reset(fd);
      if (fault == Fault::TwiceLater) duplicate = answer;
      if (fault == Fault::HostEnds && on_host_ends) on_host_ends();
      if (fault == Fault::Stall || fault == Fault::HostEnds) continue;  // the peer's close ends it
      if (answer.empty() || fault == Fault::ApplyThenClose || fault == Fault::RefuseLogin) break;
    }
    ::close(fd);
  }

  // What the server writes for a request under a fault: nothing when it
  // does not answer (or drops the request), and closes after.
  Bytes answer_to(int connection, const Bytes &request, Fault fault) {
    switch (fault) {
      case Fault::Reset:
      case Fault::Close:
      case Fault::Stall:
      case Fault::HostEnds: return {};
      case Fault::Restart: {
        const std::lock_guard<std::mutex> lock(mutex_);
        draft_ = Draft{};
        return {};
      }
      case Fault::Refuse: return rec::make(400, "refused");
      case Fault::ApplyThenClose: handle(connection, request); return {};
      case Fault::RefuseLogin:  // picked for logins only
        handle(connection, request);
        return rec::make(401, "bad login");
      default: return handle(connection, request);
    }
  }

  void note(int connection, int32_t code, Fault fault) {
    const std::lock_guard<std::mutex> lock(mutex_);
    log_ += "c" + std::to_string(connection) + ":" + std::to_string(code);
    if (fault != Fault::None) log_ += "!" + std::to_string(static_cast<int>(fault));
    log_ += " ";
  }

  Bytes handle(int connection, const Bytes &request) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const int32_t code = rec::code(request);
    const std::string body = rec::body(request);
    if (one_client_ && code == 100) client_ = connection;
    if (one_client_ && connection != client_) {
      log_ += "(dropped) ";
      return {};
    }
    switch (code) {
      case 100:
      case 2011:
      case 2041: return rec::make(900, "ok");
      case 298:
        draft_ = Draft{};
        draft_.open = true;
        return rec::make(900, "cleared");
      case 124: {
        std::string list;
        for (const std::string &n : job_numbers_) list += n + ",";
        return rec::make(900, list);
      }
      case 128: return rec::make(900, "rows of " + body);
      case 299: return submit();
      default: break;
    }
    if (!draft_.open) return rec::make(409, "no open job");
    if (code != 202 && !draft_.fields.insert(code).second)
      problems_.push_back("field " + std::to_string(code) + " twice in one job");
    if (code == 201) draft_.product = body;
    if (code == 203) draft_.count = body;
    if (code == 204) draft_.content = body;
    if (code == 202) {
      for (size_t at = 0; at <= body.size();) {
        const size_t comma = std::min(body.find(',', at), body.size());
        draft_.numbers.push_back(body.substr(at, comma - at));
        at = comma + 1;
      }
    }
    return rec::make(900, "ok");
  }

  Bytes submit() {
    Draft d = std::move(draft_);
    draft_ = Draft{};
    if (!d.open || d.product.empty() || std::to_string(d.numbers.size()) != d.count)
      return rec::make(400, "incomplete");  // its numbers left empty
    std::set<std::string> seen;
    for (const std::string &n : d.numbers) {
      const char *problem = n.rfind(d.content + "-", 0) != 0 ? "a number of another job"
                            : !seen.insert(n).second         ? "a number twice"
                                                             : nullptr;
      if (problem) {
        problems_.push_back(std::string(problem) + ": " + n + " in job " + d.content);
        break;
      }
    }
    ++applied_[d.content];
    job_numbers_.push_back("J" + std::to_string(job_numbers_.size() + 1));
    const std::string n = std::to_string(d.numbers.size());
    return rec::make(900, job_numbers_.back(), n, n, "1000");
  }

  std::function<Fault(int32_t)> pick_;
  const bool one_client_;
  int client_ = 0;  // the connection that logged in last
  mutable std::mutex mutex_;
  Draft draft_;
  std::map<std::string, int> applied_;
  std::vector<std::string> job_numbers_;
  std::vector<std::string> problems_;
  std::string log_;
  std::atomic<int> connections_{0};
  peer::Acceptor acceptor_;  // last: its threads end before the rest goes
};

QvSession *logged_in(uint16_t port) {
  QvSession *s = QvSessionCreate();
  char message[QV_BODY_BUFFER_SIZE];
  char p[3][QV_PARAM_BUFFER_SIZE];
  int32_t code = -1;
  EXPECT_TRUE(QvTcpConnect(s, message, "127.0.0.1", port, 2000, "", "", 0, "", ""));
  EXPECT_TRUE(QvLogin_Request(s, "app", "x", "demo", "demo123", "1"));
  EXPECT_TRUE(QvLogin_Feedback(s, &code, message, p[0], p[1], p[2]));
  QvSetReadTimeout(s, 300);
  return s;
}

QvJob *make_job(const std::string &tag, int numbers) {
  QvJob *job = QvJobCreate();
  EXPECT_TRUE(QvJobSetText(job, QV_JOB_PRODUCT, "P1", -1, QV_TEXT_GBK));
  EXPECT_TRUE(QvJobSetText(job, QV_JOB_CONTENT, tag.c_str(), -1, QV_TEXT_UTF8));
  for (int k = 0; k < numbers; ++k)
    EXPECT_TRUE(QvJobAddNumber(job, (tag + "-" + std::to_string(k)).c_str()));
  return job;
}

int32_t status_of(QvJob *job) {
  int32_t status = -1;
  QvJobResult(job, &status, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  return status;
}

// How a job ended, with its evidence, for a failure's trace.
std::string described(QvJob *job) {
  int32_t status = 0, step = 0, attempts = 0, code = 0;
  char message[QV_BODY_BUFFER_SIZE] = "";
  QvJobResult(job, &status, &step, &attempts, &code, message, nullptr, nullptr, nullptr, nullptr);
  std::string text = "status " + std::to_string(status) + " at " + std::to_string(step) +
                     " after " + std::to_string(attempts) + ": " + std::to_string(code) + " " +
                     message;
  for (int32_t which = QV_EVIDENCE_PACKAGES_BEFORE; which <= QV_EVIDENCE_DETAILS_AFTER; ++which) {
    char evidence[QV_BODY_BUFFER_SIZE] = "-";
    QvJobEvidence(job, which, evidence, sizeof evidence);
    text += std::string("; evidence ") + evidence;
  }
  return text;
}

// The count of "J<n>," entries in a package list of the test server, -1
// when the text is no such list.
int package_count(const std::string &list) {
  int count = 0;
  for (size_t at = 0; at < list.size(); ++count) {
    const size_t comma = list.find(',', at);
    if (list[at] != 'J' || comma == std::string::npos || comma == at + 1 ||
        list.find_first_not_of("0123456789", at + 1) != comma)
      return -1;
    at = comma + 1;
  }
  return count;
}

// The test server's own resolver: its package list grew by this job when
// the job went through (it is the only sender of its account).  Evidence
// handed over must be the server's own list, taken in step: the list after
// starts with the list before and holds at most one more job.
int32_t QV_CALL packages_grew(QvJob *job, void *) {
  char before[QV_BODY_BUFFER_SIZE];
  char after[QV_BODY_BUFFER_SIZE];
  if (QvJobEvidence(job, QV_EVIDENCE_PACKAGES_BEFORE, before, sizeof before) < 0 ||
      QvJobEvidence(job, QV_EVIDENCE_PACKAGES_AFTER, after, sizeof after) < 0)
    return QV_RESOLVED_UNKNOWN;
  const std::string b(before);
  const std::string a(after);
  const int grew = package_count(a) - package_count(b);
  const bool in_step = package_count(b) >= 0 && a.rfind(b, 0) == 0 && (grew == 0 || grew == 1);
  EXPECT_TRUE(in_step) << "evidence before \"" << b << "\", after \"" << a << "\"";
  if (!in_step) return QV_RESOLVED_UNKNOWN;
  return grew == 1 ? QV_RESOLVED_SUBMITTED : QV_RESOLVED_NOT_SUBMITTED;
}

class JobFaults : public ::testing::TestWithParam<unsigned> {};

TEST_P(JobFaults, StatusIsHonestAndNothingIsAppliedTwice) {
  const char *offset = std::getenv("QUORVEX_PROPERTY_SEED");
  const char *rounds_text = std::getenv("QUORVEX_PROPERTY_ROUNDS");
  const unsigned seed = GetParam() + (offset ? static_cast<unsigned>(std::atoi(offset)) : 0U);
  const int rounds = rounds_text ? std::atoi(rounds_text) : 30;
  std::mt19937 random(seed);  // the server's picks, under pick_mutex
  std::mt19937 sizes(seed);   // the jobs' sizes, on this thread
  std::atomic<bool> faults{false};
  std::atomic<bool> faulted{false};
  std::mutex pick_mutex;
  JobServer server(
      [&](int32_t code) {
        const std::lock_guard<std::mutex> lock(pick_mutex);
        if (!faults || random() % 10 != 0) return Fault::None;
        faulted = true;
        auto f = static_cast<Fault>(1 + random() % (static_cast<unsigned>(Fault::Kinds) - 1));
        if (f == Fault::RefuseLogin && code != 100) f = Fault::Close;
        return f;
      },
      true);
  QvSession *session = logged_in(server.port());
  std::atomic<QvJob *> current{nullptr};
  // A disconnect pending when the next job starts would end that one too:
  // each job starts once the host's other thread is done.
  std::atomic<int> ending{0};
  server.on_host_ends = [&] {
    ++ending;
    bool cancel = false;
    {
      const std::lock_guard<std::mutex> lock(pick_mutex);
      cancel = random() % 2 != 0;
    }
    if (cancel)
      QvJobCancel(current.load());
    else
      QvTcpDisconnect(session);
    --ending;
  };
  faults = true;
  const bool resolve = seed % 2 == 0;
  bool faulted_before = false;
  std::string log_before;
  size_t problems = 0;
  std::map<int32_t, int> by_status;
  int faults_seen = 0;
  for (int i = 0; i < rounds; ++i) {
    const std::string tag = std::to_string(seed) + "x" + std::to_string(i);
    QvJob *job = make_job(tag, 1 + static_cast<int>(sizes() % 300));
    if (resolve) {
      QvJobSetOption(job, QV_JOB_OPTION_EVIDENCE, 1);
      QvJobSetResolver(job, packages_grew, nullptr);
    }
    current = job;
    faulted = false;
    const qv_bool sent = QvSendJob(session, job, 3);
    while (ending.load() != 0) std::this_thread::yield();
    const int32_t status = status_of(job);
    const int applied = server.applied(tag);
    const std::string log = server.take_log();
    SCOPED_TRACE("job " + tag + ", " + described(job) + "\nserver: " + log +
                 "\nthe job before: " + log_before);
    log_before = log;
    EXPECT_EQ(server.problems().size(), problems);
    problems = server.problems().size();
    EXPECT_EQ(sent != 0, status == QV_JOB_SUBMITTED);
    EXPECT_LE(applied, 1);
    if (status == QV_JOB_SUBMITTED) {
      EXPECT_EQ(applied, 1);
    }
    if (status == QV_JOB_REFUSED || status == QV_JOB_FAILED || status == QV_JOB_CANCELLED) {
      EXPECT_EQ(applied, 0);
    }
    // A late answer of the job before can still be on the stream.
    if (!faulted && !faulted_before) {
      EXPECT_EQ(status, QV_JOB_SUBMITTED);
    }
    faulted_before = faulted.load();
    faults_seen += faulted ? 1 : 0;
    ++by_status[status];
    current = nullptr;
    QvJobDestroy(job);
  }
  EXPECT_EQ(server.problems(), std::vector<std::string>{});
  std::printf(
      "seed %u: %d jobs, %d with faults; submitted %d, refused %d, failed %d, maybe %d, "
      "cancelled %d; server problems %zu\n",
      seed, rounds, faults_seen, by_status[QV_JOB_SUBMITTED], by_status[QV_JOB_REFUSED],
      by_status[QV_JOB_FAILED], by_status[QV_JOB_MAYBE_SUBMITTED], by_status[QV_JOB_CANCELLED],
      server.problems().size());
  QvSessionDestroy(session);
}

INSTANTIATE_TEST_SUITE_P(Seeds, JobFaults, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u));

// Two threads send jobs of one account, each on a session of its own: the
// account lock keeps their fields apart, so every job goes through whole.
TEST(JobAccounts, JobsOfOneAccountNeverMix) {
  JobServer server([](int32_t) { return Fault::None; });
  std::vector<std::thread> threads;
  std::atomic<int> submitted{0};
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      QvSession *session = logged_in(server.port());
      for (int i = 0; i < 25; ++i) {
        QvJob *job = make_job("t" + std::to_string(t) + "j" + std::to_string(i), 1 + i * 7);
        if (QvSendJob(session, job, 1)) ++submitted;
        QvJobDestroy(job);
      }
      QvSessionDestroy(session);
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(submitted.load(), 50);
  EXPECT_EQ(server.problems(), std::vector<std::string>{});
}

// A submit answered twice makes the job a "maybe"; the look-ups after it
// run on a new login whose answer comes late, in front of the first
// look-up's own.  The late answer is no evidence: the resolver (which
// checks that what it is handed is the server's list) never sees it.
TEST(JobAccounts, ALateAnswerIsNeverTakenAsEvidence) {
  std::atomic<int> logins{0};
  JobServer server([&](int32_t code) {
    if (code == 299) return Fault::TwiceNow;
    return code == 100 && ++logins == 2 ? Fault::TwiceLater : Fault::None;
  });
  QvSession *session = logged_in(server.port());
  QvJob *job = make_job("late", 2);
  QvJobSetOption(job, QV_JOB_OPTION_EVIDENCE, 1);
  QvJobSetResolver(job, packages_grew, nullptr);
  EXPECT_FALSE(QvSendJob(session, job, 1));
  EXPECT_EQ(status_of(job), QV_JOB_MAYBE_SUBMITTED) << described(job);
  EXPECT_GE(logins.load(), 2) << "the look-ups ran on a new login";
  char after[QV_BODY_BUFFER_SIZE] = "";
  if (QvJobEvidence(job, QV_EVIDENCE_PACKAGES_AFTER, after, sizeof after) >= 0) {
    EXPECT_EQ(package_count(after), 1) << after;
  }
  EXPECT_EQ(server.applied("late"), 1);
  QvJobDestroy(job);
  QvSessionDestroy(session);
}

// A disconnect from another thread between two calls of a job ends it as
// surely as one during a call: the job does not reconnect and go on.
void QV_CALL disconnect_at_content(QvJob *, void *session, int32_t step, int32_t) {
  if (step == 204)
    std::thread([session] { QvTcpDisconnect(static_cast<QvSession *>(session)); }).join();
}

TEST(JobAccounts, DisconnectBetweenCallsEndsTheJob) {
  JobServer server([](int32_t) { return Fault::None; });
  QvSession *session = logged_in(server.port());
  QvJob *job = make_job("between", 3);
  ASSERT_TRUE(QvJobSetProgress(job, disconnect_at_content, session));
  EXPECT_FALSE(QvSendJob(session, job, 2));
  int32_t step = 0;
  QvJobResult(job, nullptr, &step, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(status_of(job), QV_JOB_CANCELLED);
  EXPECT_EQ(step, 204);
  int32_t state = 0;
  QvGetConnectionState(session, &state, nullptr, nullptr, nullptr);
  EXPECT_EQ(state & QV_STATE_CONNECTED, 0);  // left closed, as the host asked
  EXPECT_EQ(server.applied("between"), 0);
  ASSERT_TRUE(QvJobSetProgress(job, nullptr, nullptr));
  EXPECT_TRUE(QvSendJob(session, job, 2));  // the next send reconnects and goes through
  EXPECT_EQ(server.applied("between"), 1);
  QvJobDestroy(job);
  QvSessionDestroy(session);
}

// A job waiting for its account, held by another session's job, ends when
// its own session is destroyed, without waiting for the holder.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;
};

void QV_CALL hold_at_content(QvJob *, void *context, int32_t step, int32_t) {
  if (step != 204) return;
  Gate &gate = *static_cast<Gate *>(context);
  std::unique_lock<std::mutex> lock(gate.mutex);
  gate.entered = true;
  gate.changed.notify_all();
  gate.changed.wait(lock, [&] { return gate.open; });
}

TEST(JobAccounts, DestroyingASessionEndsItsJobsWaitForTheAccount) {
  JobServer server([](int32_t) { return Fault::None; });
  QvSession *holding = logged_in(server.port());
  QvSession *waiting = logged_in(server.port());
  QvJob *holder = make_job("holder", 2);
  QvJob *waiter = make_job("waiter", 2);
  Gate gate;
  ASSERT_TRUE(QvJobSetProgress(holder, hold_at_content, &gate));
  std::thread first([&] { EXPECT_TRUE(QvSendJob(holding, holder, 1)); });
  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.changed.wait(lock, [&] { return gate.entered; });
  }
  std::thread second([&] { EXPECT_FALSE(QvSendJob(waiting, waiter, 1)); });
  // No event says that the second job waits: give it the time to get there.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(QvSessionDestroy(waiting));
  second.join();  // while the holder still holds the account
  const int32_t status = status_of(waiter);
  EXPECT_TRUE(status == QV_JOB_CANCELLED || status == 0) << status;
  {
    const std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = true;
  }
  gate.changed.notify_all();
  first.join();
  EXPECT_EQ(server.applied("holder"), 1);
  EXPECT_EQ(server.applied("waiter"), 0);
  QvJobDestroy(holder);
  QvJobDestroy(waiter);
  QvSessionDestroy(holding);
}

// Handles and texts: each bad argument is refused at once, naming itself,
// and changes nothing.
TEST(JobArguments, BadArgumentsAreRefused) {
  QvSession *session = QvSessionCreate();
  QvJob *job = QvJobCreate();
  QvJob *gone = QvJobCreate();
  ASSERT_TRUE(QvJobDestroy(gone));
  const std::string long_body(QV_BODY_MAX_TEXT + 1, 'a');
  struct Case {
    const char *what;
    std::function<qv_bool()> call;
    int32_t argument;
  } cases[] = {
      {"destroyed job", [&] { return QvJobCancel(gone); }, 1},
      {"made-up job", [&] { return QvJobCancel(reinterpret_cast<QvJob *>(0x1235)); }, 1},
      {"second destroy", [&] { return QvJobDestroy(gone); }, 1},
      {"unknown field", [&] { return QvJobSetText(job, 13, "a", -1, QV_TEXT_GBK); }, 2},
      {"unknown encoding", [&] { return QvJobSetText(job, QV_JOB_CONTENT, "a", -1, 7); }, 5},
      {"euro sign",
       [&] { return QvJobSetText(job, QV_JOB_CONTENT, "\xe2\x82\xac", -1, QV_TEXT_UTF8); }, 3},
      {"invalid UTF-8",
       [&] { return QvJobSetText(job, QV_JOB_CONTENT, "a\xff", -1, QV_TEXT_UTF8); }, 3},
      {"zero byte", [&] { return QvJobSetText(job, QV_JOB_CONTENT, "a\0b", 3, QV_TEXT_GBK); }, 3},
      {"body too long",
       [&] { return QvJobSetText(job, QV_JOB_CONTENT, long_body.c_str(), -1, QV_TEXT_GBK); }, 3},
      {"order too long",
       [&] { return QvJobSetText(job, QV_JOB_ORDER1, "12345678901234567890", -1, QV_TEXT_GBK); },
       3},
      {"number with comma", [&] { return QvJobAddNumber(job, "1,2"); }, 2},
      {"empty number", [&] { return QvJobAddNumber(job, ""); }, 2},
      {"negative file", [&] { return QvJobSetFile(job, "x", -1); }, 3},
      {"unknown option", [&] { return QvJobSetOption(job, 9, 1); }, 2},
      {"no product", [&] { return QvSendJob(session, job, 1); }, 2},
      {"session as a job",
       [&] { return QvSendJob(session, reinterpret_cast<QvJob *>(session), 1); }, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.call());
    int32_t outcome = -1;
    int32_t argument = -1;
    GetLastOutcome(&outcome, nullptr, &argument, nullptr, nullptr, 0);
    EXPECT_EQ(outcome, QV_OUTCOME_REFUSED);
    EXPECT_EQ(argument, c.argument);
  }
  EXPECT_EQ(status_of(job), 0);
  EXPECT_TRUE(QvJobDestroy(job));
  EXPECT_TRUE(QvSessionDestroy(session));
}

// The one text policy, both ways.
TEST(TextConversion, StrictOutLenientIn) {
  struct Case {
    const char *utf8;
    int32_t gbk_length;  // -1: refused
  } out[] = {
      {"abc", 3},
      {"\xe4\xb8\xad\xe6\x96\x87", 4},
      {"\xe2\x82\xac", -1},
      {"\xc2\x80", -1},
      {"\xf0\x9f\x98\x80", -1},
      {"\xc0\xaf", -1},
      {"\xed\xa0\x80", -1},
      {"a\xe4\xb8", -1},
  };
  for (const Case &c : out) {
    SCOPED_TRACE(c.utf8);
    char gbk[16];
    EXPECT_EQ(QvGbkFromUtf8(c.utf8, -1, gbk, sizeof gbk), c.gbk_length);
  }
  char utf8[32];
  EXPECT_EQ(QvUtf8FromGbk("\x80\xd6\xd0\xff"
                          "a\x81",
                          -1, utf8, sizeof utf8),
            13);
  EXPECT_STREQ(utf8,
               "\xef\xbf\xbd\xe4\xb8\xad\xef\xbf\xbd"
               "a\xef\xbf\xbd");
  // Too small a buffer: the length, nothing written.
  char small[2] = {'x', 'x'};
  EXPECT_EQ(QvGbkFromUtf8("abc", -1, small, sizeof small), 3);
  EXPECT_EQ(small[0], 'x');
}

}  // namespace
