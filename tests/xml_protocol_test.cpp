// The XML protocol's exchanges: the login request on the wire, the two
// halves of an exchange, reply values taken into the caller's outputs, the
// relogin, and the four reference queries.
#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "xml_frames.h"

namespace qvtest {
namespace {

// ------------------------------------------------------------ the login on the wire

using XmlLoginRequest = XmlTest;

// Null texts are empty texts.  The body is the fixed 111 bytes and the key;
// the whole message is header and body, and nothing follows it.
TEST_F(XmlLoginRequest, EmptyTextsGiveTheFixedPiecesAndAKey) {
  Script script = fx::expect_login();
  script.send(fx::reply(fx::kSuccess, "<r/>"));
  fx::expect_login(script).send(fx::reply(fx::kSuccess, "<r/>"));
  server.on(0, script);
  fx_connect();
  for (int i = 0; i < 2; ++i) {
    int32_t code = kUnsetCode, length = kUnsetCode;
    if (i == 0) {
      ASSERT_EQ(1, fxLogin_Req(&code, &length, "", "", "", "", ""));
    } else {
      ASSERT_EQ(1, fxLogin_Req(&code, &length, nullptr, nullptr, nullptr, nullptr, nullptr));
    }
    EXPECT_EQ(fx::kSuccess, code);
    EXPECT_EQ(4, length);
    LoginOutputs out;
    EXPECT_EQ(1, login_resp(out, code, length));
  }
  ASSERT_TRUE(server.wait_done(0));
  Bytes sent;
  for (size_t i = 0; i < 2; ++i) {
    const Bytes request = server.captured(0, i);
    Bytes key;
    EXPECT_TRUE(fx::is_login(request, "", "", "", "", &key));
    EXPECT_EQ(fx::header(10000, static_cast<int32_t>(111 + key.size())), request.substr(0, 16));
    sent += request;
  }
  ASSERT_EQ(1, fxTcpDisconnect());
  ASSERT_TRUE(server.wait_closed(0));
  EXPECT_EQ(sent, server.received(0));
}

// "<", "&" and quotes go out as they are; GBK bytes and long texts whole.
TEST_F(XmlLoginRequest, TextsGoInByteForByteWithoutEscaping) {
  const Bytes app = "A&B<C>\"'", name = gbk("张三&<李四>"), pwd = "p&amp;<w>" + Bytes(3000, 'w'),
              ver = "1.0 <beta>";
  server.on(0, fx::expect_login().send(fx::reply(20901, "no")));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, app.c_str(), "EXTRA-NEVER-SENT", name.c_str(),
                           pwd.c_str(), ver.c_str()));
  EXPECT_TRUE(fx::is_login(server.captured(0, 0), app, ver, name, pwd));
  EXPECT_EQ(Bytes::npos, server.captured(0, 0).find("EXTRA-NEVER-SENT"));
}

// `extra` is not sent but saved: a relogin of the record protocol sends it.
TEST_F(XmlLoginRequest, ExtraIsSavedForTheRecordRelogin) {
  server.on(0, fx::logged_in());
  server.on(1, Script().expect(rec::login(kApp, kExtra, kName, kPwd, kVer)).send(kAccepted));
  fx_connect_and_login();
  EXPECT_EQ(1, ReLogin());
  EXPECT_TRUE(server.wait_done(1));
}

// Twenty logins and a relogin: every key differs, and the keys reach the
// upper half of the range (all twenty below 10^9 has odds of 2 in 10^7).
TEST_F(XmlLoginRequest, EveryLoginDrawsANewKey) {
  constexpr size_t kLogins = 20;
  Script first;
  for (size_t i = 0; i < kLogins; ++i)
    fx::expect_login(first).send(fx::reply(fx::kSuccess, "<r/>"));
  server.on(0, first);
  server.on(1, fx::logged_in());
  fx_connect();
  for (size_t i = 0; i < kLogins; ++i) {
    int32_t code = kUnsetCode, length = kUnsetCode;
    ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
    LoginOutputs out;
    ASSERT_EQ(1, login_resp(out, code, length));
  }
  ASSERT_EQ(1, fxReLogin());
  std::set<Bytes> keys;
  unsigned long long highest = 0;
  for (size_t i = 0; i <= kLogins; ++i) {
    Bytes key;
    const Bytes request = i < kLogins ? server.captured(0, i) : server.captured(1, 0);
    ASSERT_TRUE(fx::is_login(request, kApp, kVer, kName, kPwd, &key)) << "login " << i;
    keys.insert(key);
    highest = std::max(highest, std::stoull(key));
  }
  EXPECT_EQ(kLogins + 1, keys.size());
  EXPECT_GE(highest, 1000000000ull);
}

