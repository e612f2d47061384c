/*
 * quorvex.hpp - the C++ interface of the Quorvex client library: header-only
 * over quorvex.h, C++17 or later, nothing beyond the standard library.
 *
 *   quorvex::Session session;                    // a session of its own
 *   auto connected = session.connect("127.0.0.1", 9000);
 *   auto login = session.login("demo", "demo123");
 *   if (login.accepted()) {
 *     auto rules = session.NumRule();            // a Result, to be looked at
 *     if (rules.accepted()) use(rules.message);
 *   }
 *
 * Sessions.  quorvex::Session makes a session (QvSessionCreate) and
 * destroys it with itself (QvSessionDestroy); it is move-only, and a
 * Session moved from holds none: every call on it is refused by the
 * library (ok false, QV_OUTCOME_REFUSED with Argument 1), nothing crashes.
 * quorvex::SessionView calls on a session it does not own, such as
 * SessionView::default_session(), the classic exports' session.  A session
 * may be used from several threads at once (quorvex.h, Sessions); moving
 * or destroying the object while another thread calls on it is not
 * allowed, as using a destroyed handle is not: to end a blocked call from
 * another thread, call TcpDisconnect.
 *
 * Methods.  Every export that acts on a session is a method under its own
 * name (GetUdInfo, SubmitAllOver, fxNumRule_Req, ...) taking the export's
 * inputs in their order: texts as std::string_view, numbers as int32_t.
 * The output buffers are made here at the sizes quorvex.h gives them.  Each
 * XML operation also has a method without the suffix (fxNumRule, fxLogin)
 * that runs both halves; its code is the reply code.  connect and login
 * are the common first steps; last_outcome, last_relogin and
 * connection_state read what quorvex.h's outcome queries report.
 *
 * Texts are GBK bytes in and out, never converted, unless the session was
 * made for UTF-8: quorvex::Session(quorvex::utf8) takes every text as UTF-8
 * and hands every text back as UTF-8, converted by the library
 * (QvGbkFromUtf8, QvUtf8FromGbk): a character that GBK lacks is refused,
 * never sent as '?', and what is not GBK comes back as U+FFFD.  A text that
 * holds a zero byte, or one that GBK cannot hold, is refused before any
 * call: ok false, code -1, QV_OUTCOME_REFUSED with Argument the text's
 * place in the export's own list (as the library numbers a text that is
 * too long for its field, which it refuses itself, before anything is
 * sent) and a Detail that names what was refused.  A null text is the
 * empty view.
 *
 * Results.  A method returns a quorvex::Result: ok (the export's result),
 * code (the result code, or an XML reply code: the one a request half
 * received or a response half was given; -1 when no answer arrived or the
 * export has none), message (the message buffer), the export's other
 * outputs as fields under their quorvex.h names (Param1, Number1, Pud,
 * ...), and outcome, what GetLastOutcome reported right after the call on
 * the calling thread.  accepted() is ok and, for an export that hands back
 * the server's code, that code accepting (900, or 20900 for an XML
 * operation).
 *
 * Operations.  Each method that the library can run as an operation has
 * a start_ twin under the same name with the same inputs after a
 * quorvex::Queue (start_NumRule(queue), start_fxNumRule(queue),
 * start_login(queue, name, pwd), quorvex::start_send_job(session, queue,
 * job)): it never blocks, and the quorvex::TypedOp it returns gives, once
 * the queue has handed its completion over, the very Result the method
 * would have returned (quorvex_ops.hpp).
 *
 * Journal.  quorvex::Journal keeps send jobs in a file so that a host that
 * crashes never sends one twice nor loses one (quorvex.h, "The send-job
 * journal"): add(job, reference) returns the job's id once it is on stable
 * storage, send(session) and quorvex::start_journal_send(session, queue,
 * journal) send the queued ones, recover and resolve settle the jobs that
 * may have been submitted, job(id) and list(state) read them back.
 *
 * Failures are values.  A call that fails (no connection, a read that
 * timed out, a refused argument) and a server that refuses are routine for
 * a protocol client, and what to do next depends on the outcome (is it
 * safe to send again?), so a Result is [[nodiscard]] and converts to bool.
 * check() returns the Result or, when ok is false, throws quorvex::Error
 * carrying the outcome, for a host that prefers exceptions.  Nothing else
 * throws but std::bad_alloc, also when QvSessionCreate has no memory, and
 * quorvex::send_job for a job refused before any call (quorvex_job.hpp).
 */
