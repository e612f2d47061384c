// Replies read whole by the first call of a two-call operation and kept
// for the second: the second call hands over a reply without touching the
// connection, so that two host threads doing pairs at once never read each
// other's replies, and a first call without its second leaves the stream
// in step.
//
// A reply belongs to the thread whose call read it.  The second call takes
// its own thread's reply for the operation; a thread without one may take
// the oldest that another thread left for it, when it fits (a host that
// hands the second call to another thread).  A new first call replaces its
// thread's earlier reply for the operation; past kLimit replies the oldest
// goes.  Not locked: every use runs under the library's call lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace qv {

template <class Reply>
class KeptReplies {
 public:
  static constexpr size_t kLimit = 8;

  void keep(int32_t operation, Reply reply) {
    // Room for them all from the start: keeping and taking never allocate.
    if (entries_.capacity() < kLimit) entries_.reserve(kLimit);
    drop(operation);
    const std::thread::id self = std::this_thread::get_id();
    if (entries_.size() == kLimit) entries_.erase(entries_.begin());
    entries_.push_back({self, operation, std::move(reply)});
  }

  // Forgets the calling thread's reply for the operation: a first call
  // that failed leaves nothing of an earlier one for its second call.
  void drop(int32_t operation) {
    const std::thread::id self = std::this_thread::get_id();
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry &e) { return e.thread == self && e.operation == operation; }),
                   entries_.end());
  }

  // Removes and returns the reply for the operation: the calling thread's
  // own whatever it holds, else the oldest of another thread's for which
  // fits(reply) holds; nullopt when there is none.
  template <class Fits>
  std::optional<Reply> take(int32_t operation, Fits &&fits) {
    const std::thread::id self = std::this_thread::get_id();
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry &e) { return e.thread == self && e.operation == operation; });
    if (it == entries_.end())
      it = std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry &e) { return e.operation == operation && fits(e.reply); });
    if (it == entries_.end()) return std::nullopt;
    std::optional<Reply> out(std::move(it->reply));
    entries_.erase(it);
    return out;
  }

 private:
  struct Entry {
    std::thread::id thread;
    int32_t operation;
    Reply reply;
  };
  std::vector<Entry> entries_;  // the oldest first
};

}  // namespace qv
