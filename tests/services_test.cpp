// The settings file and the timed web request, through the public header.
//
// The settings file lies beside the host's executable, so those tests copy
// a small host program into a directory of their own, write Quorvex.ini
// beside it and run it.  The web request runs against scripted loopback
// servers (every byte of the request checked) and against a real HTTP
// server that the tests start.
#include <quorvex.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "gbk.h"
#include "loopback_server.h"
#include "net_targets.h"
#include "quorvex_fixture.h"

extern char **environ;

// Bytes the calling thread allocates while it counts them, the library's
// allocations included (it takes operator new from the host process).
namespace {
thread_local bool t_counting = false;
thread_local size_t t_allocated = 0;
}  // namespace

// Out of line, so that the compiler never pairs an inlined malloc with a
// delete expression.
[[gnu::noinline]] void *operator new(size_t size) {
  if (t_counting) t_allocated += size;
  if (void *p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void *p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void *p, size_t) noexcept { std::free(p); }

namespace {

using namespace qvtest;
namespace fs = std::filesystem;

// A directory of the test's own, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = ::testing::TempDir() + "qv-services-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path &path() const { return path_; }
  void write(const std::string &name, const std::string &bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }

 private:
  fs::path path_;
};

std::string hex(const std::string &bytes) {
  std::string out;
  char two[3];
  for (const char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
    out += two;
  }
  return out;
}

// ---------------------------------------------------------------------------
// The settings file

// Runs the stand-in host from its own directory (and the shell from
// another, so that a reader that looks in the working directory is caught).
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(QV_INI_HOST, host_dir.path() / "host", fs::copy_options::overwrite_existing);
  }

  void write_settings(const std::string &bytes) { host_dir.write("Quorvex.ini", bytes); }

  // "<result> <value in hex> clean" for the carrier; nullptr for a null one.
  std::string read(const char *carrier, bool twin = false) {
    const std::string arg = carrier ? "'" + hex(carrier) + "'" : "-";
    const std::string command = "cd '" + elsewhere.path().string() + "' && '" +
                                (host_dir.path() / "host").string() + "' " + arg +
                                (twin ? " fx" : "");
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "popen failed";
    std::string out;
    char block[8192];
    while (const size_t n = std::fread(block, 1, sizeof block, pipe)) out.append(block, n);
    ::pclose(pipe);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  static std::string found(const std::string &value) { return "1 " + hex(value) + " clean"; }

  TempDir host_dir;
  TempDir elsewhere;
};

// Windows line ends, as a host's installer writes them.
std::string crlf(const std::vector<std::string> &lines) {
  std::string out;
  for (const std::string &line : lines) out += line + "\r\n";
  return out;
}

const std::string kTelecomGbk = "\xb5\xe7\xd0\xc5";  // 电信
const std::string kNetcomGbk = "\xcd\xf8\xcd\xa8";   // 网通

TEST_F(SettingsFileTest, CarrierNamesChooseTheirKeys) {
  ASSERT_EQ(gbk("电信"), kTelecomGbk);
  ASSERT_EQ(gbk("网通"), kNetcomGbk);
  write_settings(crlf({
      "[Other]",
      "dx=other-section",
      "[DllSet]",
      "dx=10.0.0.1:9000",
      "wt=10.0.0.2:9000",
      "DllSet=the-section-name",
      kTelecomGbk + "=gbk-name-as-key",
      "电信=utf8-name-as-key",
      "Beijing=any-key",
  }));
  const struct {
    std::string carrier;
    std::string value;
  } rows[] = {
      {kTelecomGbk, "10.0.0.1:9000"},
      {"dx", "10.0.0.1:9000"},
      {"DX", "10.0.0.1:9000"},
      {"Dx", "10.0.0.1:9000"},
      {"dX", "10.0.0.1:9000"},
      {kNetcomGbk, "10.0.0.2:9000"},
      {"wt", "10.0.0.2:9000"},
      {"WT", "10.0.0.2:9000"},
      {"wT", "10.0.0.2:9000"},
      {"DllSet", "the-section-name"},
      // Only the GBK bytes are the carrier name; the same word in UTF-8
      // is an ordinary key.
      {"电信", "utf8-name-as-key"},
      {"BEIJING", "any-key"},
      {"dx ", ""},
      {"d", ""},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(found(row.value), read(row.carrier.c_str())) << "carrier " << hex(row.carrier);
    EXPECT_EQ(found(row.value), read(row.carrier.c_str(), true))
        << "fx, carrier " << hex(row.carrier);
  }
}

