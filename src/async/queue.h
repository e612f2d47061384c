// A host's queue of completed operations.  Library threads push what they
// finish; the host takes them on its own thread (next), waiting on the
// queue or on its ready signal with its own means.  The signal is set
// exactly while the queue holds a completion (level-triggered), and a
// window, when the host names one, gets its message each time the queue
// goes from empty to not empty.  Nothing here calls the host.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/ready_signal.h"

namespace qv::async {

// What a queue holds: an operation that has completed.
struct Completion {
  virtual ~Completion() = default;
};

class Queue {
 public:
  Queue() = default;
  Queue(const Queue &) = delete;
  Queue &operator=(const Queue &) = delete;

  // False when the system gave no signal to wait on.
  bool ok() const { return signal_.ok(); }
  int64_t wait_handle() const { return signal_.handle(); }

  // Adds a completion; false (and nothing kept) once the queue is closed.
  bool push(std::shared_ptr<Completion> done);
  // The oldest completion, waiting up to timeout_ms for one (0: not at
  // all, below 0: without limit); null when none came or the queue closed.
  std::shared_ptr<Completion> next(int timeout_ms);
  // Every later push and next fails; returns the completions not taken.
  std::deque<std::shared_ptr<Completion>> close();
  // The window and message to post on each change from empty to not
  // empty; a null window stops it.
  void notify_window(void *hwnd, uint32_t message);
  size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::shared_ptr<Completion>> done_;
  platform::ReadySignal signal_;
  void *window_ = nullptr;
  uint32_t message_ = 0;
  bool closed_ = false;
};

}  // namespace qv::async
