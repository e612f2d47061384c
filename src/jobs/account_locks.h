// One job at a time per account.  The server collects one job per account
// however many connections are logged in to it, so two jobs of one
// account sent at once would mix their fields.  This is the one lock that
// sessions share, held from a job's clear to the end of its submit, and
// nowhere on the path of any other exchange.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace qv::jobs {

class AccountLocks {
 public:
  enum class Taken { Yes, Busy, TimedOut, Cancelled };

  // Takes the account, waiting at most wait_ms for the job that holds it
  // (0: not at all) and giving up once ended() says so: at once after
  // wake(), and otherwise within kLookMs (a destroy or disconnect of the
  // session, which knows nothing of accounts).
  using Ended = std::function<bool()>;
  static constexpr int kLookMs = 50;
  Taken take(const std::string &account, int32_t wait_ms, const Ended &ended);
  void give_back(const std::string &account);
  // A cancel: every waiter looks at its flag again.
  void wake();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::string> held_;
};

AccountLocks &account_locks();

// Holds an account for its scope.
class AccountHold {
 public:
  AccountHold() = default;
  AccountHold(const AccountHold &) = delete;
  AccountHold &operator=(const AccountHold &) = delete;
  ~AccountHold() {
    if (held_) account_locks().give_back(account_);
  }
  AccountLocks::Taken take(std::string account, int32_t wait_ms, const AccountLocks::Ended &ended) {
    account_ = std::move(account);
    const AccountLocks::Taken taken = account_locks().take(account_, wait_ms, ended);
    held_ = taken == AccountLocks::Taken::Yes;
    return taken;
  }

 private:
  std::string account_;
  bool held_ = false;
};

}  // namespace qv::jobs
