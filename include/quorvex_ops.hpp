/* Quorvex: operations and queues in the C++ interface.  Included by
 * quorvex.hpp; include that instead.
 *
 *   quorvex::Queue queue;                        // owns a QvQueue
 *   auto rules = session.start_NumRule(queue);   // never blocks
 *   while (!rules.completed()) queue.next(std::chrono::milliseconds(100));
 *   auto r = rules.result();                     // what NumRule() returns
 *
 * Starting.  Every method of a session that has a starter in quorvex.h
 * (NumRule, GetUdInfo, fxNumRule, ...) has a start_ twin on the session,
 * start_NumRule(queue, inputs...), taking the same inputs in the same
 * order; start_login mirrors login, and quorvex::start_send_job mirrors
 * send_job.  It returns a quorvex::TypedOp<R>, where R is what the method
 * of the same name returns: once the operation has completed, result()
 * is that R, built from the operation's outputs as the method builds it
 * (texts converted the same way on a UTF-8 session).  A text the method
 * would refuse before any call, or a start the library refuses at once (a
 * session or queue that is not live), gives an op that is completed from
 * the start, carries the refusal as its result, and never comes through
 * the queue.
 *
 * Completing.  An operation completes on its queue; Queue::next(timeout)
 * takes the next completion, and Queue::drain(callback) takes every one
 * waiting now and hands each to the callback, on the calling thread, for a
 * host whose own loop waits on wait_handle() (readable, or set on Windows,
 * exactly while a completion waits).  Taking a completion marks the op the
 * host holds completed: next() hands back another Op for the same
 * operation (op == started is true), whose tag() is the one set_tag gave.
 * Nothing of the host's runs on a library thread.
 *
 * Owning.  Op and TypedOp are move-only handles to one operation; the last
 * one to go frees it (QvOpFree).  An op destroyed before its completion was
 * taken cancels the operation (QvOpCancel, with its honest outcome), and
 * its completion is freed, unseen, when the queue reaches it or is
 * destroyed: nothing leaks and nothing is read after it is freed.  A Queue
 * destroyed first cancels what has not completed (QvQueueDestroy); the ops
 * still held then stay valid and report what they had.
 *
 * Threads.  Ops may be started on one thread and taken on another; an op
 * itself is not for two threads at once.  close() may be called from any
 * thread to end a next() that waits without limit on another (a
 * dispatcher thread's way to stop); destroy the Queue only once no thread
 * uses it.  The queue takes only the operations started through this
 * interface with their own tags: a completion started through the C
 * functions comes out as an Op that reads as nothing, its tag the C tag.
 */
#ifndef QUORVEX_OPS_HPP
#define QUORVEX_OPS_HPP

#ifndef QUORVEX_HPP
#error "include quorvex.hpp, which includes this file"
#endif

#include <atomic>
#include <chrono>
#include <optional>
#include <unordered_set>

