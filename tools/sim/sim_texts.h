// Every fixed text of the simulator, defined once as the GBK bytes that go
// on the wire, with its readable form in the comment above it.
#pragma once

#include <string_view>

namespace qv::sim::texts {

// ---- Login and the foundation's answers

// 欢迎使用Quorvex模拟平台!
inline constexpr std::string_view kWelcome =
    "\xBB\xB6\xD3\xAD\xCA\xB9\xD3\xC3Quorvex\xC4\xA3\xC4\xE2\xC6\xBD\xCC\xA8!";
// 密码错误,登录失败!
inline constexpr std::string_view kWrongPassword =
    "\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3,\xB5\xC7\xC2\xBC\xCA\xA7\xB0\xDC!";
// 帐号不存在!
inline constexpr std::string_view kUnknownAccount = "\xD5\xCA\xBA\xC5\xB2\xBB\xB4\xE6\xD4\xDA!";
// 尚未登录,请先登录!
inline constexpr std::string_view kNotLoggedIn =
    "\xC9\xD0\xCE\xB4\xB5\xC7\xC2\xBC,\xC7\xEB\xCF\xC8\xB5\xC7\xC2\xBC!";
// 未知的命令!
inline constexpr std::string_view kUnknownCommand = "\xCE\xB4\xD6\xAA\xB5\xC4\xC3\xFC\xC1\xEE!";
// 不支持的单位!
inline constexpr std::string_view kUnsupportedUnit =
    "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xC4\xB5\xA5\xCE\xBB!";
// 登录请求缺少name、pwd或key元素!
inline constexpr std::string_view kFxBadLogin =
    "\xB5\xC7\xC2\xBC\xC7\xEB\xC7\xF3\xC8\xB1\xC9\xD9name\xA1\xA2pwd\xBB\xF2key\xD4\xAA\xCB\xD8!";

// ---- Reference lists

// 0:等待发送;1:正在发送;2:发送成功;3:发送失败;4:已取消
inline constexpr std::string_view kMsgStates =
    "0:\xB5\xC8\xB4\xFD\xB7\xA2\xCB\xCD;1:\xD5\xFD\xD4\xDA\xB7\xA2\xCB\xCD;2:\xB7\xA2\xCB\xCD\xB3\xC9\xB9\xA6;3:\xB7\xA2\xCB\xCD\xCA\xA7\xB0\xDC;4:\xD2\xD1\xC8\xA1\xCF\xFB";
// 1:新闻资讯;2:天气预报;3:生活服务;4:娱乐休闲;5:企业通知
inline constexpr std::string_view kInfoTypes =
    "1:\xD0\xC2\xCE\xC5\xD7\xCA\xD1\xB6;2:\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8;3:\xC9\xFA\xBB\xEE\xB7\xFE\xCE\xF1;4:\xD3\xE9\xC0\xD6\xD0\xDD\xCF\xD0;5:\xC6\xF3\xD2\xB5\xCD\xA8\xD6\xAA";
// 移动:134,135,136,137,138,139,147,150,151,152,157,158,159,182,183,184,187,188;联通:130,131,132,145,155,156,185,186;电信:133,153,180,181,189
inline constexpr std::string_view kMobileNum =
    "\xD2\xC6\xB6\xAF:134,135,136,137,138,139,147,150,151,152,157,158,159,182,183,184,187,188;\xC1\xAA\xCD\xA8:130,131,132,145,155,156,185,186;\xB5\xE7\xD0\xC5:133,153,180,181,189";
// 长度:11;首位:1;分隔符:,;每批最多:1000
inline constexpr std::string_view kNumRule =
    "\xB3\xA4\xB6\xC8:11;\xCA\xD7\xCE\xBB:1;\xB7\xD6\xB8\xF4\xB7\xFB:,;\xC3\xBF\xC5\xFA\xD7\xEE\xB6\xE0:1000";
// 移动:^1(3[4-9]|47|5[0-27-9]|8[2-478])\d{8}$;联通:^1(3[0-2]|45|5[56]|8[56])\d{8}$;电信:^1(33|53|8[019])\d{8}$
inline constexpr std::string_view kNumberPatterns =
    "\xD2\xC6\xB6\xAF:^1(3[4-9]|47|5[0-27-9]|8[2-478])\\d{8}$;\xC1\xAA\xCD\xA8:^1(3[0-2]|45|5[56]|8[56])\\d{8}$;\xB5\xE7\xD0\xC5:^1(33|53|8[019])\\d{8}$";
// 其他
inline constexpr std::string_view kCarrierOther = "\xC6\xE4\xCB\xFB";

// ---- Labels of "label:value" answers

// 帐号
inline constexpr std::string_view kLabelAccount = "\xD5\xCA\xBA\xC5";
// 企业
inline constexpr std::string_view kLabelCompany = "\xC6\xF3\xD2\xB5";
// 编号
inline constexpr std::string_view kLabelId = "\xB1\xE0\xBA\xC5";
// 剩余条数
inline constexpr std::string_view kLabelQuota = "\xCA\xA3\xD3\xE0\xCC\xF5\xCA\xFD";
// 级别
inline constexpr std::string_view kLabelLevel = "\xBC\xB6\xB1\xF0";
// 彩信上限KB
inline constexpr std::string_view kLabelMmsMax = "\xB2\xCA\xD0\xC5\xC9\xCF\xCF\xDEKB";
// 联系人
inline constexpr std::string_view kLabelContact = "\xC1\xAA\xCF\xB5\xC8\xCB";
// 电话
inline constexpr std::string_view kLabelPhone = "\xB5\xE7\xBB\xB0";
// 接入号
inline constexpr std::string_view kLabelAccessNumber = "\xBD\xD3\xC8\xEB\xBA\xC5";
// 接入号码
inline constexpr std::string_view kLabelAccessNumbers = "\xBD\xD3\xC8\xEB\xBA\xC5\xC2\xEB";
// 子帐号数
inline constexpr std::string_view kLabelSubCount = "\xD7\xD3\xD5\xCA\xBA\xC5\xCA\xFD";
// 产品
inline constexpr std::string_view kLabelProducts = "\xB2\xFA\xC6\xB7";
// 产品
inline constexpr std::string_view kLabelProduct = "\xB2\xFA\xC6\xB7";
// 名称
inline constexpr std::string_view kLabelName = "\xC3\xFB\xB3\xC6";
// 类型
inline constexpr std::string_view kLabelKind = "\xC0\xE0\xD0\xCD";
// 字数上限
inline constexpr std::string_view kLabelMaxChars = "\xD7\xD6\xCA\xFD\xC9\xCF\xCF\xDE";
// 计费字数
inline constexpr std::string_view kLabelSegmentChars = "\xBC\xC6\xB7\xD1\xD7\xD6\xCA\xFD";
// 单价(分)
inline constexpr std::string_view kLabelPrice = "\xB5\xA5\xBC\xDB(\xB7\xD6)";
// 已订购
inline constexpr std::string_view kLabelOrdered = "\xD2\xD1\xB6\xA9\xB9\xBA";
// 定单
inline constexpr std::string_view kLabelOrder = "\xB6\xA8\xB5\xA5";
// 父帐号剩余
inline constexpr std::string_view kLabelParentLeft = "\xB8\xB8\xD5\xCA\xBA\xC5\xCA\xA3\xD3\xE0";
// 子帐号数量
inline constexpr std::string_view kLabelSubQuantity = "\xD7\xD3\xD5\xCA\xBA\xC5\xCA\xFD\xC1\xBF";
// 状态
inline constexpr std::string_view kLabelState = "\xD7\xB4\xCC\xAC";
// 创建
inline constexpr std::string_view kLabelCreated = "\xB4\xB4\xBD\xA8";
// 定单数
inline constexpr std::string_view kLabelOrderCount = "\xB6\xA8\xB5\xA5\xCA\xFD";
// 数量
inline constexpr std::string_view kLabelQuantity = "\xCA\xFD\xC1\xBF";
// 总量
inline constexpr std::string_view kLabelQuantityTotal = "\xD7\xDC\xC1\xBF";
// 已用
inline constexpr std::string_view kLabelUsed = "\xD2\xD1\xD3\xC3";
// 生效
inline constexpr std::string_view kLabelEffective = "\xC9\xFA\xD0\xA7";
// 时段
inline constexpr std::string_view kLabelWindow = "\xCA\xB1\xB6\xCE";
// 任务列表
inline constexpr std::string_view kLabelJobs = "\xC8\xCE\xCE\xF1\xC1\xD0\xB1\xED";
// 任务
inline constexpr std::string_view kLabelJob = "\xC8\xCE\xCE\xF1";
// 提交
inline constexpr std::string_view kLabelSubmitted = "\xCC\xE1\xBD\xBB";
// 号码数
inline constexpr std::string_view kLabelNumberCount = "\xBA\xC5\xC2\xEB\xCA\xFD";
// 成功
inline constexpr std::string_view kLabelSent = "\xB3\xC9\xB9\xA6";
// 失败
inline constexpr std::string_view kLabelFailed = "\xCA\xA7\xB0\xDC";
// 等待
inline constexpr std::string_view kLabelWaiting = "\xB5\xC8\xB4\xFD";
// 字数
inline constexpr std::string_view kLabelChars = "\xD7\xD6\xCA\xFD";
// 条数
inline constexpr std::string_view kLabelSegments = "\xCC\xF5\xCA\xFD";
// 关键字
inline constexpr std::string_view kLabelKeyword = "\xB9\xD8\xBC\xFC\xD7\xD6";
// 商户编号
inline constexpr std::string_view kLabelMerchant = "\xC9\xCC\xBB\xA7\xB1\xE0\xBA\xC5";
// 版本
inline constexpr std::string_view kLabelVersion = "\xB0\xE6\xB1\xBE";
// 发送
inline constexpr std::string_view kLabelSending = "\xB7\xA2\xCB\xCD";
// 排期
inline constexpr std::string_view kLabelScheduling = "\xC5\xC5\xC6\xDA";
// 子帐号
inline constexpr std::string_view kLabelSubAccounts = "\xD7\xD3\xD5\xCA\xBA\xC5";
// 彩信
inline constexpr std::string_view kLabelMms = "\xB2\xCA\xD0\xC5";
// 报表
inline constexpr std::string_view kLabelReports = "\xB1\xA8\xB1\xED";
// 本次
inline constexpr std::string_view kLabelAdded = "\xB1\xBE\xB4\xCE";
// 合计
inline constexpr std::string_view kLabelTotal = "\xBA\xCF\xBC\xC6";
// 本次字节
inline constexpr std::string_view kLabelAddedBytes = "\xB1\xBE\xB4\xCE\xD7\xD6\xBD\xDA";
// 合计字节
inline constexpr std::string_view kLabelTotalBytes = "\xBA\xCF\xBC\xC6\xD7\xD6\xBD\xDA";
// 排期定单
inline constexpr std::string_view kLabelScheduledOrders = "\xC5\xC5\xC6\xDA\xB6\xA8\xB5\xA5";

// ---- Values

// 启用
inline constexpr std::string_view kEnabled = "\xC6\xF4\xD3\xC3";
// 禁用
inline constexpr std::string_view kDisabled = "\xBD\xFB\xD3\xC3";
// 子用户
inline constexpr std::string_view kKindUser = "\xD7\xD3\xD3\xC3\xBB\xA7";
// 子帐号
inline constexpr std::string_view kKindAccount = "\xD7\xD3\xD5\xCA\xBA\xC5";
// 是
inline constexpr std::string_view kYes = "\xCA\xC7";
// 否
inline constexpr std::string_view kNo = "\xB7\xF1";
// 无
inline constexpr std::string_view kNone = "\xCE\xDE";
// 有效
inline constexpr std::string_view kValid = "\xD3\xD0\xD0\xA7";
// 已过期
inline constexpr std::string_view kExpired = "\xD2\xD1\xB9\xFD\xC6\xDA";
// 演示企业
inline constexpr std::string_view kDemoCompany = "\xD1\xDD\xCA\xBE\xC6\xF3\xD2\xB5";
// 王先生
inline constexpr std::string_view kClientContact = "\xCD\xF5\xCF\xC8\xC9\xFA";
// 【
inline constexpr std::string_view kSignOpen = "\xA1\xBE";
// 】
inline constexpr std::string_view kSignClose = "\xA1\xBF";
// http://pq.quorvex.example/ability?account=
inline constexpr std::string_view kSchedulingUrl = "http://pq.quorvex.example/ability?account=";
// E001,王经理,13900000001;E002,李经理,13900000002;E003,赵经理,13900000003
inline constexpr std::string_view kSalesManagers =
    "E001,\xCD\xF5\xBE\xAD\xC0\xED,13900000001;E002,\xC0\xEE\xBE\xAD\xC0\xED,13900000002;E003,\xD5\xD4\xBE\xAD\xC0\xED,13900000003";
// 短信通知
inline constexpr std::string_view kProductSms = "\xB6\xCC\xD0\xC5\xCD\xA8\xD6\xAA";
// 长短信
inline constexpr std::string_view kProductLongSms = "\xB3\xA4\xB6\xCC\xD0\xC5";
// 彩信
inline constexpr std::string_view kProductMms = "\xB2\xCA\xD0\xC5";
// WAP推送
inline constexpr std::string_view kProductWapPush = "WAP\xCD\xC6\xCB\xCD";
// 国际短信
inline constexpr std::string_view kProductIntlSms = "\xB9\xFA\xBC\xCA\xB6\xCC\xD0\xC5";
// 系统每周日02:00至04:00维护，维护期间暂停发送。
inline constexpr std::string_view kNoticeMaintenance =
    "\xCF\xB5\xCD\xB3\xC3\xBF\xD6\xDC\xC8\xD5"
    "02:00\xD6\xC1"
    "04:00\xCE\xAC\xBB\xA4\xA3\xAC\xCE\xAC\xBB\xA4\xC6\xDA\xBC\xE4\xD4\xDD\xCD\xA3\xB7\xA2\xCB\xCD\xA1\xA3";
// 节假日期间营销类信息请在09:00至20:00之间发送。
inline constexpr std::string_view kNoticeHolidays =
    "\xBD\xDA\xBC\xD9\xC8\xD5\xC6\xDA\xBC\xE4\xD3\xAA\xCF\xFA\xC0\xE0\xD0\xC5\xCF\xA2\xC7\xEB\xD4\xDA"
    "09:00\xD6\xC1"
    "20:00\xD6\xAE\xBC\xE4\xB7\xA2\xCB\xCD\xA1\xA3";
// 帐号密码已修改，请妥善保管。
inline constexpr std::string_view kNoticePasswordChanged =
    "\xD5\xCA\xBA\xC5\xC3\xDC\xC2\xEB\xD2\xD1\xD0\xDE\xB8\xC4\xA3\xAC\xC7\xEB\xCD\xD7\xC9\xC6\xB1\xA3\xB9\xDC\xA1\xA3";

// ---- The account's password and its sub-accounts

// 密码修改成功!
inline constexpr std::string_view kPasswordChanged =
    "\xC3\xDC\xC2\xEB\xD0\xDE\xB8\xC4\xB3\xC9\xB9\xA6!";
// 帐号与当前登录帐号不符!
inline constexpr std::string_view kNotThisAccount =
    "\xD5\xCA\xBA\xC5\xD3\xEB\xB5\xB1\xC7\xB0\xB5\xC7\xC2\xBC\xD5\xCA\xBA\xC5\xB2\xBB\xB7\xFB!";
// 原密码错误!
inline constexpr std::string_view kWrongOldPassword = "\xD4\xAD\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3!";
// 两次输入的新密码不一致!
inline constexpr std::string_view kNewPasswordsDiffer =
    "\xC1\xBD\xB4\xCE\xCA\xE4\xC8\xEB\xB5\xC4\xD0\xC2\xC3\xDC\xC2\xEB\xB2\xBB\xD2\xBB\xD6\xC2!";
// 密码应为6到16位可见字符!
inline constexpr std::string_view kBadPassword =
    "\xC3\xDC\xC2\xEB\xD3\xA6\xCE\xAA"
    "6\xB5\xBD"
    "16\xCE\xBB\xBF\xC9\xBC\xFB\xD7\xD6\xB7\xFB!";
// 子帐号名称应为3到16位字母、数字或下划线!
inline constexpr std::string_view kBadSubName =
    "\xD7\xD3\xD5\xCA\xBA\xC5\xC3\xFB\xB3\xC6\xD3\xA6\xCE\xAA"
    "3\xB5\xBD"
    "16\xCE\xBB\xD7\xD6\xC4\xB8\xA1\xA2\xCA\xFD\xD7\xD6\xBB\xF2\xCF\xC2\xBB\xAE\xCF\xDF!";
// 电话应为15位以内的数字!
inline constexpr std::string_view kBadPhone =
    "\xB5\xE7\xBB\xB0\xD3\xA6\xCE\xAA"
    "15\xCE\xBB\xD2\xD4\xC4\xDA\xB5\xC4\xCA\xFD\xD7\xD6!";
// 子帐号数量已达上限200!
inline constexpr std::string_view kTooManySubs =
    "\xD7\xD3\xD5\xCA\xBA\xC5\xCA\xFD\xC1\xBF\xD2\xD1\xB4\xEF\xC9\xCF\xCF\xDE"
    "200!";
// 子帐号已存在
inline constexpr std::string_view kSubExists = "\xD7\xD3\xD5\xCA\xBA\xC5\xD2\xD1\xB4\xE6\xD4\xDA";
// 子帐号不存在
inline constexpr std::string_view kNoSuchSub = "\xD7\xD3\xD5\xCA\xBA\xC5\xB2\xBB\xB4\xE6\xD4\xDA";
// 子帐号创建成功!
inline constexpr std::string_view kSubCreated =
    "\xD7\xD3\xD5\xCA\xBA\xC5\xB4\xB4\xBD\xA8\xB3\xC9\xB9\xA6!";
// 启用标志应为0(禁用)或1(启用)!
inline constexpr std::string_view kBadSwitch =
    "\xC6\xF4\xD3\xC3\xB1\xEA\xD6\xBE\xD3\xA6\xCE\xAA"
    "0(\xBD\xFB\xD3\xC3)\xBB\xF2"
    "1(\xC6\xF4\xD3\xC3)!";
// 子帐号已禁用!
inline constexpr std::string_view kSubDisabled =
    "\xD7\xD3\xD5\xCA\xBA\xC5\xD2\xD1\xBD\xFB\xD3\xC3!";
// 子帐号已启用!
inline constexpr std::string_view kSubEnabled = "\xD7\xD3\xD5\xCA\xBA\xC5\xD2\xD1\xC6\xF4\xD3\xC3!";
// 定单不存在
inline constexpr std::string_view kNoSuchOrder = "\xB6\xA8\xB5\xA5\xB2\xBB\xB4\xE6\xD4\xDA";
// 数量应为正整数!
inline constexpr std::string_view kBadQuantity =
    "\xCA\xFD\xC1\xBF\xD3\xA6\xCE\xAA\xD5\xFD\xD5\xFB\xCA\xFD!";
// 剩余数量不足
inline constexpr std::string_view kShortOfQuantity =
    "\xCA\xA3\xD3\xE0\xCA\xFD\xC1\xBF\xB2\xBB\xD7\xE3";
// 子帐号密码修改成功!
inline constexpr std::string_view kSubPasswordChanged =
    "\xD7\xD3\xD5\xCA\xBA\xC5\xC3\xDC\xC2\xEB\xD0\xDE\xB8\xC4\xB3\xC9\xB9\xA6!";
// 格式应为:子帐号,分机号(1到6位数字)
inline constexpr std::string_view kBadAccessRequest =
    "\xB8\xF1\xCA\xBD\xD3\xA6\xCE\xAA:\xD7\xD3\xD5\xCA\xBA\xC5,\xB7\xD6\xBB\xFA\xBA\xC5(1\xB5\xBD"
    "6\xCE\xBB\xCA\xFD\xD7\xD6)";
// 接入号码已被占用
inline constexpr std::string_view kAccessNumberTaken =
    "\xBD\xD3\xC8\xEB\xBA\xC5\xC2\xEB\xD2\xD1\xB1\xBB\xD5\xBC\xD3\xC3";
// 子帐号没有这个接入号码
inline constexpr std::string_view kNoSuchAccessNumber =
    "\xD7\xD3\xD5\xCA\xBA\xC5\xC3\xBB\xD3\xD0\xD5\xE2\xB8\xF6\xBD\xD3\xC8\xEB\xBA\xC5\xC2\xEB";
// 已添加接入号码
inline constexpr std::string_view kAccessNumberAdded =
    "\xD2\xD1\xCC\xED\xBC\xD3\xBD\xD3\xC8\xEB\xBA\xC5\xC2\xEB";
// 已删除接入号码
inline constexpr std::string_view kAccessNumberDeleted =
    "\xD2\xD1\xC9\xBE\xB3\xFD\xBD\xD3\xC8\xEB\xBA\xC5\xC2\xEB";

// ---- Queries and content checks

// 产品不存在或未订购
inline constexpr std::string_view kNoSuchProduct =
    "\xB2\xFA\xC6\xB7\xB2\xBB\xB4\xE6\xD4\xDA\xBB\xF2\xCE\xB4\xB6\xA9\xB9\xBA";
// 信息包不存在
inline constexpr std::string_view kNoSuchJob = "\xD0\xC5\xCF\xA2\xB0\xFC\xB2\xBB\xB4\xE6\xD4\xDA";
// 查询条件应为号码的开头数字!
inline constexpr std::string_view kBadNumberQuery =
    "\xB2\xE9\xD1\xAF\xCC\xF5\xBC\xFE\xD3\xA6\xCE\xAA\xBA\xC5\xC2\xEB\xB5\xC4\xBF\xAA\xCD\xB7\xCA\xFD\xD7\xD6!";
// 条数应为1到20!
inline constexpr std::string_view kBadDetailCount =
    "\xCC\xF5\xCA\xFD\xD3\xA6\xCE\xAA"
    "1\xB5\xBD"
    "20!";
// 状态应为0(已过期)、1(有效)或空!
inline constexpr std::string_view kBadOrderState =
    "\xD7\xB4\xCC\xAC\xD3\xA6\xCE\xAA"
    "0(\xD2\xD1\xB9\xFD\xC6\xDA)\xA1\xA2"
    "1(\xD3\xD0\xD0\xA7)\xBB\xF2\xBF\xD5!";
// 排期定单不存在
inline constexpr std::string_view kNoSuchScheduledOrder =
    "\xC5\xC5\xC6\xDA\xB6\xA8\xB5\xA5\xB2\xBB\xB4\xE6\xD4\xDA";
// 三个参数都应为整数!
inline constexpr std::string_view kBadCheckNumbers =
    "\xC8\xFD\xB8\xF6\xB2\xCE\xCA\xFD\xB6\xBC\xD3\xA6\xCE\xAA\xD5\xFB\xCA\xFD!";
// 通过
inline constexpr std::string_view kVerdictPass = "\xCD\xA8\xB9\xFD";
// 含禁用关键字
inline constexpr std::string_view kVerdictKeyword =
    "\xBA\xAC\xBD\xFB\xD3\xC3\xB9\xD8\xBC\xFC\xD7\xD6";
// 超过字数上限
inline constexpr std::string_view kVerdictTooLong =
    "\xB3\xAC\xB9\xFD\xD7\xD6\xCA\xFD\xC9\xCF\xCF\xDE";

// ---- The send job

// 已清空,请提交新任务的各字段。
inline constexpr std::string_view kJobCleared =
    "\xD2\xD1\xC7\xE5\xBF\xD5,\xC7\xEB\xCC\xE1\xBD\xBB\xD0\xC2\xC8\xCE\xCE\xF1\xB5\xC4\xB8\xF7\xD7\xD6\xB6\xCE\xA1\xA3";
// 没有正在提交的任务,请先发送清空命令!
inline constexpr std::string_view kNoOpenJob =
    "\xC3\xBB\xD3\xD0\xD5\xFD\xD4\xDA\xCC\xE1\xBD\xBB\xB5\xC4\xC8\xCE\xCE\xF1,\xC7\xEB\xCF\xC8\xB7\xA2\xCB\xCD\xC7\xE5\xBF\xD5\xC3\xFC\xC1\xEE!";
// 已接收
inline constexpr std::string_view kFieldAccepted = "\xD2\xD1\xBD\xD3\xCA\xD5";
// 未订购该产品
inline constexpr std::string_view kProductNotOrdered =
    "\xCE\xB4\xB6\xA9\xB9\xBA\xB8\xC3\xB2\xFA\xC6\xB7";
// 手机号码格式错误
inline constexpr std::string_view kBadNumber =
    "\xCA\xD6\xBB\xFA\xBA\xC5\xC2\xEB\xB8\xF1\xCA\xBD\xB4\xED\xCE\xF3";
// 没有手机号码!
inline constexpr std::string_view kNoNumbers = "\xC3\xBB\xD3\xD0\xCA\xD6\xBB\xFA\xBA\xC5\xC2\xEB!";
// 手机号码超过每批上限
inline constexpr std::string_view kTooManyNumbers =
    "\xCA\xD6\xBB\xFA\xBA\xC5\xC2\xEB\xB3\xAC\xB9\xFD\xC3\xBF\xC5\xFA\xC9\xCF\xCF\xDE";
// 手机号码数量应为非负整数
inline constexpr std::string_view kBadCount =
    "\xCA\xD6\xBB\xFA\xBA\xC5\xC2\xEB\xCA\xFD\xC1\xBF\xD3\xA6\xCE\xAA\xB7\xC7\xB8\xBA\xD5\xFB\xCA\xFD";
// 信息内容为空!
inline constexpr std::string_view kEmptyContent =
    "\xD0\xC5\xCF\xA2\xC4\xDA\xC8\xDD\xCE\xAA\xBF\xD5!";
// 内容检查通过!
inline constexpr std::string_view kContentClean =
    "\xC4\xDA\xC8\xDD\xBC\xEC\xB2\xE9\xCD\xA8\xB9\xFD!";
// 内容含有禁用关键字
inline constexpr std::string_view kForbiddenKeyword =
    "\xC4\xDA\xC8\xDD\xBA\xAC\xD3\xD0\xBD\xFB\xD3\xC3\xB9\xD8\xBC\xFC\xD7\xD6";
// 内容超过产品字数上限
inline constexpr std::string_view kContentTooLong =
    "\xC4\xDA\xC8\xDD\xB3\xAC\xB9\xFD\xB2\xFA\xC6\xB7\xD7\xD6\xCA\xFD\xC9\xCF\xCF\xDE";
// URL应以http://或https://开头且不含空白
inline constexpr std::string_view kBadUrl =
    "URL\xD3\xA6\xD2\xD4http://\xBB\xF2https://\xBF\xAA\xCD\xB7\xC7\xD2\xB2\xBB\xBA\xAC\xBF\xD5\xB0\xD7";
// 日期格式应为YYYY-MM-DD
inline constexpr std::string_view kBadDate =
    "\xC8\xD5\xC6\xDA\xB8\xF1\xCA\xBD\xD3\xA6\xCE\xAAYYYY-MM-DD";
// 时间格式应为HH:MM或HH:MM:SS
inline constexpr std::string_view kBadTime =
    "\xCA\xB1\xBC\xE4\xB8\xF1\xCA\xBD\xD3\xA6\xCE\xAAHH:MM\xBB\xF2HH:MM:SS";
// 时间段格式应为YYYY-MM-DD~YYYY-MM-DD HH:MM-HH:MM[,HH:MM-HH:MM]
inline constexpr std::string_view kBadPeriod =
    "\xCA\xB1\xBC\xE4\xB6\xCE\xB8\xF1\xCA\xBD\xD3\xA6\xCE\xAAYYYY-MM-DD~YYYY-MM-DD HH:MM-HH:MM[,HH:MM-HH:MM]";
// 文件名称不能为空、含路径或超过100字节
inline constexpr std::string_view kBadFileName =
    "\xCE\xC4\xBC\xFE\xC3\xFB\xB3\xC6\xB2\xBB\xC4\xDC\xCE\xAA\xBF\xD5\xA1\xA2\xBA\xAC\xC2\xB7\xBE\xB6\xBB\xF2\xB3\xAC\xB9\xFD"
    "100\xD7\xD6\xBD\xDA";
// 文件内容应为base64编码(4字符一组)!
inline constexpr std::string_view kBadFileContent =
    "\xCE\xC4\xBC\xFE\xC4\xDA\xC8\xDD\xD3\xA6\xCE\xAA"
    "base64\xB1\xE0\xC2\xEB(4\xD7\xD6\xB7\xFB\xD2\xBB\xD7\xE9)!";
// 文件超过彩信大小上限(字节)
inline constexpr std::string_view kFileTooLarge =
    "\xCE\xC4\xBC\xFE\xB3\xAC\xB9\xFD\xB2\xCA\xD0\xC5\xB4\xF3\xD0\xA1\xC9\xCF\xCF\xDE(\xD7\xD6\xBD\xDA)";
// 请至少选择一个排期定单!
inline constexpr std::string_view kNoOrderSelected =
    "\xC7\xEB\xD6\xC1\xC9\xD9\xD1\xA1\xD4\xF1\xD2\xBB\xB8\xF6\xC5\xC5\xC6\xDA\xB6\xA8\xB5\xA5!";
// 排期定单已过期
inline constexpr std::string_view kScheduledOrderExpired =
    "\xC5\xC5\xC6\xDA\xB6\xA8\xB5\xA5\xD2\xD1\xB9\xFD\xC6\xDA";
// 缺少字段
inline constexpr std::string_view kMissingField = "\xC8\xB1\xC9\xD9\xD7\xD6\xB6\xCE";
// 产品编号
inline constexpr std::string_view kFieldProduct = "\xB2\xFA\xC6\xB7\xB1\xE0\xBA\xC5";
// 手机号码
inline constexpr std::string_view kFieldNumbers = "\xCA\xD6\xBB\xFA\xBA\xC5\xC2\xEB";
// 信息内容
inline constexpr std::string_view kFieldContent = "\xD0\xC5\xCF\xA2\xC4\xDA\xC8\xDD";
// URL 地址
inline constexpr std::string_view kFieldUrl = "URL \xB5\xD8\xD6\xB7";
// 文件名称
inline constexpr std::string_view kFieldFileName = "\xCE\xC4\xBC\xFE\xC3\xFB\xB3\xC6";
// 文件内容
inline constexpr std::string_view kFieldFileContent = "\xCE\xC4\xBC\xFE\xC4\xDA\xC8\xDD";
// 排期定单编号
inline constexpr std::string_view kFieldOrders = "\xC5\xC5\xC6\xDA\xB6\xA8\xB5\xA5\xB1\xE0\xBA\xC5";
// 排期专用的生效日期和时间段
inline constexpr std::string_view kFieldPeriod =
    "\xC5\xC5\xC6\xDA\xD7\xA8\xD3\xC3\xB5\xC4\xC9\xFA\xD0\xA7\xC8\xD5\xC6\xDA\xBA\xCD\xCA\xB1\xBC\xE4\xB6\xCE";
// 手机号码数量与号码列表不符!
inline constexpr std::string_view kCountMismatch =
    "\xCA\xD6\xBB\xFA\xBA\xC5\xC2\xEB\xCA\xFD\xC1\xBF\xD3\xEB\xBA\xC5\xC2\xEB\xC1\xD0\xB1\xED\xB2\xBB\xB7\xFB!";
// 开始日期晚于结束日期!
inline constexpr std::string_view kBadDateRange =
    "\xBF\xAA\xCA\xBC\xC8\xD5\xC6\xDA\xCD\xED\xD3\xDA\xBD\xE1\xCA\xF8\xC8\xD5\xC6\xDA!";
// 结束日期已过!
inline constexpr std::string_view kDateOver = "\xBD\xE1\xCA\xF8\xC8\xD5\xC6\xDA\xD2\xD1\xB9\xFD!";
// 开始时间应早于结束时间!
inline constexpr std::string_view kBadTimeRange =
    "\xBF\xAA\xCA\xBC\xCA\xB1\xBC\xE4\xD3\xA6\xD4\xE7\xD3\xDA\xBD\xE1\xCA\xF8\xCA\xB1\xBC\xE4!";
// 剩余条数不足
inline constexpr std::string_view kShortOfQuota =
    "\xCA\xA3\xD3\xE0\xCC\xF5\xCA\xFD\xB2\xBB\xD7\xE3";
// 任务含排期字段,请使用排期专用总提交!
inline constexpr std::string_view kUseScheduledSubmit =
    "\xC8\xCE\xCE\xF1\xBA\xAC\xC5\xC5\xC6\xDA\xD7\xD6\xB6\xCE,\xC7\xEB\xCA\xB9\xD3\xC3\xC5\xC5\xC6\xDA\xD7\xA8\xD3\xC3\xD7\xDC\xCC\xE1\xBD\xBB!";
// 排期定单的产品与任务产品不符
inline constexpr std::string_view kOrderProductMismatch =
    "\xC5\xC5\xC6\xDA\xB6\xA8\xB5\xA5\xB5\xC4\xB2\xFA\xC6\xB7\xD3\xEB\xC8\xCE\xCE\xF1\xB2\xFA\xC6\xB7\xB2\xBB\xB7\xFB";
// 时间段超出排期定单的生效日期或时段
inline constexpr std::string_view kPeriodOutsideOrder =
    "\xCA\xB1\xBC\xE4\xB6\xCE\xB3\xAC\xB3\xF6\xC5\xC5\xC6\xDA\xB6\xA8\xB5\xA5\xB5\xC4\xC9\xFA\xD0\xA7\xC8\xD5\xC6\xDA\xBB\xF2\xCA\xB1\xB6\xCE";

// Keywords that refuse a content: 发票, 赌博, 枪支
inline constexpr std::string_view kForbiddenKeywords[] = {"\xB7\xA2\xC6\xB1", "\xB6\xC4\xB2\xA9",
                                                          "\xC7\xB9\xD6\xA7"};

}  // namespace qv::sim::texts
