// quorvex::Journal against the simulator: jobs added once per reference,
// sent blocking and as operations, read back SUBMITTED with their numbers;
// a submit whose answer was lost settled by the resolver through its C
// trampoline; what cannot be a journal, or is open already, refused.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <quorvex.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim_resolver.h"
#include "simulator.h"
#include "tagging_server.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quorvex::Journal;
using quorvex::JournalState;

// Relays records to the simulator, and loses the answer to the first
// submit (299): it forwards the request, then closes the client's side.
class SubmitLoser {
 public:
  explicit SubmitLoser(uint16_t upstream) : upstream_(upstream) {}
  uint16_t port() const { return acceptor_.port(); }

 private:
  static constexpr size_t kRecord = 2116;

  void serve(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(upstream_);
    const peer::Stopper &stop = acceptor_.stopper();
    if (server >= 0 && ::connect(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
      for (;;) {
        std::string request, answer;  // read_exact appends
        if (!peer::read_exact(stop, client, kRecord, request) ||
            !peer::write_all(server, request) || !peer::read_exact(stop, server, kRecord, answer))
          break;
        const bool submit = static_cast<unsigned char>(request[0]) == 299 % 256 &&
                            static_cast<unsigned char>(request[1]) == 299 / 256;
        if (submit && !lost_.exchange(true)) break;
        if (!peer::write_all(client, answer)) break;
      }
    }
    if (server >= 0) ::close(server);
    ::close(client);
  }

  const uint16_t upstream_;
  std::atomic<bool> lost_{false};
  peer::Acceptor acceptor_{[this](int fd) { serve(fd); }};
};

quorvex::Resolved on_simulator(const quorvex::JobEvidence &e) {
  return static_cast<quorvex::Resolved>(
      qv::cli::resolve_on_simulator(e.packages_before, e.packages_after, e.details_after));
}

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

  quorvex::Session logged_in(uint16_t to = 0) {
    quorvex::Session s(quorvex::utf8);
    EXPECT_TRUE(s.SetReadTimeout(2000));
    EXPECT_TRUE(s.connect("127.0.0.1", to ? to : port, 2000));
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

  // Every id SUBMITTED, sent once, with a job number unless a resolver
  // settled it (the answer that carried it was lost).
  void expect_submitted(const Journal &journal, const std::vector<int64_t> &ids,
                        bool numbered = true) {
    EXPECT_EQ(journal.list(JournalState::Submitted), ids);
    for (int64_t id : ids) {
      const auto j = journal.job(id);
      ASSERT_TRUE(j) << id;
      EXPECT_EQ(JournalState::Submitted, j->state) << j->message;
      EXPECT_EQ(numbered, !j->job_number.empty()) << id;
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

// The answer to a submit lost: the resolver settles it during the send,
// or, when it throws, the job stays UNKNOWN with the exception handed back
// until a recover with the simulator's resolver settles it.  Never resent.
TEST_F(CppJournal, ALostSubmitIsResolvedNeverResent) {
  const struct {
    const char *what;
    quorvex::JobResolver resolver;
    JournalState after_send;
    bool thrown;
  } cases[] = {
      {"no resolver", {}, JournalState::Unknown, false},
      {"a resolver that throws",
       [](const quorvex::JobEvidence &) -> quorvex::Resolved { throw std::runtime_error("no"); },
       JournalState::Unknown, true},
      {"the simulator's resolver", on_simulator, JournalState::Submitted, false},
  };
  Journal journal(path("c.journal"), quorvex::utf8);
  int n = 0;
  for (const auto &c : cases) {
    const std::string reference = "lost-" + std::to_string(++n);
    quorvex::Job lost = job(("1380000010" + std::to_string(n)).c_str());
    lost.evidence = true;
    const int64_t id = journal.add(lost, reference);
    journal.set_resolver(c.resolver);
    Journal moved(std::move(journal));  // the resolver goes with it
    journal = std::move(moved);
    SubmitLoser relay(port);
    quorvex::Session s = logged_in(relay.port());
    const auto sent = journal.send(s);
    EXPECT_EQ(c.thrown, static_cast<bool>(sent.callback_exception)) << c.what;
    EXPECT_EQ(c.after_send, journal.job(id)->state) << c.what << ": " << sent.outcome.detail;
    EXPECT_TRUE(journal.evidence(id).packages_before) << c.what;
  }
  journal.set_resolver(on_simulator);
  quorvex::Session s = logged_in();
  const auto recovered = journal.recover(&s);
  EXPECT_TRUE(recovered.ok) << recovered.outcome.detail;
  EXPECT_EQ(2, recovered.resolved);
  expect_submitted(journal, journal.list(), false);
  const auto packages = s.AllInfoPackId();  // the simulator's own account
  ASSERT_TRUE(packages.accepted());
  EXPECT_EQ(2, std::count(packages.message.begin(), packages.message.end(), ';'))
      << "three jobs applied: " << packages.message;
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
