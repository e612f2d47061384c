// The bodies of the exports that act on a session, each handing its
// arguments to a module under the one guard (api/guard.h): the ones written
// here, and the plain record exchanges made from their rows of
// session_exports.def.  session_exports.cpp wraps each body twice: the
// classic export on the default session and its Qv twin on the caller's.
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

qv_bool ReLogin(connection::Session &session) {
  return serialized(session, [&] { return relogin_call(record::relogin(session)); });
}

// The commands that depart from the plain exchange: EditPassword sends the
// saved name and password, ContentPreview takes its parameter text before
// its content text.

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

qv_bool ContentPreview(connection::Session &session, int32_t *Code, char *Message, int32_t *Number,
                       const char *Param, const char *Content) {
  return run(session, record::kContentPreview,
             {.result_code = Code,
              .message = Message,
              .outs = {Number},
              .texts = {Content, Param},
              .text_args = {5, 4}});
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

// The plain record exchanges: the command and the call their rows give.
#define QV_SESSION(Name, Params, Args)
#define QV_SESSION_TWIN(Name, Params, Args)
#define QV_RECORD(Name, command, Params, Args, ...)                 \
  qv_bool Name(connection::Session &session QV_MORE Params) {       \
    return run(session, record::command, record::Call __VA_ARGS__); \
  }
#include "api/session_exports.def"
#undef QV_SESSION
#undef QV_SESSION_TWIN
#undef QV_RECORD

}  // namespace qv::api::on_session
