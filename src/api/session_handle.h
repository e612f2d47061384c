// What a QvSession handle is: a session the host holds by its address, and
// the count of the calls in progress on it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "connection/session.h"
#include "quorvex.h"

struct QvSession {
  qv::connection::Session session;

  // Calls in progress, waiting for the session's call lock or holding it.
  // A destroy frees the session only when none is left, so that a call
  // that was waiting behind the one the destroy interrupted never wakes on
  // freed memory.
  std::atomic<int> users{0};
  std::atomic<bool> closing{false};
  std::mutex users_mutex;
  std::condition_variable users_gone;

  // The count falls under the mutex that the destroy waits with, so that
  // the destroy cannot see the last call gone, and free the handle, while
  // that call still reads it.  The mutex is the session's own: calls on
  // different sessions never meet on it.
  void leave() {
    std::lock_guard<std::mutex> lock(users_mutex);
    if (users.fetch_sub(1) == 1 && closing.load()) users_gone.notify_all();
  }
  void wait_until_unused() {
    closing.store(true);
    std::unique_lock<std::mutex> lock(users_mutex);
    users_gone.wait(lock, [this] { return users.load() == 0; });
  }
};

namespace qv::api {

// One call on a host's session, counted from before it waits for the call
// lock until it has returned.
class SessionUse {
 public:
  explicit SessionUse(QvSession &handle) : handle_(handle) { handle_.users.fetch_add(1); }
  ~SessionUse() { handle_.leave(); }
  SessionUse(const SessionUse &) = delete;
  SessionUse &operator=(const SessionUse &) = delete;
  connection::Session &session() { return handle_.session; }

 private:
  QvSession &handle_;
};

}  // namespace qv::api
