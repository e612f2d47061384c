// Proxies played by the loopback server: the bytes of every handshake, the
// answers and failures that real proxies give only on rare occasions, and
// the state that each path leaves behind.  The proxy's connection carries
// the server's records once the handshake is over, so the same script
// plays both.
#include <initializer_list>
#include <tuple>
#include <vector>

#include "proxy_paths.h"

namespace qvtest {
namespace {

// The server that the tests ask the proxy for.  A scripted proxy connects
// nowhere, so it need not exist.
constexpr const char *kTargetHost = "10.1.2.3";
constexpr int32_t kTargetPort = 0x1234;  // 4660

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// SOCKS4: version 4, command 1, port 0x1234, address 10.1.2.3, then the
// user ID and a zero.
const Bytes kSocks4Head = bytes({4, 1, 0x12, 0x34, 10, 1, 2, 3});
// Eight bytes; only the second one (90: granted) counts.
const Bytes kSocks4Granted = bytes({0, 90, 0, 0, 0, 0, 0, 0});

// SOCKS5: the greeting offers "no authentication" only; the connect request
// names the server by address type 3 with its address as text.
const Bytes kGreeting = bytes({5, 1, 0});
const Bytes kNoAuthentication = bytes({5, 0});
const Bytes kSocks5Request = bytes({5, 1, 0, 3, 8}) + "10.1.2.3" + bytes({0x12, 0x34});
const Bytes kSocks5Granted = bytes({5, 0, 0, 1, 192, 0, 2, 1, 0x1f, 0x90});

const Bytes kConnectLine11 = "CONNECT 10.1.2.3:4660 HTTP/1.1\r\n\r\n";
const Bytes kConnectLine10 = "CONNECT 10.1.2.3:4660 HTTP/1.0\r\n\r\n";
const Bytes kHttpOk = "HTTP/1.0 200 OK\r\nProxy-Agent: scripted\r\n\r\n";

Script socks4_opening(const Bytes &user = "") {
  return Script().expect(kSocks4Head + user + bytes({0})).send(kSocks4Granted);
}
Script socks5_opening() {
  return Script()
      .expect(kGreeting)
      .send(kNoAuthentication)
      .expect(kSocks5Request)
      .send(kSocks5Granted);
}
Script http_opening(const Bytes &line = kConnectLine11) {
  return Script().expect(line).send(kHttpOk);
}

class ProxyTest : public QuorvexTest {
 protected:
  // Connects to the target through the loopback server playing the proxy.
  qv_bool through(const ConnectTwin &twin, MessageBuffer &message, const char *kind,
                  const char *user = "", const char *host = kTargetHost,
                  const LoopbackServer *via = nullptr) {
    const uint16_t port = (via ? *via : proxy).port();
    return twin.connect(message.get(), host, kTargetPort, 2000, kind, "127.0.0.1", port, user,
                        "password");
  }

  void login() {
    ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
    int32_t code = kUnsetCode;
    MessageBuffer message;
    ParamBuffer p1, p2, p3;
    ASSERT_EQ(1, Login_Feedback(&code, message.get(), p1.get(), p2.get(), p3.get()));
    EXPECT_EQ(QV_CODE_ACCEPTED, code);
  }

  // The proxy got a connection and not a single byte on it.
  void expect_connection_without_bytes() {
    EXPECT_TRUE(proxy.wait_closed(0));
    EXPECT_EQ("", proxy.received(0));
  }

