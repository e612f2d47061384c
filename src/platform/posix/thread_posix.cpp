#include <dlfcn.h>
#include <pthread.h>

#include <utility>

#include "platform/thread.h"

namespace qv::platform {

struct Thread::Handle {
  pthread_t thread{};
  std::function<void()> body;
};

namespace {

void *run_body(void *handle) {
  static_cast<Thread::Handle *>(handle)->body();
  return nullptr;
}

}  // namespace

Thread::~Thread() { join(); }

namespace {

// Once the library runs a thread of its own, it stays loaded for the rest
// of the process: a host that closed it while a thread lingers in its code
// would otherwise pull that code from under the thread.
void keep_loaded() {
  static const bool kept = [] {
    Dl_info self{};
    return dladdr(reinterpret_cast<void *>(&keep_loaded), &self) != 0 && self.dli_fname &&
           dlopen(self.dli_fname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) != nullptr;
  }();
  static_cast<void>(kept);
}

}  // namespace

bool Thread::start(std::function<void()> body) {
  keep_loaded();
  auto *handle = new Handle;  // NOLINT(cppcoreguidelines-owning-memory)
  handle->body = std::move(body);
  if (pthread_create(&handle->thread, nullptr, run_body, handle) != 0) {
    delete handle;  // NOLINT(cppcoreguidelines-owning-memory)
    return false;
  }
  handle_ = handle;
  return true;
}

void Thread::join() {
  if (!handle_) return;
  pthread_join(handle_->thread, nullptr);
  delete handle_;  // NOLINT(cppcoreguidelines-owning-memory)
  handle_ = nullptr;
}

}  // namespace qv::platform