// The texts are saved before the write: the failed login's texts, extra
// included, are those of the next relogin.  The failure itself relogs in
// nowhere.
TEST_F(XmlLoginRequest, WriteFailureSavesTheTextsWithoutARelogin) {
  server.on(0, fx::logged_in());
  server.on(1, Script().expect(rec::login("app2", "e2", "n2", "p2", "v2")).send(kAccepted));
  fx_connect_and_login();
  ASSERT_EQ(1, fxTcpDisconnect());
  int32_t code = kUnsetCode, length = kUnsetCode;
  EXPECT_EQ(0, fxLogin_Req(&code, &length, "app2", "e2", "n2", "p2", "v2"));
  EXPECT_EQ(-1, code);
  EXPECT_EQ(0, length);
  EXPECT_EQ(1u, server.accepted());
  EXPECT_EQ(1, ReLogin());
}

// A reply header cut short, or stalled past the read time-out: reply code
// -1 and length 0, no relogin.
TEST_F(XmlLoginRequest, HeaderReadFailureGivesMinusOneAndZero) {
  const Bytes partial = fx::header(fx::kSuccess, 30).substr(0, 9);
  server.on(0, fx::expect_login().send(partial).close());
  server.on(1, fx::expect_login().send(partial).stall());
  for (size_t connection = 0; connection < 2; ++connection) {
    ASSERT_EQ(1, fxTcpDisconnect());
    fx_connect();
    ASSERT_EQ(1, SetReadTimeout(200));
    int32_t code = kUnsetCode, length = kUnsetCode;
    const long took = elapsed_ms(
        [&] { EXPECT_EQ(0, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer)); });
    EXPECT_EQ(-1, code);
    EXPECT_EQ(0, length);
    EXPECT_EQ(connection + 1, server.accepted());
    if (connection == 1) {
      EXPECT_GE(took, 190);
      EXPECT_LT(took, 3000);
    }
  }
}

// ------------------------------------------------------------ the halves of an exchange

using XmlExchange = XmlTest;

// Code and Length come from offsets 0 and 12; PartNo and PartCount are not
// looked at.  A refusal's body is handed over as text up to its first zero,
// undecoded, and the whole body is consumed: the next login finds its reply.
TEST_F(XmlExchange, RefusalHandsBackTheBodyAsTextUpToItsFirstZero) {
  const Bytes reason = gbk("用户名或密码错误") + Bytes("\0tail", 5);
  const Bytes xml = "<r><desc>xml is not parsed here</desc></r>";
  Script script = fx::expect_login();
  script.send(fx::header(-2, static_cast<int32_t>(reason.size()), 7, 9) + reason);
  fx::expect_login(script).send(fx::reply(20901, xml));
  server.on(0, script);
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
  EXPECT_EQ(-2, code);
  EXPECT_EQ(static_cast<int32_t>(reason.size()), length);
  LoginOutputs first;
  EXPECT_EQ(1, login_resp(first, code, length));
  EXPECT_EQ(gbk("用户名或密码错误"), first.message.text());
  EXPECT_EQ(MessageBuffer::kFill, first.message.at(gbk("用户名或密码错误").size() + 1));
  EXPECT_EQ(kUnsetCode, first.agent);
  EXPECT_EQ(kUnsetCode, first.agreement);
  EXPECT_TRUE(first.pud.untouched());

  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
  EXPECT_EQ(20901, code);
  LoginOutputs second;
  EXPECT_EQ(1, login_resp(second, code, length));
  EXPECT_EQ(xml, second.message.text());
  EXPECT_TRUE(second.pud.untouched());
}

// The request export reads the whole reply: skipping the response export
// leaves nothing behind, and the next exchange gets its own reply.
TEST_F(XmlExchange, SkippingTheResponseExportLeavesTheStreamInStep) {
  const Bytes states = "<?xml version=\"1.0\"?><r><states>s</states></r>";
  const Bytes types = "<?xml version=\"1.0\"?><r><types>t</types></r>";
  server.on(0, Script()
                   .expect(fx::header(10101, 0))
                   .send(fx::reply(fx::kSuccess, states))
                   .expect(fx::header(10102, 0))
                   .send(fx::reply(fx::kSuccess, types)));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxMsgStates_Req(&code, &length));
  EXPECT_EQ(static_cast<int32_t>(states.size()), length);
  ASSERT_EQ(1, fxInfoType_Req(&code, &length));
  EXPECT_EQ(fx::kSuccess, code);
  EXPECT_EQ(static_cast<int32_t>(types.size()), length);
  MessageBuffer message;
  EXPECT_EQ(1, fxInfoType_Resp(message.get(), code, length));
  EXPECT_EQ("t", message.text());
  // The skipped reply is still there for its own response export, and a
  // second response export finds nothing to hand back.
  EXPECT_EQ(1, fxMsgStates_Resp(message.get(), code == fx::kSuccess ? fx::kSuccess : 0,
                                static_cast<int32_t>(states.size())));
  EXPECT_EQ("s", message.text());
  EXPECT_EQ(0, fxMsgStates_Resp(message.get(), fx::kSuccess, static_cast<int32_t>(states.size())));
  EXPECT_EQ(gbk("读取反馈信息异常失败！"), message.text());
  EXPECT_EQ(1u, server.accepted());  // nothing was wrong with the connection: no relogin
}

