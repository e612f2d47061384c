// Through real proxies from the system's packages (Dante for SOCKS4 and
// SOCKS5, microsocks for SOCKS5, tinyproxy for HTTP CONNECT): login, record
// exchanges and the relogin after the server drops the connection, with
// the server checking that it receives the records and nothing else.
#include <memory>
#include <vector>

#include "missing.h"
#include "proxy_paths.h"
#include "real_proxies.h"

namespace qvtest {
namespace {

// A proxy program and the proxy kind the library is told to use with it.
struct Route {
  const char *name;
  ProxyServer server;
  const char *kind;
};

const Route kRoutes[] = {
    {"DanteSocks4", ProxyServer::Dante, "socks4"},
    {"DanteSocks5", ProxyServer::Dante, "socks5"},
    {"MicrosocksSocks5", ProxyServer::Microsocks, "socks5"},
    {"TinyproxyHttp", ProxyServer::Tinyproxy, "http"},
};

void PrintTo(const Route &r, std::ostream *os) { *os << r.name; }

bool is_http(const Route &r) { return std::string(r.kind) == "http"; }

class RealProxyTest : public QuorvexTest {
 protected:
  // Starts the proxy; a program that is not installed fails the test, or
  // skips it where QUORVEX_ALLOW_MISSING lists it.
  void start(ProxyServer server) {
    proxy_ = std::make_unique<RealProxy>(server);
    if (!proxy_->missing().empty()) QV_MISSING(proxy_component(server), proxy_->missing());
    ASSERT_EQ("", proxy_->failure());
  }

  void TearDown() override {
    QuorvexTest::TearDown();
    proxy_.reset();
  }

  RealProxy &proxy() { return *proxy_; }

  qv_bool connect(const ConnectTwin &twin, MessageBuffer &message, const Route &route,
                  uint16_t server_port) {
    return twin.connect(message.get(), "127.0.0.1", server_port, 5000, route.kind, "127.0.0.1",
                        proxy().port(), "quorvex", "secret");
  }

  void login() {
    ASSERT_EQ(1, Login_Request(kApp, kExtra, kName, kPwd, kVer));
    int32_t code = kUnsetCode;
    MessageBuffer message;
    ParamBuffer p1, p2, p3;
    ASSERT_EQ(1, Login_Feedback(&code, message.get(), p1.get(), p2.get(), p3.get()));
    EXPECT_EQ(QV_CODE_ACCEPTED, code);
  }

 private:
  std::unique_ptr<RealProxy> proxy_;
};

class ThroughRealProxy : public RealProxyTest,
                         public ::testing::WithParamInterface<std::tuple<Route, ConnectTwin>> {
 protected:
  void SetUp() override {
    RealProxyTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) start(std::get<0>(GetParam()).server);
  }
};

TEST_P(ThroughRealProxy, LoginExchangesAndReLogin) {
  const auto &[route, twin] = GetParam();
  server.on(0, logged_in()
                   .expect(kHeartbeat)
                   .send(kAccepted)
                   .expect(kProbeRequest)
                   .send(kProbeAnswer)
                   .close());
  server.on(1, logged_in().expect(kHeartbeat).send(kAccepted));

  MessageBuffer message;
  ASSERT_EQ(1, connect(twin, message, route, server.port())) << message.text() << "\n"
                                                             << proxy().log();
  expect_success_message(twin, is_http(route), message);
  EXPECT_TRUE(proxy().wait_tunnels_to(server.port(), 1)) << proxy().log();
  login();
  EXPECT_EQ(1, Heartbeat());
  run_probe();

  // The server drops the connection: the next command fails, and its
  // relogin goes through the proxy again.
  ASSERT_TRUE(server.wait_closed(0));
  EXPECT_EQ(0, Heartbeat());
  EXPECT_TRUE(proxy().wait_tunnels_to(server.port(), 2)) << proxy().log();
  EXPECT_EQ(1, Heartbeat());
  EXPECT_EQ(2u, server.accepted());

  // Every byte the server read belongs to a record.
  ASSERT_EQ(1, TcpDisconnect());
  EXPECT_TRUE(server.wait_closed(1));
  EXPECT_EQ(kLoginRecord + kHeartbeat + kProbeRequest, server.received(0));
  EXPECT_EQ(kLoginRecord + kHeartbeat, server.received(1));
}

INSTANTIATE_TEST_SUITE_P(RealProxy, ThroughRealProxy,
                         ::testing::Combine(::testing::ValuesIn(kRoutes),
                                            ::testing::ValuesIn(kTwins)),
                         [](const auto &info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::get<1>(info.param).name;
                         });

// A server that refuses the proxy's connect: each proxy says so in its own
// protocol, and the library reports it on the proxy's path.
class RealProxyRefusal : public RealProxyTest, public ::testing::WithParamInterface<Route> {
 protected:
  void SetUp() override {
    RealProxyTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) start(GetParam().server);
  }
};

TEST_P(RealProxyRefusal, IsReportedOnTheProxysPath) {
  RefusingPort refusing;
  MessageBuffer message;
  EXPECT_EQ(0, connect(kTcpConnect, message, GetParam(), refusing.port()));
  std::string expected;
  if (is_http(GetParam()))
    expected = kHttpRefused;
  else if (std::string(GetParam().kind) == "socks4")
    expected = kSocksFailed + "Request rejected or failed.";  // SOCKS4 has no other refusal
  else
    expected = kSocksFailed + "Connection refused.";
  EXPECT_EQ(expected, message.text()) << proxy().log();
}

INSTANTIATE_TEST_SUITE_P(RealProxy, RealProxyRefusal, ::testing::ValuesIn(kRoutes),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvtest
