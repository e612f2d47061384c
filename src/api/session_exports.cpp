// The sessions' own exports, and the wrappers of every export that acts on
// a session (the rows of session_exports.def, generated): the classic
// export on the default session, its Qv twin on the session given first.
#include "quorvex.h"

#include <atomic>
#include <memory>
#include <string>

#include "api/calls.h"
#include "api/guard.h"
#include "api/operations.h"
#include "api/session_bodies.h"
#include "api/session_handle.h"
#include "connection/call_outcome.h"

using namespace qv;
using namespace qv::api;

namespace {

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

// Each body wrapped in its exports: the classic one on the default session,
// the twin QvName on the session given first, refused before anything is
// read through it when that session is not live.
#define QV_TWIN(Name, Params, Args)                      \
  QV_API Qv##Name(QvSession *Session QV_MORE Params) {   \
    const SessionUse use(Session);                       \
    if (!use) return refuse_session(Session);            \
    return on_session::Name(use.session() QV_MORE Args); \
  }
#define QV_SESSION(Name, Params, Args)                                                     \
  QV_API Name(QV_LIST Params) { return on_session::Name(default_session() QV_MORE Args); } \
  QV_TWIN(Name, Params, Args)
#define QV_SESSION_TWIN(Name, Params, Args) QV_TWIN(Name, Params, Args)
#define QV_RECORD(Name, command, Params, Args, ...) QV_SESSION(Name, Params, Args)
extern "C" {
#include "api/session_exports.def"
}  // extern "C"
#undef QV_TWIN
#undef QV_SESSION
#undef QV_SESSION_TWIN
#undef QV_RECORD

extern "C" {

QV_EXPORT QvSession *QV_CALL QvSessionCreate(void) {
  QvSession *made = nullptr;
  guarded([&] {
    auto session = std::make_unique<connection::Session>();
    session->initialize();
    const uintptr_t handle = sessions().add(session.get());
    if (handle == 0) {
      connection::other_failure("No session handle is left in this process.");
      return false;
    }
    const uint64_t number = g_next_trace_number.fetch_add(1);
    session->number_for_trace(number);
    note_session(number, " created");
    static_cast<void>(session.release());  // owned by its handle from now on
    made = as_handle(handle);
    return true;
  });
  return made;
}

QV_EXPORT qv_bool QV_CALL QvSessionDestroy(QvSession *Session) {
  if (Session && Session == default_handle()) {
    return guarded([] {
      connection::refuse(1, "Argument 1 is the default session, which is never destroyed.");
      return false;
    });
  }
  const uintptr_t handle = handle_value(Session);
  // From here no call enters the session; a second destroy is refused.
  connection::Session *session = sessions().begin_destroy(handle);
  if (!session) return refuse_session(Session);
  return guarded([&] {
    // As a disconnect from another thread, that never ends: the call
    // blocked on the connection gives way at once, and every call already
    // inside fails as it reaches the connection, connects nothing and
    // hands over nothing it kept.
    session->waits.request_interrupt();
    end_operations(handle);
    sessions().wait_until_unused(handle);
    {
      const std::lock_guard<connection::CallLock> lock(session->call_lock);
      session->forget_kept();
      session->release();
    }
    note_session(session->trace_number(), " destroyed");
    sessions().finish_destroy(handle);
    delete session;  // NOLINT(cppcoreguidelines-owning-memory): its handle is dead
    return true;
  });
}

QV_EXPORT QvSession *QV_CALL QvDefaultSession(void) {
  return default_session().initialised() ? default_handle() : nullptr;
}

}  // extern "C"
