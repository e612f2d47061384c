"""The send-job journal: jobs kept in a file the host names, so that a host that crashes or
loses power never sends one twice nor loses one it added (the header's "The send-job
journal").  The library keeps the file and decides every state; this module hands it jobs
and reads back what it stored."""
import ctypes
import datetime
import os
import sys
import threading
import weakref
from dataclasses import dataclass
from typing import Any, Callable, List, Optional, Union

from . import _native
from ._api import EvidenceKind, JournalState, OutcomeKind, Resolution
from ._handle import Handle
from .client import check_int32
from .jobs import Evidence, Job
from .result import Outcome, QuorvexError, Result, as_kind, read_outcome
from .text import Text, from_gbk, to_gbk

INT64_MIN, INT64_MAX = -2**63, 2**63 - 1
EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

JournalResolver = Callable[[Evidence], Union[Resolution, int, bool, None]]


class JournalClosedError(ValueError):
    """A use of a Journal after its close."""


@dataclass(frozen=True)
class JournalJob:
    """A journal's job as QvJournalJob reads it.

    state       a JournalState
    reference   the host's own name for the job, given to add()
    attempts    how many sends it took
    code        the server's code (-1 for none) and message: why it was REFUSED
    job_number  the server's number for it once SUBMITTED, else ""
    added, changed   when it was added and last changed, in UTC"""
    id: int
    state: JournalState
    reference: str
    attempts: int
    code: int
    message: str
    job_number: str
    added: datetime.datetime
    changed: datetime.datetime


def check_int64(value: int, name: str) -> int:
    """value, when it is an int (not a bool) that fits an int64; ctypes would cut it silently."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name}: an int is needed, not {type(value).__name__}")
    if not INT64_MIN <= value <= INT64_MAX:
        raise OverflowError(f"{name}: {value} does not fit an int64")
    return value


def _path_bytes(path: Union[str, bytes, "os.PathLike"]) -> bytes:
    """The path as the library opens it: UTF-8 on Linux, the system's code page on Windows."""
    path = os.fspath(path)
    if isinstance(path, bytes):
        data = path
    elif sys.platform == "win32":
        data = path.encode("mbcs", "strict")  # a character the code page lacks would open another file
    else:
        data = os.fsencode(path)
    if b"\0" in data:
        raise ValueError("path: a path cannot hold a zero byte")
    return data


def _when(milliseconds: int) -> datetime.datetime:
    return EPOCH + datetime.timedelta(milliseconds=milliseconds)


def _answer(answer: Union[Resolution, int, bool, None]) -> int:
    """A resolver's answer as a QV_RESOLVED_* value, as Job's resolver reads it."""
    if answer is None or isinstance(answer, bool):
        return {None: Resolution.UNKNOWN, True: Resolution.SUBMITTED, False: Resolution.NOT_SUBMITTED}[answer]
    return Resolution(answer)


