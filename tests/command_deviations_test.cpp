// The record commands that depart from the plain exchange: the password
// change with its local check, saved credentials and reversed failure
// order; the content check that chooses its message; the overall submit
// whose failure message carries the error; numbers sent as decimal texts;
// Param outputs filled to their last byte.
#include <climits>
#include <cstring>
#include <functional>
#include <thread>

#include "quorvex_fixture.h"

namespace qvtest {
namespace {

constexpr int32_t kUnsetNumber = 0x5a5a5a5a;

struct Reply {
  int32_t code = kUnsetCode;
  MessageBuffer message;
};

// The password-change request for the standard login.
Bytes edit_password(const Bytes &name, const Bytes &pwd, const Bytes &fresh) {
  return rec::make(110, name, pwd, fresh, fresh);
}

// ------------------------------------------------------------ EditPassword

using EditPassword = QuorvexTest;

// Body and Param1 carry the saved account name and the password in use,
// not arguments; BodyLen is the name's length.
TEST_F(EditPassword, SendsTheSavedNameAndPasswordInUse) {
  const Bytes expected = Bytes(
                             "\x6e\0\0\0"
                             "user7",
                             9) +
                         Bytes(2043, '\0') +
                         Bytes(
                             "\x05\0\0\0"
                             "pw7",
                             7) +
                         Bytes(17, '\0') + "new1" + Bytes(16, '\0') + "new1" + Bytes(16, '\0');
  server.on(0, Script()
                   .expect(rec::login(kApp, kExtra, "user7", "pw7", kVer))
                   .send(kAccepted)
                   .expect(expected)
                   .send(rec::make(901, gbk("旧密码错误"))));
  connect_direct();
  ASSERT_EQ(1, Login_Request(kApp, kExtra, "user7", "pw7", kVer));
  Reply login;
  ParamBuffer p1, p2, p3;
  ASSERT_EQ(1, Login_Feedback(&login.code, login.message.get(), p1.get(), p2.get(), p3.get()));
  Reply reply;
  EXPECT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), "new1", "new1"));
  EXPECT_EQ(901, reply.code);
  EXPECT_EQ(gbk("旧密码错误"), reply.message.text());
}

// Before any login the saved texts are empty.
TEST_F(EditPassword, BeforeAnyLoginSendsAnEmptyNameAndPassword) {
  server.on(0, Script().expect(edit_password("", "", "fresh")).send(kAccepted));
  connect_direct();
  Reply reply;
  EXPECT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), "fresh", "fresh"));
  EXPECT_EQ(QV_CODE_ACCEPTED, reply.code);
}

struct PasswordPair {
  const char *name;
  Bytes first;
  Bytes second;
  bool first_null = false;
  bool second_null = false;
};

void PrintTo(const PasswordPair &p, std::ostream *os) { *os << p.name; }

const char *arg(const Bytes &text, bool null) { return null ? nullptr : text.c_str(); }

class EditPasswordMismatch : public QuorvexTest,
                             public ::testing::WithParamInterface<PasswordPair> {};

// Refused locally: the message says so, nothing is sent (the heartbeat is
// the next record), no relogin runs, and the password in use stays saved.
TEST_P(EditPasswordMismatch, IsRefusedBeforeAnythingIsSent) {
  server.on(0, logged_in().expect(kHeartbeat).send(kAccepted));
  server.on(1, logged_in());
  connect_and_login();
  const PasswordPair &p = GetParam();
  Reply reply;
  EXPECT_EQ(0, ::EditPassword(&reply.code, reply.message.get(), arg(p.first, p.first_null),
                              arg(p.second, p.second_null)));
  EXPECT_EQ(-1, reply.code);
  EXPECT_EQ(gbk("两次输入的密码不一致!"), reply.message.text());
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(1u, server.accepted());
  EXPECT_EQ(1, ReLogin());  // connection 1 expects the old password
}

INSTANTIATE_TEST_SUITE_P(Pairs, EditPasswordMismatch,
                         ::testing::Values(PasswordPair{"CaseOnly", "Secret9", "secret9"},
                                           PasswordPair{"Prefix", "abc", "abcd"},
                                           PasswordPair{"Longer", "abcd", "abc"},
                                           PasswordPair{"EmptyAndText", "", "x"},
                                           PasswordPair{"NullAndText", "", "x", true},
                                           PasswordPair{"TextAndNull", "x", "", false, true},
                                           PasswordPair{"GbkTrailByte", gbk("密码"), gbk("密吗")}),
                         [](const auto &info) { return std::string(info.param.name); });

