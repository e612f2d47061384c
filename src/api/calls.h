// The session that the classic exports act on, and the shapes that several
// exports share: a record command run under the guard, the connect of
// either protocol, the disconnect and the relogin that the host asks for.
#pragma once

#include <cstdint>

#include "api/guard.h"
#include "connection/connect.h"
#include "quorvex.h"
#include "record/arguments.h"
#include "record/command.h"

namespace qv::api {

// The library's own session, made at the first call and kept for the
// life of the process; dllInitialize and release make and destroy its
// connection objects.  Its handle is what QvDefaultSession returns.
connection::Session &default_session();

// A key of this process for scrambling the values of its handle tables.
uintptr_t handle_key();
QvSession *default_handle();

// Runs one record command on the session under its call lock.
qv_bool run(connection::Session &session, const record::Command &command, const record::Call &call,
            Where where = __builtin_FUNCTION());

// TcpConnect and fxTcpConnect: the session's connect of protocol, its
// failure classified for the host's last-outcome query.
qv_bool connect_export(connection::Session &session, connection::Protocol protocol, char *Message,
                       const char *Host, int32_t Port, int32_t Timeout, const char *ProxyKind,
                       const char *ProxyHost, int32_t ProxyPort, const char *ProxyUser,
                       const char *ProxyPassword, Where where = __builtin_FUNCTION());

// A disconnect before initialisation has nothing to close.
bool disconnect_or_note(connection::Session &session);

// ReLogin and fxReLogin called by the host: the relogin is the call, so its
// failure is the call's outcome as well.
bool relogin_call(bool accepted);

}  // namespace qv::api
