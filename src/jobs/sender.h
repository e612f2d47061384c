// The sender: the recovery rules of a send job, written once.
//  - A field call that failed is never sent again on its own: when its
//    relogin logged in the job starts again from the clear, while attempts
//    remain; a call that failed with nothing sent (or the clear itself)
//    uses up no attempt.
//  - A submit whose request went out without an answer the stream can tie
//    to it is "maybe submitted", and never sent again.
//  - A cancel, a disconnect or a destroy of the host's ends the send:
//    cancelled before the submit was out, "maybe" after.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "connection/call_outcome.h"
#include "jobs/job.h"
#include "jobs/plan.h"
#include "quorvex.h"

namespace qv::jobs {

// One call's answer as the sender reads it.
struct Answer {
  bool ok = false;
  int32_t code = -1;
  std::array<char, QV_BODY_BUFFER_SIZE> message{};
  std::array<int32_t, 3> numbers{};
  connection::CallOutcome outcome;
};

// What a send does on its session; the export layer runs each step
// through the same bodies as the exports.
class Calls {
 public:
  virtual ~Calls() = default;
  virtual void run(const Step &step, Answer &answer) = 0;
  // Right after an answer: bytes that no request asked for are waiting
  // already, so the answer just read may not have been the request's own.
  virtual bool unrequested_waiting() = 0;
  // A disconnect or destroy of the host's is pending on the session.
  virtual bool host_ended() = 0;
  // Before each call: the step and attempt to the job's progress callback.
  virtual void progress(Job &job, int32_t step, int32_t attempt);
  // After a "maybe", the job's result published: the resolver's answer
  // (QV_RESOLVED_*).  Only called when the job has a resolver.
  virtual int32_t resolve(Job &job);
  // Just before the submit's request goes out, with the result so far
  // (the evidence taken before among it): false stops the send there,
  // nothing submitted, and why says what kept it.  A journal records the
  // send here, so that a crash after it is never mistaken for a job that
  // was not sent.
  virtual bool before_submit(const Result &so_far, std::string &why);
};

// Where a send that runs on a library thread notes its progress, since it
// calls none of the host's functions there.
struct NotedProgress {
  std::atomic<int32_t> step{0};
  std::atomic<int32_t> attempt{0};
};

// Restarts that use up no attempt, at most, in one send: enough for a
// server that restarted, never a loop against one that drops every call.
inline constexpr int kFreeRestarts = 4;

// Sends the planned job; the job is being sent (its flag set) and its
// account held.  Fills result.
void send(Job &job, const Content &content, const std::vector<Step> &plan, Calls &calls,
          int32_t attempts, Result &result);

// Looks up a job that may have been submitted as a send does after a
// "maybe": result holds the evidence taken before its submit; the
// evidence after is taken now and the resolver asked.  result.status ends
// Submitted, Failed (not submitted) or MaybeSubmitted.
void look_up(Job &job, const Content &content, Calls &calls, Result &result);

// The outcome of a send that ended before a call: cancelled, or refused
// before anything was sent.
connection::CallOutcome cancelled_outcome();

}  // namespace qv::jobs
