// Every fixed text of the simulator, defined once as the GBK bytes that go
// on the wire, with its readable form in the comment above it.
#pragma once

#include <string_view>

namespace qv::sim::texts {

// 欢迎使用Quorvex模拟平台!
inline constexpr std::string_view kWelcome = "\xBB\xB6\xD3\xAD\xCA\xB9\xD3\xC3Quorvex\xC4\xA3\xC4\xE2\xC6\xBD\xCC\xA8!";
// 密码错误,登录失败!
inline constexpr std::string_view kWrongPassword = "\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3,\xB5\xC7\xC2\xBC\xCA\xA7\xB0\xDC!";
// 帐号不存在!
inline constexpr std::string_view kUnknownAccount = "\xD5\xCA\xBA\xC5\xB2\xBB\xB4\xE6\xD4\xDA!";
// 尚未登录,请先登录!
inline constexpr std::string_view kNotLoggedIn = "\xC9\xD0\xCE\xB4\xB5\xC7\xC2\xBC,\xC7\xEB\xCF\xC8\xB5\xC7\xC2\xBC!";
// 未知的命令!
inline constexpr std::string_view kUnknownCommand = "\xCE\xB4\xD6\xAA\xB5\xC4\xC3\xFC\xC1\xEE!";
// 不支持的单位!
inline constexpr std::string_view kUnsupportedUnit = "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xC4\xB5\xA5\xCE\xBB!";
// 0:等待发送;1:正在发送;2:发送成功;3:发送失败;4:已取消
inline constexpr std::string_view kMsgStates = "0:\xB5\xC8\xB4\xFD\xB7\xA2\xCB\xCD;1:\xD5\xFD\xD4\xDA\xB7\xA2\xCB\xCD;2:\xB7\xA2\xCB\xCD\xB3\xC9\xB9\xA6;3:\xB7\xA2\xCB\xCD\xCA\xA7\xB0\xDC;4:\xD2\xD1\xC8\xA1\xCF\xFB";
// 1:新闻资讯;2:天气预报;3:生活服务;4:娱乐休闲;5:企业通知
inline constexpr std::string_view kInfoTypes = "1:\xD0\xC2\xCE\xC5\xD7\xCA\xD1\xB6;2:\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8;3:\xC9\xFA\xBB\xEE\xB7\xFE\xCE\xF1;4:\xD3\xE9\xC0\xD6\xD0\xDD\xCF\xD0;5:\xC6\xF3\xD2\xB5\xCD\xA8\xD6\xAA";
// 移动:134,135,136,137,138,139,147,150,151,152,157,158,159,182,183,184,187,188;联通:130,131,132,145,155,156,185,186;电信:133,153,180,181,189
inline constexpr std::string_view kMobileNum = "\xD2\xC6\xB6\xAF:134,135,136,137,138,139,147,150,151,152,157,158,159,182,183,184,187,188;\xC1\xAA\xCD\xA8:130,131,132,145,155,156,185,186;\xB5\xE7\xD0\xC5:133,153,180,181,189";
// 长度:11;首位:1;分隔符:,;每批最多:1000
inline constexpr std::string_view kNumRule = "\xB3\xA4\xB6\xC8:11;\xCA\xD7\xCE\xBB:1;\xB7\xD6\xB8\xF4\xB7\xFB:,;\xC3\xBF\xC5\xFA\xD7\xEE\xB6\xE0:1000";
// 帐号:
inline constexpr std::string_view kLabelAccount = "\xD5\xCA\xBA\xC5:";
// ;企业:
inline constexpr std::string_view kLabelCompany = ";\xC6\xF3\xD2\xB5:";
// ;编号:
inline constexpr std::string_view kLabelId = ";\xB1\xE0\xBA\xC5:";
// ;剩余条数:
inline constexpr std::string_view kLabelQuota = ";\xCA\xA3\xD3\xE0\xCC\xF5\xCA\xFD:";
// ;级别:
inline constexpr std::string_view kLabelLevel = ";\xBC\xB6\xB1\xF0:";
// ;彩信上限KB:
inline constexpr std::string_view kLabelMmsMax = ";\xB2\xCA\xD0\xC5\xC9\xCF\xCF\xDEKB:";
// 演示企业
inline constexpr std::string_view kDemoCompany = "\xD1\xDD\xCA\xBE\xC6\xF3\xD2\xB5";

}  // namespace qv::sim::texts
