// What the host can learn after a call: one row per kind of outcome, each
// driven once through the exports against the loopback server, checking
// the last outcome, the relogin that followed and the connection's state.
#include <functional>
#include <string>
#include <thread>

#include "xml_frames.h"

namespace qvtest {
namespace {

const Bytes kUdInfo = rec::make(107);

// What the three queries say after a row's call; a row names only what
// differs from nothing sent, refused, run or open.
struct Expected {
  qv_bool result = 0;
  int32_t outcome = QV_OUTCOME_OK;
  int32_t sent = 0;
  int32_t argument = 0;
  int32_t socket_error = 0;
  const char *detail = "";  // a part of the detail text; "" for an empty one
  int32_t relogin = QV_RELOGIN_NOT_RUN;
  int32_t relogin_code = -1;
  int32_t state = 0;
  int32_t path = QV_PATH_NONE;
  int32_t login_protocol = QV_PROTOCOL_NONE;
  int32_t login_code = -1;
};

class OutcomeTest;

struct Row {
  const char *name;
  std::function<qv_bool(OutcomeTest &)> run;
  Expected want;
};

// The fixture's members, for the rows.
class OutcomeTest : public XmlTest, public ::testing::WithParamInterface<Row> {
 public:
  LoopbackServer &peer() { return server; }
  void login() { connect_and_login(); }
  void fx_login() { fx_connect_and_login(); }
};

qv_bool ud_info() {
  int32_t code = kUnsetCode;
  MessageBuffer message;
  ParamBuffer p1, p2, p3;
  return GetUdInfo(&code, message.get(), p1.get(), p2.get(), p3.get());
}

constexpr int32_t kAll = QV_STATE_INITIALISED | QV_STATE_CONNECTED | QV_STATE_LOGGED_IN;
constexpr int32_t kOpen = QV_STATE_INITIALISED | QV_STATE_CONNECTED;

const Row kRows[] = {
    {"Answered",
     [](OutcomeTest &t) {
       t.peer().on(0, logged_in().expect(kUdInfo).send(rec::make(900, "ud")));
       t.login();
       return ud_info();
     },
     {.result = 1,
      .sent = 1,
      .state = kAll,
      .path = QV_PATH_DIRECT,
      .login_protocol = QV_PROTOCOL_RECORD,
      .login_code = 900}},
    {"NullMessageIsRefused",
     [](OutcomeTest &t) {
       t.peer().on(0, logged_in());
       t.login();
       int32_t code = kUnsetCode;
       ParamBuffer p1, p2, p3;
       return GetUdInfo(&code, nullptr, p1.get(), p2.get(), p3.get());
     },
     {.outcome = QV_OUTCOME_REFUSED,
      .argument = 2,
      .detail = "null pointer",
      .state = kAll,
      .path = QV_PATH_DIRECT,
      .login_protocol = QV_PROTOCOL_RECORD,
      .login_code = 900}},
    {"TooLongTextIsRefused",
     [](OutcomeTest &) {
       int32_t code = kUnsetCode;
       MessageBuffer message;
       const std::string content(QV_BODY_MAX_TEXT + 1, 'c');
       return SubmitContent(&code, message.get(), content.c_str());
     },
     {.outcome = QV_OUTCOME_REFUSED,
      .argument = 3,
      .detail = "longer than",
      .state = QV_STATE_INITIALISED}},
    {"BeforeInitialisation",
     [](OutcomeTest &) {
       dllUnInitialize();
       return ud_info();
     },
     {.outcome = QV_OUTCOME_NOT_INITIALISED,
      .socket_error = 10093,
      .detail = "Not Connected",
      .relogin = QV_RELOGIN_CONNECT_FAILED}},
    {"NeverConnected",
     [](OutcomeTest &) { return Heartbeat(); },
     {.outcome = QV_OUTCOME_NOT_CONNECTED,
      .socket_error = 10057,
      .detail = "Not Connected",
      .relogin = QV_RELOGIN_CONNECT_FAILED,
      .state = QV_STATE_INITIALISED}},
    {"ConnectRefused",
     [](OutcomeTest &) {
       MessageBuffer message;
       const RefusingPort refusing;
       return TcpConnect(message.get(), "127.0.0.1", refusing.port(), 2000, "", "", 0, "", "");
     },
     {.outcome = QV_OUTCOME_CONNECT_FAILED,
      .socket_error = 10061,
      .detail = "Connection refused.",
      .state = QV_STATE_INITIALISED}},
    // A failed connect over an open, logged-in connection: that connection
    // and its login are gone.
    {"ConnectOverALoginFails",
     [](OutcomeTest &t) {
       t.peer().on(0, logged_in());
       t.login();
       MessageBuffer message;
       const RefusingPort refusing;
       return TcpConnect(message.get(), "127.0.0.1", refusing.port(), 2000, "", "", 0, "", "");
     },
     {.outcome = QV_OUTCOME_CONNECT_FAILED,
      .socket_error = 10061,
      .detail = "Connection refused.",
      .state = QV_STATE_INITIALISED}},
    // An extra record behind the login's answer is found before the next
    // request goes out: the server cannot have that request.
    {"UnsentAfterUnrequestedData",
     [](OutcomeTest &t) {
       t.peer().on(0, Script().expect(kLoginRecord).send_at_once({kAccepted, kAccepted}));
       t.peer().on(1, logged_in());
       t.login();
       return ud_info();
     },
     {.outcome = QV_OUTCOME_NOT_SENT,
      .detail = "Unrequested data",
      .relogin = QV_RELOGIN_LOGGED_IN,
      .relogin_code = 900,
      .state = kAll,
      .path = QV_PATH_DIRECT,
      .login_protocol = QV_PROTOCOL_RECORD,
      .login_code = 900}},
    // The server reads the whole request and closes without answering; the
    // relogin's login is then refused.
    {"MaybeAppliedThenReloginRefused",
     [](OutcomeTest &t) {
       t.peer().on(0, logged_in().expect(kUdInfo).close());
       t.peer().on(1, Script().expect(kLoginRecord).send(rec::make(901)));
       t.login();
       return ud_info();
     },
     {.outcome = QV_OUTCOME_MAYBE_APPLIED,
      .sent = 1,
      .detail = "Closed Gracefully",
      .relogin = QV_RELOGIN_REFUSED,
      .relogin_code = 901,
      .state = kOpen,
      .path = QV_PATH_DIRECT,
      .login_protocol = QV_PROTOCOL_RECORD,
      .login_code = 901}},
    {"TimedOutAfterTheRequestThenReloginFails",
     [](OutcomeTest &t) {
       t.peer().on(0, logged_in().expect(kUdInfo).stall());
       t.peer().on(1, Script().close());
       t.login();
       SetReadTimeout(200);
       return ud_info();
     },
     {.outcome = QV_OUTCOME_TIMED_OUT,
      .sent = 1,
      .socket_error = 10060,
      .detail = "Read timed out.",
      .relogin = QV_RELOGIN_FAILED,
      .state = QV_STATE_INITIALISED}},
    {"ExplicitReLoginLogsIn",
     [](OutcomeTest &t) {
       t.peer().on(0, logged_in());
       t.peer().on(1, logged_in());
       t.login();
       return ReLogin();
     },
     {.result = 1,
      .relogin = QV_RELOGIN_LOGGED_IN,
      .relogin_code = 900,
      .state = kAll,
      .path = QV_PATH_DIRECT,
      .login_protocol = QV_PROTOCOL_RECORD,
      .login_code = 900}},
    {"XmlPairAnswered",
     [](OutcomeTest &t) {
       t.peer().on(0, fx::logged_in());
       t.fx_login();
       return qv_bool{1};
     },
     {.result = 1,
      .state = kAll,
      .path = QV_PATH_DIRECT,
      .login_protocol = QV_PROTOCOL_XML,
      .login_code = fx::kSuccess}},
    {"XmlResponseWithoutItsRequest",
     [](OutcomeTest &t) {
       t.peer().on(0, fx::logged_in());
       t.fx_login();
       MessageBuffer message;
       return fxNotify_Resp(message.get(), fx::kSuccess, 10);
     },
     {.outcome = QV_OUTCOME_REFUSED,
      .detail = "No reply",
      .state = kAll,
      .path = QV_PATH_DIRECT,
      .login_protocol = QV_PROTOCOL_XML,
      .login_code = fx::kSuccess}},
};

TEST_P(OutcomeTest, TellsWhatHappened) {
  const Row &row = GetParam();
  const qv_bool result = row.run(*this);
  int32_t outcome = kUnsetCode, sent = kUnsetCode, argument = kUnsetCode, error = kUnsetCode;
  char detail[QV_DETAIL_BUFFER_SIZE];
  ASSERT_EQ(1, GetLastOutcome(&outcome, &sent, &argument, &error, detail, sizeof detail));
  int32_t relogin = kUnsetCode, relogin_code = kUnsetCode;
  ASSERT_EQ(1, GetLastRelogin(&relogin, &relogin_code, nullptr, nullptr, 0));
  int32_t state = kUnsetCode, path = kUnsetCode, protocol = kUnsetCode, login_code = kUnsetCode;
  ASSERT_EQ(1, GetConnectionState(&state, &path, &protocol, &login_code));

  const Expected &w = row.want;
  EXPECT_EQ(w.result, result);
  EXPECT_EQ(w.outcome, outcome);
  EXPECT_EQ(w.sent, sent);
  EXPECT_EQ(w.argument, argument);
  EXPECT_EQ(w.socket_error, error);
  if (*w.detail)
    EXPECT_NE(std::string::npos, std::string(detail).find(w.detail)) << detail;
  else
    EXPECT_STREQ("", detail);
  EXPECT_EQ(w.relogin, relogin);
  EXPECT_EQ(w.relogin_code, relogin_code);
  EXPECT_EQ(w.state, state);
  EXPECT_EQ(w.path, path);
  EXPECT_EQ(w.login_protocol, protocol);
  EXPECT_EQ(w.login_code, login_code);

  // The queries read only: asking again gives the same answer.
  int32_t again = kUnsetCode;
  GetLastOutcome(&again, nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(outcome, again);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, OutcomeTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row> &info) {
                           return std::string(info.param.name);
                         });

// A Detail buffer smaller than the text gets a cut text with its terminator,
// and nothing past its size.
TEST_F(XmlTest, DetailIsCutToTheCallersSize) {
  EXPECT_EQ(0, Heartbeat());
  OutBuffer<6> detail;
  ASSERT_EQ(1, GetLastOutcome(nullptr, nullptr, nullptr, nullptr, detail.get(), 6));
  EXPECT_EQ("Not C", detail.text());
  EXPECT_TRUE(detail.guard_intact());
}

// Each thread reads its own call's outcome.
TEST_F(XmlTest, OutcomeBelongsToTheCallingThread) {
  ASSERT_EQ(1, SetReadTimeout(kTestReadTimeoutMs));
  int32_t other = kUnsetCode;
  std::thread([&] {
    EXPECT_EQ(0, Heartbeat());
    GetLastOutcome(&other, nullptr, nullptr, nullptr, nullptr, 0);
  }).join();
  int32_t own = kUnsetCode;
  GetLastOutcome(&own, nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(QV_OUTCOME_NOT_CONNECTED, other);
  EXPECT_EQ(QV_OUTCOME_OK, own);
}

}  // namespace
}  // namespace qvtest
