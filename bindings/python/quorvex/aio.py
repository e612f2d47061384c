"""asyncio over the library's operations: AsyncSession, a session whose calls are awaited.

    import asyncio
    from quorvex.aio import AsyncSession

    async def main():
        async with AsyncSession() as s:
            await s.connect("127.0.0.1", 9000)
            if (await s.login("demo", "demo123")).accepted:
                print((await s.NumRule()).message)
    asyncio.run(main())

Each method has the name, inputs and Result of the sync Session's method (a pair, such as
fxNumRule, is one method that runs both halves; fx(operation) as on Session), and send_job
returns the same JobResult.  Awaiting one starts an operation on the library's thread for
the session; the event loop keeps running meanwhile.  The operations of one session run one
at a time, in the order started; those of different sessions side by side.

Cancelling the awaiting task (asyncio.wait_for's time-out, Task.cancel) cancels the
operation (QvOpCancel) and returns at once: an operation whose request was out closes the
session's connection, which its next call's relogin reopens.

One binding thread per process waits on one queue for every loop's completions, reads each
completed operation, frees it and hands its result to the loop that awaits it through
call_soon_threadsafe (so any loop works, the Proactor loop too).  Nothing of the host's
runs on that thread, and a loop that has closed is simply not told."""
import asyncio
import atexit
import ctypes
import itertools
import threading
import weakref
from typing import Any, Callable, Dict, Optional

from . import _native
from ._aio_api import STARTERS, AsyncSessionExports
from ._api import OutcomeKind, StateFlag
from .client import check_int32, new_session_handle
from .jobs import Job, JobResult, check_attempts
from .journal import Journal
from .result import ConnectionState, QuorvexError, Result, read_outcome
from .text import Text, from_gbk, to_gbk

__all__ = ["AsyncSession"]

# The roles of an operation's outputs: its result code, its texts and its numbers, each in
# the export's order (a pair's first half first).
_CODES, _TEXTS, _NUMBERS = ("code", "reply_code"), ("message", "param", "fxtext", "detail"), ("out",)


class _Pending:
    """An operation started and not yet read: the loop and future that await it, how to
    read it, and what must live as long as it runs (its session, its job, its inputs)."""
    __slots__ = ("loop", "future", "read", "keep", "op")

    def __init__(self, loop: asyncio.AbstractEventLoop, read: Callable[[int], Any], keep: Any) -> None:
        self.loop, self.future, self.read, self.keep, self.op = loop, loop.create_future(), read, keep, None

    def deliver(self, value: Any, error: Optional[BaseException]) -> None:
        """On the dispatcher's thread: hands the result to the awaiting loop, if any awaits."""
        if self.future.done():
            return  # cancelled: its awaiter is gone
        try:
            self.loop.call_soon_threadsafe(self._settle, value, error)
        except RuntimeError:
            pass  # the loop has closed: no one is left to tell

    def _settle(self, value: Any, error: Optional[BaseException]) -> None:
        if self.future.done():
            return
        if error is None:
            self.future.set_result(value)
        else:
            self.future.set_exception(error)


