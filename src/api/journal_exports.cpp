// The send-job journal's exports: its handle, adding a job and reading one
// back.  The store keeps everything on disk; nothing here is the only copy
// of anything.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/guard.h"
#include "api/handle_table.h"
#include "api/job_sends.h"
#include "connection/call_outcome.h"
#include "jobs/plan.h"
#include "journal/content_codec.h"
#include "journal/store.h"
#include "quorvex.h"

using namespace qv;
using namespace qv::api;

static_assert(static_cast<int>(journal::State::Unknown) == QV_JOURNAL_UNKNOWN);

namespace {

struct Journal {
  std::unique_ptr<journal::Store> store;
};

using JournalTable = HandleTable<Journal>;

JournalTable &journals() {
  // Never destroyed: a handle stays checkable until the process is gone.
  static auto *table =
      new JournalTable(handle_key() * 7);  // NOLINT(cppcoreguidelines-owning-memory)
  return *table;
}

uintptr_t value_of(const QvJournal *journal) { return reinterpret_cast<uintptr_t>(journal); }

void note_not_a_journal(const QvJournal *journal) {
  connection::refuse(1, journal
                            ? "Argument 1 is not a live journal: QvJournalOpen did not make it, "
                              "or it was closed."
                            : "Argument 1 (the journal) is a null pointer.");
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

void write_text(char *to, size_t size, const std::string &text) {
  const size_t n = text.size() < size ? text.size() : size - 1;
  std::memcpy(to, text.data(), n);
  to[n] = '\0';
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
    if (Reference) write_text(Reference, QV_JOURNAL_REFERENCE_BUFFER_SIZE, e->reference);
    if (Attempts) *Attempts = e->attempts;
    if (Code) *Code = e->code;
    if (Message) write_text(Message, QV_BODY_BUFFER_SIZE, e->message);
    if (JobNumber) write_text(JobNumber, QV_PARAM_BUFFER_SIZE, e->job_number);
    if (AddedMs) *AddedMs = e->added_ms;
    if (ChangedMs) *ChangedMs = e->changed_ms;
    return true;
  });
}

// Being built: each refuses until its body lands.
static qv_bool not_yet() {
  connection::other_failure("Not built yet.");
  return 0;
}
QV_EXPORT int32_t QV_CALL QvJournalList(QvJournal *, int32_t, int64_t *, int32_t) {
  not_yet();
  return -1;
}
QV_EXPORT int32_t QV_CALL QvJournalEvidence(QvJournal *, int64_t, int32_t, char *, int32_t) {
  not_yet();
  return -1;
}
QV_API QvJournalSetResolver(QvJournal *, QvJobResolver, void *) { return not_yet(); }
QV_API QvJournalSend(QvSession *, QvJournal *, int32_t, int32_t *) { return not_yet(); }
QV_EXPORT QvOp *QV_CALL QvStartJournalSend(QvSession *, QvQueue *, void *, QvJournal *, int32_t) {
  not_yet();
  return nullptr;
}
QV_API QvJournalRecover(QvJournal *, QvSession *, int32_t *) { return not_yet(); }
QV_API QvJournalResolve(QvJournal *, int64_t, int32_t, const char *) { return not_yet(); }

}  // extern "C"
