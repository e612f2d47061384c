// The --proxy option: one proxy for every connect of a run, given as a URL
// (socks4://host:port, socks5://[user:pass@]host:port, http://host:port).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::cli {

// The proxy arguments of TcpConnect and fxTcpConnect, texts in GBK.
struct ProxyOption {
  std::string kind;  // "socks4", "socks5" or "http"
  std::string host;
  int32_t port = 0;
  std::string user;
  std::string password;
};

// Parses a proxy URL; user and password may be percent-encoded.  Throws
// StepError on a scheme other than the three, a missing host or a bad port.
ProxyOption parse_proxy(std::string_view url);

// The proxy of this run, null when there is none.  TcpConnect and
// fxTcpConnect steps that give no ProxyKind use it.
const ProxyOption *run_proxy();
void set_run_proxy(const ProxyOption &proxy);

// "socks5 proxy 127.0.0.1:1080 (user alice)" for notes.
std::string describe(const ProxyOption &proxy);

}  // namespace qv::cli
