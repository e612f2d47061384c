// The send-job journal's exports: its handle, adding a job and reading one
// back.  The store keeps everything on disk; nothing here is the only copy
// of anything.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <cstdint>
#include <cstring>
#include <optional>
#include <memory>
#include <string>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/guard.h"
#include "api/handle_table.h"
#include "api/job_sends.h"
#include "api/operations.h"
#include "api/session_handle.h"
#include "connection/call_outcome.h"
#include "jobs/plan.h"
#include "journal/content_codec.h"
#include "journal/store.h"
#include "trace/trace.h"
#include "quorvex.h"

using namespace qv;
using namespace qv::api;

static_assert(static_cast<int>(journal::State::Unknown) == QV_JOURNAL_UNKNOWN);

namespace {

struct Journal {
  std::unique_ptr<journal::Store> store;
  std::atomic<bool> closing{false};  // a send in progress stops after its job

  std::mutex mutex;         // guards what follows
  std::set<int64_t> taken;  // jobs this process is sending
  QvJobResolver resolver = nullptr;
  void *resolver_context = nullptr;
};

using JournalTable = HandleTable<Journal>;

JournalTable &journals() {
  // Never destroyed: a handle stays checkable until the process is gone.
  static auto *table =
      new JournalTable(handle_key() * 7);  // NOLINT(cppcoreguidelines-owning-memory)
  return *table;
}

uintptr_t value_of(const QvJournal *journal) { return reinterpret_cast<uintptr_t>(journal); }

void note_not_a_journal(const QvJournal *journal, int32_t argument = 1) {
  const std::string n = std::to_string(argument);
  connection::refuse(argument, journal ? "Argument " + n +
                                             " is not a live journal: QvJournalOpen did not make "
                                             "it, or it was closed."
                                       : "Argument " + n + " (the journal) is a null pointer.");
}

template <class Body>
qv_bool on_journal(QvJournal *handle, Body &&body, Where where = __builtin_FUNCTION()) {
  JournalTable::Use use = journals().use(value_of(handle));
  return guarded(
      [&] {
        if (!use) {
          note_not_a_journal(handle);
          return false;
        }
        return body(*use);
      },
      where);
}

// A job taken from the journal for one send: no other sender of this
// process takes it meanwhile.
class Taken {
 public:
  Taken(Journal &journal, int64_t id) : journal_(journal), id_(id) {}
  ~Taken() {
    const std::lock_guard<std::mutex> lock(journal_.mutex);
    journal_.taken.erase(id_);
  }
  Taken(const Taken &) = delete;
  Taken &operator=(const Taken &) = delete;

 private:
  Journal &journal_;
  int64_t id_;
};

// The oldest queued job no one here is sending, taken; 0 when none is
// left, nothing (why set) when the journal could not be read.
std::optional<int64_t> take_next(Journal &journal, std::string &why) {
  const std::lock_guard<std::mutex> lock(journal.mutex);
  const std::optional<int64_t> id = journal.store->first_queued(journal.taken, why);
  if (id && *id != 0) journal.taken.insert(*id);
  return id;
}

// The journal's state for how a send ended: a job cancelled before its
// submit was out was never sent, and waits in the queue again.
journal::State state_after(jobs::Status status) {
  switch (status) {
    case jobs::Status::Submitted: return journal::State::Submitted;
    case jobs::Status::Refused: return journal::State::Refused;
    case jobs::Status::MaybeSubmitted: return journal::State::Unknown;
    case jobs::Status::Cancelled: return journal::State::Queued;
    default: return journal::State::Failed;
  }
}

// What a send of the journal's jobs does around each job.
struct SendRun {
  SendRun(Journal &j, connection::Session &s, jobs::NotedProgress *p = nullptr)
      : journal(j), session(s), progress(p) {}

  Journal &journal;
  connection::Session &session;
  jobs::NotedProgress *progress;  // an operation's: no resolver runs
  // Names the job being sent (null after it) so that a cancel reaches it;
  // false when the run was cancelled meanwhile.
  std::function<bool(QvJob *)> current = [](QvJob *) { return true; };
  int32_t settled = 0;
  connection::CallOutcome outcome;

  void fail(const std::string &why) {
    outcome = connection::CallOutcome{};
    outcome.kind = connection::OutcomeKind::Failed;
    outcome.error.set(0, why);
  }

