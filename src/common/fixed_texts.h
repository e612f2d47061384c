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
extern const FixedText kTcpConnected;         // TCP连接成功
extern const FixedText kDirectConnectFailed;  // 直连远程服务器异常:
extern const FixedText kSocksProxyFailed;     // 通过socks代理服务器调用异常:
extern const FixedText kHttpProxyFailed;      // 通过http代理服务器调用异常:
extern const FixedText kHttpTunnelOpened;     // 通过http代理服务器连接服务器成功!
extern const FixedText kHttpTunnelRefused;    // 通过http代理服务器连接服务器失败!

// Record-protocol failure messages.
extern const FixedText kInfoTypeFailed;        // 查询服务器端的信息细分类型失败!
extern const FixedText kMmsMaxSizeFailed;      // 查询服务器端限定的彩信的大小失败!
extern const FixedText kNumRuleFailed;         // 查询服务器端的手机号码规则失败!
extern const FixedText kUdInfoFailed;          // 查询该帐号的参数时出现异常失败!
extern const FixedText kTextTooLong;           // 输入的文本过长!
extern const FixedText kPasswordsDiffer;       // 两次输入的密码不一致!
extern const FixedText kEditPasswordFailed;    // 修改密码异常失败!
extern const FixedText kAddSubUserFailed;      // 添加子帐号异常失败!
extern const FixedText kDisableSubUserFailed;  // 禁用(或启用)子帐号异常失败!
extern const FixedText
    kIncreaseSubBuyFailed;  // 把父帐号的某定单的部分购买数量转移到子帐号相应定单上异常失败!
extern const FixedText
    kReduceSubBuyFailed;  // 把子帐号的某定单的部分购买数量转移到父帐号相应定单上异常失败!
extern const FixedText kFindAllSubsFailed;     // 查找所有的子帐号异常失败!
extern const FixedText kFindAllEmplyeeFailed;  // 查找所有的销售经理失败!
extern const FixedText kTransferFailed;     // 传输大数据用的专用传输函数异常失败!
extern const FixedText kFindSubInfoFailed;  // 查找某个子帐号信息异常失败!
extern const FixedText kFindSubAllOrdersFailed;  // 查找某个子帐号的所有定单异常失败!
extern const FixedText kFindSubOrderInfoFailed;  // 查找某个子帐号的某个定单异常失败!
extern const FixedText kEditSubPwdFailed;        // 修改子帐号的密码异常失败!
extern const FixedText kAddSubGwNumFailed;       // 添加子帐号的接入号码异常失败!
extern const FixedText kDelSubGwNumFailed;       // 删除子帐号的接入号码异常失败!
extern const FixedText kClientInfoFailed;        // 客户信息查询异常失败!
extern const FixedText kAllProductIdFailed;      // 查询公司所有产品编号异常失败!
extern const FixedText kCltProductIdFailed;      // 查询客户端产品异常失败!
extern const FixedText kProductInfoFailed;       // 某种产品信息异常失败!
extern const FixedText kInfoPackStatusFailed;    // 某个信息包的发送报告异常失败!
extern const FixedText kGetMessageFailed;        // 查询公司的通知信息异常失败!
extern const FixedText kLastDetailsFailed;  // 查询客户最近20条信息以内的定单明细异常失败!
extern const FixedText kGetProductLenFailed;  // 得到产品的字数长度的命令异常失败!
extern const FixedText kPQOrderListFailed;    // 排期定单列表请求命令异常失败!
extern const FixedText kPQOrderInfoFailed;    // 排期定单明细请求命令异常失败!
extern const FixedText kPQAbilityUrlFailed;   // 排期发送能力URL的请求命令异常失败!
extern const FixedText kSubmitAllClearFailed;  // 清空服务器端上次的垃圾数据异常失败!
extern const FixedText kSubmitPrdIdFailed;     // 提交数据字段（产品编号）异常失败!
extern const FixedText kSubmitTelListFailed;  // 提交数据字段（手机号码）异常失败!
extern const FixedText kSubmitTelNumFailed;  // 提交数据字段（手机号码数量）异常失败!
extern const FixedText kSubmitContentFailed;  // 提交数据字段（信息内容）异常失败!
extern const FixedText kCheckContentFailed;   // 验证信息内容关键字异常失败!
extern const FixedText kSubmitPushUrlFailed;  // 提交数据字段（URL 地址）异常失败!
extern const FixedText kSubmitBgnDateFailed;  // 提交数据字段（开始日期）异常失败!
extern const FixedText
    kSubmitBgnDateExFailed;  // 提交数据字段（排期专用的生效日期和时间段）异常失败!
