// The Windows DLL under Wine, for each width that QV_WINE_DIR names (the
// folder of that width's Quorvex.dll and hosts).  A Windows host program
// (win_host.exe, built with mingw beside Quorvex.dll) loads the DLL with
// LoadLibrary and runs steps; the scripted servers run here on the Linux
// side of loopback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gbk.h"
#include "loopback_server.h"
#include "missing.h"
#include "net_targets.h"
#include "record_bytes.h"
#ifdef QV_WITH_SIMULATOR
#include "simulator.h"
#endif
#include "xvfb.h"

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

std::string hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// The folder of the DLL and its hosts under test; empty when not given.
std::string wine_dir() {
  const char *dir = std::getenv("QV_WINE_DIR");
  return dir ? dir : "";
}

// An argument that survives the command line whatever its bytes.
std::string x(const std::string &bytes) { return "x:" + hex(bytes); }

// One printed step: "name result key=value ...".
struct Step {
  int result = -1;
  std::map<std::string, std::string> fields;
  std::string operator[](const std::string &k) const {
    auto it = fields.find(k);
    return it == fields.end() ? std::string("<absent>") : it->second;
  }
};

class WineHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(wine_dir(), "")
        << "QV_WINE_DIR names the folder of the Windows build's DLL and hosts";
    ASSERT_TRUE(fs::exists(wine_dir() + "/win_host.exe"))
        << "the Windows build is missing from " << wine_dir();
  }

  // Runs the steps in dir (the DLL's folder unless given) and parses the
  // output: one entry per step name, the last one winning.
  std::map<std::string, Step> run(const std::vector<std::vector<std::string>> &steps,
                                  const std::string &dir = wine_dir()) {
    // Windows with a display run on a virtual desktop of their own: the
    // prefix's shared default desktop belongs to whichever process came
    // first, possibly one without a display.
    static int desktops = 0;
    const std::string desktop = display_.empty()
                                    ? ""
                                    : "explorer /desktop=qv" + std::to_string(::getpid()) + "-" +
                                          std::to_string(++desktops) + ",1024x768 ";
    std::string command = "cd '" + dir + "' && " +
                          (display_.empty() ? "" : "DISPLAY='" + display_ + "' ") +
                          "WINEPREFIX='" QV_WINE_PREFIX "' WINEDEBUG=-all timeout 60 wine " +
                          desktop + "win_host.exe";
    for (size_t i = 0; i < steps.size(); ++i) {
      if (i) command += " --";
      for (const std::string &a : steps[i]) command += " '" + a + "'";
    }
    command += " 2>/dev/null";
    const size_t start = output_.size();
    run_command(command, output_);
    std::map<std::string, Step> out;
    std::istringstream lines(output_.substr(start));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream in(line);
      std::string name, word;
      Step s;
      in >> name >> s.result;
      while (in >> word) {
        const size_t eq = word.find('=');
        if (eq != std::string::npos) s.fields[word.substr(0, eq)] = word.substr(eq + 1);
      }
      out[name] = s;
    }
    return out;
  }

  // Runs a shell command, appending what it prints to output; returns its
  // exit status as pclose gives it, or -1 when it could not be started.
  static int run_command(const std::string &command, std::string &output) {
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> chunk;
    while (size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
      output.append(chunk.data(), n);
    return ::pclose(pipe);
  }

  std::string output_;
  std::string display_;  // the X display of the program's windows; none when empty
};

// WaitForSingleObject's result for a handle that is not signalled.
constexpr int kWaitTimedOut = 258;

std::string port_of(const LoopbackServer &s) { return std::to_string(s.port()); }

const std::string kLogin = rec::login("app", "extra", "demo", "demo123", "1.0");
const std::vector<std::string> kLoginStep = {"login", "app", "extra", "demo", "demo123", "1.0"};

