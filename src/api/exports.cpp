// The export table: the body of every export that acts on a session, each
// a row that hands its arguments to a module under the one guard
// (api/guard.h).  session_exports.inc wraps each body twice: the classic
// export on the default session and its Qv twin on the caller's.
#include "quorvex.h"

#include <cstdint>
#include <string>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/guard.h"
#include "api/session_bodies.h"
#include "connection/call_outcome.h"
#include "connection/session.h"
#include "connection/connect.h"
#include "record/client_queries.h"
#include "record/content_checks.h"
#include "record/exchange.h"
#include "record/login.h"
#include "record/reference_queries.h"
#include "record/send_job.h"
#include "record/sub_accounts.h"
#include "xml/fx_operations.h"

using namespace qv;
using namespace qv::api;

namespace qv::api::on_session {

qv_bool TcpDisconnect(connection::Session &session) {
  return interrupting(session, [&] {
    session.forget_kept();
    return disconnect_or_note(session);
  });
}
qv_bool fxTcpDisconnect(connection::Session &session) { return TcpDisconnect(session); }

qv_bool TcpConnect(connection::Session &session, char *Message, const char *Host, int32_t Port,
                   int32_t Timeout, const char *ProxyKind, const char *ProxyHost, int32_t ProxyPort,
                   const char *ProxyUser, const char *ProxyPassword) {
  return connect_export(session, connection::Protocol::Record, Message, Host, Port, Timeout,
                        ProxyKind, ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
}

qv_bool fxTcpConnect(connection::Session &session, char *Message, const char *Host, int32_t Port,
                     int32_t Timeout, const char *ProxyKind, const char *ProxyHost,
                     int32_t ProxyPort, const char *ProxyUser, const char *ProxyPassword) {
  return connect_export(session, connection::Protocol::Xml, Message, Host, Port, Timeout, ProxyKind,
                        ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
}

qv_bool SetReadTimeout(connection::Session &session, int32_t Milliseconds) {
  return guarded_on(session.id(), session.trace_number(), [&] {
    session.waits.set_read_timeout_ms(Milliseconds);
    return true;
  });
}

qv_bool Login_Request(connection::Session &session, const char *app, const char *extra,
                      const char *name, const char *pwd, const char *ver) {
  return run(session, record::kLoginRequest, {.texts = {app, extra, name, pwd, ver}});
}

qv_bool Login_Feedback(connection::Session &session, int32_t *Code, char *Message, char *Param1,
                       char *Param2, char *Param3) {
  return run(session, record::kLoginFeedback,
             {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}

qv_bool ReLogin(connection::Session &session) {
  return serialized(session, [&] { return relogin_call(record::relogin(session)); });
}

qv_bool Heartbeat(connection::Session &session) { return run(session, record::kHeartbeat, {}); }

qv_bool MsgStates(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kMsgStates, Code, Message);
}
qv_bool InfoType(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kInfoType, Code, Message);
}
qv_bool MobileNum(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kMobileNum, Code, Message);
}

qv_bool MMSMaxSize(connection::Session &session, int32_t *Code, char *Message, char *ParamOut,
                   const char *Text, const char *Param) {
  return run(session, record::kMMSMaxSize,
             {.result_code = Code, .message = Message, .outs = {ParamOut}, .texts = {Text, Param}});
}

qv_bool NumRule(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kNumRule, Code, Message);
}

qv_bool GetUdInfo(connection::Session &session, int32_t *Code, char *Message, char *Param1,
                  char *Param2, char *Param3) {
  return run(session, record::kGetUdInfo,
             {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}

// The account's password and its sub-accounts.

qv_bool EditPassword(connection::Session &session, int32_t *Code, char *Message,
                     const char *NewPassword, const char *NewPasswordAgain) {
  // The saved name and password are read under the session's call lock,
  // so that a login on another thread cannot change them half-way.
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
qv_bool AddSubUser(connection::Session &session, int32_t *Code, char *Message, const char *Text,
                   const char *Param1, const char *Param2, const char *Param3) {
  return run(session, record::kAddSubUser, Code, Message, Text, Param1, Param2, Param3);
}
qv_bool AddSubUserEx(connection::Session &session, int32_t *Code, char *Message, const char *Text,
                     const char *Param1, const char *Param2, const char *Param3) {
  return run(session, record::kAddSubUserEx, Code, Message, Text, Param1, Param2, Param3);
}
qv_bool AddSubAccount(connection::Session &session, int32_t *Code, char *Message, const char *Text,
                      const char *Param1, const char *Param2, const char *Param3) {
  return run(session, record::kAddSubAccount, Code, Message, Text, Param1, Param2, Param3);
}
qv_bool DisableSubUser(connection::Session &session, int32_t *Code, char *Message,
                       const char *Param1, const char *Param2) {
  return run(session, record::kDisableSubUser, Code, Message, Param1, Param2);
}
qv_bool IncreaseSubBuy(connection::Session &session, int32_t *Code, char *Message, const char *Text,
                       const char *Param1, const char *Param2) {
  return run(session, record::kIncreaseSubBuy, Code, Message, Text, Param1, Param2);
}
qv_bool ReduceSubBuy(connection::Session &session, int32_t *Code, char *Message, const char *Text,
                     const char *Param1, const char *Param2) {
  return run(session, record::kReduceSubBuy, Code, Message, Text, Param1, Param2);
}
qv_bool FindAllSubs(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kFindAllSubs, Code, Message);
}
qv_bool FindAllSubsEx(connection::Session &session, int32_t *Code, char *Message, int32_t *Number1,
                      int32_t *Number2, int32_t *Number3) {
  return run_numbers_out(session, record::kFindAllSubsEx, Code, Message, Number1, Number2, Number3);
}
qv_bool FindAllEmplyee(connection::Session &session, int32_t *Code, char *Message, int32_t *Number1,
                       int32_t *Number2, int32_t *Number3) {
  return run_numbers_out(session, record::kFindAllEmplyee, Code, Message, Number1, Number2,
                         Number3);
}
qv_bool Transfer(connection::Session &session, int32_t *Code, char *Message, int32_t *Number1,
                 int32_t *Number2, int32_t *Number3) {
  return run_numbers_out(session, record::kTransfer, Code, Message, Number1, Number2, Number3);
}
qv_bool FindSubInfo(connection::Session &session, int32_t *Code, char *Message, const char *Text) {
  return run(session, record::kFindSubInfo, Code, Message, Text);
}
qv_bool FindSubInfoEx(connection::Session &session, int32_t *Code, char *Message,
                      const char *Text) {
  return run(session, record::kFindSubInfoEx, Code, Message, Text);
}
qv_bool FindSubAllOrders(connection::Session &session, int32_t *Code, char *Message,
                         const char *Text) {
  return run(session, record::kFindSubAllOrders, Code, Message, Text);
}
qv_bool FindSubOrderInfo(connection::Session &session, int32_t *Code, char *Message,
                         const char *Text, const char *Param1) {
  return run(session, record::kFindSubOrderInfo, Code, Message, Text, Param1);
}
qv_bool EditSubPWD(connection::Session &session, int32_t *Code, char *Message, const char *Text,
                   const char *Param1, const char *Param2, const char *Param3) {
  return run(session, record::kEditSubPWD, Code, Message, Text, Param1, Param2, Param3);
}
qv_bool AddSubGwNumEx(connection::Session &session, int32_t *Code, char *Message, char *Param1Out,
                      char *Param2Out, const char *Text) {
  return run(
      session, record::kAddSubGwNumEx,
      {.result_code = Code, .message = Message, .outs = {Param1Out, Param2Out}, .texts = {Text}});
}
qv_bool DelSubGwNum(connection::Session &session, int32_t *Code, char *Message, char *Param1Out,
                    const char *Text) {
  return run(session, record::kDelSubGwNum,
             {.result_code = Code, .message = Message, .outs = {Param1Out}, .texts = {Text}});
}

// Client, product, information-package and scheduled-order queries.

qv_bool ClientInfo(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kClientInfo, Code, Message);
}
qv_bool AllProductId(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kAllProductId, Code, Message);
}
qv_bool CltProductId(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kCltProductId, Code, Message);
}
qv_bool CltAllPrdIdName(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kCltAllPrdIdName, Code, Message);
}
qv_bool CltAllMmsInfo(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kCltAllMmsInfo, Code, Message);
}
qv_bool CltAllIdNameType(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kCltAllIdNameType, Code, Message);
}
qv_bool ProductInfo(connection::Session &session, int32_t *Code, char *Message,
                    const char *ProductId) {
  return run(session, record::kProductInfo, Code, Message, ProductId);
}
qv_bool AllInfoPackId(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kAllInfoPackId, Code, Message);
}
qv_bool InfoPackStatus(connection::Session &session, int32_t *Code, char *Message,
                       const char *PackageId) {
  return run(session, record::kInfoPackStatus, Code, Message, PackageId);
}
qv_bool InfoPackStatusEx(connection::Session &session, int32_t *Code, char *Message,
                         const char *PackageId) {
  return run(session, record::kInfoPackStatusEx, Code, Message, PackageId);
}
qv_bool GetMessage(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kGetMessage, Code, Message);
}
qv_bool LastDetails(connection::Session &session, int32_t *Code, char *Message, const char *Query,
                    int32_t Count) {
  return run(session, record::kLastDetails,
             {.result_code = Code, .message = Message, .texts = {Query}, .numbers = {Count}});
}
qv_bool GetProductLen(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kGetProductLen, Code, Message);
}
qv_bool PQOrderList(connection::Session &session, int32_t *Code, char *Message, const char *Param1,
                    const char *Param2) {
  return run(session, record::kPQOrderList, Code, Message, Param1, Param2);
}
qv_bool PQOrderInfoByID(connection::Session &session, int32_t *Code, char *Message,
                        const char *Param1, const char *Param2, const char *Param3) {
  return run(session, record::kPQOrderInfoByID, Code, Message, Param1, Param2, Param3);
}
qv_bool PQGetAbilityURL(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kPQGetAbilityURL, Code, Message);
}

