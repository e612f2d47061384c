"""A send job: the library's QvJob, sent by Session.send_job or Client.send_job (QvSendJob).

The library holds the job's plan, its recovery rules, its limits and its encoding; this
module only hands it the fields and reads back how the job ended.  See the README's
"Sending a job" and the header's "Send jobs"."""
import ctypes
import threading
import weakref
from dataclasses import dataclass
from typing import Any, Callable, Iterable, NamedTuple, Optional, Sequence, Union

from . import _native
from ._api import EvidenceKind, JobField, JobOption, JobStatus, OutcomeKind, ReloginKind, Resolution, TextEncoding
from ._handle import Handle
from .result import as_kind, read_outcome
from .text import Text, _detail, from_gbk, to_gbk

ORDERS = (JobField.ORDER1, JobField.ORDER2, JobField.ORDER3)


class JobOutcome(NamedTuple):
    """QvJobOutcome: the outcome of the call the job ended on (an OutcomeKind), whether its
    whole request was out, the kind of its relogin (a ReloginKind), its socket error and
    the Detail."""
    outcome: int
    sent: bool
    relogin: int
    socket_error: int
    detail: str


class Evidence(NamedTuple):
    """QvJobEvidence: the replies taken with the evidence option, None where not taken.
    Their formats are the server's."""
    packages_before: Optional[str] = None
    details_before: Optional[str] = None
    packages_after: Optional[str] = None
    details_after: Optional[str] = None


@dataclass(frozen=True)
class JobResult:
    """How a job's send ended (QvJobResult, QvJobOutcome, QvJobEvidence).

    status      a JobStatus: SUBMITTED, REFUSED (the server answered another code than 900:
                not submitted), FAILED (not submitted; safe to send again),
                MAYBE_SUBMITTED (the submit went out and its answer is unknown: look the job
                up before sending it again) or CANCELLED (stopped before the submit was out)
    step        the request code of the call the job ended on (0 when it ended before any)
    attempts    how many times the job was started
    code        that call's result code (-1 for none)
    message     that call's message
    job_number  the job's number when submitted, else ""
    recipients, charged, left   the submit's three numbers (0 unless submitted)
    outcome     a JobOutcome: why the call ended as it did
    evidence    an Evidence"""
    status: JobStatus
    step: int
    attempts: int
    code: int
    message: str
    job_number: str
    recipients: int
    charged: int
    left: int
    outcome: JobOutcome
    evidence: Evidence

    @property
    def submitted(self) -> bool:
        """The server accepted the job (status SUBMITTED)."""
        return self.status == JobStatus.SUBMITTED


def check_attempts(attempts: int) -> int:
    """attempts when it is an int from 1 to the int32 maximum; TypeError or ValueError otherwise."""
    if isinstance(attempts, bool) or not isinstance(attempts, int):
        raise TypeError(f"attempts: an int is needed, not {type(attempts).__name__}")
    if not 1 <= attempts <= 2**31 - 1:
        raise ValueError(f"attempts: 1 or more, not {attempts}")
    return attempts


class JobClosedError(ValueError):
    """A use of a Job after its close."""


class _TextField:
    """A text field of the job: set in the library at once, read back as it was given."""

    def __init__(self, field: JobField):
        self.field = field

    def __set_name__(self, owner: type, name: str) -> None:
        self.name = name

    def __get__(self, job: Optional["Job"], owner: Optional[type] = None) -> Any:
        return self if job is None else job._texts.get(self.name)

    def __set__(self, job: "Job", value: Optional[Text]) -> None:
        job._set_text(self.field, value, self.name)
        job._texts[self.name] = value or None


Progress = Callable[[int, int], None]
Resolver = Callable[["Job"], Union[Resolution, int, bool, None]]


