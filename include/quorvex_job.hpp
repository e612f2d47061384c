/* Quorvex: the send job of the C++ interface.  Included by quorvex.hpp;
 * include that instead.
 *
 * quorvex::send_job hands a quorvex::Job to the library's sender,
 * QvSendJob, which makes the calls, follows the recovery rules and says how
 * the job ended (quorvex.h, "Send jobs"; README, "Sending a job").  This
 * file only moves the job into a QvJob and the result out of it: the
 * texts as GBK bytes, or as UTF-8 on a session made for UTF-8. */
#ifndef QUORVEX_JOB_HPP
#define QUORVEX_JOB_HPP

#ifndef QUORVEX_HPP
#error "include quorvex.hpp, which includes this file"
#endif

#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

namespace detail {
class CancellerAccess;
}

// How a job ended (QV_JOB_*).
enum class JobStatus : int32_t {
  Submitted = QV_JOB_SUBMITTED,  // the server took the job
  Refused = QV_JOB_REFUSED,      // it answered another code than 900
  Failed = QV_JOB_FAILED,        // not submitted; safe to send again
  MaybeSubmitted =
      QV_JOB_MAYBE_SUBMITTED,    // the submit was out, its answer unknown
  Cancelled = QV_JOB_CANCELLED,  // stopped before the submit was out
};

// A resolver's answer (QV_RESOLVED_*).
enum class Resolved : int32_t {
  Unknown = QV_RESOLVED_UNKNOWN,
  Submitted = QV_RESOLVED_SUBMITTED,
  NotSubmitted = QV_RESOLVED_NOT_SUBMITTED,
};

// The replies the sender took around a submit (QvJobEvidence), as the
// server wrote them; nullopt for one not taken.
struct JobEvidence {
  std::optional<std::string> packages_before;  // AllInfoPackId
  std::optional<std::string> details_before;  // LastDetails of the first number
  std::optional<std::string> packages_after;  // the same, after a "maybe"
  std::optional<std::string> details_after;
};

// Called before each call of a send with the call's request code (298,
// 201, ..., 299) and the attempt (1, 2, ...).
using JobProgress = std::function<void(int32_t step, int32_t attempt)>;
// Decides a "maybe submitted" from the evidence, knowing the server's
// formats; the library never guesses them.
using JobResolver = std::function<Resolved(const JobEvidence &)>;

// A send job: texts in the session's encoding; an empty text is a field
// not sent.
struct Job {
  std::string product;               // required
  std::vector<std::string> numbers;  // the recipients; at least one
  std::string content;
  std::string url;  // a push message's URL
  std::string begin_date, end_date, begin_time, end_time;
  std::string file_name;            // a multimedia message's file name
  std::string file_content;         // and its bytes, as they are
  std::vector<std::string> orders;  // up to 3 scheduled orders
  std::string period;               // a scheduled job's period
  bool check = false;               // also CheckPrdId and CheckContent
  // Take the evidence before the submit and after a "maybe" (implied by a
  // resolver).
  bool evidence = false;
  // How long to wait for another job of the same account (ms; 0: refuse
  // at once).
  int32_t wait_ms = QV_JOB_WAIT_DEFAULT_MS;
  JobResolver resolver;  // called after a "maybe submitted"
};

struct JobResult {
  JobStatus status = JobStatus::Failed;
  int32_t step = 0;      // the request code of the call the job ended on
  int32_t attempts = 0;  // how many times the job was started
  int32_t code = -1;     // that call's code; -1 for none
  std::string message;   // and its message
  Outcome outcome;       // and its outcome (QvJobOutcome; argument unused)
  int32_t relogin = QV_RELOGIN_NOT_RUN;  // the kind of its relogin
  // Submitted: the job's number, its recipients, the messages charged and
  // what is left to send with.
  std::string job_number;
  int32_t recipients = 0, charged = 0, left = 0;
  JobEvidence evidence;
  // What a progress or resolver function threw: the send was cancelled
  // (progress) or the "maybe" left unresolved (resolver).  Rethrow it with
  // std::rethrow_exception if you like; the job's result stands.
  std::exception_ptr callback_exception;

  bool submitted() const noexcept { return status == JobStatus::Submitted; }
};

