// The two-step login, the relogin and the heartbeat.
#include "record_commands.h"

namespace qvtest {
namespace {

using Login = QuorvexTest;

qv_bool feedback(Outputs &o) {
  return Login_Feedback(o.code_out(), o.message_out(), o.param_out(0), o.param_out(1),
                        o.param_out(2));
}

// A refusal is an answer like any other: result 1, the server's code.
TEST_F(Login, FeedbackHandsBackTheAnswerWhateverItsCode) {
  server.on(0, Script()
                   .expect(kLoginRecord)
                   .send(rec::make(401, gbk("密码错误"), "p1", "p2", "p3"))
                   .expect(kLoginRecord)
                   .send(rec::make(900, "welcome", "a", "bb", "ccc")));
  connect_direct();
  for (int32_t code : {401, 900}) {
    ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
    Outputs out;
    EXPECT_EQ(1, feedback(out));
    EXPECT_EQ(code, out.code);
    if (code == 401) {
      EXPECT_EQ(gbk("密码错误"), out.message.text());
      EXPECT_EQ("p1", out.params[0].text());
      EXPECT_EQ("p2", out.params[1].text());
      EXPECT_EQ("p3", out.params[2].text());
    } else {
      EXPECT_EQ("welcome", out.message.text());
      EXPECT_EQ("ccc", out.params[2].text());
    }
  }
}

// The answer that never came: a relogin, and the caller's buffers left as
// they were (a host may have put its own text there); the outcome says why.
TEST_F(Login, FeedbackWhoseReadFailsRelogsInAndLeavesTheBuffers) {
  server.on(0, Script().expect(kLoginRecord).close());
  server.on(1, logged_in());
  connect_direct();
  ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
  Outputs out;
  EXPECT_EQ(0, feedback(out));
  EXPECT_EQ(-1, out.code);
  EXPECT_TRUE(out.message.untouched());
  EXPECT_TRUE(out.params_untouched());
  int32_t outcome = -1;
  ASSERT_EQ(1, GetLastOutcome(&outcome, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(QV_OUTCOME_MAYBE_APPLIED, outcome);
  EXPECT_TRUE(server.wait_done(1));
  Outputs again;  // nothing is kept any more: refused, with the same message
  EXPECT_EQ(0, feedback(again));
  EXPECT_EQ(-1, again.code);
  EXPECT_TRUE(again.message.untouched());
}

// The new texts are saved before the write, so the relogin that follows the
// failed write already sends them and consumes their answer.
TEST_F(Login, RequestWhoseWriteFailsSavesItsTextsForTheRelogin) {
  const Bytes renewed = rec::login("app2", "e2", "other", "pw2", "3.0");
  server.on(0, logged_in());
  server.on(1, Script().expect(renewed).send(kAccepted).expect(kHeartbeat).send(kAccepted));
  connect_and_login();
  ASSERT_EQ(1, TcpDisconnect());
  EXPECT_EQ(0, Login_Request("app2", "e2", "other", "pw2", "3.0"));
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(2u, server.accepted());
}

// A refused feedback call reads nothing: the answer is still there for the
// next call.
class FeedbackNullOutput : public QuorvexTest, public ::testing::WithParamInterface<int> {};

TEST_P(FeedbackNullOutput, LeavesTheAnswerQueued) {
  server.on(0, logged_in());
  connect_direct();
  ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
  Outputs refused;
  refused.null_slot = GetParam();
  EXPECT_EQ(0, feedback(refused));
  EXPECT_EQ(kUnsetCode, refused.code);
  EXPECT_TRUE(refused.message.untouched());
  EXPECT_TRUE(refused.params_untouched());
  Outputs out;
  EXPECT_EQ(1, feedback(out));
  EXPECT_EQ(QV_CODE_ACCEPTED, out.code);
  EXPECT_EQ(1u, server.accepted());
}

INSTANTIATE_TEST_SUITE_P(Slots, FeedbackNullOutput, ::testing::Range(0, 5),
                         [](const auto &info) { return slot_name(info.param); });

using Relogin = QuorvexTest;

// Run in a process of its own, nothing was ever connected; in a shared
// process the last server is gone.  Either way the reconnect fails.
TEST_F(Relogin, WithoutAnyConnectFails) { EXPECT_EQ(0, ReLogin()); }

TEST_F(Relogin, ReconnectsAndSendsTheLastLogin) {
  const Bytes second = rec::login("app2", "", "other", "pw2", "3.0");
  server.on(0, logged_in().expect(second).send(kAccepted));
  server.on(1, Script().expect(second).send(kAccepted));
  connect_and_login();
  ASSERT_EQ(1, Login_Request("app2", nullptr, "other", "pw2", "3.0"));
  Outputs out;
  ASSERT_EQ(1, feedback(out));
  EXPECT_EQ(1, ReLogin());
  EXPECT_TRUE(server.wait_closed(0));
}

// A refused relogin reports 0 but keeps the connection it opened.
TEST_F(Relogin, RefusedLoginKeepsTheNewConnection) {
  server.on(0, logged_in());
  server.on(
      1,
      Script().expect(kLoginRecord).send(rec::make(401, "no")).expect(kHeartbeat).send(kAccepted));
  connect_and_login();
  EXPECT_EQ(0, ReLogin());
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(2u, server.accepted());
}

// With the last server gone the relogin fails; the connection stays closed
// and every later call fails and tries again, without harm.
TEST_F(Relogin, UnreachableServerLeavesEveryCallFailing) {
  {
    LoopbackServer gone;
    gone.on(0, Script().expect(kLoginRecord).send(kAccepted));
    MessageBuffer message;
    ASSERT_EQ(1, TcpConnect(message.get(), "127.0.0.1", gone.port(), 2000, "", "", 0, "", ""));
    ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
    ASSERT_TRUE(gone.wait_done(0));
  }
  EXPECT_EQ(0, Heartbeat());
  Outputs out;
  EXPECT_EQ(0, NumRule(&out.code, out.message.get()));
  EXPECT_EQ(gbk("查询服务器端的手机号码规则失败!"), out.message.text());
  EXPECT_EQ(0, ReLogin());
  EXPECT_EQ(1, TcpDisconnect());
}

using HeartbeatTest = QuorvexTest;

// The answer is read in full and dropped, whatever it says; the next
// command gets its own answer.
TEST_F(HeartbeatTest, ConsumesExactlyOneAnswer) {
  server.on(0, Script()
                   .expect(kHeartbeat)
                   .send(rec::make(7, "ignored", "x"))
                   .expect(rec::make(101))
                   .send(rec::make(900, "states")));
  connect_direct();
  EXPECT_EQ(1, Heartbeat());
  Outputs out;
  ASSERT_EQ(1, MsgStates(&out.code, out.message.get()));
  EXPECT_EQ("states", out.message.text());
}

}  // namespace
}  // namespace qvtest
