// What a QvSession handle is: a value that names an entry of the sessions'
// handle table, never the session's address, so that a handle the library
// did not hand out, or one already destroyed, is refused without reading
// anything through it, and a stale one never reaches a newer session.
#pragma once

#include <cstdint>

#include "api/guard.h"
#include "api/handle_table.h"
#include "connection/session.h"
#include "quorvex.h"

namespace qv::api {

using SessionTable = HandleTable<connection::Session>;

// The process's sessions; it lives as long as the process, so that a
// handle can be checked at any time, even while the process ends.
SessionTable &sessions();

inline uintptr_t handle_value(const QvSession *handle) {
  return reinterpret_cast<uintptr_t>(handle);
}
inline QvSession *as_handle(uintptr_t value) { return reinterpret_cast<QvSession *>(value); }

// One call on a host's session, from before it waits for the session's
// call lock until it has returned: a destroy waits for it.  False when the
// handle is not a live session.
class SessionUse {
 public:
  explicit SessionUse(QvSession *handle) : use_(sessions().use(handle_value(handle))) {}
  explicit operator bool() const { return static_cast<bool>(use_); }
  connection::Session &session() const { return *use_; }

 private:
  SessionTable::Use use_;
};

// Notes a session argument that is not a live session: refused before any
// other argument is touched, and without reading anything through it.
void note_not_a_session(const QvSession *handle, int32_t argument = 1);

// A twin given no live session: its refusal, under the guard.
qv_bool refuse_session(const QvSession *handle, Where where = __builtin_FUNCTION());

}  // namespace qv::api
