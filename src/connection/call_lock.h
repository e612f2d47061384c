// A session's call lock: every call that uses the session runs alone on
// it, so that two threads never interleave their requests on its stream.
// The thread that holds it may take it again (an operation holds it across
// the two calls of a pair), and a thread waiting for it can be told to
// give up (a cancel of an operation that has not reached the wire).
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv::connection {

class CallLock {
 public:
  void lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    const std::thread::id me = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == me) {
      ++depth_;
      return;
    }
    freed_.wait(guard, [&] { return depth_ == 0; });
    owner_ = me;
    depth_ = 1;
  }

  // Takes the lock unless given_up() turns true first; false then.
  // given_up is read under the lock's own mutex, so a wake() after the
  // condition changed is never missed.
  template <class GivenUp>
  bool lock_unless(GivenUp &&given_up) {
    std::unique_lock<std::mutex> guard(mutex_);
    const std::thread::id me = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == me) {
      ++depth_;
      return true;
    }
    freed_.wait(guard, [&] { return depth_ == 0 || given_up(); });
    if (depth_ != 0) return false;
    owner_ = me;
    depth_ = 1;
    return true;
  }

  void unlock() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (--depth_ == 0) {
      owner_ = std::thread::id();
      freed_.notify_all();
    }
  }

  // Wakes the threads in lock_unless to read their condition again; the
  // caller changes it first.
  void wake() {
    std::lock_guard<std::mutex> guard(mutex_);
    freed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  std::thread::id owner_;
  int depth_ = 0;
};

}  // namespace qv::connection
