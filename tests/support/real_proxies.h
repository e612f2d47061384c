// Real proxy servers from the system's packages, for tests that connect
// through them.  Each runs as a child process on a free loopback port, with
// a configuration written into a temporary directory of its own, and stops
// (with its whole process group) when the object goes.
//
//   RealProxy proxy(ProxyServer::Dante);
//   if (!proxy.missing().empty()) QV_MISSING(proxy_component(server), proxy.missing());
//   ASSERT_EQ("", proxy.failure());
//   ... connect through 127.0.0.1:proxy.port() ...
//   EXPECT_TRUE(proxy.wait_tunnels_to(server.port(), 2)) << proxy.log();
//
// Every proxy is configured to log each tunnel it opens, so a test can see
// that a connection really went through it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "loopback_server.h"

namespace qvtest {

enum class ProxyServer {
  Dante,       // SOCKS4 and SOCKS5
  Microsocks,  // SOCKS5
  Tinyproxy,   // HTTP CONNECT
};

const char *proxy_server_name(ProxyServer server);
// The name QUORVEX_ALLOW_MISSING gives it (tests/support/missing.sh).
const char *proxy_component(ProxyServer server);

class RealProxy {
 public:
  // Starts the proxy and returns once it accepts connections.
  explicit RealProxy(ProxyServer server);
  ~RealProxy();
  RealProxy(const RealProxy &) = delete;
  RealProxy &operator=(const RealProxy &) = delete;

  // Why the proxy could not be run at all (its program is not installed);
  // empty when it could.
  const std::string &missing() const { return missing_; }
  // Why an installed proxy did not start; empty when it runs.
  const std::string &failure() const { return failure_; }

  uint16_t port() const { return port_; }

  // Tunnels to 127.0.0.1:target_port that the proxy's log reports so far.
  size_t tunnels_to(uint16_t target_port) const;
  // Waits until the log reports at least n of them.
  bool wait_tunnels_to(uint16_t target_port, size_t n, Millis limit = kWaitLimit) const;
  // The proxy's log and error output, for failure messages.
  std::string log() const;

 private:
  bool launch(const std::string &program);
  bool wait_listening(Millis limit);
  void stop();
  void write_config() const;
  bool is_tunnel_line(const std::string &line, uint16_t target_port) const;

  ProxyServer server_;
  std::string missing_;
  std::string failure_;
  std::string dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace qvtest