// Equal passwords, null counting as empty, are sent.
TEST_F(EditPassword, EqualTextsAreSentNullAsEmpty) {
  server.on(0, logged_in()
                   .expect(edit_password(kName, kPwd, ""))
                   .send(rec::make(902))
                   .expect(edit_password(kName, kPwd, ""))
                   .send(rec::make(902))
                   .expect(edit_password(kName, kPwd, gbk("密码")))
                   .send(rec::make(902)));
  connect_and_login();
  Reply reply;
  EXPECT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), nullptr, ""));
  EXPECT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), nullptr, nullptr));
  EXPECT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), gbk("密码").c_str(),
                              gbk("密码").c_str()));
  EXPECT_EQ(902, reply.code);
}

// Accepted: the new password is used by the next relogin, whether the host
// calls it or a failing command does, and by the next password change.
TEST_F(EditPassword, AcceptedChangeIsUsedFromThenOn) {
  const Bytes relogin = rec::login(kApp, kExtra, kName, "n3w", kVer);
  server.on(0, logged_in().expect(edit_password(kName, kPwd, "n3w")).send(kAccepted));
  server.on(1, Script().expect(relogin).send(kAccepted).expect(kHeartbeat).close());
  server.on(2, Script()
                   .expect(relogin)
                   .send(kAccepted)
                   .expect(edit_password(kName, "n3w", "4th"))
                   .send(rec::make(903)));
  connect_and_login();
  Reply reply;
  ASSERT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), "n3w", "n3w"));
  EXPECT_EQ(1, ReLogin());
  EXPECT_EQ(0, Heartbeat());
  EXPECT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), "4th", "4th"));
  EXPECT_EQ(903, reply.code);
}

class EditPasswordNotAccepted : public QuorvexTest,
                                public ::testing::WithParamInterface<int32_t> {};

// Any other code is an answer (result 1) but changes nothing.
TEST_P(EditPasswordNotAccepted, KeepsTheOldPassword) {
  server.on(
      0,
      logged_in().expect(edit_password(kName, kPwd, "n3w")).send(rec::make(GetParam(), "refused")));
  server.on(1, logged_in());
  connect_and_login();
  Reply reply;
  EXPECT_EQ(1, ::EditPassword(&reply.code, reply.message.get(), "n3w", "n3w"));
  EXPECT_EQ(GetParam(), reply.code);
  EXPECT_EQ("refused", reply.message.text());
  EXPECT_EQ(1, ReLogin());
}

INSTANTIATE_TEST_SUITE_P(Codes, EditPasswordNotAccepted, ::testing::Values(901, 0, -1, 899, 9000),
                         [](const auto &info) {
                           return info.param < 0 ? "minus" + std::to_string(-info.param)
                                                 : std::to_string(info.param);
                         });

// A failed change relogs in with the old password and keeps it.
TEST_F(EditPassword, FailureRelogsInWithTheOldPassword) {
  server.on(0, logged_in().expect(edit_password(kName, kPwd, "n3w")).close());
  server.on(1, logged_in());
  server.on(2, logged_in());
  connect_and_login();
  Reply reply;
  EXPECT_EQ(0, ::EditPassword(&reply.code, reply.message.get(), "n3w", "n3w"));
  EXPECT_EQ(-1, reply.code);
  EXPECT_EQ(gbk("修改密码异常失败!"), reply.message.text());
  EXPECT_TRUE(server.wait_done(1));
  EXPECT_EQ(1, ReLogin());
}

// While the relogin waits for its answer, the caller's buffer shows whether
// the failure message was already copied: not yet for the password change,
// already for every other command.
struct OrderProbe {
  const char *name;
  std::function<qv_bool(Reply &)> call;
  bool message_before_relogin;
};

void PrintTo(const OrderProbe &p, std::ostream *os) { *os << p.name; }

class FailureOrder : public QuorvexTest, public ::testing::WithParamInterface<OrderProbe> {};