namespace quorvex {

class Queue;

namespace detail {

// One address for each result type, without RTTI.
template <class R>
struct ResultKind {
  static constexpr char key = 0;
};

// What the handles of one operation share; the library's tag points to
// it.  Held by each Op and, until its completion is taken or its queue
// goes, by the queue's book of pending operations.
struct OpShared {
  std::atomic<QvOp *> op{nullptr};  // null: refused at start, see ready
  std::atomic<int> holders{1};
  std::atomic<bool> completed{false};  // taken from the queue, or refused
  std::atomic<void *> tag{nullptr};    // the host's
  bool utf8 = false;
  bool ours = true;  // started through this interface
  // The result type it reads as (ResultKind<R>::key), and its reader
  // R (*)(const OpShared *).
  const void *type = nullptr;
  void (*read)() = nullptr;
  std::shared_ptr<const void> ready;  // an R, refused at start
  std::shared_ptr<void> keep;  // what the operation uses until it ends (a job)
};

// One holder less; the last frees the operation once it was taken (before
// that the library owns it, and frees it with its queue).
inline void unhold(OpShared *s) noexcept {
  if (s->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  QvOp *const op = s->op.load();
  if (op && s->completed.load()) QvOpFree(op);
  delete s;
}

// The queue and its operations not yet taken.
// A lock for a few instructions (a set's insert or erase), made of an
// atomic flag alone, so that hosts built with a compiler whose standard
// library has no std::mutex (mingw-w64's win32 thread model) can use it.
class SpinLock {
 public:
  void lock() noexcept {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  void unlock() noexcept { flag_.clear(std::memory_order_release); }

  // Holds it for a scope.
  class Held {
   public:
    explicit Held(SpinLock &lock) noexcept : lock_(lock) { lock_.lock(); }
    ~Held() { lock_.unlock(); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;

   private:
    SpinLock &lock_;
  };

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class QueueBook {
 public:
  QueueBook() : queue_(QvQueueCreate()) {
    if (!queue_.load()) throw std::bad_alloc();
  }
  ~QueueBook() {
    close();
    // The library freed every completion not taken: only the holds go.
    for (OpShared *s : pending_) unhold(s);
  }
  QueueBook(const QueueBook &) = delete;
  QueueBook &operator=(const QueueBook &) = delete;

  QvQueue *queue() const noexcept { return queue_.load(); }
  void close() noexcept {
    if (QvQueue *q = queue_.exchange(nullptr)) QvQueueDestroy(q);
  }

  void add(OpShared *s) {
    const SpinLock::Held lock(mutex_);
    pending_.insert(s);
  }
  void remove(OpShared *s) noexcept {
    const SpinLock::Held lock(mutex_);
    pending_.erase(s);
  }
  // The shared state of a completion QvQueueNext handed over, its hold
  // passed to the caller; null for one whose every op has gone (it is
  // freed here) or, when no memory is left, one not ours (left unfreed).
  OpShared *take(QvOp *op) noexcept {
    auto *s = static_cast<OpShared *>(QvOpTag(op));
    bool ours;
    {
      const SpinLock::Held lock(mutex_);
      ours = pending_.erase(s) == 1;
    }
    if (!ours) {
      // Started through the C functions: an op that only frees it.
      s = new (std::nothrow) OpShared;
      if (!s) return nullptr;
      s->ours = false;
      s->tag.store(QvOpTag(op));
    }
    s->op.store(op);
    s->completed.store(true);
    if (s->holders.load(std::memory_order_acquire) == 1 && s->ours) {
      unhold(s);  // nobody holds it: cancelled when its op went
      return nullptr;
    }
    return s;
  }

 private:
  std::atomic<QvQueue *> queue_;
  SpinLock mutex_;
  std::unordered_set<OpShared *> pending_;
};

struct OpAccess;

// The refusal of reading an op that has not completed.
template <class R>
bool op_readable(R &r, const OpShared *s) {
  if (s && s->completed.load() && s->op.load()) return true;
  r.outcome = Outcome{QV_OUTCOME_REFUSED, false, 1, 0,
                      "Argument 1 is not a completed operation."};
  return false;
}

// A text output of a completed operation, as the method's buffer holds it.
inline void op_text(QvOp *op, int32_t index, std::string &text) {
  const int32_t length = QvOpText(op, index, nullptr, 0);
  text.assign(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0)
    QvOpText(op, index, text.data(), static_cast<int32_t>(text.size()));
  cut_at_zero(text);
}

// Its result, code and outcome into r, as the method's call leaves them.
template <class R>
void op_result(R &r, QvOp *op, bool coded) {
  r.ok = QvOpResult(op) == 1;
  r.code = coded ? QvOpCode(op) : -1;
  char detail[QV_DETAIL_BUFFER_SIZE] = "";
  int32_t sent = 0;
  QvOpOutcome(op, &r.outcome.kind, &sent, &r.outcome.argument,
              &r.outcome.socket_error, detail,
              static_cast<int32_t>(sizeof detail));
  r.outcome.sent = sent != 0;
  r.outcome.detail = detail;
}

// Whether a pair's second half ran: it has a text output, the first none.
inline bool second_half_ran(QvOp *op) {
  return QvOpText(op, 0, nullptr, 0) >= 0;
}

}  // namespace detail

// An operation the host started: move-only, see above.  An Op that holds
// none (default-made, moved from, or an empty next()) is false.
class Op {
 public:
  Op() noexcept = default;
  ~Op() { reset(); }
  Op(const Op &) = delete;
  Op &operator=(const Op &) = delete;
  Op(Op &&other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  Op &operator=(Op &&other) noexcept {
    if (this != &other) {
      reset();
      s_ = std::exchange(other.s_, nullptr);
    }
    return *this;
  }

  explicit operator bool() const noexcept { return s_ != nullptr; }

  // Its completion was taken from the queue (or it was refused at start):
  // its result is ready.
  bool completed() const noexcept { return s_ && s_->completed.load(); }

  // Cancels it (QvOpCancel, see quorvex.h); false when it has completed,
  // was refused at start, or the op holds none.
  bool cancel() noexcept {
    QvOp *const op = s_ ? s_->op.load() : nullptr;
    return op && !s_->completed.load() && QvOpCancel(op) == 1;
  }

  // The host's tag: any pointer, kept here for the host to find it by.
  void *tag() const noexcept { return s_ ? s_->tag.load() : nullptr; }
  void set_tag(void *tag) noexcept {
    if (s_) s_->tag.store(tag);
  }

  // A send job's progress so far (QvOpProgress): the request code of the
  // call in progress or last made, and its attempt; false for no job.
  bool progress(int32_t &step, int32_t &attempt) const noexcept {
    QvOp *const op = s_ ? s_->op.load() : nullptr;
    return op && QvOpProgress(op, &step, &attempt) == 1;
  }

  // The library's handle; null when refused at start or holding none.
  QvOp *handle() const noexcept { return s_ ? s_->op.load() : nullptr; }

  // Its result as R, for an op taken from the queue: nullopt unless it was
  // started as a TypedOp<R>.
  template <class R>
  std::optional<R> result_as() const {
    if (!s_ || s_->type != &detail::ResultKind<R>::key) return std::nullopt;
    if (s_->ready) return *static_cast<const R *>(s_->ready.get());
    return reinterpret_cast<R (*)(const detail::OpShared *)>(s_->read)(s_);
  }

  // The same operation.
  friend bool operator==(const Op &a, const Op &b) noexcept {
    return a.s_ == b.s_;
  }
  friend bool operator!=(const Op &a, const Op &b) noexcept {
    return a.s_ != b.s_;
  }

 protected:
  friend struct detail::OpAccess;
  friend class Queue;
  explicit Op(detail::OpShared *s) noexcept : s_(s) {}

  void reset() noexcept {
    detail::OpShared *const s = std::exchange(s_, nullptr);
    if (!s) return;
    // Nobody will take it: cancel it, and its completion is freed unseen.
    if (QvOp *op = s->op.load(); op && !s->completed.load()) QvOpCancel(op);
    detail::unhold(s);
  }

  detail::OpShared *s_ = nullptr;
};

// An operation whose result() is what the method of the same name returns.
template <class R>
class [[nodiscard]] TypedOp : public Op {
 public:
  using result_type = R;
  using Reader = R (*)(const detail::OpShared *);

  // Once completed(), the method's result; before, or for an op that
  // holds none, a refusal (ok false, QV_OUTCOME_REFUSED, Argument 1).
  R result() const {
    if (s_ && s_->ready) return *static_cast<const R *>(s_->ready.get());
    return read_(s_);
  }

 private:
  friend struct detail::OpAccess;
  TypedOp(detail::OpShared *s, Reader read) noexcept : Op(s), read_(read) {}

  Reader read_;
};

// A queue of completed operations (QvQueueCreate); destroyed with the
// object (QvQueueDestroy).  Move-only; one moved from holds none, and a
// start on it is refused at once.
class Queue {
 public:
  // Throws std::bad_alloc when the library can make no queue.
  Queue() : book_(std::make_unique<detail::QueueBook>()) {}
  Queue(Queue &&) noexcept = default;
  Queue &operator=(Queue &&) noexcept = default;

  // The next completed operation, waiting up to timeout for one (a
  // negative one: without limit); an empty Op when none completed in time
  // or the queue was closed.  The op is the same operation the start gave
  // (==), and marks that one completed.
  Op next(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const bool forever = timeout.count() < 0;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      QvQueue *const q = handle();
      if (!q) return Op();
      int32_t wait = -1;
      if (!forever) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now());
        wait = left.count() <= 0          ? 0
               : left.count() > INT32_MAX ? INT32_MAX
                                          : static_cast<int32_t>(left.count());
      }
      QvOp *const op = QvQueueNext(q, wait);
      if (!op) return Op();
      if (detail::OpShared *s = book_->take(op)) return adopt(s);
    }
  }
  // Without limit.
  Op next() { return next(std::chrono::milliseconds(-1)); }

  // Takes every completion waiting now and calls callback(Op) with each, on
  // this thread; returns how many.  An exception from the callback ends the
  // drain, its op released as any other, and reaches the caller.
  template <class Callback>
  size_t drain(Callback &&callback) {
    size_t count = 0;
    while (Op op = next(std::chrono::milliseconds(0))) {
      callback(std::move(op));
      ++count;
    }
    return count;
  }

  // The wait handle (QvQueueWaitHandle): a descriptor, or on Windows an
  // event's HANDLE, signalled exactly while a completion waits; -1 when the
  // queue is closed.
  int64_t wait_handle() const noexcept {
    QvQueue *const q = handle();
    return q ? QvQueueWaitHandle(q) : -1;
  }

  // Windows: posts message to hwnd each time a completion arrives at an
  // empty queue (QvQueueNotifyWindow); false elsewhere.
  bool notify_window(void *hwnd, uint32_t message) noexcept {
    return QvQueueNotifyWindow(handle(), hwnd, message) == 1;
  }

  // Destroys the queue now (QvQueueDestroy): what has not completed is
  // cancelled, a next() waiting on another thread returns empty, and every
  // later start is refused.  Ops held stay valid.
  void close() noexcept {
    if (book_) book_->close();
  }

  QvQueue *handle() const noexcept { return book_ ? book_->queue() : nullptr; }

 private:
  friend struct detail::OpAccess;
  static Op adopt(detail::OpShared *s) noexcept { return Op(s); }

  std::unique_ptr<detail::QueueBook> book_;
};

namespace detail {

struct OpAccess {
  static QueueBook *book(Queue &q) noexcept { return q.book_.get(); }
  template <class R>
  static TypedOp<R> make(OpShared *s, R (*read)(const OpShared *)) noexcept {
    return TypedOp<R>(s, read);
  }
};

// An op completed from the start with r as its result.
template <class R>
TypedOp<R> refused_op(R r, R (*read)(const OpShared *)) {
  auto *s = new OpShared;
  TypedOp<R> op = OpAccess::make<R>(s, read);
  s->type = &ResultKind<R>::key;
  s->read = reinterpret_cast<void (*)()>(read);
  s->ready = std::make_shared<const R>(std::move(r));
  s->completed.store(true);
  return op;
}

// Starts an operation with start(tag) (a QvStart function's call) on
// queue; at_once is the result, its outcome the calling thread's, when the
// library refuses it at once.
template <class R, class Start>
TypedOp<R> start_op(Queue &queue, bool utf8, R (*read)(const OpShared *),
                    R at_once, Start &&start, std::shared_ptr<void> keep = {}) {
  auto *s = new OpShared;
  TypedOp<R> op = OpAccess::make<R>(s, read);
  s->utf8 = utf8;
  s->type = &ResultKind<R>::key;
  s->read = reinterpret_cast<void (*)()>(read);
  s->keep = std::move(keep);
  // In the book before it starts: it may complete, and be taken on another
  // thread, before the start returns.
  QueueBook *const book = OpAccess::book(queue);
  if (book) {
    book->add(s);
    s->holders.store(2);
  }
  if (QvOp *started = start(static_cast<void *>(s))) {
    s->op.store(started);
    return op;
  }
  if (book) {
    book->remove(s);
    s->holders.store(1);
  }
  take_outcome(at_once);
  s->ready = std::make_shared<const R>(std::move(at_once));
  s->completed.store(true);
  return op;
}

}  // namespace detail
}  // namespace quorvex

#endif  // QUORVEX_OPS_HPP