#ifndef QUORVEX_HPP
#define QUORVEX_HPP

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quorvex.h"

// windows.h makes GetMessage a macro (GetMessageA or GetMessageW): it is set
// aside here so that every method keeps its own name whichever header comes
// first, and restored at the end.  SessionView also answers to the two
// names the macro gives a host's call to GetMessage.
#pragma push_macro("GetMessage")
#undef GetMessage

namespace quorvex {

// Makes a session that takes and hands back UTF-8: Session(quorvex::utf8).
struct Utf8Texts {
  explicit constexpr Utf8Texts() noexcept = default;
};
inline constexpr Utf8Texts utf8{};

// What a call came to, as GetLastOutcome reports it.
struct Outcome {
  int32_t kind = QV_OUTCOME_OK;  // QV_OUTCOME_*
  // The whole request was out: the server may have acted on it.
  bool sent = false;
  // For QV_OUTCOME_REFUSED, the refused argument's place.
  int32_t argument = 0;
  // A Windows Sockets number; 0 when the failure is not a socket's.
  int32_t socket_error = 0;
  std::string detail;  // English; empty after success
};

// The relogin that a call ran, as GetLastRelogin reports it.
struct Relogin {
  int32_t kind = QV_RELOGIN_NOT_RUN;  // QV_RELOGIN_*
  // The server's answer to its login; -1 when none arrived.
  int32_t server_code = -1;
  int32_t socket_error = 0;
  std::string detail;
};

// The connection as the last finished call left it (GetConnectionState).
struct ConnectionState {
  int32_t state = 0;                          // QV_STATE_* flags
  int32_t path = QV_PATH_NONE;                // QV_PATH_*
  int32_t login_protocol = QV_PROTOCOL_NONE;  // QV_PROTOCOL_*
  int32_t login_code = -1;

  bool connected() const noexcept { return (state & QV_STATE_CONNECTED) != 0; }
  bool logged_in() const noexcept { return (state & QV_STATE_LOGGED_IN) != 0; }
};

// A failed call, thrown by Result::check().  what() is English: the call
// and the outcome's detail; message() is the call's message buffer (GBK).
class Error : public std::runtime_error {
 public:
  Error(const char *call, int32_t code, std::string message, Outcome outcome)
      : std::runtime_error(describe(call, outcome)),
        call_(call),
        code_(code),
        // Shared, so that copying the exception never throws.
        failure_(std::make_shared<const Failure>(
            Failure{std::move(message), std::move(outcome)})) {}

  const char *call() const noexcept { return call_; }
  int32_t code() const noexcept { return code_; }
  const std::string &message() const noexcept { return failure_->message; }
  const Outcome &outcome() const noexcept { return failure_->outcome; }

 private:
  struct Failure {
    std::string message;
    Outcome outcome;
  };

  static std::string describe(const char *call, const Outcome &outcome) {
    std::string what = std::string(call) + " failed";
    if (outcome.detail.empty())
      return what + " (outcome " + std::to_string(outcome.kind) + ")";
    return what + ": " + outcome.detail;
  }

  const char *call_;
  int32_t code_;
  std::shared_ptr<const Failure> failure_;
};

// The outputs of an export that hands back only a code and a message.
struct NoOutputs {};

template <class Outputs = NoOutputs>
struct [[nodiscard]] Result : Outputs {
  Result(const char *call_name, bool coded) noexcept
      : call(call_name), has_code(coded) {}

