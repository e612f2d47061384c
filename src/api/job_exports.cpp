// The send job's exports: the job handle, its setters and queries, and
// QvSendJob, which runs the sender on a host's session through the same
// bodies as the field exports.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <string_view>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/guard.h"
#include "api/handle_table.h"
#include "api/job_sends.h"
#include "api/session_handle.h"
#include "common/fixed_texts.h"
#include "connection/call_outcome.h"
#include "jobs/account_locks.h"
#include "jobs/job.h"
#include "jobs/plan.h"
#include "jobs/sender.h"
#include "quorvex.h"
#include "trace/trace.h"

using namespace qv;
using namespace qv::api;

static_assert(static_cast<int>(jobs::Status::Cancelled) == QV_JOB_CANCELLED);
static_assert(static_cast<int>(jobs::Status::MaybeSubmitted) == QV_JOB_MAYBE_SUBMITTED);

namespace {

using JobTable = HandleTable<jobs::Job>;

JobTable &job_table() {
  // Never destroyed: a handle stays checkable until the process is gone.
  static auto *table = new JobTable(handle_key());  // NOLINT(cppcoreguidelines-owning-memory)
  return *table;
}

uintptr_t value_of(const QvJob *job) { return reinterpret_cast<uintptr_t>(job); }

void note_not_a_job(const QvJob *job, int32_t argument) {
  const std::string n = std::to_string(argument);
  connection::refuse(argument, job ? "Argument " + n +
                                         " is not a live job: QvJobCreate did not make it, or it "
                                         "was destroyed."
                                   : "Argument " + n + " (the job) is a null pointer.");
}

// Runs body(job) on a live job under the guard; a value that is not one is
// refused without reading anything through it.
template <class Body>
qv_bool on_job(QvJob *handle, Body &&body, Where where = __builtin_FUNCTION()) {
  JobTable::Use use = job_table().use(value_of(handle));
  return guarded(
      [&] {
        if (!use) {
          note_not_a_job(handle, 1);
          return false;
        }
        return body(*use);
      },
      where);
}

// The same for a change: refused while the job is being sent.
template <class Body>
qv_bool changing_job(QvJob *handle, Body &&body, Where where = __builtin_FUNCTION()) {
  return on_job(
      handle,
      [&](jobs::Job &job) {
        const std::lock_guard<std::mutex> lock(job.mutex);
        if (job.sending.load()) {
          connection::refuse(1, "Argument 1 is being sent: a job changes only between sends.");
          return false;
        }
        return body(job);
      },
      where);
}

// The account a session logs in to: its server's address and login name.
std::string account_of(connection::Session &session) {
  const std::lock_guard<connection::CallLock> lock(session.call_lock);
  const connection::ConnectionSettings &c = session.connection_settings;
  return c.host + ':' + std::to_string(c.port) + '\n' + session.login_credentials.name;
}

// A send's calls on its session, through the exports' own bodies, so that
// each is locked, traced and recorded as the export is.
class SessionCalls : public jobs::Calls {
 public:
  // interrupts: the session's count when the send began; progress: where
  // an operation's send notes its steps (null: the job's callbacks).
  SessionCalls(connection::Session &session, uint64_t interrupts, jobs::NotedProgress *progress,
               const BeforeSubmit *before_submit = nullptr)
      : session_(session),
        interrupts_(interrupts),
        progress_(progress),
        before_submit_(before_submit) {}

  void run(const jobs::Step &step, jobs::Answer &a) override {
    record::Call call;
    call.result_code = &a.code;
    call.message = a.message.data();
    if (step.submit) call.outs = {&a.numbers[0], &a.numbers[1], &a.numbers[2]};
    for (size_t i = 0; i < step.texts.size(); ++i) call.texts[i] = step.texts[i].c_str();
    call.numbers[0] = step.number;
    a.ok = api::run(session_, *step.command, call, step.name) != 0;
    a.outcome = connection::this_thread_outcome();
  }

  bool unrequested_waiting() override {
    const std::lock_guard<connection::CallLock> lock(session_.call_lock);
    return session_.tcp_client && session_.tcp_client->unrequested_waiting();
  }

