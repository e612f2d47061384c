// quorvex::send_job, the C++ adapter over QvSendJob, against the simulator:
// what it hands the library and reads back, its refusals before any call,
// a cancel from another thread, a server restart between two jobs, and a
// lost submit answer settled by the simulator's resolver.  The sender's
// own rules are the library's tests'.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <quorvex.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim_resolver.h"
#include "simulator.h"
#include "tagging_server.h"

namespace qvtest {
namespace {

using quorvex::Job;
using quorvex::JobStatus;

// Relays records between the library and the simulator, and does one
// thing to the first exchange of a given request code: forwards it and
// closes the client's connection instead of answering (swallow), closes
// it without forwarding (drop), or forwards it and holds the answer back
// until the client goes (hold).  held is set once that exchange happened.
class Relay {
 public:
  enum Action { kSwallow, kDrop, kHold };

  Relay(uint16_t upstream, int32_t code, Action action)
      : upstream_(upstream), code_(code), action_(action) {}
  uint16_t port() const { return acceptor_.port(); }
  std::future<void> acted() { return acted_.get_future(); }

 private:
  static constexpr size_t kRecord = 2116;

  static int32_t code_of(const std::string &record) {
    return static_cast<int32_t>(
        static_cast<unsigned char>(record[0]) | static_cast<unsigned char>(record[1]) << 8 |
        static_cast<unsigned char>(record[2]) << 16 | static_cast<unsigned char>(record[3]) << 24);
  }

