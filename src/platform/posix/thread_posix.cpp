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

bool Thread::start(std::function<void()> body) {
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
