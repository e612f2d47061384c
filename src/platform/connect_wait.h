// The wait for a non-blocking connect, shared by both socket backends: in
// short slices, so that a cancel from another thread ends it soon, and
// without a time-out as long as the system's own connect takes.
#pragma once

#include "platform/platform.h"

namespace qv::platform {

// wait_slice(ms) waits at most ms for the connect to end: above 0 when it
// has (outcome() then gives 0 or its socket error), 0 when it has not yet,
// below 0 on an error of the wait (last_error() gives it).  Returns 0, a
// socket error, kWaitTimedOut or kInterrupted.
template <class WaitSlice, class Outcome, class LastError>
int wait_for_connect(int timeout_ms, const CancelCount *cancel, WaitSlice &&wait_slice,
                     Outcome &&outcome, LastError &&last_error) {
  constexpr int64_t kSliceMs = 25;
  const Deadline deadline = Deadline::after(timeout_ms);
  for (;;) {
    if (cancel && cancel->load() > 0) return kInterrupted;
    const int64_t left = deadline.none() ? kSliceMs : deadline.left_ms();
    if (left <= 0) return kWaitTimedOut;
    const int ready = wait_slice(static_cast<int>(left < kSliceMs ? left : kSliceMs));
    if (ready > 0) return outcome();
    if (ready < 0) return last_error();
  }
}

}  // namespace qv::platform
