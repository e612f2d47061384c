// The journal through the public header, as a host calls it: a job added
// once per reference and read back; what is not a journal, a job or a
// reference refused with its place.
#include <quorvex.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "sim_resolver.h"
#include "sim_session.h"
#include "simulator.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

int32_t refused_argument() {
  int32_t kind = -1, argument = -1;
  GetLastOutcome(&kind, nullptr, &argument, nullptr, nullptr, 0);
  return kind == QV_OUTCOME_REFUSED ? argument : -kind;
}

std::string detail() {
  char text[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, text, sizeof text);
  return text;
}

class JournalExports : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-journal-api-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    job_ = QvJobCreate();
    ASSERT_TRUE(QvJobSetText(job_, QV_JOB_PRODUCT, "1001", -1, QV_TEXT_GBK) &&
                QvJobSetText(job_, QV_JOB_CONTENT, "hello", -1, QV_TEXT_GBK) &&
                QvJobAddNumber(job_, "13800000000"));
  }
  void TearDown() override {
    QvJobDestroy(job_);
    fs::remove_all(dir_);
  }
  std::string path(const char *name) const { return (dir_ / name).string(); }
  fs::path dir_;
  QvJob *job_ = nullptr;
};

TEST_F(JournalExports, AddsOnceAndReadsBack) {
  QvJournal *j = QvJournalOpen(path("a.journal").c_str());
  ASSERT_TRUE(j) << detail();
  const int64_t id = QvJournalAdd(j, job_, "order-17");
  ASSERT_GT(id, 0) << detail();
  EXPECT_EQ(QvJournalAdd(j, job_, "order-17"), id);
  int32_t state = 0, attempts = -1, code = 0;
  char reference[QV_JOURNAL_REFERENCE_BUFFER_SIZE], message[QV_BODY_BUFFER_SIZE],
      number[QV_PARAM_BUFFER_SIZE];
  int64_t added = 0, changed = 0;
  ASSERT_TRUE(
      QvJournalJob(j, id, &state, reference, &attempts, &code, message, number, &added, &changed));
  EXPECT_EQ(state, QV_JOURNAL_QUEUED);
  EXPECT_STREQ(reference, "order-17");
  EXPECT_EQ(attempts, 0);
  EXPECT_EQ(code, -1);
  EXPECT_GT(added, 0);
  EXPECT_EQ(added, changed);
  EXPECT_TRUE(QvJournalClose(j));
  EXPECT_FALSE(QvJournalClose(j));  // closed
}

TEST_F(JournalExports, RefusesEachArgumentInItsPlace) {
  QvJournal *j = QvJournalOpen(path("b.journal").c_str());
  ASSERT_TRUE(j);
  QvJob *empty = QvJobCreate();
  QvJob *gone = QvJobCreate();
  QvJobDestroy(gone);
  const std::string too_long(QV_JOURNAL_REFERENCE_MAX + 1, 'r');
  const struct {
    const char *what;
    std::function<bool()> refused;
    int32_t argument;
  } cases[] = {
      {"no journal", [&] { return QvJournalAdd(nullptr, job_, "r") == 0; }, 1},
      {"a made-up journal",
       [&] { return QvJournalAdd(reinterpret_cast<QvJournal *>(0x5a5a5), job_, "r") == 0; }, 1},
      {"a destroyed job", [&] { return QvJournalAdd(j, gone, "r") == 0; }, 2},
      {"a job the sender refuses", [&] { return QvJournalAdd(j, empty, "r") == 0; }, 2},
      {"no reference", [&] { return QvJournalAdd(j, job_, nullptr) == 0; }, 3},
      {"an empty reference", [&] { return QvJournalAdd(j, job_, "") == 0; }, 3},
      {"a reference too long", [&] { return QvJournalAdd(j, job_, too_long.c_str()) == 0; }, 3},
      {"no such job",
       [&] {
         return !QvJournalJob(j, 999, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr);
       },
       2},
      {"no file", [&] { return QvJournalOpen(nullptr) == nullptr; }, 1},
  };
  for (const auto &c : cases) {
    EXPECT_TRUE(c.refused()) << c.what;
    EXPECT_EQ(refused_argument(), c.argument) << c.what << ": " << detail();
  }
  std::ofstream(path("garbage"), std::ios::binary) << std::string(4096, 'x');
  EXPECT_EQ(QvJournalOpen(path("garbage").c_str()), nullptr);
  EXPECT_NE(detail().find("not a journal"), std::string::npos) << detail();
  QvJobDestroy(empty);
  QvJournalClose(j);
}

