// The fault matrix: a server that closes after every byte offset of a
// response, that resets the connection, or that falls silent past the read
// time-out, on both protocols; and proxies that die at every step of their
// handshake.  Each time the export fails with its own message, the relogin
// runs exactly once (one new connection, one login on it), the next call
// works on the new connection, and no descriptor or thread is left behind.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "xml_frames.h"

namespace qvtest {
namespace {

// ------------------------------------------------------------ process resources

// Open descriptors and threads of this process, from /proc.
struct Resources {
  size_t descriptors = 0;
  size_t threads = 0;

  static Resources now() {
    Resources r;
    if (DIR *dir = ::opendir("/proc/self/fd")) {
      while (const dirent *entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ++r.descriptors;
      ::closedir(dir);
      --r.descriptors;  // the directory's own
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("Threads:", 0) == 0) r.threads = std::stoul(line.substr(8));
    return r;
  }
};

::testing::AssertionResult nothing_left_behind(const Resources &before) {
  const Resources after = Resources::now();
  if (after.descriptors == before.descriptors && after.threads == before.threads)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "descriptors " << before.descriptors << " -> " << after.descriptors << ", threads "
         << before.threads << " -> " << after.threads;
}

// ------------------------------------------------------------ faults

enum class Ending { Close, Reset, Stall };

// The server sends the first `offset` bytes of the answer, then ends so.
struct Fault {
  Ending ending;
  size_t offset;
};

std::string describe(const Fault &f) {
  const char *how = f.ending == Ending::Close   ? "close"
                    : f.ending == Ending::Reset ? "reset"
                                                : "stall";
  return std::string(how) + " after " + std::to_string(f.offset) + " bytes of the answer";
}

std::vector<Fault> every_offset(Ending ending, size_t from, size_t to) {
  std::vector<Fault> faults;
  for (size_t offset = from; offset < to; ++offset) faults.push_back({ending, offset});
  return faults;
}

std::vector<Fault> at(Ending ending, std::initializer_list<size_t> offsets) {
  std::vector<Fault> faults;
  for (size_t offset : offsets) faults.push_back({ending, offset});
  return faults;
}

// ------------------------------------------------------------ the exchange under test

// One protocol's exchange, seen from both ends: what a fresh connection
// receives first (the login, accepted), the request and its whole answer,
// and what the caller must see when the exchange works or breaks.
struct Exchange {
  std::function<Script()> opening;
  std::function<bool(const Bytes &)> is_login;  // the first capture of a connection
  Bytes request;
  Bytes answer;
  std::function<void(uint16_t)> connect_and_login;
  std::function<void()> expect_success;
  std::function<void(const Fault &)> expect_failure;
  std::function<void()> disconnect;
};

// Long enough that a working exchange never meets it on a busy machine; the
// short one is for the stalls alone.
constexpr int32_t kReadTimeoutMs = 2000;
constexpr int32_t kStallTimeoutMs = 150;

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    gbk("");  // loads the converter before the resources are counted
    ASSERT_EQ(1, dllInitialize());
    ASSERT_EQ(1, SetReadTimeout(kReadTimeoutMs));
    before_ = Resources::now();
  }
  void TearDown() override { dllUnInitialize(); }

  // Connection j of a server opens with the login, runs the exchange once
  // (the call that must work) and breaks the second one with fault j; the
  // connection after the last fault runs the exchange once more.  A fresh
  // server takes every kPerServer faults, so that no server piles up
  // thousands of finished connections.
  void run(const Exchange &ex, const std::vector<Fault> &faults) {
    constexpr size_t kPerServer = 256;
    for (size_t first = 0; first < faults.size(); first += kPerServer) {
      const size_t count = std::min(kPerServer, faults.size() - first);
      LoopbackServer server;
      for (size_t j = 0; j <= count; ++j) {
        Script script = ex.opening();
        script.expect(ex.request).send(ex.answer);
        if (j < count) {
          const Fault &f = faults[first + j];
          script.expect(ex.request).send(ex.answer.substr(0, f.offset));
          if (f.ending == Ending::Close) script.close();
          if (f.ending == Ending::Reset) script.reset();
          if (f.ending == Ending::Stall) script.stall();
        }
        server.on(j, script);
      }
      ex.connect_and_login(server.port());
      if (HasFatalFailure()) return;
      for (size_t j = 0; j < count; ++j) {
        const Fault &f = faults[first + j];
        SCOPED_TRACE(describe(f));
        ex.expect_success();
        // Only the broken exchange and its relogin run on the short
        // time-out, so a busy machine does not fail the calls around it.
        SetReadTimeout(f.ending == Ending::Stall ? kStallTimeoutMs : kReadTimeoutMs);
        ex.expect_failure(f);
        SetReadTimeout(kReadTimeoutMs);
        // The relogin reached exactly one new connection and sent one login
        // there: a second record would have broken its script.
        EXPECT_EQ(j + 2, server.accepted()) << "connections after the relogin";
        EXPECT_TRUE(ex.is_login(server.captured(j + 1, 0)));
        EXPECT_EQ("", server.problems());
        if (HasFailure()) {
          ADD_FAILURE() << "first failing fault: " << describe(f);
          return;
        }
      }
      ex.expect_success();
      ex.disconnect();
      EXPECT_EQ("", server.unfinished());
      EXPECT_EQ("", server.problems());
      EXPECT_EQ(count + 1, server.accepted());
    }
  }