  const char *call;  // the export called ("QvGetUdInfo")
  bool has_code;     // the export hands back the server's code
  bool ok = false;
  int32_t code = -1;
  std::string message;  // GBK
  Outcome outcome;

  explicit operator bool() const noexcept { return ok; }

  // The call completed and, where the export hands back the server's code,
  // the server accepted the request.
  bool accepted() const noexcept {
    if (!ok || !has_code) return ok;
    const bool xml = std::strncmp(call, "Qvfx", 4) == 0;
    return code == (xml ? QV_FX_SUCCESS : QV_CODE_ACCEPTED);
  }

  // The result itself when ok; a quorvex::Error carrying the outcome when not.
  const Result &check() const & {
    if (!ok) throw Error(call, code, message, outcome);
    return *this;
  }
  Result check() && {
    if (!ok) throw Error(call, code, std::move(message), std::move(outcome));
    return std::move(*this);
  }
};

namespace detail {

// Refuses a text that holds a zero byte, in the words the library uses for
// a refused argument.
template <class R>
bool holds_zero(R &r, int32_t position, std::string_view text) {
  if (text.find('\0') == std::string_view::npos) return false;
  r.outcome = Outcome{QV_OUTCOME_REFUSED, false, position, 0,
                      "Argument " + std::to_string(position) +
                          " holds a zero byte, where the library's texts end."};
  return true;
}

// A buffer the library wrote a text into, down to that text.
inline void cut_at_zero(std::string &buffer) {
  buffer.resize(std::strlen(buffer.c_str()));
}

// Room for a text taken from an XML reply of reply_length bytes: the
// library cuts such a text to the reply's length, and its fixed messages
// fit a message buffer.
inline size_t reply_text_size(int32_t reply_length) {
  const int32_t length = reply_length < 0 ? 0 : reply_length;
  const size_t bounded =
      static_cast<size_t>(length < QV_FX_REPLY_MAX ? length : QV_FX_REPLY_MAX);
  return bounded + 1 > QV_BODY_BUFFER_SIZE ? bounded + 1 : QV_BODY_BUFFER_SIZE;
}

// The calling thread's last call, read right after it: this call's outcome.
// The thread's own record, not the session's, so that nothing touches the
// handle once the call has returned.
template <class R>
void take_outcome(R &r) {
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  int32_t sent = 0;
  GetLastOutcome(&r.outcome.kind, &sent, &r.outcome.argument,
                 &r.outcome.socket_error, detail,
                 static_cast<int32_t>(sizeof detail));
  r.outcome.sent = sent != 0;
  r.outcome.detail = detail;
}

// The GBK form of a UTF-8 text, by the library's strict rule; false with
// the library's reason in why ("U+20AC, which GBK lacks, at byte 3.").
inline bool gbk_from_utf8(std::string_view utf8_text, std::string &gbk,
                          std::string &why) {
  gbk.clear();
  if (utf8_text.empty()) return true;
  if (utf8_text.size() >= static_cast<size_t>(INT32_MAX)) {
    why = "the text is longer than the library takes";
    return false;
  }
  // GBK never takes more bytes than UTF-8 for the same characters.
  gbk.assign(utf8_text.size() + 1, '\0');
  const int32_t length =
      QvGbkFromUtf8(utf8_text.data(), static_cast<int32_t>(utf8_text.size()),
                    gbk.data(), static_cast<int32_t>(gbk.size()));
  if (length < 0 || static_cast<size_t>(length) >= gbk.size()) {
    char detail[QV_DETAIL_BUFFER_SIZE] = "";
    GetLastOutcome(nullptr, nullptr, nullptr, nullptr, detail,
                   static_cast<int32_t>(sizeof detail));
    // "Argument 1 is U+20AC, which GBK lacks, at byte 3.": the text's own part.
    constexpr std::string_view kPrefix = "Argument 1 is ";
    const std::string_view said = detail;
    why = said.substr(0, kPrefix.size()) == kPrefix
              ? said.substr(kPrefix.size())
              : said;
    if (why.empty()) why = "not UTF-8, or holds a character that GBK lacks.";
    gbk.clear();
    return false;
  }
  gbk.resize(static_cast<size_t>(length));
  return true;
}

// The UTF-8 form of a GBK text; what is not GBK becomes U+FFFD.
inline std::string utf8_from_gbk(std::string_view gbk) {
  if (gbk.empty() || gbk.size() >= static_cast<size_t>(INT32_MAX / 3))
    return std::string(gbk);
  // Three UTF-8 bytes at most for each GBK byte (U+FFFD for a lone one).
  std::string out(3 * gbk.size() + 1, '\0');
  const int32_t length =
      QvUtf8FromGbk(gbk.data(), static_cast<int32_t>(gbk.size()), out.data(),
                    static_cast<int32_t>(out.size()));
  out.resize(length < 0 || static_cast<size_t>(length) >= out.size()
                 ? 0
                 : static_cast<size_t>(length));
  return out;
}

// A method's text input as the library takes it: refused (false, r's
// outcome set) when it holds a zero byte or, from a UTF-8 session, a
// character that GBK lacks.
template <class R>
bool text_in(R &r, int32_t position, std::string_view text, bool utf8_texts,
             std::string &gbk) {
  if (holds_zero(r, position, text)) return false;
  if (!utf8_texts) {
    gbk.assign(text.data(), text.size());
    return true;
  }
  std::string why;
  if (gbk_from_utf8(text, gbk, why)) return true;
  r.outcome = Outcome{QV_OUTCOME_REFUSED, false, position, 0,
                      "Argument " + std::to_string(position) + " is " + why};
  return false;
}

// A text output as the session hands it back.
inline void text_out(std::string &text, bool utf8_texts) {
  if (utf8_texts) text = utf8_from_gbk(text);
}

// A first call's failure as the result of the operation it began.
template <class To, class From>
To failed_as(const From &from) {
  To r(from.call, true);
  r.code = from.code;
  r.message = from.message;
  r.outcome = from.outcome;
  return r;
}

}  // namespace detail
}  // namespace quorvex

