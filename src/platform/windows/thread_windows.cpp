#include <windows.h>

#include <utility>

#include "platform/thread.h"

namespace qv::platform {

struct Thread::Handle {
  HANDLE thread = nullptr;
  std::function<void()> body;
};

namespace {

DWORD WINAPI run_body(void *handle) {
  static_cast<Thread::Handle *>(handle)->body();
  return 0;
}

}  // namespace

Thread::~Thread() { join(); }

bool Thread::start(std::function<void()> body) {
  auto *handle = new Handle;  // NOLINT(cppcoreguidelines-owning-memory)
  handle->body = std::move(body);
  handle->thread = ::CreateThread(nullptr, 0, run_body, handle, 0, nullptr);
  if (!handle->thread) {
    delete handle;  // NOLINT(cppcoreguidelines-owning-memory)
    return false;
  }
  handle_ = handle;
  return true;
}

void Thread::join() {
  if (!handle_) return;
  ::WaitForSingleObject(handle_->thread, INFINITE);
  ::CloseHandle(handle_->thread);
  delete handle_;  // NOLINT(cppcoreguidelines-owning-memory)
  handle_ = nullptr;
}

}  // namespace qv::platform
