#include "async/queue.h"

#include <chrono>
#include <utility>

namespace qv::async {

bool Queue::push(std::shared_ptr<Completion> done) {
  void *window = nullptr;
  uint32_t message = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    const bool was_empty = done_.empty();
    done_.push_back(std::move(done));
    if (was_empty) {
      signal_.set();
      window = window_;
      message = message_;
    }
  }
  arrived_.notify_one();
  // Outside the lock: posting reaches another process's window manager.
  if (window) platform::post_window_message(window, message);
  return true;
}

std::shared_ptr<Completion> Queue::next(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto ready = [&] { return closed_ || !done_.empty(); };
  if (timeout_ms < 0)
    arrived_.wait(lock, ready);
  else if (timeout_ms > 0)
    arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
  if (closed_ || done_.empty()) return nullptr;
  std::shared_ptr<Completion> taken = std::move(done_.front());
  done_.pop_front();
  if (done_.empty()) signal_.clear();
  return taken;
}

std::deque<std::shared_ptr<Completion>> Queue::close() {
  std::deque<std::shared_ptr<Completion>> gone;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    gone.swap(done_);
    signal_.clear();
    window_ = nullptr;
  }
  arrived_.notify_all();
  return gone;
}

void Queue::notify_window(void *hwnd, uint32_t message) {
  const std::lock_guard<std::mutex> lock(mutex_);
  window_ = hwnd;
  message_ = message;
}

size_t Queue::size() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return done_.size();
}

}  // namespace qv::async
