"""A whole send job in one call: its plan of exports, and the run with recovery.

The plan, in this order and only for the fields given: SubmitAllClear; SubmitPrdId;
[CheckPrdId]; SubmitTelList per part of the numbers; SubmitTelNum; SubmitContent;
[CheckContent]; SubmitPushURL; SubmitBgnDate; SubmitEndDate; SubmitBgnTime; SubmitEndTime;
SubmitTransFilename; SubmitTransFile per base64 part; SubmitPQOrderSelect; SubmitBgnDateEx;
then SubmitAllOverEx_2 for a scheduled job (orders or a period), else SubmitAllOver_2.

A failed call is never sent again alone: fields such as the numbers and the file add up on
the server, so a resent field would be counted twice.  When the relogin after the failure
logged in and attempts remain, the whole job starts again from SubmitAllClear.  A submit
that failed with its request out may have been submitted, and is never sent again."""
import base64
import enum
from dataclasses import dataclass
from typing import Optional, Sequence

from .result import QV_CODE_ACCEPTED, Outcome

BODY_MAX_TEXT = 2047   # a field travels in one record's Body
PARAM_MAX_TEXT = 19    # an order travels in a Param
FILE_PART = 2044       # base64 characters per SubmitTransFile: whole groups of four within a Body
RELOGIN_LOGGED_IN = 1
ENCODING = "gbk"


class JobStatus(enum.IntEnum):
    SUBMITTED = 0        # the submit answered 900
    REFUSED = 1          # a call answered another code: nothing more was sent
    FAILED = 2           # a call failed before the job could have been submitted
    MAYBE_SUBMITTED = 3  # the submit failed with its request out: look the job up


@dataclass
class Job:
    """A send job; texts as str (sent as GBK).  Only the fields given are sent: None or an
    empty text (or empty file content) is a field left out."""
    product: str
    numbers: Sequence[str]
    content: Optional[str] = None
    url: Optional[str] = None
    begin_date: Optional[str] = None
    end_date: Optional[str] = None
    begin_time: Optional[str] = None
    end_time: Optional[str] = None
    file_name: Optional[str] = None
    file_content: Optional[bytes] = None
    orders: Sequence[str] = ()
    period: Optional[str] = None
    check: bool = False


@dataclass(frozen=True)
class JobResult:
    """What a job came to.

    status    a JobStatus
    step      the export the job ended on (the submit when SUBMITTED)
    code      that call's code (-1 when no answer arrived)
    message   that call's message: the job number when SUBMITTED
    outcome   that call's Outcome when it failed, else None
    attempts  how many times the job was started (1 or more)
    recipients, charged, left   the submit's three numbers when SUBMITTED
    look_up   when MAYBE_SUBMITTED, what to look the job up with before sending it again:
              LastDetails with the first number, or AllInfoPackId and InfoPackStatus"""
    status: JobStatus
    step: str
    code: int
    message: str
    outcome: Optional[Outcome]
    attempts: int
    recipients: int = 0
    charged: int = 0
    left: int = 0
    look_up: Optional[str] = None

    @property
    def submitted(self) -> bool:
        return self.status == JobStatus.SUBMITTED

    @property
    def job_number(self) -> Optional[str]:
        return self.message if self.submitted else None


def _text(value, what, limit=BODY_MAX_TEXT):
    if not isinstance(value, str):
        raise TypeError(f"{what}: a str is needed, not {type(value).__name__}")
    data = value.encode(ENCODING)  # a character GBK lacks raises UnicodeEncodeError, a ValueError
    if b"\0" in data:
        raise ValueError(f"{what}: a text cannot hold a zero byte")
    if len(data) > limit:
        raise ValueError(f"{what}: {len(data)} bytes in GBK, over the field's {limit}")
    return value