TEST_F(SettingsFileTest, FollowsTheProfileRules) {
  write_settings(crlf({
      "; written by the installer",
      "  [ dllSET ]  ",
      ";dx=commented-out",
      "   dx   =   spaced value   ",
      "dx=second-of-the-name",
      "Quoted=\"  kept blanks  \"",
      "single='one'",
      "unbalanced=\"open",
      "inner=a\"b\"c",
      "empty=\"\"",
      "equals=a=b",
      "bare-key",
      "\xb0\x41=gbk-trail-byte-A",
      "[Next]",
      "wt=next-section",
      "[DllSet]",
      "wt=second-section-of-the-name",
  }));
  const struct {
    const char *key;
    std::string value;
  } rows[] = {
      {"dx", "spaced value"},
      {"QUOTED", "  kept blanks  "},
      {"single", "one"},
      {"unbalanced", "\"open"},
      {"inner", "a\"b\"c"},
      {"empty", ""},
      {"equals", "a=b"},
      {"bare-key", ""},
      {"\xb0\x41", "gbk-trail-byte-A"},
      // The second byte of a double-byte character is not a letter.
      {"\xb0\x61", ""},
      // Only the first section of the name is read.
      {"wt", ""},
      {"missing", ""},
  };
  for (const auto &row : rows) EXPECT_EQ(found(row.value), read(row.key)) << "key " << hex(row.key);
}

TEST_F(SettingsFileTest, ReadsUnixLineEndsAndAKeyBeforeAnySectionBelongsToNone) {
  write_settings("dx=before-any-section\n[DllSet]\nwt=unix\n");
  EXPECT_EQ(found(""), read("dx"));
  EXPECT_EQ(found("unix"), read("wt"));
}

TEST_F(SettingsFileTest, CutsAValueAt2047Bytes) {
  const std::string exact(2047, 'e');
  std::string longer;
  for (int i = 0; i < 3000; ++i) longer += static_cast<char>('a' + i % 26);
  write_settings(crlf({"[DllSet]", "exact=" + exact, "longer=" + longer}));
  EXPECT_EQ(found(exact), read("exact"));
  EXPECT_EQ(found(longer.substr(0, 2047)), read("longer"));
}

TEST_F(SettingsFileTest, MissingFileSectionOrKeyGiveTheEmptyValue) {
  EXPECT_EQ(found(""), read("dx")) << "no file";
  elsewhere.write("Quorvex.ini", "[DllSet]\r\ndx=working-directory\r\n");
  EXPECT_EQ(found(""), read("dx")) << "the file of the working directory was read";

  write_settings("[Other]\r\ndx=1\r\n");
  EXPECT_EQ(found(""), read("dx")) << "no section";
  write_settings("");
  EXPECT_EQ(found(""), read("dx")) << "empty file";
  write_settings("[DllSet]\r\nwt=1\r\n");
  EXPECT_EQ(found(""), read("dx")) << "no key";
  EXPECT_EQ(found(""), read(nullptr)) << "null carrier";
  EXPECT_EQ(found(""), read("")) << "empty carrier";

  fs::remove(host_dir.path() / "Quorvex.ini");
  fs::create_directory(host_dir.path() / "Quorvex.ini");
  EXPECT_EQ(found(""), read("dx")) << "a directory of that name";
}

TEST(SettingsFile, NullValueBufferRefusesTheCall) {
  EXPECT_EQ(0, ReadIniFile(nullptr, "dx"));
  EXPECT_EQ(0, fxReadIniFile(nullptr, "dx"));
}

// ---------------------------------------------------------------------------
// The timed web request against scripted servers

using WebExport = qv_bool(QV_CALL *)(char *, int32_t *, const char *);

constexpr int32_t kUnsetElapsed = -12345;

// A caller's response buffer, large enough for any body of these tests.
struct WebOutcome {
  qv_bool result = 0;
  std::string body;  // up to the first zero
  int32_t elapsed = kUnsetElapsed;
  bool untouched = false;  // the buffer was not written at all
};

