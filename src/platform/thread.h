// A thread of the library's own.  Unlike std::thread it never ends the
// process: destroying one that still runs waits for it, and a thread the
// system cannot make is a false start, not an exception.
#pragma once

#include <functional>

namespace qv::platform {

class Thread {
 public:
  Thread() = default;
  Thread(const Thread &) = delete;
  Thread &operator=(const Thread &) = delete;
  ~Thread();  // join()

  // Runs body on a new thread; false when the system made none (body is
  // then not run).  Only on a thread not started or joined.
  bool start(std::function<void()> body);
  // Waits for the thread to end; nothing when none was started.
  void join();
  bool started() const { return handle_ != nullptr; }

  struct Handle;  // the system's thread and its body

 private:
  Handle *handle_ = nullptr;  // owned; a raw pointer keeps Handle out of sight
};

}  // namespace qv::platform