// A reply length of 0 or below reads nothing, whatever the code: the next
// exchange finds its reply where it should be.
TEST_F(XmlExchange, EmptyLengthReadsNothing) {
  Script script = fx::expect_login();
  script.send(fx::header(fx::kSuccess, 0));
  fx::expect_login(script).send(fx::header(20901, -5));
  fx::expect_login(script).send(fx::reply(20901, "third"));
  server.on(0, script);
  fx_connect();
  for (int round = 0; round < 3; ++round) {
    int32_t code = kUnsetCode, length = kUnsetCode;
    ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
    LoginOutputs out;
    if (round < 2) {
      EXPECT_EQ(0, login_resp(out, code, length));
      EXPECT_EQ(gbk("读取登录信息为空！"), out.message.text());
    } else {
      EXPECT_EQ(1, login_resp(out, code, length));
      EXPECT_EQ("third", out.message.text());
    }
  }
}

// A body cut short by a close, or one that stops coming (failing after the
// read time-out): a failed read, nothing taken, no relogin.
TEST_F(XmlExchange, LoginBodyReadFailureReportsWithoutARelogin) {
  const Bytes partial = fx::header(fx::kSuccess, 100) + "<r><agent>5</agent><desc>only part";
  server.on(0, fx::expect_login().send(partial).close());
  server.on(1, fx::expect_login().send(partial).stall());
  for (size_t connection = 0; connection < 2; ++connection) {
    ASSERT_EQ(1, fxTcpDisconnect());
    fx_connect();
    ASSERT_EQ(1, SetReadTimeout(200));
    int32_t code = kUnsetCode, length = kUnsetCode;
    LoginOutputs out;
    // The request export reads the body too, so the wait falls in it.
    const long took = elapsed_ms([&] {
      ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
      EXPECT_EQ(0, login_resp(out, code, length));
    });
    EXPECT_EQ(gbk("读取登录信息异常失败！"), out.message.text());
    EXPECT_EQ(kUnsetCode, out.agent);
    EXPECT_EQ(connection + 1, server.accepted());
    if (connection == 1) {
      EXPECT_GE(took, 190);
    }
    EXPECT_LT(took, 3000);
  }
}

// A length over the limit fails at once as a failed read, without waiting
// for a body that the server is still sending.  A body of exactly the
// limit is read whole.
TEST_F(XmlExchange, BodiesOverTheLimitAreRefusedAsAFailedRead) {
  constexpr int32_t kLimit = QV_FX_REPLY_MAX;
  server.on(0, fx::expect_login().send(fx::header(fx::kSuccess, kLimit + 1) + "<r>").stall());
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
  ASSERT_EQ(kLimit + 1, length);
  for (int32_t claimed : {length, INT32_MAX}) {
    LoginOutputs out;
    const long took = elapsed_ms([&] { EXPECT_EQ(0, login_resp(out, code, claimed)); });
    EXPECT_EQ(gbk("读取登录信息异常失败！"), out.message.text());
    EXPECT_LT(took, 1000);
  }
  EXPECT_EQ(1u, server.accepted());

  Bytes huge = "refused";
  huge.resize(kLimit, '\0');
  huge.back() = 'x';
  server.on(1, fx::expect_login()
                   .send(fx::reply(20901, huge))
                   .expect(fx::header(10127, 0))
                   .send(fx::reply(20901, "ok")));
  ASSERT_EQ(1, fxTcpDisconnect());
  fx_connect();
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
  ASSERT_EQ(kLimit, length);
  LoginOutputs out;
  EXPECT_EQ(1, login_resp(out, code, length));
  EXPECT_EQ("refused", out.message.text());
  MessageBuffer message;
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  EXPECT_EQ(1, fxNotify_Resp(message.get(), code, length));
}

// ------------------------------------------------------------ reply values of the login

// What the outputs hold after fxLogin_Resp on a success reply; nullopt: as
// the caller passed it.
struct ValueCase {
  const char *name;
  Bytes document;
  qv_bool result;
  std::optional<int32_t> agent, agreement;
  std::optional<Bytes> pud, message;
};

void PrintTo(const ValueCase &c, std::ostream *os) { *os << c.name; }

const Bytes kParseFailed = gbk("解析登录信息异常失败！");

