// An operation: one export call (or a pair, or a job's send) that a host
// started on a session and collects from its queue once it has completed.
// It keeps copies of its inputs and the storage of its outputs, which the
// host reads after completion.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "async/queue.h"
#include "connection/call_outcome.h"
#include "connection/session.h"
#include "jobs/sender.h"
#include "quorvex.h"

namespace qv::async {

// An input text, copied: null stays null (the exports read it as empty).
class TextIn {
 public:
  explicit TextIn(const char *text) {
    if (text) text_ = text;
  }
  const char *get() const { return text_ ? text_->c_str() : nullptr; }

 private:
  std::optional<std::string> text_;
};

// What a call hands back, in the export's order.
class Outputs {
 public:
  static constexpr size_t kTexts = 4;
  static constexpr size_t kNumbers = 8;

  int32_t code = -1;
  int32_t *code_out() { return &code; }
  // Text output i, a zeroed buffer of size bytes for the call to fill.
  char *text(size_t i, size_t size) {
    texts_[i].assign(size, '\0');
    texts_used_ = std::max(texts_used_, i + 1);
    return texts_[i].data();
  }
  int32_t *number(size_t i) {
    numbers_used_ = std::max(numbers_used_, i + 1);
    return &numbers_[i];
  }
  // The buffer a reply text of length bytes needs (fixed messages take
  // up to 41 bytes).
  static size_t reply_buffer(int32_t length) {
    const int32_t bounded = length < 64 ? 64 : length > QV_FX_REPLY_MAX ? QV_FX_REPLY_MAX : length;
    return static_cast<size_t>(bounded) + 1;
  }
  // Between the two calls of a pair: whether the first one's request went
  // out, which a cancel of the second must not hide.
  bool first_half_done() {
    first_sent = connection::this_thread_outcome().sent;
    return true;
  }
  bool first_sent = false;
  // After the call: each text cut at its terminator.
  void settle() {
    for (size_t i = 0; i < texts_used_; ++i) texts_[i].resize(std::strlen(texts_[i].c_str()));
  }
  const std::string *text_at(size_t i) const { return i < texts_used_ ? &texts_[i] : nullptr; }
  const int32_t *number_at(size_t i) const { return i < numbers_used_ ? &numbers_[i] : nullptr; }

 private:
  std::array<std::string, kTexts> texts_;
  std::array<int32_t, kNumbers> numbers_{};
  size_t texts_used_ = 0;
  size_t numbers_used_ = 0;
};

// A call on the session, its outputs stored in the operation.
using Call = std::function<bool(connection::Session &, Outputs &)>;

enum class State { Queued, Running, Completed, Taken };

struct Operation;
// A run of the library's own on the session (a journal's send): it fills
// the operation's outputs and outcome, and names the job it sends (op.job,
// under op.mutex) so that a cancel reaches it.
using Runner = std::function<bool(connection::Session &, Operation &)>;

struct Operation : Completion {
  uintptr_t handle = 0;   // its own handle's value
  uintptr_t session = 0;  // its session's handle value
  void *tag = nullptr;
  Call call;             // an export call or a pair
  QvJob *job = nullptr;  // or a job's send
  Runner runner;         // or a run of the library's own
  int32_t attempts = 0;
  jobs::NotedProgress progress;

  std::atomic<bool> cancelled{false};
  std::mutex mutex;  // guards what follows
  State state = State::Queued;
  // While its call runs with the session's call lock held: the session
  // whose waits a cancel interrupts, and whether one did.
  connection::Session *on_the_wire = nullptr;
  bool interrupted = false;
  // Kept alive by its handle between QvQueueNext and QvOpFree.
  std::shared_ptr<Operation> held;

  // Written once by the thread that completes it, read after.
  bool result = false;
  Outputs out;
  connection::CallOutcome outcome;
};

}  // namespace qv::async
