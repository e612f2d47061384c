// quorvex::Queue and the start_ methods against the simulator: a started
// operation's result is the blocking method's, refusals included; a cancel,
// a drain and the ops' lifetimes (dropped early, or outliving their queue).
#include <poll.h>

#include <quorvex.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "simulator.h"

namespace qvtest {
namespace {

using namespace std::chrono_literals;
using quorvex::Queue;
using quorvex::Session;

// Everything a Result says, outputs given by the row.
template <class R>
std::string said(const R &r, const std::string &outputs) {
  return std::string(r.call) + " ok=" + std::to_string(r.ok) + " code=" + std::to_string(r.code) +
         " message=" + r.message + " outcome=" + std::to_string(r.outcome.kind) + "/" +
         std::to_string(r.outcome.sent) + "/" + std::to_string(r.outcome.argument) + "/" +
         std::to_string(r.outcome.socket_error) + " " + r.outcome.detail + " " + outputs;
}

// Waits on the queue until op has completed.
template <class Op>
void wait_for(Queue &queue, const Op &op) {
  for (int i = 0; i < 50 && !op.completed(); ++i) (void)queue.next(200ms);
  ASSERT_TRUE(op.completed());
}

bool readable(const Queue &queue, int timeout_ms = 0) {
  pollfd p{static_cast<int>(queue.wait_handle()), POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN);
}

class CppOps : public ::testing::Test {
 protected:
  void SetUp() override { port = sim.start(); }

  Session logged_in() {
    Session s(quorvex::utf8);
    EXPECT_TRUE(s.SetReadTimeout(2000));
    EXPECT_TRUE(s.connect("127.0.0.1", port, 2000));
    EXPECT_TRUE(s.login("demo", "demo123").accepted());
    return s;
  }

