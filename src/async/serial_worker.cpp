#include "async/serial_worker.h"

#include <utility>

namespace qv::async {

SerialWorker::~SerialWorker() { stop(); }

SerialWorker::Posted SerialWorker::post(Task task) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) return Posted::Stopping;
  tasks_.push_back(std::move(task));
  if (running_) {
    arrived_.notify_one();
    return Posted::Yes;
  }
  running_ = true;
  // The thread that ran the last batch has left run() (running_ was
  // false): join it before starting the next.  Posts wait here meanwhile,
  // which is only the moment a finished thread takes to go.
  thread_.join();
  if (thread_.start([this] { run(); })) return Posted::Yes;
  tasks_.pop_back();
  running_ = false;
  idle_.notify_all();
  return Posted::NoThread;
}

void SerialWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!tasks_.empty() && !stopping_) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      executing_ = true;
      lock.unlock();
      task();
      task = nullptr;  // what it holds goes before the worker looks idle
      lock.lock();
      executing_ = false;
    }
    idle_.notify_all();
    if (stopping_ ||
        !arrived_.wait_for(lock, linger_, [&] { return !tasks_.empty() || stopping_; }) ||
        stopping_)
      break;
  }
  running_ = false;
  idle_.notify_all();
}

void SerialWorker::stop(const std::function<void(Task &)> &dropped) {
  std::deque<Task> left;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    left.swap(tasks_);
    arrived_.notify_all();
    idle_.wait(lock, [&] { return !running_; });
    thread_.join();
  }
  if (dropped)
    for (Task &task : left) dropped(task);
}

void SerialWorker::wait_idle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [&] { return !executing_ && tasks_.empty(); });
}

bool SerialWorker::busy() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return executing_ || !tasks_.empty();
}

}  // namespace qv::async
