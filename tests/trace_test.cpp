// The protocol trace read back: a session's events in their order, no
// password anywhere (the hex dump included), and a trace file that fails
// stops the trace without changing a result.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "xml_frames.h"

namespace qvtest {
namespace {

const Bytes kUdInfo = rec::make(107);
const char *const kSecret = "S3cr3tPw";

class TraceTest : public XmlTest {
 protected:
  void TearDown() override {
    TraceStop();
    XmlTest::TearDown();
    std::remove(path.c_str());
  }

  std::string read_trace() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  const std::string path =
      ::testing::TempDir() + "quorvex-trace-" + std::to_string(::getpid()) + ".log";
};

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The bytes that the hex dump shows as sent, in their order ("**" kept as '*').
std::string sent_bytes(const std::string &trace) {
  std::string bytes;
  for (const std::string &line : lines_of(trace)) {
    if (line.rfind("    > ", 0) != 0) continue;
    std::istringstream words(line.substr(6));
    std::string offset, word;
    words >> offset;
    for (int i = 0; i < 16 && words >> word && word.size() == 2; ++i)
      bytes += word == "**" ? '*' : static_cast<char>(std::stoi(word, nullptr, 16));
  }
  return bytes;
}

// A session started from the environment, as a host that cannot be changed
// gets it: its events come in the order they happened, each line stamped.
TEST_F(TraceTest, ASessionReadsBackInOrder) {
  dllUnInitialize();
  ::setenv("QUORVEX_TRACE", path.c_str(), 1);
  ASSERT_EQ(1, dllInitialize());
  ::unsetenv("QUORVEX_TRACE");
  server.on(0, logged_in().expect(kUdInfo).send(rec::make(900, "ud")).expect(kUdInfo).close());
  server.on(1, logged_in());
  server.on(2, fx::logged_in()
                   .expect(fx::header(10101, 0))
                   .send(fx::reply(fx::kSuccess, "<r><states>s</states></r>")));

  connect_and_login();
  int32_t code = kUnsetCode;
  MessageBuffer message;
  ParamBuffer p1, p2, p3;
  EXPECT_EQ(1, GetUdInfo(&code, message.get(), p1.get(), p2.get(), p3.get()));
  EXPECT_EQ(0, GetUdInfo(&code, message.get(), p1.get(), p2.get(), p3.get()));  // closed: relogs in
  ASSERT_EQ(1, TcpDisconnect());
  fx_connect_and_login();
  int32_t length = kUnsetCode;
  ASSERT_EQ(1, fxMsgStates_Req(&code, &length));
  EXPECT_EQ(1, fxMsgStates_Resp(message.get(), code, length));
  ASSERT_EQ(1, TraceStop());

  const std::vector<std::string> expected = {
      "trace started",
      "call TcpConnect",
      "connect record to 127.0.0.1:",
      "connected in ",
      "record > code 100 body(11) \"host-app;x1\" p1 \"demo\" p2 \"***\" p3 \"2.1\"",
      "record < code 900",
      "call GetUdInfo",
      "record > code 107",
      "record < code 900 body \"ud\"",
      "GetUdInfo returned 1",
      "record > code 107",
      "failed, may have been applied (the whole request was out): Connection Closed Gracefully.",
      "relogin: reconnecting with the saved settings",
      "connect record to 127.0.0.1:",
      "record > code 100",
      "relogin: logged in again, code 900",
      "GetUdInfo returned 0",
      "disconnect",
      "connect xml to 127.0.0.1:",
      "xml > code 10000 length ",
      "<pwd>***</pwd>",
      "xml < code 20900",
      "xml > code 10101 length 0",
      "xml < \"<r><states>s</states></r>\"",
      "fxMsgStates_Resp returned 1",
      "trace stopped",
  };
  const std::string trace = read_trace();
  size_t at = 0;
  for (const std::string &event : expected) {
    const size_t found = trace.find(event, at);
    ASSERT_NE(std::string::npos, found) << "missing after offset " << at << ": " << event << "\n"
                                        << trace;
    at = found + event.size();
  }
  for (const std::string &line : lines_of(trace)) {
    if (line.rfind("    ", 0) == 0) continue;  // a dump's continuation
    const size_t dot = line.find('.');
    EXPECT_TRUE(dot != std::string::npos && line.compare(dot + 7, 2, " t") == 0) << line;
  }
}

// Every export that carries a password, traced with the hex dump: the
// password appears nowhere, neither in an event nor among the bytes dumped.
TEST_F(TraceTest, PasswordsNeverReachTheTrace) {
  ASSERT_EQ(1, TraceStart(path.c_str(), QV_TRACE_HEX));
  Script first = Script().expect(rec::login(kApp, kExtra, kName, kSecret, kVer)).send(kAccepted);
  for (int i = 0; i < 5; ++i) first.expect(rec::kSize).send(kAccepted);  // password, sub-accounts
  server.on(0, std::move(first));
  server.on(1, Script().expect(rec::kSize).send(kAccepted));  // ReLogin
  server.on(2, fx::expect_login().send(fx::reply(fx::kSuccess, "<r/>")));
  server.on(3, fx::expect_login().send(fx::reply(fx::kSuccess, "<r/>")));  // fxReLogin

  connect_and_login(kSecret);
  int32_t code = kUnsetCode;
  MessageBuffer message;
  EXPECT_EQ(1, EditPassword(&code, message.get(), kSecret, kSecret));
  EXPECT_EQ(1, AddSubUser(&code, message.get(), "sub", kSecret, "name", ""));
  EXPECT_EQ(1, AddSubUserEx(&code, message.get(), "sub", kSecret, "name", ""));
  EXPECT_EQ(1, AddSubAccount(&code, message.get(), "sub", kSecret, "name", ""));
  EXPECT_EQ(1, EditSubPWD(&code, message.get(), "sub", kSecret, kSecret, kSecret));
  EXPECT_EQ(1, ReLogin());
  ASSERT_EQ(1, TcpDisconnect());
  ASSERT_EQ(gbk("TCP连接成功"), fx_connect());
  int32_t length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kApp, kExtra, kName, kSecret, kVer));
  EXPECT_EQ(1, fxReLogin());
  const RefusingPort proxy;
  EXPECT_EQ(0, TcpConnect(message.get(), "127.0.0.1", 1, 1000, "socks5", "127.0.0.1", proxy.port(),
                          "me", kSecret));
  ASSERT_EQ(1, TraceStop());