  // A disconnect or destroy pending now, or one that came and went since
  // the send began (while it waited for its account, or between two of
  // its calls).
  bool host_ended() override {
    return session_.disconnect_requested() || session_.waits.interrupts_requested() != interrupts_;
  }

  // An operation runs on a library thread, where no host code may run:
  // its progress is noted for QvOpProgress, and a "maybe" stays one.
  void progress(jobs::Job &job, int32_t step, int32_t attempt) override {
    if (!progress_) return jobs::Calls::progress(job, step, attempt);
    progress_->step.store(step);
    progress_->attempt.store(attempt);
  }
  int32_t resolve(jobs::Job &job) override {
    return progress_ ? QV_RESOLVED_UNKNOWN : jobs::Calls::resolve(job);
  }
  bool before_submit(const jobs::Result &so_far, std::string &why) override {
    return !before_submit_ || (*before_submit_)(so_far, why);
  }

 private:
  connection::Session &session_;
  const uint64_t interrupts_;
  jobs::NotedProgress *const progress_;
  const BeforeSubmit *const before_submit_;
};

// A send in progress on a job: marks it, and when it ends publishes the
// result, ends a cancel's interrupt and clears the cancel.
class Sending {
 public:
  Sending(jobs::Job &job, connection::Session &session) : job_(job), session_(session) {
    const std::lock_guard<std::mutex> lock(job.mutex);
    content = job.content;
    job.result = jobs::Result{};
  }
  Sending(const Sending &) = delete;
  Sending &operator=(const Sending &) = delete;
  // From here a cancel interrupts the session's waits: only once the job
  // holds its account, so that a cancel of a job still waiting for it
  // never ends another job's call on the same session.
  void on_the_wire() {
    const std::lock_guard<std::mutex> lock(job_.mutex);
    job_.sending_on = &session_;
  }
  ~Sending() {
    const std::lock_guard<std::mutex> lock(job_.mutex);
    job_.result = result;
    job_.sending_on = nullptr;
    if (job_.interrupted) session_.waits.end_interrupt();
    job_.interrupted = false;
    job_.cancelled.store(false);
    job_.sending.store(false);
  }

  jobs::Content content;
  jobs::Result result;

 private:
  jobs::Job &job_;
  connection::Session &session_;
};

void end_before_any_call(jobs::Result &r, jobs::Status status, connection::OutcomeKind kind,
                         std::string_view why) {
  r.status = status;
  if (status == jobs::Status::Cancelled) {
    r.outcome = jobs::cancelled_outcome();
    return;
  }
  r.outcome.kind = kind;
  r.outcome.error.set(0, why);
}

bool send_job(connection::Session &session, jobs::Job &job, int32_t attempts,
              jobs::NotedProgress *progress, const BeforeSubmit *before_submit, jobs::Result &out) {
  Sending sending(job, session);
  jobs::Result &r = sending.result;
  const jobs::Plan plan = jobs::make_plan(sending.content);
  if (plan.refused) {
    connection::refuse(2, "Argument 2 cannot be sent: " + *plan.refused);
    r.outcome = connection::this_thread_outcome();
    out = r;
    return false;
  }
  // A cancel, or a destroy or disconnect of the session, ends the wait for
  // the account as it would end a call.
  const uint64_t interrupts = session.waits.interrupts_requested();
  const auto ended = [&] {
    return job.cancelled.load() || session.waits.interrupts_requested() != interrupts;
  };
  jobs::AccountHold hold;
  switch (hold.take(account_of(session), sending.content.wait_ms, ended)) {
    case jobs::AccountLocks::Taken::Yes: {
      sending.on_the_wire();
      SessionCalls calls(session, interrupts, progress, before_submit);
      jobs::send(job, sending.content, plan.steps, calls, attempts > 0 ? attempts : 2, r);
      break;
    }
    case jobs::AccountLocks::Taken::Busy:
      end_before_any_call(r, jobs::Status::Failed, connection::OutcomeKind::Refused,
                          text::kAccountBusy);
      break;
    case jobs::AccountLocks::Taken::TimedOut:
      end_before_any_call(r, jobs::Status::Failed, connection::OutcomeKind::TimedOut,
                          text::kAccountWaitTimedOut);
      break;
    case jobs::AccountLocks::Taken::Cancelled:
      end_before_any_call(r, jobs::Status::Cancelled, connection::OutcomeKind::NotSent, {});
      break;
  }
  out = r;
  return r.status == jobs::Status::Submitted;
}

}  // namespace

