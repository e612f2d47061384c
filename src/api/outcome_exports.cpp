// The outcome queries: what the calling thread's last call came to, and
// the connection's state.
#include "quorvex.h"

#include <cstdint>

#include "api/arguments.h"
#include "api/calls.h"
#include "connection/call_outcome.h"

using namespace qv;

static_assert(static_cast<int>(connection::OutcomeKind::Failed) == QV_OUTCOME_FAILED);
static_assert(static_cast<int>(connection::OutcomeKind::MaybeApplied) == QV_OUTCOME_MAYBE_APPLIED);
static_assert(static_cast<int>(connection::ReloginKind::Failed) == QV_RELOGIN_FAILED);
static_assert(static_cast<int>(connection::Path::Http) == QV_PATH_HTTP);
static_assert(static_cast<int>(connection::LoginProtocol::Xml) == QV_PROTOCOL_XML);
static_assert(connection::kStateLoggedIn == QV_STATE_LOGGED_IN);

extern "C" {

// What the calling thread's last call came to, and the connection's state.
// These read only: they change neither the outcome nor the state.

QV_API GetLastOutcome(int32_t *Outcome, int32_t *Sent, int32_t *Argument, int32_t *SocketError,
                      char *Detail, int32_t DetailSize) {
  const connection::CallOutcome &o = connection::this_thread_outcome();
  if (Outcome) *Outcome = static_cast<int32_t>(o.kind);
  if (Sent) *Sent = o.sent ? 1 : 0;
  if (Argument) *Argument = o.argument;
  if (SocketError) *SocketError = o.error.socket_error;
  api::copy_detail(Detail, DetailSize, o.error.text);
  return 1;
}

QV_API GetLastRelogin(int32_t *Relogin, int32_t *ServerCode, int32_t *SocketError, char *Detail,
                      int32_t DetailSize) {
  const connection::CallOutcome &o = connection::this_thread_outcome();
  if (Relogin) *Relogin = static_cast<int32_t>(o.relogin);
  if (ServerCode) *ServerCode = o.relogin_code;
  if (SocketError) *SocketError = o.relogin_error.socket_error;
  api::copy_detail(Detail, DetailSize, o.relogin_error.text);
  return 1;
}

QV_API GetConnectionState(int32_t *State, int32_t *Path, int32_t *LoginProtocol,
                          int32_t *LoginCode) {
  const connection::PublishedState s = api::default_session().published_state();
  if (State) *State = s.flags;
  if (Path) *Path = static_cast<int32_t>(s.path);
  if (LoginProtocol) *LoginProtocol = static_cast<int32_t>(s.login);
  if (LoginCode) *LoginCode = s.login_code;
  return 1;
}

}  // extern "C"