// Cancels a send from another thread: cancel() ends the send in progress
// that was given this canceller (QvJobCancel), or the next one to start.
// A cancelled canceller stays cancelled.
class JobCanceller {
 public:
  JobCanceller() = default;
  JobCanceller(const JobCanceller &) = delete;
  JobCanceller &operator=(const JobCanceller &) = delete;

  void cancel() noexcept {
    cancelled_.store(true);
    // A job destroyed meanwhile is refused by the library, never reached.
    if (QvJob *job = job_.load()) QvJobCancel(job);
  }
  bool cancelled() const noexcept { return cancelled_.load(); }

 private:
  friend class detail::CancellerAccess;

  // Either cancel() sees the job or attach() sees the cancel: both store
  // before they load.
  void attach(QvJob *job) noexcept {
    job_.store(job);
    if (cancelled_.load()) QvJobCancel(job);
  }
  void detach() noexcept { job_.store(nullptr); }

  std::atomic<QvJob *> job_{nullptr};
  std::atomic<bool> cancelled_{false};
};

namespace detail {

class CancellerAccess {
 public:
  static void attach(JobCanceller &c, QvJob *job) noexcept { c.attach(job); }
  static void detach(JobCanceller &c) noexcept { c.detach(); }
};

// The QvJob of one send, destroyed with it.
class OwnedJob {
 public:
  OwnedJob() : job_(QvJobCreate()) {
    if (!job_) throw std::bad_alloc();
  }
  ~OwnedJob() { QvJobDestroy(job_); }
  OwnedJob(const OwnedJob &) = delete;
  OwnedJob &operator=(const OwnedJob &) = delete;

  QvJob *get() const noexcept { return job_; }

 private:
  QvJob *job_;
};

// What the C callbacks reach through their Context.
struct JobCallbacks {
  const JobProgress *progress = nullptr;
  const JobResolver *resolver = nullptr;
  bool utf8 = false;
  std::exception_ptr thrown;
};

// Throws for a job refused before any call, with the reason the library
// gave the calling thread's last call.
[[noreturn]] inline void job_refused(const char *what) {
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, detail,
                 static_cast<int32_t>(sizeof detail));
  throw std::invalid_argument(std::string("send_job: ") + what + " refused" +
                              (detail[0] ? ": " : "") + detail);
}

inline std::optional<std::string> job_evidence(QvJob *job, int32_t which,
                                               bool utf8) {
  std::string text(QV_BODY_BUFFER_SIZE, '\0');
  int32_t length =
      QvJobEvidence(job, which, text.data(), static_cast<int32_t>(text.size()));
  if (length >= static_cast<int32_t>(text.size())) {
    text.assign(static_cast<size_t>(length) + 1, '\0');
    length = QvJobEvidence(job, which, text.data(),
                           static_cast<int32_t>(text.size()));
  }
  if (length < 0 || length >= static_cast<int32_t>(text.size()))
    return std::nullopt;
  text.resize(static_cast<size_t>(length));
  text_out(text, utf8);
  return text;
}

inline JobEvidence job_evidence(QvJob *job, bool utf8) {
  return {job_evidence(job, QV_EVIDENCE_PACKAGES_BEFORE, utf8),
          job_evidence(job, QV_EVIDENCE_DETAILS_BEFORE, utf8),
          job_evidence(job, QV_EVIDENCE_PACKAGES_AFTER, utf8),
          job_evidence(job, QV_EVIDENCE_DETAILS_AFTER, utf8)};
}

// Nothing may unwind through the library: an exception ends the send (or
// leaves the "maybe" unresolved) and waits in the result.
inline void QV_CALL job_progress(QvJob *job, void *context, int32_t step,
                                 int32_t attempt) {
  auto &callbacks = *static_cast<JobCallbacks *>(context);
  if (callbacks.thrown) return;
  try {
    (*callbacks.progress)(step, attempt);
  } catch (...) {
    callbacks.thrown = std::current_exception();
    QvJobCancel(job);
  }
}

inline int32_t QV_CALL job_resolver(QvJob *job, void *context) {
  auto &callbacks = *static_cast<JobCallbacks *>(context);
  try {
    return static_cast<int32_t>(
        (*callbacks.resolver)(job_evidence(job, callbacks.utf8)));
  } catch (...) {
    if (!callbacks.thrown) callbacks.thrown = std::current_exception();
    return QV_RESOLVED_UNKNOWN;
  }
}