TEST_F(WineHost, LifecycleAndRefusedConnect) {
  RefusingPort refused;
  auto r = run({{"disconnect"},
                {"init"},
                {"tcpinit"},
                {"disconnect"},
                {"connect", "127.0.0.1", std::to_string(refused.port()), "0"},
                {"release"}});
  ASSERT_EQ(r["init"].result, 1) << output_;
  EXPECT_EQ(r["tcpinit"].result, 1);
  EXPECT_EQ(r["disconnect"].result, 1);  // the last one: initialised, never connected
  EXPECT_EQ(r["connect"].result, 0);
  EXPECT_EQ(r["connect"]["msg"],
            hex(gbk("直连远程服务器异常:") + "Socket Error # 10061\r\nConnection refused."));
  EXPECT_EQ(r["release"].result, 1);
}

TEST_F(WineHost, RecordExchangeByteForByteAndRelogin) {
  LoopbackServer server;
  const std::string body(2048, 'B');  // no terminator: all 2048 bytes come back
  server.on(
      0, Script()
             .expect(kLogin)
             .send(rec::make(900, gbk("欢迎"), "p1", "p2", "p3"))
             .expect(rec::make(105))
             .send(rec::make(900))
             .expect(rec::make(104, gbk("彩信"), "KB"))
             .send(rec::make(rec::Fields{901, body, std::nullopt, "12345678901234567890", "", ""}))
             .expect(rec::kSize)
             .close());
  server.on(1, Script()
                   .expect(kLogin)
                   .send(rec::make(900))
                   .expect(rec::make(127))
                   .send(rec::make(900, "notice")));
  auto r = run({{"init"},
                {"connect", "127.0.0.1", port_of(server), "5000"},
                kLoginStep,
                {"feedback"},
                {"heartbeat"},
                {"mms", x(gbk("彩信")), "KB"},
                {"numrule"},
                {"getmessage"}});
  EXPECT_EQ(r["connect"]["msg"], hex(gbk("TCP连接成功"))) << output_;
  EXPECT_EQ(r["feedback"].result, 1);
  EXPECT_EQ(r["feedback"]["code"], "900");
  EXPECT_EQ(r["feedback"]["msg"], hex(gbk("欢迎")));
  EXPECT_EQ(r["feedback"]["p3"], hex("p3"));
  EXPECT_EQ(r["heartbeat"].result, 1);
  EXPECT_EQ(r["mms"]["code"], "901");
  EXPECT_EQ(r["mms"]["msg"], hex(body));
  EXPECT_EQ(r["mms"]["p1"], hex("12345678901234567890"));
  // NumRule's read fails on the closed connection: its message, one relogin.
  EXPECT_EQ(r["numrule"].result, 0);
  EXPECT_EQ(r["numrule"]["msg"], hex(gbk("查询服务器端的手机号码规则失败!")));
  // The next call runs on the relogin's connection.
  EXPECT_EQ(r["getmessage"].result, 1);
  EXPECT_EQ(r["getmessage"]["msg"], hex("notice"));
  EXPECT_TRUE(server.wait_accepted(2));
  EXPECT_EQ(server.problems(), "");
}

TEST_F(WineHost, XmlLoginWithGb2312Reply) {
  LoopbackServer server;
  // 镕 is a GBK character outside gb2312: the declared gb2312 is read as GBK.
  const std::string doc =
      gbk("<?xml version=\"1.0\" encoding=\"gb2312\"?><r><agent>12</agent>"
          "<agreement>3</agreement><pud>朱镕</pud><desc>欢迎登录</desc></r>");
  server.on(0, Script()
                   .expect_until("</login>")
                   .send(rec::le32(20900) + rec::le32(1) + rec::le32(1) +
                         rec::le32(int32_t(doc.size())) + doc));
  auto r = run({{"init"},
                {"fxconnect", "127.0.0.1", port_of(server), "5000"},
                {"fxlogin", "a", "e", "demo", "pw", "v"}});
  ASSERT_EQ(r["fxlogin"].result, 1) << output_;
  EXPECT_EQ(r["fxlogin"]["code"], "20900");
  EXPECT_EQ(r["fxlogin_resp"].result, 1);
  EXPECT_EQ(r["fxlogin_resp"]["agent"], "12");
  EXPECT_EQ(r["fxlogin_resp"]["agreement"], "3");
  EXPECT_EQ(r["fxlogin_resp"]["pud"], hex(gbk("朱镕")));
  EXPECT_EQ(r["fxlogin"]["msg"], hex(gbk("欢迎登录")));
  const std::string request = server.captured(0, 0);
  EXPECT_EQ(request.substr(0, 12), rec::le32(10000) + rec::le32(1) + rec::le32(1));
  EXPECT_NE(request.find("<app>a</app><ver>v</ver><key>"), std::string::npos);
}

