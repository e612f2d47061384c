#include "jobs/sender.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/fixed_texts.h"
#include "connection/socket_errors.h"

namespace qv::jobs {

namespace {

constexpr int32_t kAccepted = QV_CODE_ACCEPTED;

bool logged_in_again(const Answer &a) {
  return a.outcome.relogin == connection::ReloginKind::LoggedIn;
}

// Ended by the host: a cancel, or a disconnect or destroy from another
// thread, which fails the call with the interrupt's number.
bool ended_by_host(const Job &job, Calls &calls, const Answer *a) {
  return job.cancelled.load() || calls.host_ended() ||
         (a && a->outcome.error.socket_error == connection::kWsaInterrupted);
}

class Send {
 public:
  Send(Job &job, const Content &content, const std::vector<Step> &plan, Calls &calls,
       int32_t attempts, Result &result)
      : job_(job), content_(content), plan_(plan), calls_(calls), attempts_(attempts), r_(result) {}

  // A job that may have been submitted, looked up from the evidence taken
  // before its submit.
  void look_up() {
    r_.status = Status::MaybeSubmitted;
    resolve();
  }

  void run() {
    int32_t attempt = 1;
    int free_restarts = 0;
    for (;;) {
      r_.attempts = attempt;
      const Next next = one_attempt(attempt);
      if (next == Next::Stop) return;
      if (next == Next::FreeRestart && free_restarts < kFreeRestarts) {
        ++free_restarts;
        continue;
      }
      if (attempt >= attempts_) return;  // r_ holds the failure
      ++attempt;
    }
  }

 private:
  enum class Next { Stop, Restart, FreeRestart };

  // The evidence before the submit is taken first in each attempt, ahead
  // of its clear: the submit then always follows a field the server
  // accepted, so that an earlier answer read late as the submit's (the
  // stream carries no request id) reads as 900 without numbers, a "maybe",
  // and never as a refusal.
  Next one_attempt(int32_t attempt) {
    r_.evidence = {};
    if (content_.evidence) {
      if (const std::optional<Next> next = take_evidence(QV_EVIDENCE_PACKAGES_BEFORE, attempt))
        return *next;
    }
    for (const Step &step : plan_) {
      // Looked at again after the host's callback, which may take a while.
      if (!ended_by_host(job_, calls_, nullptr)) calls_.progress(job_, step.code(), attempt);
      if (ended_by_host(job_, calls_, nullptr)) {
        end_cancelled(step);
        return Next::Stop;
      }
      if (std::string why; step.submit && !calls_.before_submit(r_, why)) {
        end_unrecorded(step, why);
        return Next::Stop;
      }
      Answer a;
      calls_.run(step, a);
      if (step.submit) return submitted(step, a);
      if (!a.ok) return failed(step, a, &step == &plan_.front());
      if (a.code != kAccepted) {
        end(Status::Refused, step, a);
        return Next::Stop;
      }
    }
    return Next::Stop;  // the plan always ends with its submit
  }

  // A call before the submit failed: nothing of the job was submitted.
  Next failed(const Step &step, const Answer &a, bool first) {
    end(ended_by_host(job_, calls_, &a) ? Status::Cancelled : Status::Failed, step, a);
    if (r_.status == Status::Cancelled || !logged_in_again(a)) return Next::Stop;
    // Nothing of this attempt reached the server but a clear: starting
    // again costs nothing.
    return !a.outcome.sent || first ? Next::FreeRestart : Next::Restart;
  }

  Next submitted(const Step &step, const Answer &a) {
    if (!a.ok && a.code == -1 && !a.outcome.sent) return failed(step, a, false);
    if (!a.ok && a.code == -1) {
      end(Status::MaybeSubmitted, step, a);  // out, unanswered
    } else if (!a.ok) {
      // An answer came whose numbers could not be taken: a refusal leaves
      // them empty; an acceptance without them is an earlier call's answer
      // read late.
      end(a.code == kAccepted ? Status::MaybeSubmitted : Status::Refused, step, a);
    } else {
      const bool stray = calls_.unrequested_waiting();
      const bool counted = a.numbers[0] == static_cast<int32_t>(content_.numbers.size());
      if (a.code != kAccepted)
        end(stray ? Status::MaybeSubmitted : Status::Refused, step, a);
      else
        end(!stray && counted ? Status::Submitted : Status::MaybeSubmitted, step, a);
    }
    // A "maybe" on an answer that was read means the stream may have been
    // out of step: the answers read before it, the evidence among them, may
    // not be their own either.  Only a submit left unanswered (its
    // connection closed since) keeps the evidence taken before it.
    if (r_.status == Status::MaybeSubmitted && a.code != -1) forget_evidence_before();
    if (r_.status == Status::Submitted) {
      r_.recipients = a.numbers[0];
      r_.charged = a.numbers[1];
      r_.left = a.numbers[2];
      if (r_.message.size() < QV_PARAM_BUFFER_SIZE) r_.job_number = r_.message;
    }
    if (r_.status == Status::MaybeSubmitted) resolve();
    return Next::Stop;
  }

