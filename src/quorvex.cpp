// The export table: every exported function, its argument handling and the
// one guard that keeps any error inside the library.
#include "quorvex.h"

#include <string>

#include "connection/client_context.h"
#include "connection/connect.h"
#include "record/exchange.h"
#include "record/login.h"
#include "record/reference_queries.h"

namespace {

using namespace qv;

// Runs an export body; any exception becomes the failure result.
template <class Body>
qv_bool guarded(Body &&body) noexcept {
  try {
    return body() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

std::string text_or_empty(const char *t) { return t ? std::string(t) : std::string(); }

qv_bool connect_export(connection::Protocol protocol, char *Message, const char *Host, int32_t Port,
                       int32_t Timeout, const char *ProxyKind, const char *ProxyHost,
                       int32_t ProxyPort, const char *ProxyUser, const char *ProxyPassword) {
  return guarded([&] {
    if (!Message) return false;
    const connection::ConnectionSettings args{text_or_empty(Host),      Port,
                                              Timeout,                  text_or_empty(ProxyKind),
                                              text_or_empty(ProxyHost), ProxyPort,
                                              text_or_empty(ProxyUser), text_or_empty(ProxyPassword)};
    return connection::connect(protocol, {Message, SIZE_MAX}, args);
  });
}

qv_bool run(const record::Command &command, const record::Call &call) {
  return guarded([&] { return record::execute(command, call); });
}

}  // namespace

extern "C" {

QV_API dllInitialize(void) { return guarded([] { return connection::initialize(); }); }
QV_API TcpInit(void) { return dllInitialize(); }
QV_API dllUnInitialize(void) { return guarded([] { return connection::release(); }); }
QV_API TcpRelease(void) { return dllUnInitialize(); }
QV_API TcpDisconnect(void) { return guarded([] { return connection::disconnect(); }); }
QV_API fxTcpDisconnect(void) { return TcpDisconnect(); }

QV_API TcpConnect(char *Message, const char *Host, int32_t Port, int32_t Timeout,
                  const char *ProxyKind, const char *ProxyHost, int32_t ProxyPort,
                  const char *ProxyUser, const char *ProxyPassword) {
  return connect_export(connection::Protocol::Record, Message, Host, Port, Timeout, ProxyKind,
                        ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
}

QV_API fxTcpConnect(char *Message, const char *Host, int32_t Port, int32_t Timeout,
                    const char *ProxyKind, const char *ProxyHost, int32_t ProxyPort,
                    const char *ProxyUser, const char *ProxyPassword) {
  return connect_export(connection::Protocol::Xml, Message, Host, Port, Timeout, ProxyKind,
                        ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
}

QV_API SetReadTimeout(int32_t Milliseconds) {
  connection::set_read_timeout_ms(Milliseconds);
  return 1;
}

QV_API Login_Request(const char *app, const char *extra, const char *name, const char *pwd,
                     const char *ver) {
  return guarded([&] { return record::login_request(app, extra, name, pwd, ver); });
}

QV_API Login_Feedback(int32_t *Code, char *Message, char *Param1, char *Param2, char *Param3) {
  return run(record::kLoginFeedback, {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}

QV_API ReLogin(void) { return guarded([] { return record::relogin(); }); }

QV_API Heartbeat(void) { return run(record::kHeartbeat, {}); }

QV_API MsgStates(int32_t *Code, char *Message) {
  return run(record::kMsgStates, {.result_code = Code, .message = Message});
}

QV_API InfoType(int32_t *Code, char *Message) {
  return run(record::kInfoType, {.result_code = Code, .message = Message});
}

QV_API MobileNum(int32_t *Code, char *Message) {
  return run(record::kMobileNum, {.result_code = Code, .message = Message});
}

QV_API MMSMaxSize(int32_t *Code, char *Message, char *ParamOut, const char *Text, const char *Param) {
  return run(record::kMMSMaxSize,
             {.result_code = Code, .message = Message, .outs = {ParamOut}, .texts = {Text, Param}});
}

QV_API NumRule(int32_t *Code, char *Message) {
  return run(record::kNumRule, {.result_code = Code, .message = Message});
}

QV_API GetUdInfo(int32_t *Code, char *Message, char *Param1, char *Param2, char *Param3) {
  return run(record::kGetUdInfo,
             {.result_code = Code, .message = Message, .outs = {Param1, Param2, Param3}});
}

}  // extern "C"
