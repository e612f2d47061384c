"""Python binding of the Quorvex client library (ctypes; nothing to compile).

    import quorvex
    with quorvex.Client() as qv:
        qv.connect("127.0.0.1", 9000)
        if qv.login("demo", "demo123").accepted:
            print(qv.NumRule().message)

Every export is a method with its header's signature and documentation (help(quorvex.Client)),
returning a Result; Session.send_job sends a whole quorvex.Job (QvSendJob) and returns a
JobResult; quorvex.aio.AsyncSession has the same methods as async ones, for asyncio hosts.
quorvex.Journal keeps jobs in a file, so that none is sent twice or lost across a crash.
Calls report failures in their Result; Result.check(), or raise_on_failure=True
on a Client or Session, turns them into QuorvexError.  Texts go out as GBK through the
library's own conversion (quorvex.to_gbk, quorvex.from_gbk): a str that GBK cannot hold is
refused, bytes are taken as GBK.

The library is found inside the package (a platform wheel), then through QUORVEX_LIBRARY,
then under its usual names."""
from ._native import *  # noqa: F401,F403  the header's constants
from ._native import EXPORTS, length_prefixed, load  # noqa: F401
from ._api import (EvidenceKind, JobField, JobOption, JobStatus, OutcomeKind, PathKind, ProtocolKind,  # noqa: F401
                   ReloginKind, Resolution, StateFlag, TextEncoding)
from ._api import JournalState  # noqa: F401
from .client import Client, Session, SessionClosedError  # noqa: F401
from .jobs import Evidence, Job, JobClosedError, JobOutcome, JobResult  # noqa: F401
from .journal import Journal, JournalClosedError, JournalJob  # noqa: F401
from .text import from_gbk, to_gbk  # noqa: F401
from .result import ConnectionState, Outcome, QuorvexError, Relogin, Result  # noqa: F401

__version__ = "0.1.0"
