// The C++ interface as a C++ host uses it: what a Session owns and gives up
// when moved or destroyed, what a Result carries from the server, the
// refusals made before any call, and the Error a failed call throws.
#include <quorvex.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quorvex_fixture.h"
#include "xml_frames.h"

namespace qvtest {
namespace {

using quorvex::Session;

class CppInterfaceTest : public ServerTest {
 protected:
  // A session connected straight to the server, with the tests' read time-out.
  Session connected() {
    Session s;
    EXPECT_TRUE(s.SetReadTimeout(kTestReadTimeoutMs));
    const auto r = s.connect("127.0.0.1", server.port(), 2000);
    EXPECT_TRUE(r.accepted()) << r.outcome.detail;  // no code: accepted when ok
    EXPECT_EQ(gbk("TCP连接成功"), r.message);
    return s;
  }
};

// A session lives in one object at a time: moving hands it over, and the
// object that held it closes its connection when it is destroyed or
// assigned another.  The object moved from refuses every call.
TEST_F(CppInterfaceTest, MovingHandsTheSessionOverAndDestroyingClosesIt) {
  server.on(1, Script().expect(kHeartbeat).send(kAccepted));
  Session a = connected();
  const QvSession *const first = a.handle();
  Session b(std::move(a));
  EXPECT_EQ(nullptr, a.handle());  // NOLINT(bugprone-use-after-move): moved from on purpose
  EXPECT_EQ(first, b.handle());
  const auto refused = a.Heartbeat();  // NOLINT(bugprone-use-after-move)
  EXPECT_FALSE(refused);
  EXPECT_EQ(QV_OUTCOME_REFUSED, refused.outcome.kind);
  EXPECT_EQ(1, refused.outcome.argument);

  Session c = connected();  // the server's connection 1
  b = std::move(c);         // b's own session goes: connection 0 closes
  EXPECT_TRUE(server.wait_closed(0));
  EXPECT_TRUE(b.Heartbeat()) << "the session b took over answers on connection 1";
  auto &same = b;
  b = std::move(same);  // moving onto itself keeps the session
  ASSERT_NE(nullptr, b.handle());
  { Session gone = std::move(b); }
  EXPECT_TRUE(server.wait_closed(1));
}

// Everything the server answered reaches the Result: code, message, the
// other outputs by name, and the call's own outcome.
TEST_F(CppInterfaceTest, AResultCarriesTheServersAnswer) {
  const std::string rules = gbk("长度:11;首位:1");
  server.on(
      0, Script()
             .expect(rec::make(107))
             .send(rec::make(901, gbk("账户已停用"), "p1", "p2", "p3"))
             .expect(rec::make(1150))
             .send(rec::make(900, "subs", "7", "-8", "9"))
             .expect(fx::header(10106, 0))
             .send(fx::reply(fx::kSuccess, "<?xml version=\"1.0\" encoding=\"gb2312\"?><r><rule>" +
                                               rules + "</rule></r>")));
  Session s = connected();

  const auto info = s.GetUdInfo();
  EXPECT_TRUE(info.ok);
  EXPECT_FALSE(info.accepted());
  EXPECT_EQ(901, info.code);
  EXPECT_EQ(gbk("账户已停用"), info.message);
  EXPECT_EQ("p1", info.Param1);
  EXPECT_EQ("p2", info.Param2);
  EXPECT_EQ("p3", info.Param3);
  EXPECT_EQ(QV_OUTCOME_OK, info.outcome.kind);
  EXPECT_EQ("QvGetUdInfo", std::string(info.call));

  const auto subs = s.FindAllSubsEx().check();
  EXPECT_TRUE(subs.accepted());
  EXPECT_EQ("subs", subs.message);
  EXPECT_EQ(7, subs.Number1);
  EXPECT_EQ(-8, subs.Number2);
  EXPECT_EQ(9, subs.Number3);

  const auto rule = s.fxNumRule();
  EXPECT_TRUE(rule.accepted());
  EXPECT_EQ(fx::kSuccess, rule.code);
  EXPECT_EQ(rules, rule.message);
}

// A text taken from an XML reply is as long as the reply allows, longer
// than a message buffer: the buffer is sized from the reply's length.
TEST_F(CppInterfaceTest, AnXmlTextLongerThanAMessageBufferComesWhole) {
  const std::string text(3 * QV_BODY_BUFFER_SIZE, 'r');
  server.on(0, Script()
                   .expect(fx::header(10106, 0))
                   .send(fx::reply(fx::kSuccess, "<r><rule>" + text + "</rule></r>")));
  Session s = connected();
  const auto rule = s.fxNumRule();
  ASSERT_TRUE(rule.accepted()) << rule.outcome.detail;
  EXPECT_EQ(text.size(), rule.message.size());
  EXPECT_TRUE(text == rule.message) << "the text differs";
}

// Texts the library cannot take are refused before anything is sent: a zero
// byte by this interface (the C one would read a shorter text), a text
// longer than its field by the library.  Both name the argument by its
// place in the export's own list, with code -1.
TEST_F(CppInterfaceTest, TextsAreRefusedBeforeAnythingIsSent) {
  struct Seen {
    bool ok;
    int32_t code;
    std::string message;
    quorvex::Outcome outcome;
  };
  const auto seen = [](const auto &r) { return Seen{r.ok, r.code, r.message, r.outcome}; };
  const std::string zero("ab\0c", 4), too_long_text = gbk("输入的文本过长!");
  struct Case {
    const char *what;
    std::function<Seen(Session &)> call;
    int32_t argument;
    const char *detail_has;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"a zero byte in a body text", [&](Session &s) { return seen(s.SubmitContent(zero)); }, 3,
       "zero byte", ""},
      {"a zero byte in the last of two texts",
       [&](Session &s) { return seen(s.MMSMaxSize("t", zero)); }, 5, "zero byte", ""},
      {"a zero byte in a login text",
       [&](Session &s) { return seen(s.Login_Request("app", "", "demo", zero, "1")); }, 4,
       "zero byte", ""},
      {"a zero byte in the host", [&](Session &s) { return seen(s.connect(zero, 1)); }, 2,
       "zero byte", ""},
      {"a body of 2048 bytes",
       [&](Session &s) { return seen(s.SubmitContent(std::string(2048, 'x'))); }, 3, "longer",
       too_long_text},
      {"a parameter of 20 bytes",
       [&](Session &s) { return seen(s.MMSMaxSize("t", std::string(20, 'x'))); }, 5, "longer",
       too_long_text},
  };
  server.on(0, Script().expect(kHeartbeat).send(kAccepted));
  Session s = connected();
  for (const Case &c : cases) {
    const Seen r = c.call(s);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(-1, r.code) << c.what;
    EXPECT_EQ(c.message, r.message) << c.what;
    EXPECT_EQ(QV_OUTCOME_REFUSED, r.outcome.kind) << c.what;
    EXPECT_FALSE(r.outcome.sent) << c.what;
    EXPECT_EQ(c.argument, r.outcome.argument) << c.what;
    EXPECT_NE(std::string::npos, r.outcome.detail.find(c.detail_has))
        << c.what << ": " << r.outcome.detail;
  }
  // The first bytes the server reads are the heartbeat's: nothing went before.
  EXPECT_TRUE(s.Heartbeat());
}

// A session made for UTF-8 sends GBK and hands back UTF-8, the XML texts
// and the Params included; what GBK lacks (the euro sign, U+0080, a
// character outside GBK, bytes that are not UTF-8) is refused by name
// before anything is sent, and a byte that is not GBK reads as U+FFFD.
TEST_F(CppInterfaceTest, AUtf8SessionConvertsBothWaysAndRefusesWhatGbkLacks) {
  server.on(
      0, Script()
             .expect(rec::make(204, gbk("会议改到三点")))
             .send(rec::make(900, gbk("字数:6") + "\x80"))
             .expect(rec::make(107))
             .send(rec::make(900, "", gbk("参数"), "p2", "p3"))
             .expect(fx::header(10106, 0))
             .send(fx::reply(fx::kSuccess, "<?xml version=\"1.0\" encoding=\"gb2312\"?><r><rule>" +
                                               gbk("首位:1") + "</rule></r>")));
  Session s(quorvex::utf8);
  EXPECT_TRUE(s.utf8_texts());
  ASSERT_TRUE(s.SetReadTimeout(kTestReadTimeoutMs));
  const auto connected = s.connect("127.0.0.1", server.port(), 2000);
  ASSERT_TRUE(connected) << connected.outcome.detail;
  EXPECT_EQ("TCP连接成功", connected.message);

  const std::vector<std::pair<std::string, const char *>> refused = {
      {"10€", "U+20AC"},
      {"a\xC2\x80", "U+0080"},
      {"\xF0\x9F\x98\x80", "U+1F600"},
      {"ab\xFF", "not UTF-8 at byte 2"},
      {"\xE4\xBC", "not UTF-8"},
  };
  for (const auto &[text, named] : refused) {
    const auto r = s.SubmitContent(text);
    EXPECT_FALSE(r.ok) << named;
    EXPECT_EQ(QV_OUTCOME_REFUSED, r.outcome.kind) << named;
    EXPECT_EQ(3, r.outcome.argument) << named;
    EXPECT_NE(std::string::npos, r.outcome.detail.find(named)) << r.outcome.detail;
  }
  const auto content = s.SubmitContent("会议改到三点");  // the server's first bytes
  ASSERT_TRUE(content.accepted()) << content.outcome.detail;
  EXPECT_EQ("字数:6\xEF\xBF\xBD", content.message);
  EXPECT_EQ("参数", s.GetUdInfo().Param1);
  const auto rule = s.fxNumRule();
  ASSERT_TRUE(rule.accepted()) << rule.outcome.detail;
  EXPECT_EQ("首位:1", rule.message);

  Session moved(std::move(s));
  EXPECT_TRUE(moved.utf8_texts());
  EXPECT_FALSE(quorvex::Session().utf8_texts());
}

// A failed call is a Result to look at; check() throws it as an Error that
// carries the same outcome, code and message.
TEST_F(CppInterfaceTest, CheckThrowsTheFailureWithItsOutcome) {
  Session s;  // never connected
  const auto r = s.GetUdInfo();
  ASSERT_FALSE(r);
  EXPECT_EQ(QV_OUTCOME_NOT_CONNECTED, r.outcome.kind);
  EXPECT_EQ(10057, r.outcome.socket_error);
  EXPECT_FALSE(r.message.empty());
  try {
    (void)r.check();
    FAIL() << "check() did not throw";
  } catch (const quorvex::Error &e) {
    EXPECT_EQ(r.outcome.kind, e.outcome().kind);
    EXPECT_EQ(r.outcome.detail, e.outcome().detail);
    EXPECT_EQ(r.message, e.message());
    EXPECT_EQ(-1, e.code());
    EXPECT_EQ("QvGetUdInfo failed: " + r.outcome.detail, std::string(e.what()));
  }
  const auto state = s.connection_state();
  EXPECT_FALSE(state.connected());
  EXPECT_EQ(QV_OUTCOME_NOT_CONNECTED, s.last_outcome().kind);
}

// A Result's outcome is its own call's while another thread calls on
// another session: one thread's calls all fail (its session has no
// connection) while the other's are all answered.
TEST_F(CppInterfaceTest, EachResultCarriesItsOwnCallsOutcome) {
  constexpr int kCalls = 200;
  Script answers;
  for (int i = 0; i < kCalls; ++i) answers.expect(rec::make(107)).send(rec::make(900));
  server.on(0, answers);
  Session answered = connected(), unconnected;
  int wrong_failed = 0, wrong_answered = 0;
  std::thread failing([&] {
    for (int i = 0; i < kCalls; ++i) {
      const auto r = unconnected.GetUdInfo();
      if (r.ok || r.outcome.kind != QV_OUTCOME_NOT_CONNECTED) ++wrong_failed;
    }
  });
  for (int i = 0; i < kCalls; ++i) {
    const auto r = answered.GetUdInfo();
    if (!r.accepted() || r.outcome.kind != QV_OUTCOME_OK || !r.outcome.detail.empty())
      ++wrong_answered;
  }
  failing.join();
  EXPECT_EQ(0, wrong_failed);
  EXPECT_EQ(0, wrong_answered);
}

// The default session is borrowed, never destroyed: none outside
// dllInitialize (every call refused), the classic exports' own inside.
TEST_F(CppInterfaceTest, TheDefaultSessionIsAView) {
  EXPECT_EQ(nullptr, quorvex::SessionView::default_session().handle());
  EXPECT_EQ(1, quorvex::SessionView::default_session().TcpDisconnect().outcome.argument);
  ASSERT_EQ(1, dllInitialize());
  quorvex::SessionView classic = quorvex::SessionView::default_session();
  EXPECT_EQ(QvDefaultSession(), classic.handle());
  EXPECT_TRUE(classic.connection_state().state & QV_STATE_INITIALISED);
}

}  // namespace
}  // namespace qvtest