// Send jobs.

qv_bool SubmitAllClear(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kSubmitAllClear, Code, Message);
}
qv_bool SubmitPrdId(connection::Session &session, int32_t *Code, char *Message,
                    const char *ProductId) {
  return run(session, record::kSubmitPrdId, Code, Message, ProductId);
}
qv_bool CheckPrdId(connection::Session &session, int32_t *Code, char *Message,
                   const char *ProductId) {
  return run(session, record::kCheckPrdId, Code, Message, ProductId);
}
qv_bool SubmitTelList(connection::Session &session, int32_t *Code, char *Message,
                      const char *Numbers) {
  return run(session, record::kSubmitTelList, Code, Message, Numbers);
}
qv_bool SubmitTelNum(connection::Session &session, int32_t *Code, char *Message,
                     const char *Count) {
  return run(session, record::kSubmitTelNum, Code, Message, Count);
}
qv_bool SubmitContent(connection::Session &session, int32_t *Code, char *Message,
                      const char *Content) {
  return run(session, record::kSubmitContent, Code, Message, Content);
}
qv_bool CheckContent(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kCheckContent, Code, Message);
}
qv_bool SubmitPushURL(connection::Session &session, int32_t *Code, char *Message, const char *Url) {
  return run(session, record::kSubmitPushURL, Code, Message, Url);
}
qv_bool SubmitBgnDate(connection::Session &session, int32_t *Code, char *Message,
                      const char *Date) {
  return run(session, record::kSubmitBgnDate, Code, Message, Date);
}
qv_bool SubmitBgnDateEx(connection::Session &session, int32_t *Code, char *Message,
                        const char *Period) {
  return run(session, record::kSubmitBgnDateEx, Code, Message, Period);
}
qv_bool SubmitEndDate(connection::Session &session, int32_t *Code, char *Message,
                      const char *Date) {
  return run(session, record::kSubmitEndDate, Code, Message, Date);
}
qv_bool SubmitBgnTime(connection::Session &session, int32_t *Code, char *Message,
                      const char *Time) {
  return run(session, record::kSubmitBgnTime, Code, Message, Time);
}
qv_bool SubmitEndTime(connection::Session &session, int32_t *Code, char *Message,
                      const char *Time) {
  return run(session, record::kSubmitEndTime, Code, Message, Time);
}
qv_bool SubmitTransFilename(connection::Session &session, int32_t *Code, char *Message,
                            const char *FileName) {
  return run(session, record::kSubmitTransFilename, Code, Message, FileName);
}
qv_bool SubmitTransFile(connection::Session &session, int32_t *Code, char *Message,
                        const char *FileContent) {
  return run(session, record::kSubmitTransFile, Code, Message, FileContent);
}
qv_bool SubmitPQOrderSelect(connection::Session &session, int32_t *Code, char *Message,
                            const char *Param1, const char *Param2, const char *Param3) {
  return run(session, record::kSubmitPQOrderSelect, Code, Message, Param1, Param2, Param3);
}
qv_bool SubmitAllOver(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kSubmitAllOver, Code, Message);
}
qv_bool SubmitAllOver_2(connection::Session &session, int32_t *Code, char *Message,
                        int32_t *Number1, int32_t *Number2, int32_t *Number3) {
  return run_numbers_out(session, record::kSubmitAllOver_2, Code, Message, Number1, Number2,
                         Number3);
}
qv_bool SubmitAllOverEx(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kSubmitAllOverEx, Code, Message);
}
qv_bool SubmitAllOverEx_2(connection::Session &session, int32_t *Code, char *Message,
                          int32_t *Number1, int32_t *Number2, int32_t *Number3) {
  return run_numbers_out(session, record::kSubmitAllOverEx_2, Code, Message, Number1, Number2,
                         Number3);
}

