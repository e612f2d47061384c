#include "common/thread_identity.h"

#include "platform/thread_end.h"

namespace qv {
namespace {

struct ThreadRecord {
  ThreadIdentity identity;
  std::shared_ptr<std::atomic<bool>> alive;
};

std::atomic<uint64_t> g_next_token{1};

// A thread whose record the system's slot could not take keeps it here
// (a plain pointer: nothing runs at the thread's end) for the life of the
// process; its token is still never another thread's.
thread_local ThreadRecord *t_unslotted = nullptr;

void thread_ended(void *value) {
  auto *record = static_cast<ThreadRecord *>(value);
  record->alive->store(false, std::memory_order_release);
  delete record;  // NOLINT(cppcoreguidelines-owning-memory): handed over by the slot
}

// The system's slot frees a thread's record when the thread ends (and, on
// Windows, the records of the threads still running when the library
// unloads, before its code goes).
platform::ThreadEndSlot &records() {
  static platform::ThreadEndSlot slot(&thread_ended);
  return slot;
}

}  // namespace

const ThreadIdentity &this_thread_identity() {
  platform::ThreadEndSlot &slot = records();
  if (auto *known = static_cast<ThreadRecord *>(slot.get())) return known->identity;
  if (t_unslotted) return t_unslotted->identity;
  auto *record = new ThreadRecord;  // NOLINT(cppcoreguidelines-owning-memory): owned by the slot
  record->alive = std::make_shared<std::atomic<bool>>(true);
  record->identity = {g_next_token.fetch_add(1, std::memory_order_relaxed), record->alive};
  if (!slot.set(record)) t_unslotted = record;
  return record->identity;
}

}  // namespace qv