int32_t state_of(QvJournal *j, int64_t id, std::string *number = nullptr) {
  int32_t state = 0;
  char text[QV_PARAM_BUFFER_SIZE] = "";
  QvJournalJob(j, id, &state, nullptr, nullptr, nullptr, nullptr, text, nullptr, nullptr);
  if (number) *number = text;
  return state;
}

std::vector<int64_t> listed(QvJournal *j, int32_t state) {
  std::vector<int64_t> ids(64);
  const int32_t n = QvJournalList(j, state, ids.data(), static_cast<int32_t>(ids.size()));
  ids.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return ids;
}

// A logged-in session on the simulator, and jobs for it: each to a number
// of its own, so that the simulator's resolver can tell them apart.
class JournalSends : public JournalExports {
 protected:
  void start(std::chrono::milliseconds delay) {
    qv::sim::Options options;
    options.delay = delay;
    sim_ = std::make_unique<qv::sim::Simulator>(options);
    const uint16_t port = sim_->start(0);
    s_ = qvtest::demo_session(port);
    ASSERT_TRUE(s_) << detail();
    j_ = QvJournalOpen(path("s.journal").c_str());
    ASSERT_TRUE(j_) << detail();
  }
  void TearDown() override {
    if (j_) QvJournalClose(j_);
    if (s_) QvSessionDestroy(s_);
    JournalExports::TearDown();
  }
  int64_t add(const std::string &reference, const char *content = "hello") {
    QvJob *job = QvJobCreate();
    const std::string number = "1390000" + std::to_string(next_number_++);
    EXPECT_TRUE(QvJobSetText(job, QV_JOB_PRODUCT, "1001", -1, QV_TEXT_GBK) &&
                QvJobSetText(job, QV_JOB_CONTENT, content, -1, QV_TEXT_GBK) &&
                QvJobAddNumber(job, number.c_str()) &&
                QvJobSetOption(job, QV_JOB_OPTION_EVIDENCE, 1));
    const int64_t id = QvJournalAdd(j_, job, reference.c_str());
    QvJobDestroy(job);
    return id;
  }
  std::unique_ptr<qv::sim::Simulator> sim_;
  QvSession *s_ = nullptr;
  QvJournal *j_ = nullptr;
  int next_number_ = 1000;
};