  // Sends up to max jobs (0 or below: all); true when it stopped only
  // because none was left or max were sent.
  bool run(int32_t max) {
    while (max <= 0 || settled < max) {
      if (journal.closing.load()) {
        fail("The journal is being closed.");
        return false;
      }
      std::string why;
      const std::optional<int64_t> id = take_next(journal, why);
      if (!id) {
        fail(why);
        return false;
      }
      if (*id == 0) return true;
      const Taken taken(journal, *id);
      if (!send_one(*id)) return false;
    }
    return true;
  }

  // Sends job id; whether the run may go on.
  bool send_one(int64_t id) {
    std::string why;
    std::optional<journal::Entry> entry = journal.store->entry(id, why);
    const std::optional<std::string> bytes = entry ? journal.store->content(id, why) : std::nullopt;
    if (!bytes) {
      fail(why);
      return false;
    }
    const std::optional<jobs::Content> content = journal::decode_content(*bytes, why);
    if (!content) {
      // A content that cannot be read cannot be sent: the job ends, and
      // the run goes on with the next.
      entry->state = journal::State::Failed;
      entry->message = why;
      fail("Job " + std::to_string(id) + " of the journal cannot be sent: " + why + ".");
      return journal.store->update(*entry, {journal::State::Queued}, why);
    }
    QvJobResolver resolver = nullptr;
    void *context = nullptr;
    if (!progress) {
      const std::lock_guard<std::mutex> lock(journal.mutex);
      resolver = journal.resolver;
      context = journal.resolver_context;
    }
    QvJob *job = make_job(*content, resolver, context);
    if (!job || !claim_job(job, 2)) {
      if (job) QvJobDestroy(job);
      fail("No job handle is left in this process.");
      return false;
    }
    const int32_t attempts_before = entry->attempts;
    // The send is on stable storage, with the evidence taken before it,
    // before the submit's first byte leaves.
    const BeforeSubmit record_sending = [&](const jobs::Result &so_far, std::string &why_not) {
      journal::Entry e = *entry;
      e.state = journal::State::Sending;
      e.attempts = attempts_before + so_far.attempts;
      e.evidence = journal::encode_evidence(so_far.evidence);
      if (journal.store->update(e, {journal::State::Queued, journal::State::Sending}, why_not))
        return true;
      why_not = "The journal could not record the send, so it was not submitted: " + why_not + ".";
      return false;
    };
    jobs::Result result;
    const bool go = current(job);
    if (go) {
      send_job_on(job, session, 2, progress, true, outcome, &record_sending, &result);
    } else {
      unclaim_job(job);
      result.status = jobs::Status::Cancelled;
      outcome = jobs::cancelled_outcome();
    }
    const bool still_going = current(nullptr);
    QvJobDestroy(job);
    if (result.status == jobs::Status::Cancelled) {
      // Whatever call the cancel cut short, the job was not submitted: it
      // waits in the queue again.
      outcome = jobs::cancelled_outcome();
      if (progress) outcome.kind = connection::OutcomeKind::Cancelled;  // an operation's
    }

    journal::Entry e = *entry;
    e.state = state_after(result.status);
    e.attempts = attempts_before + result.attempts;
    e.code = result.code;
    e.message = result.message;
    e.job_number = result.job_number;
    e.evidence = journal::encode_evidence(result.evidence);
    if (!journal.store->update(e, {journal::State::Queued, journal::State::Sending}, why)) {
      fail("The journal could not store how job " + std::to_string(id) +
           " ended; it stays SENDING, and is UNKNOWN once recovered: " + why + ".");
      return false;
    }
    trace::event_if_on([&] {
      return "journal job " + std::to_string(id) + " is now state " +
             std::to_string(static_cast<int>(e.state));
    });
    if (e.state != journal::State::Queued) ++settled;
    return still_going && e.state != journal::State::Failed && e.state != journal::State::Queued;
  }
};

// The states a host may settle a job from, to target; nothing for a
// target no job may be settled to.
std::optional<journal::States> resolvable_from(int32_t target) {
  using journal::State;
  switch (target) {
    case QV_JOURNAL_SUBMITTED:
    case QV_JOURNAL_FAILED: return journal::States{State::Unknown};
    case QV_JOURNAL_QUEUED: return journal::States{State::Unknown, State::Failed, State::Refused};
    default: return std::nullopt;
  }
}

// Job e, UNKNOWN, looked up on session from the evidence kept with it;
// false when its look-up's calls failed (the outcome says how).
bool look_up(Journal &journal, journal::Entry &e, connection::Session &session, bool &settled) {
  settled = false;
  std::string why;
  const std::optional<std::string> bytes = journal.store->content(e.id, why);
  const std::optional<jobs::Content> content =
      bytes ? journal::decode_content(*bytes, why) : std::nullopt;
  std::optional<jobs::Evidence> evidence = journal::decode_evidence(e.evidence, why);
  if (!content || !evidence) return true;  // nothing to look it up from
  if (!(*evidence)[QV_EVIDENCE_PACKAGES_BEFORE - 1] && !(*evidence)[QV_EVIDENCE_DETAILS_BEFORE - 1])
    return true;
  QvJobResolver resolver = nullptr;
  void *context = nullptr;
  {
    const std::lock_guard<std::mutex> lock(journal.mutex);
    resolver = journal.resolver;
    context = journal.resolver_context;
  }
  QvJob *job = make_job(*content, resolver, context);
  if (!job) {
    connection::other_failure("No job handle is left in this process.");
    return false;
  }
  jobs::Result result;
  result.attempts = e.attempts;
  result.evidence = *evidence;
  result.evidence[QV_EVIDENCE_PACKAGES_AFTER - 1].reset();
  result.evidence[QV_EVIDENCE_DETAILS_AFTER - 1].reset();
  const bool looked = look_up_job_on(job, session, result);
  const connection::CallOutcome last = connection::this_thread_outcome();
  QvJobDestroy(job);
  connection::this_thread_outcome() = last;
  if (!looked) return false;
  e.evidence = journal::encode_evidence(result.evidence);
  if (result.status == jobs::Status::Submitted) e.state = journal::State::Submitted;
  if (result.status == jobs::Status::Failed) e.state = journal::State::Failed;
  if (!journal.store->update(e, {journal::State::Unknown}, why)) {
    connection::other_failure(why);
    return false;
  }
  settled = e.state != journal::State::Unknown;
  return last.kind == connection::OutcomeKind::Ok;
}

bool recover(Journal &journal, connection::Session *session, int32_t *resolved) {
  std::string why;
  int64_t total = 0;
  // A send that no sender here holds was cut short by the end of its
  // process: what it did is unknown.
  for (const int64_t id : journal.store->ids(QV_JOURNAL_SENDING, SIZE_MAX, total, why)) {
    const std::lock_guard<std::mutex> lock(journal.mutex);
    if (journal.taken.count(id) != 0) continue;
    std::optional<journal::Entry> e = journal.store->entry(id, why);
    if (!e) continue;
    e->state = journal::State::Unknown;
    if (!journal.store->update(*e, {journal::State::Sending}, why)) total = -1;
  }
  if (total < 0) {
    connection::other_failure(why);
    return false;
  }
  if (!session) return true;
  for (const int64_t id : journal.store->ids(QV_JOURNAL_UNKNOWN, SIZE_MAX, total, why)) {
    {
      const std::lock_guard<std::mutex> lock(journal.mutex);
      if (!journal.taken.insert(id).second) continue;
    }
    const Taken taken(journal, id);
    std::optional<journal::Entry> e = journal.store->entry(id, why);
    if (!e || e->state != journal::State::Unknown) continue;
    bool settled = false;
    const bool ok = look_up(journal, *e, *session, settled);
    if (settled && resolved) ++*resolved;
    if (!ok) return false;
  }
  if (total < 0) {
    connection::other_failure(why);
    return false;
  }
  connection::this_thread_outcome() = connection::CallOutcome{};
  return true;
}

}  // namespace

