#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ready_signal.h"

namespace qv::platform {

// A pipe that holds exactly one byte while the signal is set: readable
// then, and only then.
ReadySignal::ReadySignal() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  handle_ = ends[0];
  other_ = ends[1];
}

ReadySignal::~ReadySignal() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  if (other_ != -1) ::close(static_cast<int>(other_));
}

void ReadySignal::set() {
  if (set_ || !ok()) return;
  const char byte = 1;
  ssize_t n = 0;
  do {
    n = ::write(static_cast<int>(other_), &byte, 1);
  } while (n < 0 && errno == EINTR);
  set_ = n == 1;
}

void ReadySignal::clear() {
  if (!set_) return;
  char byte = 0;
  ssize_t n = 0;
  do {
    n = ::read(static_cast<int>(handle_), &byte, 1);
  } while (n < 0 && errno == EINTR);
  set_ = false;
}

bool post_window_message(void *, uint32_t) { return false; }

bool can_post_window_messages() { return false; }

}  // namespace qv::platform