extern "C" {

QV_EXPORT QvJob *QV_CALL QvJobCreate(void) {
  QvJob *made = nullptr;
  guarded([&] {
    auto job = std::make_unique<jobs::Job>();
    const uintptr_t handle = job_table().add(job.get());
    if (handle == 0) {
      connection::other_failure("No job handle is left in this process.");
      return false;
    }
    made = reinterpret_cast<QvJob *>(handle);
    job->handle = made;
    static_cast<void>(job.release());  // owned by its handle from now on
    return true;
  });
  return made;
}

QV_API QvJobDestroy(QvJob *Job) {
  const uintptr_t handle = value_of(Job);
  // From here nothing enters the job; a second destroy is refused.
  jobs::Job *job = job_table().begin_destroy(handle);
  return guarded([&] {
    if (!job) {
      note_not_a_job(Job, 1);
      return false;
    }
    jobs::cancel(*job);
    job_table().wait_until_unused(handle);
    job_table().finish_destroy(handle);
    delete job;  // NOLINT(cppcoreguidelines-owning-memory): its handle is dead
    return true;
  });
}

QV_API QvJobSetText(QvJob *Job, int32_t Field, const char *Text, int32_t Length, int32_t Encoding) {
  return changing_job(Job, [&](jobs::Job &job) {
    if (Length < -1) {
      connection::refuse(4, "Argument 4 is below -1.");
      return false;
    }
    const std::string_view text = !Text ? std::string_view()
                                  : Length < 0
                                      ? std::string_view(Text)
                                      : std::string_view(Text, static_cast<size_t>(Length));
    std::string why;
    std::optional<std::string> gbk = jobs::field_text(Field, text, Encoding, why);
    if (!gbk) {
      connection::refuse(why.rfind("Argument 2", 0) == 0   ? 2
                         : why.rfind("Argument 5", 0) == 0 ? 5
                                                           : 3,
                         why);
      return false;
    }
    job.content.texts[static_cast<size_t>(Field)] = std::move(*gbk);
    return true;
  });
}

QV_API QvJobAddNumber(QvJob *Job, const char *Number) {
  return changing_job(Job, [&](jobs::Job &job) {
    const std::string number = text_or_empty(Number);
    std::string why = jobs::number_problem(number);
    if (why.empty() && job.content.numbers.size() >= QV_JOB_NUMBERS_MAX)
      why = "Argument 1 holds " + std::to_string(QV_JOB_NUMBERS_MAX) + " numbers already.";
    if (!why.empty()) {
      connection::refuse(why.rfind("Argument 1", 0) == 0 ? 1 : 2, why);
      return false;
    }
    job.content.numbers.push_back(number);
    return true;
  });
}

QV_API QvJobSetFile(QvJob *Job, const void *Bytes, int32_t Length) {
  return changing_job(Job, [&](jobs::Job &job) {
    if (Length < 0 || Length > QV_JOB_FILE_MAX || (!Bytes && Length > 0)) {
      connection::refuse(Length < 0 || Length > QV_JOB_FILE_MAX ? 3 : 2,
                         "A file is 0 to " + std::to_string(QV_JOB_FILE_MAX) +
                             " bytes, given by a pointer that is not null.");
      return false;
    }
    job.content.file.assign(static_cast<const char *>(Bytes), static_cast<size_t>(Length));
    return true;
  });
}

QV_API QvJobSetOption(QvJob *Job, int32_t Option, int32_t Value) {
  return changing_job(Job, [&](jobs::Job &job) {
    jobs::Content &c = job.content;
    const bool flag = Value == 0 || Value == 1;
    if ((Option == QV_JOB_OPTION_CHECK || Option == QV_JOB_OPTION_EVIDENCE) && !flag) {
      connection::refuse(3, "Argument 3 is neither 0 nor 1.");
      return false;
    }
    switch (Option) {
      case QV_JOB_OPTION_CHECK: c.check = Value != 0; return true;
      case QV_JOB_OPTION_EVIDENCE: c.evidence = Value != 0; return true;
      case QV_JOB_OPTION_WAIT:
        if (Value < 0) {
          connection::refuse(3, "Argument 3 is a negative wait.");
          return false;
        }
        c.wait_ms = Value;
        return true;
      default: connection::refuse(2, "Argument 2 is no job option."); return false;
    }
  });
}

QV_API QvJobSetProgress(QvJob *Job, QvJobProgress Progress, void *Context) {
  return changing_job(Job, [&](jobs::Job &job) {
    job.progress = Progress;
    job.progress_context = Context;
    return true;
  });
}

QV_API QvJobSetResolver(QvJob *Job, QvJobResolver Resolver, void *Context) {
  return changing_job(Job, [&](jobs::Job &job) {
    job.resolver = Resolver;
    job.resolver_context = Context;
    return true;
  });
}

QV_API QvSendJob(QvSession *Session, QvJob *Job, int32_t Attempts) {
  const SessionUse session(Session);
  if (!session) return refuse_session(Session);
  connection::CallOutcome outcome;
  const bool submitted = send_job_on(Job, session.session(), Attempts, nullptr, false, outcome);
  connection::this_thread_outcome() = outcome;
  connection::keep_outcome(session.session().id());
  return submitted ? 1 : 0;
}

QV_API QvJobResult(QvJob *Job, int32_t *Status, int32_t *Step, int32_t *Attempts, int32_t *Code,
                   char *Message, char *JobNumber, int32_t *Recipients, int32_t *Charged,
                   int32_t *Left) {
  return on_job(Job, [&](jobs::Job &job) {
    const std::lock_guard<std::mutex> lock(job.mutex);
    const jobs::Result &r = job.result;
    if (Status) *Status = static_cast<int32_t>(r.status);
    if (Step) *Step = r.step;
    if (Attempts) *Attempts = r.attempts;
    if (Code) *Code = r.code;
    if (Message) copy_text(Message, QV_BODY_BUFFER_SIZE, r.message);
    if (JobNumber) copy_text(JobNumber, QV_PARAM_BUFFER_SIZE, r.job_number);
    if (Recipients) *Recipients = r.recipients;
    if (Charged) *Charged = r.charged;
    if (Left) *Left = r.left;
    return true;
  });
}

QV_API QvJobOutcome(QvJob *Job, int32_t *Outcome, int32_t *Sent, int32_t *Relogin,
                    int32_t *SocketError, char *Detail, int32_t DetailSize) {
  return on_job(Job, [&](jobs::Job &job) {
    const std::lock_guard<std::mutex> lock(job.mutex);
    const connection::CallOutcome &o = job.result.outcome;
    if (Outcome) *Outcome = static_cast<int32_t>(o.kind);
    if (Sent) *Sent = o.sent ? 1 : 0;
    if (Relogin) *Relogin = static_cast<int32_t>(o.relogin);
    if (SocketError) *SocketError = o.error.socket_error;
    copy_detail(Detail, DetailSize, o.error.text);
    return true;
  });
}

QV_API QvJobCancel(QvJob *Job) {
  return on_job(Job, [](jobs::Job &job) {
    jobs::cancel(job);
    return true;
  });
}

QV_EXPORT int32_t QV_CALL QvJobEvidence(QvJob *Job, int32_t Which, char *Buffer, int32_t Size) {
  int32_t length = -1;
  on_job(Job, [&](jobs::Job &job) {
    if (Which < 1 || Which > jobs::kEvidenceCount) {
      connection::refuse(2,
                         "Argument 2 is no evidence (QV_EVIDENCE_PACKAGES_BEFORE to "
                         "QV_EVIDENCE_DETAILS_AFTER).");
      return false;
    }
    const std::lock_guard<std::mutex> lock(job.mutex);
    const std::optional<std::string> &text = job.result.evidence[static_cast<size_t>(Which - 1)];
    if (!text) return true;
    length = static_cast<int32_t>(text->size());
    if (Buffer && Size > length) copy_text(Buffer, static_cast<size_t>(Size), *text);
    return true;
  });
  return length;
}

}  // extern "C"

