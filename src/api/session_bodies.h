// The body of every export that acts on a session, as listed in
// session_exports.def: each acts on the session it is given and keeps its
// export's name, which the trace reports.  The bodies are written in
// src/api/, or made from their rows in exports.cpp; session_exports.cpp
// wraps each in its exports.
#pragma once

#include <cstdint>

#include "connection/session.h"
#include "quorvex.h"

// A row's parenthesised list, bare: QV_LIST (a, b) is a, b.
#define QV_LIST(...) __VA_ARGS__
// A row's list after an argument before it: QV_MORE (a, b) is , a, b and
// QV_MORE () is nothing.
#define QV_MORE(...) __VA_OPT__(, ) __VA_ARGS__

namespace qv::api::on_session {

#define QV_SESSION(Name, Params, Args) qv_bool Name(connection::Session &session QV_MORE Params);
#define QV_SESSION_TWIN(Name, Params, Args) QV_SESSION(Name, Params, Args)
#define QV_RECORD(Name, command, Params, Args, ...) QV_SESSION(Name, Params, Args)
#include "api/session_exports.def"
#undef QV_SESSION
#undef QV_SESSION_TWIN
#undef QV_RECORD

}  // namespace qv::api::on_session