  qv::sim::Simulator sim;
  uint16_t port = 0;
};

struct Row {
  const char *name;
  std::function<std::string(Session &)> sync;
  std::function<std::string(Session &, Queue &)> started;
};

// The sync method and its start_ twin, compared through what they say.
template <class Sync, class Start, class Outputs>
Row row(const char *name, Sync sync, Start start, Outputs outputs) {
  return {name,
          [=](Session &s) {
            const auto r = sync(s);
            return said(r, outputs(r));
          },
          [=](Session &s, Queue &q) {
            auto op = start(s, q);
            wait_for(q, op);
            const auto r = op.result();
            return said(r, outputs(r));
          }};
}

const auto no_outputs = [](const auto &) { return std::string(); };

TEST_F(CppOps, AStartedOperationsResultIsTheMethods) {
  Session s = logged_in();
  Queue queue;
  const std::vector<Row> rows = {
      row(
          "NumRule", [](Session &x) { return x.NumRule(); },
          [](Session &x, Queue &q) { return x.start_NumRule(q); }, no_outputs),
      row(
          "GetUdInfo", [](Session &x) { return x.GetUdInfo(); },
          [](Session &x, Queue &q) { return x.start_GetUdInfo(q); },
          [](const auto &r) { return r.Param1 + "|" + r.Param2 + "|" + r.Param3; }),
      row(
          "FindAllSubsEx", [](Session &x) { return x.FindAllSubsEx(); },
          [](Session &x, Queue &q) { return x.start_FindAllSubsEx(q); },
          [](const auto &r) {
            return std::to_string(r.Number1) + std::to_string(r.Number2) +
                   std::to_string(r.Number3);
          }),
      row(
          "MMSMaxSize", [](Session &x) { return x.MMSMaxSize("", ""); },
          [](Session &x, Queue &q) { return x.start_MMSMaxSize(q, "", ""); },
          [](const auto &r) { return r.ParamOut; }),
      // A pair, the second half's outputs from the reply.
      row(
          "fxNumRule", [](Session &x) { return x.fxNumRule(); },
          [](Session &x, Queue &q) { return x.start_fxNumRule(q); }, no_outputs),
      // Refused before any call: a character GBK lacks, a zero byte.
      row(
          "EditPassword €", [](Session &x) { return x.EditPassword("a€", "a€"); },
          [](Session &x, Queue &q) { return x.start_EditPassword(q, "a€", "a€"); }, no_outputs),
      row(
          "FindSubInfo NUL", [](Session &x) { return x.FindSubInfo(std::string("a\0b", 3)); },
          [](Session &x, Queue &q) { return x.start_FindSubInfo(q, std::string("a\0b", 3)); },
          no_outputs),
  };
  for (const Row &r : rows) {
    const std::string sync = r.sync(s);
    EXPECT_EQ(sync, r.started(s, queue)) << r.name;
  }

  // Failures: a pair whose first half fails (on two sessions never
  // connected), and a session that is none.
  const auto fx = row(
      "fxNumRule unconnected", [](Session &x) { return x.fxNumRule(); },
      [](Session &x, Queue &q) { return x.start_fxNumRule(q); }, no_outputs);
  Session never, never_either;
  const std::string unconnected = fx.sync(never);
  EXPECT_EQ(unconnected, fx.started(never_either, queue));
  Session moved;
  const Session gone(std::move(moved));
  const auto login = row(
      "login", [](Session &x) { return x.login("demo", "demo123"); },
      [](Session &x, Queue &q) { return x.start_login(q, "demo", "demo123"); },
      [](const auto &r) { return r.Param1 + r.Param2 + r.Param3; });
  const std::string logged = login.sync(s);
  EXPECT_EQ(logged, login.started(s, queue));
  const std::string refused = login.sync(moved);
  EXPECT_EQ(refused, login.started(moved, queue)) << "refused at once";
  EXPECT_FALSE(readable(queue)) << "every completion was taken";
}

// Operations of one session complete in order: a cancel of one still
// queued completes it cancelled with nothing sent; an op dropped before its
// completion is cancelled and never handed out; drain hands out the rest.
TEST_F(CppOps, CancelDropAndDrain) {
  qv::sim::Options slow;
  slow.delay = 300ms;
  qv::sim::Simulator late(slow);
  Session s(quorvex::utf8);
  ASSERT_TRUE(s.connect("127.0.0.1", late.start(), 2000));
  ASSERT_TRUE(s.login("demo", "demo123").accepted());
  Queue queue;
  auto first = s.start_NumRule(queue);
  auto cancelled = s.start_GetUdInfo(queue);
  { auto dropped = s.start_InfoType(queue); }
  auto last = s.start_FindAllSubsEx(queue);
  EXPECT_TRUE(cancelled.cancel());
  int tag = 0;
  last.set_tag(&tag);

  std::vector<quorvex::Op> seen;
  while (seen.empty() || seen.back() != last) {
    ASSERT_TRUE(readable(queue, 5000));
    queue.drain([&](quorvex::Op op) {
      EXPECT_TRUE(op.completed());
      seen.push_back(std::move(op));
    });
  }
  ASSERT_EQ(3u, seen.size()) << "the dropped op is never handed out";
  EXPECT_TRUE(seen[0] == first && seen[1] == cancelled);
  EXPECT_EQ(&tag, seen[2].tag());
  EXPECT_TRUE(first.result().accepted());
  const auto c = cancelled.result();
  EXPECT_EQ(QV_OUTCOME_CANCELLED, c.outcome.kind);
  EXPECT_FALSE(c.outcome.sent);
  EXPECT_FALSE(cancelled.cancel()) << "completed";
  // The generic op reads as its start's type only.
  EXPECT_TRUE(seen[2].result_as<quorvex::Result<quorvex::FindAllSubsExOutputs>>()->accepted());
  EXPECT_FALSE(seen[2].result_as<quorvex::Result<>>());
  EXPECT_FALSE(readable(queue));
}

// A queue that goes first: its ops stay safe to hold, read, cancel and
// drop, a next() waiting on another thread ends at close(), and a start on
// a closed queue is refused at once (Argument 2).
TEST_F(CppOps, OpsOutliveTheirQueue) {
  qv::sim::Options slow;
  slow.delay = 300ms;
  qv::sim::Simulator late(slow);
  Session s;
  ASSERT_TRUE(s.connect("127.0.0.1", late.start(), 2000));
  quorvex::TypedOp<quorvex::Result<>> pending = [&] {
    Queue queue;
    std::thread waiter([&] { EXPECT_FALSE(queue.next()); });
    auto op = s.start_Heartbeat(queue);
    queue.close();
    waiter.join();
    const auto refused = s.start_NumRule(queue).result();
    EXPECT_EQ(QV_OUTCOME_REFUSED, refused.outcome.kind);
    EXPECT_EQ(2, refused.outcome.argument);
    return op;
  }();
  EXPECT_FALSE(pending.completed());
  EXPECT_EQ(QV_OUTCOME_REFUSED, pending.result().outcome.kind);
  EXPECT_FALSE(pending.cancel());
  quorvex::TypedOp<quorvex::Result<>> moved = std::move(pending);
  EXPECT_FALSE(pending);  // NOLINT(bugprone-use-after-move)
}

// A send job as an operation ends as send_job's does, its progress read
// meanwhile; a job the library refuses before any call throws from
// result() as send_job does.
TEST_F(CppOps, ASendJobOperation) {
  Session s = logged_in();
  Queue queue;
  quorvex::Job job;
  job.product = "1001";
  job.numbers = {"13800000001"};
  job.content = "会议改到三点";
  auto op = quorvex::start_send_job(s, queue, job);
  wait_for(queue, op);
  const quorvex::JobResult r = op.result();
  EXPECT_EQ(quorvex::JobStatus::Submitted, r.status) << r.message << r.outcome.detail;
  int32_t step = 0, attempt = 0;
  EXPECT_TRUE(op.progress(step, attempt));
  EXPECT_EQ(299, step);
  job.numbers.clear();
  auto refused = quorvex::start_send_job(s, queue, job);
  wait_for(queue, refused);
  EXPECT_THROW((void)refused.result(), std::invalid_argument);
}

}  // namespace
}  // namespace qvtest