WebOutcome call(WebExport fn, const std::string &url, size_t capacity = 1 << 20) {
  std::vector<char> buffer(capacity + 1, 'Z');
  WebOutcome out;
  out.result = fn(buffer.data(), &out.elapsed, url.c_str());
  out.untouched = std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == 'Z'; });
  if (!out.untouched) out.body.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return out;
}

const std::string kEndOfHead = "\r\n\r\n";

std::string expected_request(const std::string &target, const std::string &host) {
  return "GET " + target + " HTTP/1.1\r\n" +
         "Content-Type: text/html\r\n"
         "Host: " +
         host + "\r\n" +
         "Accept: text/html, */*\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Quorvex)\r\n"
         "\r\n";
}

class WebRequestTest : public ServerTest {
 protected:
  void SetUp() override { SetReadTimeout(kTestReadTimeoutMs); }
  std::string url(const std::string &target = "/") const {
    return "http://127.0.0.1:" + std::to_string(server.port()) + target;
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(server.port()); }
};

TEST_F(WebRequestTest, SendsTheGetRequestByteForByte) {
  server.on(0, Script()
                   .expect(expected_request("/dir/doc.asp?a=1&b=2", host()))
                   .send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")
                   .close());
  const WebOutcome out = call(WebRequest, url("/dir/doc.asp?a=1&b=2#part"));
  EXPECT_EQ(1, out.result);
  EXPECT_EQ("hello", out.body);
  EXPECT_GE(out.elapsed, 0);
}

TEST_F(WebRequestTest, SplitsTheUrlIntoTargetAndHost) {
  const std::string port = std::to_string(server.port());
  const struct {
    std::string url, target, host;
  } rows[] = {
      {"http://127.0.0.1:" + port, "/", "127.0.0.1:" + port},
      {"127.0.0.1:" + port + "/no/scheme", "/no/scheme", "127.0.0.1:" + port},
      {"HTTP://127.0.0.1:" + port + "/Case", "/Case", "127.0.0.1:" + port},
      {"http://127.0.0.1:" + port + "?q=1", "/?q=1", "127.0.0.1:" + port},
      {"http://localhost:" + port + "/a b/\xb5\xe7", "/a%20b/%B5%E7", "localhost:" + port},
      {"http://user:pw@127.0.0.1:" + port + "/", "/", "127.0.0.1:" + port},
  };
  size_t index = 0;
  for (const auto &row : rows) {
    server.on(index++, Script()
                           .expect(expected_request(row.target, row.host))
                           .send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
                           .close());
  }
  for (const auto &row : rows) EXPECT_EQ("ok", call(WebRequest, row.url).body) << row.url;
}

struct Exchange {
  const char *name;
  std::string response;
  enum { Close, StayOpen } after;
  qv_bool result;
  std::string body;
};