class _Dispatcher:
    """The process's queue of completed operations (one per loaded library) and the thread
    that blocks in QvQueueNext on it.  Each operation's tag is the key of its _Pending."""

    def __init__(self, native: ctypes.CDLL) -> None:
        self.native = native
        self.queue = native.QvQueueCreate()
        if not self.queue:
            raise OSError("QvQueueCreate: " + read_outcome(native, native.GetLastOutcome).detail)
        self._pending: Dict[int, _Pending] = {}
        self._tags = itertools.count(1)  # never 0, which is NULL
        self._thread = threading.Thread(target=self._drain, name="quorvex-aio", daemon=True)
        self._thread.start()

    def _drain(self) -> None:
        native = self.native
        while True:
            op = native.QvQueueNext(self.queue, -1)
            if not op:
                return  # the queue was destroyed: the process is ending
            pending = self._pending.pop(native.QvOpTag(op), None)
            value = error = None
            try:
                if pending is not None:
                    value = pending.read(op)
            except BaseException as e:  # noqa: B036  raised in the awaiting task instead
                error = e
            finally:
                native.QvOpFree(op)
            if pending is not None:
                pending.deliver(value, error)

    def begin(self, start: Callable[[Any, int], Any], read: Callable[[int], Any], keep: Any) -> Optional[_Pending]:
        """start(queue, tag) on the calling loop's thread; None when the library refused it
        at once (the thread's outcome says why)."""
        pending = _Pending(asyncio.get_running_loop(), read, keep)
        tag = next(self._tags)
        # Listed before the start: it may complete before the start returns.
        self._pending[tag] = pending
        op = start(self.queue, tag)
        if not op:
            del self._pending[tag]
            return None
        pending.op = op
        return pending

    async def wait(self, pending: _Pending) -> Any:
        """The operation's result; a cancel of the awaiting task cancels the operation and
        returns at once, leaving the completion for the dispatcher to free."""
        future = pending.future
        try:
            return await future
        finally:
            if not future.done() or future.cancelled():
                self.native.QvOpCancel(pending.op)

    def close(self) -> None:
        """Ends the thread's wait; the library cancels what still runs."""
        self.native.QvQueueDestroy(self.queue)
        self._thread.join(1.0)


_dispatchers: Dict[int, _Dispatcher] = {}
_dispatchers_lock = threading.Lock()


def _dispatcher(native: ctypes.CDLL) -> _Dispatcher:
    with _dispatchers_lock:
        found = _dispatchers.get(id(native))
        if found is None:
            found = _dispatchers[id(native)] = _Dispatcher(native)
        return found


@atexit.register
def _close_dispatchers() -> None:
    with _dispatchers_lock:
        for dispatcher in _dispatchers.values():
            dispatcher.close()
        _dispatchers.clear()


class _Reading:
    """How a starter's operation comes back as the sync method's Result: its exports' outputs,
    a pair's second half after the first half's."""

    def __init__(self, name: str, halves) -> None:
        self.name = name
        self.halves = [(h, [(role, n) for role, n in _native.EXPORTS[h].params]) for h in halves]
        # An XML pair's Result is named after the operation and carries the reply code.
        self.xml_pair = len(halves) == 2 and any(role == "reply_code" for role, _ in self.halves[0][1])
        self.first_texts = sum(role in _TEXTS for role, _ in self.halves[0][1])

    def __call__(self, native: ctypes.CDLL, op: int) -> Result:
        ok = bool(native.QvOpResult(op))
        outcome = None if ok else read_outcome(native, native.QvOpOutcome, op)
        name, params = self.halves[0]
        outputs, texts, numbers = self._outputs(native, op, params, 0, 0)
        # The second half ran when its first text output was made.
        if len(self.halves) == 2 and native.QvOpText(op, self.first_texts, None, 0) >= 0:
            name, params = self.halves[1]
            outputs, _, _ = self._outputs(native, op, params, texts, numbers)
            if self.xml_pair:
                return Result(ok, native.QvOpCode(op), outputs.pop("Message", None), outputs, int(ok), outcome,
                              self.name)
        code, message = outputs.pop("Code", None), outputs.pop("Message", None)
        return Result(ok, code, message, outputs, int(ok), outcome, name)

    @staticmethod
    def _outputs(native, op, params, texts, numbers):
        outputs = {}
        for role, name in params:
            if role in _CODES:
                outputs[name] = native.QvOpCode(op)
            elif role in _TEXTS:
                outputs[name] = _text(native, op, texts)
                texts += 1
            elif role in _NUMBERS:
                outputs[name] = native.QvOpNumber(op, numbers)
                numbers += 1
        return outputs, texts, numbers


def _text(native: ctypes.CDLL, op: int, index: int) -> str:
    """Text output index of op; "" for one the operation never made (it did not run)."""
    length = native.QvOpText(op, index, None, 0)
    if length <= 0:
        return ""
    buffer = ctypes.create_string_buffer(length + 1)
    native.QvOpText(op, index, buffer, len(buffer))
    return from_gbk(buffer.raw[:length], native)