TEST_F(WineHost, CheckTelsClassifies) {
  const std::string list = gbk("139,移动;130,联通");
  auto r = run({{"checktels", "13912345678", x(list)}});
  EXPECT_EQ(r["checktels"].result, 1) << output_;
  EXPECT_EQ(run({{"checktels", "13012345678", x(list)}})["checktels"].result, 2);
  EXPECT_EQ(run({{"checktels", "01012345678", x(list)}})["checktels"].result, 3);
  EXPECT_EQ(run({{"checktels", "1391234567a", x(list)}})["checktels"].result, 0);
}

TEST_F(WineHost, ReadIniFileBesideTheExecutable) {
  const fs::path dir = fs::temp_directory_path() / ("qv-wine-ini-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::copy_file(wine_dir() + "/win_host.exe", dir / "win_host.exe",
                fs::copy_options::overwrite_existing);
  fs::copy_file(wine_dir() + "/Quorvex.dll", dir / "Quorvex.dll",
                fs::copy_options::overwrite_existing);
  std::ofstream(dir / "Quorvex.ini") << "[DllSet]\r\ndx=10.1.1.1:9000\r\nwt = 10.2.2.2:9000\r\n";
  auto r = run({{"readini", x(gbk("电信"))}}, dir.string());
  EXPECT_EQ(r["readini"].result, 1) << output_;
  EXPECT_EQ(r["readini"]["msg"], hex("10.1.1.1:9000"));
  EXPECT_EQ(run({{"readini", "WT"}}, dir.string())["readini"]["msg"], hex("10.2.2.2:9000"));
  EXPECT_EQ(run({{"readini", "none"}}, dir.string())["readini"]["msg"], "");
  fs::remove_all(dir);
}

