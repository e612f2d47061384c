// quorvex::Journal against the simulator: jobs added once per reference,
// sent blocking and as operations, read back SUBMITTED with their numbers;
// what cannot be a journal, or is open already, refused as an exception.
#include <unistd.h>

#include <quorvex.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "simulator.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quorvex::Journal;
using quorvex::JournalState;

class CppJournal : public ::testing::Test {
 protected:
  void SetUp() override {
    port = sim.start();
    dir = fs::temp_directory_path() / ("qv-cpp-journal-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string path(const char *name) const { return (dir / name).string(); }

  quorvex::Session logged_in() {
    quorvex::Session s(quorvex::utf8);
    EXPECT_TRUE(s.SetReadTimeout(2000));
    EXPECT_TRUE(s.connect("127.0.0.1", port, 2000));
    EXPECT_TRUE(s.login("demo", "demo123").accepted());
    return s;
  }

  static quorvex::Job job(const char *number) {
    quorvex::Job j;
    j.product = "1001";
    j.numbers = {number};
    j.content = "会议改到三点";
    return j;
  }

  // Every id in state, each with a job number, sent once.
  void expect_submitted(const Journal &journal, const std::vector<int64_t> &ids) {
    EXPECT_EQ(journal.list(JournalState::Submitted), ids);
    for (int64_t id : ids) {
      const auto j = journal.job(id);
      ASSERT_TRUE(j) << id;
      EXPECT_EQ(JournalState::Submitted, j->state) << j->message;
      EXPECT_FALSE(j->job_number.empty()) << id;
      EXPECT_EQ(1, j->attempts) << id;
      EXPECT_LE(j->added, j->changed) << id;
    }
  }

  qv::sim::Simulator sim;
  uint16_t port = 0;
  fs::path dir;
};

TEST_F(CppJournal, AddsOnceSendsAndReadsBack) {
  Journal journal(path("a.journal"), quorvex::utf8);
  const int64_t a = journal.add(job("13800000001"), "order-1");
  const int64_t b = journal.add(job("13800000002"), "order-2");
  EXPECT_EQ(a, journal.add(job("13800000009"), "order-1"));  // stored once
  const int64_t c = journal.add(job("13800000003"), "order-3");
  EXPECT_EQ(journal.list(JournalState::Queued), (std::vector<int64_t>{a, b, c}));
  EXPECT_EQ("order-2", journal.job(b)->reference);
  EXPECT_FALSE(journal.job(c + 100));

  quorvex::Session s = logged_in();
  const auto sent = journal.send(s);
  ASSERT_TRUE(sent.ok) << sent.outcome.detail;
  EXPECT_EQ(3, sent.settled);
  expect_submitted(journal, {a, b, c});
  EXPECT_TRUE(journal.list(JournalState::Queued).empty());
  EXPECT_EQ(journal.list(), (std::vector<int64_t>{a, b, c}));
  EXPECT_TRUE(journal.recover(&s).ok);  // nothing to look up
  // A submitted job is settled: the host may not move it.
  const auto moved = journal.resolve(a, JournalState::Queued);
  EXPECT_FALSE(moved.ok);
  EXPECT_EQ(QV_OUTCOME_REFUSED, moved.outcome.kind) << moved.outcome.detail;

  // As operations: one job at a time, then none left.
  const int64_t d = journal.add(job("13800000004"), "order-4");
  const int64_t e = journal.add(job("13800000005"), "order-5");
  quorvex::Queue queue;
  for (int32_t expected : {1, 1, 0}) {
    auto op = quorvex::start_journal_send(s, queue, journal, 1);
    for (int i = 0; i < 50 && !op.completed(); ++i) (void)queue.next(200ms);
    ASSERT_TRUE(op.completed());
    const auto r = op.result();
    EXPECT_TRUE(r.ok) << r.outcome.detail;
    EXPECT_EQ(expected, r.settled);
  }
  expect_submitted(journal, {a, b, c, d, e});
}

TEST_F(CppJournal, RefusesWhatItCannotUse) {
  std::ofstream(path("garbage"), std::ios::binary) << std::string(4096, 'x');
  Journal open(path("b.journal"));
  Journal moved(std::move(open));
  const struct {
    const char *what;
    std::function<void()> call;
    const char *detail;  // a part of the outcome's detail, or null
  } cases[] = {
      {"a second open", [&] { Journal again(path("b.journal")); }, nullptr},
      {"garbage", [&] { Journal garbage(path("garbage")); }, "not a journal"},
      {"a path holding a zero byte", [&] { Journal zero(std::string_view("b\0c", 3)); },
       "zero byte"},
      {"an empty reference", [&] { moved.add(job("13800000001"), ""); }, nullptr},
      {"a journal moved from", [&] { (void)open.list(); }, nullptr},
  };
  for (const auto &c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << " was not refused";
    } catch (const quorvex::Error &e) {
      EXPECT_NE(QV_OUTCOME_OK, e.outcome().kind) << c.what << ": " << e.what();
      if (c.detail) {
        EXPECT_NE(e.outcome().detail.find(c.detail), std::string::npos) << e.what();
      }
    }
  }
  // A job the library refuses stores nothing and hands out no id.
  EXPECT_THROW(moved.add(quorvex::Job{}, "empty"), std::exception);
  EXPECT_TRUE(moved.list().empty());
}

}  // namespace
}  // namespace qvtest