TEST_P(FailureOrder, MessageAgainstRelogin) {
  server.on(0, logged_in().expect(rec::kSize).close());
  server.on(1, Script().expect(kLoginRecord).stall(Millis{300}).send(kAccepted));
  connect_and_login();
  Reply reply;
  qv_bool result = 2;
  const auto call = GetParam().call;
  std::thread caller([&] { result = call(reply); });
  ASSERT_TRUE(server.wait_accepted(2));
  // The relogin is now waiting for its answer; nothing else writes the buffer.
  const bool written_during_relogin = !reply.message.untouched();
  caller.join();
  EXPECT_EQ(0, result);
  EXPECT_EQ(GetParam().message_before_relogin, written_during_relogin);
  EXPECT_FALSE(reply.message.untouched());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FailureOrder,
    ::testing::Values(
        OrderProbe{"EditPassword",
                   [](Reply &r) { return ::EditPassword(&r.code, r.message.get(), "a", "a"); },
                   false},
        OrderProbe{"FindAllSubs", [](Reply &r) { return FindAllSubs(&r.code, r.message.get()); },
                   true},
        OrderProbe{"SubmitAllOver",
                   [](Reply &r) { return SubmitAllOver(&r.code, r.message.get()); }, true}),
    [](const auto &info) { return std::string(info.param.name); });

// ------------------------------------------------------------ SubmitAllOver

using SubmitAllOverFailure = QuorvexTest;

const Bytes kSubmitFailed = gbk("总提交命令异常失败!");

TEST_F(SubmitAllOverFailure, BeforeAnyConnectAppendsNotConnected) {
  Reply reply;
  EXPECT_EQ(0, SubmitAllOver(&reply.code, reply.message.get()));
  EXPECT_EQ(-1, reply.code);
  EXPECT_EQ(kSubmitFailed + "Not Connected", reply.message.text());
}

TEST_F(SubmitAllOverFailure, TheCountingTwinCopiesItsMessageAlone) {
  Reply reply;
  int32_t numbers[3] = {kUnsetNumber, kUnsetNumber, kUnsetNumber};
  EXPECT_EQ(
      0, SubmitAllOver_2(&reply.code, reply.message.get(), &numbers[0], &numbers[1], &numbers[2]));
  EXPECT_EQ(-1, reply.code);
  EXPECT_EQ(kSubmitFailed, reply.message.text());
  for (int32_t n : numbers) EXPECT_EQ(kUnsetNumber, n);
}

// The error's own text follows the message, whatever ended the exchange.
TEST_F(SubmitAllOverFailure, ReadTimeOutAppendsItsText) {
  server.on(0, logged_in().expect(rec::make(299)).stall());
  server.on(1, logged_in());
  connect_and_login();
  ASSERT_EQ(1, SetReadTimeout(150));
  Reply reply;
  EXPECT_EQ(0, SubmitAllOver(&reply.code, reply.message.get()));
  EXPECT_EQ(kSubmitFailed + "Read timed out.", reply.message.text());
}

TEST_F(SubmitAllOverFailure, ResetAppendsTheSocketError) {
  server.on(0, logged_in().expect(rec::make(299)).reset());
  server.on(1, logged_in());
  connect_and_login();
  Reply reply;
  EXPECT_EQ(0, SubmitAllOver(&reply.code, reply.message.get()));
  EXPECT_EQ(kSubmitFailed + "Socket Error # 10054\r\nConnection reset by peer.",
            reply.message.text());
}

// The counting twin hands back the three numbers; a Param that is no number
// stops it after the numbers before it.
using SubmitAllOverCounts = QuorvexTest;

TEST_F(SubmitAllOverCounts, NumbersComeBackAndAnEmptyParamStopsThem) {
  server.on(0, logged_in()
                   .expect(rec::make(299))
                   .send(rec::make(900, gbk("任务号:77"), "12", "0", "-3"))
                   .expect(rec::make(299))
                   .send(rec::make(900, gbk("任务号:78"), "5", "", "6")));
  server.on(1, logged_in());
  connect_and_login();
  Reply reply;
  int32_t n[3] = {kUnsetNumber, kUnsetNumber, kUnsetNumber};
  ASSERT_EQ(1, SubmitAllOver_2(&reply.code, reply.message.get(), &n[0], &n[1], &n[2]));
  EXPECT_EQ(gbk("任务号:77"), reply.message.text());
  EXPECT_EQ(12, n[0]);
  EXPECT_EQ(0, n[1]);
  EXPECT_EQ(-3, n[2]);

  Reply second;
  int32_t m[3] = {kUnsetNumber, kUnsetNumber, kUnsetNumber};
  EXPECT_EQ(0, SubmitAllOver_2(&second.code, second.message.get(), &m[0], &m[1], &m[2]));
  EXPECT_EQ(QV_CODE_ACCEPTED, second.code);
  EXPECT_EQ(kSubmitFailed, second.message.text());
  EXPECT_EQ(5, m[0]);
  EXPECT_EQ(kUnsetNumber, m[1]);
  EXPECT_EQ(kUnsetNumber, m[2]);
  EXPECT_TRUE(server.wait_done(1));
}