  LoopbackServer &proxy = server;
};

// A code in a proxy's answer and the text that follows the SOCKS prefix for it.
struct FailureText {
  const char *name;
  int code;
  const char *text;
};

void PrintTo(const FailureText &c, std::ostream *os) { *os << c.name; }

auto by_name = [](const auto &info) { return std::string(info.param.name); };
auto by_names = [](const auto &info) {
  return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
};

// ------------------------------------------------------------ SOCKS4

struct Socks4RequestCase {
  const char *name;
  const char *host;
  Bytes user;
  Bytes request;
};

void PrintTo(const Socks4RequestCase &c, std::ostream *os) { *os << c.name; }

std::vector<Socks4RequestCase> socks4_request_cases() {
  return {
      {"EmptyUser", kTargetHost, "", bytes({4, 1, 0x12, 0x34, 10, 1, 2, 3, 0})},
      {"UserAbc", kTargetHost, "abc", bytes({4, 1, 0x12, 0x34, 10, 1, 2, 3, 'a', 'b', 'c', 0})},
      // The user ID is cut to its first 255 bytes.
      {"UserCutTo255Bytes", kTargetHost, Bytes(255, 'u') + Bytes(45, 'v'),
       kSocks4Head + Bytes(255, 'u') + bytes({0})},
      // The client resolves the host; LOCALHOST is 127.0.0.1 in any case.
      {"LocalhostIsTheLoopbackAddress", "LOCALHOST", "",
       bytes({4, 1, 0x12, 0x34, 127, 0, 0, 1, 0})},
  };
}

class Socks4Request
    : public ProxyTest,
      public ::testing::WithParamInterface<std::tuple<Socks4RequestCase, ConnectTwin>> {};

// The grant is eight bytes and no more: a byte of it left unread would be
// found before the first request and fail it, and a byte too many would
// hold the connect up.
TEST_P(Socks4Request, IsExactAndTheGrantOpensTheTunnel) {
  const auto &[c, twin] = GetParam();
  proxy.on(
      0, Script().expect(c.request).send(kSocks4Granted).expect(kProbeRequest).send(kProbeAnswer));
  MessageBuffer message;
  ASSERT_EQ(1, through(twin, message, "socks4", c.user.c_str(), c.host));
  expect_success_message(twin, false, message);
  run_probe();
}

INSTANTIATE_TEST_SUITE_P(Socks4Proxy, Socks4Request,
                         ::testing::Combine(::testing::ValuesIn(socks4_request_cases()),
                                            ::testing::ValuesIn(kTwins)),
                         by_names);

class Socks4Reply : public ProxyTest, public ::testing::WithParamInterface<FailureText> {};

TEST_P(Socks4Reply, FailsWithItsText) {
  proxy.on(0, Script()
                  .expect(kSocks4Head + bytes({0}))
                  .send(bytes({0, GetParam().code, 0, 0, 0, 0, 0, 0})));
  MessageBuffer message;
  EXPECT_EQ(0, through(kTcpConnect, message, "socks4"));
  EXPECT_EQ(kSocksFailed + GetParam().text, message.text());
  EXPECT_TRUE(proxy.wait_closed(0));
}

INSTANTIATE_TEST_SUITE_P(
    Socks4Proxy, Socks4Reply,
    ::testing::Values(
        FailureText{"Rejected91", 91, "Request rejected or failed."},
        FailureText{"CannotConnect92", 92, "Request rejected because SOCKS server cannot connect."},
        FailureText{
            "UserIdsDiffer93", 93,
            "Request rejected because the client program and identd report different user-ids."},
        FailureText{"Unknown0", 0, "Unknown socks error."},
        FailureText{"Unknown89", 89, "Unknown socks error."},
        FailureText{"Unknown94", 94, "Unknown socks error."},
        FailureText{"Unknown255", 255, "Unknown socks error."}),
    by_name);

using Socks4Proxy = ProxyTest;

// The host is resolved after the connect to the proxy and before anything
// is sent on it.
TEST_F(Socks4Proxy, UnresolvableServerHostIsReportedBeforeSending) {
  proxy.on(0, Script());
  MessageBuffer message;
  EXPECT_EQ(0, through(kTcpConnect, message, "socks4", "", kUnresolvableHost));
  EXPECT_EQ(kSocksFailed + "Socket Error # 11001\r\nHost not found.", message.text());
  expect_connection_without_bytes();
}

// ------------------------------------------------------------ SOCKS5

struct Socks5RequestCase {
  const char *name;
  Bytes host;
  Bytes request;
};

void PrintTo(const Socks5RequestCase &c, std::ostream *os) { *os << c.name; }

std::vector<Socks5RequestCase> socks5_request_cases() {
  const Bytes port = bytes({0x12, 0x34});
  return {
      // A dotted address travels as text too; the proxy resolves it.
      {"DottedAddressAsText", "10.0.0.5", bytes({5, 1, 0, 3, 8}) + "10.0.0.5" + port},
      {"HostName", "platform.example.com", bytes({5, 1, 0, 3, 20}) + "platform.example.com" + port},
      {"HostOf255Bytes", Bytes(255, 'h'), bytes({5, 1, 0, 3, 255}) + Bytes(255, 'h') + port},
  };
}

class Socks5Request
    : public ProxyTest,
      public ::testing::WithParamInterface<std::tuple<Socks5RequestCase, ConnectTwin>> {};

// A user name and password are given, yet the greeting offers only "no
// authentication".
TEST_P(Socks5Request, IsExactAndTheGrantOpensTheTunnel) {
  const auto &[c, twin] = GetParam();
  proxy.on(0, Script()
                  .expect(kGreeting)
                  .send(kNoAuthentication)
                  .expect(c.request)
                  .send(kSocks5Granted)
                  .expect(kProbeRequest)
                  .send(kProbeAnswer));
  MessageBuffer message;
  ASSERT_EQ(1, through(twin, message, "socks5", "someone", c.host.c_str()));
  expect_success_message(twin, false, message);
  run_probe();
}

INSTANTIATE_TEST_SUITE_P(Socks5Proxy, Socks5Request,
                         ::testing::Combine(::testing::ValuesIn(socks5_request_cases()),
                                            ::testing::ValuesIn(kTwins)),
                         by_names);

// The bound address in a grant has the length its type says; all of it is
// consumed and nothing more, so that the first request finds the stream
// clean and its answer is the server's.
struct BoundAddressCase {
  const char *name;
  Bytes grant;
};

void PrintTo(const BoundAddressCase &c, std::ostream *os) { *os << c.name; }

class Socks5BoundAddress : public ProxyTest,
                           public ::testing::WithParamInterface<BoundAddressCase> {};

TEST_P(Socks5BoundAddress, IsConsumedExactly) {
  proxy.on(0, Script()
                  .expect(kGreeting)
                  .send(kNoAuthentication)
                  .expect(kSocks5Request)
                  .send(GetParam().grant)
                  .expect(kProbeRequest)
                  .send(kProbeAnswer));
  MessageBuffer message;
  ASSERT_EQ(1, through(kTcpConnect, message, "socks5"));
  run_probe();
}

std::vector<BoundAddressCase> bound_address_cases() {
  const Bytes port = bytes({0x1f, 0x90});
  const Bytes ipv6 = bytes({0x20, 0x01, 0x0d, 0xb8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  return {
      {"IPv4", bytes({5, 0, 0, 1, 192, 0, 2, 1}) + port},
      {"DomainName", bytes({5, 0, 0, 3, 11}) + "proxy.local" + port},
      {"EmptyDomainName", bytes({5, 0, 0, 3, 0}) + port},
      {"DomainNameOf255Bytes", bytes({5, 0, 0, 3, 255}) + Bytes(255, 'd') + port},
      {"IPv6", bytes({5, 0, 0, 4}) + ipv6 + port},
  };
}

INSTANTIATE_TEST_SUITE_P(Socks5Proxy, Socks5BoundAddress,
                         ::testing::ValuesIn(bound_address_cases()), by_name);

class Socks5Method : public ProxyTest, public ::testing::WithParamInterface<FailureText> {};

// Any method but "no authentication" ends the handshake before the
// connect request.
TEST_P(Socks5Method, OtherThanNoneIsRefused) {
  proxy.on(0, Script().expect(kGreeting).send(bytes({5, GetParam().code})));
  MessageBuffer message;
  EXPECT_EQ(0, through(kTcpConnect, message, "socks5", "user"));
  EXPECT_EQ(kSocksFailed + GetParam().text, message.text());
  EXPECT_TRUE(proxy.wait_closed(0));
  EXPECT_EQ(kGreeting, proxy.received(0));
}

INSTANTIATE_TEST_SUITE_P(
    Socks5Proxy, Socks5Method,
    ::testing::Values(FailureText{"NoAcceptable255", 255, "Invalid socks authentication method."},
                      FailureText{"UserPassword2", 2, "Invalid socks authentication method."},
                      FailureText{"Gssapi1", 1, "Invalid socks authentication method."}),
    by_name);

class Socks5Reply : public ProxyTest, public ::testing::WithParamInterface<FailureText> {};

TEST_P(Socks5Reply, FailsWithItsText) {
  proxy.on(0, Script()
                  .expect(kGreeting)
                  .send(kNoAuthentication)
                  .expect(kSocks5Request)
                  .send(bytes({5, GetParam().code, 0, 1, 192, 0, 2, 1, 0x1f, 0x90})));
  MessageBuffer message;
  EXPECT_EQ(0, through(kTcpConnect, message, "socks5"));
  EXPECT_EQ(kSocksFailed + GetParam().text, message.text());
  EXPECT_TRUE(proxy.wait_closed(0));
}

INSTANTIATE_TEST_SUITE_P(
    Socks5Proxy, Socks5Reply,
    ::testing::Values(FailureText{"GeneralFailure1", 1, "General SOCKS server failure."},
                      FailureText{"NotAllowed2", 2, "Connection not allowed by ruleset."},
                      FailureText{"NetworkUnreachable3", 3, "Network unreachable."},
                      FailureText{"HostUnreachable4", 4, "Host unreachable."},
                      FailureText{"Refused5", 5, "Connection refused."},
                      FailureText{"TtlExpired6", 6, "TTL expired."},
                      FailureText{"CommandNotSupported7", 7, "Command not supported."},
                      FailureText{"AddressTypeNotSupported8", 8, "Address type not supported."},
                      FailureText{"Unknown9", 9, "Unknown socks error."},
                      FailureText{"Unknown255", 255, "Unknown socks error."}),
    by_name);

using Socks5Proxy = ProxyTest;

// Where the server's bytes begin is unknown after a bound address of
// another type: the connect fails rather than guess.
TEST_F(Socks5Proxy, GrantWithAnUnknownAddressTypeFails) {
  const int types[] = {0, 2, 5, 255};
  for (size_t i = 0; i < std::size(types); ++i) {
    proxy.on(i,
             Script()
                 .expect(kGreeting)
                 .send(kNoAuthentication)
                 .expect(kSocks5Request)
                 .send_at_once({bytes({5, 0, 0, types[i], 1, 2, 3, 4, 0x1f, 0x90}), kProbeAnswer}));
    MessageBuffer message;
    EXPECT_EQ(0, through(kTcpConnect, message, "socks5")) << "address type " << types[i];
    EXPECT_EQ(kSocksFailed + "Socks server replied with an unknown address type.", message.text());
    EXPECT_TRUE(proxy.wait_closed(i));
  }
}

// A length byte cannot carry 256: refused before anything is sent.
TEST_F(Socks5Proxy, HostOf256BytesFailsBeforeSending) {
  proxy.on(0, Script());
  MessageBuffer message;
  EXPECT_EQ(0, through(kTcpConnect, message, "socks5", "", Bytes(256, 'h').c_str()));
  EXPECT_EQ(kSocksFailed + "Host name too long for SOCKS5 (at most 255 bytes).", message.text());
  expect_connection_without_bytes();
}

// ------------------------------------------------------------ broken handshakes

// A proxy that hangs up or falls silent half-way.  SOCKS5 reports every
// failed receive alike; SOCKS4 reports the connection's own error.
struct BrokenCase {
  const char *name;
  const char *kind;
  Script script;
  const char *text;
};

void PrintTo(const BrokenCase &c, std::ostream *os) { *os << c.name; }

std::vector<BrokenCase> broken_cases() {
  const Bytes request4 = kSocks4Head + bytes({0});
  const char *silent = "Socks server did not respond.";
  return {
      {"Socks5ClosesBeforeTheMethod", "socks5", Script().expect(kGreeting).close(), silent},
      {"Socks5ClosesInTheMethod", "socks5", Script().expect(kGreeting).send(bytes({5})).close(),
       silent},
      {"Socks5ResetsBeforeTheMethod", "socks5", Script().expect(kGreeting).reset(), silent},
      {"Socks5ClosesBeforeTheReply", "socks5",
       Script().expect(kGreeting).send(kNoAuthentication).expect(kSocks5Request).close(), silent},
      {"Socks5ClosesInTheReplyHead", "socks5",
       Script()
           .expect(kGreeting)
           .send(kNoAuthentication)
           .expect(kSocks5Request)
           .send(bytes({5, 0, 0}))
           .close(),
       silent},
      {"Socks5ClosesInTheBoundAddress", "socks5",
       Script()
           .expect(kGreeting)
           .send(kNoAuthentication)
           .expect(kSocks5Request)
           .send(bytes({5, 0, 0, 1, 192, 0}))
           .close(),
       silent},
      {"Socks5StallsBeforeTheMethod", "socks5", Script().expect(kGreeting).stall(), silent},
      {"Socks5StallsBeforeTheReply", "socks5",
       Script().expect(kGreeting).send(kNoAuthentication).expect(kSocks5Request).stall(), silent},
      {"Socks5StallsInTheBoundAddress", "socks5",
       Script()
           .expect(kGreeting)
           .send(kNoAuthentication)
           .expect(kSocks5Request)
           .send(bytes({5, 0, 0, 3, 16}) + "abc")
           .stall(),
       silent},
      {"Socks4ClosesBeforeTheReply", "socks4", Script().expect(request4).close(),
       "Connection Closed Gracefully."},
      {"Socks4ClosesInTheReply", "socks4",
       Script().expect(request4).send(bytes({0, 90, 0})).close(), "Connection Closed Gracefully."},
      {"Socks4Resets", "socks4", Script().expect(request4).reset(),
       "Socket Error # 10054\r\nConnection reset by peer."},
      {"Socks4Stalls", "socks4", Script().expect(request4).stall(), "Read timed out."},
      {"Socks4StallsInTheReply", "socks4", Script().expect(request4).send(bytes({0, 90})).stall(),
       "Read timed out."},
  };
}

class BrokenHandshake : public ProxyTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenHandshake, FailsInTime) {
  ASSERT_EQ(1, SetReadTimeout(200));
  proxy.on(0, GetParam().script);
  MessageBuffer message;
  const long took =
      elapsed_ms([&] { EXPECT_EQ(0, through(kTcpConnect, message, GetParam().kind)); });
  EXPECT_EQ(kSocksFailed + GetParam().text, message.text());
  EXPECT_LT(took, 3000);
  EXPECT_TRUE(proxy.wait_closed(0));
}

INSTANTIATE_TEST_SUITE_P(SocksProxy, BrokenHandshake, ::testing::ValuesIn(broken_cases()), by_name);

// ------------------------------------------------------------ HTTP CONNECT

class HttpRequest : public ProxyTest, public ::testing::WithParamInterface<ConnectTwin> {};

// The request line and one empty line, nothing more: whatever followed
// would reach the server through the tunnel ahead of the first record.
TEST_P(HttpRequest, IsOneLineAndOneEmptyLine) {
  const ConnectTwin &twin = GetParam();
  const Bytes line = std::string("CONNECT 10.1.2.3:4660 ") + twin.http_version + "\r\n\r\n";
  proxy.on(0, Script().expect(line).send(kHttpOk).expect(kProbeRequest).send(kProbeAnswer));
  MessageBuffer message;
  ASSERT_EQ(1, through(twin, message, "HTTP"));
  expect_success_message(twin, true, message);
  run_probe();
}

INSTANTIATE_TEST_SUITE_P(HttpProxy, HttpRequest, ::testing::ValuesIn(kTwins), by_name);

// Replies that open the tunnel: the status line (the first line that is not
// blank) has "200" after its fourth character, and the header after it
// ends at an empty line; the record behind it must come out whole.
struct HttpReplyCase {
  const char *name;
  Bytes reply;
};

void PrintTo(const HttpReplyCase &c, std::ostream *os) { *os << c.name; }

std::vector<HttpReplyCase> opening_replies() {
  return {
      {"StatusOnly", "HTTP/1.1 200 Connection established\r\n\r\n"},
      {"OneHeader", kHttpOk},
      {"LineFeedsOnly", "HTTP/1.0 200 OK\nVia: 1.1 scripted\nX-Second: 2\n\n"},
      {"BlankLinesAndBlanksAroundTheStatus", "\r\n \r\n\t HTTP/1.1 200 OK \t\r\n\r\n"},
      // A status line with "-" as its fourth character goes on to the line
      // that begins with its first three characters and a blank.
      {"ContinuedStatus",
       "200-tunnel 200 open\r\n200-second line\r\n200 last line\r\nVia: scripted\r\n\r\n"},
      // A line shorter than four characters ends the status too; the empty
      // line that ends the reply comes after it.
      {"ContinuedStatusEndsAtAShortLine", "200-tunnel 200 open\r\n\r\nVia: scripted\r\n\r\n"},
      {"HeaderOf16384Bytes", "HTTP/1.1 200 OK\r\nX: " + Bytes(16381, 'h') + "\n\n"},
  };
}

class HttpReplyOpens : public ProxyTest, public ::testing::WithParamInterface<HttpReplyCase> {};

TEST_P(HttpReplyOpens, TheTunnel) {
  proxy.on(0, Script()
                  .expect(kConnectLine11)
                  .send(GetParam().reply)
                  .expect(kProbeRequest)
                  .send(kProbeAnswer));
  MessageBuffer message;
  ASSERT_EQ(1, through(kTcpConnect, message, "http"));
  EXPECT_EQ(kConnected, message.text());
  run_probe();
}

INSTANTIATE_TEST_SUITE_P(HttpProxy, HttpReplyOpens, ::testing::ValuesIn(opening_replies()),
                         by_name);

// A line's limit counts its text, not the CR LF that ends it.
TEST_F(ProxyTest, HttpHeaderOf16384BytesEndingInCrLfOpensTheTunnel) {
  const Bytes reply = "HTTP/1.1 200 OK\r\nX: " + Bytes(16381, 'h') + "\r\n\r\n";
  proxy.on(0, Script().expect(kConnectLine11).send(reply).expect(kProbeRequest).send(kProbeAnswer));
  MessageBuffer message;
  ASSERT_EQ(1, through(kTcpConnect, message, "http")) << message.text();
  run_probe();
}

// Replies whose status code is not 200 refuse the tunnel, whatever else
// says "200"; the connection to the proxy is closed at once, so that
// nothing meant for the server (a login with its password) reaches the
// proxy, and nothing of the proxy's is read as the server's.
class HttpReplyRefuses : public ProxyTest, public ::testing::WithParamInterface<HttpReplyCase> {};

TEST_P(HttpReplyRefuses, TheTunnel) {
  proxy.on(0, Script().expect(kConnectLine11).send(GetParam().reply));
  MessageBuffer message;
  EXPECT_EQ(0, through(kTcpConnect, message, "http"));
  EXPECT_EQ(kHttpRefused, message.text());
  EXPECT_TRUE(proxy.wait_closed(0));
  EXPECT_EQ(0, Login_Request(kApp, kExtra, kName, kPwd, kVer));
  EXPECT_EQ(kConnectLine11, proxy.received(0));
}

INSTANTIATE_TEST_SUITE_P(
    HttpProxy, HttpReplyRefuses,
    ::testing::Values(
        HttpReplyCase{
            "ProxyAuthenticationRequired407",
            "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"200\"\r\n\r\n"},
        HttpReplyCase{"Forbidden403", "HTTP/1.1 403 Forbidden\r\n\r\n"},
        HttpReplyCase{"BadGateway502", "HTTP/1.0 502 Bad Gateway\r\nX-Code: 200\r\n\r\n"},
        HttpReplyCase{"BadGatewayNamingAPortWith200",
                      "HTTP/1.1 502 Cannot connect to 10.1.1.200:9000\r\n\r\n"},
        HttpReplyCase{"CodeOf2000", "HTTP/1.1 2000 OK\r\n\r\n"},
        HttpReplyCase{"NotHttp", "SSH-2.0-200\r\n\r\n"},
        HttpReplyCase{"ContinuedOtherCode", "abc-HTTP/1.1 200 OK\r\nabc-more\r\nABC end\r\n\r\n"},
        HttpReplyCase{
            "ContinuedRefusal",
            "407-authentication\r\n407-HTTP/1.1 200 would be too late\r\n407 end\r\n\r\n"}),
    by_name);

// Errors while talking to the proxy.  The read time-out is short here.
struct HttpErrorCase {
  const char *name;
  Script script;
  const char *text;
};

void PrintTo(const HttpErrorCase &c, std::ostream *os) { *os << c.name; }

// A reply whose lines, each short, add up to just past the 256 KiB that a
// proxy's whole reply may take (a line counts its text and one byte).
Bytes endless_header(const Bytes &status, const Bytes &line) {
  const auto counted_of = [](const Bytes &l) {
    return l.size() - (l.size() >= 2 && l[l.size() - 2] == '\r');
  };
  Bytes reply = status;
  size_t counted = status.empty() ? 0 : counted_of(status);
  while (counted <= 256 * 1024) reply += line, counted += counted_of(line);
  return reply;
}

std::vector<HttpErrorCase> http_error_cases() {
  const char *too_long = "Max line length exceeded.";
  const char *closed = "Connection Closed Gracefully.";
  const char *header_too_long = "Max header length exceeded.";
  return {
      {"EndlessHeaderLines",
       Script()
           .expect(kConnectLine11)
           .send(endless_header("HTTP/1.1 200 OK\r\n", "X: y\r\n"))
           .stall(),
       header_too_long},
      {"EndlessBlankLines",
       Script().expect(kConnectLine11).send(endless_header("", "\r\n")).stall(), header_too_long},
      {"StatusLineOf16385Bytes",
       Script().expect(kConnectLine11).send(Bytes(16385, 's') + "\r\n\r\n"), too_long},
      // The limit ends the wait for a line feed that is not coming.
      {"EndlessStatusLine", Script().expect(kConnectLine11).send(Bytes(40000, 's')).stall(),
       too_long},
      {"HeaderOf16385Bytes",
       Script().expect(kConnectLine11).send("HTTP/1.1 200 OK\r\nX: " + Bytes(16382, 'h') + "\n\n"),
       too_long},
      {"ClosesBeforeTheReply", Script().expect(kConnectLine11).close(), closed},
      {"ClosesInTheHeader",
       Script().expect(kConnectLine11).send("HTTP/1.1 200 OK\r\nVia: x\r\n").close(), closed},
      {"Resets", Script().expect(kConnectLine11).reset(),
       "Socket Error # 10054\r\nConnection reset by peer."},
      {"StallsBeforeTheReply", Script().expect(kConnectLine11).stall(), "Read timed out."},
      {"StallsInTheHeader",
       Script().expect(kConnectLine11).send("HTTP/1.1 200 OK\r\nVia: x\r\n").stall(),
       "Read timed out."},
  };
}

class HttpError : public ProxyTest, public ::testing::WithParamInterface<HttpErrorCase> {};

TEST_P(HttpError, IsReportedInTime) {
  // A limit ends the replies that are too long, not the clock: a slow
  // (sanitizer) build reading 256 KiB of lines must not turn them into
  // time-outs.
  const bool ended_by_limit = std::string(GetParam().text).rfind("Max ", 0) == 0;
  ASSERT_EQ(1, SetReadTimeout(ended_by_limit ? 2000 : 200));
  proxy.on(0, GetParam().script);
  MessageBuffer message;
  const long took = elapsed_ms([&] { EXPECT_EQ(0, through(kTcpConnect, message, "http")); });
  EXPECT_EQ(kHttpFailed + GetParam().text, message.text());
  EXPECT_LT(took, 3000);
}

INSTANTIATE_TEST_SUITE_P(HttpProxy, HttpError, ::testing::ValuesIn(http_error_cases()), by_name);

// ------------------------------------------------------------ path choice and state

// The proxy kind selects its handshake in any letter case.
struct KindCase {
  const char *name;
  const char *kind;
  Bytes first_bytes;
  const std::string *prefix;  // of the failure when the proxy hangs up
};

void PrintTo(const KindCase &c, std::ostream *os) { *os << c.name; }

class ProxyKind : public ProxyTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ProxyKind, SelectsItsHandshake) {
  proxy.on(0, Script().expect(GetParam().first_bytes).close());
  MessageBuffer message;
  EXPECT_EQ(0, through(kTcpConnect, message, GetParam().kind));
  EXPECT_EQ(0u, message.text().rfind(*GetParam().prefix, 0)) << message.text();
}

INSTANTIATE_TEST_SUITE_P(Proxy, ProxyKind,
                         ::testing::Values(KindCase{"SOCKS5", "SOCKS5", kGreeting, &kSocksFailed},
                                           KindCase{"Socks5", "Socks5", kGreeting, &kSocksFailed},
                                           KindCase{"SOCKS4", "SOCKS4", kSocks4Head + bytes({0}),
                                                    &kSocksFailed},
                                           KindCase{"HTTP", "HTTP", kConnectLine11, &kHttpFailed},
                                           KindCase{"Http", "Http", kConnectLine11, &kHttpFailed}),
                         by_name);

// A proxy that cannot be reached is reported with its path's prefix; on
// either proxy path the connect time-out bounds the connect to the proxy.
TEST_F(ProxyTest, UnreachableProxiesAreReportedOnTheirPath) {
  RefusingPort refusing;
  UnansweringTarget unanswering;
  const std::string refused = "Socket Error # 10061\r\nConnection refused.";
  struct Case {
    const char *kind;
    uint16_t port;
    int32_t timeout;
    std::string message;
  } cases[] = {
      {"socks4", refusing.port(), 2000, kSocksFailed + refused},
      {"socks5", refusing.port(), 2000, kSocksFailed + refused},
      {"http", refusing.port(), 2000, kHttpFailed + refused},
      {"socks5", unanswering.port(), 100, kSocksFailed + "Connect timed out."},
      {"http", unanswering.port(), 100, kHttpFailed + "Connect timed out."},
  };
  for (const Case &c : cases) {
    MessageBuffer message;
    const long took = elapsed_ms([&] {
      EXPECT_EQ(0, TcpConnect(message.get(), kTargetHost, kTargetPort, c.timeout, c.kind,
                              "127.0.0.1", c.port, "", ""));
    });
    EXPECT_EQ(c.message, message.text()) << c.kind << " via port " << c.port;
    EXPECT_LT(took, 2000);
  }
}

using ProxyState = ProxyTest;

// A second SOCKS connect while the first is open fails and leaves the
// first one working.
TEST_F(ProxyState, SocksConnectWhileConnectedThroughSocksFails) {
  proxy.on(0, socks5_opening().expect(kProbeRequest).send(kProbeAnswer));
  MessageBuffer first, second;
  ASSERT_EQ(1, through(kTcpConnect, first, "socks5"));
  EXPECT_EQ(0, through(kTcpConnect, second, "socks4"));
  EXPECT_EQ(kSocksFailed + "Already connected.", second.text());
  run_probe();
  EXPECT_EQ(1u, proxy.accepted());
}

// A direct or HTTP connect after a SOCKS connect does not go through the
// SOCKS proxy, and it closes the SOCKS connection.
class AfterSocks : public ProxyTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(AfterSocks, ConnectIsNotRoutedThroughSocksAndClosesIt) {
  const bool http = std::string(GetParam()) == "http";
  LoopbackServer next;
  next.on(0, (http ? http_opening() : Script()).expect(kProbeRequest).send(kProbeAnswer));
  proxy.on(0, socks5_opening());
  MessageBuffer message;
  ASSERT_EQ(1, through(kTcpConnect, message, "socks5"));