  Resources before_;
};

// ------------------------------------------------------------ record protocol

// Every text field of the answer full to its last byte, so that a handover
// from a part of the record would show in the outputs.
const Bytes kRecordBody = [] {
  Bytes body;
  while (body.size() < rec::kBodySize) body += "answer of the limit query; ";
  return body.substr(0, rec::kBodySize);
}();
const Bytes kRecordAnswer = rec::make(
    {QV_CODE_ACCEPTED, kRecordBody, 2048, Bytes(20, 'P'), Bytes(20, 'Q'), Bytes(20, 'R')});
const Bytes kMmsRequest = rec::make(104, "image/jpeg", "640x480");
const Bytes kMmsFailed = gbk("查询服务器端限定的彩信的大小失败!");

Exchange record_exchange() {
  Exchange ex;
  ex.opening = logged_in;
  ex.is_login = [](const Bytes &b) { return b == kLoginRecord; };
  ex.request = kMmsRequest;
  ex.answer = kRecordAnswer;
  ex.connect_and_login = [](uint16_t port) {
    MessageBuffer message;
    ASSERT_EQ(1, TcpConnect(message.get(), "127.0.0.1", port, 2000, "", "", 0, "", ""));
    ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
    int32_t code = kUnsetCode;
    ParamBuffer p1, p2, p3;
    ASSERT_EQ(1, Login_Feedback(&code, message.get(), p1.get(), p2.get(), p3.get()));
    ASSERT_EQ(QV_CODE_ACCEPTED, code);
  };
  ex.expect_success = [] {
    int32_t code = kUnsetCode;
    MessageBuffer message;
    ParamBuffer param;
    EXPECT_EQ(1, MMSMaxSize(&code, message.get(), param.get(), "image/jpeg", "640x480"));
    EXPECT_EQ(QV_CODE_ACCEPTED, code);
    EXPECT_EQ(kRecordBody, message.text());
    EXPECT_EQ(Bytes(20, 'P'), param.text());
  };
  ex.expect_failure = [](const Fault &f) {
    int32_t code = kUnsetCode;
    MessageBuffer message;
    ParamBuffer param;
    const long took = elapsed_ms([&] {
      EXPECT_EQ(0, MMSMaxSize(&code, message.get(), param.get(), "image/jpeg", "640x480"));
    });
    EXPECT_EQ(-1, code);
    EXPECT_EQ(kMmsFailed, message.text());
    EXPECT_TRUE(message.guard_intact());
    EXPECT_TRUE(param.untouched());
    if (f.ending == Ending::Stall) {
      EXPECT_GE(took, kStallTimeoutMs - 10);
    }
  };
  ex.disconnect = [] { EXPECT_EQ(1, TcpDisconnect()); };
  return ex;
}

TEST_F(FaultMatrix, RecordCloseAfterEveryByteOfTheAnswer) {
  run(record_exchange(), every_offset(Ending::Close, 0, rec::kSize));
  EXPECT_TRUE(nothing_left_behind(before_));
}

// Before, inside and at the end of each field.
TEST_F(FaultMatrix, RecordResetAtAFewOffsets) {
  run(record_exchange(), at(Ending::Reset, {0, 1, 3, 4, 1000, 2052, 2056, 2115}));
  EXPECT_TRUE(nothing_left_behind(before_));
}

TEST_F(FaultMatrix, RecordStallPastTheReadTimeOut) {
  run(record_exchange(), at(Ending::Stall, {0, 1058, 2115}));
  EXPECT_TRUE(nothing_left_behind(before_));
}

// A release wakes any call blocked on the connection and asks it not to
// relog in; a host that initialises again must get its relogins back.
TEST_F(FaultMatrix, RecordFailureRelogsInAfterTheLibraryIsInitialisedAgain) {
  LoopbackServer server;
  server.on(0, logged_in());
  server.on(1, logged_in().expect(kMmsRequest).close());
  server.on(2, logged_in().expect(kMmsRequest).send(kRecordAnswer));
  const Exchange ex = record_exchange();
  ex.connect_and_login(server.port());
  ASSERT_EQ(1, dllUnInitialize());
  ASSERT_EQ(1, dllInitialize());
  ex.connect_and_login(server.port());
  ex.expect_failure({Ending::Close, 0});
  EXPECT_EQ(3u, server.accepted());
  ex.expect_success();
  ex.disconnect();
  EXPECT_EQ("", server.unfinished());
  EXPECT_EQ("", server.problems());
}

// ------------------------------------------------------------ XML protocol

constexpr int32_t kMsgStatesCode = 10101;
const Bytes kStates = "1:sent;2:delivered;3:failed";

// The query's reply with `padding` bytes before the element that is taken.
Bytes states_reply(size_t padding) {
  const Bytes pad = padding ? "<pad>" + Bytes(padding, 'p') + "</pad>" : "";
  return fx::reply(fx::kSuccess, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><reply>" + pad +
                                     "<states>" + kStates + "</states></reply>");
}

// A cut inside the header fails the request export, with -1 and a relogin;
// a cut inside the body fails the response export with its message and a
// relogin.  The failing export is the only one to relog in.
Exchange xml_exchange(Bytes answer) {
  Exchange ex;
  ex.opening = [] { return fx::logged_in(); };
  ex.is_login = [](const Bytes &b) { return bool(fx::is_login(b, kApp, kVer, kName, kPwd)); };
  ex.request = fx::header(kMsgStatesCode, 0);
  ex.answer = answer;
  ex.connect_and_login = [](uint16_t port) {
    MessageBuffer message;
    ASSERT_EQ(1, fxTcpConnect(message.get(), "127.0.0.1", port, 2000, "", "", 0, "", ""));
    int32_t code = kUnsetCode, length = kUnsetCode;
    ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kPwd, kVer));
    ASSERT_EQ(fx::kSuccess, code);
    LoginOutputs out;
    ASSERT_EQ(1, login_resp(out, code, length));
  };
  const auto body_length = static_cast<int32_t>(answer.size() - fx::kHeaderSize);
  ex.expect_success = [body_length] {
    int32_t code = kUnsetCode, length = kUnsetCode;
    MessageBuffer message;
    ASSERT_EQ(1, fxMsgStates_Req(&code, &length));
    EXPECT_EQ(fx::kSuccess, code);
    EXPECT_EQ(body_length, length);
    EXPECT_EQ(1, fxMsgStates_Resp(message.get(), code, length));
    EXPECT_EQ(kStates, message.text());
  };
  ex.expect_failure = [body_length](const Fault &f) {
    int32_t code = kUnsetCode, length = kUnsetCode;
    MessageBuffer message;
    long took = 0;
    if (f.offset < fx::kHeaderSize) {
      took = elapsed_ms([&] { EXPECT_EQ(0, fxMsgStates_Req(&code, &length)); });
      EXPECT_EQ(-1, code);
      EXPECT_EQ(kUnsetCode, length);
    } else {
      // The request half reads the body too: the wait falls in it.
      took = elapsed_ms([&] { ASSERT_EQ(1, fxMsgStates_Req(&code, &length)); });
      ASSERT_EQ(body_length, length);
      EXPECT_EQ(0, fxMsgStates_Resp(message.get(), code, length));
      EXPECT_EQ(gbk("读取反馈信息异常失败！"), message.text());
    }
    if (f.ending == Ending::Stall) {
      EXPECT_GE(took, kStallTimeoutMs - 10);
    }
  };
  ex.disconnect = [] { EXPECT_EQ(1, fxTcpDisconnect()); };
  return ex;
}