  const std::string trace = read_trace();
  EXPECT_EQ(std::string::npos, trace.find(kSecret)) << trace;
  const std::string sent = sent_bytes(trace);
  EXPECT_EQ(std::string::npos, sent.find(kSecret));
  // The dump is there, with the account name in the clear and masks for the rest.
  EXPECT_NE(std::string::npos, sent.find(std::string(kApp) + ";" + kExtra));
  EXPECT_NE(std::string::npos, sent.find("<pwd>********</pwd>"));
  EXPECT_NE(std::string::npos, trace.find("password \"***\""));
}

// A hex trace switched on and off by another thread while logins are being
// written: no dump ever goes out without its masks.  An XML login whose app
// and name hold "<pwd>" masks the password where the body put it.
TEST_F(TraceTest, MasksHoldWhileAnotherThreadSwitchesTheTrace) {
  constexpr int kLogins = 400;
  const char *const kTrickyApp = "<pwd>app</pwd>", *const kTrickyName = "n<pwd>";
  Script logins;
  for (int i = 0; i < kLogins; ++i)
    logins.expect(rec::login(kApp, kExtra, kName, kSecret, kVer)).send(kAccepted);
  server.on(0, std::move(logins));
  server.on(1, fx::expect_login().send(fx::reply(fx::kSuccess, "<r/>")));
  ASSERT_EQ(gbk("TCP连接成功"), connect_direct());

  std::atomic<bool> done{false};
  std::thread switcher([&] {
    for (int i = 0; !done; ++i) {
      TraceStart(path.c_str(), i % 3 ? QV_TRACE_HEX : 0);
      TraceStop();
    }
  });
  for (int i = 0; i < kLogins; ++i) ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kSecret, kVer));
  done = true;
  switcher.join();

  ASSERT_EQ(1, TcpDisconnect());
  ASSERT_EQ(gbk("TCP连接成功"), fx_connect());
  ASSERT_EQ(1, TraceStart(path.c_str(), QV_TRACE_HEX));
  int32_t code = kUnsetCode, length = kUnsetCode;
  ASSERT_EQ(1, fxLogin_Req(&code, &length, kTrickyApp, "", kTrickyName, kSecret, kVer));
  ASSERT_EQ(1, TraceStop());

  const std::string trace = read_trace();
  EXPECT_EQ(std::string::npos, trace.find(kSecret));
  EXPECT_EQ(std::string::npos, sent_bytes(trace).find(kSecret));
  EXPECT_NE(std::string::npos, trace.find(std::string("<app>") + kTrickyApp + "</app>"))
      << "the app is shown as sent";
}