def _number_parts(numbers):
    """The numbers joined by "," into as few parts as fit a Body each."""
    if isinstance(numbers, (str, bytes)) or not numbers:
        raise ValueError("numbers: a list of one or more numbers is needed")
    parts, current = [], ""
    for i, number in enumerate(numbers):
        _text(number, f"numbers[{i}]")
        if not number or "," in number:
            raise ValueError(f"numbers[{i}]: {number!r} is not one number")
        joined = current + "," + number if current else number
        if len(joined.encode(ENCODING)) <= BODY_MAX_TEXT:
            current = joined
        else:
            parts.append(current)
            current = number
    return parts + [current]


def plan(job: Job):
    """[(export, inputs)] of the job, or ValueError/TypeError for anything that would not fit,
    before anything is sent."""
    if not job.product:
        raise ValueError("product: a job needs its product")
    steps = [("SubmitAllClear", ()), ("SubmitPrdId", (_text(job.product, "product"),))]
    if job.check:
        steps.append(("CheckPrdId", (job.product,)))
    steps += [("SubmitTelList", (part,)) for part in _number_parts(job.numbers)]
    steps.append(("SubmitTelNum", (str(len(job.numbers)),)))
    if job.content:
        steps.append(("SubmitContent", (_text(job.content, "content"),)))
        if job.check:
            steps.append(("CheckContent", ()))
    for export, name in (("SubmitPushURL", "url"), ("SubmitBgnDate", "begin_date"), ("SubmitEndDate", "end_date"),
                         ("SubmitBgnTime", "begin_time"), ("SubmitEndTime", "end_time"),
                         ("SubmitTransFilename", "file_name")):
        value = getattr(job, name)
        if value:
            steps.append((export, (_text(value, name),)))
    if job.file_content:
        if not isinstance(job.file_content, (bytes, bytearray)):
            raise TypeError("file_content: bytes are needed")
        encoded = base64.b64encode(bytes(job.file_content)).decode("ascii")
        steps += [("SubmitTransFile", (encoded[i:i + FILE_PART],)) for i in range(0, len(encoded), FILE_PART)]
    orders = list(job.orders or ())
    if len(orders) > 3:
        raise ValueError(f"orders: at most 3, not {len(orders)}")
    if orders:
        texts = [_text(o, f"orders[{i}]", PARAM_MAX_TEXT) for i, o in enumerate(orders)]
        steps.append(("SubmitPQOrderSelect", tuple(texts + [""] * (3 - len(texts)))))
    if job.period:
        steps.append(("SubmitBgnDateEx", (_text(job.period, "period"),)))
    steps.append(("SubmitAllOverEx_2" if orders or job.period else "SubmitAllOver_2", ()))
    return steps


def run_job(caller, job: Job, attempts: int = 2, progress=None) -> JobResult:
    """Runs plan(job) on caller (a Client or a Session)."""
    if isinstance(attempts, bool) or not isinstance(attempts, int) or attempts < 1:
        raise ValueError("attempts: 1 or more")
    steps = plan(job)
    submit = steps[-1][0]
    attempt = 0
    while True:
        attempt += 1
        for export, inputs in steps:
            if progress:
                progress(attempt, export)
            r = caller.call(export, *inputs)
            if r.ok and r.code != QV_CODE_ACCEPTED:
                return JobResult(JobStatus.REFUSED, export, r.code, r.message, None, attempt)
            if r.ok:
                continue
            if export == submit and r.outcome is not None and r.outcome.sent:
                return JobResult(JobStatus.MAYBE_SUBMITTED, export, r.code, r.message, r.outcome, attempt,
                                 look_up=f"LastDetails with the first number ({job.numbers[0]}), "
                                         "or AllInfoPackId and InfoPackStatus")
            if attempt < attempts and caller.last_relogin().relogin == RELOGIN_LOGGED_IN:
                break  # connected and logged in again: the whole job, from its clear
            return JobResult(JobStatus.FAILED, export, r.code, r.message, r.outcome, attempt)
        else:
            n = r.outputs
            return JobResult(JobStatus.SUBMITTED, submit, r.code, r.message, None, attempt,
                             n["Number1"], n["Number2"], n["Number3"])
