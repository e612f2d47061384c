// Queues and operations: their handles, the worker of each session that
// has work, and what a host reads from a completed operation.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "api/arguments.h"
#include "api/calls.h"
#include "api/guard.h"
#include "api/handle_table.h"
#include "api/job_sends.h"
#include "api/operations.h"
#include "api/session_handle.h"
#include "async/operation.h"
#include "async/queue.h"
#include "async/serial_worker.h"
#include "platform/ready_signal.h"
#include "connection/call_outcome.h"
#include "connection/socket_errors.h"
#include "quorvex.h"
#include "trace/trace.h"

using namespace qv;
using namespace qv::api;
using async::Operation;
using async::State;

namespace {

// A host's queue, and the operations started on it that have not
// completed, which its destroy cancels.
struct HostQueue {
  async::Queue queue;
  std::mutex mutex;
  std::condition_variable settled;
  std::vector<std::shared_ptr<Operation>> running;
  std::shared_ptr<HostQueue> held;  // by its handle, until destroyed
};

using QueueTable = HandleTable<HostQueue>;
using OpTable = HandleTable<Operation>;

// Never destroyed: a handle stays checkable until the process is gone.
QueueTable &queues() {
  static auto *table = new QueueTable(handle_key() * 3);  // NOLINT(cppcoreguidelines-owning-memory)
  return *table;
}
OpTable &operations() {
  static auto *table = new OpTable(handle_key() * 5);  // NOLINT(cppcoreguidelines-owning-memory)
  return *table;
}

// How long a session's thread waits for its next operation before it ends.
constexpr std::chrono::milliseconds kWorkerLinger{250};

// The worker of each session that ever had an operation; its thread runs
// only while the session has work.  Touched when an operation starts and
// when a session is destroyed, never on the path of an exchange.
struct Lanes {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<async::SerialWorker>> by_session;
};
Lanes &lanes() {
  static auto *all = new Lanes;  // NOLINT(cppcoreguidelines-owning-memory): lives with the process
  return *all;
}

uintptr_t value_of(const void *handle) { return reinterpret_cast<uintptr_t>(handle); }

void refuse_handle(int32_t argument, const void *handle, const char *what, const char *maker) {
  const std::string n = std::to_string(argument);
  connection::refuse(argument, handle ? "Argument " + n + " is not a live " + what + ": " + maker +
                                            " did not make it, or it is gone."
                                      : "Argument " + n + " (the " + what + ") is a null pointer.");
}

// The handle of an operation dropped unseen (its queue was destroyed):
// dead from here, and the operation goes with its last holder.
void forget(Operation &op) {
  if (!operations().begin_destroy(op.handle)) return;
  operations().wait_until_unused(op.handle);
  operations().finish_destroy(op.handle);
}

// Puts a finished operation on its queue (or drops it when the queue is
// gone) and takes it off the queue's list of running ones.
void complete(const std::shared_ptr<Operation> &op, const std::shared_ptr<HostQueue> &queue) {
  {
    const std::lock_guard<std::mutex> lock(op->mutex);
    op->state = State::Completed;
  }
  op->out.settle();
  trace::event_if_on([&] {
    return "operation " + std::to_string(op->handle) + " completed, " +
           connection::kind_name(op->outcome.kind);
  });
  if (!queue->queue.push(op)) forget(*op);
  const std::lock_guard<std::mutex> lock(queue->mutex);
  auto &running = queue->running;
  running.erase(std::remove(running.begin(), running.end(), op), running.end());
  queue->settled.notify_all();
}

void note_cancelled(connection::CallOutcome &outcome) {
  outcome = connection::CallOutcome{};
  outcome.kind = connection::OutcomeKind::Cancelled;
  outcome.error.set(connection::kWsaInterrupted, "The operation was cancelled.");
}

// Whether the operation's session is being destroyed (or is gone).
bool session_ending(const Operation &op) { return !sessions().use(op.session); }

// The call of an operation, holding the session's call lock for its whole
// run so that both halves of a pair go together and no other thread's
// call comes between.
void run_call(Operation &op, connection::Session &session) {
  if (!session.call_lock.lock_unless([&] { return op.cancelled.load(); })) {
    note_cancelled(op.outcome);
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(op.mutex);
    op.on_the_wire = &session;
  }
  if (op.cancelled.load()) {
    note_cancelled(op.outcome);
  } else {
    op.result = op.call(session, op.out);
    op.outcome = connection::this_thread_outcome();
  }
  {
    const std::lock_guard<std::mutex> lock(op.mutex);
    op.on_the_wire = nullptr;
    if (op.interrupted) session.waits.end_interrupt();
  }
  session.call_lock.unlock();
}

// A cancel that reached a call is told apart by what had gone out.
void classify_cancel(Operation &op) {
  if (op.result || op.outcome.kind == connection::OutcomeKind::Cancelled) return;
  if (!op.cancelled.load() && !session_ending(op)) return;
  if (op.outcome.sent || op.out.first_sent) {
    op.outcome.kind = connection::OutcomeKind::MaybeApplied;
    op.outcome.sent = true;
  } else {
    note_cancelled(op.outcome);
  }
}

void run(const std::shared_ptr<Operation> &op, const std::shared_ptr<HostQueue> &queue) {
  const SessionUse use(as_handle(op->session));
  bool go = false;
  {
    const std::lock_guard<std::mutex> lock(op->mutex);
    go = use && !op->cancelled.load();
    if (go) op->state = State::Running;
  }
  if (!go) {
    if (op->job) unclaim_job(op->job);
    note_cancelled(op->outcome);
  } else if (op->runner) {
    op->result = op->runner(use.session(), *op);
    const std::lock_guard<std::mutex> lock(op->mutex);
    op->job = nullptr;
  } else if (op->job) {
    op->result =
        send_job_on(op->job, use.session(), op->attempts, &op->progress, true, op->outcome);
  } else {
    run_call(*op, use.session());
    classify_cancel(*op);
  }
  op->call = nullptr;  // its copies of the inputs (a password among them) go now
  op->runner = nullptr;
  complete(op, queue);
}

// Starts an operation that prepare fills in (and may refuse).
QvOp *start(QvSession *Session, QvQueue *Queue, void *Tag,
            const std::function<bool(Operation &)> &prepare, Where where) {
  QvOp *made = nullptr;
  guarded(
      [&] {
        const SessionUse session(Session);
        if (!session) {
          note_not_a_session(Session);
          return false;
        }
        QueueTable::Use queue = queues().use(value_of(Queue));
        if (!queue) {
          refuse_handle(2, Queue, "queue", "QvQueueCreate");
          return false;
        }
        auto op = std::make_shared<Operation>();
        op->session = handle_value(Session);
        op->tag = Tag;
        if (!prepare(*op)) return false;
        op->handle = operations().add(op.get());
        if (op->handle == 0) {
          if (op->job) unclaim_job(op->job);
          connection::other_failure("No operation handle is left in this process.");
          return false;
        }
        std::shared_ptr<HostQueue> host_queue = queue->held;
        {
          const std::lock_guard<std::mutex> lock(host_queue->mutex);
          host_queue->running.push_back(op);
        }
        // A session whose destroy has begun gets no worker: its destroy
        // may have ended the last one already.
        std::shared_ptr<async::SerialWorker> lane;
        {
          Lanes &all = lanes();
          const std::lock_guard<std::mutex> lock(all.mutex);
          if (!session_ending(*op)) {
            std::shared_ptr<async::SerialWorker> &slot = all.by_session[op->session];
            if (!slot) slot = std::make_shared<async::SerialWorker>(kWorkerLinger);
            lane = slot;
          }
        }
        trace::event_if_on([&] {
          return "operation " + std::to_string(op->handle) +
                 " started: " + std::string(export_name(where));
        });
        const async::SerialWorker::Posted posted =
            lane ? lane->post([op, host_queue] { run(op, host_queue); })
                 : async::SerialWorker::Posted::Stopping;
        if (posted == async::SerialWorker::Posted::NoThread) {
          if (op->job) unclaim_job(op->job);
          {
            const std::lock_guard<std::mutex> lock(host_queue->mutex);
            auto &running = host_queue->running;
            running.erase(std::remove(running.begin(), running.end(), op), running.end());
          }
          forget(*op);
          connection::other_failure("The system made no thread to run the operation.");
          return false;
        }
        // No worker, or one that its session's destroy stops: the
        // operation then completes cancelled at once, still exactly once.
        if (posted == async::SerialWorker::Posted::Stopping) run(op, host_queue);
        made = reinterpret_cast<QvOp *>(op->handle);
        return true;
      },
      where);
  return made;
}

}  // namespace

