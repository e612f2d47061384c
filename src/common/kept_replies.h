// Replies read whole by the first call of a two-call operation and kept
// for the second: the second call hands over a reply without touching the
// connection, so that two host threads doing pairs at once never read each
// other's replies, and a first call without its second leaves the stream
// in step.
//
// Each session keeps its own replies.  A reply belongs to the thread whose
// call read it (named by a token that no other thread ever has) and to the connection it was read
// on.  The second call takes its own thread's reply for the operation, once; a thread without one
// gets nothing, never another thread's, and a reply whose connection has gone (closed, renewed,
// released) or whose thread has ended counts as none and goes at the session's next keep or take.
// A new first call replaces its thread's earlier reply for the operation; past kLimit replies the
// oldest goes. Not locked: every use runs under its session's call lock.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "common/thread_identity.h"

namespace qv {

template <class Reply>
class KeptReplies {
 public:
  static constexpr size_t kLimit = 8;

  // What a second call found.
  enum class Found { Taken, None, Mismatch };

  // Keeps the calling thread's reply for the operation, read on the
  // connection whose generation is given.
  void keep(int32_t operation, uint64_t connection, Reply reply) {
    // Room for them all from the start: keeping and taking never allocate.
    if (entries_.capacity() < kLimit) entries_.reserve(kLimit);
    const ThreadIdentity &self = this_thread_identity();
    drop(operation);
    forget_other_connections(connection);
    if (entries_.size() == kLimit) entries_.erase(entries_.begin());
    entries_.push_back({self.token, self.alive, operation, connection, std::move(reply)});
  }

  // Forgets the calling thread's reply for the operation: a first call
  // that failed or was refused leaves nothing of an earlier one for its
  // second call.
  void drop(int32_t operation) {
    const uint64_t self = this_thread_identity().token;
    erase_if([&](const Entry &e) { return e.thread == self && e.operation == operation; });
  }

  void clear() { entries_.clear(); }

  // The calling thread's reply for the operation on the given connection,
  // removed when fits(reply) holds.  A reply that does not fit stays for a
  // corrected call (Mismatch); a reply of another connection is dropped.
  template <class Fits>
  Found take(int32_t operation, uint64_t connection, Fits &&fits, std::optional<Reply> &out) {
    forget_other_connections(connection);
    const uint64_t self = this_thread_identity().token;
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry &e) {
      return e.thread == self && e.operation == operation;
    });
    if (it == entries_.end()) return Found::None;
    if (!fits(it->reply)) return Found::Mismatch;
    out.emplace(std::move(it->reply));
    entries_.erase(it);
    return Found::Taken;
  }

  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    uint64_t thread;
    std::shared_ptr<const std::atomic<bool>> alive;
    int32_t operation;
    uint64_t connection;
    Reply reply;
  };

  template <class Pred>
  void erase_if(Pred &&pred) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), pred), entries_.end());
  }
  // Also forgets the replies of threads that have ended: nobody can take them.
  void forget_other_connections(uint64_t connection) {
    erase_if([&](const Entry &e) {
      return e.connection != connection || !e.alive->load(std::memory_order_acquire);
    });
  }

  std::vector<Entry> entries_;  // the oldest first
};

}  // namespace qv
