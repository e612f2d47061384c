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
// SOCKS handshake errors.
inline constexpr std::string_view kSocks4Rejected = "Request rejected or failed.";
inline constexpr std::string_view kSocks4CannotConnect = "Request rejected because SOCKS server cannot connect.";
inline constexpr std::string_view kSocks4UserIdMismatch =
    "Request rejected because the client program and identd report different user-ids.";
inline constexpr std::string_view kSocksUnknownError = "Unknown socks error.";
inline constexpr std::string_view kSocksNoResponse = "Socks server did not respond.";
inline constexpr std::string_view kSocksBadAuthMethod = "Invalid socks authentication method.";
inline constexpr std::string_view kSocks5GeneralFailure = "General SOCKS server failure.";
inline constexpr std::string_view kSocks5NotAllowed = "Connection not allowed by ruleset.";
inline constexpr std::string_view kSocks5NetworkUnreachable = "Network unreachable.";
inline constexpr std::string_view kSocks5HostUnreachable = "Host unreachable.";
inline constexpr std::string_view kSocks5Refused = "Connection refused.";
inline constexpr std::string_view kSocks5TtlExpired = "TTL expired.";
inline constexpr std::string_view kSocks5CommandNotSupported = "Command not supported.";
inline constexpr std::string_view kSocks5AddressTypeNotSupported = "Address type not supported.";
inline constexpr std::string_view kSocks5HostTooLong = "Host name too long for SOCKS5 (at most 255 bytes).";
inline constexpr std::string_view kSocks5UnknownAddressType = "Socks server replied with an unknown address type.";
inline constexpr std::string_view kNotInitialized = "Library not initialized.";
// printf format of a sockets-layer error: number, CR LF, text.
inline constexpr const char *kSocketErrorFormat = "Socket Error # %d\r\n%s";

}  // namespace qv::text