TEST_F(FaultMatrix, XmlCloseAfterEveryByteOfAReply) {
  const Bytes reply = states_reply(0);
  run(xml_exchange(reply), every_offset(Ending::Close, 0, reply.size()));
  EXPECT_TRUE(nothing_left_behind(before_));
}

// A body larger than the reader's buffer, cut around the buffer's edges.
TEST_F(FaultMatrix, XmlCloseInsideALargeBody) {
  const Bytes reply = states_reply(100000);
  run(xml_exchange(reply), at(Ending::Close, {16, 17, 1000, 32767, 32768, 32769, 65535, 65536,
                                              65537, reply.size() - 1}));
  EXPECT_TRUE(nothing_left_behind(before_));
}

TEST_F(FaultMatrix, XmlResetAtAFewOffsets) {
  const Bytes reply = states_reply(0);
  run(xml_exchange(reply), at(Ending::Reset, {0, 4, 15, 16, 40, reply.size() - 1}));
  EXPECT_TRUE(nothing_left_behind(before_));
}

TEST_F(FaultMatrix, XmlStallPastTheReadTimeOut) {
  const Bytes reply = states_reply(0);
  run(xml_exchange(reply), at(Ending::Stall, {0, 8, 16, reply.size() - 1}));
  EXPECT_TRUE(nothing_left_behind(before_));
}

