// What the proxy tests share: the two connect exports as rows of data, the
// messages of the proxy paths (written here in readable form, converted to
// GBK independently of the library), and a probe exchange that shows the
// tunnel carries records.
#pragma once

#include <optional>
#include <string>

#include "quorvex_fixture.h"

namespace qvtest {

inline const std::string kConnected = gbk("TCP连接成功");
inline const std::string kSocksFailed = gbk("通过socks代理服务器调用异常:");
inline const std::string kHttpFailed = gbk("通过http代理服务器调用异常:");
inline const std::string kHttpOpened = gbk("通过http代理服务器连接服务器成功!");
inline const std::string kHttpRefused = gbk("通过http代理服务器连接服务器失败!");

using ConnectFn = qv_bool(QV_CALL *)(char *, const char *, int32_t, int32_t, const char *,
                                     const char *, int32_t, const char *, const char *);

// TcpConnect and fxTcpConnect differ on the proxy paths only in the HTTP
// version of the CONNECT line and in the message a success leaves.
struct ConnectTwin {
  const char *name;
  ConnectFn connect;
  const char *http_version;  // of the CONNECT request line
};

inline const ConnectTwin kTcpConnect{"TcpConnect", TcpConnect, "HTTP/1.1"};
inline const ConnectTwin kFxTcpConnect{"fxTcpConnect", fxTcpConnect, "HTTP/1.0"};
inline const ConnectTwin kTwins[] = {kTcpConnect, kFxTcpConnect};

inline void PrintTo(const ConnectTwin &t, std::ostream *os) { *os << t.name; }

// The message a successful connect through a proxy leaves; nullopt: the
// buffer stays untouched.
inline std::optional<std::string> success_message(const ConnectTwin &twin, bool http) {
  if (twin.connect == TcpConnect) return kConnected;
  if (http) return kHttpOpened;
  return std::nullopt;
}

inline void expect_success_message(const ConnectTwin &twin, bool http,
                                   const MessageBuffer &message) {
  if (auto expected = success_message(twin, http))
    EXPECT_EQ(*expected, message.text());
  else
    EXPECT_TRUE(message.untouched()) << "message: " << message.text();
}

// One record exchange through the tunnel: MMSMaxSize with a text that the
// server checks byte for byte, answered with texts the caller must get back
// unshifted.
inline const Bytes kProbeRequest = rec::make(104, "probe through the proxy", "p1");
inline const Bytes kProbeAnswer = rec::make(QV_CODE_ACCEPTED, "answer through the proxy", "51200");

inline void run_probe() {
  int32_t code = kUnsetCode;
  MessageBuffer message;
  ParamBuffer param;
  ASSERT_EQ(1, MMSMaxSize(&code, message.get(), param.get(), "probe through the proxy", "p1"));
  EXPECT_EQ(QV_CODE_ACCEPTED, code);
  EXPECT_EQ("answer through the proxy", message.text());
  EXPECT_EQ("51200", param.text());
}

}  // namespace qvtest
