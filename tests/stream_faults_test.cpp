// Peers that answer late, drip, stop reading or announce more than they
// send: no call returns 1 with an answer that was not sent for its own
// request, every wait ends at its deadline, and the connection that lost
// its place in the stream is closed and replaced by the next relogin.
#include <string>

#include "xml_frames.h"

namespace qvtest {
namespace {

constexpr int32_t kShortTimeoutMs = 250;

using StreamFaults = XmlTest;

const Bytes kNotify = fx::header(10127, 0);
Bytes notify_reply(const Bytes &text) { return fx::reply(fx::kSuccess, "<r><notify>" + text + "</notify></r>"); }

// The relogin after a failure waits for its login's answer no longer than
// the read time-out; the answer that comes later must not be read as the
// next command's.
TEST_F(StreamFaults, LateReloginAnswerIsNeverTheNextCommandsAnswer) {
  server.on(0, logged_in().expect(kHeartbeat).close());
  server.on(1, Script().expect(kLoginRecord).stall(Millis{600}).send(kAccepted));
  server.on(2, logged_in().expect(rec::make(101)).send(rec::make(900, "own")));
  connect_and_login();
  ASSERT_EQ(1, SetReadTimeout(kShortTimeoutMs));
  EXPECT_EQ(0, Heartbeat());
  ASSERT_TRUE(server.wait_done(1));  // the late answer has been sent
  int32_t code = kUnsetCode;
  MessageBuffer message;
  EXPECT_EQ(0, MsgStates(&code, message.get()));  // not the login's 900
  EXPECT_EQ(1, MsgStates(&code, message.get()));
  EXPECT_EQ("own", message.text());
}

TEST_F(StreamFaults, LateXmlReloginAnswerIsNeverTheNextQuerysAnswer) {
  server.on(0, fx::logged_in().expect(kNotify).close());
  server.on(1, fx::expect_login().stall(Millis{600}).send(fx::reply(fx::kSuccess, "<r/>")));
  server.on(2, fx::logged_in().expect(kNotify).send(notify_reply("own")));
  fx_connect_and_login();
  ASSERT_EQ(1, SetReadTimeout(kShortTimeoutMs));
  int32_t code = kUnsetCode, length = kUnsetCode;
  EXPECT_EQ(0, fxNotify_Req(&code, &length));
  ASSERT_TRUE(server.wait_done(1));
  EXPECT_EQ(0, fxNotify_Req(&code, &length));  // the late login reply is not its header
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  MessageBuffer message;
  EXPECT_EQ(1, fxNotify_Resp(message.get(), code, length));
  EXPECT_EQ("own", message.text());
}

// A login reply whose header comes late, or whose length is over the
// limit: the login fails, its connection is closed, and the next query
// relogs in instead of reading the leftover as its header.
TEST_F(StreamFaults, UnreadableLoginRepliesCloseTheConnection) {
  const Bytes document = "<?xml version=\"1.0\"?><r><desc>late</desc></r>";
  server.on(0, fx::expect_login().stall(Millis{600}).send(fx::reply(fx::kSuccess, document)));
  server.on(1, fx::logged_in().expect(kNotify).send(notify_reply("first")));
  server.on(2, fx::expect_login().send(fx::header(fx::kSuccess, 64 * 1024 * 1024 + 1) + document));
  server.on(3, fx::logged_in().expect(kNotify).send(notify_reply("second")));
  for (const char *expected : {"first", "second"}) {
    SCOPED_TRACE(expected);
    fx_connect();
    ASSERT_EQ(1, SetReadTimeout(kShortTimeoutMs));
    int32_t code = kUnsetCode, length = kUnsetCode;
    LoginOutputs out;
    if (fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer)) {
      EXPECT_EQ(0, login_resp(out, code, length));
      EXPECT_EQ(gbk("读取登录信息异常失败！"), out.message.text());
    }
    EXPECT_EQ(0, fxNotify_Req(&code, &length));  // not connected: relogs in
    ASSERT_EQ(1, fxNotify_Req(&code, &length));
    MessageBuffer message;
    EXPECT_EQ(1, fxNotify_Resp(message.get(), code, length));
    EXPECT_EQ(expected, message.text());
    ASSERT_EQ(1, fxTcpDisconnect());
  }
}

// A server that stops reading cannot hold a write beyond the time-out.
TEST_F(StreamFaults, WriteToAServerThatStopsReadingEndsAtTheDeadline) {
  server.on(0, Script().stall());
  server.on(1, Script());
  fx_connect();
  ASSERT_EQ(1, SetReadTimeout(300));
  const std::string huge(32 * 1024 * 1024, 'a');  // far beyond both sides' socket buffers
  int32_t code = kUnsetCode, length = kUnsetCode;
  const long took = elapsed_ms([&] { EXPECT_EQ(0, fxLogin_Req(&code, &length, huge.c_str(), "", "n", "p", "v")); });
  EXPECT_GE(took, 280);
  EXPECT_LT(took, 1500);
  // The half-written request's connection is closed: a connect finds
  // nothing open ("Already connected." otherwise).
  EXPECT_EQ(gbk("TCP连接成功"), fx_connect());
}

// The time-out bounds a whole record, not each receive: a server that
// sends a byte every 60 ms fails the read after the time-out, where a
// per-receive limit would wait for all 2116 bytes (over two minutes).
TEST(StreamDeadlines, DrippedAnswerFailsAtTheDeadline) {
  LoopbackServer dripping;  // its sends after the close are expected to fail
  Script script = Script().expect(rec::kSize);
  const Bytes answer = rec::make(900, "dripped");
  for (size_t i = 0; i < 20; ++i) script.send(answer.substr(i, 1)).stall(Millis{60});
  dripping.on(0, script);
  ASSERT_EQ(1, dllInitialize());
  MessageBuffer message;
  ASSERT_EQ(1, TcpConnect(message.get(), "127.0.0.1", dripping.port(), 2000, "", "", 0, "", ""));
  ASSERT_EQ(1, SetReadTimeout(300));
  const long took = elapsed_ms([] { EXPECT_EQ(0, Heartbeat()); });
  EXPECT_GE(took, 280);
  EXPECT_LT(took, 1000);
  EXPECT_TRUE(dripping.wait_closed(0));
  dllUnInitialize();
}

// Saved texts that do not fit the login record (an XML login's long name)
// still let the relogin replace the connection; only the login is not sent.
TEST_F(StreamFaults, ReLoginRenewsTheConnectionWhenTheSavedLoginDoesNotFit) {
  const std::string long_name(30, 'n');
  server.on(0, fx::expect_login().send(fx::reply(fx::kSuccess, "<r/>")));
  server.on(1, Script());
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, long_name.c_str(), kPwd, kVer));
  LoginOutputs out;
  ASSERT_EQ(1, login_resp(out, code, length));
  EXPECT_EQ(0, ReLogin());
  EXPECT_TRUE(server.wait_closed(0));
  EXPECT_TRUE(server.wait_accepted(2));
  EXPECT_EQ("", server.received(1));
}

}  // namespace
}  // namespace qvtest
