// The outcome queries: what the calling thread's last call came to (on any
// session, or on one), and a session's connection state.
#include "quorvex.h"

#include <cstdint>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/session_bodies.h"
#include "connection/call_outcome.h"

using namespace qv;

static_assert(static_cast<int>(connection::OutcomeKind::Failed) == QV_OUTCOME_FAILED);
static_assert(static_cast<int>(connection::OutcomeKind::Cancelled) == QV_OUTCOME_CANCELLED);
static_assert(static_cast<int>(connection::OutcomeKind::MaybeApplied) == QV_OUTCOME_MAYBE_APPLIED);
static_assert(static_cast<int>(connection::ReloginKind::Failed) == QV_RELOGIN_FAILED);
static_assert(static_cast<int>(connection::Path::Http) == QV_PATH_HTTP);
static_assert(static_cast<int>(connection::LoginProtocol::Xml) == QV_PROTOCOL_XML);
static_assert(connection::kStateLoggedIn == QV_STATE_LOGGED_IN);

namespace {

void report(const connection::CallOutcome &o, int32_t *Outcome, int32_t *Sent, int32_t *Argument,
            int32_t *SocketError, char *Detail, int32_t DetailSize) {
  if (Outcome) *Outcome = static_cast<int32_t>(o.kind);
  if (Sent) *Sent = o.sent ? 1 : 0;
  if (Argument) *Argument = o.argument;
  if (SocketError) *SocketError = o.error.socket_error;
  api::copy_detail(Detail, DetailSize, o.error.text);
}

void report_relogin(const connection::CallOutcome &o, int32_t *Relogin, int32_t *ServerCode,
                    int32_t *SocketError, char *Detail, int32_t DetailSize) {
  if (Relogin) *Relogin = static_cast<int32_t>(o.relogin);
  if (ServerCode) *ServerCode = o.relogin_code;
  if (SocketError) *SocketError = o.relogin_error.socket_error;
  api::copy_detail(Detail, DetailSize, o.relogin_error.text);
}

// The thread's last call on session, or a call that came to nothing.
const connection::CallOutcome &last_on(const connection::Session &session) {
  static const connection::CallOutcome kNone;
  const connection::CallOutcome *kept = connection::kept_outcome(session.id());
  return kept ? *kept : kNone;
}

}  // namespace

// These read only: they change neither the outcome nor the state.

extern "C" {

QV_API GetLastOutcome(int32_t *Outcome, int32_t *Sent, int32_t *Argument, int32_t *SocketError,
                      char *Detail, int32_t DetailSize) {
  report(connection::this_thread_outcome(), Outcome, Sent, Argument, SocketError, Detail,
         DetailSize);
  return 1;
}

QV_API GetLastRelogin(int32_t *Relogin, int32_t *ServerCode, int32_t *SocketError, char *Detail,
                      int32_t DetailSize) {
  report_relogin(connection::this_thread_outcome(), Relogin, ServerCode, SocketError, Detail,
                 DetailSize);
  return 1;
}

}  // extern "C"

namespace qv::api::on_session {

qv_bool GetLastOutcome(connection::Session &session, int32_t *Outcome, int32_t *Sent,
                       int32_t *Argument, int32_t *SocketError, char *Detail, int32_t DetailSize) {
  report(last_on(session), Outcome, Sent, Argument, SocketError, Detail, DetailSize);
  return 1;
}

qv_bool GetLastRelogin(connection::Session &session, int32_t *Relogin, int32_t *ServerCode,
                       int32_t *SocketError, char *Detail, int32_t DetailSize) {
  report_relogin(last_on(session), Relogin, ServerCode, SocketError, Detail, DetailSize);
  return 1;
}

qv_bool GetConnectionState(connection::Session &session, int32_t *State, int32_t *Path,
                           int32_t *LoginProtocol, int32_t *LoginCode) {
  const connection::PublishedState s = session.published_state();
  if (State) *State = s.flags;
  if (Path) *Path = static_cast<int32_t>(s.path);
  if (LoginProtocol) *LoginProtocol = static_cast<int32_t>(s.login);
  if (LoginCode) *LoginCode = s.login_code;
  return 1;
}

}  // namespace qv::api::on_session
