// The record exchange every record command shares: the bytes of a record,
// the field limits, text take, refused outputs, the failure path with its
// relogin, queued bytes and the read time-out.
#include <functional>

#include "record_commands.h"

namespace qvtest {
namespace {

// ------------------------------------------------------------ layout

using RecordLayout = QuorvexTest;

// Expectations here are spelled out byte by byte rather than built.
TEST_F(RecordLayout, HeartbeatIsCode105LittleEndianThenZeros) {
  server.on(0, Script().expect(Bytes("\x69\0\0\0", 4) + Bytes(2112, '\0')).send(kAccepted));
  connect_direct();
  EXPECT_EQ(1, Heartbeat());
}

TEST_F(RecordLayout, LoginJoinsAppAndExtraWithASemicolon) {
  Bytes login(2116, '\0');
  login.replace(0, 4, "\x64\0\0\0", 4);
  login.replace(4, 3, "a;b");
  login.replace(2052, 4, "\x03\0\0\0", 4);
  login.replace(2056, 4, "name");
  login.replace(2076, 3, "pwd");
  login.replace(2096, 3, "1.0");
  server.on(0, Script().expect(login).send(kAccepted));
  connect_direct();
  EXPECT_EQ(1, Login_Request("a", "b", "name", "pwd", "1.0"));
  EXPECT_TRUE(server.wait_done(0));
}

// Null input texts are empty texts.
TEST_F(RecordLayout, EmptyLoginTextsLeaveTheSemicolonAlone) {
  Bytes login =
      Bytes("\x64\0\0\0;", 5) + Bytes(2047, '\0') + Bytes("\x01\0\0\0", 4) + Bytes(60, '\0');
  server.on(0, Script().expect(login).send(kAccepted).expect(login).send(kAccepted));
  connect_direct();
  EXPECT_EQ(1, Login_Request("", "", "", "", ""));
  EXPECT_EQ(1, Login_Request(nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_TRUE(server.wait_done(0));
}

TEST_F(RecordLayout, TextGoesToBodyAndParamToParam1) {
  server.on(0, Script()
                   .expect(rec::make(104, "image/jpeg", "320x240"))
                   .send(kAccepted)
                   .expect(rec::make(104))
                   .send(kAccepted));
  connect_direct();
  Outputs out;
  EXPECT_EQ(1,
            MMSMaxSize(&out.code, out.message.get(), out.params[0].get(), "image/jpeg", "320x240"));
  EXPECT_EQ(1, MMSMaxSize(&out.code, out.message.get(), out.params[0].get(), nullptr, nullptr));
}

TEST_F(RecordLayout, ResponseCodeIsLittleEndian) {
  Bytes first = rec::make(0);
  first.replace(0, 4, "\x04\x03\x02\x01", 4);
  Bytes second = rec::make(0);
  second.replace(0, 4, "\xfe\xff\xff\xff", 4);
  server.on(0, Script().expect(rec::kSize).send(first).expect(rec::kSize).send(second));
  connect_direct();
  Outputs out;
  EXPECT_EQ(1, MsgStates(&out.code, out.message.get()));
  EXPECT_EQ(0x01020304, out.code);
  EXPECT_EQ(1, MsgStates(&out.code, out.message.get()));
  EXPECT_EQ(-2, out.code);
}

// ------------------------------------------------------------ text take

using TextTake = QuorvexTest;

TEST_F(TextTake, FullFieldsGetATerminatorAndNothingBeyond) {
  const Bytes body(2048, 'B');
  const Bytes params[3] = {Bytes(20, '1'), Bytes(20, '2'), Bytes(20, '3')};
  server.on(
      0, Script().expect(rec::kSize).send(rec::make(900, body, params[0], params[1], params[2])));
  connect_direct();
  Outputs out;
  ASSERT_EQ(1, GetUdInfo(&out.code, out.message.get(), out.params[0].get(), out.params[1].get(),
                         out.params[2].get()));
  EXPECT_EQ(body, out.message.text());
  EXPECT_EQ('\0', out.message.at(2048));
  EXPECT_TRUE(out.message.guard_intact());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(params[i], out.params[i].text());
    EXPECT_EQ('\0', out.params[i].at(20));
    EXPECT_TRUE(out.params[i].guard_intact());
  }
}

// A response's BodyLen is never read: texts end at their first zero.
TEST_F(TextTake, TextsEndAtTheirFirstZero) {
  Bytes answer = rec::make({901, Bytes("short\0tail", 10), 9999, Bytes("p\0q", 3), "", ""});
  server.on(0, Script().expect(rec::kSize).send(answer));
  connect_direct();
  Outputs out;
  ASSERT_EQ(1, MMSMaxSize(&out.code, out.message.get(), out.params[0].get(), "", ""));
  EXPECT_EQ(901, out.code);
  EXPECT_EQ("short", out.message.text());
  EXPECT_EQ("p", out.params[0].text());
}

TEST_F(TextTake, EmptyFieldsGiveEmptyTexts) {
  server.on(0, Script().expect(rec::kSize).send(kAccepted));
  connect_direct();
  Outputs out;
  ASSERT_EQ(1, GetUdInfo(&out.code, out.message.get(), out.params[0].get(), out.params[1].get(),
                         out.params[2].get()));
  EXPECT_EQ(QV_CODE_ACCEPTED, out.code);
  EXPECT_EQ('\0', out.message.at(0));
  for (const auto &p : out.params) EXPECT_EQ('\0', p.at(0));
}

// ------------------------------------------------------------ field limits

// A text that fills its field to the last byte before the terminator, or
// one byte more.  Only MMSMaxSize and Login_Request take input texts here.
struct LengthCase {
  const char *name;
  bool is_login;
  std::function<qv_bool(Outputs &)> call;
  Bytes request;  // what is sent when the text fits
};

void PrintTo(const LengthCase &c, std::ostream *os) { *os << c.name; }

Bytes text(size_t n, char c) { return Bytes(n, c); }

qv_bool mms(Outputs &o, const Bytes &body, const Bytes &param) {
  return MMSMaxSize(&o.code, o.message.get(), o.params[0].get(), body.c_str(), param.c_str());
}

std::vector<LengthCase> fitting_cases() {
  return {
      {"MMSMaxSizeBody", false, [](Outputs &o) { return mms(o, text(2047, 'T'), ""); },
       rec::make(104, text(2047, 'T'))},
      {"MMSMaxSizeParam", false, [](Outputs &o) { return mms(o, "", text(19, 'P')); },
       rec::make(104, "", text(19, 'P'))},
      {"LoginBody", true,
       [](Outputs &) {
         return Login_Request(text(2000, 'a').c_str(), text(46, 'e').c_str(), "n", "p", "v");
       },
       rec::login(text(2000, 'a'), text(46, 'e'), "n", "p", "v")},
      {"LoginName", true,
       [](Outputs &) { return Login_Request("a", "e", text(19, 'N').c_str(), "p", "v"); },
       rec::login("a", "e", text(19, 'N'), "p", "v")},
      {"LoginPwd", true,
       [](Outputs &) { return Login_Request("a", "e", "n", text(19, 'W').c_str(), "v"); },
       rec::login("a", "e", "n", text(19, 'W'), "v")},
      {"LoginVer", true,
       [](Outputs &) { return Login_Request("a", "e", "n", "p", text(19, 'V').c_str()); },
       rec::login("a", "e", "n", "p", text(19, 'V'))},
  };
}

std::vector<LengthCase> overlong_cases() {
  return {
      {"MMSMaxSizeBody", false, [](Outputs &o) { return mms(o, text(2048, 'T'), ""); }, {}},
      {"MMSMaxSizeParam", false, [](Outputs &o) { return mms(o, "", text(20, 'P')); }, {}},
      {"LoginBody",
       true,
       [](Outputs &) {
         return Login_Request(text(2000, 'a').c_str(), text(47, 'e').c_str(), "n", "p", "v");
       },
       {}},
      {"LoginName",
       true,
       [](Outputs &) { return Login_Request("a", "e", text(20, 'N').c_str(), "p", "v"); },
       {}},
      {"LoginPwd",
       true,
       [](Outputs &) { return Login_Request("a", "e", "n", text(20, 'W').c_str(), "v"); },
       {}},
      {"LoginVer",
       true,
       [](Outputs &) { return Login_Request("a", "e", "n", "p", text(20, 'V').c_str()); },
       {}},
  };
}

class LengthLimit : public QuorvexTest, public ::testing::WithParamInterface<LengthCase> {};
using TextFits = LengthLimit;
using TextTooLong = LengthLimit;

TEST_P(TextFits, IsSentWhole) {
  server.on(0, Script().expect(GetParam().request).send(kAccepted));
  connect_direct();
  Outputs out;
  EXPECT_EQ(1, GetParam().call(out));
  EXPECT_TRUE(server.wait_done(0));
}

// Refused before anything is sent: the heartbeat is the next record on the
// first connection, and the explicit ReLogin still sends the old login.
TEST_P(TextTooLong, IsRefusedAndNothingIsSentOrSaved) {
  server.on(0, logged_in().expect(kHeartbeat).send(kAccepted));
  server.on(1, logged_in());
  connect_and_login();
  Outputs out;
  EXPECT_EQ(0, GetParam().call(out));
  if (!GetParam().is_login) {
    EXPECT_EQ(-1, out.code);
    EXPECT_EQ(gbk("输入的文本过长!"), out.message.text());
    EXPECT_TRUE(out.params_untouched());
  }
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(1, ReLogin());
}

auto length_case_name = [](const auto &info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Fields, TextFits, ::testing::ValuesIn(fitting_cases()), length_case_name);
INSTANTIATE_TEST_SUITE_P(Fields, TextTooLong, ::testing::ValuesIn(overlong_cases()),
                         length_case_name);

// ------------------------------------------------------------ null outputs

struct NullOutputCase {
  RecordCommand command;
  int slot;
};

void PrintTo(const NullOutputCase &c, std::ostream *os) {
  *os << c.command.name << " with null " << slot_name(c.slot);
}

std::vector<NullOutputCase> null_output_cases() {
  std::vector<NullOutputCase> cases;
  for (const RecordCommand &c : kRecordCommands) {
    int outputs = (c.has_code ? 1 : 0) + (c.has_message ? 1 : 0) + c.param_outputs;
    for (int slot = 0; slot < outputs; ++slot) cases.push_back({c, slot});
  }
  return cases;
}

class NullOutput : public QuorvexTest, public ::testing::WithParamInterface<NullOutputCase> {};

// Refused: nothing written anywhere, nothing sent (the heartbeat is the
// next record on the first connection), no relogin.
TEST_P(NullOutput, RefusesTheCall) {
  server.on(0, logged_in().expect(kHeartbeat).send(kAccepted));
  connect_and_login();
  Outputs out;
  out.null_slot = GetParam().slot;
  EXPECT_EQ(0, GetParam().command.call(out));
  EXPECT_EQ(kUnsetCode, out.code);
  EXPECT_TRUE(out.message.untouched());
  EXPECT_TRUE(out.params_untouched());
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(1u, server.accepted());
}

INSTANTIATE_TEST_SUITE_P(Commands, NullOutput, ::testing::ValuesIn(null_output_cases()),
                         [](const auto &info) {
                           return std::string(info.param.command.name) + "Null" +
                                  slot_name(info.param.slot);
                         });

// ------------------------------------------------------------ failure path

enum class Fault { PeerCloses, PeerResets, RecordCutShort, NotConnected, ReadTimesOut };

struct FailureCase {
  RecordCommand command;
  Fault fault;
};

const char *fault_name(Fault f) {
  switch (f) {
    case Fault::PeerCloses: return "PeerCloses";
    case Fault::PeerResets: return "PeerResets";
    case Fault::RecordCutShort: return "RecordCutShort";
    case Fault::NotConnected: return "NotConnected";
    case Fault::ReadTimesOut: return "ReadTimesOut";
  }
  return "";
}

void PrintTo(const FailureCase &c, std::ostream *os) {
  *os << c.command.name << ", " << fault_name(c.fault);
}

// How the first connection fails the command after the login.
Script failing_connection(const RecordCommand &c, Fault fault) {
  Script s = logged_in();
  const Bytes request = rec::make(c.code);
  switch (fault) {
    case Fault::PeerCloses: return s.expect(request).close();
    case Fault::PeerResets: return s.expect(request).reset();
    case Fault::RecordCutShort: return s.expect(request).send(kAccepted.substr(0, 1000)).close();
    case Fault::NotConnected: return s;
    case Fault::ReadTimesOut: return s.expect(request).stall();
  }
  return s;
}

class FailurePath : public QuorvexTest, public ::testing::WithParamInterface<FailureCase> {};

// The command reports the failure, relogs in exactly once with the last
// login, and the next command runs on the new connection.
TEST_P(FailurePath, ReportsAndRelogsInOnce) {
  const RecordCommand &c = GetParam().command;
  server.on(0, failing_connection(c, GetParam().fault));
  server.on(1, logged_in().expect(kHeartbeat).send(kAccepted));
  connect_and_login();
  if (GetParam().fault == Fault::NotConnected) {
    ASSERT_EQ(1, TcpDisconnect());
  }
  if (GetParam().fault == Fault::ReadTimesOut) {
    ASSERT_EQ(1, SetReadTimeout(200));
  }

  Outputs out;
  EXPECT_EQ(0, c.call(out));
  if (c.has_code) {
    EXPECT_EQ(-1, out.code);
  }
  if (c.failure_message) {
    EXPECT_EQ(gbk(c.failure_message), out.message.text());
  } else {
    EXPECT_TRUE(out.message.untouched());
  }
  EXPECT_TRUE(out.params_untouched());
  EXPECT_TRUE(server.wait_closed(0));

  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(2u, server.accepted());
}

std::vector<FailureCase> failure_cases() {
  std::vector<FailureCase> cases;
  for (const RecordCommand &c : kRecordCommands)
    for (Fault f : {Fault::PeerCloses, Fault::PeerResets, Fault::RecordCutShort,
                    Fault::NotConnected, Fault::ReadTimesOut})
      cases.push_back({c, f});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Commands, FailurePath, ::testing::ValuesIn(failure_cases()),
                         [](const auto &info) {
                           return std::string(info.param.command.name) +
                                  fault_name(info.param.fault);
                         });

// ------------------------------------------------------------ the stream

using Exchange = QuorvexTest;

// Records that no request asked for, whether they came with the answer or
// after it, are never taken for the next command's answer: that command
// finds them before it writes, fails and relogs in, and the one after it
// gets its own answer.
TEST_F(Exchange, ExtraRecordsNeverAnswerTheNextCommand) {
  std::vector<Bytes> extras;
  for (int i = 0; i < 20; ++i) extras.push_back(rec::make(555, "extra " + std::to_string(i)));
  std::vector<Bytes> with_answer = extras;
  with_answer.insert(with_answer.begin(), rec::make(900, "first"));
  const Script scripts[] = {
      logged_in().expect(rec::make(101)).send_at_once(with_answer),
      logged_in()
          .expect(rec::make(101))
          .send(rec::make(900, "first"))
          .stall(Millis{50})
          .send(extras[0]),
  };
  for (size_t i = 0; i < 2; ++i) {
    server.on(2 * i, scripts[i]);
    server.on(2 * i + 1, logged_in().expect(rec::make(103)).send(rec::make(900, "own")));
  }
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i == 0 ? "extras with the answer" : "an extra after the answer");
    connect_and_login();
    Outputs first, second;
    EXPECT_EQ(1, MsgStates(&first.code, first.message.get()));
    EXPECT_EQ("first", first.message.text());
    ASSERT_TRUE(server.wait_done(2 * i));
    EXPECT_EQ(0, MobileNum(&second.code, second.message.get()));
    EXPECT_EQ(-1, second.code);
    EXPECT_TRUE(second.message.untouched());
    EXPECT_EQ(1, MobileNum(&second.code, second.message.get()));
    EXPECT_EQ("own", second.message.text());
    EXPECT_EQ(2 * i + 2, server.accepted());
    ASSERT_EQ(1, TcpDisconnect());
  }
}

// A stale record left queued must not be taken for the relogin's answer.
TEST_F(Exchange, ReLoginDiscardsAQueuedRecord) {
  server.on(0, logged_in()
                   .expect(rec::make(101))
                   .send_at_once({rec::make(900, "answer"), rec::make(555, "stale")}));
  server.on(1, logged_in().expect(rec::make(101)).send(rec::make(900, "fresh")));
  connect_and_login();
  Outputs out;
  ASSERT_EQ(1, MsgStates(&out.code, out.message.get()));
  EXPECT_EQ(1, ReLogin());
  ASSERT_EQ(1, MsgStates(&out.code, out.message.get()));
  EXPECT_EQ("fresh", out.message.text());
}

// So must a connect made again without a disconnect.
TEST_F(Exchange, NewConnectDiscardsAQueuedRecord) {
  server.on(0, Script()
                   .expect(rec::make(101))
                   .send_at_once({rec::make(900, "answer"), rec::make(555, "stale")}));
  server.on(1, Script().expect(rec::make(101)).send(rec::make(900, "fresh")));
  connect_direct();
  Outputs out;
  ASSERT_EQ(1, MsgStates(&out.code, out.message.get()));
  connect_direct();
  ASSERT_EQ(1, MsgStates(&out.code, out.message.get()));
  EXPECT_EQ("fresh", out.message.text());
}

TEST_F(Exchange, ReadTimeOutEndsTheWaitInTime) {
  server.on(0, logged_in().expect(kHeartbeat).stall());
  server.on(1, logged_in());
  connect_and_login();
  ASSERT_EQ(1, SetReadTimeout(200));
  long took = elapsed_ms([] { EXPECT_EQ(0, Heartbeat()); });
  EXPECT_GE(took, 190);
  EXPECT_LT(took, 3000);
}

// Zero or below waits without limit; a later setting replaces an earlier.
class ReadTimeoutSetting : public QuorvexTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(ReadTimeoutSetting, LetsASlowAnswerArrive) {
  server.on(0, Script().expect(kHeartbeat).stall(Millis{300}).send(kAccepted));
  connect_direct();
  ASSERT_EQ(1, SetReadTimeout(100));
  ASSERT_EQ(1, SetReadTimeout(GetParam()));
  EXPECT_EQ(1, Heartbeat());
}

INSTANTIATE_TEST_SUITE_P(Values, ReadTimeoutSetting, ::testing::Values(0, -1, 3000),
                         [](const auto &info) {
                           return info.param < 0 ? "minus" + std::to_string(-info.param)
                                                 : std::to_string(info.param);
                         });

}  // namespace
}  // namespace qvtest