#include "quorvex_ops.hpp"
#include "quorvex_twins.hpp"

namespace quorvex {

// Calls on a session that this object does not own.
class SessionView : public detail::Twins {
 public:
  explicit SessionView(QvSession *session) noexcept : Twins(session, false) {}
  // Texts in and out as UTF-8.
  SessionView(QvSession *session, Utf8Texts) noexcept : Twins(session, true) {}

  // The classic exports' session, between dllInitialize and release; a
  // view of none (every call refused) outside.
  static SessionView default_session() noexcept {
    return SessionView(QvDefaultSession());
  }
  static SessionView default_session(Utf8Texts) noexcept {
    return SessionView(QvDefaultSession(), utf8);
  }

  QvSession *handle() const noexcept { return handle_; }
  // Whether texts go in and come back as UTF-8 (else GBK bytes).
  bool utf8_texts() const noexcept { return utf8_; }

  // TcpConnect, directly (no proxy).
  Result<> connect(std::string_view host, int32_t port,
                   int32_t timeout_ms = 5000) {
    return TcpConnect(host, port, timeout_ms, {}, {}, 0, {}, {});
  }

  // Login_Request then Login_Feedback; accepted() when the server answered 900.
  Result<Login_FeedbackOutputs> login(std::string_view name,
                                      std::string_view pwd,
                                      std::string_view app = {},
                                      std::string_view extra = {},
                                      std::string_view ver = {}) {
    auto request = Login_Request(app, extra, name, pwd, ver);
    if (!request)
      return detail::failed_as<Result<Login_FeedbackOutputs>>(request);
    return Login_Feedback();
  }

