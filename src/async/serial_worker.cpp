#include "async/serial_worker.h"

#include <utility>

namespace qv::async {

SerialWorker::~SerialWorker() { stop(); }

bool SerialWorker::post(Task task) {
  std::thread finished;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    tasks_.push_back(std::move(task));
    if (running_) return true;
    // The thread that ran the last batch has left run(): join it before
    // starting the next, outside the lock.
    finished = std::move(thread_);
    running_ = true;
  }
  if (finished.joinable()) finished.join();
  const std::lock_guard<std::mutex> lock(mutex_);
  thread_ = std::thread([this] { run(); });
  return true;
}

void SerialWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!tasks_.empty() && !stopping_) {
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
  running_ = false;
  idle_.notify_all();
}

void SerialWorker::stop(const std::function<void(Task &)> &dropped) {
  std::deque<Task> left;
  std::thread thread;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    left.swap(tasks_);
    idle_.wait(lock, [&] { return !running_; });
    thread = std::move(thread_);
  }
  if (thread.joinable()) thread.join();
  if (dropped)
    for (Task &task : left) dropped(task);
}

void SerialWorker::wait_idle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [&] { return !running_ && tasks_.empty(); });
}

bool SerialWorker::busy() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return running_ || !tasks_.empty();
}

}  // namespace qv::async
