// Faults beyond the seeded fault run's reach: a server that stops reading
// a large request, a reply length over the limit, saved login texts that do
// not fit the record.  No call returns 1 with an answer that was not sent
// for its own request, every wait ends at its deadline, and the connection
// that lost its place in the stream is closed and replaced.
#include <string>

#include "xml_frames.h"

namespace qvtest {
namespace {

using StreamFaults = XmlTest;

const Bytes kNotify = fx::header(10127, 0);
Bytes notify_reply(const Bytes &text) {
  return fx::reply(fx::kSuccess, "<r><notify>" + text + "</notify></r>");
}

// A login reply whose length is over the limit: the login fails, its
// connection is closed, and the next query relogs in instead of reading
// the body it announced as its header.
TEST_F(StreamFaults, LoginReplyOverTheLengthLimitClosesTheConnection) {
  const Bytes document = "<?xml version=\"1.0\"?><r><desc>late</desc></r>";
  server.on(0, fx::expect_login().send(fx::header(fx::kSuccess, QV_FX_REPLY_MAX + 1) + document));
  server.on(1, fx::logged_in().expect(kNotify).send(notify_reply("own")));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
  LoginOutputs out;
  EXPECT_EQ(0, login_resp(out, code, length));
  EXPECT_EQ(gbk("读取登录信息异常失败！"), out.message.text());
  EXPECT_EQ(0, fxNotify_Req(&code, &length));  // not connected: relogs in
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  MessageBuffer message;
  EXPECT_EQ(1, fxNotify_Resp(message.get(), code, length));
  EXPECT_EQ("own", message.text());
}

// A server that stops reading cannot hold a write beyond the time-out.
TEST_F(StreamFaults, WriteToAServerThatStopsReadingEndsAtTheDeadline) {
  server.on(0, Script().stall());
  server.on(1, Script());
  ASSERT_EQ(1, SetReadTimeout(300));
  const std::string huge(32 * 1024 * 1024, 'a');  // far beyond both sides' socket buffers
  int32_t code = kUnsetCode, length = kUnsetCode;
  // The floor, measured in the same run: building a request this large,
  // with no connection to write it to (slow under a sanitizer).
  const long building = elapsed_ms(
      [&] { EXPECT_EQ(0, fxLogin_Req(&code, &length, huge.c_str(), "", "n", "p", "v")); });
  fx_connect();
  const long took = elapsed_ms(
      [&] { EXPECT_EQ(0, fxLogin_Req(&code, &length, huge.c_str(), "", "n", "p", "v")); });
  EXPECT_GE(took, 280);
  EXPECT_LT(took, building + 1500);
  // The half-written request's connection is closed: a connect finds
  // nothing open ("Already connected." otherwise).
  EXPECT_EQ(gbk("TCP连接成功"), fx_connect());
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
