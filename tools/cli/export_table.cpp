// The exports the CLI can call: one row each, adapting a Call's inputs and
// output buffers to the export's argument list.  A new export is a new row
// here and nowhere else.
#include <algorithm>
#include <array>
#include <string>

#include "call.h"
#include "proxy_option.h"

namespace qv::cli {

namespace {

constexpr Input text(std::string_view name) { return {name, InputKind::Text}; }
constexpr Input number(std::string_view name) { return {name, InputKind::Number}; }

// ---- Connecting

// TcpConnect and fxTcpConnect take the same inputs.
const std::vector<Input> kConnectInputs{
    text("Host"),      number("Port"),      number("Timeout"), text("ProxyKind"),
    text("ProxyHost"), number("ProxyPort"), text("ProxyUser"), text("ProxyPassword")};

using ConnectExport = qv_bool(QV_CALL *)(char *, const char *, int32_t, int32_t, const char *, const char *,
                                         int32_t, const char *, const char *);

// A step that gives no ProxyKind connects through the --proxy of the run,
// if there is one; a step that gives one (even "") uses its own inputs.
template <ConnectExport Connect>
int32_t connect(Call &c) {
  const ProxyOption *proxy = run_proxy();
  if (c.given(3) || !proxy)
    return Connect(c.message(), c.text(0), c.number(1), c.number(2), c.text(3), c.text(4), c.number(5), c.text(6),
                   c.text(7));
  c.note("through the " + describe(*proxy));
  return Connect(c.message(), c.text(0), c.number(1), c.number(2), proxy->kind.c_str(), proxy->host.c_str(),
                 proxy->port, proxy->user.c_str(), proxy->password.c_str());
}

// ---- Record protocol shapes shared by many exports

using CodeMessage = qv_bool(QV_CALL *)(int32_t *, char *);
using CodeMessageText = qv_bool(QV_CALL *)(int32_t *, char *, const char *);
using CodeMessage2Texts = qv_bool(QV_CALL *)(int32_t *, char *, const char *, const char *);
using CodeMessage3Texts = qv_bool(QV_CALL *)(int32_t *, char *, const char *, const char *, const char *);
using CodeMessage4Texts = qv_bool(QV_CALL *)(int32_t *, char *, const char *, const char *, const char *,
                                            const char *);
using CodeMessage3Numbers = qv_bool(QV_CALL *)(int32_t *, char *, int32_t *, int32_t *, int32_t *);

template <CodeMessage F>
int32_t code_message(Call &c) {
  return F(c.code(), c.message());
}
template <CodeMessageText F>
int32_t one_text(Call &c) {
  return F(c.code(), c.message(), c.text(0));
}
template <CodeMessage2Texts F>
int32_t two_texts(Call &c) {
  return F(c.code(), c.message(), c.text(0), c.text(1));
}
template <CodeMessage3Texts F>
int32_t three_texts(Call &c) {
  return F(c.code(), c.message(), c.text(0), c.text(1), c.text(2));
}
template <CodeMessage4Texts F>
int32_t four_texts(Call &c) {
  return F(c.code(), c.message(), c.text(0), c.text(1), c.text(2), c.text(3));
}
template <CodeMessage3Numbers F>
int32_t three_numbers(Call &c) {
  return F(c.code(), c.message(), c.number_out(0, "Number1"), c.number_out(1, "Number2"), c.number_out(2, "Number3"));
}

// ---- XML protocol: the reply header of each _Req, for its _Resp

enum class FxPair { Login, MsgStates, InfoType, NumRule, Notify };

struct ReplyHeader {
  int32_t code = -1;
  int32_t length = 0;
  bool seen = false;
};

ReplyHeader &last_reply(FxPair pair) {
  static std::array<ReplyHeader, 5> headers;
  return headers[static_cast<std::size_t>(pair)];
}

constexpr std::string_view request_name(FxPair pair) {
  constexpr std::string_view kNames[] = {"fxLogin_Req", "fxMsgStates_Req", "fxInfoType_Req", "fxNumRule_Req",
                                         "fxNotify_Req"};
  return kNames[static_cast<std::size_t>(pair)];
}

int32_t remember(FxPair pair, qv_bool result, const int32_t *code, const int32_t *length) {
  last_reply(pair) = {*code, *length, true};
  return result;
}

// The ReplyCode and ReplyLength inputs of a _Resp step at `first`, or the
// header that the last matching _Req step printed.
ReplyHeader reply_header(Call &c, std::size_t first, FxPair pair) {
  if (c.given(first + 1)) return {c.number(first), c.number(first + 1), true};
  const ReplyHeader &last = last_reply(pair);
  ReplyHeader header = last.seen ? last : ReplyHeader{};
  if (c.given(first)) header.code = c.number(first);
  c.note(std::string(last.seen ? "reply header of the last " : "no ") + std::string(request_name(pair)) +
         (last.seen ? "" : " yet") + ": ReplyCode " + std::to_string(header.code) + ", ReplyLength " +
         std::to_string(header.length));
  return header;
}

// A buffer that holds any reply body as text.
std::size_t reply_buffer_size(const ReplyHeader &h) {
  return std::max<std::size_t>(QV_BODY_BUFFER_SIZE, h.length > 0 ? static_cast<std::size_t>(h.length) + 1 : 0);
}

using FxRequest = qv_bool(QV_CALL *)(int32_t *, int32_t *);
using FxResponse = qv_bool(QV_CALL *)(char *, int32_t, int32_t);

template <FxRequest F, FxPair Pair>
int32_t fx_request(Call &c) {
  int32_t *code = c.number_out(0, "ReplyCode");
  int32_t *length = c.number_out(1, "ReplyLength");
  return remember(Pair, F(code, length), code, length);
}

template <FxResponse F, FxPair Pair>
int32_t fx_response(Call &c) {
  const ReplyHeader h = reply_header(c, 0, Pair);
  return F(c.message(reply_buffer_size(h)), h.code, h.length);
}

const std::vector<Input> kFxResponseInputs{number("ReplyCode"), number("ReplyLength")};

}  // namespace

const std::vector<ExportRow> &export_table() {
  static const std::vector<ExportRow> table{
      // Lifecycle and connection
      {"dllInitialize", {}, [](Call &) -> int32_t { return dllInitialize(); }},
      {"TcpInit", {}, [](Call &) -> int32_t { return TcpInit(); }},
      {"dllUnInitialize", {}, [](Call &) -> int32_t { return dllUnInitialize(); }},
      {"TcpRelease", {}, [](Call &) -> int32_t { return TcpRelease(); }},
      {"TcpDisconnect", {}, [](Call &) -> int32_t { return TcpDisconnect(); }},
      {"fxTcpDisconnect", {}, [](Call &) -> int32_t { return fxTcpDisconnect(); }},
      {"TcpConnect", kConnectInputs, connect<TcpConnect>},
      {"fxTcpConnect", kConnectInputs, connect<fxTcpConnect>},
      {"SetReadTimeout", {number("Milliseconds")},
       [](Call &c) -> int32_t { return SetReadTimeout(c.number(0)); }},

      // Login, relogin, heartbeat
      {"Login_Request", {text("app"), text("extra"), text("name"), text("pwd"), text("ver")},
       [](Call &c) -> int32_t {
         return Login_Request(c.text(0), c.text(1), c.text(2), c.text(3), c.text(4));
       }},
      {"Login_Feedback", {},
       [](Call &c) -> int32_t {
         return Login_Feedback(c.code(), c.message(), c.param(0), c.param(1), c.param(2));
       }},
      {"ReLogin", {}, [](Call &) -> int32_t { return ReLogin(); }},
      {"Heartbeat", {}, [](Call &) -> int32_t { return Heartbeat(); }},

      // Reference queries
      {"MsgStates", {}, code_message<MsgStates>},
      {"InfoType", {}, code_message<InfoType>},
      {"MobileNum", {}, code_message<MobileNum>},
      {"MMSMaxSize", {text("Text"), text("Param")},
       [](Call &c) -> int32_t {
         return MMSMaxSize(c.code(), c.message(), c.param(0, "ParamOut"), c.text(0), c.text(1));
       }},
      {"NumRule", {}, code_message<NumRule>},
      {"GetUdInfo", {},
       [](Call &c) -> int32_t {
         return GetUdInfo(c.code(), c.message(), c.param(0), c.param(1), c.param(2));
       }},

      // The account's password and its sub-accounts
      {"EditPassword", {text("NewPassword"), text("NewPasswordAgain")}, two_texts<EditPassword>},
      {"AddSubUser", {text("Text"), text("Param1"), text("Param2"), text("Param3")}, four_texts<AddSubUser>},
      {"AddSubUserEx", {text("Text"), text("Param1"), text("Param2"), text("Param3")}, four_texts<AddSubUserEx>},
      {"AddSubAccount", {text("Text"), text("Param1"), text("Param2"), text("Param3")}, four_texts<AddSubAccount>},
      {"DisableSubUser", {text("Param1"), text("Param2")}, two_texts<DisableSubUser>},
      {"IncreaseSubBuy", {text("Text"), text("Param1"), text("Param2")}, three_texts<IncreaseSubBuy>},
      {"ReduceSubBuy", {text("Text"), text("Param1"), text("Param2")}, three_texts<ReduceSubBuy>},
      {"FindAllSubs", {}, code_message<FindAllSubs>},
      {"FindAllSubsEx", {}, three_numbers<FindAllSubsEx>},
      {"FindAllEmplyee", {}, three_numbers<FindAllEmplyee>},
      {"Transfer", {}, three_numbers<Transfer>},
      {"FindSubInfo", {text("Text")}, one_text<FindSubInfo>},
      {"FindSubInfoEx", {text("Text")}, one_text<FindSubInfoEx>},
      {"FindSubAllOrders", {text("Text")}, one_text<FindSubAllOrders>},
      {"FindSubOrderInfo", {text("Text"), text("Param1")}, two_texts<FindSubOrderInfo>},
      {"EditSubPWD", {text("Text"), text("Param1"), text("Param2"), text("Param3")}, four_texts<EditSubPWD>},
      {"AddSubGwNumEx", {text("Text")},
       [](Call &c) -> int32_t {
         return AddSubGwNumEx(c.code(), c.message(), c.param(0, "Param1Out"), c.param(1, "Param2Out"), c.text(0));
       }},
      {"DelSubGwNum", {text("Text")},
       [](Call &c) -> int32_t { return DelSubGwNum(c.code(), c.message(), c.param(0, "Param1Out"), c.text(0)); }},

      // Client, product, information-package and scheduled-order queries
      {"ClientInfo", {}, code_message<ClientInfo>},
      {"AllProductId", {}, code_message<AllProductId>},
      {"CltProductId", {}, code_message<CltProductId>},
      {"CltAllPrdIdName", {}, code_message<CltAllPrdIdName>},
      {"CltAllMmsInfo", {}, code_message<CltAllMmsInfo>},
      {"CltAllIdNameType", {}, code_message<CltAllIdNameType>},
      {"ProductInfo", {text("ProductId")}, one_text<ProductInfo>},
      {"AllInfoPackId", {}, code_message<AllInfoPackId>},
      {"InfoPackStatus", {text("PackageId")}, one_text<InfoPackStatus>},
      {"InfoPackStatusEx", {text("PackageId")}, one_text<InfoPackStatusEx>},
      {"GetMessage", {}, code_message<GetMessage>},
      {"LastDetails", {text("Query"), number("Count")},
       [](Call &c) -> int32_t { return LastDetails(c.code(), c.message(), c.text(0), c.number(1)); }},
      {"GetProductLen", {}, code_message<GetProductLen>},
      {"PQOrderList", {text("Param1"), text("Param2")}, two_texts<PQOrderList>},
      {"PQOrderInfoByID", {text("Param1"), text("Param2"), text("Param3")}, three_texts<PQOrderInfoByID>},
      {"PQGetAbilityURL", {}, code_message<PQGetAbilityURL>},

      // Send jobs
      {"SubmitAllClear", {}, code_message<SubmitAllClear>},
      {"SubmitPrdId", {text("ProductId")}, one_text<SubmitPrdId>},
      {"CheckPrdId", {text("ProductId")}, one_text<CheckPrdId>},
      {"SubmitTelList", {text("Numbers")}, one_text<SubmitTelList>},
      {"SubmitTelNum", {text("Count")}, one_text<SubmitTelNum>},
      {"SubmitContent", {text("Content")}, one_text<SubmitContent>},
      {"CheckContent", {}, code_message<CheckContent>},
      {"SubmitPushURL", {text("Url")}, one_text<SubmitPushURL>},
      {"SubmitBgnDate", {text("Date")}, one_text<SubmitBgnDate>},
      {"SubmitBgnDateEx", {text("Period")}, one_text<SubmitBgnDateEx>},
      {"SubmitEndDate", {text("Date")}, one_text<SubmitEndDate>},
      {"SubmitBgnTime", {text("Time")}, one_text<SubmitBgnTime>},
      {"SubmitEndTime", {text("Time")}, one_text<SubmitEndTime>},
      {"SubmitTransFilename", {text("FileName")}, one_text<SubmitTransFilename>},
      {"SubmitTransFile", {text("FileContent")}, one_text<SubmitTransFile>},
      {"SubmitPQOrderSelect", {text("Param1"), text("Param2"), text("Param3")}, three_texts<SubmitPQOrderSelect>},
      {"SubmitAllOver", {}, code_message<SubmitAllOver>},
      {"SubmitAllOver_2", {}, three_numbers<SubmitAllOver_2>},
      {"SubmitAllOverEx", {}, code_message<SubmitAllOverEx>},
      {"SubmitAllOverEx_2", {}, three_numbers<SubmitAllOverEx_2>},

      // Content checks and account parameters
      {"ContentPreview", {text("Param"), text("Content")},
       [](Call &c) -> int32_t {
         return ContentPreview(c.code(), c.message(), c.number_out(0, "Number"), c.text(0), c.text(1));
       }},
      {"GetSJKHDParams", {},
       [](Call &c) -> int32_t {
         return GetSJKHDParams(c.code(), c.message(), c.param(0), c.param(1), c.param(2));
       }},
      {"GetSJKHDBid", {}, code_message<GetSJKHDBid>},
      {"CheckSMSContent", {text("Content"), number("Number1"), number("Number2"), number("Number3")},
       [](Call &c) -> int32_t {
         return CheckSMSContent(c.code(), c.message(), c.text(0), c.number(1), c.number(2), c.number(3));
       }},
      {"ClientGuiControl", {}, code_message<ClientGuiControl>},
      {"CheckTels", {text("Number"), text("CarrierList")},
       [](Call &c) -> int32_t { return CheckTels(c.length_prefixed(0), c.length_prefixed(1)); },
       ResultKind::Value},

      // Settings file and timed web request
      {"ReadIniFile", {text("Carrier")},
       [](Call &c) -> int32_t { return ReadIniFile(c.message(QV_SETTING_BUFFER_SIZE, "Value"), c.text(0)); }},
      {"fxReadIniFile", {text("Carrier")},
       [](Call &c) -> int32_t { return fxReadIniFile(c.message(QV_SETTING_BUFFER_SIZE, "Value"), c.text(0)); }},
      {"WebRequest", {text("Url")},
       [](Call &c) -> int32_t {
         return WebRequest(c.message(QV_WEB_RESPONSE_MAX, "Response"), c.number_out(0, "ElapsedMs"), c.text(0));
       }},
      {"fxWebRequest", {text("Url")},
       [](Call &c) -> int32_t {
         return fxWebRequest(c.message(QV_WEB_RESPONSE_MAX, "Response"), c.number_out(0, "ElapsedMs"), c.text(0));
       }},
      // The buffer is as large as the step says; one byte stands in for a
      // size below 1, which the library refuses without writing.
      {"WebRequestEx", {number("ResponseSize"), text("Url")},
       [](Call &c) -> int32_t {
         const std::size_t size = static_cast<std::size_t>(std::max<int32_t>(c.number(0), 1));
         return WebRequestEx(c.message(size, "Response"), c.number(0), c.number_out(0, "ResponseLength"),
                             c.number_out(1, "ElapsedMs"), c.text(1));
       }},

      // What the previous step came to, and the connection's state
      {"GetLastOutcome", {},
       [](Call &c) -> int32_t {
         return GetLastOutcome(c.number_out(0, "Outcome"), c.number_out(1, "Sent"), c.number_out(2, "Argument"),
                               c.number_out(3, "SocketError"), c.message(QV_DETAIL_BUFFER_SIZE, "Detail"),
                               QV_DETAIL_BUFFER_SIZE);
       }},
      {"GetLastRelogin", {},
       [](Call &c) -> int32_t {
         return GetLastRelogin(c.number_out(0, "Relogin"), c.number_out(1, "ServerCode"),
                               c.number_out(2, "SocketError"), c.message(QV_DETAIL_BUFFER_SIZE, "Detail"),
                               QV_DETAIL_BUFFER_SIZE);
       }},
      {"GetConnectionState", {},
       [](Call &c) -> int32_t {
         return GetConnectionState(c.number_out(0, "State"), c.number_out(1, "Path"),
                                   c.number_out(2, "LoginProtocol"), c.number_out(3, "LoginCode"));
       }},

      // The protocol trace
      {"TraceStart", {text("Path"), number("Options")},
       [](Call &c) -> int32_t { return TraceStart(c.text(0), c.number(1)); }},
      {"TraceStop", {}, [](Call &) -> int32_t { return TraceStop(); }},

      // The library's own windows
      {"ShowAbout", {}, [](Call &) -> int32_t { return ShowAbout(); }},
      {"ShowMsg", {text("Text")}, [](Call &c) -> int32_t { return ShowMsg(c.text(0)); }},

      // XML protocol
      {"fxLogin_Req", {text("app"), text("extra"), text("name"), text("pwd"), text("ver")},
       [](Call &c) -> int32_t {
         int32_t *code = c.number_out(0, "ReplyCode");
         int32_t *length = c.number_out(1, "ReplyLength");
         return remember(FxPair::Login, fxLogin_Req(code, length, c.text(0), c.text(1), c.text(2), c.text(3), c.text(4)),
                         code, length);
       }},
      {"fxLogin_Resp", kFxResponseInputs,
       [](Call &c) -> int32_t {
         const ReplyHeader h = reply_header(c, 0, FxPair::Login);
         const std::size_t size = reply_buffer_size(h);
         return fxLogin_Resp(c.message(size), c.number_out(0, "Agent"), c.text_out(0, "Pud", size),
                             c.number_out(1, "Agreement"), h.code, h.length);
       }},
      {"fxReLogin", {}, [](Call &) -> int32_t { return fxReLogin(); }},
      {"fxMsgStates_Req", {}, fx_request<fxMsgStates_Req, FxPair::MsgStates>},
      {"fxMsgStates_Resp", kFxResponseInputs, fx_response<fxMsgStates_Resp, FxPair::MsgStates>},
      {"fxInfoType_Req", {}, fx_request<fxInfoType_Req, FxPair::InfoType>},
      {"fxInfoType_Resp", kFxResponseInputs, fx_response<fxInfoType_Resp, FxPair::InfoType>},
      {"fxNumRule_Req", {}, fx_request<fxNumRule_Req, FxPair::NumRule>},
      {"fxNumRule_Resp", kFxResponseInputs, fx_response<fxNumRule_Resp, FxPair::NumRule>},
      {"fxNotify_Req", {}, fx_request<fxNotify_Req, FxPair::Notify>},
      {"fxNotify_Resp", kFxResponseInputs, fx_response<fxNotify_Resp, FxPair::Notify>},
  };
  return table;
}

}  // namespace qv::cli
