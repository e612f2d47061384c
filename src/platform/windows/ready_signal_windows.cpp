#include <windows.h>

#include "platform/ready_signal.h"

namespace qv::platform {

// A manual-reset event: signalled while set, whoever waits on it.
ReadySignal::ReadySignal() {
  const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event) handle_ = static_cast<int64_t>(reinterpret_cast<intptr_t>(event));
}

ReadySignal::~ReadySignal() {
  if (ok()) ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_)));
}

void ReadySignal::set() {
  if (set_ || !ok()) return;
  set_ = ::SetEvent(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_))) != 0;
}

void ReadySignal::clear() {
  if (!set_) return;
  ::ResetEvent(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_)));
  set_ = false;
}

bool post_window_message(void *hwnd, uint32_t message) {
  return hwnd && ::PostMessageW(static_cast<HWND>(hwnd), message, 0, 0) != 0;
}

bool can_post_window_messages() { return true; }

}  // namespace qv::platform