extern const FixedText kSubmitEndDateFailed;  // 提交数据字段（结束日期）异常失败!
extern const FixedText kSubmitBgnTimeFailed;  // 提交数据字段（开始时间）异常失败!
extern const FixedText kSubmitEndTimeFailed;  // 提交数据字段（结束时间）异常失败!
extern const FixedText kSubmitTransFilenameFailed;  // 提交数据字段（文件名称）异常失败!
extern const FixedText kSubmitTransFileFailed;  // 提交数据字段（文件内容）异常失败!
extern const FixedText kSubmitPQOrderSelectFailed;  // 提交排期定单编号异常失败!
extern const FixedText kSubmitAllOverFailed;        // 总提交命令异常失败!
extern const FixedText kSubmitAllOverExFailed;      // 排期专用总提交命令异常失败!
extern const FixedText kContentPreviewFailed;       // 内容预览命令异常失败!
extern const FixedText kGetSJKHDParamsFailed;   // 从服务器获取商家客户端参数失败!
extern const FixedText kGetSJKHDBidFailed;      // 从服务器获取商家客户Bid失败!
extern const FixedText kCheckSMSContentFailed;  // 验证内容的合法性时出现异常失败!
extern const FixedText kClientGuiControlFailed;  // 返回服务器端帐号中的界面控制参数出现异常失败!

// XML-protocol messages.
extern const FixedText kLoginReplyEmpty;        // 读取登录信息为空！
extern const FixedText kLoginReplyReadFailed;   // 读取登录信息异常失败！
extern const FixedText kLoginReplyParseFailed;  // 解析登录信息异常失败！
extern const FixedText kFxMsgStatesFailed;  // 查询服务器端设置的记录状态种类异常失败
extern const FixedText kFxInfoTypeFailed;  // 查询服务器端设置的信息详细分类型异常失败
extern const FixedText kFxNumRuleFailed;  // 查询服务器端设置的正则表达式异常失败
extern const FixedText kFxNotifyFailed;   // 查询公司的通知信息异常失败
extern const FixedText kFeedbackEmpty;    // 读取反馈信息为空！
extern const FixedText kFeedbackReadFailed;  // 读取反馈信息异常失败！
extern const FixedText kXmlParseFailed;      // 解析XML异常失败！

// Carrier words of the carrier list that number classification reads.
extern const FixedText kCarrierMobile;  // ,移动
extern const FixedText kCarrierUnicom;  // ,联通

// English error texts of the connection layer (identical in GBK and UTF-8).
inline constexpr std::string_view kNotConnected = "Not Connected";
inline constexpr std::string_view kClosedGracefully = "Connection Closed Gracefully.";
inline constexpr std::string_view kAlreadyConnected = "Already connected.";
inline constexpr std::string_view kConnectTimedOut = "Connect timed out.";
inline constexpr std::string_view kReadTimedOut = "Read timed out.";
inline constexpr std::string_view kWriteTimedOut = "Write timed out.";
// A wait ended because the host disconnected or released from another thread.
inline constexpr std::string_view kDisconnectedByHost = "Disconnected by the host.";
inline constexpr std::string_view kJobCancelled = "Cancelled by the host.";
inline constexpr std::string_view kAccountBusy = "Another job of this account is being sent.";
inline constexpr std::string_view kAccountWaitTimedOut =
    "Timed out waiting for another job of this account.";
// Bytes that no request asked for were waiting when a request was about to
// go out: the stream is out of step.
inline constexpr std::string_view kUnrequestedData = "Unrequested data from the server.";
inline constexpr std::string_view kMaxLineLength = "Max line length exceeded.";
inline constexpr std::string_view kMaxHeaderLength = "Max header length exceeded.";
// SOCKS handshake errors.
inline constexpr std::string_view kSocks4Rejected = "Request rejected or failed.";
inline constexpr std::string_view kSocks4CannotConnect =
    "Request rejected because SOCKS server cannot connect.";
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
inline constexpr std::string_view kSocks5HostTooLong =
    "Host name too long for SOCKS5 (at most 255 bytes).";
inline constexpr std::string_view kSocks5UnknownAddressType =
    "Socks server replied with an unknown address type.";
inline constexpr std::string_view kNotInitialized = "Library not initialized.";
// printf format of a sockets-layer error: number, CR LF, text.
inline constexpr const char *kSocketErrorFormat = "Socket Error # %d\r\n%s";

// Carrier names that the settings file maps to its keys.
extern const FixedText kCarrierTelecom;  // 电信
extern const FixedText kCarrierNetcom;   // 网通

// The About dialog and the message box.
extern const FixedText kAboutFormCaption;   // FormAbout
extern const FixedText kAboutFormFont;      // MS Sans Serif
extern const FixedText kAboutLabelCaption;  // DLL介绍
extern const FixedText kAboutLabelFont;     // 宋体
extern const FixedText kAboutMemoLine1;     // 该Quorvex是专为方便客户端开发而设
extern const FixedText kAboutMemoLine2;     // 计的,目前版本为1.0,,欢迎使用。
extern const FixedText kMessageBoxTitle;    // Quorvex
extern const FixedText kMessageBoxButton;   // OK

}  // namespace qv::text