std::vector<ValueCase> value_cases() {
  const std::nullopt_t none = std::nullopt;
  return {
      {"AllFour",
       "<r><agent>12</agent><agreement>-3</agreement><pud>p-1</pud><desc>welcome</desc></r>", 1, 12,
       -3, Bytes("p-1"), Bytes("welcome")},
      {"AgentAndDescOnly", "<login><agent>12</agent><desc>" + Bytes("登录成功") + "</desc></login>",
       1, 12, none, none, gbk("登录成功")},
      {"NoneAtAll", "<r><other>1</other></r>", 1, none, none, none, none},
      {"EmptyElements", "<r><agent/><agreement></agreement><pud/><desc></desc></r>", 1, none, none,
       none, none},
      {"WhitespaceOnly",
       "<r>\n  <agent> </agent>\n  <agreement>\r\n\t</agreement>\n  <pud>  </pud><desc>\n</desc>\n</r>",
       1, none, none, none, none},
      {"TextKeptWithItsSpaces", "<r><desc>  two  words \n</desc></r>", 1, none, none, none,
       Bytes("  two  words \n")},
      {"AnyRootNameAndOrder",
       "<x><desc>d</desc><pud>p</pud><agreement>+7</agreement><agent>0</agent></x>", 1, 0, 7,
       Bytes("p"), Bytes("d")},
      {"Int32Limits", "<r><agent>-2147483648</agent><agreement>2147483647</agreement></r>", 1,
       INT32_MIN, INT32_MAX, none, none},
      {"FirstOfTwoTaken", "<r><agent>1</agent><agent>2</agent></r>", 1, 1, none, none, none},
      {"OnlyDirectChildren", "<r><wrap><agent>5</agent><desc>deep</desc></wrap></r>", 1, none, none,
       none, none},
      {"NamespacedByLocalName",
       "<r xmlns:p=\"urn:q\"><p:agent>5</p:agent><desc xmlns=\"urn:d\">n</desc></r>", 1, 5, none,
       none, Bytes("n")},
      {"Cdata", "<r><pud><![CDATA[<a&b>]]></pud></r>", 1, none, none, Bytes("<a&b>"), none},
      {"CdataBesideWhitespace", "<r><pud>\n <![CDATA[c]]>\n</pud></r>", 1, none, none, Bytes("c"),
       none},
      {"EntitiesResolved", "<r><desc>a &lt; b &amp;&#x4E2D;&#25991;</desc></r>", 1, none, none,
       none, "a < b &" + gbk("中文")},
      // Failures: what came before the failing value stays written.
      {"AgentNotANumber", "<r><agent>12a</agent><desc>d</desc></r>", 0, none, none, none,
       kParseFailed},
      {"AgentFraction", "<r><agent>1.5</agent></r>", 0, none, none, none, kParseFailed},
      {"AgentOverflow", "<r><agent>2147483648</agent></r>", 0, none, none, none, kParseFailed},
      {"AgentFullWidthDigits", "<r><agent>１２</agent></r>", 0, none, none, none, kParseFailed},
      {"AgreementFailsAfterAgent", "<r><agent>7</agent><agreement>x</agreement><pud>p</pud></r>", 0,
       7, none, none, kParseFailed},
      {"PudFailsBeforeDesc",
       "<r><desc>d</desc><pud><b>p</b></pud><agent>3</agent><agreement>4</agreement></r>", 0, 3, 4,
       none, kParseFailed},
      {"DescFailsAfterPud", "<r><desc><b/></desc><pud>p</pud></r>", 0, none, none, Bytes("p"),
       kParseFailed},
      {"NestedAgent", "<r><agent><v>1</v></agent></r>", 0, none, none, none, kParseFailed},
      {"NestedDesc", "<r><desc>a<b/>c</desc></r>", 0, none, none, none, kParseFailed},
      {"CommentOnly", "<r><agent><!-- none --></agent></r>", 0, none, none, none, kParseFailed},
      {"TextAndComment", "<r><agent>1<!-- c -->2</agent></r>", 0, none, none, none, kParseFailed},
      {"TextAndCdata", "<r><pud>a<![CDATA[b]]></pud></r>", 0, none, none, none, kParseFailed},
      {"ProcessingInstruction", "<r><desc><?pi x?></desc></r>", 0, none, none, none, kParseFailed},
      {"Malformed", "<r><agent>1</agent>", 0, none, none, none, kParseFailed},
      {"PlainText", "welcome, demo", 0, none, none, none, kParseFailed},
  };
}