class _Plan:
    """A starter worked out once: its function, its inputs (role, name) and its reading."""
    __slots__ = ("function", "inputs", "reading")

    def __init__(self, native: ctypes.CDLL, name: str) -> None:
        starter, halves = STARTERS[name]
        self.function = getattr(native, starter)
        self.inputs = [(role, n) for role, n in _native.EXPORTS[starter].params[3:]]
        self.reading = _Reading(name, halves)


class AsyncSession(AsyncSessionExports):
    """A connection of its own (QvSessionCreate) whose calls are awaited: an async method per
    sync Session method that runs an operation, under the same name with the same inputs,
    returning the same Result; send_job returns the same JobResult.

    async with (or close()) destroys the session: operations still running on it complete
    cancelled (or MAYBE_APPLIED when their request was out), and a call after it raises
    SessionClosedError.  raise_on_failure as for Session."""

    # Worked out once per library and starter.
    _plans: Dict[Any, _Plan] = {}

    def __init__(self, library: Optional[str] = None, raise_on_failure: bool = False) -> None:
        """library and raise_on_failure as for Session; MemoryError when the library can make
        no session."""
        self.native = _native.library(library)
        self.raise_on_failure = raise_on_failure
        self._dispatcher = _dispatcher(self.native)
        self._handle = new_session_handle(self.native)
        self._finalizer = weakref.finalize(self, self._handle.close)

    async def __aenter__(self) -> "AsyncSession":
        return self

    async def __aexit__(self, *exc: Any) -> bool:
        self.close()
        return False

    def close(self) -> None:
        """Destroys the session, cancelling what runs on it; idempotent."""
        self._finalizer()

    @property
    def closed(self) -> bool:
        """Whether close() was called (or the session was collected)."""
        return self._handle.closed

    def _start(self, start: Callable[[Any, Any, int], Any], read: Callable[[int], Any], keep: Any):
        """start(session, queue, tag) on this session; what the thread's outcome says when refused."""
        dispatcher, handle = self._dispatcher, self._handle
        pointer = handle.acquire()
        try:
            pending = dispatcher.begin(lambda queue, tag: start(pointer, queue, tag), read, (self, keep))
            return pending, None if pending else read_outcome(self.native, self.native.GetLastOutcome)
        finally:
            handle.release()

    async def _operation(self, name: str, given: Dict[str, Any]) -> Result:
        plan = self._plans.get((id(self.native), name))
        if plan is None:
            plan = self._plans[id(self.native), name] = _Plan(self.native, name)
        arguments = []
        for role, input_name in plan.inputs:
            if role == "int":
                if given.get(input_name) is None:
                    raise TypeError(f"{name}: input {input_name} is missing")
                arguments.append(check_int32(given[input_name], input_name))
            else:
                arguments.append(to_gbk(given.get(input_name), input_name, self.native))
        native, reading, function = self.native, plan.reading, plan.function
        pending, refusal = self._start(lambda s, q, t: function(s, q, t, *arguments),
                                       lambda op: reading(native, op), arguments)
        if pending is None:
            result = Result(False, None, None, {}, 0, refusal, name)
        else:
            result = await self._dispatcher.wait(pending)
        if not result.ok and self.raise_on_failure:
            raise QuorvexError(result)
        return result

    # The common steps, spelled as on Session.

    async def call(self, name: str, *args: Any, **kwargs: Any) -> Result:
        """Any operation by its method's name, its inputs in order or by name."""
        if name not in STARTERS:
            raise AttributeError(f"{name} is not an operation of AsyncSession")
        inputs = [n for _, n in _native.EXPORTS[STARTERS[name][0]].params[3:]]
        if len(args) > len(inputs):
            raise TypeError(f"{name} takes {len(inputs)} inputs ({', '.join(inputs)})")
        given = dict(zip(inputs, args))
        for key, value in kwargs.items():
            if key not in inputs or key in given:
                raise TypeError(f"{name}: unexpected or repeated input {key}")
            given[key] = value
        return await self._operation(name, given)

    async def connect(self, host: Text, port: int, timeout: int = 5000, proxy_kind: Optional[Text] = None,
                      proxy_host: Optional[Text] = None, proxy_port: int = 0, proxy_user: Optional[Text] = None,
                      proxy_password: Optional[Text] = None) -> Result:
        """TcpConnect with Session.connect's defaults."""
        return await self.TcpConnect(host, port, timeout, proxy_kind, proxy_host, proxy_port, proxy_user,
                                     proxy_password)

    async def login(self, name: Text, password: Text, app: Text = "", extra: Text = "", version: Text = "") -> Result:
        """Login_Request then Login_Feedback as one operation; accepted when the code is 900.
        The Result is Login_Feedback's, or Login_Request's when that failed, as on Session."""
        return await self._operation("login", {"app": app, "extra": extra, "name": name, "pwd": password,
                                               "ver": version})

    async def fx(self, operation: str, *args: Any) -> Result:
        """An XML operation, both halves: fx("fxNumRule") as await fxNumRule()."""
        return await self.call(operation, *args)

    async def set_read_timeout(self, milliseconds: int) -> bool:
        """SetReadTimeout, for the operations that start after it; True when the library took it."""
        return (await self.SetReadTimeout(milliseconds)).ok

    async def connection_state(self) -> ConnectionState:
        """GetConnectionState, as Session.connection_state."""
        r = (await self.GetConnectionState()).outputs
        return ConnectionState(StateFlag(r["State"]), r["Path"], r["LoginProtocol"], r["LoginCode"])

    async def send_job(self, job: Job, attempts: int = 2) -> JobResult:
        """Sends a whole job as an operation (QvStartSendJob) and returns how it ended, as
        Session.send_job does; ValueError for a job the library refused before any call.  The
        job's progress callback and resolver are not called: a "maybe" that its evidence
        cannot settle stays MAYBE_SUBMITTED.  Cancelling the awaiting task ends the send as
        job.cancel() does; the job refuses changes until the send has ended."""
        check_attempts(attempts)
        native = self.native
        job_pointer = job._handle.acquire()  # released once the dispatcher has read the result

        def read(op: int) -> JobResult:
            try:
                outcome = read_outcome(native, native.QvOpOutcome, op)
                if not native.QvOpResult(op) and outcome.outcome == OutcomeKind.REFUSED and outcome.argument \
                        and not outcome.sent:
                    raise ValueError(f"send_job: {outcome.detail}")
                return job._result(job_pointer)
            finally:
                job._handle.release()

        try:
            pending, refusal = self._start(lambda s, q, t: native.QvStartSendJob(s, q, t, job_pointer, attempts),
                                           read, job)
        except BaseException:
            job._handle.release()
            raise
        if pending is None:
            job._handle.release()
            raise ValueError(f"send_job: {refusal.detail}")
        return await self._dispatcher.wait(pending)

    async def journal_send(self, journal: Journal, max_jobs: int = 0) -> Result:
        """Journal.send as an operation (QvStartJournalSend): the same Result, outputs["Settled"]
        the jobs that left QUEUED.  No resolver is called: a "maybe" stays UNKNOWN, for
        Journal.recover or the host.  Cancelling the awaiting task ends the job being sent as
        Job.cancel() does, and the run with it; the journal's close waits for the send's end."""
        check_int32(max_jobs, "max_jobs")
        native = self.native
        journal_pointer = journal._handle.acquire()  # released once the dispatcher has read the result

        def read(op: int) -> Result:
            try:
                ok = bool(native.QvOpResult(op))
                outcome = None if ok else read_outcome(native, native.QvOpOutcome, op)
                return Result(ok, None, None, {"Settled": native.QvOpNumber(op, 0)}, int(ok), outcome,
                              "QvJournalSend")
            finally:
                journal._handle.release()

        try:
            pending, refusal = self._start(
                lambda s, q, t: native.QvStartJournalSend(s, q, t, journal_pointer, max_jobs), read, journal)
        except BaseException:
            journal._handle.release()
            raise
        if pending is None:
            journal._handle.release()
            result = Result(False, None, None, {"Settled": 0}, 0, refusal, "QvJournalSend")
        else:
            result = await self._dispatcher.wait(pending)
        if not result.ok and self.raise_on_failure:
            raise QuorvexError(result)
        return result
