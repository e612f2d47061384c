// The one guard at the export boundary: an export body runs inside it, so
// that no exception reaches the host; the calling thread's outcome starts
// afresh and is completed at the end, and the trace notes the call.
#pragma once

#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "connection/call_outcome.h"
#include "connection/session.h"
#include "quorvex.h"
#include "trace/trace.h"

namespace qv::api {

// An error that escaped a body: what the host's last-outcome query says.
void escaped(const std::exception *e);

// The export that a call site belongs to, for the trace: the default
// argument of the helpers below is the name of the function that calls
// them (GCC's and Clang's __builtin_FUNCTION, plain "GetUdInfo").
using Where = const char *;

inline std::string_view export_name(Where where) { return where ? where : "?"; }

// Runs an export body on a session (its id and the number the trace shows;
// 0 for none); any exception becomes the failure result.  The calling thread's outcome starts
// afresh and is completed at the end, and kept as the thread's last on that session.  The id is
// taken before the body runs, so that nothing here touches a session that a destroy frees as soon
// as the call lets go of its lock.
template <class Body>
qv_bool guarded_on(uint64_t session, uint64_t traced_as, Body &&body,
                   Where where = __builtin_FUNCTION()) noexcept {
  const trace::SessionScope traced(traced_as);
  connection::begin_call();
  qv_bool result = 0;
  try {
    trace::event_if_on([&] { return "call " + std::string(export_name(where)); });
    result = body() ? 1 : 0;
  } catch (const std::exception &e) {
    escaped(&e);
  } catch (...) {
    escaped(nullptr);
  }
  connection::end_call(result != 0);
  if (session) connection::keep_outcome(session);
  try {
    trace::event_if_on(
        [&] { return std::string(export_name(where)) + (result ? " returned 1" : " returned 0"); });
  } catch (...) {
    // The trace is only a witness: its own failure changes no result.
  }
  return result;
}

// An export body on no session.
template <class Body>
qv_bool guarded(Body &&body, Where where = __builtin_FUNCTION()) noexcept {
  return guarded_on(0, 0, std::forward<Body>(body), where);
}

// Runs an export body under the session's call lock, inside the guard, so
// that two host threads can never interleave their records on the
// session's stream.  The state it leaves is published for
// GetConnectionState.
template <class Body>
qv_bool serialized(connection::Session &session, Body &&body,
                   Where where = __builtin_FUNCTION()) noexcept {
  return guarded_on(
      session.id(), session.trace_number(),
      [&] {
        std::lock_guard<connection::CallLock> lock(session.call_lock);
        const bool result = body();
        session.publish_state();
        return result;
      },
      where);
}

// A disconnect or release: a call blocked on the session's connection (a
// connect, a read, a write) gives way at once instead of holding the lock
// until its time-out, and its failure path does not reconnect.
template <class Body>
qv_bool interrupting(connection::Session &session, Body &&body,
                     Where where = __builtin_FUNCTION()) noexcept {
  session.waits.request_interrupt();
  const qv_bool result = serialized(session, std::forward<Body>(body), where);
  session.waits.end_interrupt();
  return result;
}

}  // namespace qv::api