// Queued jobs go oldest first; each end is stored with what the server
// said, and a refusal does not stop the run.
TEST_F(JournalSends, SendsInOrderAndStoresEachEnd) {
  start(std::chrono::milliseconds(0));
  const int64_t a = add("a");
  const int64_t refused = add("b", "\xB7\xA2\xC6\xB1");  // a forbidden keyword
  const int64_t c = add("c");
  ASSERT_GT(a, 0);
  int32_t settled = -1;
  EXPECT_TRUE(QvJournalSend(s_, j_, 0, &settled)) << detail();
  EXPECT_EQ(settled, 3);
  std::string number;
  EXPECT_EQ(state_of(j_, a, &number), QV_JOURNAL_SUBMITTED);
  EXPECT_FALSE(number.empty());
  EXPECT_EQ(listed(j_, QV_JOURNAL_SUBMITTED), (std::vector<int64_t>{a, c}));
  int32_t code = 0;
  QvJournalJob(j_, refused, nullptr, nullptr, nullptr, &code, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(state_of(j_, refused), QV_JOURNAL_REFUSED);
  EXPECT_EQ(code, qv::sim::kContentRefused);
  // The evidence taken before the submit is kept with the job.
  char evidence[QV_BODY_BUFFER_SIZE];
  EXPECT_GE(QvJournalEvidence(j_, a, QV_EVIDENCE_DETAILS_BEFORE, evidence, sizeof evidence), 0);
  EXPECT_EQ(QvJournalEvidence(j_, a, QV_EVIDENCE_DETAILS_AFTER, evidence, sizeof evidence), -1);
  // The count of all, more than fit.
  int64_t one = 0;
  EXPECT_EQ(QvJournalList(j_, 0, &one, 1), 3);
  EXPECT_EQ(one, a);
  // Nothing left: a run that sends nothing has done all it was asked.
  EXPECT_TRUE(QvJournalSend(s_, j_, 0, &settled));
  EXPECT_EQ(settled, 0);
}

// A send cut off once its submit was out is UNKNOWN, is looked up from its
// evidence by recover (the simulator's resolver says it was applied) and
// is never sent again.  The host settles what a look-up cannot.
TEST_F(JournalSends, ASendCutOffIsLookedUpNeverResent) {
  start(std::chrono::milliseconds(100));
  QvQueue *q = QvQueueCreate();
  int64_t cut = 0;
  // The cancel lands while the simulator holds the submit's answer, unless
  // it comes before the request was written: then the job is queued again,
  // and the next try sends it again.
  const int64_t id = add("cut");
  for (int tries = 0; tries < 5 && cut == 0; ++tries) {
    QvOp *op = QvStartJournalSend(s_, q, nullptr, j_, 1);
    ASSERT_TRUE(op);
    for (int32_t step = 0; step != 299;) {
      ASSERT_TRUE(QvOpProgress(op, &step, nullptr));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QvOpCancel(op);
    ASSERT_EQ(QvQueueNext(q, 10000), op);
    EXPECT_FALSE(QvOpResult(op));
    int32_t outcome = -1;
    QvOpOutcome(op, &outcome, nullptr, nullptr, nullptr, nullptr, 0);
    QvOpFree(op);
    const int32_t state = state_of(j_, id);
    ASSERT_TRUE(state == QV_JOURNAL_UNKNOWN || state == QV_JOURNAL_QUEUED) << state;
    // The outcome says which: never "maybe" for a job that was not submitted.
    EXPECT_EQ(outcome,
              state == QV_JOURNAL_QUEUED ? QV_OUTCOME_CANCELLED : QV_OUTCOME_MAYBE_APPLIED);
    if (state == QV_JOURNAL_UNKNOWN) cut = id;
  }
  ASSERT_GT(cut, 0);
  QvQueueDestroy(q);
  ASSERT_TRUE(QvJournalSetResolver(j_, qv::cli::simulator_resolver, nullptr));
  int32_t resolved = 0;
  ASSERT_TRUE(QvJournalRecover(j_, s_, &resolved)) << detail();
  EXPECT_EQ(resolved, 1);
  EXPECT_EQ(state_of(j_, cut), QV_JOURNAL_SUBMITTED);
  char rows[QV_BODY_BUFFER_SIZE];
  ASSERT_GT(QvJournalEvidence(j_, cut, QV_EVIDENCE_DETAILS_AFTER, rows, sizeof rows), 0);
  EXPECT_EQ(std::string(rows).find(';'), std::string::npos) << rows;  // applied once
  // The host's own settling: what each state may become.
  const int64_t queued = add("later");
  const struct {
    int64_t id;
    int32_t to;
    bool allowed;
  } changes[] = {
      {cut, QV_JOURNAL_QUEUED, false},        // submitted stays submitted
      {queued, QV_JOURNAL_SUBMITTED, false},  // only a job that may have gone
      {queued, QV_JOURNAL_SENDING, false},
      {queued, 0, false},
  };
  for (const auto &c : changes) {
    EXPECT_EQ(QvJournalResolve(j_, c.id, c.to, nullptr) != 0, c.allowed) << c.id << " " << c.to;
    if (!c.allowed) {
      EXPECT_EQ(refused_argument(), 3) << detail();
    }
  }
  EXPECT_EQ(state_of(j_, queued), QV_JOURNAL_QUEUED);
}

}  // namespace
