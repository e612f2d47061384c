// What names a thread for what it keeps between two calls: a token that no
// other thread of the process ever has (a std::thread::id is handed again
// to the next thread once one is joined), and a flag that drops when the
// thread ends, so that what a dead thread kept can be let go.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace qv {

struct ThreadIdentity {
  uint64_t token = 0;
  std::shared_ptr<const std::atomic<bool>> alive;

  bool ended() const { return !alive || !alive->load(std::memory_order_acquire); }
};

// The calling thread's identity, made at its first use and ended with it.
const ThreadIdentity &this_thread_identity();

}  // namespace qv