  // login as an operation on queue (Login_Request then Login_Feedback);
  // its result() is what login() returns.
  TypedOp<Result<Login_FeedbackOutputs>> start_login(
      Queue &queue, std::string_view name, std::string_view pwd,
      std::string_view app = {}, std::string_view extra = {},
      std::string_view ver = {}) {
    return start_Login(queue, app, extra, name, pwd, ver);
  }

  // The calling thread's last call on this session.
  Outcome last_outcome() const {
    Outcome o;
    char detail[QV_DETAIL_BUFFER_SIZE] = "";
    int32_t sent = 0;
    QvGetLastOutcome(handle_, &o.kind, &sent, &o.argument, &o.socket_error,
                     detail, static_cast<int32_t>(sizeof detail));
    o.sent = sent != 0;
    o.detail = detail;
    return o;
  }

  // The relogin of the calling thread's last call on this session.
  Relogin last_relogin() const {
    Relogin r;
    char detail[QV_DETAIL_BUFFER_SIZE] = "";
    QvGetLastRelogin(handle_, &r.kind, &r.server_code, &r.socket_error, detail,
                     static_cast<int32_t>(sizeof detail));
    r.detail = detail;
    return r;
  }

  ConnectionState connection_state() const {
    ConnectionState s;
    QvGetConnectionState(handle_, &s.state, &s.path, &s.login_protocol,
                         &s.login_code);
    return s;
  }

  // GetMessage under the names windows.h's macro gives it.
  Result<> GetMessageA() { return GetMessage(); }
  Result<> GetMessageW() { return GetMessage(); }
};

// A session of its own: made with the object, destroyed with it.
class Session : public SessionView {
 public:
  Session() : SessionView(QvSessionCreate()) {
    if (!handle_) throw std::bad_alloc();
  }
  // A session whose texts go in and come back as UTF-8.
  explicit Session(Utf8Texts) : SessionView(QvSessionCreate(), utf8) {
    if (!handle_) throw std::bad_alloc();
  }
  ~Session() { reset(); }

  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;
  Session(Session &&other) noexcept
      : SessionView(std::exchange(other.handle_, nullptr)) {
    utf8_ = other.utf8_;
  }
  Session &operator=(Session &&other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
      utf8_ = other.utf8_;
    }
    return *this;
  }

  // Hands the session over to the caller, who destroys it; this object
  // then holds none.
  QvSession *release() noexcept { return std::exchange(handle_, nullptr); }

 private:
  void reset() noexcept {
    if (handle_) QvSessionDestroy(std::exchange(handle_, nullptr));
  }
};

}  // namespace quorvex

#include "quorvex_job.hpp"