  if (http) {
    ASSERT_EQ(1, through(kTcpConnect, message, "http", "", kTargetHost, &next));
  } else {
    ASSERT_EQ(1, TcpConnect(message.get(), "127.0.0.1", next.port(), 2000, "", "127.0.0.1",
                            proxy.port(), "", ""));
  }
  EXPECT_EQ(kConnected, message.text());
  EXPECT_TRUE(proxy.wait_closed(0));
  run_probe();
  EXPECT_EQ(1u, proxy.accepted());
  EXPECT_EQ("", next.unfinished());
  EXPECT_EQ("", next.problems());
}

INSTANTIATE_TEST_SUITE_P(Proxy, AfterSocks, ::testing::Values("direct", "http"),
                         [](const auto &info) { return std::string(info.param); });

// ReLogin reconnects with the last connect that worked: the same proxy, the
// same user ID; a failed connect through another proxy changes nothing.
TEST_F(ProxyState, ReLoginGoesThroughTheLastWorkingSocksProxy) {
  LoopbackServer other;
  other.on(0, Script()
                  .expect(kGreeting)
                  .send(kNoAuthentication)
                  .expect(kSocks5Request)
                  .send(bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})));
  proxy.on(0, socks4_opening("relogin-user").expect(kLoginRecord).send(kAccepted));
  proxy.on(1, socks4_opening("relogin-user")
                  .expect(kLoginRecord)
                  .send(kAccepted)
                  .expect(kHeartbeat)
                  .send(kAccepted));
  MessageBuffer message;
  ASSERT_EQ(1, through(kTcpConnect, message, "socks4", "relogin-user"));
  login();
  ASSERT_EQ(1, TcpDisconnect());
  ASSERT_EQ(0, through(kTcpConnect, message, "socks5", "", kTargetHost, &other));
  EXPECT_EQ(kSocksFailed + "Connection refused.", message.text());

  EXPECT_EQ(1, ReLogin());
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ("", other.unfinished());
  EXPECT_EQ("", other.problems());
}

// ReLogin connects with TcpConnect, whichever twin made the saved connect:
// through the same HTTP proxy, with an HTTP/1.1 request line.
TEST_F(ProxyState, ReLoginThroughTheHttpProxyUsesTheRecordTwinsRequestLine) {
  proxy.on(0, http_opening(kConnectLine10).expect(kLoginRecord).send(kAccepted).close());
  proxy.on(1, http_opening(kConnectLine11)
                  .expect(kLoginRecord)
                  .send(kAccepted)
                  .expect(kHeartbeat)
                  .send(kAccepted));
  MessageBuffer message;
  ASSERT_EQ(1, through(kFxTcpConnect, message, "http"));
  EXPECT_EQ(kHttpOpened, message.text());
  login();
  EXPECT_TRUE(proxy.wait_closed(0));
  EXPECT_EQ(0, Heartbeat());  // fails on the closed tunnel and relogs in
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(2u, proxy.accepted());
}

}  // namespace
}  // namespace qvtest