inline void job_text(QvJob *job, int32_t field, const std::string &text,
                     bool utf8, const char *what) {
  if (text.empty()) return;
  if (text.size() >= static_cast<size_t>(INT32_MAX) ||
      !QvJobSetText(job, field, text.data(), static_cast<int32_t>(text.size()),
                    utf8 ? QV_TEXT_UTF8 : QV_TEXT_GBK))
    job_refused(what);
}

inline void fill_job(QvJob *job, const Job &j, bool utf8) {
  job_text(job, QV_JOB_PRODUCT, j.product, utf8, "the product");
  job_text(job, QV_JOB_CONTENT, j.content, utf8, "the content");
  job_text(job, QV_JOB_PUSH_URL, j.url, utf8, "the URL");
  job_text(job, QV_JOB_FILE_NAME, j.file_name, utf8, "the file name");
  job_text(job, QV_JOB_BEGIN_DATE, j.begin_date, utf8, "the begin date");
  job_text(job, QV_JOB_END_DATE, j.end_date, utf8, "the end date");
  job_text(job, QV_JOB_BEGIN_TIME, j.begin_time, utf8, "the begin time");
  job_text(job, QV_JOB_END_TIME, j.end_time, utf8, "the end time");
  job_text(job, QV_JOB_PERIOD, j.period, utf8, "the period");
  if (j.orders.size() > 3)
    throw std::invalid_argument("send_job: more than 3 orders");
  const int32_t order_fields[] = {QV_JOB_ORDER1, QV_JOB_ORDER2, QV_JOB_ORDER3};
  for (size_t i = 0; i < j.orders.size(); ++i)
    job_text(job, order_fields[i], j.orders[i], utf8, "an order");
  for (const std::string &number : j.numbers) {
    std::string gbk = number, why;
    if (number.find('\0') != std::string::npos)
      throw std::invalid_argument("send_job: a number holds a zero byte");
    if (utf8 && !gbk_from_utf8(number, gbk, why))
      throw std::invalid_argument("send_job: a number is " + why);
    if (!QvJobAddNumber(job, gbk.c_str())) job_refused("a number");
  }
  if (j.file_content.size() >= static_cast<size_t>(INT32_MAX) ||
      !QvJobSetFile(job, j.file_content.data(),
                    static_cast<int32_t>(j.file_content.size())))
    job_refused("the file");
  if (!QvJobSetOption(job, QV_JOB_OPTION_CHECK, j.check ? 1 : 0) ||
      !QvJobSetOption(job, QV_JOB_OPTION_EVIDENCE,
                      j.evidence || j.resolver ? 1 : 0) ||
      !QvJobSetOption(job, QV_JOB_OPTION_WAIT, j.wait_ms))
    job_refused("an option");
}

inline JobResult job_result(QvJob *job, bool utf8) {
  JobResult r;
  int32_t status = 0;
  std::string message(QV_BODY_BUFFER_SIZE, '\0'),
      number(QV_PARAM_BUFFER_SIZE, '\0');
  QvJobResult(job, &status, &r.step, &r.attempts, &r.code, message.data(),
              number.data(), &r.recipients, &r.charged, &r.left);
  r.status = static_cast<JobStatus>(status);
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  int32_t sent = 0;
  QvJobOutcome(job, &r.outcome.kind, &sent, &r.relogin, &r.outcome.socket_error,
               detail, static_cast<int32_t>(sizeof detail));
  r.outcome.sent = sent != 0;
  r.outcome.detail = detail;
  cut_at_zero(message);
  cut_at_zero(number);
  text_out(message, utf8);
  text_out(number, utf8);
  r.message = std::move(message);
  r.job_number = std::move(number);
  r.evidence = job_evidence(job, utf8);
  return r;
}