  void serve(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(upstream_);
    if (server >= 0 && ::connect(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
      relay(client, server);
    if (server >= 0) ::close(server);
    ::close(client);
  }

  void relay(int client, int server) {
    const peer::Stopper &stop = acceptor_.stopper();
    for (;;) {
      std::string request, answer;
      if (!peer::read_exact(stop, client, kRecord, request)) return;
      const bool act = code_of(request) == code_ && !done_.exchange(true);
      if (act && action_ == kDrop) return acted_.set_value();
      if (!peer::write_all(server, request) || !peer::read_exact(stop, server, kRecord, answer))
        return;
      if (act) {
        acted_.set_value();
        if (action_ == kSwallow) return;
        std::string rest;  // kHold: nothing more comes until the client goes
        peer::read_exact(stop, client, 1, rest);
        return;
      }
      if (!peer::write_all(client, answer)) return;
    }
  }

  const uint16_t upstream_;
  const int32_t code_;
  const Action action_;
  std::atomic<bool> done_{false};
  std::promise<void> acted_;
  peer::Acceptor acceptor_{[this](int fd) { serve(fd); }};
};

class CppJob : public ::testing::Test {
 protected:
  void SetUp() override { port = sim.start(); }

  template <class... Texts>
  quorvex::Session logged_in(uint16_t to, Texts... texts) {
    quorvex::Session s(texts...);
    EXPECT_TRUE(s.SetReadTimeout(2000));
    EXPECT_TRUE(s.connect("127.0.0.1", to, 2000));
    EXPECT_TRUE(s.login("demo", "demo123").accepted());
    return s;
  }

  // The jobs the account has sent, as AllInfoPackId lists them.
  size_t jobs_sent() {
    quorvex::Session s = logged_in(port);
    const auto packages = s.AllInfoPackId();
    EXPECT_TRUE(packages.accepted());
    return packages.message.empty() ? 0
                                    : static_cast<size_t>(std::count(packages.message.begin(),
                                                                     packages.message.end(), ';')) +
                                          1;
  }

  static Job sms() {
    Job job;
    job.product = "1001";
    job.numbers = {"13800000001", "13800000002"};
    job.content = "hello";
    return job;
  }

  qv::sim::Simulator sim;
  uint16_t port = 0;
};

// The job goes to the library whole, from a UTF-8 session; the result and
// the evidence come back, and the progress sees every call by its code.
TEST_F(CppJob, AWholeJobIsSubmittedWithItsResultAndEvidence) {
  quorvex::Session s = logged_in(port, quorvex::utf8);
  Job job = sms();
  job.content = "会议改到三点";
  job.check = true;
  job.evidence = true;
  job.file_name = "a.gif";
  job.file_content = std::string(3000, '\x01');
  job.product = "2001";
  std::vector<int32_t> steps;
  const quorvex::JobResult r =
      quorvex::send_job(s, job, 2, [&](int32_t step, int32_t) { steps.push_back(step); });
  ASSERT_EQ(JobStatus::Submitted, r.status) << r.step << " " << r.message << r.outcome.detail;
  // The evidence's look-ups first, then the clear, ..., the submit.
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ((std::vector<int32_t>{124, 128, 298}),
            std::vector<int32_t>(steps.begin(), steps.begin() + 3));
  EXPECT_EQ(299, steps.back());
  EXPECT_EQ(1, std::count(steps.begin(), steps.end(), 2041)) << "CheckContent";
  EXPECT_EQ(299, r.step);
  EXPECT_EQ(1, r.attempts);
  EXPECT_EQ(QV_CODE_ACCEPTED, r.code);
  EXPECT_EQ(2, r.recipients);
  EXPECT_FALSE(r.job_number.empty());
  EXPECT_EQ(QV_OUTCOME_OK, r.outcome.kind);
  EXPECT_EQ(std::optional<std::string>(""), r.evidence.packages_before);  // no job yet
  EXPECT_FALSE(r.evidence.packages_after);
  EXPECT_EQ(1u, jobs_sent());
}

// A job that ended is a result; only a job refused before any call throws.
TEST_F(CppJob, OnlyAJobRefusedBeforeAnyCallThrows) {
  quorvex::Session s = logged_in(port, quorvex::utf8);
  quorvex::SessionView none(nullptr);
  Job refused = sms();
  refused.product = "9999";
  const quorvex::JobResult r = quorvex::send_job(s, refused);
  EXPECT_EQ(JobStatus::Refused, r.status);
  EXPECT_EQ(201, r.step);
  EXPECT_NE(QV_CODE_ACCEPTED, r.code);
  EXPECT_FALSE(r.message.empty());

  const auto with = [](auto change) {
    Job job = sms();
    change(job);
    return job;
  };
  const std::vector<std::pair<Job, const char *>> bad = {
      {with([](Job &j) { j.product.clear(); }), "product"},
      {with([](Job &j) { j.numbers.clear(); }), "number"},
      {with([](Job &j) { j.numbers.push_back("138,0000001"); }), "number"},
      {with([](Job &j) { j.content = "10€"; }), "U+20AC"},
      {with([](Job &j) { j.content = std::string(2048, 'x'); }), "content"},
      {with([](Job &j) {
         j.orders = {"PQ1", "PQ2", "PQ3", "PQ4"};
       }),
       "3 orders"},
  };
  for (const auto &[job, named] : bad) {
    try {
      (void)quorvex::send_job(s, job);
      ADD_FAILURE() << named << ": no exception";
    } catch (const std::invalid_argument &e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(named)) << e.what();
    }
  }
  EXPECT_THROW((void)quorvex::send_job(none, sms()), std::invalid_argument);
  EXPECT_EQ(0u, jobs_sent());
}

// The server restarts between two jobs: the second, with the default
// attempts, finds its connection dead, logs in again and is submitted.
TEST_F(CppJob, AServerRestartBetweenTwoJobsStillSubmitsTheSecond) {
  quorvex::Session s = logged_in(port);
  ASSERT_EQ(JobStatus::Submitted, quorvex::send_job(s, sms()).status);
  sim.stop();
  sim.start(port);
  const quorvex::JobResult r = quorvex::send_job(s, sms());
  EXPECT_EQ(JobStatus::Submitted, r.status) << r.step << " " << r.outcome.detail;
  EXPECT_EQ(2u, jobs_sent());
}

// Around a relay that acts on one exchange: a cancel from another thread
// while a field or the submit is out, and a submit whose answer is lost,
// with and without the simulator's resolver.  The server's own list says
// what it took.
TEST_F(CppJob, CancelsAndLostSubmitsEndAsTheServerLeftThem) {
  enum Host { kWait, kCancel, kDisconnect };  // what another thread does meanwhile
  struct Case {
    const char *what;
    int32_t code;
    Relay::Action action;
    Host host;
    bool resolver;
    JobStatus status;
    size_t applied;
  };
  const Case cases[] = {
      {"cancelled while a field is out", 202, Relay::kHold, kCancel, false, JobStatus::Cancelled,
       0},
      {"disconnected while a field is out", 203, Relay::kHold, kDisconnect, false,
       JobStatus::Cancelled, 0},
      {"cancelled while the submit is out", 299, Relay::kHold, kCancel, false,
       JobStatus::MaybeSubmitted, 1},
      {"submit taken, answer lost, no resolver", 299, Relay::kSwallow, kWait, false,
       JobStatus::MaybeSubmitted, 1},
      {"submit taken, answer lost, resolved", 299, Relay::kSwallow, kWait, true,
       JobStatus::Submitted, 1},
      {"submit lost on the way, resolved", 299, Relay::kDrop, kWait, true, JobStatus::Failed, 0},
  };
  size_t applied = 0;
  for (const Case &c : cases) {
    Relay relay(port, c.code, c.action);
    quorvex::Session s = logged_in(relay.port());
    Job job = sms();
    job.evidence = true;
    if (c.resolver)
      job.resolver = [](const quorvex::JobEvidence &e) {
        return static_cast<quorvex::Resolved>(
            qv::cli::resolve_on_simulator(e.packages_before, e.packages_after, e.details_after));
      };
    quorvex::JobCanceller canceller;
    std::future<void> acted = relay.acted();
    std::thread canceller_thread([&] {
      const bool in_time = acted.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
      if (c.host == kCancel || !in_time) canceller.cancel();
      if (c.host == kDisconnect) (void)s.TcpDisconnect();
    });
    const quorvex::JobResult r = quorvex::send_job(s, job, canceller);
    canceller_thread.join();
    applied += c.applied;
    EXPECT_EQ(c.status, r.status) << c.what << ": " << r.outcome.detail;
    EXPECT_EQ(c.code, r.step) << c.what;
    EXPECT_EQ(applied, jobs_sent()) << c.what;
    if (c.code == 299 && c.host == kWait) {
      EXPECT_TRUE(r.evidence.packages_after) << c.what << ": the evidence after the loss";
    }
  }
}

// A cancel made before the send ends it before its first call; a progress
// function that throws ends it at that call, and its exception waits in
// the result rather than unwinding through the library.
TEST_F(CppJob, ACancelBeforeTheSendOrAThrowingProgressEndsIt) {
  quorvex::Session s = logged_in(port);
  quorvex::JobCanceller canceller;
  canceller.cancel();
  int calls = 0;
  const quorvex::JobResult before =
      quorvex::send_job(s, sms(), canceller, 2, [&](int32_t, int32_t) { ++calls; });
  EXPECT_EQ(JobStatus::Cancelled, before.status);
  EXPECT_EQ(0, calls);

  const quorvex::JobResult thrown = quorvex::send_job(s, sms(), 2, [](int32_t step, int32_t) {
    if (step == 202) throw std::runtime_error("progress gave up");
  });
  EXPECT_EQ(JobStatus::Cancelled, thrown.status);
  EXPECT_EQ(202, thrown.step);
  ASSERT_TRUE(thrown.callback_exception);
  EXPECT_THROW(std::rethrow_exception(thrown.callback_exception), std::runtime_error);
  EXPECT_EQ(0u, jobs_sent());
}

// The simulator's resolver reads AllInfoPackId's list before and after the
// "maybe" and LastDetails' rows of the first number after it.
TEST(SimulatorResolver, DecidesOnlyWhatTheRepliesShow) {
  using std::nullopt;
  const std::string row = ",13800000001,2,2030-01-01 10:00:00";
  struct Case {
    std::optional<std::string> before, after, details;
    int32_t answer;
  };
  const std::string r7 = "100007" + row, r5 = "100005" + row, r6 = "100006" + row;
  const Case cases[] = {
      {"100005;100004", "100007;100006;100005;100004", r7 + ";" + r5, QV_RESOLVED_SUBMITTED},
      {"", "100001", "100001" + row, QV_RESOLVED_SUBMITTED},
      {"100005", "100005", r5, QV_RESOLVED_NOT_SUBMITTED},
      {"100005", "100006;100005", r5, QV_RESOLVED_NOT_SUBMITTED},  // another job
      {"", "", "", QV_RESOLVED_NOT_SUBMITTED},
      {"100005", "100007;100006;100005", r7 + ";" + r6, QV_RESOLVED_UNKNOWN},  // two hold it
      {"100005", "100009;100008;...", r5, QV_RESOLVED_UNKNOWN},  // the old one cut off
      {"", "100009;100008;...", "", QV_RESOLVED_UNKNOWN},
      {"100005", nullopt, r5, QV_RESOLVED_UNKNOWN},
      {nullopt, "100005", r5, QV_RESOLVED_UNKNOWN},
      {"100005", "100006;100005", nullopt, QV_RESOLVED_UNKNOWN},
      {"100005", "100006;100005", "条数应为1到20!", QV_RESOLVED_UNKNOWN},
      {"x", "100006", r6, QV_RESOLVED_UNKNOWN},
  };
  const auto view = [](const std::optional<std::string> &text) {
    return text ? std::optional<std::string_view>(*text) : nullopt;
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.answer,
              qv::cli::resolve_on_simulator(view(c.before), view(c.after), view(c.details)))
        << c.before.value_or("-") << " / " << c.after.value_or("-") << " / "
        << c.details.value_or("-");
}

}  // namespace
}  // namespace qvtest
