// Connecting directly: the messages, the timed connect, the choice of path
// and the saved arguments that ReLogin reconnects with.
#include "quorvex_fixture.h"

namespace qvtest {
namespace {

const std::string kConnected = gbk("TCP连接成功");
const std::string kDirectFailed = gbk("直连远程服务器异常:");

using ConnectFn = qv_bool(QV_CALL *)(char *, const char *, int32_t, int32_t, const char *,
                                     const char *, int32_t, const char *, const char *);

struct ConnectExport {
  const char *name;
  ConnectFn connect;
};

void PrintTo(const ConnectExport &e, std::ostream *os) { *os << e.name; }

// Both twins take the same direct path.
class DirectConnect : public QuorvexTest, public ::testing::WithParamInterface<ConnectExport> {
 protected:
  // The proxy arguments name a refusing port, so a wrongly chosen proxy path
  // cannot succeed.
  qv_bool connect(MessageBuffer &message, const char *host, uint16_t port, int32_t timeout,
                  const char *proxy_kind = "") {
    return GetParam().connect(message.get(), host, port, timeout, proxy_kind, "127.0.0.1",
                              no_proxy.port(), "u", "p");
  }
  RefusingPort no_proxy;
};

TEST_P(DirectConnect, SuccessIsReported) {
  MessageBuffer message;
  EXPECT_EQ(1, connect(message, "127.0.0.1", server.port(), 2000));
  EXPECT_EQ(kConnected, message.text());
  EXPECT_TRUE(server.wait_accepted(1));
}

TEST_P(DirectConnect, RefusedConnectNamesError10061) {
  RefusingPort refusing;
  MessageBuffer message;
  EXPECT_EQ(0, connect(message, "127.0.0.1", refusing.port(), 2000));
  EXPECT_EQ(kDirectFailed + "Socket Error # 10061\r\nConnection refused.", message.text());
}

TEST_P(DirectConnect, UnresolvableHostIsError11001) {
  MessageBuffer message;
  EXPECT_EQ(0, connect(message, kUnresolvableHost, 80, 2000));
  EXPECT_EQ(kDirectFailed + "Socket Error # 11001\r\nHost not found.", message.text());
}

TEST_P(DirectConnect, UnansweredConnectTimesOutInTime) {
  UnansweringTarget target;
  MessageBuffer message;
  long took = elapsed_ms([&] { EXPECT_EQ(0, connect(message, "127.0.0.1", target.port(), 100)); });
  EXPECT_EQ(kDirectFailed + "Connect timed out.", message.text());
  EXPECT_GE(took, 90);
  EXPECT_LT(took, 2000);
}

// "LOCALHOST" in any letter case is 127.0.0.1, never another address of
// the name (such as ::1), where nothing listens.
TEST_P(DirectConnect, LocalhostInAnyCaseIsTheLoopbackAddress) {
  MessageBuffer message;
  EXPECT_EQ(1, connect(message, "LocalHost", server.port(), 2000));
  EXPECT_TRUE(server.wait_accepted(1));
}

INSTANTIATE_TEST_SUITE_P(Twins, DirectConnect,
                         ::testing::Values(ConnectExport{"TcpConnect", TcpConnect},
                                           ConnectExport{"fxTcpConnect", fxTcpConnect}),
                         [](const auto &info) { return std::string(info.param.name); });

// Every time-out form connects to a listening server without delay.
class ConnectTimeout : public QuorvexTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(ConnectTimeout, ConnectsAtOnce) {
  MessageBuffer message;
  long took = elapsed_ms([&] {
    EXPECT_EQ(1,
              TcpConnect(message.get(), "127.0.0.1", server.port(), GetParam(), "", "", 0, "", ""));
  });
  EXPECT_EQ(kConnected, message.text());
  EXPECT_LT(took, 1000);
}

INSTANTIATE_TEST_SUITE_P(Forms, ConnectTimeout, ::testing::Values(0, -1, -2, 3000),
                         [](const auto &info) {
                           return info.param < 0 ? "minus" + std::to_string(-info.param)
                                                 : std::to_string(info.param);
                         });

// Only "socks4", "socks5" and "http" (any letter case, nothing trimmed)
// name a proxy; these all connect directly.
struct ProxyKindCase {
  const char *name;
  const char *kind;
};

void PrintTo(const ProxyKindCase &c, std::ostream *os) { *os << c.name; }

class DirectProxyKind : public QuorvexTest, public ::testing::WithParamInterface<ProxyKindCase> {};

TEST_P(DirectProxyKind, ConnectsDirectly) {
  RefusingPort no_proxy;
  MessageBuffer message;
  EXPECT_EQ(1, TcpConnect(message.get(), "127.0.0.1", server.port(), 2000, GetParam().kind,
                          "127.0.0.1", no_proxy.port(), "", ""));
  EXPECT_EQ(kConnected, message.text());
  EXPECT_TRUE(server.wait_accepted(1));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DirectProxyKind,
    ::testing::Values(ProxyKindCase{"LeadingBlank", " socks5"},
                      ProxyKindCase{"TrailingBlank", "http "}, ProxyKindCase{"Empty", ""},
                      ProxyKindCase{"Null", nullptr}, ProxyKindCase{"Other", "other"},
                      ProxyKindCase{"Socks", "socks"}, ProxyKindCase{"Https", "https"}),
    [](const auto &info) { return std::string(info.param.name); });

// A proxy kind in any letter case sends the connect to the proxy, never
// straight to the target.  (The proxy here hangs up at once.)
class ProxyKindSelected : public QuorvexTest,
                          public ::testing::WithParamInterface<ProxyKindCase> {};

TEST_P(ProxyKindSelected, ConnectGoesToTheProxy) {
  LoopbackServer proxy;
  proxy.on(0, Script().close());
  MessageBuffer message;
  EXPECT_EQ(0, TcpConnect(message.get(), "127.0.0.1", server.port(), 2000, GetParam().kind,
                          "127.0.0.1", proxy.port(), "", ""));
  EXPECT_TRUE(proxy.wait_accepted(1));
  EXPECT_NE(0u, message.text().find(kDirectFailed));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ProxyKindSelected,
                         ::testing::Values(ProxyKindCase{"Socks4", "socks4"},
                                           ProxyKindCase{"Socks5", "SOCKS5"},
                                           ProxyKindCase{"Http", "Http"}),
                         [](const auto &info) { return std::string(info.param.name); });

using Connect = QuorvexTest;

// A null message buffer refuses the call before anything is opened: the
// heartbeat must reach the first connection.
TEST_F(Connect, NullMessageOpensNothing) {
  server.on(0, Script().expect(kHeartbeat).send(kAccepted));
  EXPECT_EQ(0, TcpConnect(nullptr, "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
  EXPECT_EQ(0, fxTcpConnect(nullptr, "127.0.0.1", server.port(), 2000, "", "", 0, "", ""));
  connect_direct();
  EXPECT_EQ(1, Heartbeat());
}

TEST_F(Connect, FailedConnectKeepsTheLastWorkingServerForReLogin) {
  server.on(0, logged_in());
  server.on(1, logged_in());
  connect_and_login();
  RefusingPort refusing;
  MessageBuffer message;
  ASSERT_EQ(0, TcpConnect(message.get(), "127.0.0.1", refusing.port(), 2000, "", "", 0, "", ""));
  EXPECT_EQ(1, ReLogin());
}

// A new connect closes the previous connection, and its arguments (also
// when it is the XML twin's) become ReLogin's target.
TEST_F(Connect, NewConnectReplacesTheConnectionAndTheReLoginTarget) {
  LoopbackServer other;
  other.on(0, Script());
  other.on(1, logged_in());
  server.on(0, logged_in());
  connect_and_login();
  MessageBuffer message;
  ASSERT_EQ(1, fxTcpConnect(message.get(), "127.0.0.1", other.port(), 2000, "", "", 0, "", ""));
  EXPECT_EQ(kConnected, message.text());
  EXPECT_TRUE(server.wait_closed(0));
  EXPECT_EQ(1, ReLogin());
  EXPECT_EQ("", other.unfinished());
  EXPECT_EQ("", other.problems());
}

}  // namespace
}  // namespace qvtest