class Journal:
    """A journal file (QvJournalOpen ... QvJournalClose).

        with quorvex.Journal("jobs.journal") as journal:
            journal.add(job, "order-17")
            journal.send(session)

    add() returns a job's id once it is on stable storage; adding a reference again returns
    the same id and stores nothing.  send() sends the QUEUED jobs in the order added; a job
    whose submit may have been applied ends UNKNOWN and is never sent again by the library:
    recover() looks such jobs up (through the resolver) and resolve() lets the host settle one.

    A file that is not a journal, a journal of a newer format, one open elsewhere or on a
    network file system raises QuorvexError (its outcome's detail says why).  A call the
    library refuses for its arguments raises ValueError; one that fails otherwise (the
    disk) raises QuorvexError.  close() waits for the calls in progress on the journal in
    other threads (a send ends after its current job) and closes it; idempotent."""

    def __init__(self, path: Union[str, bytes, "os.PathLike"], library: Optional[str] = None) -> None:
        self.native = _native.library(library)
        pointer = self.native.QvJournalOpen(_path_bytes(path))
        if not pointer:
            raise QuorvexError(Result(False, outcome=read_outcome(self.native, self.native.GetLastOutcome),
                                      export="QvJournalOpen"))
        self._handle = Handle(pointer, lambda _: None, self.native.QvJournalClose,
                              lambda: JournalClosedError("the journal is closed"))
        self._finalizer = weakref.finalize(self, self._handle.close)
        self._resolver: Optional[JournalResolver] = None
        self._callback = None  # the ctypes callback the library holds, kept alive while it does
        self._errors = threading.local()

    def __enter__(self) -> "Journal":
        return self

    def __exit__(self, *exc: Any) -> bool:
        self.close()
        return False

    def close(self) -> None:
        """Closes the journal once no call of this process is in it; its jobs stay in the file."""
        self._finalizer()

    @property
    def closed(self) -> bool:
        """Whether close() was called (or the journal was collected)."""
        return self._handle.closed

    def _failed(self, export: str, outcome: Optional[Outcome] = None) -> Exception:
        """The exception of a call that returned its failure: ValueError for a refused argument."""
        outcome = outcome or read_outcome(self.native, self.native.GetLastOutcome)
        if outcome.outcome == OutcomeKind.REFUSED and outcome.argument:
            return ValueError(f"{export}: {outcome.detail}")
        return QuorvexError(Result(False, outcome=outcome, export=export))

    def add(self, job: Job, reference: Text) -> int:
        """Stores the job's content under reference (1 to QV_JOURNAL_REFERENCE_MAX GBK bytes)
        and returns its id once it is on stable storage; a reference already stored returns
        that job's id.  ValueError for a job the sender would refuse or a bad reference."""
        data = to_gbk(reference, "reference", self.native)
        with self._handle as journal, job._handle as pointer:
            added = self.native.QvJournalAdd(journal, pointer, data)
            if added <= 0:
                raise self._failed("QvJournalAdd")
        return added

    def job(self, id: int) -> JournalJob:
        """Job id as stored; KeyError when the journal has no such job."""
        check_int64(id, "id")
        state, attempts, code = (ctypes.c_int32() for _ in range(3))
        added, changed = ctypes.c_int64(), ctypes.c_int64()
        reference = ctypes.create_string_buffer(_native.QV_JOURNAL_REFERENCE_BUFFER_SIZE)
        message = ctypes.create_string_buffer(_native.QV_BODY_BUFFER_SIZE)
        job_number = ctypes.create_string_buffer(_native.QV_PARAM_BUFFER_SIZE)
        with self._handle as journal:
            if not self.native.QvJournalJob(journal, id, ctypes.byref(state), reference, ctypes.byref(attempts),
                                            ctypes.byref(code), message, job_number, ctypes.byref(added),
                                            ctypes.byref(changed)):
                raise KeyError(id)
        return JournalJob(id, as_kind(JournalState, state.value), from_gbk(reference.value, self.native),
                          attempts.value, code.value, from_gbk(message.value, self.native),
                          from_gbk(job_number.value, self.native), _when(added.value), _when(changed.value))

    def list(self, state: Optional[JournalState] = None) -> List[int]:
        """The ids of the jobs in state (every state for None), oldest first."""
        which = 0 if state is None else check_int32(int(state), "state")
        size = 0
        with self._handle as journal:
            while True:
                ids = (ctypes.c_int64 * size)()
                count = self.native.QvJournalList(journal, which, ids, size)
                if count < 0:
                    raise self._failed("QvJournalList")
                if count <= size:
                    return ids[:count]
                size = count  # more were added meanwhile: ask again with room for them

    def evidence(self, id: int, which: EvidenceKind) -> Optional[str]:
        """The evidence which kept with job id, as the server wrote it; None where there is none."""
        check_int64(id, "id")
        which = check_int32(int(which), "which")
        size = 0
        with self._handle as journal:
            while True:
                buffer = ctypes.create_string_buffer(size) if size else None
                length = self.native.QvJournalEvidence(journal, id, which, buffer, size)
                if length < 0:
                    return None
                if length < size:
                    return from_gbk(buffer.raw[:length], self.native)
                size = length + 1

    @property
    def resolver(self) -> Optional[JournalResolver]:
        """resolver(evidence), called on the thread of send() or recover() for a job that may
        have been submitted, with its Evidence; it answers a Resolution (True for SUBMITTED,
        False for NOT_SUBMITTED, None for UNKNOWN).  One that raises counts as UNKNOWN, and
        its exception is raised again once send() or recover() has returned."""
        return self._resolver

    @resolver.setter
    def resolver(self, resolver: Optional[JournalResolver]) -> None:
        self.set_resolver(resolver)

    def set_resolver(self, resolver: Optional[JournalResolver]) -> None:
        """Sets (None: removes) the resolver; see resolver."""
        function = None
        if resolver is not None:
            function = _native.CALLBACK(ctypes.c_int32, ctypes.c_void_p, ctypes.c_void_p)(
                _call_resolver(weakref.ref(self)))
        with self._handle as journal:
            if not self.native.QvJournalSetResolver(journal, function, None):
                raise self._failed("QvJournalSetResolver")
            # Replaced only once the library holds the new one: the old stays alive until then.
            self._resolver, self._callback = resolver, function

    def _with_errors(self, call: Callable[[], Any]) -> Any:
        """call() with the resolver's exceptions kept, the first raised once it has returned."""
        self._errors.raised = []
        try:
            value = call()
        finally:
            raised, self._errors.raised = self._errors.raised, []
        if raised:
            raise raised[0]
        return value

    def send(self, session: Any, max_jobs: int = 0) -> Result:
        """Sends the QUEUED jobs on session (a Session or Client), oldest first, at most
        max_jobs (0: all), each with two attempts (QvJournalSend).  ok is True when no queued
        job was left or max_jobs were sent, False when it stopped early (a job FAILED, the
        journal could not store a state): outcome says why.  outputs["Settled"] is how many
        jobs left QUEUED.  Raises QuorvexError instead of failing when the session was made
        with raise_on_failure."""
        check_int32(max_jobs, "max_jobs")
        settled = ctypes.c_int32()

        def run(pointer: Any) -> Result:
            with self._handle as journal:
                ok = bool(self.native.QvJournalSend(pointer, journal, max_jobs, ctypes.byref(settled)))
                outcome = None if ok else read_outcome(self.native, self.native.GetLastOutcome)
            return Result(ok, None, None, {"Settled": settled.value}, int(ok), outcome, "QvJournalSend")

        result = self._with_errors(lambda: session._with_session(run))
        if not result.ok and session.raise_on_failure:
            raise QuorvexError(result)
        return result

    def recover(self, session: Any = None) -> int:
        """Makes every job left SENDING UNKNOWN and, given a session (a Session or Client),
        looks each UNKNOWN job up and hands its evidence to the resolver; returns how many
        jobs it settled.  No job is sent again.  QuorvexError when the journal could not store
        a state or a look-up failed."""
        resolved = ctypes.c_int32()

        def run(pointer: Any) -> int:
            with self._handle as journal:
                if not self.native.QvJournalRecover(journal, pointer, ctypes.byref(resolved)):
                    raise self._failed("QvJournalRecover")
            return resolved.value

        if session is None:
            return self._with_errors(lambda: run(None))
        return self._with_errors(lambda: session._with_session(run))

    def resolve(self, id: int, state: JournalState, job_number: Optional[Text] = None) -> None:
        """The host settles job id: an UNKNOWN job to SUBMITTED (with its job_number), FAILED
        or QUEUED; a FAILED or REFUSED job back to QUEUED.  ValueError for any other change."""
        check_int64(id, "id")
        number = to_gbk(job_number, "job_number", self.native)
        with self._handle as journal:
            if not self.native.QvJournalResolve(journal, id, check_int32(int(state), "state"), number):
                raise self._failed("QvJournalResolve")

    def _keep_error(self, error: BaseException) -> None:
        raised = getattr(self._errors, "raised", None)
        if raised is not None:
            raised.append(error)


def _lent_evidence(native: Any, job: Any) -> Evidence:
    """The evidence of the job the library lends a resolver for the call alone."""
    texts = []
    for which in EvidenceKind:
        size, text = 0, None
        while True:
            buffer = ctypes.create_string_buffer(size) if size else None
            length = native.QvJobEvidence(job, which, buffer, size)
            if length < 0:
                break
            if length < size:
                text = from_gbk(buffer.raw[:length], native)
                break
            size = length + 1
        texts.append(text)
    return Evidence(*texts)


def _call_resolver(journal_ref):
    def resolver(job, _context):
        journal = journal_ref()
        if journal is None or journal._resolver is None:
            return Resolution.UNKNOWN
        try:
            return _answer(journal._resolver(_lent_evidence(journal.native, job)))
        except BaseException as error:  # noqa: B036  raised again once the call returns
            journal._keep_error(error)
            return Resolution.UNKNOWN
    return resolver