inline JobResult send_job(SessionView &session, const Job &job, int attempts,
                          const JobProgress &progress,
                          JobCanceller *canceller) {
  const bool utf8 = session.utf8_texts();
  OwnedJob owned;
  QvJob *const q = owned.get();
  fill_job(q, job, utf8);
  JobCallbacks callbacks;
  callbacks.progress = progress ? &progress : nullptr;
  callbacks.resolver = job.resolver ? &job.resolver : nullptr;
  callbacks.utf8 = utf8;
  if (progress) QvJobSetProgress(q, job_progress, &callbacks);
  if (job.resolver) QvJobSetResolver(q, job_resolver, &callbacks);
  if (canceller) CancellerAccess::attach(*canceller, q);
  const bool submitted = QvSendJob(session.handle(), q, attempts) == 1;
  if (canceller) CancellerAccess::detach(*canceller);
  char why[QV_DETAIL_BUFFER_SIZE] = "";
  if (!submitted)
    GetLastOutcome(nullptr, nullptr, nullptr, nullptr, why,
                   static_cast<int32_t>(sizeof why));
  int32_t status = 0;
  QvJobResult(q, &status, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
              nullptr, nullptr);
  // No status: refused before any call (no product or numbers, no session).
  if (status == 0)
    throw std::invalid_argument(
        std::string("send_job: the job was refused before any call") +
        (why[0] ? ": " : "") + why);
  JobResult r = job_result(q, utf8);
  r.callback_exception = callbacks.thrown;
  return r;
}

// A send job operation's result, read through its job; throws as send_job
// does for a job refused before any call.
inline JobResult read_job(const OpShared *s) {
  JobResult r;
  if (!op_readable(r, s)) return r;
  QvJob *const q = static_cast<OwnedJob *>(s->keep.get())->get();
  int32_t status = 0;
  QvJobResult(q, &status, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
              nullptr, nullptr);
  if (status == 0) {
    char why[QV_DETAIL_BUFFER_SIZE] = "";
    int32_t kind = 0, sent = 0, argument = 0, socket_error = 0;
    QvOpOutcome(s->op.load(), &kind, &sent, &argument, &socket_error, why,
                static_cast<int32_t>(sizeof why));
    throw std::invalid_argument(
        std::string("send_job: the job was refused before any call") +
        (why[0] ? ": " : "") + why);
  }
  return job_result(q, s->utf8);
}

}  // namespace detail

// send_job as an operation on queue (QvStartSendJob): the job is copied
// into the operation, which sends it on the session's library thread and
// calls neither its progress function (Op::progress reads how far it has
// come) nor its resolver (a "maybe" stays MaybeSubmitted); cancel() ends
// it as JobCanceller::cancel does.  Its result() is what send_job returns,
// and throws std::invalid_argument, as send_job does, for a job the
// library refused before any call; a job this side refuses (a text that
// does not fit or that GBK cannot hold, more than 3 orders) throws here.
inline TypedOp<JobResult> start_send_job(SessionView &session, Queue &queue,
                                         const Job &job, int attempts = 2) {
  const bool utf8_texts = session.utf8_texts();
  auto owned = std::make_shared<detail::OwnedJob>();
  QvJob *const q = owned->get();
  detail::fill_job(q, job, utf8_texts);
  auto op = detail::start_op<JobResult>(
      queue, utf8_texts, &detail::read_job, JobResult{},
      [&](void *tag) {
        return QvStartSendJob(session.handle(), queue.handle(), tag, q,
                              attempts);
      },
      owned);
  // Refused at once (no product or numbers, a session or queue that is not
  // live): as send_job, an exception with the library's reason.
  if (!op.handle()) detail::job_refused("the job");
  return op;
}

// Sends the job on the session with QvSendJob, starting it at most
// attempts times, and returns how it ended; a job that ended is never an
// exception.  Throws std::invalid_argument, with the library's reason, for
// a job refused before any call: a text that does not fit its field or
// that GBK cannot hold, more than 3 orders, no product, no numbers, a
// session that is not one.
inline JobResult send_job(SessionView &session, const Job &job,
                          int attempts = 2, const JobProgress &progress = {}) {
  return detail::send_job(session, job, attempts, progress, nullptr);
}

// The same, cancelled by canceller.cancel() from any thread: a job stopped
// before its submit was out ends Cancelled, one stopped after it
// MaybeSubmitted.
inline JobResult send_job(SessionView &session, const Job &job,
                          JobCanceller &canceller, int attempts = 2,
                          const JobProgress &progress = {}) {
  return detail::send_job(session, job, attempts, progress, &canceller);
}

}  // namespace quorvex

#endif  // QUORVEX_JOB_HPP