namespace quorvex {

// The state of a journal's job (QV_JOURNAL_*); Any lists every state.
enum class JournalState : int32_t {
  Any = 0,
  Queued = QV_JOURNAL_QUEUED,        // added, not sent
  Sending = QV_JOURNAL_SENDING,      // its send began
  Submitted = QV_JOURNAL_SUBMITTED,  // the server took it
  Refused = QV_JOURNAL_REFUSED,      // the server refused it
  Failed = QV_JOURNAL_FAILED,        // not submitted; may be queued again
  Unknown = QV_JOURNAL_UNKNOWN,      // may have been submitted: never resent
};

// A journal's job as QvJournalJob reads it.
struct JournalJob {
  JournalState state = JournalState::Queued;
  std::string reference;   // the host's name for it, bytes as given
  int32_t attempts = 0;    // the sends it took
  int32_t code = -1;       // the server's code; -1 for none
  std::string message;     // and its message
  std::string job_number;  // once submitted
  std::chrono::system_clock::time_point added, changed;
};

// What a journal's send and recovery hand back beside ok and the outcome.
struct JournalSendOutputs {
  int32_t settled = 0;  // the jobs that left QUEUED
  // What the resolver threw; that "maybe" stayed UNKNOWN.
  std::exception_ptr callback_exception;
};
struct JournalRecoverOutputs {
  int32_t resolved = 0;  // the jobs it settled
  std::exception_ptr callback_exception;
};

namespace detail {

// The resolver a journal hands the library, at an address that survives
// the journal's moves.
struct JournalResolverBox {
  JobResolver resolve;
  bool utf8 = false;
};

// Where the resolver puts what it threw: the calling thread's send or
// recovery, since the library calls it on that thread.  A plain pointer,
// so that no thread-exit destructor is registered in the host.
inline std::exception_ptr *&journal_thrown() noexcept {
  static thread_local std::exception_ptr *slot = nullptr;
  return slot;
}

inline int32_t QV_CALL journal_resolver(QvJob *job, void *context) {
  const auto &box = *static_cast<const JournalResolverBox *>(context);
  try {
    return static_cast<int32_t>(box.resolve(job_evidence(job, box.utf8)));
  } catch (...) {
    std::exception_ptr *const thrown = journal_thrown();
    if (thrown && !*thrown) *thrown = std::current_exception();
    return QV_RESOLVED_UNKNOWN;
  }
}

// Points the calling thread's resolver at one call's result.
class JournalCall {
 public:
  explicit JournalCall(std::exception_ptr &thrown) noexcept
      : saved_(std::exchange(journal_thrown(), &thrown)) {}
  ~JournalCall() { journal_thrown() = saved_; }
  JournalCall(const JournalCall &) = delete;
  JournalCall &operator=(const JournalCall &) = delete;

 private:
  std::exception_ptr *saved_;
};

inline Outcome thread_outcome() {
  Result<> r("", false);
  take_outcome(r);
  return r.outcome;
}

// The refusal of a text that holds a zero byte, before any call.
[[noreturn]] inline void journal_zero(const char *call, int32_t position) {
  Result<> r(call, false);
  holds_zero(r, position, std::string_view("\0", 1));
  throw Error(call, -1, std::string(), std::move(r.outcome));
}

[[noreturn]] inline void journal_refused(const char *call) {
  throw Error(call, -1, std::string(), thread_outcome());
}

inline std::chrono::system_clock::time_point journal_time(int64_t ms) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::milliseconds(ms)));
}

inline Result<JournalSendOutputs> read_journal_send(const OpShared *s) {
  Result<JournalSendOutputs> r("QvJournalSend", false);
  if (!op_readable(r, s)) return r;
  QvOp *const op = s->op.load();
  op_result(r, op, false);
  r.settled = QvOpNumber(op, 0);
  return r;
}

}  // namespace detail

// A journal of send jobs in a file (QvJournalOpen), closed with the object
// (QvJournalClose); move-only, and one moved from holds none (every call
// refused by the library).  Job texts go in, and the server's texts come
// back, as GBK bytes, or as UTF-8 for Journal(path, quorvex::utf8); a
// reference is bytes, stored as given.  Failures of the sends are values
// (a Result); a journal that cannot be opened and a job that cannot be
// stored are exceptions.  Any thread may call it; set_resolver not while
// a send or recover runs.
class Journal {
 public:
  // Throws quorvex::Error (QvJournalOpen's outcome) when the file cannot
  // be used: not a journal, a newer one, open elsewhere, the disk.
  explicit Journal(std::string_view path) : Journal(path, false) {}
  Journal(std::string_view path, Utf8Texts) : Journal(path, true) {}
  ~Journal() { close(); }

