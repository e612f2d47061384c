#include <windows.h>

#include <utility>

#include "platform/thread.h"

namespace qv::platform {

struct Thread::Handle {
  HANDLE thread = nullptr;
  HMODULE module = nullptr;  // the module of this code, held while the thread runs
  std::function<void()> body;
};

namespace {

// The thread holds a reference to the module its code is in and lets go
// of it only as it exits, so that a host that unloads the DLL while a
// thread of the library still lingers unloads it only after that thread
// has left its code.
DWORD WINAPI run_body(void *handle) {
  auto *h = static_cast<Thread::Handle *>(handle);
  HMODULE module = h->module;
  h->body();
  if (module) ::FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

Thread::~Thread() { join(); }

bool Thread::start(std::function<void()> body) {
  auto *handle = new Handle;  // NOLINT(cppcoreguidelines-owning-memory)
  handle->body = std::move(body);
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&run_body), &handle->module))
    handle->module = nullptr;
  handle->thread = ::CreateThread(nullptr, 0, run_body, handle, 0, nullptr);
  if (!handle->thread) {
    if (handle->module) ::FreeLibrary(handle->module);
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
