#include "jobs/account_locks.h"

#include <chrono>

namespace qv::jobs {

AccountLocks::Taken AccountLocks::take(const std::string &account, int32_t wait_ms,
                                       const std::atomic<bool> &cancelled) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (held_.count(account) != 0) {
    if (cancelled.load()) return Taken::Cancelled;
    if (wait_ms <= 0) return Taken::Busy;
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && held_.count(account) != 0)
      return cancelled.load() ? Taken::Cancelled : Taken::TimedOut;
  }
  if (cancelled.load()) return Taken::Cancelled;
  held_.insert(account);
  return Taken::Yes;
}

void AccountLocks::give_back(const std::string &account) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    held_.erase(account);
  }
  changed_.notify_all();
}

void AccountLocks::wake() {
  { const std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

AccountLocks &account_locks() {
  // Never destroyed: a job may still be sent while the process ends.
  static auto *locks = new AccountLocks;  // NOLINT(cppcoreguidelines-owning-memory)
  return *locks;
}

}  // namespace qv::jobs