class XmlLoginValues : public XmlTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(XmlLoginValues, GoIntoTheOutputs) {
  const ValueCase &c = GetParam();
  server.on(0, fx::expect_login().send(fx::reply(fx::kSuccess, c.document)));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
  LoginOutputs out;
  EXPECT_EQ(c.result, login_resp(out, code, length));
  EXPECT_EQ(c.agent.value_or(kUnsetCode), out.agent);
  EXPECT_EQ(c.agreement.value_or(kUnsetCode), out.agreement);
  if (c.pud) {
    EXPECT_EQ(*c.pud, out.pud.text());
  } else {
    EXPECT_TRUE(out.pud.untouched());
  }
  if (c.message) {
    EXPECT_EQ(*c.message, out.message.text());
    EXPECT_TRUE(out.message.guard_intact());
  } else {
    EXPECT_TRUE(out.message.untouched());
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, XmlLoginValues, ::testing::ValuesIn(value_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

// ------------------------------------------------------------ null outputs

// Every output pointer of the fx exports, passed as null in turn.
struct NullCase {
  std::string name;
  bool response;  // a response export: called between a query's halves
  std::function<qv_bool(int32_t *, int32_t *, char *, int32_t *, char *, int32_t *)> call;
};

void PrintTo(const NullCase &c, std::ostream *os) { *os << c.name; }

std::vector<NullCase> null_cases() {
  using R = qv_bool (*)(int32_t *, int32_t *);
  using S = qv_bool (*)(char *, int32_t, int32_t);
  std::vector<NullCase> cases = {
      {"LoginReqCode", false,
       [](int32_t *, int32_t *l, char *, int32_t *, char *, int32_t *) {
         return fxLogin_Req(nullptr, l, kApp, kExtra, kName, kPwd, kVer);
       }},
      {"LoginReqLength", false,
       [](int32_t *c, int32_t *, char *, int32_t *, char *, int32_t *) {
         return fxLogin_Req(c, nullptr, kApp, kExtra, kName, kPwd, kVer);
       }},
      {"LoginRespMessage", true,
       [](int32_t *, int32_t *, char *, int32_t *a, char *p, int32_t *g) {
         return fxLogin_Resp(nullptr, a, p, g, fx::kSuccess, 10);
       }},
      {"LoginRespAgent", true,
       [](int32_t *, int32_t *, char *m, int32_t *, char *p, int32_t *g) {
         return fxLogin_Resp(m, nullptr, p, g, fx::kSuccess, 10);
       }},
      {"LoginRespPud", true,
       [](int32_t *, int32_t *, char *m, int32_t *a, char *, int32_t *g) {
         return fxLogin_Resp(m, a, nullptr, g, fx::kSuccess, 10);
       }},
      {"LoginRespAgreement", true,
       [](int32_t *, int32_t *, char *m, int32_t *a, char *p, int32_t *) {
         return fxLogin_Resp(m, a, p, nullptr, fx::kSuccess, 10);
       }},
  };
  const std::pair<const char *, std::pair<R, S>> queries[] = {
      {"MsgStates", {fxMsgStates_Req, fxMsgStates_Resp}},
      {"InfoType", {fxInfoType_Req, fxInfoType_Resp}},
      {"NumRule", {fxNumRule_Req, fxNumRule_Resp}},
      {"Notify", {fxNotify_Req, fxNotify_Resp}}};
  for (const auto &[name, pair] : queries) {
    const R req = pair.first;
    const S resp = pair.second;
    const std::string n = name;
    cases.push_back(
        {n + "ReqCode", false, [req](int32_t *, int32_t *l, char *, int32_t *, char *, int32_t *) {
           return req(nullptr, l);
         }});
    cases.push_back({n + "ReqLength", false,
                     [req](int32_t *c, int32_t *, char *, int32_t *, char *, int32_t *) {
                       return req(c, nullptr);
                     }});
    cases.push_back({n + "RespMessage", true,
                     [resp](int32_t *, int32_t *, char *, int32_t *, char *, int32_t *) {
                       return resp(nullptr, fx::kSuccess, 10);
                     }});
  }
  return cases;
}

class XmlNullOutput : public XmlTest, public ::testing::WithParamInterface<NullCase> {};

// Refused: nothing written, nothing sent or read, no relogin.  A request
// export is followed by a whole query exchange; a response export is called
// between a query's halves and its body is still there for the real one.
TEST_P(XmlNullOutput, RefusesTheCall) {
  const Bytes body = "<r><rule>r</rule></r>";
  server.on(0, fx::logged_in().expect(fx::header(10106, 0)).send(fx::reply(fx::kSuccess, body)));
  fx_connect_and_login();
  int32_t code = kUnsetCode, length = kUnsetCode;
  if (GetParam().response) {
    ASSERT_EQ(1, fxNumRule_Req(&code, &length));
  }
  int32_t out_code = kUnsetCode, out_length = kUnsetCode, agent = kUnsetCode,
          agreement = kUnsetCode;
  MessageBuffer message;
  OutBuffer<64> pud;
  EXPECT_EQ(0,
            GetParam().call(&out_code, &out_length, message.get(), &agent, pud.get(), &agreement));
  EXPECT_EQ(kUnsetCode, out_code);
  EXPECT_EQ(kUnsetCode, out_length);
  EXPECT_EQ(kUnsetCode, agent);
  EXPECT_EQ(kUnsetCode, agreement);
  EXPECT_TRUE(message.untouched());
  EXPECT_TRUE(pud.untouched());
  if (!GetParam().response) {
    ASSERT_EQ(1, fxNumRule_Req(&code, &length));
  }
  EXPECT_EQ(1, fxNumRule_Resp(message.get(), code, length));
  EXPECT_EQ("r", message.text());
  EXPECT_EQ(1u, server.accepted());
}

INSTANTIATE_TEST_SUITE_P(Exports, XmlNullOutput, ::testing::ValuesIn(null_cases()),
                         [](const auto &info) { return info.param.name; });

// ------------------------------------------------------------ fxReLogin

using XmlReLogin = XmlTest;

// A new connection, the saved texts with a new key; extra is empty from
// then on, as the record relogin that follows shows.
TEST_F(XmlReLogin, ReconnectsWithTheSavedTextsAndEmptiesExtra) {
  server.on(0, fx::logged_in());
  server.on(1, fx::logged_in());
  server.on(2, Script().expect(rec::login(kApp, "", kName, kPwd, kVer)).send(kAccepted));
  fx_connect_and_login();
  EXPECT_EQ(1, fxReLogin());
  EXPECT_TRUE(server.wait_closed(0));
  EXPECT_NE(standard_login_key(0), standard_login_key(1));
  EXPECT_EQ(1, ReLogin());
}

// A refused relogin fails, and its connection stays open for the host.
TEST_F(XmlReLogin, RefusalFailsButKeepsTheNewConnection) {
  server.on(0, fx::logged_in());
  server.on(1, fx::expect_login()
                   .send(fx::reply(20901, "denied"))
                   .expect(fx::header(10127, 0))
                   .send(fx::reply(fx::kSuccess, "<r><notify>n</notify></r>")));
  fx_connect_and_login();
  EXPECT_EQ(0, fxReLogin());
  int32_t code = kUnsetCode, length = kUnsetCode;
  MessageBuffer message;
  ASSERT_EQ(1, fxNotify_Req(&code, &length));
  EXPECT_EQ(1, fxNotify_Resp(message.get(), code, length));
  EXPECT_EQ("n", message.text());
  EXPECT_EQ(2u, server.accepted());
}

// A success code with a document that does not parse is no success; a
// reply that never comes ends the relogin without another one.
TEST_F(XmlReLogin, FailsOnABadReplyAndNeverRepeatsItself) {
  server.on(0, fx::logged_in());
  server.on(1, fx::expect_login().send(fx::reply(fx::kSuccess, "<r><agent>x</agent></r>")));
  server.on(2, fx::expect_login().close());
  fx_connect_and_login();
  EXPECT_EQ(0, fxReLogin());
  EXPECT_EQ(0, fxReLogin());
  EXPECT_TRUE(server.wait_closed(2));
  EXPECT_EQ(3u, server.accepted());
}

// Long texts in the relogin's reply land in bounded scratch buffers (run
// under AddressSanitizer to see an overflow).
TEST_F(XmlReLogin, LongRepliesDoNotOverrunItsBuffers) {
  const Bytes long_text(5000, 'L');
  server.on(0, fx::logged_in());
  server.on(
      1, fx::expect_login().send(fx::reply(
             fx::kSuccess, "<r><pud>" + long_text + "</pud><desc>" + long_text + "</desc></r>")));
  server.on(2, fx::expect_login().send(fx::reply(20901, long_text)));
  fx_connect_and_login();
  EXPECT_EQ(1, fxReLogin());
  EXPECT_EQ(0, fxReLogin());
}

// Before initialisation and after release, the disconnect fails and the
// relogin stops there, although the connect settings are still saved.  A
// new initialisation relogs in with them.
TEST_F(XmlReLogin, NeedsAnInitialisedLibraryAndSurvivesARelease) {
  ASSERT_EQ(1, dllUnInitialize());
  EXPECT_EQ(0, fxReLogin());
  EXPECT_EQ(0u, server.accepted());
  server.on(0, fx::logged_in());
  server.on(1, fx::logged_in());
  ASSERT_EQ(1, dllInitialize());
  fx_connect_and_login();
  ASSERT_EQ(1, dllUnInitialize());
  EXPECT_EQ(0, fxReLogin());
  EXPECT_EQ(1u, server.accepted());
  ASSERT_EQ(1, dllInitialize());
  EXPECT_EQ(1, fxReLogin());
  EXPECT_NE(standard_login_key(0), standard_login_key(1));
}

// ------------------------------------------------------------ the reference queries

// Written from the protocol's description: code, element, refusal message.
struct FxQuery {
  const char *name;
  int32_t code;
  const char *element;
  const char *refusal;
  qv_bool (*req)(int32_t *, int32_t *);
  qv_bool (*resp)(char *, int32_t, int32_t);
};

const FxQuery kFxQueries[] = {
    {"MsgStates", 10101, "states", "查询服务器端设置的记录状态种类异常失败", fxMsgStates_Req,
     fxMsgStates_Resp},
    {"InfoType", 10102, "types", "查询服务器端设置的信息详细分类型异常失败", fxInfoType_Req,
     fxInfoType_Resp},
    {"NumRule", 10106, "rule", "查询服务器端设置的正则表达式异常失败", fxNumRule_Req,
     fxNumRule_Resp},
    {"Notify", 10127, "notify", "查询公司的通知信息异常失败", fxNotify_Req, fxNotify_Resp},
};

void PrintTo(const FxQuery &q, std::ostream *os) { *os << q.name; }

class XmlQuery : public XmlTest, public ::testing::WithParamInterface<FxQuery> {
 protected:
  const FxQuery &q() const { return GetParam(); }
  Bytes request() const { return fx::header(q().code, 0); }
  Bytes element(const Bytes &content) const {
    return "<" + Bytes(q().element) + ">" + content + "</" + Bytes(q().element) + ">";
  }
  // Both halves; the message buffer keeps what the response export wrote.
  qv_bool exchange(MessageBuffer &message, int32_t *code_out = nullptr) {
    int32_t code = kUnsetCode, length = kUnsetCode;
    if (q().req(&code, &length) != 1) return 2;
    if (code_out) *code_out = code;
    return q().resp(message.get(), code, length);
  }
};

// The request is the header alone; the reply's own element is taken, the
// other queries' elements are not.
TEST_P(XmlQuery, SendsTheHeaderAloneAndTakesItsElement) {
  Bytes body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><reply>";
  for (const FxQuery &other : kFxQueries)
    if (other.code != q().code)
      body += "<" + Bytes(other.element) + ">decoy</" + Bytes(other.element) + ">";
  body += element("第一行\n^1[3-9]\\d{9}$ &amp; more") + "</reply>";
  server.on(0, Script()
                   .expect(request())
                   .send(fx::reply(fx::kSuccess, body))
                   .expect(request())
                   .send(fx::reply(20901, "r")));
  fx_connect();
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, q().req(&code, &length));
  EXPECT_EQ(fx::kSuccess, code);
  EXPECT_EQ(static_cast<int32_t>(body.size()), length);
  MessageBuffer message;
  EXPECT_EQ(1, q().resp(message.get(), code, length));
  EXPECT_EQ(gbk("第一行\n^1[3-9]\\d{9}$ & more"), message.text());
  EXPECT_TRUE(message.guard_intact());
  // Nothing else was sent: the next request is the next 16 bytes.
  EXPECT_EQ(1, exchange(message));
  EXPECT_TRUE(server.wait_done(0));
}

TEST_P(XmlQuery, NoTextLeavesTheMessageAsPassed) {
  Script script = Script();
  for (const Bytes &doc :
       {Bytes("<r/>"), "<r>" + element("") + "</r>", "<r>" + element(" \r\n\t ") + "</r>",
        "<r><x>" + element("deep") + "</x></r>"})
    script.expect(request()).send(fx::reply(fx::kSuccess, doc));
  server.on(0, script);
  fx_connect();
  for (int i = 0; i < 4; ++i) {
    MessageBuffer message;
    EXPECT_EQ(1, exchange(message)) << "document " << i;
    EXPECT_TRUE(message.untouched()) << "document " << i;
  }
}

// Another reply code: the pair's message, the body consumed.
TEST_P(XmlQuery, RefusalGivesThePairsMessageAndConsumesTheBody) {
  server.on(0, Script()
                   .expect(request())
                   .send(fx::reply(20901, "<r>" + element("not taken") + "</r>"))
                   .expect(request())
                   .send(fx::reply(fx::kSuccess, "<r>" + element("taken") + "</r>")));
  fx_connect();
  MessageBuffer refused, taken;
  int32_t code = kUnsetCode;
  EXPECT_EQ(1, exchange(refused, &code));
  EXPECT_EQ(20901, code);
  EXPECT_EQ(gbk(q().refusal), refused.text());
  EXPECT_EQ(1, exchange(taken));
  EXPECT_EQ("taken", taken.text());
}

// A length of 0 or below reads nothing and relogs in nowhere.
TEST_P(XmlQuery, EmptyReplyReadsNothing) {
  server.on(0, Script()
                   .expect(request())
                   .send(fx::header(20901, 0))
                   .expect(request())
                   .send(fx::header(fx::kSuccess, -1))
                   .expect(request())
                   .send(fx::reply(fx::kSuccess, "<r>" + element("after") + "</r>")));
  fx_connect();
  for (int i = 0; i < 2; ++i) {
    MessageBuffer message;
    EXPECT_EQ(0, exchange(message));
    EXPECT_EQ(gbk("读取反馈信息为空！"), message.text());
  }
  MessageBuffer message;
  EXPECT_EQ(1, exchange(message));
  EXPECT_EQ("after", message.text());
  EXPECT_EQ(1u, server.accepted());
}

// A document that breaks the rule fails, and the connection goes on.
TEST_P(XmlQuery, BadDocumentFailsWithoutARelogin) {
  Script script;
  for (const Bytes &doc :
       {"<r>" + element("<b>x</b>") + "</r>", "<r>" + element("x") + "</r", Bytes("text")})
    script.expect(request()).send(fx::reply(fx::kSuccess, doc));
  script.expect(request()).send(fx::reply(fx::kSuccess, "<r>" + element("fine") + "</r>"));
  server.on(0, script);
  fx_connect();
  for (int i = 0; i < 3; ++i) {
    MessageBuffer message;
    EXPECT_EQ(0, exchange(message));
    EXPECT_EQ(gbk("解析XML异常失败！"), message.text());
  }
  MessageBuffer message;
  EXPECT_EQ(1, exchange(message));
  EXPECT_EQ("fine", message.text());
  EXPECT_EQ(1u, server.accepted());
}

// The four ways the exchange itself fails: each relogs in exactly once with
// the saved texts, and the next query runs on the new connection.
enum class QueryFault { NotConnected, HeaderCut, HeaderStalls, BodyCut, BodyStalls, BodyTooLong };

const char *fault_name(QueryFault f) {
  switch (f) {
    case QueryFault::NotConnected: return "NotConnected";
    case QueryFault::HeaderCut: return "HeaderCut";
    case QueryFault::HeaderStalls: return "HeaderStalls";
    case QueryFault::BodyCut: return "BodyCut";
    case QueryFault::BodyStalls: return "BodyStalls";
    case QueryFault::BodyTooLong: return "BodyTooLong";
  }
  return "";
}

struct QueryFailure {
  FxQuery query;
  QueryFault fault;
};

void PrintTo(const QueryFailure &c, std::ostream *os) {
  *os << c.query.name << fault_name(c.fault);
}

class XmlQueryFailure : public XmlTest, public ::testing::WithParamInterface<QueryFailure> {};

TEST_P(XmlQueryFailure, RelogsInOnce) {
  const FxQuery &q = GetParam().query;
  const QueryFault fault = GetParam().fault;
  const Bytes request = fx::header(q.code, 0);
  Script first = fx::logged_in();
  switch (fault) {
    case QueryFault::NotConnected: break;
    case QueryFault::HeaderCut:
      first.expect(request).send(fx::header(fx::kSuccess, 9).substr(0, 12)).close();
      break;
    case QueryFault::HeaderStalls:
      first.expect(request).send(fx::header(fx::kSuccess, 9).substr(0, 12)).stall();
      break;
    case QueryFault::BodyCut:
      first.expect(request).send(fx::header(fx::kSuccess, 40) + "<r>").close();
      break;
    case QueryFault::BodyStalls:
      first.expect(request).send(fx::header(fx::kSuccess, 40) + "<r>").stall();
      break;
    case QueryFault::BodyTooLong:
      first.expect(request).send(fx::header(fx::kSuccess, QV_FX_REPLY_MAX + 1));
      break;
  }
  const Bytes body = "<r><" + Bytes(q.element) + ">again</" + Bytes(q.element) + "></r>";
  server.on(0, first);
  server.on(1, fx::logged_in().expect(request).send(fx::reply(fx::kSuccess, body)));
  fx_connect_and_login();
  if (fault == QueryFault::NotConnected) {
    ASSERT_EQ(1, fxTcpDisconnect());
  }
  const bool stalls = fault == QueryFault::HeaderStalls || fault == QueryFault::BodyStalls;
  if (stalls) {
    ASSERT_EQ(1, SetReadTimeout(200));
  }

  int32_t code = kUnsetCode, length = kUnsetCode;
  MessageBuffer message;
  const bool header_fails = fault == QueryFault::NotConnected || fault == QueryFault::HeaderCut ||
                            fault == QueryFault::HeaderStalls;
  long took = 0;
  if (header_fails) {
    took = elapsed_ms([&] { EXPECT_EQ(0, q.req(&code, &length)); });
    EXPECT_EQ(-1, code);
    EXPECT_EQ(kUnsetCode, length);
  } else {
    // The request export reads the body, so a stall holds it up; the
    // response export reports the failed read and relogs in.
    took = elapsed_ms([&] {
      ASSERT_EQ(1, q.req(&code, &length));
      EXPECT_EQ(0, q.resp(message.get(), code, length));
    });
    EXPECT_EQ(gbk("读取反馈信息异常失败！"), message.text());
  }
  if (stalls) {
    EXPECT_GE(took, 190);
  }
  EXPECT_LT(took, 3000);
  EXPECT_EQ(2u, server.accepted());

  MessageBuffer again;
  ASSERT_EQ(1, q.req(&code, &length));
  EXPECT_EQ(1, q.resp(again.get(), code, length));
  EXPECT_EQ("again", again.text());
  EXPECT_TRUE(server.wait_done(1));
  EXPECT_NE(standard_login_key(0), standard_login_key(1));
}

std::vector<QueryFailure> query_failures() {
  std::vector<QueryFailure> cases;
  for (const FxQuery &q : kFxQueries)
    for (QueryFault f : {QueryFault::NotConnected, QueryFault::HeaderCut, QueryFault::HeaderStalls,
                         QueryFault::BodyCut, QueryFault::BodyStalls, QueryFault::BodyTooLong})
      cases.push_back({q, f});
  return cases;
}

auto query_name = [](const auto &info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Pairs, XmlQuery, ::testing::ValuesIn(kFxQueries), query_name);
INSTANTIATE_TEST_SUITE_P(Pairs, XmlQueryFailure, ::testing::ValuesIn(query_failures()),
                         [](const auto &info) {
                           return std::string(info.param.query.name) + fault_name(info.param.fault);
                         });

}  // namespace
}  // namespace qvtest