  // After a "maybe": the evidence once the connection is back, then the
  // host's resolver.
  void resolve() {
    if (ended_by_host(job_, calls_, nullptr)) return;
    if (content_.evidence) take_evidence(QV_EVIDENCE_PACKAGES_AFTER, r_.attempts);
    if (!job_.resolver) return;
    {
      // What the resolver may read through QvJobResult and QvJobEvidence.
      const std::lock_guard<std::mutex> lock(job_.mutex);
      job_.result = r_;
    }
    switch (calls_.resolve(job_)) {
      case QV_RESOLVED_SUBMITTED: r_.status = Status::Submitted; break;
      case QV_RESOLVED_NOT_SUBMITTED: r_.status = Status::Failed; break;
      default: break;
    }
  }

  // Takes the two look-ups from which (packages, then details) on.  Before
  // the clear, a look-up that failed on the connection ends the attempt as
  // the clear itself would (nothing of the job was sent); after a "maybe"
  // it only leaves its evidence out.  Nothing when the send goes on.
  std::optional<Next> take_evidence(int32_t from, int32_t attempt) {
    const bool before = from == QV_EVIDENCE_PACKAGES_BEFORE;
    const Step lookups[2] = {packages_lookup(), details_lookup(content_.numbers.front())};
    for (int i = 0; i < 2; ++i) {
      if (!ended_by_host(job_, calls_, nullptr)) calls_.progress(job_, lookups[i].code(), attempt);
      Answer a;
      calls_.run(lookups[i], a);
      // Right after a drop the first call only reconnects: once more.
      if (!a.ok && !a.outcome.sent && logged_in_again(a) && !ended_by_host(job_, calls_, &a))
        calls_.run(lookups[i], a);
      if (a.ok) {
        // A refused query is no evidence; the job goes on without it.  Nor
        // is an answer with more waiting behind it: it may be an earlier
        // call's, read late, and the next request's write finds the stream
        // out of step.
        if (a.code == kAccepted && !calls_.unrequested_waiting())
          r_.evidence[from - 1 + i] = std::string(a.message.data());
        continue;
      }
      if (!before) continue;
      return failed(lookups[i], a, true);
    }
    return std::nullopt;
  }

  void forget_evidence_before() {
    r_.evidence[QV_EVIDENCE_PACKAGES_BEFORE - 1].reset();
    r_.evidence[QV_EVIDENCE_DETAILS_BEFORE - 1].reset();
  }

  void end(Status status, const Step &step, const Answer &a) {
    r_.status = status;
    r_.step = step.code();
    r_.code = a.code;
    r_.message.assign(a.message.data(), strnlen(a.message.data(), a.message.size()));
    r_.outcome = a.outcome;
  }

  // The submit was not sent: what had to be recorded before it could not be.
  void end_unrecorded(const Step &step, std::string_view why) {
    r_.status = Status::Failed;
    r_.step = step.code();
    r_.code = -1;
    r_.message.clear();
    r_.outcome = connection::CallOutcome{};
    r_.outcome.kind = connection::OutcomeKind::Failed;
    r_.outcome.error.set(0, why);
  }

  void end_cancelled(const Step &step) {
    r_.status = Status::Cancelled;
    r_.step = step.code();
    r_.code = -1;
    r_.message.clear();
    r_.outcome = cancelled_outcome();
  }

  Job &job_;
  const Content &content_;
  const std::vector<Step> &plan_;
  Calls &calls_;
  const int32_t attempts_;
  Result &r_;
};

}  // namespace

void Calls::progress(Job &job, int32_t step, int32_t attempt) {
  if (job.progress) job.progress(job.handle, job.progress_context, step, attempt);
}

int32_t Calls::resolve(Job &job) { return job.resolver(job.handle, job.resolver_context); }

bool Calls::before_submit(const Result &, std::string &) { return true; }

connection::CallOutcome cancelled_outcome() {
  connection::CallOutcome o;
  o.kind = connection::OutcomeKind::NotSent;
  o.error.set(connection::kWsaInterrupted, text::kJobCancelled);
  return o;
}

void send(Job &job, const Content &content, const std::vector<Step> &plan, Calls &calls,
          int32_t attempts, Result &result) {
  Send(job, content, plan, calls, attempts, result).run();
}

void look_up(Job &job, const Content &content, Calls &calls, Result &result) {
  const std::vector<Step> no_plan;
  Send(job, content, no_plan, calls, 1, result).look_up();
}

}  // namespace qv::jobs