namespace qv::api {

QvOp *start_operation(QvSession *Session, QvQueue *Queue, void *Tag, async::Call call,
                      Where where) {
  return start(
      Session, Queue, Tag,
      [&](Operation &op) {
        op.call = std::move(call);
        return true;
      },
      where);
}

QvOp *start_runner(QvSession *Session, QvQueue *Queue, void *Tag, async::Runner runner,
                   const std::function<bool()> &prepare, Where where) {
  return start(
      Session, Queue, Tag,
      [&](Operation &op) {
        if (!prepare()) return false;
        op.runner = std::move(runner);
        return true;
      },
      where);
}

void end_operations(uintptr_t session) {
  std::shared_ptr<async::SerialWorker> lane;
  {
    Lanes &all = lanes();
    const std::lock_guard<std::mutex> lock(all.mutex);
    auto found = all.by_session.find(session);
    if (found == all.by_session.end()) return;
    lane = std::move(found->second);
    all.by_session.erase(found);
  }
  // The one that runs gives way to the destroy's interrupt; the others run
  // here, find their session gone and complete cancelled.
  lane->stop([](async::SerialWorker::Task &task) { task(); });
}

}  // namespace qv::api

namespace {

// Runs body on a live operation under the guard; a value that is not one
// is refused without reading anything through it.
template <class Body>
qv_bool on_op(QvOp *handle, Body &&body, Where where = __builtin_FUNCTION()) {
  OpTable::Use use = operations().use(value_of(handle));
  return guarded(
      [&] {
        if (!use) {
          refuse_handle(1, handle, "operation", "a QvStart function");
          return false;
        }
        return body(*use);
      },
      where);
}

// The same for what only a completed operation holds.
template <class Body>
qv_bool on_completed(QvOp *handle, Body &&body, Where where = __builtin_FUNCTION()) {
  return on_op(
      handle,
      [&](Operation &op) {
        {
          const std::lock_guard<std::mutex> lock(op.mutex);
          if (op.state != State::Completed && op.state != State::Taken) {
            connection::refuse(1, "Argument 1 has not completed yet.");
            return false;
          }
        }
        return body(op);
      },
      where);
}

// Cancels an operation that has not completed; false once it has.
bool cancel(Operation &op) {
  const std::lock_guard<std::mutex> lock(op.mutex);
  if (op.state == State::Completed || op.state == State::Taken) return false;
  op.cancelled.store(true);
  if (op.job) {
    if (op.state == State::Running) cancel_job(op.job);
  } else if (op.on_the_wire) {
    if (!op.interrupted) op.on_the_wire->waits.request_interrupt();
    op.interrupted = true;
  } else if (op.state == State::Running) {
    // Waiting for the call lock: the session lives while its worker holds
    // it, so wake its wait through the session the operation names.
    const SessionUse use(as_handle(op.session));
    if (use) use.session().call_lock.wake();
  }
  return true;
}

}  // namespace

