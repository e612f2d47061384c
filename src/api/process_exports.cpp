// The exports that use no session: the library's lifecycle (which makes
// and releases the default session's objects), the settings file, the
// timed web request, the dialogs, number classification and the trace.
#include "quorvex.h"

#include <cstdint>
#include <string>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/guard.h"
#include "connection/call_outcome.h"
#include "connection/session.h"
#include "record/number_classification.h"
#include "services/settings_file.h"
#include "services/web_request.h"
#include "trace/trace.h"
#include "ui/dialogs.h"

using namespace qv;
using namespace qv::api;

extern "C" {

QV_API dllInitialize(void) {
  connection::Session &session = default_session();
  return serialized(session, [&] {
    connection::initialize_process();
    return session.initialize();
  });
}
QV_API TcpInit(void) { return dllInitialize(); }
QV_API dllUnInitialize(void) {
  connection::Session &session = default_session();
  return interrupting(session, [&] {
    session.forget_kept();
    const bool released = session.release();
    connection::uninitialize_process();
    return released;
  });
}
QV_API TcpRelease(void) { return dllUnInitialize(); }

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