namespace qv::api {

bool claim_job(QvJob *handle, int32_t argument) {
  JobTable::Use job = job_table().use(value_of(handle));
  if (!job) {
    note_not_a_job(handle, argument);
    return false;
  }
  bool idle = false;
  if (!job->sending.compare_exchange_strong(idle, true)) {
    connection::refuse(argument,
                       "Argument " + std::to_string(argument) + " is being sent already.");
    return false;
  }
  return true;
}

bool copy_job_content(QvJob *handle, int32_t argument, jobs::Content &out) {
  JobTable::Use job = job_table().use(value_of(handle));
  if (!job) {
    note_not_a_job(handle, argument);
    return false;
  }
  const std::lock_guard<std::mutex> lock(job->mutex);
  out = job->content;
  return true;
}

void unclaim_job(QvJob *handle) {
  JobTable::Use job = job_table().use(value_of(handle));
  if (!job) return;
  const std::lock_guard<std::mutex> lock(job->mutex);
  job->cancelled.store(false);
  job->sending.store(false);
}

bool send_job_on(QvJob *handle, connection::Session &session, int32_t attempts,
                 jobs::NotedProgress *progress, bool claimed, connection::CallOutcome &outcome,
                 const BeforeSubmit *before_submit, jobs::Result *ended) {
  // Not one guard around the whole: each call of the send is an export
  // call of its own.  The outcome is, at the end, the one the job ended on.
  JobTable::Use job = job_table().use(value_of(handle));
  jobs::Result result;
  bool submitted = false;
  bool sent = false;
  guarded_on(
      session.id(), session.trace_number(),
      [&] {
        if (!claimed && !claim_job(handle, 2)) return false;
        if (!job) {
          note_not_a_job(handle, 2);
          return false;
        }
        sent = true;
        submitted = send_job(session, *job, attempts, progress, before_submit, result);
        return submitted;
      },
      "QvSendJob");
  outcome = sent ? result.outcome : connection::this_thread_outcome();
  if (ended) *ended = result;
  return submitted;
}

bool look_up_job_on(QvJob *handle, connection::Session &session, jobs::Result &result) {
  JobTable::Use job = job_table().use(value_of(handle));
  bool looked = false;
  guarded_on(
      session.id(), session.trace_number(),
      [&] {
        if (!job) {
          note_not_a_job(handle, 1);
          return false;
        }
        jobs::Content content;
        {
          const std::lock_guard<std::mutex> lock(job->mutex);
          content = job->content;
        }
        // The look-up holds the account as a send does: no other job of it
        // may come between the evidence before and the evidence after.
        const uint64_t interrupts = session.waits.interrupts_requested();
        jobs::AccountHold hold;
        const auto ended = [&] { return session.waits.interrupts_requested() != interrupts; };
        if (hold.take(account_of(session), content.wait_ms, ended) !=
            jobs::AccountLocks::Taken::Yes) {
          connection::other_failure(text::kAccountWaitTimedOut);
          return false;
        }
        SessionCalls calls(session, interrupts, nullptr);
        jobs::look_up(*job, content, calls, result);
        looked = true;
        return true;
      },
      "QvJournalRecover");
  return looked;
}

QvJob *make_job(const jobs::Content &content, QvJobResolver resolver, void *context) {
  auto job = std::make_unique<jobs::Job>();
  job->content = content;
  job->resolver = resolver;
  job->resolver_context = context;
  const uintptr_t handle = job_table().add(job.get());
  if (handle == 0) return nullptr;
  job->handle = reinterpret_cast<QvJob *>(handle);
  return job.release()->handle;  // owned by its handle from now on
}

bool cancel_job(QvJob *handle) {
  JobTable::Use job = job_table().use(value_of(handle));
  if (!job) return false;
  jobs::cancel(*job);
  return true;
}

}  // namespace qv::api