// Both twins, against every kind of answer.
TEST_F(WebRequestTest, ReadsEveryKindOfAnswer) {
  const std::string big_chunk(2000, 'c');
  const Exchange rows[] = {
      // A body whose end is known does not wait for the close.
      {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", Exchange::StayOpen, 1,
       "hello"},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5\r\nhello\r\nA;name=value\r\n, world!!!\r\n0\r\nX-Trailer: t\r\n\r\n",
       Exchange::StayOpen, 1, "hello, world!!!"},
      {"chunked wins over a length",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\ntransfer-encoding: gzip, Chunked\r\n\r\n"
       "7d0\r\n" +
           big_chunk + "\r\n0\r\n\r\n",
       Exchange::StayOpen, 1, big_chunk},
      {"until the close", "HTTP/1.0 200 OK\r\nServer: t\r\n\r\nup to the close", Exchange::Close, 1,
       "up to the close"},
      {"100 continue first",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\n"
       "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
       Exchange::StayOpen, 1, "ok"},
      {"204", "HTTP/1.1 204 No Content\r\n\r\n", Exchange::StayOpen, 1, ""},
      {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nlf", Exchange::StayOpen, 1, "lf"},
      {"folded field", "HTTP/1.1 200 OK\r\nContent-Length:\r\n 3\r\n\r\nabc", Exchange::StayOpen, 1,
       "abc"},
      {"zero byte in the body",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n" + std::string("ab\0cd", 5),
       Exchange::StayOpen, 1, "ab"},
      {"302", "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 0\r\n\r\n",
       Exchange::Close, 0, ""},
      {"200 with a location", "HTTP/1.1 200 OK\r\nLocation: /x\r\nContent-Length: 2\r\n\r\nok",
       Exchange::Close, 0, ""},
      {"301", "HTTP/1.1 301 Moved\r\nContent-Length: 0\r\n\r\n", Exchange::Close, 0, ""},
      {"304", "HTTP/1.1 304 Not Modified\r\n\r\n", Exchange::Close, 0, ""},
      {"401",
       "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=x\r\nContent-Length: 0\r\n\r\n",
       Exchange::StayOpen, 0, ""},
      {"407", "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n",
       Exchange::StayOpen, 0, ""},
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", Exchange::Close, 0,
       ""},
      {"500", "HTTP/1.1 500 Internal Server Error\r\n\r\n", Exchange::Close, 0, ""},
      {"101", "HTTP/1.1 101 Switching Protocols\r\n\r\n", Exchange::Close, 0, ""},
      {"body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", Exchange::Close, 0,
       ""},
      {"chunk cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
       Exchange::Close, 0, ""},
      {"no last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n",
       Exchange::Close, 0, ""},
      {"header cut short", "HTTP/1.1 200 OK\r\nContent-Le", Exchange::Close, 0, ""},
      {"no empty line after the header", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n",
       Exchange::Close, 0, ""},
      {"status cut short", "HTTP/1.1 20", Exchange::Close, 0, ""},
      {"no status line", "hello world\r\n\r\n", Exchange::Close, 0, ""},
      {"nothing at all", "", Exchange::Close, 0, ""},
      {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
       Exchange::Close, 0, ""},
      {"chunk size with a sign",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n",
       Exchange::Close, 0, ""},
      {"chunk size with 0x",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0x5\r\nhello\r\n0\r\n\r\n",
       Exchange::Close, 0, ""},
      {"chunk size with junk",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5 x\r\nhello\r\n0\r\n\r\n",
       Exchange::Close, 0, ""},
      {"chunk longer than its size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhello\r\n0\r\n\r\n",
       Exchange::Close, 0, ""},
      {"chunk size overflowing",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000005\r\nhello\r\n0\r\n\r\n",
       Exchange::StayOpen, 0, ""},
      {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\nhello", Exchange::Close,
       0, ""},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nhello", Exchange::Close, 0,
       ""},
      {"two different lengths",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", Exchange::Close,
       0, ""},
      {"header line too long", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(17000, 'a') + "\r\n\r\n",
       Exchange::StayOpen, 0, ""},
  };
  for (const WebExport fn : {WebRequest, fxWebRequest}) {
    for (const Exchange &row : rows) {
      LoopbackServer peer;
      Script script = Script().expect_until(kEndOfHead).send(row.response);
      peer.on(0,
              row.after == Exchange::Close ? std::move(script.close()) : std::move(script.stall()));
      const WebOutcome out = call(fn, "http://127.0.0.1:" + std::to_string(peer.port()) + "/");
      const std::string which = std::string(row.name) + (fn == WebRequest ? "" : " (fx)");
      EXPECT_EQ(row.result, out.result) << which;
      if (row.result) {
        EXPECT_EQ(row.body, out.body) << which;
        EXPECT_GE(out.elapsed, 0) << which;
      } else {
        EXPECT_TRUE(out.untouched) << which;
        EXPECT_EQ(kUnsetElapsed, out.elapsed) << which;
      }
      EXPECT_EQ("", peer.problems()) << which;
    }
  }
}

enum class Framing { Length, Chunked, ToClose };

// The answer with body in the given framing.  One that the caller must cut
// never ends (its length claims far more, its chunks have no last one, the
// connection stays open): the call must not wait for the rest.
Script answer(const std::string &body, Framing framing, bool cut) {
  std::string head = "HTTP/1.1 200 OK\r\n", rest;
  if (framing == Framing::Length)
    head += "Content-Length: " + std::to_string(cut ? 2 * size_t{QV_WEB_BODY_MAX} : body.size()) +
            "\r\n";
  if (framing == Framing::Chunked) {
    head += "Transfer-Encoding: chunked\r\n";
    for (size_t at = 0; at < body.size(); at += 9) {  // sizes below 10: decimal is hex
      const std::string piece = body.substr(at, 9);
      rest += std::to_string(piece.size()) + "\r\n" + piece + "\r\n";
    }
    if (!cut) rest += "0\r\n\r\n";
  }
  Script script =
      Script().expect_until(kEndOfHead).send(head + "\r\n" + (rest.empty() ? body : rest));
  return framing == Framing::ToClose && !cut ? std::move(script.close())
                                             : std::move(script.stall());
}

