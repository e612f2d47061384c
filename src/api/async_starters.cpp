// The starters of operations, one for each row of async_starters.def
// (generated): each copies its inputs and hands the call of the export's
// body, with the operation's outputs, to start_operation.
#include "api/operations.h"
#include "api/session_bodies.h"
#include "async/operation.h"
#include "quorvex.h"

using namespace qv;
using namespace qv::api;

// The export is a declaration, not an expression: no parentheses around it.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QV_START(Name, Params, Captures, Call)                                                   \
  QV_EXPORT QvOp *QV_CALL QvStart##Name(QvSession *Session, QvQueue *Queue,                      \
                                        void *Tag QV_MORE Params) {                              \
    return start_operation(                                                                      \
        Session, Queue, Tag,                                                                     \
        [QV_LIST Captures](connection::Session &s, [[maybe_unused]] async::Outputs &o) -> bool { \
          return Call;                                                                           \
        },                                                                                       \
        "QvStart" #Name);                                                                        \
  }
// NOLINTEND(bugprone-macro-parentheses)
extern "C" {
#include "api/async_starters.def"
}  // extern "C"
#undef QV_START