// ------------------------------------------------------------ CheckSMSContent

struct ContentChoice {
  const char *name;
  int32_t third;
  int32_t answer_code;
  Bytes answer_param1;
  bool gets_param1;
};

void PrintTo(const ContentChoice &c, std::ostream *os) { *os << c.name; }

class CheckSMSContentChoice : public QuorvexTest,
                              public ::testing::WithParamInterface<ContentChoice> {};

// The message holds Param1 only when the third number is 0 and the server
// accepted; otherwise the Body.  The first two numbers play no part.
TEST_P(CheckSMSContentChoice, PicksParam1OrBody) {
  const ContentChoice &c = GetParam();
  const Bytes body = gbk("含有敏感词:某词");
  server.on(0, Script()
                   .expect(rec::kSize)
                   .send(rec::make(c.answer_code, body, c.answer_param1, "p2", "p3")));
  connect_direct();
  Reply reply;
  EXPECT_EQ(1,
            CheckSMSContent(&reply.code, reply.message.get(), gbk("内容").c_str(), 0, 0, c.third));
  EXPECT_EQ(c.answer_code, reply.code);
  EXPECT_EQ(c.gets_param1 ? c.answer_param1 : body, reply.message.text());
  if (c.gets_param1) {
    EXPECT_EQ('\0', reply.message.at(c.answer_param1.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Choices, CheckSMSContentChoice,
    ::testing::Values(ContentChoice{"ThirdZeroAccepted", 0, 900, gbk("合法"), true},
                      ContentChoice{"ThirdZeroAcceptedEmptyParam1", 0, 900, "", true},
                      ContentChoice{"ThirdZeroAcceptedFullParam1", 0, 900, Bytes(20, '7'), true},
                      ContentChoice{"ThirdZeroRefused", 0, 901, gbk("合法"), false},
                      ContentChoice{"ThirdOneAccepted", 1, 900, gbk("合法"), false},
                      ContentChoice{"ThirdNegativeAccepted", -1, 900, gbk("合法"), false}),
    [](const auto &info) { return std::string(info.param.name); });

// Only the third number decides: with the first two zero and the third not,
// the Body comes back; with the third zero and the others not, Param1.
using CheckSMSContentNumbers = QuorvexTest;

TEST_F(CheckSMSContentNumbers, OnlyTheThirdDecides) {
  const Bytes answer = rec::make(900, "body", "param1");
  server.on(0, Script().expect(rec::kSize).send(answer).expect(rec::kSize).send(answer));
  connect_direct();
  Reply first, second;
  EXPECT_EQ(1, CheckSMSContent(&first.code, first.message.get(), "c", 0, 0, 5));
  EXPECT_EQ("body", first.message.text());
  EXPECT_EQ(1, CheckSMSContent(&second.code, second.message.get(), "c", 5, 5, 0));
  EXPECT_EQ("param1", second.message.text());
}

// Numbers travel as decimal texts: a minus sign, no leading zeros, no spaces.
using NumberPut = QuorvexTest;

TEST_F(NumberPut, CheckSMSContentSendsItsNumbersAsDecimalTexts) {
  const Bytes content = gbk("您好,欢迎光临");
  server.on(0, Script()
                   .expect(rec::make(1700, content, "1", "-2", "0"))
                   .send(kAccepted)
                   .expect(rec::make(1700, "", "-2147483648", "2147483647", "-10"))
                   .send(kAccepted));
  connect_direct();
  Reply reply;
  EXPECT_EQ(1, CheckSMSContent(&reply.code, reply.message.get(), content.c_str(), 1, -2, 0));
  EXPECT_EQ(1, CheckSMSContent(&reply.code, reply.message.get(), "", INT32_MIN, INT32_MAX, -10));
}

TEST_F(NumberPut, LastDetailsSendsItsCountInParam1) {
  const int32_t counts[] = {20, -5, 0, INT32_MIN, 100};
  const char *const texts[] = {"20", "-5", "0", "-2147483648", "100"};
  Script script;
  for (const char *t : texts) script.expect(rec::make(128, "q=recent", t)).send(kAccepted);
  server.on(0, script);
  connect_direct();
  for (int32_t count : counts) {
    Reply reply;
    EXPECT_EQ(1, LastDetails(&reply.code, reply.message.get(), "q=recent", count)) << count;
  }
}

// ------------------------------------------------------------ Param outputs

using ParamOutputs = QuorvexTest;

// A Param of 20 bytes without a zero gives 20 bytes and a zero; an empty
// Param an empty string.
TEST_F(ParamOutputs, TakeUpToTwentyBytesAndATerminator) {
  const Bytes full(20, 'Q');
  server.on(0, Script()
                   .expect(rec::make(161))
                   .send(rec::make(900, "params", "a", full, ""))
                   .expect(rec::make(1310, "gw"))
                   .send(rec::make(900, "added"))
                   .expect(rec::make(132, "gw"))
                   .send(rec::make(900, "deleted", full)));
  connect_direct();
  Reply reply;
  ParamBuffer p[3];
  ASSERT_EQ(1,
            GetSJKHDParams(&reply.code, reply.message.get(), p[0].get(), p[1].get(), p[2].get()));
  EXPECT_EQ("a", p[0].text());
  EXPECT_EQ(full, p[1].text());
  EXPECT_EQ('\0', p[1].at(20));
  EXPECT_TRUE(p[1].guard_intact());
  EXPECT_EQ("", p[2].text());
  EXPECT_EQ('\0', p[2].at(0));

  ParamBuffer g[2];
  ASSERT_EQ(1, AddSubGwNumEx(&reply.code, reply.message.get(), g[0].get(), g[1].get(), "gw"));
  EXPECT_EQ("added", reply.message.text());
  EXPECT_EQ('\0', g[0].at(0));
  EXPECT_EQ('\0', g[1].at(0));

  ParamBuffer d;
  ASSERT_EQ(1, DelSubGwNum(&reply.code, reply.message.get(), d.get(), "gw"));
  EXPECT_EQ(full, d.text());
  EXPECT_TRUE(d.guard_intact());
}

// ------------------------------------------------------------ a send job

// A whole job on one connection, each field answered in turn: the stream
// stays in step across the commands, and each verdict reaches its caller.
using SendJob = QuorvexTest;

TEST_F(SendJob, RunsFieldByFieldOnOneConnection) {
  const Bytes numbers = "13912345678,13012345678";
  const Bytes content = gbk("周末促销,全场八折");
  server.on(0, logged_in()
                   .expect(rec::make(298))
                   .send(rec::make(900, "cleared"))
                   .expect(rec::make({201, "P01", 0, "", "", ""}))
                   .send(rec::make(900, "product"))
                   .expect(rec::make(202, numbers))
                   .send(rec::make(900, "numbers"))
                   .expect(rec::make(204, content))
                   .send(rec::make(900, "content"))
                   .expect(rec::make(206, "2024-05-01"))
                   .send(rec::make(900, "begin"))
                   .expect(rec::make(207, "2024-05-02"))
                   .send(rec::make(905, gbk("结束日期早于开始日期")))
                   .expect(rec::make(299))
                   .send(rec::make(906, gbk("缺少字段"))));
  connect_and_login();
  Reply r;
  ASSERT_EQ(1, SubmitAllClear(&r.code, r.message.get()));
  EXPECT_EQ("cleared", r.message.text());
  ASSERT_EQ(1, SubmitPrdId(&r.code, r.message.get(), "P01"));
  EXPECT_EQ("product", r.message.text());
  ASSERT_EQ(1, SubmitTelList(&r.code, r.message.get(), numbers.c_str()));
  EXPECT_EQ("numbers", r.message.text());
  ASSERT_EQ(1, SubmitContent(&r.code, r.message.get(), content.c_str()));
  EXPECT_EQ("content", r.message.text());
  ASSERT_EQ(1, SubmitBgnDate(&r.code, r.message.get(), "2024-05-01"));
  EXPECT_EQ("begin", r.message.text());
  ASSERT_EQ(1, SubmitEndDate(&r.code, r.message.get(), "2024-05-02"));
  EXPECT_EQ(905, r.code);
  EXPECT_EQ(gbk("结束日期早于开始日期"), r.message.text());
  ASSERT_EQ(1, SubmitAllOver(&r.code, r.message.get()));
  EXPECT_EQ(906, r.code);
  EXPECT_EQ(gbk("缺少字段"), r.message.text());
  EXPECT_EQ(1u, server.accepted());
}

}  // namespace
}  // namespace qvtest