// ------------------------------------------------------------ proxies

// The server the tests ask the proxy for; a scripted proxy connects nowhere.
constexpr const char *kTargetHost = "10.1.2.3";
constexpr int32_t kTargetPort = 0x1234;

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

const Bytes kSocks4Request = bytes({4, 1, 0x12, 0x34, 10, 1, 2, 3, 0});
const Bytes kSocks4Granted = bytes({0, 90, 0, 0, 0, 0, 0, 0});
const Bytes kGreeting = bytes({5, 1, 0});
const Bytes kNoAuthentication = bytes({5, 0});
const Bytes kSocks5Request = bytes({5, 1, 0, 3, 8}) + "10.1.2.3" + bytes({0x12, 0x34});
const Bytes kSocks5Granted = bytes({5, 0, 0, 1, 192, 0, 2, 1, 0x1f, 0x90});
const Bytes kConnectLine = "CONNECT 10.1.2.3:4660 HTTP/1.1\r\n\r\n";
const Bytes kHttpOk = "HTTP/1.1 200 Connection established\r\nVia: scripted\r\n\r\n";

const char *const kClosed = "Connection Closed Gracefully.";
const char *const kReset = "Socket Error # 10054\r\nConnection reset by peer.";
const char *const kSilent = "Socks server did not respond.";

struct ProxyStep {
  const char *name;
  const char *kind;
  Script dies;
  // Texts after the path's prefix that the connect may report: a proxy that
  // hangs up before reading the request races the request to the wire.
  std::vector<const char *> texts;
};

void PrintTo(const ProxyStep &s, std::ostream *os) { *os << s.name; }

Script proxy_opening(const std::string &kind) {
  if (kind == "socks4") return Script().expect(kSocks4Request).send(kSocks4Granted);
  if (kind == "socks5")
    return Script()
        .expect(kGreeting)
        .send(kNoAuthentication)
        .expect(kSocks5Request)
        .send(kSocks5Granted);
  return Script().expect(kConnectLine).send(kHttpOk);
}

