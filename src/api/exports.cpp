// The export table: every exported function but the outcome queries
// (outcome_exports.cpp), each a row that hands its arguments to a module
// under the one guard (api/guard.h).
#include "quorvex.h"

#include <cstdint>
#include <string>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/guard.h"
#include "connection/call_outcome.h"
#include "connection/session.h"
#include "connection/connect.h"
#include "record/client_queries.h"
#include "record/content_checks.h"
#include "record/exchange.h"
#include "record/login.h"
#include "record/number_classification.h"
#include "record/reference_queries.h"
#include "record/send_job.h"
#include "record/sub_accounts.h"
#include "services/settings_file.h"
#include "services/web_request.h"
#include "trace/trace.h"
#include "ui/dialogs.h"
#include "xml/fx_operations.h"

using namespace qv;
using namespace qv::api;

extern "C" {

QV_API dllInitialize(void) {
  connection::Session &session = default_session();
  return serialized(session, [&] { return session.initialize(); });
}
QV_API TcpInit(void) { return dllInitialize(); }
QV_API dllUnInitialize(void) {
  connection::Session &session = default_session();
  return interrupting(session, [&] {
    session.forget_kept();
    return session.release();
  });
}
QV_API TcpRelease(void) { return dllUnInitialize(); }
QV_API TcpDisconnect(void) {
  connection::Session &session = default_session();
  return interrupting(session, [&] {
    session.forget_kept();
    return disconnect_or_note(session);
  });
}
QV_API fxTcpDisconnect(void) { return TcpDisconnect(); }

QV_API TcpConnect(char *Message, const char *Host, int32_t Port, int32_t Timeout,
                  const char *ProxyKind, const char *ProxyHost, int32_t ProxyPort,
                  const char *ProxyUser, const char *ProxyPassword) {
  return connect_export(default_session(), connection::Protocol::Record, Message, Host, Port,
                        Timeout, ProxyKind, ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
}

QV_API fxTcpConnect(char *Message, const char *Host, int32_t Port, int32_t Timeout,
                    const char *ProxyKind, const char *ProxyHost, int32_t ProxyPort,
                    const char *ProxyUser, const char *ProxyPassword) {
  return connect_export(default_session(), connection::Protocol::Xml, Message, Host, Port, Timeout,
                        ProxyKind, ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
}

QV_API SetReadTimeout(int32_t Milliseconds) {
  return guarded([&] {
    default_session().waits.set_read_timeout_ms(Milliseconds);
    return true;
  });
}

QV_API Login_Request(const char *app, const char *extra, const char *name, const char *pwd,
                     const char *ver) {
  return run(default_session(), record::kLoginRequest, {.texts = {app, extra, name, pwd, ver}});
}

QV_API Login_Feedback(int32_t *Code, char *Message, char *Param1, char *Param2, char *Param3) {
  return run(default_session(), record::kLoginFeedback,
             {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}

QV_API ReLogin(void) {
  connection::Session &session = default_session();
  return serialized(session, [&] { return relogin_call(record::relogin(session)); });
}

QV_API Heartbeat(void) { return run(default_session(), record::kHeartbeat, {}); }

QV_API MsgStates(int32_t *Code, char *Message) {
  return run(default_session(), record::kMsgStates, Code, Message);
}
QV_API InfoType(int32_t *Code, char *Message) {
  return run(default_session(), record::kInfoType, Code, Message);
}
QV_API MobileNum(int32_t *Code, char *Message) {
  return run(default_session(), record::kMobileNum, Code, Message);
}

QV_API MMSMaxSize(int32_t *Code, char *Message, char *ParamOut, const char *Text,
                  const char *Param) {
  return run(default_session(), record::kMMSMaxSize,
             {.result_code = Code, .message = Message, .outs = {ParamOut}, .texts = {Text, Param}});
}

QV_API NumRule(int32_t *Code, char *Message) {
  return run(default_session(), record::kNumRule, Code, Message);
}

QV_API GetUdInfo(int32_t *Code, char *Message, char *Param1, char *Param2, char *Param3) {
  return run(default_session(), record::kGetUdInfo,
             {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}

// The account's password and its sub-accounts.

QV_API EditPassword(int32_t *Code, char *Message, const char *NewPassword,
                    const char *NewPasswordAgain) {
  // The saved name and password are read under the session's call lock,
  // so that a login on another thread cannot change them half-way.
  connection::Session &session = default_session();
  return serialized(session, [&] {
    const connection::LoginCredentials &saved = session.login_credentials;
    return record::execute(
        session, record::kEditPassword,
        {.result_code = Code,
         .message = Message,
         .texts = {saved.name.c_str(), saved.pwd.c_str(), NewPassword, NewPasswordAgain},
         .text_args = {-1, -1, 3, 4}});
  });
}
QV_API AddSubUser(int32_t *Code, char *Message, const char *Text, const char *Param1,
                  const char *Param2, const char *Param3) {
  return run(default_session(), record::kAddSubUser, Code, Message, Text, Param1, Param2, Param3);
}
QV_API AddSubUserEx(int32_t *Code, char *Message, const char *Text, const char *Param1,
                    const char *Param2, const char *Param3) {
  return run(default_session(), record::kAddSubUserEx, Code, Message, Text, Param1, Param2, Param3);
}
QV_API AddSubAccount(int32_t *Code, char *Message, const char *Text, const char *Param1,
                     const char *Param2, const char *Param3) {
  return run(default_session(), record::kAddSubAccount, Code, Message, Text, Param1, Param2,
             Param3);
}
QV_API DisableSubUser(int32_t *Code, char *Message, const char *Param1, const char *Param2) {
  return run(default_session(), record::kDisableSubUser, Code, Message, Param1, Param2);
}
QV_API IncreaseSubBuy(int32_t *Code, char *Message, const char *Text, const char *Param1,
                      const char *Param2) {
  return run(default_session(), record::kIncreaseSubBuy, Code, Message, Text, Param1, Param2);
}
QV_API ReduceSubBuy(int32_t *Code, char *Message, const char *Text, const char *Param1,
                    const char *Param2) {
  return run(default_session(), record::kReduceSubBuy, Code, Message, Text, Param1, Param2);
}
QV_API FindAllSubs(int32_t *Code, char *Message) {
  return run(default_session(), record::kFindAllSubs, Code, Message);
}
QV_API FindAllSubsEx(int32_t *Code, char *Message, int32_t *Number1, int32_t *Number2,
                     int32_t *Number3) {
  return run_numbers_out(default_session(), record::kFindAllSubsEx, Code, Message, Number1, Number2,
                         Number3);
}
QV_API FindAllEmplyee(int32_t *Code, char *Message, int32_t *Number1, int32_t *Number2,
                      int32_t *Number3) {
  return run_numbers_out(default_session(), record::kFindAllEmplyee, Code, Message, Number1,
                         Number2, Number3);
}
QV_API Transfer(int32_t *Code, char *Message, int32_t *Number1, int32_t *Number2,
                int32_t *Number3) {
  return run_numbers_out(default_session(), record::kTransfer, Code, Message, Number1, Number2,
                         Number3);
}
QV_API FindSubInfo(int32_t *Code, char *Message, const char *Text) {
  return run(default_session(), record::kFindSubInfo, Code, Message, Text);
}
QV_API FindSubInfoEx(int32_t *Code, char *Message, const char *Text) {
  return run(default_session(), record::kFindSubInfoEx, Code, Message, Text);
}
QV_API FindSubAllOrders(int32_t *Code, char *Message, const char *Text) {
  return run(default_session(), record::kFindSubAllOrders, Code, Message, Text);
}
QV_API FindSubOrderInfo(int32_t *Code, char *Message, const char *Text, const char *Param1) {
  return run(default_session(), record::kFindSubOrderInfo, Code, Message, Text, Param1);
}
QV_API EditSubPWD(int32_t *Code, char *Message, const char *Text, const char *Param1,
                  const char *Param2, const char *Param3) {
  return run(default_session(), record::kEditSubPWD, Code, Message, Text, Param1, Param2, Param3);
}
QV_API AddSubGwNumEx(int32_t *Code, char *Message, char *Param1Out, char *Param2Out,
                     const char *Text) {
  return run(
      default_session(), record::kAddSubGwNumEx,
      {.result_code = Code, .message = Message, .outs = {Param1Out, Param2Out}, .texts = {Text}});
}
QV_API DelSubGwNum(int32_t *Code, char *Message, char *Param1Out, const char *Text) {
  return run(default_session(), record::kDelSubGwNum,
             {.result_code = Code, .message = Message, .outs = {Param1Out}, .texts = {Text}});
}

// Client, product, information-package and scheduled-order queries.

QV_API ClientInfo(int32_t *Code, char *Message) {
  return run(default_session(), record::kClientInfo, Code, Message);
}
QV_API AllProductId(int32_t *Code, char *Message) {
  return run(default_session(), record::kAllProductId, Code, Message);
}
QV_API CltProductId(int32_t *Code, char *Message) {
  return run(default_session(), record::kCltProductId, Code, Message);
}
QV_API CltAllPrdIdName(int32_t *Code, char *Message) {
  return run(default_session(), record::kCltAllPrdIdName, Code, Message);
}
QV_API CltAllMmsInfo(int32_t *Code, char *Message) {
  return run(default_session(), record::kCltAllMmsInfo, Code, Message);
}
QV_API CltAllIdNameType(int32_t *Code, char *Message) {
  return run(default_session(), record::kCltAllIdNameType, Code, Message);
}
QV_API ProductInfo(int32_t *Code, char *Message, const char *ProductId) {
  return run(default_session(), record::kProductInfo, Code, Message, ProductId);
}
QV_API AllInfoPackId(int32_t *Code, char *Message) {
  return run(default_session(), record::kAllInfoPackId, Code, Message);
}
QV_API InfoPackStatus(int32_t *Code, char *Message, const char *PackageId) {
  return run(default_session(), record::kInfoPackStatus, Code, Message, PackageId);
}
QV_API InfoPackStatusEx(int32_t *Code, char *Message, const char *PackageId) {
  return run(default_session(), record::kInfoPackStatusEx, Code, Message, PackageId);
}
QV_API GetMessage(int32_t *Code, char *Message) {
  return run(default_session(), record::kGetMessage, Code, Message);
}
QV_API LastDetails(int32_t *Code, char *Message, const char *Query, int32_t Count) {
  return run(default_session(), record::kLastDetails,
             {.result_code = Code, .message = Message, .texts = {Query}, .numbers = {Count}});
}
QV_API GetProductLen(int32_t *Code, char *Message) {
  return run(default_session(), record::kGetProductLen, Code, Message);
}
QV_API PQOrderList(int32_t *Code, char *Message, const char *Param1, const char *Param2) {
  return run(default_session(), record::kPQOrderList, Code, Message, Param1, Param2);
}
QV_API PQOrderInfoByID(int32_t *Code, char *Message, const char *Param1, const char *Param2,
                       const char *Param3) {
  return run(default_session(), record::kPQOrderInfoByID, Code, Message, Param1, Param2, Param3);
}
QV_API PQGetAbilityURL(int32_t *Code, char *Message) {
  return run(default_session(), record::kPQGetAbilityURL, Code, Message);
}

// Send jobs.

QV_API SubmitAllClear(int32_t *Code, char *Message) {
  return run(default_session(), record::kSubmitAllClear, Code, Message);
}
QV_API SubmitPrdId(int32_t *Code, char *Message, const char *ProductId) {
  return run(default_session(), record::kSubmitPrdId, Code, Message, ProductId);
}
QV_API CheckPrdId(int32_t *Code, char *Message, const char *ProductId) {
  return run(default_session(), record::kCheckPrdId, Code, Message, ProductId);
}
QV_API SubmitTelList(int32_t *Code, char *Message, const char *Numbers) {
  return run(default_session(), record::kSubmitTelList, Code, Message, Numbers);
}
QV_API SubmitTelNum(int32_t *Code, char *Message, const char *Count) {
  return run(default_session(), record::kSubmitTelNum, Code, Message, Count);
}
QV_API SubmitContent(int32_t *Code, char *Message, const char *Content) {
  return run(default_session(), record::kSubmitContent, Code, Message, Content);
}
QV_API CheckContent(int32_t *Code, char *Message) {
  return run(default_session(), record::kCheckContent, Code, Message);
}
QV_API SubmitPushURL(int32_t *Code, char *Message, const char *Url) {
  return run(default_session(), record::kSubmitPushURL, Code, Message, Url);
}
QV_API SubmitBgnDate(int32_t *Code, char *Message, const char *Date) {
  return run(default_session(), record::kSubmitBgnDate, Code, Message, Date);
}
QV_API SubmitBgnDateEx(int32_t *Code, char *Message, const char *Period) {
  return run(default_session(), record::kSubmitBgnDateEx, Code, Message, Period);
}
QV_API SubmitEndDate(int32_t *Code, char *Message, const char *Date) {
  return run(default_session(), record::kSubmitEndDate, Code, Message, Date);
}
QV_API SubmitBgnTime(int32_t *Code, char *Message, const char *Time) {
  return run(default_session(), record::kSubmitBgnTime, Code, Message, Time);
}
QV_API SubmitEndTime(int32_t *Code, char *Message, const char *Time) {
  return run(default_session(), record::kSubmitEndTime, Code, Message, Time);
}
QV_API SubmitTransFilename(int32_t *Code, char *Message, const char *FileName) {
  return run(default_session(), record::kSubmitTransFilename, Code, Message, FileName);
}
QV_API SubmitTransFile(int32_t *Code, char *Message, const char *FileContent) {
  return run(default_session(), record::kSubmitTransFile, Code, Message, FileContent);
}
QV_API SubmitPQOrderSelect(int32_t *Code, char *Message, const char *Param1, const char *Param2,
                           const char *Param3) {
  return run(default_session(), record::kSubmitPQOrderSelect, Code, Message, Param1, Param2,
             Param3);
}
QV_API SubmitAllOver(int32_t *Code, char *Message) {
  return run(default_session(), record::kSubmitAllOver, Code, Message);
}
QV_API SubmitAllOver_2(int32_t *Code, char *Message, int32_t *Number1, int32_t *Number2,
                       int32_t *Number3) {
  return run_numbers_out(default_session(), record::kSubmitAllOver_2, Code, Message, Number1,
                         Number2, Number3);
}
QV_API SubmitAllOverEx(int32_t *Code, char *Message) {
  return run(default_session(), record::kSubmitAllOverEx, Code, Message);
}
QV_API SubmitAllOverEx_2(int32_t *Code, char *Message, int32_t *Number1, int32_t *Number2,
                         int32_t *Number3) {
  return run_numbers_out(default_session(), record::kSubmitAllOverEx_2, Code, Message, Number1,
                         Number2, Number3);
}

// Content checks and account parameters.

QV_API ContentPreview(int32_t *Code, char *Message, int32_t *Number, const char *Param,
                      const char *Content) {
  return run(default_session(), record::kContentPreview,
             {.result_code = Code,
              .message = Message,
              .outs = {Number},
              .texts = {Content, Param},
              .text_args = {5, 4}});
}
QV_API GetSJKHDParams(int32_t *Code, char *Message, char *Param1, char *Param2, char *Param3) {
  return run(default_session(), record::kGetSJKHDParams,
             {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}
QV_API GetSJKHDBid(int32_t *Code, char *Message) {
  return run(default_session(), record::kGetSJKHDBid, Code, Message);
}
QV_API CheckSMSContent(int32_t *Code, char *Message, const char *Content, int32_t Number1,
                       int32_t Number2, int32_t Number3) {
  return run(default_session(), record::kCheckSMSContent,
             {.result_code = Code,
              .message = Message,
              .texts = {Content},
              .numbers = {Number1, Number2, Number3}});
}
QV_API ClientGuiControl(int32_t *Code, char *Message) {
  return run(default_session(), record::kClientGuiControl, Code, Message);
}

// The settings file and the timed web request.

QV_API ReadIniFile(char *Value, const char *Carrier) {
  return guarded([&] { return services::read_setting(Value, Carrier); });
}
QV_API fxReadIniFile(char *Value, const char *Carrier) { return ReadIniFile(Value, Carrier); }
QV_API WebRequestEx(char *Response, int32_t ResponseSize, int32_t *ResponseLength,
                    int32_t *ElapsedMs, const char *Url) {
  return guarded([&] {
    // The request has no session; the default one's read time-out bounds it.
    return services::web_request(Response, ResponseSize, ResponseLength, ElapsedMs, Url,
                                 default_session().waits.read_timeout_ms());
  });
}
QV_API WebRequest(char *Response, int32_t *ElapsedMs, const char *Url) {
  int32_t length = 0;
  const qv_bool result = WebRequestEx(Response, QV_WEB_RESPONSE_MAX, &length, ElapsedMs, Url);
  // A refused argument by its place in this export's list.
  connection::CallOutcome &o = connection::this_thread_outcome();
  if (o.kind == connection::OutcomeKind::Refused)
    o.argument = o.argument == 4 ? 2 : o.argument == 5 ? 3 : o.argument;
  return result;
}
QV_API fxWebRequest(char *Response, int32_t *ElapsedMs, const char *Url) {
  return WebRequest(Response, ElapsedMs, Url);
}

// The About dialog and the message box.

QV_API ShowAbout(void) {
  return guarded([] {
    if (ui::show_about()) return true;
    connection::other_failure(
        "The dialog could not be shown: no window system, or no dialog module.");
    return false;
  });
}
QV_API ShowMsg(const char *Text) {
  return guarded([&] { return ui::show_message(text_or_empty(Text)); });
}

// The XML protocol.

QV_API fxLogin_Req(int32_t *ReplyCode, int32_t *ReplyLength, const char *app, const char *extra,
                   const char *name, const char *pwd, const char *ver) {
  connection::Session &session = default_session();
  return serialized(session, [&] {
    return xml::login_request(session, ReplyCode, ReplyLength, app, extra, name, pwd, ver);
  });
}
QV_API fxLogin_Resp(char *Message, int32_t *Agent, char *Pud, int32_t *Agreement, int32_t ReplyCode,
                    int32_t ReplyLength) {
  connection::Session &session = default_session();
  return serialized(session, [&] {
    return xml::login_response(session, {Message, SIZE_MAX}, Agent, {Pud, SIZE_MAX}, Agreement,
                               ReplyCode, ReplyLength);
  });
}
QV_API fxReLogin(void) {
  connection::Session &session = default_session();
  return serialized(session, [&] { return relogin_call(xml::relogin(session)); });
}

#define QV_FX_QUERY(Name, query)                                                                   \
  QV_API Name##_Req(int32_t *ReplyCode, int32_t *ReplyLength) {                                    \
    connection::Session &session = default_session();                                              \
    return serialized(session,                                                                     \
                      [&] { return xml::query_request(session, query, ReplyCode, ReplyLength); }); \
  }                                                                                                \
  QV_API Name##_Resp(char *Message, int32_t ReplyCode, int32_t ReplyLength) {                      \
    connection::Session &session = default_session();                                              \
    return serialized(session, [&] {                                                               \
      return xml::query_response(session, query, Message, ReplyCode, ReplyLength);                 \
    });                                                                                            \
  }
QV_FX_QUERY(fxMsgStates, xml::kMsgStatesQuery)
QV_FX_QUERY(fxInfoType, xml::kInfoTypeQuery)
QV_FX_QUERY(fxNumRule, xml::kNumRuleQuery)
QV_FX_QUERY(fxNotify, xml::kNotifyQuery)
#undef QV_FX_QUERY

QV_EXPORT int32_t QV_CALL CheckTels(const char *Number, const char *CarrierList) {
  int32_t result = -1;
  guarded([&] {
    result = record::classify_number(length_prefixed(Number), length_prefixed(CarrierList));
    return true;
  });
  return result;
}

// The protocol trace.

QV_API TraceStart(const char *Path, int32_t Options) {
  return guarded([&] {
    if (!Path || !*Path) {
      connection::refuse(1, "The trace file's path is empty.");
      return false;
    }
    std::string why;
    if (trace::start(Path, (Options & QV_TRACE_HEX) != 0, &why)) return true;
    connection::other_failure(why);
    return false;
  });
}

QV_API TraceStop(void) {
  return guarded([] {
    trace::stop();
    return true;
  });
}

}  // extern "C"