TEST_F(WineHost, WebRequest) {
  LoopbackServer server;
  server.on(
      0,
      Script().expect_until("\r\n\r\n").send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"));
  auto r = run({{"web", "http://127.0.0.1:" + port_of(server) + "/x/y.htm?a=1"}});
  EXPECT_EQ(r["web"].result, 1) << output_;
  EXPECT_NE(output_.find("web_body " + hex("hello") + " elapsed_set=1"), std::string::npos)
      << output_;
  const std::string request = server.captured(0, 0);
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /x/y.htm?a=1 HTTP/1.1");
}

TEST_F(WineHost, ThroughAScriptedSocks5Proxy) {
  LoopbackServer proxy;
  const std::string host = "127.0.0.1";
  const std::string request =
      std::string("\x05\x01\x00\x03", 4) + char(host.size()) + host + "\x23\x28";
  proxy.on(0, Script()
                  .expect(std::string("\x05\x01\x00", 3))
                  .send(std::string("\x05\x00", 2))
                  .expect(request)
                  .send(std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x23\x28", 10))
                  .expect(rec::make(105))
                  .send(rec::make(900)));
  auto r = run({{"init"},
                {"connect", host, "9000", "5000", "SOCKS5", "127.0.0.1", port_of(proxy)},
                {"heartbeat"}});
  EXPECT_EQ(r["connect"].result, 1) << output_;
  EXPECT_EQ(r["connect"]["msg"], hex(gbk("TCP连接成功")));
  EXPECT_EQ(r["heartbeat"].result, 1);
  EXPECT_EQ(proxy.problems(), "");
}

TEST_F(WineHost, ThroughAScriptedHttpProxy) {
  LoopbackServer proxy;
  proxy.on(0, Script()
                  .expect("CONNECT 127.0.0.1:9000 HTTP/1.1\r\n\r\n")
                  .send("HTTP/1.1 200 Connection established\r\nProxy-Agent: test\r\n\r\n")
                  .expect(rec::make(105))
                  .send(rec::make(900)));
  auto r = run({{"init"},
                {"connect", "127.0.0.1", "9000", "5000", "HTTP", "127.0.0.1", port_of(proxy)},
                {"heartbeat"}});
  EXPECT_EQ(r["connect"].result, 1) << output_;
  EXPECT_EQ(r["heartbeat"].result, 1) << output_;
  EXPECT_EQ(proxy.problems(), "");
}

// The version resource carries the project's one version, as Explorer's
// properties and GetFileVersionInfo show it.
TEST_F(WineHost, VersionResourceCarriesTheProjectVersion) {
  auto r = run({{"version"}});
  ASSERT_EQ(r["version"].result, 1) << output_;
  const Step &v = r["version_info"];
  EXPECT_EQ(v["file"], QV_VERSION ".0");
  EXPECT_EQ(v["product"], QV_VERSION ".0");
  EXPECT_EQ(v["file_text"], hex(QV_VERSION));
  EXPECT_EQ(v["product_text"], hex(QV_VERSION));
}

#ifdef QV_WITH_SIMULATOR
// The GoogleTest suite cross-built for Windows (tests/windows), linked
// against the DLL's import library, against the simulator on this side.
// QUORVEX_WINEDEBUG sets Wine's WINEDEBUG for it (default -all); with
// warn+heap Wine checks every block the heap hands out or takes back, and
// reports a corrupted or overwritten block, or a pointer it never handed
// out, on its heap channel (err:heap:, warn:heap:), which fails the test
// even where the suite survived it.  QUORVEX_WINE_SUITE_SECONDS bounds the
// run (default 110).
TEST_F(WineHost, CrossBuiltSuitePassesAgainstTheSimulator) {
  if (!fs::exists(wine_dir() + "/quorvex_dll_tests.exe"))
    QV_MISSING("googletest",
               "the cross-built suite was not built: GoogleTest's sources (Debian googletest) are "
               "missing from /usr/src/googletest");
  qv::sim::Simulator sim;
  const uint16_t port = sim.start(0);
  ASSERT_NE(port, 0);
  UnansweringTarget unanswering;
  const char *debug = std::getenv("QUORVEX_WINEDEBUG");
  const char *seconds = std::getenv("QUORVEX_WINE_SUITE_SECONDS");
  const std::string command = "cd '" + wine_dir() + "' && QV_SIM_PORT=" + std::to_string(port) +
                              " QV_UNANSWERING_PORT=" + std::to_string(unanswering.port()) +
                              " WINEPREFIX='" QV_WINE_PREFIX "' WINEDEBUG='" +
                              std::string(debug != nullptr && *debug != '\0' ? debug : "-all") +
                              "' timeout " + std::string(seconds != nullptr ? seconds : "110") +
                              " wine quorvex_dll_tests.exe 2>&1";
  std::string output;
  EXPECT_EQ(run_command(command, output), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ]"), std::string::npos) << output;
  EXPECT_EQ(output.find("[  SKIPPED ]"), std::string::npos) << output;
  EXPECT_EQ(output.find("[  FAILED  ]"), std::string::npos) << output;
  std::istringstream lines(output);
  int heap_reports = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find("err:heap:") != std::string::npos ||
        line.find("warn:heap:") != std::string::npos || line.find("corrupt") != std::string::npos) {
      ADD_FAILURE() << "Wine's heap check: " << line;
      if (++heap_reports == 20) break;
    }
}
#endif

// ---------------------------------------------------------------------------
// The dialogs, as Win32 windows of the host program, on an X server of this
// test process's own.

class WineDialogs : public WineHost {
 protected:
  static void SetUpTestSuite() { server_.start(); }
  static void TearDownTestSuite() { server_.stop(); }
  void SetUp() override {
    WineHost::SetUp();
    if (HasFatalFailure()) return;
    if (!server_.running()) {
      if (qvtest::find_program("Xvfb").empty())
        QV_MISSING("xvfb", "Xvfb (Debian package xvfb) is not installed: no dialog tests");
      FAIL() << "Xvfb is installed but did not start";
    }
    display_ = server_.display();
  }

 private:
  static inline Xvfb server_;
};

TEST_F(WineDialogs, AboutDialogIsLaidOutAsDesignedAndEveryCallMakesAnother) {
  auto r = run({{"about"}, {"about"}});
  ASSERT_EQ(r["about"].result, 1) << output_;
  const Step &w = r["about_windows"];
  EXPECT_EQ(w["count"], "2");  // both still open, independent
  EXPECT_EQ(w["left"], "426");
  EXPECT_EQ(w["top"], "297");
  EXPECT_EQ(w["client"], "285x151");
  EXPECT_EQ(w["visible"], "1");
  EXPECT_EQ(w["minbox"] + w["maxbox"] + w["sizable"], "000");
  EXPECT_EQ(w["caption"], hex("FormAbout"));
  EXPECT_EQ(w["label_class"], "Static");
  EXPECT_EQ(w["label"], "96,8,80,21");
  EXPECT_EQ(w["label_text"], hex(gbk("DLL介绍")));
  EXPECT_EQ(w["label_face"], hex(gbk("宋体")));
  EXPECT_EQ(w["label_height"], "-21");
  EXPECT_EQ(w["label_weight"], "700");
  EXPECT_EQ(w["memo_class"], "Edit");
  EXPECT_EQ(w["memo"], "40,40,217,81");
  EXPECT_EQ(w["memo_text"],
            hex(gbk("该Quorvex是专为方便客户端开发而设\r\n计的,目前版本为1.0,,欢迎使用。")));
  EXPECT_EQ(w["memo_face"], hex("MS Sans Serif"));
  EXPECT_EQ(w["memo_multiline"] + w["memo_scrollbars"] + w["memo_readonly"], "100");
}

TEST_F(WineDialogs, MessageBoxShowsTheTextWithOneOkButtonCentredAndReturnsOnceClosed) {
  const std::string text = gbk("发送成功");
  auto r = run({{"msg", x(text)}});
  ASSERT_EQ(r["msg_box"].result, 1) << output_;
  EXPECT_NE(r["msg_box"]["texts"].find(hex(text)), std::string::npos) << output_;
  EXPECT_EQ(r["msg_box"]["buttons"], hex("OK") + ",");
  EXPECT_EQ(r["msg_box"]["centred"], "1");
  EXPECT_EQ(r["msg"].result, 1);
  auto empty = run({{"msgnull"}});
  EXPECT_EQ(empty["msg_box"].result, 1) << output_;
  EXPECT_EQ(empty["msgnull"].result, 1);
}

}  // namespace

#ifdef QV_WITH_SIMULATOR
// An operation's completion reaches a Windows host both ways it may wait:
// on the queue's event (set exactly while the completion waits) and as a
// message to one of its windows.
TEST_F(WineDialogs, AQueueWakesItsHostByEventAndByWindowMessage) {
  qv::sim::Simulator sim;
  const uint16_t port = sim.start(0);
  auto r = run({{"init"},
                {"connect", "127.0.0.1", std::to_string(port), "5000"},
                {"login", "app", "", "demo", "demo123", "1.0"},
                {"feedback"},
                {"queue_event"},
                {"queue_window"}});
  EXPECT_EQ(r["feedback"].result, 1) << output_;
  EXPECT_EQ(r["queue_event_state"].result, 1) << output_;
  EXPECT_EQ(r["queue_event_state"]["before"], std::to_string(kWaitTimedOut));
  EXPECT_EQ(r["queue_event_state"]["woke"], "0");
  EXPECT_EQ(r["queue_event_state"]["after"], std::to_string(kWaitTimedOut));
  EXPECT_EQ(r["queue_window_state"].result, 1) << output_;
}
#endif
