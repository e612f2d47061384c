// What the calling thread's last export call came to, and the state of the
// connection as the last finished call left it.  Both only add to what the
// exports report: no result, result code or message depends on them.
//
// The outcome is kept per thread, so that a host thread asks about its own
// call.  Recording it never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "connection/socket_errors.h"
#include "quorvex.h"

namespace qv::connection {

// The values are the header's QV_OUTCOME_*.
enum class OutcomeKind : int32_t {
  Ok = 0,
  Refused = 1,         // an argument was refused; nothing was sent
  NotInitialised = 2,  // no connection object: before initialisation or after release
  NotConnected = 3,    // no open connection; nothing was sent
  ConnectFailed = 4,   // a connect or proxy handshake failed
  NotSent = 5,         // failed before the whole request was written: the server cannot have it
  MaybeApplied = 6,  // failed after the whole request was written: the server may have acted on it
  TimedOut = 7,      // a deadline passed; sent says whether the whole request was out
  Failed = 8,        // any other failure (a settings file, a web request, a window)
  Cancelled = 9,     // an operation cancelled before its request was out
};

// The values are the header's QV_RELOGIN_*.
enum class ReloginKind : int32_t {
  NotRun = 0,
  LoggedIn = 1,       // reconnected, and the server accepted the login
  Refused = 2,        // reconnected, and the server answered the login with another code
  ConnectFailed = 3,  // the reconnect failed, or there was nothing to reconnect to
  Failed = 4,         // the login exchange failed
};

// An error as the host reads it: a Windows Sockets number (0 when the
// failure is not a socket's) and an English text, cut to fit.
struct ErrorDetail {
  int32_t socket_error = 0;
  char text[QV_DETAIL_BUFFER_SIZE] = {};

  void set(int32_t number, std::string_view text);
  void set(const Error &e);
};

struct CallOutcome {
  OutcomeKind kind = OutcomeKind::Ok;
  bool sent = false;     // the whole request was written
  int32_t argument = 0;  // 1-based position of a refused argument, 0 for none
  ErrorDetail error;
  ReloginKind relogin = ReloginKind::NotRun;
  int32_t relogin_code = -1;  // the server's answer to the relogin's login, -1 for none
  ErrorDetail relogin_error;
};

// The calling thread's record.
CallOutcome &this_thread_outcome();

// The calling thread's last call on each of the sessions it used last
// (named by Session::id()): kept when a call on one ends, without touching
// the heap.  A thread that goes on to more sessions forgets the one it
// used longest ago.
inline constexpr size_t kSessionsRemembered = 16;
void keep_outcome(uint64_t session);
// Null when the thread made no call on it, or forgot it.
const CallOutcome *kept_outcome(uint64_t session);

// An export call starts: its outcome so far is Ok.
void begin_call();
// An export call ends with result: a failure that nothing classified
// becomes Failed.
void end_call(bool result);

// The whole request of the call is out.
void mark_sent();
void refuse(int32_t argument, std::string_view why);
void record_failure(OutcomeKind kind, const Error &e, bool sent = false);
// A failed exchange: the kind follows from the error's cause and whether
// the whole request had been written.
void exchange_failed(const Error &e, bool sent);
// A failure of something that is not an Error of the connection layer.
void other_failure(std::string_view why);
// A text handed back shorter than it came (to fit a buffer sized from the
// reply's length): the call succeeds, and its Detail says so.
void note_text_cut(std::string_view name, size_t full, size_t kept);

// The kind in words, for the trace.
const char *kind_name(OutcomeKind kind);

void relogin_connect_failed(const Error *e);
void relogin_answered(int32_t code, bool accepted);
void relogin_failed(const Error &e);

// The failure last recorded by a connect on this thread (its paths catch
// their errors and write messages instead); none when it succeeded.  Its
// text is kept up to kConnectErrorText - 1 bytes, more than any connect
// message holds.
inline constexpr size_t kConnectErrorText = 512;
void note_connect_error(const Error &e);
void clear_connect_error();
std::optional<Error> last_connect_error();

// Which way the connection was opened; the values are the header's QV_PATH_*.
enum class Path : int32_t { None = 0, Direct = 1, Socks4 = 2, Socks5 = 3, Http = 4 };
// Which protocol's login; the values are the header's QV_PROTOCOL_*.
enum class LoginProtocol : int32_t { None = 0, Record = 1, Xml = 2 };

// The login state of a session's current connection: how it was opened and
// the last login answered on it.  It belongs to the connection of the
// generation it names and is void once that one goes.
struct LoginState {
  Path path = Path::None;
  LoginProtocol login = LoginProtocol::None;
  int32_t login_code = -1;
  bool accepted = false;
  uint64_t connection = 0;  // TcpClient::generation() of its connection
};

// The state that GetConnectionState reports, published by the session at
// the end of every call that used it (Session::publish_state).
struct PublishedState {
  int32_t flags = 0;  // QV_STATE_*
  Path path = Path::None;
  LoginProtocol login = LoginProtocol::None;
  int32_t login_code = -1;
};
inline constexpr int32_t kStateInitialised = 1;
inline constexpr int32_t kStateConnected = 2;
inline constexpr int32_t kStateLoggedIn = 4;

}  // namespace qv::connection