std::vector<ProxyStep> proxy_steps() {
  return {
      {"Socks4BeforeTheRequest", "socks4", Script().close(), {kClosed, kReset}},
      {"Socks4AfterTheRequest", "socks4", Script().expect(kSocks4Request).close(), {kClosed}},
      {"Socks4MidReply",
       "socks4",
       Script().expect(kSocks4Request).send(bytes({0, 90, 0})).close(),
       {kClosed}},
      {"Socks4ResetMidReply",
       "socks4",
       Script().expect(kSocks4Request).send(bytes({0, 90})).reset(),
       {kReset}},
      {"Socks5BeforeTheGreeting", "socks5", Script().close(), {kSilent}},
      {"Socks5AfterTheGreeting", "socks5", Script().expect(kGreeting).close(), {kSilent}},
      {"Socks5MidMethod", "socks5", Script().expect(kGreeting).send(bytes({5})).close(), {kSilent}},
      {"Socks5BeforeTheRequest",
       "socks5",
       Script().expect(kGreeting).send(kNoAuthentication).close(),
       {kSilent}},
      {"Socks5AfterTheRequest",
       "socks5",
       Script().expect(kGreeting).send(kNoAuthentication).expect(kSocks5Request).close(),
       {kSilent}},
      {"Socks5MidReplyHead",
       "socks5",
       Script()
           .expect(kGreeting)
           .send(kNoAuthentication)
           .expect(kSocks5Request)
           .send(bytes({5, 0}))
           .close(),
       {kSilent}},
      {"Socks5MidBoundAddress",
       "socks5",
       Script()
           .expect(kGreeting)
           .send(kNoAuthentication)
           .expect(kSocks5Request)
           .send(bytes({5, 0, 0, 1, 192, 0}))
           .close(),
       {kSilent}},
      {"Socks5ResetMidReply",
       "socks5",
       Script()
           .expect(kGreeting)
           .send(kNoAuthentication)
           .expect(kSocks5Request)
           .send(bytes({5, 0, 0}))
           .reset(),
       {kSilent}},
      {"HttpBeforeTheRequest", "http", Script().close(), {kClosed, kReset}},
      {"HttpAfterTheRequest", "http", Script().expect(kConnectLine).close(), {kClosed}},
      {"HttpMidStatusLine",
       "http",
       Script().expect(kConnectLine).send("HTTP/1.1 20").close(),
       {kClosed}},
      {"HttpMidHeader",
       "http",
       Script().expect(kConnectLine).send("HTTP/1.1 200 OK\r\nVia: scr").close(),
       {kClosed}},
      {"HttpResetMidHeader",
       "http",
       Script().expect(kConnectLine).send("HTTP/1.1 200 OK\r\n").reset(),
       {kReset}},
  };
}

class ProxyHandshakeFault : public FaultMatrix, public ::testing::WithParamInterface<ProxyStep> {
 protected:
  // Made after the resources are counted, and destroyed before they are
  // counted again, which joins its threads.
  void SetUp() override {
    FaultMatrix::SetUp();
    proxy_ = std::make_unique<LoopbackServer>();
  }
  qv_bool connect_through(MessageBuffer &message) {
    return TcpConnect(message.get(), kTargetHost, kTargetPort, 2000, GetParam().kind, "127.0.0.1",
                      proxy_->port(), "", "password");
  }
  std::unique_ptr<LoopbackServer> proxy_;
};

// The relogin after a dropped connection meets the dying proxy: the call
// fails once, without a second attempt.  A connect of the host's own meets
// it too and reports the step's error.  The saved connect is still the one
// through the proxy: ReLogin goes back through it and the connection works.
TEST_P(ProxyHandshakeFault, FailsTheConnectAndReLoginGoesBackThroughTheProxy) {
  const ProxyStep &step = GetParam();
  LoopbackServer &proxy = *proxy_;
  const std::string prefix = gbk(std::string(step.kind) == "http" ? "通过http代理服务器调用异常:"
                                                                  : "通过socks代理服务器调用异常:");
  proxy.on(
      0, proxy_opening(step.kind).expect(kLoginRecord).send(kAccepted).expect(kHeartbeat).close());
  proxy.on(1, step.dies);
  proxy.on(2, step.dies);
  proxy.on(3, proxy_opening(step.kind)
                  .expect(kLoginRecord)
                  .send(kAccepted)
                  .expect(kHeartbeat)
                  .send(kAccepted));

  MessageBuffer message;
  ASSERT_EQ(1, connect_through(message));
  ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
  int32_t code = kUnsetCode;
  ParamBuffer p1, p2, p3;
  ASSERT_EQ(1, Login_Feedback(&code, message.get(), p1.get(), p2.get(), p3.get()));

  EXPECT_EQ(0, Heartbeat());
  EXPECT_EQ(2u, proxy.accepted());
  EXPECT_TRUE(proxy.wait_closed(1));

  MessageBuffer failed;
  EXPECT_EQ(0, connect_through(failed));
  const std::string text = failed.text();
  EXPECT_TRUE(std::any_of(step.texts.begin(), step.texts.end(), [&](const char *t) {
    return text == prefix + t;
  })) << text;
  EXPECT_EQ(3u, proxy.accepted());

  EXPECT_EQ(1, ReLogin());
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(4u, proxy.accepted());
  EXPECT_EQ(1, TcpDisconnect());
  EXPECT_TRUE(proxy.wait_closed(3));
  EXPECT_EQ("", proxy.unfinished());
  EXPECT_EQ("", proxy.problems());
  proxy_.reset();
  EXPECT_TRUE(nothing_left_behind(before_));
}

INSTANTIATE_TEST_SUITE_P(Steps, ProxyHandshakeFault, ::testing::ValuesIn(proxy_steps()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvtest
