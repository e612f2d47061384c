// The sessions' own exports, and the wrappers of every export that acts on
// a session (session_exports.inc, generated): the classic export on the
// default session, its Qv twin on the session given first.
#include "quorvex.h"

#include <atomic>
#include <memory>
#include <string>

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

// The trace's numbers of created sessions: s1, s2, ... in the order they
// were made, never reused.
std::atomic<uint64_t> g_next_trace_number{1};

// A session's birth or end, on the trace.
void note_session(uint64_t number, const char *what) noexcept {
  try {
    trace::event_if_on([&] { return "session s" + std::to_string(number) + what; });
  } catch (...) {
    // The trace is only a witness: its own failure changes no result.
  }
}

}  // namespace

#include "api/session_exports.inc"

extern "C" {

QV_EXPORT QvSession *QV_CALL QvSessionCreate(void) {
  QvSession *made = nullptr;
  guarded([&] {
    auto handle = std::make_unique<QvSession>();
    handle->session.initialize();
    const uint64_t number = g_next_trace_number.fetch_add(1);
    handle->session.number_for_trace(number);
    note_session(number, " created");
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
  note_session(session.trace_number(), " destroyed");
  delete Session;  // NOLINT(cppcoreguidelines-owning-memory): the host's handle
}

QV_EXPORT QvSession *QV_CALL QvDefaultSession(void) {
  return default_session().initialised() ? default_handle() : nullptr;
}

}  // extern "C"
