#include "connection/call_outcome.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "trace/trace.h"

namespace qv::connection {
namespace {

thread_local CallOutcome t_outcome;

struct SessionOutcome {
  uint64_t session = 0;  // 0: a free slot
  uint64_t used = 0;     // when it was last written, to find the oldest
  CallOutcome outcome;
};
thread_local std::array<SessionOutcome, kSessionsRemembered> t_by_session;
thread_local uint64_t t_keeps = 0;
// The connect's own error, kept where its paths caught it.  Every piece of
// thread storage here is trivially destructible: a thread_local with a
// destructor is not safe in a Windows DLL (see platform/thread_end.h).
struct ConnectError {
  bool set = false;
  Cause cause = Cause::Other;
  int number = 0;
  char text[kConnectErrorText] = {};
};
thread_local ConnectError t_connect_error;

// Writes a trace event when a trace runs; building it never fails the call.
template <class Event>
void traced(Event &&event) noexcept {
  if (!trace::on()) return;
  try {
    event();
  } catch (...) {
  }
}

}  // namespace

void ErrorDetail::set(int32_t number, std::string_view t) {
  socket_error = number;
  const size_t n = std::min(t.size(), sizeof text - 1);
  if (n) std::memcpy(text, t.data(), n);
  text[n] = '\0';
}

void ErrorDetail::set(const Error &e) {
  // A socket error's own text, without the "Socket Error # n" line that
  // the messages carry.
  const std::string_view own =
      e.cause() == Cause::Socket ? socket_error_text(e.number()) : std::string_view();
  set(e.number(), own.empty() ? std::string_view(e.text()) : own);
}

CallOutcome &this_thread_outcome() { return t_outcome; }

void keep_outcome(uint64_t session) {
  SessionOutcome *slot = &t_by_session[0];
  for (SessionOutcome &s : t_by_session) {
    if (s.session == session) {
      slot = &s;
      break;
    }
    if (s.used < slot->used) slot = &s;
  }
  slot->session = session;
  slot->used = ++t_keeps;
  slot->outcome = t_outcome;
}

const CallOutcome *kept_outcome(uint64_t session) {
  for (const SessionOutcome &s : t_by_session)
    if (s.session == session) return &s.outcome;
  return nullptr;
}

void begin_call() {
  CallOutcome &o = t_outcome;
  o.kind = OutcomeKind::Ok;
  o.sent = false;
  o.argument = 0;
  o.error.set(0, {});
  o.relogin = ReloginKind::NotRun;
  o.relogin_code = -1;
  o.relogin_error.set(0, {});
}

void end_call(bool result) {
  if (!result && t_outcome.kind == OutcomeKind::Ok) t_outcome.kind = OutcomeKind::Failed;
}

void mark_sent() { t_outcome.sent = true; }

void refuse(int32_t argument, std::string_view why) {
  t_outcome.kind = OutcomeKind::Refused;
  t_outcome.argument = argument;
  t_outcome.error.set(0, why);
  traced([&] { trace::event(std::string("refused: ") + t_outcome.error.text); });
}

void record_failure(OutcomeKind kind, const Error &e, bool sent) {
  t_outcome.kind = kind;
  t_outcome.sent = sent;
  t_outcome.error.set(e);
  traced([&] {
    trace::event(std::string("failed, ") + kind_name(kind) +
                 (sent ? " (the whole request was out): " : ": ") + t_outcome.error.text);
  });
}

void exchange_failed(const Error &e, bool sent) {
  OutcomeKind kind = sent ? OutcomeKind::MaybeApplied : OutcomeKind::NotSent;
  switch (e.cause()) {
    case Cause::NotInitialised: kind = OutcomeKind::NotInitialised; break;
    case Cause::NotConnected: kind = OutcomeKind::NotConnected; break;
    case Cause::TimedOut: kind = OutcomeKind::TimedOut; break;
    default: break;
  }
  record_failure(kind, e, sent);
}

void other_failure(std::string_view why) {
  t_outcome.kind = OutcomeKind::Failed;
  t_outcome.error.set(0, why);
  traced([&] { trace::event(std::string("failed: ") + t_outcome.error.text); });
}

void note_text_cut(std::string_view name, size_t full, size_t kept) {
  const std::string why = "The reply's " + std::string(name.substr(0, 32)) + " text was cut from " +
                          std::to_string(full) + " to " + std::to_string(kept) +
                          " bytes to fit a buffer of the reply's length.";
  t_outcome.error.set(0, why);
  traced([&] { trace::event("cut: " + why); });
}

void relogin_connect_failed(const Error *e) {
  t_outcome.relogin = ReloginKind::ConnectFailed;
  t_outcome.relogin_code = -1;
  if (e) t_outcome.relogin_error.set(*e);
  traced([&] {
    trace::event(std::string("relogin: the reconnect failed: ") + t_outcome.relogin_error.text);
  });
}

void relogin_answered(int32_t code, bool accepted) {
  t_outcome.relogin = accepted ? ReloginKind::LoggedIn : ReloginKind::Refused;
  t_outcome.relogin_code = code;
  t_outcome.relogin_error.set(0, {});
  traced([&] {
    trace::event(std::string(accepted ? "relogin: logged in again, code "
                                      : "relogin: the login was refused, code ") +
                 std::to_string(code));
  });
}

void relogin_failed(const Error &e) {
  t_outcome.relogin = ReloginKind::Failed;
  t_outcome.relogin_code = -1;
  t_outcome.relogin_error.set(e);
  traced([&] {
    trace::event(std::string("relogin: the login exchange failed: ") +
                 t_outcome.relogin_error.text);
  });
}

const char *kind_name(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Ok: return "ok";
    case OutcomeKind::Refused: return "refused";
    case OutcomeKind::NotInitialised: return "not initialised";
    case OutcomeKind::NotConnected: return "not connected";
    case OutcomeKind::ConnectFailed: return "connect failed";
    case OutcomeKind::NotSent: return "not sent";
    case OutcomeKind::MaybeApplied: return "may have been applied";
    case OutcomeKind::TimedOut: return "timed out";
    case OutcomeKind::Failed: return "failed";
    case OutcomeKind::Cancelled: return "cancelled";
  }
  return "?";
}

void note_connect_error(const Error &e) {
  ConnectError &kept = t_connect_error;
  kept.set = true;
  kept.cause = e.cause();
  kept.number = e.number();
  const size_t n = std::min(e.text().size(), sizeof kept.text - 1);
  if (n) std::memcpy(kept.text, e.text().data(), n);
  kept.text[n] = '\0';
}

void clear_connect_error() { t_connect_error.set = false; }

std::optional<Error> last_connect_error() {
  const ConnectError &kept = t_connect_error;
  if (!kept.set) return std::nullopt;
  return Error(kept.text, kept.cause, kept.number);
}

}  // namespace qv::connection
