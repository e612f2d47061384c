// Runs tasks one at a time, in the order they were given, on a thread of
// its own that exists only while there is work and for a short linger
// after it: a session's operations run in the order started and never
// side by side, a host that starts one after another does not pay for a
// new thread each time, and an idle session costs no thread.  The
// destructor waits for the task that runs and drops the ones that have
// not started.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/thread.h"

namespace qv::async {

class SerialWorker {
 public:
  using Task = std::function<void()>;
  enum class Posted { Yes, Stopping, NoThread };

  // linger: how long the thread waits for another task before it ends.
  explicit SerialWorker(std::chrono::milliseconds linger = std::chrono::milliseconds(0))
      : linger_(linger) {}
  SerialWorker(const SerialWorker &) = delete;
  SerialWorker &operator=(const SerialWorker &) = delete;
  ~SerialWorker();

  // Queues task; anything but Yes leaves it unrun and not kept: the worker
  // is stopping, or the system made no thread to run it.
  Posted post(Task task);
  // Stops taking tasks, drops those not started (each handed to dropped,
  // in order, on the calling thread) and waits for the running one.
  void stop(const std::function<void(Task &)> &dropped = {});
  // Whether a task runs or waits.
  bool busy() const;
  // Returns once no task runs or waits (never from a task).
  void wait_idle();

 private:
  void run();

  const std::chrono::milliseconds linger_;
  mutable std::mutex mutex_;
  std::condition_variable idle_, arrived_;
  std::deque<Task> tasks_;
  platform::Thread thread_;
  bool running_ = false;    // a thread is taking tasks, or lingering for one
  bool executing_ = false;  // a task runs
  bool stopping_ = false;
};

}  // namespace qv::async