// Bodies shorter than, as long as and longer than the caller's buffer, in
// every framing: the buffer holds exactly the text that fits and its zero,
// nothing lands past them, and WebRequestEx's length tells a cut.
TEST_F(WebRequestTest, WritesNoMoreThanTheBufferHolds) {
  const std::string zero(1, '\0');
  std::string page;
  for (int i = 0; i < 97952; ++i) page += static_cast<char>('a' + i % 26);
  const struct {
    WebExport plain;  // null: WebRequestEx with a buffer of size bytes
    int32_t size;
    std::string body;
    bool cut;
  } rows[] = {
      {nullptr, 16, page.substr(0, 14), false},
      {nullptr, 16, page.substr(0, 15), false},
      {nullptr, 16, page.substr(0, 16), true},
      {nullptr, 1, "x", true},
      {nullptr, 16, "abc" + zero + page, false},
      {nullptr, 16, page.substr(0, 15) + zero + "tail", false},
      {WebRequest, QV_WEB_RESPONSE_MAX, page.substr(0, QV_WEB_RESPONSE_MAX - 1), false},
      {fxWebRequest, QV_WEB_RESPONSE_MAX, page, true},
  };
  for (const auto &row : rows) {
    for (const Framing framing : {Framing::Length, Framing::Chunked, Framing::ToClose}) {
      const std::string which =
          std::to_string(&row - rows) + " framing " + std::to_string(static_cast<int>(framing));
      LoopbackServer peer;
      peer.on(0, answer(row.body, framing, row.cut));
      const std::string where = "http://127.0.0.1:" + std::to_string(peer.port()) + "/";
      std::vector<char> buffer(row.size + 64, 'Z');
      int32_t length = kUnsetElapsed, elapsed = kUnsetElapsed;
      EXPECT_EQ(1, row.plain
                       ? row.plain(buffer.data(), &elapsed, where.c_str())
                       : WebRequestEx(buffer.data(), row.size, &length, &elapsed, where.c_str()))
          << which;

      const std::string text =
          row.cut ? row.body.substr(0, row.size - 1) : row.body.substr(0, row.body.find('\0'));
      std::string expected = text + zero;
      expected.resize(buffer.size(), 'Z');
      EXPECT_TRUE(std::string(buffer.begin(), buffer.end()) == expected) << which;
      if (!row.plain) {
        EXPECT_EQ(row.cut ? row.size : static_cast<int32_t>(text.size()), length) << which;
      }
      EXPECT_EQ("", peer.problems()) << which;
    }
  }
}

// Only a buffer larger than the body limit meets it: such a body fails on
// its claim, at once, instead of being cut.
TEST_F(WebRequestTest, BodyOverTheLimitFailsWhenTheBufferWouldHoldIt) {
  std::vector<char> buffer(size_t{QV_WEB_BODY_MAX} + 2, 'Z');
  for (const std::string head :
       {"Content-Length: 67108865\r\n\r\n", "Transfer-Encoding: chunked\r\n\r\n4000001\r\n"}) {
    LoopbackServer peer;
    peer.on(0, Script().expect_until(kEndOfHead).send("HTTP/1.1 200 OK\r\n" + head).stall());
    const std::string where = "http://127.0.0.1:" + std::to_string(peer.port()) + "/";
    int32_t length = kUnsetElapsed, elapsed = kUnsetElapsed;
    const long took = elapsed_ms([&] {
      EXPECT_EQ(0,
                WebRequestEx(buffer.data(), QV_WEB_BODY_MAX + 2, &length, &elapsed, where.c_str()))
          << head;
    });
    EXPECT_LT(took, kTestReadTimeoutMs / 2) << head;
    EXPECT_EQ('Z', buffer[0]) << head;
  }
}

