// The C++ send-job helper against the simulator: the calls a job makes, in
// order; what each way of ending reports; and its recovery when the server
// drops the connection or goes away mid-job.
#include <quorvex.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "record_bytes.h"
#include "simulator.h"

namespace qvtest {
namespace {

using quorvex::Job;
using quorvex::JobStatus;

Job job_of(std::string product, std::vector<std::string> numbers, std::string content,
           std::vector<std::string> orders = {}) {
  Job job;
  job.product = std::move(product);
  job.numbers = std::move(numbers);
  job.content = std::move(content);
  job.orders = std::move(orders);
  return job;
}

class CppJob : public ::testing::Test {
 protected:
  void SetUp() override { port = sim.start(); }

  quorvex::Session logged_in() {
    quorvex::Session s;
    EXPECT_TRUE(s.SetReadTimeout(2000));
    EXPECT_TRUE(s.connect("127.0.0.1", port, 2000));
    EXPECT_TRUE(s.login("demo", "demo123").accepted());
    return s;
  }

  static Job sms(std::vector<std::string> numbers = {"13800000001", "13800000002"}) {
    return job_of("1001", std::move(numbers), "hello");
  }

  qv::sim::Simulator sim;
  uint16_t port = 0;
  std::vector<std::string> steps;  // "attempt:step" as the progress saw them
  quorvex::JobProgress record = [this](int attempt, const char *step) {
    steps.push_back(std::to_string(attempt) + ":" + step);
  };
};

TEST_F(CppJob, AWholeJobIsSentFieldByFieldAndSubmitted) {
  quorvex::Session s = logged_in();
  Job job = sms();
  job.check = true;
  job.file_name = "a.gif";
  job.file_content = std::string(2000, '\x01');  // base64 in two parts
  job.product = "2001";
  const quorvex::JobResult r = quorvex::send_job(s, job, 2, record);
  ASSERT_EQ(r.status, JobStatus::Submitted) << r.step << " " << r.code << " " << r.outcome.detail;
  EXPECT_EQ(steps,
            (std::vector<std::string>{
                "1:SubmitAllClear", "1:SubmitPrdId", "1:CheckPrdId", "1:SubmitTelList",
                "1:SubmitTelNum", "1:SubmitContent", "1:CheckContent", "1:SubmitTransFilename",
                "1:SubmitTransFile", "1:SubmitTransFile", "1:SubmitAllOver_2"}));
  EXPECT_EQ(r.attempts, 1);
  EXPECT_EQ(r.recipients, 2);
  EXPECT_FALSE(r.job_number.empty());
  EXPECT_EQ(r.job_number, r.message);
}

// 400 numbers travel in three records, none longer than a body.
TEST_F(CppJob, ManyNumbersTravelInSeveralRecords) {
  quorvex::Session s = logged_in();
  std::vector<std::string> numbers;
  for (int i = 0; i < 400; ++i) numbers.push_back(std::to_string(13800000000LL + i));
  const quorvex::JobResult r = quorvex::send_job(s, sms(numbers), 2, record);
  ASSERT_EQ(r.status, JobStatus::Submitted) << r.step << " " << r.message;
  EXPECT_EQ(r.recipients, 400);
  EXPECT_EQ(std::count(steps.begin(), steps.end(), "1:SubmitTelList"), 3);
}

TEST_F(CppJob, ARefusedFieldEndsTheJobWithTheServersWords) {
  quorvex::Session s = logged_in();
  Job job = sms();
  job.product = "9999";
  const quorvex::JobResult r = quorvex::send_job(s, job, 2, record);
  EXPECT_EQ(r.status, JobStatus::Refused);
  EXPECT_EQ(r.step, "SubmitPrdId");
  EXPECT_NE(r.code, QV_CODE_ACCEPTED);
  EXPECT_FALSE(r.message.empty());
  EXPECT_EQ(steps.size(), 2u);
}

// The server drops every connection in the middle of the job: the failed
// field is not sent again on its own; the relogin logs in and the whole job
// starts again from its clear.
TEST_F(CppJob, ADroppedConnectionStartsTheJobAgainFromItsClear) {
  quorvex::Session s = logged_in();
  const quorvex::JobResult r = quorvex::send_job(s, sms(), 2, [&](int attempt, const char *step) {
    record(attempt, step);
    if (attempt == 1 && std::string(step) == "SubmitTelNum") sim.drop_all_connections();
  });
  ASSERT_EQ(r.status, JobStatus::Submitted) << r.step << " " << r.outcome.detail;
  EXPECT_EQ(r.attempts, 2);
  EXPECT_EQ(steps.at(3), "1:SubmitTelNum");
  EXPECT_EQ(steps.at(4), "2:SubmitAllClear");
}

// The server is gone: the job fails at that field after one attempt, since
// no relogin could log in; once the server is back the job goes through.
TEST_F(CppJob, AServerThatIsGoneFailsTheJobUntilItIsBack) {
  quorvex::Session s = logged_in();
  const quorvex::JobResult gone = quorvex::send_job(s, sms(), 2, [&](int, const char *step) {
    if (std::string(step) == "SubmitContent") sim.stop();
  });
  EXPECT_EQ(gone.status, JobStatus::Failed);
  EXPECT_EQ(gone.step, "SubmitContent");
  EXPECT_EQ(gone.attempts, 1);
  EXPECT_NE(gone.outcome.kind, QV_OUTCOME_OK);
  sim.start(port);
  EXPECT_TRUE(s.ReLogin());
  EXPECT_EQ(quorvex::send_job(s, sms()).status, JobStatus::Submitted);
}

// A submit whose request went out and whose answer never came may have
// been accepted: reported so, with what to look up, and never sent again.
TEST(CppJobSubmit, ASubmitLostAfterItsRequestIsNeverSentAgain) {
  LoopbackServer server;
  Script script;
  for (int i = 0; i < 5; ++i) script.expect(rec::kSize).send(rec::make(900, "ok"));
  server.on(0, script.expect(rec::kSize).close());
  server.on(1, Script().expect(rec::kSize).close());  // the relogin's login
  quorvex::Session s;
  ASSERT_TRUE(s.SetReadTimeout(2000));
  ASSERT_TRUE(s.connect("127.0.0.1", server.port(), 2000));
  const quorvex::JobResult r = quorvex::send_job(s, job_of("1001", {"13800000001"}, "hi"));
  EXPECT_EQ(r.status, JobStatus::MaybeSubmitted);
  EXPECT_EQ(r.step, "SubmitAllOver_2");
  EXPECT_TRUE(r.outcome.sent);
  EXPECT_NE(r.look_up.find("13800000001"), std::string::npos);
  EXPECT_EQ(s.last_relogin().kind, QV_RELOGIN_FAILED);
}

TEST(CppJobSubmit, AJobThatDoesNotFitIsRefusedBeforeAnyCall) {
  quorvex::SessionView none(nullptr);  // any call would be refused
  const std::vector<Job> bad = {
      job_of("", {"13800000001"}, "hi"),
      job_of("1001", {}, "hi"),
      job_of("1001", {"13800000001", ""}, "hi"),
      job_of("1001", {"138,0000001"}, "hi"),
      job_of("1001", {"13800000001"}, std::string(2048, 'x')),
      job_of("1001", {"13800000001"}, std::string("a\0b", 3)),
      job_of("1001", {"13800000001"}, "hi", {"PQ1", "PQ2", "PQ3", "PQ4"}),
      job_of("1001", {"13800000001"}, "hi", {std::string(20, 'o')}),
  };
  for (size_t i = 0; i < bad.size(); ++i)
    EXPECT_THROW((void)quorvex::send_job(none, bad[i]), std::invalid_argument) << "job " << i;
}

}  // namespace
}  // namespace qvtest