  Journal(const Journal &) = delete;
  Journal &operator=(const Journal &) = delete;
  Journal(Journal &&other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)),
        utf8_(other.utf8_),
        resolver_(std::move(other.resolver_)) {}
  Journal &operator=(Journal &&other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, nullptr);
      utf8_ = other.utf8_;
      resolver_ = std::move(other.resolver_);
    }
    return *this;
  }

  QvJournal *handle() const noexcept { return handle_; }
  bool utf8_texts() const noexcept { return utf8_; }

  // Closes it now; its jobs stay in the file.  False when it held none.
  bool close() noexcept {
    QvJournal *const j = std::exchange(handle_, nullptr);
    return j && QvJournalClose(j) == 1;
  }

  // Stores job under reference and returns its id once it is on stable
  // storage; a reference stored before returns that job's id.  Throws
  // std::invalid_argument for a job this side refuses (as send_job) and
  // quorvex::Error for what the library refused (the job, the reference,
  // the disk): no id is ever handed out for a job not stored.  The job's
  // own resolver is not kept: set_resolver is the journal's.
  int64_t add(const Job &job, std::string_view reference) {
    if (reference.find('\0') != std::string_view::npos)
      detail::journal_zero("QvJournalAdd", 3);
    detail::OwnedJob owned;
    detail::fill_job(owned.get(), job, utf8_);
    const std::string ref(reference);
    const int64_t id = QvJournalAdd(handle_, owned.get(), ref.c_str());
    if (id <= 0) detail::journal_refused("QvJournalAdd");
    return id;
  }

  // Job id as the journal holds it; nullopt when there is no such job.
  std::optional<JournalJob> job(int64_t id) const {
    JournalJob j;
    int32_t state = 0;
    char reference[QV_JOURNAL_REFERENCE_BUFFER_SIZE] = "";
    std::string message(QV_BODY_BUFFER_SIZE, '\0'),
        number(QV_PARAM_BUFFER_SIZE, '\0');
    int64_t added = 0, changed = 0;
    if (!QvJournalJob(handle_, id, &state, reference, &j.attempts, &j.code,
                      message.data(), number.data(), &added, &changed))
      return std::nullopt;
    j.state = static_cast<JournalState>(state);
    j.reference = reference;
    detail::cut_at_zero(message);
    detail::cut_at_zero(number);
    detail::text_out(message, utf8_);
    detail::text_out(number, utf8_);
    j.message = std::move(message);
    j.job_number = std::move(number);
    j.added = detail::journal_time(added);
    j.changed = detail::journal_time(changed);
    return j;
  }

  // The ids of the jobs in state, oldest first.  Throws quorvex::Error
  // when refused.
  std::vector<int64_t> list(JournalState state = JournalState::Any) const {
    std::vector<int64_t> ids;
    // Jobs may be added between the count and the read: read until all fit.
    for (;;) {
      const int32_t count = QvJournalList(handle_, static_cast<int32_t>(state),
                                          ids.empty() ? nullptr : ids.data(),
                                          static_cast<int32_t>(ids.size()));
      if (count < 0) detail::journal_refused("QvJournalList");
      if (static_cast<size_t>(count) <= ids.size()) {
        ids.resize(static_cast<size_t>(count));
        return ids;
      }
      ids.assign(static_cast<size_t>(count), 0);
    }
  }

  // The evidence kept with job id (nullopt for each not kept).
  JobEvidence evidence(int64_t id) const {
    return {evidence(id, QV_EVIDENCE_PACKAGES_BEFORE),
            evidence(id, QV_EVIDENCE_DETAILS_BEFORE),
            evidence(id, QV_EVIDENCE_PACKAGES_AFTER),
            evidence(id, QV_EVIDENCE_DETAILS_AFTER)};
  }

  // Sets (an empty function: removes) the resolver send and recover call,
  // on their own thread, for a job that may have been submitted.  What it
  // throws leaves that job UNKNOWN and comes back in the call's result.
  void set_resolver(JobResolver resolver) {
    if (!resolver) {
      QvJournalSetResolver(handle_, nullptr, nullptr);
      resolver_.reset();
      return;
    }
    auto box = std::make_unique<detail::JournalResolverBox>();
    box->resolve = std::move(resolver);
    box->utf8 = utf8_;
    if (!QvJournalSetResolver(handle_, detail::journal_resolver, box.get()))
      detail::journal_refused("QvJournalSetResolver");
    resolver_ = std::move(box);
  }

  // Sends the QUEUED jobs on session, oldest first, at most max_jobs (0:
  // all), as QvJournalSend; ok when none was left or max_jobs were sent.
  Result<JournalSendOutputs> send(SessionView &session, int32_t max_jobs = 0) {
    Result<JournalSendOutputs> r("QvJournalSend", false);
    const detail::JournalCall call(r.callback_exception);
    r.ok = QvJournalSend(session.handle(), handle_, max_jobs, &r.settled) == 1;
    detail::take_outcome(r);
    return r;
  }

  // Jobs left SENDING become UNKNOWN, and each UNKNOWN one is looked up on
  // session (none: states only) and handed to the resolver; never resent.
  Result<JournalRecoverOutputs> recover(SessionView *session = nullptr) {
    Result<JournalRecoverOutputs> r("QvJournalRecover", false);
    const detail::JournalCall call(r.callback_exception);
    r.ok = QvJournalRecover(handle_, session ? session->handle() : nullptr,
                            &r.resolved) == 1;
    detail::take_outcome(r);
    return r;
  }

  // The host settles job id (QvJournalResolve): UNKNOWN to Submitted (with
  // job_number), Failed or Queued; FAILED or REFUSED back to Queued.
  Result<> resolve(int64_t id, JournalState to,
                   std::string_view job_number = {}) {
    Result<> r("QvJournalResolve", false);
    std::string number;
    if (!detail::text_in(r, 4, job_number, utf8_, number)) return r;
    r.ok = QvJournalResolve(handle_, id, static_cast<int32_t>(to),
                            job_number.empty() ? nullptr : number.c_str()) == 1;
    detail::take_outcome(r);
    return r;
  }

 private:
  Journal(std::string_view path, bool utf8_texts) : utf8_(utf8_texts) {
    if (path.find('\0') != std::string_view::npos)
      detail::journal_zero("QvJournalOpen", 1);
    const std::string p(path);
    handle_ = QvJournalOpen(p.c_str());
    if (!handle_) detail::journal_refused("QvJournalOpen");
  }

  std::optional<std::string> evidence(int64_t id, int32_t which) const {
    std::string text(QV_BODY_BUFFER_SIZE, '\0');
    int32_t length = QvJournalEvidence(handle_, id, which, text.data(),
                                       static_cast<int32_t>(text.size()));
    if (length >= static_cast<int32_t>(text.size())) {
      text.assign(static_cast<size_t>(length) + 1, '\0');
      length = QvJournalEvidence(handle_, id, which, text.data(),
                                 static_cast<int32_t>(text.size()));
    }
    if (length < 0 || length >= static_cast<int32_t>(text.size()))
      return std::nullopt;
    text.resize(static_cast<size_t>(length));
    detail::text_out(text, utf8_);
    return text;
  }

  QvJournal *handle_ = nullptr;
  bool utf8_ = false;
  std::unique_ptr<detail::JournalResolverBox> resolver_;
};

// Journal::send as an operation on queue (QvStartJournalSend): its result()
// is what send returns.  No resolver is called: a "maybe" stays UNKNOWN.
// A start the library refuses at once completes from the start with the
// refusal.
inline TypedOp<Result<JournalSendOutputs>> start_journal_send(
    SessionView &session, Queue &queue, Journal &journal,
    int32_t max_jobs = 0) {
  return detail::start_op<Result<JournalSendOutputs>>(
      queue, journal.utf8_texts(), &detail::read_journal_send,
      Result<JournalSendOutputs>("QvJournalSend", false), [&](void *tag) {
        return QvStartJournalSend(session.handle(), queue.handle(), tag,
                                  journal.handle(), max_jobs);
      });
}

}  // namespace quorvex

#pragma pop_macro("GetMessage")

#endif  // QUORVEX_HPP