// Content checks and account parameters.

qv_bool ContentPreview(connection::Session &session, int32_t *Code, char *Message, int32_t *Number,
                       const char *Param, const char *Content) {
  return run(session, record::kContentPreview,
             {.result_code = Code,
              .message = Message,
              .outs = {Number},
              .texts = {Content, Param},
              .text_args = {5, 4}});
}
qv_bool GetSJKHDParams(connection::Session &session, int32_t *Code, char *Message, char *Param1,
                       char *Param2, char *Param3) {
  return run(session, record::kGetSJKHDParams,
             {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}
qv_bool GetSJKHDBid(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kGetSJKHDBid, Code, Message);
}
qv_bool CheckSMSContent(connection::Session &session, int32_t *Code, char *Message,
                        const char *Content, int32_t Number1, int32_t Number2, int32_t Number3) {
  return run(session, record::kCheckSMSContent,
             {.result_code = Code,
              .message = Message,
              .texts = {Content},
              .numbers = {Number1, Number2, Number3}});
}
qv_bool ClientGuiControl(connection::Session &session, int32_t *Code, char *Message) {
  return run(session, record::kClientGuiControl, Code, Message);
}

// The XML protocol.

qv_bool fxLogin_Req(connection::Session &session, int32_t *ReplyCode, int32_t *ReplyLength,
                    const char *app, const char *extra, const char *name, const char *pwd,
                    const char *ver) {
  return serialized(session, [&] {
    return xml::login_request(session, ReplyCode, ReplyLength, app, extra, name, pwd, ver);
  });
}
qv_bool fxLogin_Resp(connection::Session &session, char *Message, int32_t *Agent, char *Pud,
                     int32_t *Agreement, int32_t ReplyCode, int32_t ReplyLength) {
  return serialized(session, [&] {
    return xml::login_response(session, {Message, SIZE_MAX}, Agent, {Pud, SIZE_MAX}, Agreement,
                               ReplyCode, ReplyLength);
  });
}
qv_bool fxReLogin(connection::Session &session) {
  return serialized(session, [&] { return relogin_call(xml::relogin(session)); });
}

#define QV_FX_QUERY(Name, query)                                                                   \
  qv_bool Name##_Req(connection::Session &session, int32_t *ReplyCode, int32_t *ReplyLength) {     \
    return serialized(session,                                                                     \
                      [&] { return xml::query_request(session, query, ReplyCode, ReplyLength); }); \
  }                                                                                                \
  qv_bool Name##_Resp(connection::Session &session, char *Message, int32_t ReplyCode,              \
                      int32_t ReplyLength) {                                                       \
    return serialized(session, [&] {                                                               \
      return xml::query_response(session, query, Message, ReplyCode, ReplyLength);                 \
    });                                                                                            \
  }
QV_FX_QUERY(fxMsgStates, xml::kMsgStatesQuery)
QV_FX_QUERY(fxInfoType, xml::kInfoTypeQuery)
QV_FX_QUERY(fxNumRule, xml::kNumRuleQuery)
QV_FX_QUERY(fxNotify, xml::kNotifyQuery)
#undef QV_FX_QUERY

}  // namespace qv::api::on_session
