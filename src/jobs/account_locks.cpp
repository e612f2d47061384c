#include "jobs/account_locks.h"

#include <algorithm>
#include <chrono>

namespace qv::jobs {

AccountLocks::Taken AccountLocks::take(const std::string &account, int32_t wait_ms,
                                       const Ended &ended) {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  while (held_.count(account) != 0) {
    if (ended()) return Taken::Cancelled;
    if (wait_ms <= 0) return Taken::Busy;
    const auto now = Clock::now();
    if (now >= deadline) return Taken::TimedOut;
    changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(kLookMs)));
  }
  if (ended()) return Taken::Cancelled;
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
