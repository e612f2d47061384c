// A level-triggered signal that a host can wait on with its own means: on
// POSIX a descriptor that poll() reports readable exactly while the signal
// is set, on Windows the HANDLE of a manual-reset event.  set() and clear()
// are called under the owner's lock; the host only waits on handle().
#pragma once

#include <cstdint>

namespace qv::platform {

class ReadySignal {
 public:
  ReadySignal();
  ~ReadySignal();
  ReadySignal(const ReadySignal &) = delete;
  ReadySignal &operator=(const ReadySignal &) = delete;

  // False when the system gave no descriptor or event.
  bool ok() const { return handle_ != -1; }
  void set();
  void clear();
  // The descriptor or HANDLE, as the host receives it; -1 when not ok().
  int64_t handle() const { return handle_; }

 private:
  int64_t handle_ = -1;
  int64_t other_ = -1;  // POSIX: the pipe's write end
  bool set_ = false;
};

// Posts message to the window hwnd (Windows); false elsewhere or when the
// window is gone.
bool post_window_message(void *hwnd, uint32_t message);
// Whether this system has windows that take posted messages.
bool can_post_window_messages();

}  // namespace qv::platform
