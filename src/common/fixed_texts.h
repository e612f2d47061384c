// Every fixed text of the library, once, as the GBK bytes that reach the
// caller.  The readable form stands beside each one.
#pragma once

#include <string_view>

namespace qv::text {

struct FixedText {
  std::string_view gbk;       // bytes handed to the caller
  std::string_view readable;  // the same text in UTF-8, for people
};

// Connection outcomes.
extern const FixedText kTcpConnected;          // TCP连接成功
extern const FixedText kDirectConnectFailed;   // 直连远程服务器异常:
extern const FixedText kSocksProxyFailed;      // 通过socks代理服务器调用异常:
extern const FixedText kHttpProxyFailed;       // 通过http代理服务器调用异常:
extern const FixedText kHttpTunnelOpened;      // 通过http代理服务器连接服务器成功!
extern const FixedText kHttpTunnelRefused;     // 通过http代理服务器连接服务器失败!

// Record-protocol failure messages.
extern const FixedText kInfoTypeFailed;        // 查询服务器端的信息细分类型失败!
extern const FixedText kMmsMaxSizeFailed;      // 查询服务器端限定的彩信的大小失败!
extern const FixedText kNumRuleFailed;         // 查询服务器端的手机号码规则失败!
extern const FixedText kUdInfoFailed;          // 查询该帐号的参数时出现异常失败!
extern const FixedText kTextTooLong;           // 输入的文本过长!

// English error texts of the connection layer (identical in GBK and UTF-8).
inline constexpr std::string_view kNotConnected = "Not Connected";
inline constexpr std::string_view kClosedGracefully = "Connection Closed Gracefully.";
inline constexpr std::string_view kAlreadyConnected = "Already connected.";
inline constexpr std::string_view kConnectTimedOut = "Connect timed out.";
inline constexpr std::string_view kReadTimedOut = "Read timed out.";
inline constexpr std::string_view kMaxLineLength = "Max line length exceeded.";
inline constexpr std::string_view kNotInitialized = "Library not initialized.";
inline constexpr std::string_view kProxyUnavailable = "Proxy connections are not available in this build.";
// printf format of a sockets-layer error: number, CR LF, text.
inline constexpr const char *kSocketErrorFormat = "Socket Error # %d\r\n%s";

}  // namespace qv::text
