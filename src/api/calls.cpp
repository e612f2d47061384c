#include "api/calls.h"

#include <string>

#include <chrono>
#include <cstdio>
#include <random>

#include "api/arguments.h"
#include "api/session_handle.h"
#include "common/fixed_texts.h"
#include "connection/call_outcome.h"
#include "record/exchange.h"

namespace qv::api {

// A key of this process for scrambling handle values: a made-up value
// rarely names a live session.  Not a secret, only a spread.
uintptr_t handle_key() {
  uint64_t key = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  try {
    std::random_device device;
    key ^= uint64_t{device()} << 32 | device();
  } catch (...) {
    // The clock alone spreads the values well enough.
  }
  key *= 0x9e3779b97f4a7c15ULL;
  return static_cast<uintptr_t>(key ^ key >> 29);
}

void note_not_a_session(const QvSession *handle, int32_t argument) {
  const std::string n = std::to_string(argument);
  connection::refuse(argument, handle ? "Argument " + n +
                                            " is not a live session: QvSessionCreate did not make "
                                            "it, or it was destroyed."
                                      : "Argument " + n + " (the session) is a null pointer.");
}

qv_bool refuse_session(const QvSession *handle, Where where) {
  return guarded(
      [handle] {
        note_not_a_session(handle);
        return false;
      },
      where);
}

SessionTable &sessions() {
  // Never destroyed: a handle stays checkable until the process is gone.
  static auto *table = new SessionTable(handle_key());  // NOLINT(cppcoreguidelines-owning-memory)
  return *table;
}

connection::Session &default_session() {
  static connection::Session session;
  return session;
}

QvSession *default_handle() {
  static const uintptr_t handle = sessions().add(&default_session());
  return as_handle(handle);
}

qv_bool run(connection::Session &session, const record::Command &command, const record::Call &call,
            Where where) {
  return serialized(
      session, [&] { return record::execute(session, command, call); }, where);
}

qv_bool connect_export(connection::Session &session, connection::Protocol protocol, char *Message,
                       const char *Host, int32_t Port, int32_t Timeout, const char *ProxyKind,
                       const char *ProxyHost, int32_t ProxyPort, const char *ProxyUser,
                       const char *ProxyPassword, Where where) {
  return serialized(
      session,
      [&] {
        if (!Message) {
          connection::refuse(1, "Argument 1 (the message buffer) is a null pointer.");
          return false;
        }
        const connection::ConnectionSettings args{text_or_empty(Host),
                                                  Port,
                                                  Timeout,
                                                  text_or_empty(ProxyKind),
                                                  text_or_empty(ProxyHost),
                                                  ProxyPort,
                                                  text_or_empty(ProxyUser),
                                                  text_or_empty(ProxyPassword)};
        if (connection::connect(session, protocol, {Message, SIZE_MAX}, args)) return true;
        const connection::Error e =
            connection::last_connect_error().value_or(connection::Error("The connect failed."));
        connection::record_failure(e.cause() == connection::Cause::NotInitialised
                                       ? connection::OutcomeKind::NotInitialised
                                       : connection::OutcomeKind::ConnectFailed,
                                   e);
        return false;
      },
      where);
}

bool disconnect_or_note(connection::Session &session) {
  if (session.disconnect()) return true;
  connection::record_failure(connection::OutcomeKind::NotInitialised,
                             connection::not_initialised(text::kNotInitialized));
  return false;
}

bool relogin_call(bool accepted) {
  if (accepted) return true;
  connection::CallOutcome &o = connection::this_thread_outcome();
  switch (o.relogin) {
    case connection::ReloginKind::ConnectFailed:
      o.kind = o.relogin_error.socket_error == connection::kWsaNotInitialised
                   ? connection::OutcomeKind::NotInitialised
                   : connection::OutcomeKind::ConnectFailed;
      o.error = o.relogin_error;
      break;
    case connection::ReloginKind::Refused: {
      char why[80];
      std::snprintf(why, sizeof why, "The server answered the login with code %d.",
                    static_cast<int>(o.relogin_code));
      connection::other_failure(why);
      break;
    }
    case connection::ReloginKind::NotRun:
      connection::other_failure("A disconnect asked for by another thread is in progress.");
      break;
    default:
      o.kind = connection::OutcomeKind::Failed;
      o.error = o.relogin_error;
      break;
  }
  return false;
}

}  // namespace qv::api