extern "C" {

QV_EXPORT QvQueue *QV_CALL QvQueueCreate(void) {
  QvQueue *made = nullptr;
  guarded([&] {
    auto queue = std::make_shared<HostQueue>();
    if (!queue->queue.ok()) {
      connection::other_failure("The system gave no descriptor or event for the queue.");
      return false;
    }
    const uintptr_t handle = queues().add(queue.get());
    if (handle == 0) {
      connection::other_failure("No queue handle is left in this process.");
      return false;
    }
    queue->held = queue;
    made = reinterpret_cast<QvQueue *>(handle);
    return true;
  });
  return made;
}

QV_API QvQueueDestroy(QvQueue *Queue) {
  const uintptr_t handle = value_of(Queue);
  // From here nothing enters the queue; a second destroy is refused.
  HostQueue *queue = queues().begin_destroy(handle);
  return guarded([&] {
    if (!queue) {
      refuse_handle(1, Queue, "queue", "QvQueueCreate");
      return false;
    }
    // Closing first ends a QvQueueNext that waits, and any completion
    // from now on is dropped by the thread that completes it.
    for (auto &left : queue->queue.close()) forget(static_cast<Operation &>(*left));
    queues().wait_until_unused(handle);
    std::unique_lock<std::mutex> lock(queue->mutex);
    for (const auto &op : queue->running) cancel(*op);
    queue->settled.wait_for(lock, std::chrono::milliseconds(QV_QUEUE_DESTROY_WAIT_MS),
                            [&] { return queue->running.empty(); });
    lock.unlock();
    queues().finish_destroy(handle);
    // Operations still running keep what they use of it until they end.
    const std::shared_ptr<HostQueue> gone = std::move(queue->held);
    return true;
  });
}

QV_EXPORT int64_t QV_CALL QvQueueWaitHandle(QvQueue *Queue) {
  int64_t wait_handle = -1;
  QueueTable::Use queue = queues().use(value_of(Queue));
  guarded([&] {
    if (!queue) {
      refuse_handle(1, Queue, "queue", "QvQueueCreate");
      return false;
    }
    wait_handle = queue->queue.wait_handle();
    return true;
  });
  return wait_handle;
}

QV_API QvQueueNotifyWindow(QvQueue *Queue, void *Hwnd, uint32_t Message) {
  QueueTable::Use queue = queues().use(value_of(Queue));
  return guarded([&] {
    if (!queue) {
      refuse_handle(1, Queue, "queue", "QvQueueCreate");
      return false;
    }
    if (!platform::can_post_window_messages()) {
      connection::other_failure("Window messages are a Windows facility.");
      return false;
    }
    queue->queue.notify_window(Hwnd, Message);
    return true;
  });
}

QV_EXPORT QvOp *QV_CALL QvQueueNext(QvQueue *Queue, int32_t TimeoutMs) {
  QvOp *taken = nullptr;
  QueueTable::Use queue = queues().use(value_of(Queue));
  guarded([&] {
    if (!queue) {
      refuse_handle(1, Queue, "queue", "QvQueueCreate");
      return false;
    }
    auto op =
        std::static_pointer_cast<Operation>(queue->queue.next(TimeoutMs < 0 ? -1 : TimeoutMs));
    if (!op) return false;
    const std::lock_guard<std::mutex> lock(op->mutex);
    op->state = State::Taken;
    op->held = op;
    taken = reinterpret_cast<QvOp *>(op->handle);
    return true;
  });
  return taken;
}

QV_API QvOpResult(QvOp *Op) {
  return on_completed(Op, [](Operation &op) { return op.result; });
}

QV_EXPORT int32_t QV_CALL QvOpCode(QvOp *Op) {
  int32_t code = -1;
  on_completed(Op, [&](Operation &op) {
    code = op.job ? -1 : op.out.code;
    return true;
  });
  return code;
}

QV_EXPORT int32_t QV_CALL QvOpText(QvOp *Op, int32_t Index, char *Buffer, int32_t Size) {
  int32_t length = -1;
  on_completed(Op, [&](Operation &op) {
    const std::string *text = Index < 0 ? nullptr : op.out.text_at(static_cast<size_t>(Index));
    if (!text) {
      connection::refuse(2, "Argument 2 names no text output of the operation.");
      return false;
    }
    length = static_cast<int32_t>(text->size());
    if (Buffer && Size > length) std::memcpy(Buffer, text->c_str(), text->size() + 1);
    return true;
  });
  return length;
}

QV_EXPORT int32_t QV_CALL QvOpNumber(QvOp *Op, int32_t Index) {
  int32_t number = 0;
  on_completed(Op, [&](Operation &op) {
    const int32_t *value = Index < 0 ? nullptr : op.out.number_at(static_cast<size_t>(Index));
    if (!value) {
      connection::refuse(2, "Argument 2 names no number output of the operation.");
      return false;
    }
    number = *value;
    return true;
  });
  return number;
}

QV_API QvOpOutcome(QvOp *Op, int32_t *Outcome, int32_t *Sent, int32_t *Argument,
                   int32_t *SocketError, char *Detail, int32_t DetailSize) {
  return on_completed(Op, [&](Operation &op) {
    const connection::CallOutcome &o = op.outcome;
    if (Outcome) *Outcome = static_cast<int32_t>(o.kind);
    if (Sent) *Sent = o.sent ? 1 : 0;
    if (Argument) *Argument = o.argument;
    if (SocketError) *SocketError = o.error.socket_error;
    copy_detail(Detail, DetailSize, o.error.text);
    return true;
  });
}

QV_EXPORT void *QV_CALL QvOpTag(QvOp *Op) {
  void *tag = nullptr;
  on_op(Op, [&](Operation &op) {
    tag = op.tag;
    return true;
  });
  return tag;
}

QV_API QvOpProgress(QvOp *Op, int32_t *Step, int32_t *Attempt) {
  return on_op(Op, [&](Operation &op) {
    if (Step) *Step = op.progress.step.load();
    if (Attempt) *Attempt = op.progress.attempt.load();
    return true;
  });
}

QV_API QvOpCancel(QvOp *Op) {
  return on_op(Op, [](Operation &op) {
    if (cancel(op)) return true;
    connection::refuse(1, "Argument 1 has completed: there is nothing left to cancel.");
    return false;
  });
}

QV_API QvOpFree(QvOp *Op) {
  const uintptr_t handle = value_of(Op);
  return guarded([&] {
    {
      OpTable::Use use = operations().use(handle);
      if (!use) {
        refuse_handle(1, Op, "operation", "a QvStart function");
        return false;
      }
      const std::lock_guard<std::mutex> lock(use->mutex);
      if (use->state != State::Taken) {
        connection::refuse(1, "Argument 1 is not the host's yet: QvQueueNext hands it over.");
        return false;
      }
    }
    // Only a taken operation gets here, and only one free of it passes.
    Operation *op = operations().begin_destroy(handle);
    if (!op) {
      refuse_handle(1, Op, "operation", "a QvStart function");
      return false;
    }
    operations().wait_until_unused(handle);
    operations().finish_destroy(handle);
    std::shared_ptr<Operation> gone;
    {
      const std::lock_guard<std::mutex> lock(op->mutex);
      gone = std::move(op->held);
    }
    return true;
  });
}

QV_EXPORT QvOp *QV_CALL QvStartSendJob(QvSession *Session, QvQueue *Queue, void *Tag, QvJob *Job,
                                       int32_t Attempts) {
  return start(
      Session, Queue, Tag,
      [&](Operation &op) {
        if (!claim_job(Job, 4)) return false;
        op.job = Job;
        op.attempts = Attempts;
        return true;
      },
      "QvStartSendJob");
}

}  // extern "C"
