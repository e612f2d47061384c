// A job's send as the exports and the operations share it: QvSendJob runs
// it on the host's thread; an operation claims the job when it starts and
// sends it later on its session's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "connection/call_outcome.h"
#include "connection/session.h"
#include "jobs/sender.h"
#include "quorvex.h"

namespace qv::api {

// Marks a live job as being sent, so that it refuses changes and other
// sends; false (refused as Argument `argument`) otherwise.
bool claim_job(QvJob *handle, int32_t argument);
// A copy of a live job's content; false (refused as Argument `argument`)
// for a value that is not a live job.
bool copy_job_content(QvJob *handle, int32_t argument, jobs::Content &out);
// Ends a claim whose send never ran.
void unclaim_job(QvJob *handle);
// Sends the job on session as QvSendJob does (claimed: by claim_job
// already); true when it was submitted.  progress null: the job's own
// callbacks run.  outcome receives what the send ended on.
// before_submit, when given, is asked just before the submit goes out (a
// journal records the send there); ended, when given, receives how the
// job ended.
using BeforeSubmit = std::function<bool(const jobs::Result &, std::string &)>;
bool send_job_on(QvJob *handle, connection::Session &session, int32_t attempts,
                 jobs::NotedProgress *progress, bool claimed, connection::CallOutcome &outcome,
                 const BeforeSubmit *before_submit = nullptr, jobs::Result *ended = nullptr);
// Looks a job up as a send does after a "maybe" (jobs::look_up), holding
// its account; false when it could not begin (the account not had).
bool look_up_job_on(QvJob *handle, connection::Session &session, jobs::Result &result);
// A job of the library's own, for a send it makes (the journal's): a live
// handle, so that a resolver may read it; null when no handle is left.
// Freed by QvJobDestroy.
QvJob *make_job(const jobs::Content &content, QvJobResolver resolver, void *context);
// QvJobCancel's cancel; false for a job that is not live.
bool cancel_job(QvJob *handle);

}  // namespace qv::api