extern "C" {

QV_EXPORT QvJournal *QV_CALL QvJournalOpen(const char *Path) {
  QvJournal *made = nullptr;
  guarded([&] {
    if (!Path || !*Path) {
      connection::refuse(1, "Argument 1 (the journal's file) is empty.");
      return false;
    }
    std::string why;
    auto journal = std::make_unique<Journal>();
    journal->store = journal::Store::open(Path, why);
    if (!journal->store) {
      connection::other_failure(why);
      return false;
    }
    const uintptr_t handle = journals().add(journal.get());
    if (handle == 0) {
      connection::other_failure("No journal handle is left in this process.");
      return false;
    }
    static_cast<void>(journal.release());  // owned by its handle from now on
    made = reinterpret_cast<QvJournal *>(handle);
    return true;
  });
  return made;
}

QV_API QvJournalClose(QvJournal *Journal) {
  const uintptr_t handle = value_of(Journal);
  ::Journal *journal = journals().begin_destroy(handle);
  return guarded([&] {
    if (!journal) {
      note_not_a_journal(Journal);
      return false;
    }
    journal->closing.store(true);
    journals().wait_until_unused(handle);
    journals().finish_destroy(handle);
    delete journal;  // NOLINT(cppcoreguidelines-owning-memory): its handle is dead
    return true;
  });
}

QV_EXPORT int64_t QV_CALL QvJournalAdd(QvJournal *Journal, QvJob *Job, const char *Reference) {
  int64_t id = 0;
  on_journal(Journal, [&](::Journal &journal) {
    const size_t length = Reference ? std::strlen(Reference) : 0;
    if (length == 0 || length > QV_JOURNAL_REFERENCE_MAX) {
      connection::refuse(3, "Argument 3 (the reference) is 1 to " +
                                std::to_string(QV_JOURNAL_REFERENCE_MAX) + " bytes.");
      return false;
    }
    jobs::Content content;
    if (!copy_job_content(Job, 2, content)) return false;
    // A job the sender would refuse is refused here, before it is kept.
    if (const jobs::Plan plan = jobs::make_plan(content); plan.refused) {
      connection::refuse(2, "Argument 2 cannot be sent: " + *plan.refused);
      return false;
    }
    std::string why;
    id = journal.store->add(Reference, journal::encode_content(content), why);
    if (id == 0) connection::other_failure(why);
    return id != 0;
  });
  return id;
}

QV_API QvJournalJob(QvJournal *Journal, int64_t Id, int32_t *State, char *Reference,
                    int32_t *Attempts, int32_t *Code, char *Message, char *JobNumber,
                    int64_t *AddedMs, int64_t *ChangedMs) {
  return on_journal(Journal, [&](::Journal &journal) {
    std::string why;
    const std::optional<journal::Entry> e = journal.store->entry(Id, why);
    if (!e) {
      connection::refuse(2, "Argument 2 is no job of the journal: " + why);
      return false;
    }
    if (State) *State = static_cast<int32_t>(e->state);
    if (Reference) copy_text(Reference, QV_JOURNAL_REFERENCE_BUFFER_SIZE, e->reference);
    if (Attempts) *Attempts = e->attempts;
    if (Code) *Code = e->code;
    if (Message) copy_text(Message, QV_BODY_BUFFER_SIZE, e->message);
    if (JobNumber) copy_text(JobNumber, QV_PARAM_BUFFER_SIZE, e->job_number);
    if (AddedMs) *AddedMs = e->added_ms;
    if (ChangedMs) *ChangedMs = e->changed_ms;
    return true;
  });
}

QV_EXPORT int32_t QV_CALL QvJournalList(QvJournal *Journal, int32_t State, int64_t *Ids,
                                        int32_t Size) {
  int32_t count = -1;
  on_journal(Journal, [&](::Journal &journal) {
    if (State < 0 || State > QV_JOURNAL_UNKNOWN) {
      connection::refuse(2, "Argument 2 is no state of a journal's job (0 for every state).");
      return false;
    }
    if (Size < 0 || (Size > 0 && !Ids)) {
      connection::refuse(3, "Argument 3 (the ids) is a null pointer, or Argument 4 below 0.");
      return false;
    }
    std::string why;
    int64_t total = 0;
    const std::vector<int64_t> ids =
        journal.store->ids(State, static_cast<size_t>(Size), total, why);
    if (total < 0) {
      connection::other_failure(why);
      return false;
    }
    std::copy(ids.begin(), ids.end(), Ids);
    count = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
    return true;
  });
  return count;
}

QV_EXPORT int32_t QV_CALL QvJournalEvidence(QvJournal *Journal, int64_t Id, int32_t Which,
                                            char *Buffer, int32_t Size) {
  int32_t length = -1;
  on_journal(Journal, [&](::Journal &journal) {
    if (Which < QV_EVIDENCE_PACKAGES_BEFORE || Which > QV_EVIDENCE_DETAILS_AFTER) {
      connection::refuse(3, "Argument 3 is no QV_EVIDENCE_* value.");
      return false;
    }
    if (Size < 0 || (Size > 0 && !Buffer)) {
      connection::refuse(4, "Argument 4 (the buffer) is a null pointer, or Argument 5 below 0.");
      return false;
    }
    std::string why;
    const std::optional<journal::Entry> e = journal.store->entry(Id, why);
    if (!e) {
      connection::refuse(2, "Argument 2 is no job of the journal: " + why);
      return false;
    }
    const std::optional<jobs::Evidence> evidence = journal::decode_evidence(e->evidence, why);
    if (!evidence) {
      connection::other_failure(why);
      return false;
    }
    const std::optional<std::string> &text = (*evidence)[static_cast<size_t>(Which - 1)];
    if (!text) return true;
    length = static_cast<int32_t>(text->size());
    if (length < Size) copy_text(Buffer, static_cast<size_t>(Size), *text);
    return true;
  });
  return length;
}

QV_API QvJournalSetResolver(QvJournal *Journal, QvJobResolver Resolver, void *Context) {
  return on_journal(Journal, [&](::Journal &journal) {
    const std::lock_guard<std::mutex> lock(journal.mutex);
    journal.resolver = Resolver;
    journal.resolver_context = Context;
    return true;
  });
}

QV_API QvJournalSend(QvSession *Session, QvJournal *Journal, int32_t MaxJobs, int32_t *Settled) {
  if (Settled) *Settled = 0;
  const SessionUse session(Session);
  if (!session) return refuse_session(Session);
  JournalTable::Use journal = journals().use(value_of(Journal));
  if (!journal) {
    return guarded([&] {
      note_not_a_journal(Journal, 2);
      return false;
    });
  }
  SendRun run(*journal, session.session());
  bool finished = false;
  guarded_on(session.session().id(), session.session().trace_number(), [&] {
    finished = run.run(MaxJobs);
    return finished;
  });
  // The outcome is the last job's, or what stopped the run.
  if (!finished || run.settled > 0) connection::this_thread_outcome() = run.outcome;
  connection::keep_outcome(session.session().id());
  if (Settled) *Settled = run.settled;
  return finished ? 1 : 0;
}

QV_EXPORT QvOp *QV_CALL QvStartJournalSend(QvSession *Session, QvQueue *Queue, void *Tag,
                                           QvJournal *Journal, int32_t MaxJobs) {
  const uintptr_t handle = value_of(Journal);
  const auto live = [&] {
    if (journals().use(handle)) return true;
    note_not_a_journal(Journal, 4);
    return false;
  };
  const auto runner = [handle, MaxJobs](connection::Session &session, async::Operation &op) {
    JournalTable::Use journal = journals().use(handle);
    if (!journal) {
      op.outcome = connection::CallOutcome{};
      op.outcome.kind = connection::OutcomeKind::Failed;
      op.outcome.error.set(0, "The journal was closed before the send began.");
      return false;
    }
    SendRun run(*journal, session, &op.progress);
    run.current = [&op](QvJob *job) {
      const std::lock_guard<std::mutex> lock(op.mutex);
      op.job = job;
      return !op.cancelled.load();
    };
    const bool finished = run.run(MaxJobs);
    op.outcome = run.outcome;
    *op.out.number(0) = run.settled;
    return finished;
  };
  return start_runner(Session, Queue, Tag, runner, live);
}

QV_API QvJournalRecover(QvJournal *Journal, QvSession *Session, int32_t *Resolved) {
  if (Resolved) *Resolved = 0;
  // A session is optional here; one given must be live.
  std::optional<SessionUse> session;
  if (Session) {
    session.emplace(Session);
    if (!*session) {
      return guarded([&] {
        note_not_a_session(Session, 2);
        return false;
      });
    }
  }
  return on_journal(Journal, [&](::Journal &journal) {
    return recover(journal, session ? &session->session() : nullptr, Resolved);
  });
}

QV_API QvJournalResolve(QvJournal *Journal, int64_t Id, int32_t State, const char *JobNumber) {
  return on_journal(Journal, [&](::Journal &journal) {
    const std::string number = JobNumber ? JobNumber : "";
    if (number.size() >= QV_PARAM_BUFFER_SIZE) {
      connection::refuse(4, "Argument 4 (the job number) is longer than " +
                                std::to_string(QV_PARAM_BUFFER_SIZE - 1) + " bytes.");
      return false;
    }
    std::string why;
    std::optional<journal::Entry> e = journal.store->entry(Id, why);
    if (!e) {
      connection::refuse(2, "Argument 2 is no job of the journal: " + why);
      return false;
    }
    const std::optional<journal::States> from = resolvable_from(State);
    if (!from || !from->has(e->state)) {
      connection::refuse(3, "Argument 3: a job in state " +
                                std::to_string(static_cast<int>(e->state)) +
                                " cannot be settled to state " + std::to_string(State) + ".");
      return false;
    }
    {
      // A job being sent here is not the host's to settle.
      const std::lock_guard<std::mutex> lock(journal.mutex);
      if (journal.taken.count(Id) != 0) {
        connection::refuse(2, "Argument 2 is being sent.");
        return false;
      }
      e->state = static_cast<journal::State>(State);
      if (e->state == journal::State::Submitted) e->job_number = number;
      if (!journal.store->update(*e, *from, why)) {
        connection::other_failure(why);
        return false;
      }
    }
    return true;
  });
}

}  // extern "C"