class Job:
    """A send job (QvJobCreate ... QvJobDestroy).

    Texts are str (converted to GBK strictly) or bytes (GBK as they are); None or an empty
    text is a field not sent.  Each field is handed to the library as it is set, so a text
    that does not fit (a character GBK lacks, a zero byte, longer than its field) raises
    ValueError at once, naming it.  numbers are added one by one (add_number); file is the
    multimedia file's bytes, which the library encodes and splits.

    check       CheckPrdId after the product, CheckContent after the content
    evidence    take AllInfoPackId and LastDetails of the first number before the submit and
                after a "maybe", for the resolver and the result's evidence
    wait        milliseconds to wait for another job of the same account (None: the
                library's default; 0: end FAILED at once)
    progress    progress(step, attempt), called on the sending thread before each call with
                the request code of the call and the attempt (1, 2, ...)
    resolver    resolver(job), called on the sending thread after a "maybe submitted": a host
                that knows its server's formats reads job.evidence_text(kind) and answers a
                Resolution (True for SUBMITTED, False for NOT_SUBMITTED, None for UNKNOWN)

    An exception raised by progress cancels the job; one raised by either is raised again
    by send_job once the send has returned (job.result() still says how it ended).
    cancel() from any thread ends a send in progress (CANCELLED, or MAYBE_SUBMITTED when the
    submit was out).  A job may be sent again; close() (or leaving the with block, or its
    collection) cancels a send in progress and frees it."""

    product = _TextField(JobField.PRODUCT)
    content = _TextField(JobField.CONTENT)
    push_url = _TextField(JobField.PUSH_URL)
    file_name = _TextField(JobField.FILE_NAME)
    begin_date = _TextField(JobField.BEGIN_DATE)
    end_date = _TextField(JobField.END_DATE)
    begin_time = _TextField(JobField.BEGIN_TIME)
    end_time = _TextField(JobField.END_TIME)
    period = _TextField(JobField.PERIOD)

    def __init__(self, product: Optional[Text] = None, numbers: Iterable[Text] = (), content: Optional[Text] = None,
                 *, push_url: Optional[Text] = None, file_name: Optional[Text] = None, file: Optional[bytes] = None,
                 begin_date: Optional[Text] = None, end_date: Optional[Text] = None,
                 begin_time: Optional[Text] = None, end_time: Optional[Text] = None, orders: Sequence[Text] = (),
                 period: Optional[Text] = None, check: bool = False, evidence: bool = False,
                 wait: Optional[int] = None, progress: Optional[Progress] = None,
                 resolver: Optional[Resolver] = None, library: Optional[str] = None) -> None:
        self.native = _native.library(library)
        pointer = self.native.QvJobCreate()
        if not pointer:
            raise MemoryError("QvJobCreate: out of memory or out of job handles")
        self._handle = Handle(pointer, self.native.QvJobCancel, self.native.QvJobDestroy,
                              lambda: JobClosedError("the job is closed"))
        self._finalizer = weakref.finalize(self, self._handle.close)
        self._texts, self._numbers, self._orders, self._file = {}, [], (), None
        self._check = self._evidence = False
        self._wait = self._progress = self._resolver = None
        self._callbacks = {}  # the ctypes callbacks the library holds, kept alive with the job
        self._errors = threading.local()
        for name, value in (("product", product), ("content", content), ("push_url", push_url),
                            ("file_name", file_name), ("begin_date", begin_date), ("end_date", end_date),
                            ("begin_time", begin_time), ("end_time", end_time), ("period", period)):
            if value:
                setattr(self, name, value)
        if isinstance(numbers, (str, bytes, bytearray)):
            raise TypeError("numbers: a sequence of numbers is needed, not one text")
        for number in numbers:
            self.add_number(number)
        if orders:
            self.orders = orders
        if file:
            self.file = file
        self.check, self.evidence = check, evidence
        if wait is not None:
            self.wait = wait
        self.progress, self.resolver = progress, resolver

    def __enter__(self) -> "Job":
        return self

    def __exit__(self, *exc: Any) -> bool:
        self.close()
        return False

    def close(self) -> None:
        """Cancels a send in progress, waits for it to return and frees the job; idempotent."""
        self._finalizer()

    @property
    def closed(self) -> bool:
        """Whether close() was called (or the job was collected)."""
        return self._handle.closed

    def _refused(self, name: str) -> ValueError:
        return ValueError(f"{name}: {_detail(self.native) or 'refused by the library'}")

    def _set(self, name: str, function, *args) -> None:
        with self._handle as pointer:
            if not function(pointer, *args):
                raise self._refused(name)

    def _set_text(self, field: JobField, value: Optional[Text], name: str) -> None:
        data = to_gbk(value or None, name, self.native, terminated=False)
        self._set(name, self.native.QvJobSetText, field, data, len(data or b""), TextEncoding.GBK)

    # Recipients

    @property
    def numbers(self) -> tuple:
        """The recipients' numbers, in the order added."""
        return tuple(self._numbers)

    def add_number(self, number: Text) -> None:
        """Adds a recipient (QvJobAddNumber)."""
        self._set(f"numbers[{len(self._numbers)}]", self.native.QvJobAddNumber,
                  to_gbk(number, f"numbers[{len(self._numbers)}]", self.native))
        self._numbers.append(number)

    # Scheduled orders and the file

    @property
    def orders(self) -> tuple:
        """Up to three scheduled orders (SubmitPQOrderSelect)."""
        return self._orders

    @orders.setter
    def orders(self, orders: Sequence[Text]) -> None:
        if isinstance(orders, (str, bytes, bytearray)):
            raise TypeError("orders: a sequence of orders is needed, not one text")
        orders = tuple(orders or ())
        if len(orders) > len(ORDERS):
            raise ValueError(f"orders: at most {len(ORDERS)}, not {len(orders)}")
        given = orders + (None,) * (len(ORDERS) - len(orders))
        before = self._orders + (None,) * (len(ORDERS) - len(self._orders))
        try:
            for i, (field, order) in enumerate(zip(ORDERS, given)):
                self._set_text(field, order, f"orders[{i}]")
        except ValueError:
            for field, order in zip(ORDERS, before):  # as they were: the job stays whole
                self._set_text(field, order, "orders")
            raise
        self._orders = tuple(o for o in orders if o)

    @property
    def file(self) -> Optional[bytes]:
        """The multimedia file's bytes (QvJobSetFile); None for none."""
        return self._file

    @file.setter
    def file(self, data: Optional[Union[bytes, bytearray, memoryview]]) -> None:
        if data is not None and not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"file: bytes are needed, not {type(data).__name__}")
        data = bytes(data or b"")
        self._set("file", self.native.QvJobSetFile, data, len(data))
        self._file = data or None

    # Options and callbacks

    @property
    def check(self) -> bool:
        """CheckPrdId after the product, CheckContent after the content."""
        return self._check

    @check.setter
    def check(self, on: bool) -> None:
        self._set("check", self.native.QvJobSetOption, JobOption.CHECK, int(bool(on)))
        self._check = bool(on)

    @property
    def evidence(self) -> bool:
        """Take AllInfoPackId and LastDetails before the submit and after a \"maybe\"."""
        return self._evidence

    @evidence.setter
    def evidence(self, on: bool) -> None:
        self._set("evidence", self.native.QvJobSetOption, JobOption.EVIDENCE, int(bool(on)))
        self._evidence = bool(on)

    @property
    def wait(self) -> Optional[int]:
        """Milliseconds to wait for another job of the same account (None: the library's default)."""
        return self._wait

    @wait.setter
    def wait(self, milliseconds: Optional[int]) -> None:
        if milliseconds is not None and (isinstance(milliseconds, bool) or not isinstance(milliseconds, int)):
            raise TypeError(f"wait: an int of milliseconds is needed, not {type(milliseconds).__name__}")
        value = _native.QV_JOB_WAIT_DEFAULT_MS if milliseconds is None else milliseconds
        self._set("wait", self.native.QvJobSetOption, JobOption.WAIT, value)
        self._wait = milliseconds

    @property
    def progress(self) -> Optional[Progress]:
        """progress(step, attempt), called on the sending thread before each call."""
        return self._progress

    @progress.setter
    def progress(self, progress: Optional[Progress]) -> None:
        function = None
        if progress is not None:
            function = _native.CALLBACK(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32)(
                _call_progress(weakref.ref(self)))
        self._set("progress", self.native.QvJobSetProgress, function, None)
        self._progress, self._callbacks["progress"] = progress, function

    @property
    def resolver(self) -> Optional[Resolver]:
        """resolver(job), called on the sending thread after a \"maybe submitted\"."""
        return self._resolver

    @resolver.setter
    def resolver(self, resolver: Optional[Resolver]) -> None:
        function = None
        if resolver is not None:
            function = _native.CALLBACK(ctypes.c_int32, ctypes.c_void_p, ctypes.c_void_p)(
                _call_resolver(weakref.ref(self)))
        self._set("resolver", self.native.QvJobSetResolver, function, None)
        self._resolver, self._callbacks["resolver"] = resolver, function

    # Sending, cancelling, reading back

    def cancel(self) -> None:
        """Ends the send in progress from any thread (QvJobCancel); a cancel while the job is
        not being sent ends its next send before its first call."""
        with self._handle as pointer:
            self.native.QvJobCancel(pointer)

    def _send(self, send: Callable[[Callable[[int], int]], int], attempts: int) -> "JobResult":
        """Runs QvSendJob through send(function of the session pointer); what Session and
        Client's send_job share."""
        check_attempts(attempts)
        with self._handle as pointer:
            self._errors.raised = []
            try:
                sent = send(lambda session: self.native.QvSendJob(session, pointer, attempts))
                # The thread's outcome is the call the job ended on, or the refusal of the send
                # itself: an argument named (the session, the job), nothing sent.
                outcome = read_outcome(self.native, self.native.GetLastOutcome)
                if not sent and outcome.outcome == OutcomeKind.REFUSED and outcome.argument:
                    raise ValueError(f"send_job: {outcome.detail}")
                result = self._result(pointer)
            finally:
                raised, self._errors.raised = self._errors.raised, []
        if raised:
            raise raised[0]
        return result

    def result(self) -> Optional[JobResult]:
        """How the job's last send ended; None before any send ended."""
        with self._handle as pointer:
            result = self._result(pointer)
        return result if isinstance(result.status, JobStatus) else None

    def evidence_text(self, which: EvidenceKind) -> Optional[str]:
        """One reply of the last send's evidence (QvJobEvidence), None where not taken."""
        with self._handle as pointer:
            return self._evidence_text(pointer, which)

    def _evidence_text(self, pointer, which) -> Optional[str]:
        size = 0
        while True:
            buffer = ctypes.create_string_buffer(size) if size else None
            length = self.native.QvJobEvidence(pointer, which, buffer, size)
            if length < 0:
                return None
            if length < size:
                return from_gbk(buffer.raw[:length], self.native)
            size = length + 1

    def _result(self, pointer) -> JobResult:
        numbers = [ctypes.c_int32() for _ in range(7)]
        status, step, attempts, code, recipients, charged, left = numbers
        message = ctypes.create_string_buffer(_native.QV_BODY_BUFFER_SIZE)
        job_number = ctypes.create_string_buffer(_native.QV_PARAM_BUFFER_SIZE)
        self.native.QvJobResult(pointer, *map(ctypes.byref, (status, step, attempts, code)), message, job_number,
                                *map(ctypes.byref, (recipients, charged, left)))
        outcome, sent, relogin, socket_error = (ctypes.c_int32() for _ in range(4))
        detail = ctypes.create_string_buffer(_native.QV_DETAIL_BUFFER_SIZE)
        self.native.QvJobOutcome(pointer, *map(ctypes.byref, (outcome, sent, relogin, socket_error)), detail,
                                 len(detail))
        return JobResult(
            as_kind(JobStatus, status.value), step.value, attempts.value, code.value,
            from_gbk(message.value, self.native), from_gbk(job_number.value, self.native),
            recipients.value, charged.value, left.value,
            JobOutcome(as_kind(OutcomeKind, outcome.value), bool(sent.value), as_kind(ReloginKind, relogin.value),
                       socket_error.value, from_gbk(detail.value, self.native)),
            Evidence(*(self._evidence_text(pointer, which) for which in EvidenceKind)))

    def _keep_error(self, error: BaseException) -> None:
        raised = getattr(self._errors, "raised", None)
        if raised is not None:
            raised.append(error)


def _call_progress(job_ref):
    def progress(_job, _context, step, attempt):
        job = job_ref()
        if job is None or job._progress is None:
            return
        try:
            job._progress(step, attempt)
        except BaseException as error:  # noqa: B036  a host's error (Ctrl-C too) ends the send
            job._keep_error(error)
            job.native.QvJobCancel(job._handle.pointer)
    return progress


def _call_resolver(job_ref):
    def resolver(_job, _context):
        job = job_ref()
        if job is None or job._resolver is None:
            return Resolution.UNKNOWN
        try:
            answer = job._resolver(job)
            if answer is None or isinstance(answer, bool):
                return {None: Resolution.UNKNOWN, True: Resolution.SUBMITTED, False: Resolution.NOT_SUBMITTED}[answer]
            return Resolution(answer)
        except BaseException as error:  # noqa: B036  raised again once the send returns
            job._keep_error(error)
            return Resolution.UNKNOWN
    return resolver
