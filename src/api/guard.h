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
#include "connection/tcp_client.h"
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

// Runs an export body; any exception becomes the failure result.  The
// calling thread's outcome starts afresh and is completed at the end.
template <class Body>
qv_bool guarded(Body &&body, Where where = __builtin_FUNCTION()) noexcept {
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
  try {
    trace::event_if_on(
        [&] { return std::string(export_name(where)) + (result ? " returned 1" : " returned 0"); });
  } catch (...) {
    // The trace is only a witness: its own failure changes no result.
  }
  return result;
}

// The call lock: every call that uses the connection or the library's
// state runs alone, so that two host threads can never interleave their
// records on the stream.
extern std::mutex g_call_mutex;

// Runs an export body under the call lock, inside the guard.  The state it
// leaves is published for GetConnectionState.
template <class Body>
qv_bool serialized(Body &&body, Where where = __builtin_FUNCTION()) noexcept {
  return guarded(
      [&] {
        std::lock_guard<std::mutex> lock(g_call_mutex);
        const bool result = body();
        connection::publish_state();
        return result;
      },
      where);
}

// A disconnect or release: a call blocked on the connection (a connect, a
// read, a write) gives way at once instead of holding the lock until its
// time-out, and its failure path does not reconnect.
template <class Body>
qv_bool interrupting(Body &&body, Where where = __builtin_FUNCTION()) noexcept {
  connection::request_interrupt();
  const qv_bool result = serialized(std::forward<Body>(body), where);
  connection::end_interrupt();
  return result;
}

}  // namespace qv::api