// Folded header lines cost in proportion to their bytes: a head of tens of
// thousands of continuation lines, near the header limit, is read right
// while the thread allocates a small multiple of its size (rebuilding the
// value at each line would allocate gigabytes).
TEST_F(WebRequestTest, FoldedLinesCostTheirOwnBytes) {
  std::string head = "HTTP/1.1 200 OK\r\nX-Folded: first\r\n";
  for (int i = 0; i < 50000; ++i) head += i % 2 ? "  x\t\r\n" : " y\r\n";
  head += "Content-Length:\r\n \r\n 5\r\n\r\n";
  server.on(0, Script().expect_until(kEndOfHead).send(head + "hello").stall());
  std::vector<char> buffer(64, 'Z');
  int32_t length = kUnsetElapsed, elapsed = kUnsetElapsed;
  t_allocated = 0;
  t_counting = true;
  const qv_bool result = WebRequestEx(buffer.data(), 64, &length, &elapsed, url().c_str());
  t_counting = false;
  EXPECT_EQ(1, result);
  EXPECT_STREQ("hello", buffer.data());
  EXPECT_LT(t_allocated, 8 * head.size());
}

TEST_F(WebRequestTest, ElapsedTimeCoversTheWholeExchange) {
  server.on(0, Script()
                   .expect_until(kEndOfHead)
                   .stall(Millis{300})
                   .send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
                   .close());
  WebOutcome out;
  const long wall = elapsed_ms([&] { out = call(WebRequest, url()); });
  EXPECT_EQ(1, out.result);
  EXPECT_GE(out.elapsed, 299);
  EXPECT_LE(out.elapsed, wall + 1);
}

TEST_F(WebRequestTest, SilentServerFailsOnceTheReadTimeOutExpires) {
  server.on(0, Script().expect_until(kEndOfHead).stall());
  SetReadTimeout(200);
  WebOutcome out;
  const long took = elapsed_ms([&] { out = call(WebRequest, url()); });
  EXPECT_EQ(0, out.result);
  EXPECT_TRUE(out.untouched);
  EXPECT_EQ(kUnsetElapsed, out.elapsed);
  EXPECT_GE(took, 150);
  EXPECT_LT(took, 3000);
}

TEST_F(WebRequestTest, EndlessInterimAnswersAreCutOffWithoutWaiting) {
  std::string flood;
  while (flood.size() < 300 * 1024) flood += "HTTP/1.1 100 Continue\r\n\r\n";
  server.on(0, Script().expect_until(kEndOfHead).send(flood).stall());
  WebOutcome out;
  const long took = elapsed_ms([&] { out = call(WebRequest, url()); });
  EXPECT_EQ(0, out.result);
  EXPECT_LT(took, kTestReadTimeoutMs / 2);
}

TEST_F(WebRequestTest, RefusedBeforeAnythingIsSent) {
  const std::string port = std::to_string(server.port());
  char buffer[64];
  int32_t elapsed = kUnsetElapsed;
  EXPECT_EQ(0, WebRequest(nullptr, &elapsed, url().c_str()));
  EXPECT_EQ(0, fxWebRequest(buffer, nullptr, url().c_str()));
  EXPECT_EQ(kUnsetElapsed, elapsed);
  for (const std::string &bad : std::vector<std::string>{
           "https://127.0.0.1:" + port + "/", "ftp://127.0.0.1:" + port + "/",
           "http://127.0.0.1:" + port + "/a\r\nX-Injected: 1", "", "http://:" + port + "/",
           "http://127.0.0.1:0/", "http://127.0.0.1:65536/", "http://127.0.0.1:8x/"}) {
    const WebOutcome out = call(WebRequest, bad);
    EXPECT_EQ(0, out.result) << bad;
    EXPECT_TRUE(out.untouched) << bad;
    EXPECT_EQ(kUnsetElapsed, out.elapsed) << bad;
  }
  std::vector<char> untouched(16, 'Z');
  EXPECT_EQ(0, WebRequest(untouched.data(), &elapsed, nullptr));
  int32_t length = kUnsetElapsed;
  EXPECT_EQ(0, WebRequestEx(untouched.data(), 0, &length, &elapsed, url().c_str()));
  EXPECT_EQ(0, WebRequestEx(untouched.data(), -1, &length, &elapsed, url().c_str()));
  EXPECT_EQ(0, WebRequestEx(untouched.data(), 16, nullptr, &elapsed, url().c_str()));
  EXPECT_EQ(0, WebRequestEx(untouched.data(), 16, &length, nullptr, url().c_str()));
  EXPECT_EQ(0, WebRequestEx(nullptr, 16, &length, &elapsed, url().c_str()));
  EXPECT_EQ(kUnsetElapsed, length);
  EXPECT_EQ(kUnsetElapsed, elapsed);
  EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](char c) { return c == 'Z'; }));
  EXPECT_FALSE(server.wait_accepted(1, Millis{200}));
}

