// Operations as the exports start them: the generated starters hand their
// call here, and a session's destroy ends its operations.
#pragma once

#include <cstdint>
#include <functional>

#include "api/guard.h"
#include "async/operation.h"
#include "quorvex.h"

namespace qv::api {

// Starts call as an operation of Session on Queue; NULL when refused (the
// calling thread's outcome says why).  Never waits for the network or for
// another call.
QvOp *start_operation(QvSession *Session, QvQueue *Queue, void *Tag, async::Call call,
                      Where where = __builtin_FUNCTION());

// Starts runner as an operation of Session on Queue; prepare may refuse
// it at once (false, the outcome set).
QvOp *start_runner(QvSession *Session, QvQueue *Queue, void *Tag, async::Runner runner,
                   const std::function<bool()> &prepare, Where where = __builtin_FUNCTION());

// A session's destroy has begun and its waits are interrupted: its
// operations that have not run complete cancelled, and this returns once
// the one that runs has completed.
void end_operations(uintptr_t session);

}  // namespace qv::api
