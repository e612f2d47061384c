// The sessions' own exports, and the wrappers of every export that acts on
// a session (session_exports.inc, generated): the classic export on the
// default session, its Qv twin on the session given first.
#include "quorvex.h"

#include <memory>

#include "api/calls.h"
#include "api/guard.h"
#include "api/session_bodies.h"
#include "api/session_handle.h"
#include "connection/call_outcome.h"

using namespace qv;
using namespace qv::api;

namespace {

// A twin given no session: refused before any other argument is touched.
qv_bool refuse_null_session(Where where = __builtin_FUNCTION()) {
  return guarded(
      [] {
        connection::refuse(1, "Argument 1 (the session) is a null pointer.");
        return false;
      },
      where);
}

}  // namespace

#include "api/session_exports.inc"

extern "C" {

QV_EXPORT QvSession *QV_CALL QvSessionCreate(void) {
  QvSession *made = nullptr;
  guarded([&] {
    auto handle = std::make_unique<QvSession>();
    handle->session.initialize();
    made = handle.release();
    return true;
  });
  return made;
}

QV_EXPORT void QV_CALL QvSessionDestroy(QvSession *Session) {
  if (!Session || Session == default_handle()) {
    guarded([&] {
      connection::refuse(1, Session ? "Argument 1 is the default session, which is never destroyed."
                                    : "Argument 1 (the session) is a null pointer.");
      return false;
    });
    return;
  }
  // As a disconnect from another thread: a call blocked on the session
  // gives way at once, and so does every call waiting behind it, since the
  // interrupt lasts until the last of them has returned; taking the call
  // lock waits for the first.
  connection::Session &session = Session->session;
  session.waits.request_interrupt();
  serialized(session, [&] {
    session.forget_kept();
    return session.release();
  });
  Session->wait_until_unused();
  session.waits.end_interrupt();
  delete Session;  // NOLINT(cppcoreguidelines-owning-memory): the host's handle
}

QV_EXPORT QvSession *QV_CALL QvDefaultSession(void) {
  return default_session().initialised() ? default_handle() : nullptr;
}

}  // extern "C"