TEST_F(WebRequestTest, UnreachableServersFail) {
  RefusingPort refusing;
  for (const std::string &bad : {"http://127.0.0.1:" + std::to_string(refusing.port()) + "/",
                                 std::string("http://") + kUnresolvableHost + "/"}) {
    const WebOutcome out = call(WebRequest, bad);
    EXPECT_EQ(0, out.result) << bad;
    EXPECT_TRUE(out.untouched) << bad;
    EXPECT_EQ(kUnsetElapsed, out.elapsed) << bad;
  }
}

// ---------------------------------------------------------------------------
// The timed web request against a real HTTP server

// Python's HTTP server on a loopback port that it picks itself, serving a
// directory of files.
class RealHttpServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new TempDir;
    files_->write("five.txt", "hello");
    std::string large;
    for (int i = 0; i < 200000; ++i) large += static_cast<char>('a' + i % 26);
    files_->write("large.txt", large);
    start();
  }

  static void TearDownTestSuite() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    delete files_;
    files_ = nullptr;
  }

  void SetUp() override {
    ASSERT_GT(port_, 0) << "the HTTP server did not start: " << start_error_;
    SetReadTimeout(kTestReadTimeoutMs);
  }

  static std::string url(const std::string &path) {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  static std::string file(const std::string &name) {
    std::ifstream in(files_->path() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  // Starts the server with port 0 and learns its port from the line it
  // prints once it listens, then waits until it accepts.
  static void start() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return void(start_error_ = "pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string directory = files_->path().string();
    const char *argv[] = {"python3", "-u",        "-m",          "http.server",     "0",
                          "--bind",  "127.0.0.1", "--directory", directory.c_str(), nullptr};
    const int rc =
        ::posix_spawnp(&pid_, "python3", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
      pid_ = -1;
      ::close(out[0]);
      return void(start_error_ = "python3 could not be started");
    }

    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (printed.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      char block[256];
      const ssize_t n = ::read(out[0], block, sizeof block);
      if (n <= 0) break;
      printed.append(block, static_cast<size_t>(n));
    }
    ::close(out[0]);
    const size_t at = printed.find(" port ");
    if (at == std::string::npos) return void(start_error_ = "no port in: " + printed);
    const int port = std::atoi(printed.c_str() + at + 6);

    while (std::chrono::steady_clock::now() < deadline) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool accepted =
          ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
      ::close(fd);
      if (accepted) {
        port_ = port;
        return;
      }
    }
    start_error_ = "the server did not accept on port " + std::to_string(port);
  }

  static inline TempDir *files_ = nullptr;
  static inline pid_t pid_ = -1;
  static inline int port_ = 0;
  static inline std::string start_error_;
};

TEST_F(RealHttpServer, FetchesAFileWithItsElapsedTime) {
  for (const WebExport fn : {WebRequest, fxWebRequest}) {
    WebOutcome out;
    const long wall = elapsed_ms([&] { out = call(fn, url("/five.txt")); });
    EXPECT_EQ(1, out.result);
    EXPECT_EQ("hello", out.body);
    EXPECT_GE(out.elapsed, 0);
    EXPECT_LE(out.elapsed, wall + 1);
  }
}

TEST_F(RealHttpServer, FetchesALargeFileWholeOrCut) {
  std::vector<char> buffer(1 << 20);
  int32_t length = 0, elapsed = 0;
  ASSERT_EQ(1, WebRequestEx(buffer.data(), static_cast<int32_t>(buffer.size()), &length, &elapsed,
                            url("/large.txt").c_str()));
  EXPECT_EQ(static_cast<int32_t>(file("large.txt").size()), length);
  EXPECT_TRUE(std::string(buffer.data()) == file("large.txt"));

  const WebOutcome plain = call(WebRequest, url("/large.txt"));
  EXPECT_EQ(1, plain.result);
  EXPECT_TRUE(plain.body == file("large.txt").substr(0, QV_WEB_RESPONSE_MAX - 1));
}

TEST_F(RealHttpServer, MissingFileFails) {
  const WebOutcome out = call(WebRequest, url("/missing.txt"));
  EXPECT_EQ(0, out.result);
  EXPECT_TRUE(out.untouched);
}

}  // namespace