// A trace file that cannot take more stops the trace; the calls go on with
// the results they have without it, and a new trace can start later.
TEST_F(TraceTest, AFailingTraceFileStopsTheTraceNotTheCall) {
  EXPECT_EQ(0, TraceStart(nullptr, 0));
  EXPECT_EQ(0, TraceStart("/nonexistent-dir/trace.log", 0));

  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{300, limit.rlim_max};
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
  server.on(0, logged_in().expect(kHeartbeat).send(kAccepted).expect(kHeartbeat).send(kAccepted));
  ASSERT_EQ(1, TraceStart(path.c_str(), QV_TRACE_HEX));
  connect_and_login();
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(1, Heartbeat());
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &limit));
  EXPECT_LE(read_trace().size(), 300u);
  EXPECT_EQ(1, TraceStart(path.c_str(), 0));
}

// The trace file is the owner's alone: a file it creates has mode 0600, one
// of the owner's alone is appended to, and a file that others may read or
// write, a path that is a symbolic link, a FIFO (which must not block the
// open, even from the environment) or a directory is refused with its
// reason, the file left as it was.
TEST_F(TraceTest, OpensOnlyARegularFileOfItsOwn) {
  namespace fs = std::filesystem;
  const fs::path dir = path + ".d";
  fs::create_directories(dir);
  std::ofstream(dir / "target", std::ios::binary) << "kept";
  fs::create_symlink(dir / "target", dir / "link");
  ASSERT_EQ(0, ::mkfifo((dir / "fifo").c_str(), 0600));
  fs::create_directory(dir / "directory");
  const mode_t mask = ::umask(0);
  for (const char *name : {"own", "shared", "group"}) std::ofstream(dir / name) << "kept\n";
  fs::permissions(dir / "own", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir / "shared", fs::perms(0644));
  fs::permissions(dir / "group", fs::perms(0620));
  const struct {
    const char *name;
    const char *refusal;  // empty: accepted
  } rows[] = {
      {"new", ""},
      {"own", ""},
      {"shared",
       "The trace file exists and others may read or write it (mode 0644): make it its "
       "owner's alone (chmod 600) or remove it."},
      {"group",
       "The trace file exists and others may read or write it (mode 0620): make it its "
       "owner's alone (chmod 600) or remove it."},
      {"link", "The trace file's path is a symbolic link."},
      {"fifo", "The trace file's path is not a regular file."},
      {"directory", "The trace file's path is not a regular file."},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string at = (dir / row.name).string();
    const bool started = TraceStart(at.c_str(), 0) != 0;
    int32_t outcome = -1;
    char detail[QV_DETAIL_BUFFER_SIZE] = {};
    GetLastOutcome(&outcome, nullptr, nullptr, nullptr, detail, sizeof detail);
    TraceStop();
    if (!*row.refusal) {
      EXPECT_TRUE(started);
      struct stat st {};
      ASSERT_EQ(0, ::stat(at.c_str(), &st));
      EXPECT_EQ(0600u, st.st_mode & 0777u);
      continue;
    }
    EXPECT_FALSE(started);
    EXPECT_EQ(QV_OUTCOME_FAILED, outcome);
    EXPECT_STREQ(row.refusal, detail);
    // From the environment: initialising goes on without a trace.
    ASSERT_EQ(1, dllUnInitialize());
    ::setenv("QUORVEX_TRACE", at.c_str(), 1);
    EXPECT_EQ(1, dllInitialize());
    ::unsetenv("QUORVEX_TRACE");
  }
  ::umask(mask);
  std::ifstream target(dir / "target", std::ios::binary);
  EXPECT_EQ("kept", std::string(std::istreambuf_iterator<char>(target), {}));
  std::ifstream own(dir / "own"), shared(dir / "shared");
  EXPECT_EQ(0u, std::string(std::istreambuf_iterator<char>(own), {}).find("kept\n"))
      << "appended to";
  EXPECT_EQ("kept\n", std::string(std::istreambuf_iterator<char>(shared), {}));
  EXPECT_EQ(fs::perms(0644), fs::status(dir / "shared").permissions());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qvtest
