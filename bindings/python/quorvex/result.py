"""What a call comes to: its Result, the outcome kinds' records, and the exception that
carries them for hosts that prefer one."""
import ctypes
import enum
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, NamedTuple, Optional, Type, TypeVar, Union

from . import _native
from ._constants import QV_CODE_ACCEPTED, QV_FX_SUCCESS, QV_STATE_CONNECTED, QV_STATE_LOGGED_IN
from .text import from_gbk

K = TypeVar("K", bound=enum.IntEnum)


def as_kind(kind: Type[K], value: int) -> Union[K, int]:
    """value as a member of kind, or the bare int from a library newer than this binding."""
    try:
        return kind(value)
    except ValueError:
        return value


class Outcome(NamedTuple):
    """GetLastOutcome: outcome is an OutcomeKind; sent is True when the whole request was
    out, so that the server may have acted on it."""
    outcome: int
    sent: bool
    argument: int
    socket_error: int
    detail: str


def read_outcome(native: Any, function: Callable[..., Any], *session: Any) -> Outcome:
    """GetLastOutcome (or QvGetLastOutcome on session) as an Outcome."""
    from ._api import OutcomeKind  # _api's methods return Results: imported once both exist
    numbers = [ctypes.c_int32() for _ in range(4)]
    detail = ctypes.create_string_buffer(_native.QV_DETAIL_BUFFER_SIZE)
    function(*session, *map(ctypes.byref, numbers), detail, len(detail))
    outcome, sent, argument, socket_error = (n.value for n in numbers)
    return Outcome(as_kind(OutcomeKind, outcome), bool(sent), argument, socket_error, from_gbk(detail.value, native))


class Relogin(NamedTuple):
    """GetLastRelogin: relogin is a ReloginKind."""
    relogin: int
    server_code: int
    socket_error: int
    detail: str


class ConnectionState(NamedTuple):
    """GetConnectionState: state is a StateFlag, path a PathKind, login_protocol a ProtocolKind."""
    state: int
    path: int
    login_protocol: int
    login_code: int

    @property
    def connected(self) -> bool:
        """The connection is open."""
        return bool(self.state & QV_STATE_CONNECTED)

    @property
    def logged_in(self) -> bool:
        """The last login on this connection was accepted."""
        return bool(self.state & QV_STATE_LOGGED_IN)


@dataclass(frozen=True, init=False)
class Result:
    """What an export came to.

    ok       the export's one-byte result (True: the exchange completed)
    code     the result code or XML reply code (-1: no answer arrived), None when it has none
    message  the message buffer as text, None when it has none
    outputs  the other outputs by their header names (Param1, Number1, Value, ...)
    value    the export's raw result (CheckTels' classification)
    outcome  when ok is False, the call's Outcome (GetLastOutcome taken right after it)
    export   the export's name"""
    ok: bool
    code: Optional[int] = None
    message: Optional[str] = None
    outputs: Dict[str, Union[int, str]] = field(default_factory=dict)
    value: int = 0
    outcome: Optional[Outcome] = None
    export: str = ""

    def __init__(self, ok: bool, code: Optional[int] = None, message: Optional[str] = None,
                 outputs: Optional[Dict[str, Union[int, str]]] = None, value: int = 0,
                 outcome: Optional[Outcome] = None, export: str = "") -> None:
        # Every call makes one: filled in place, which costs half of a frozen class's own
        # __init__ (one object.__setattr__ a field).
        d = self.__dict__
        d["ok"] = ok
        d["code"] = code
        d["message"] = message
        d["outputs"] = {} if outputs is None else outputs
        d["value"] = value
        d["outcome"] = outcome
        d["export"] = export

    def __bool__(self):
        return self.ok

    @property
    def accepted(self) -> bool:
        """The exchange completed and the server accepted the request."""
        return self.ok and self.code in (QV_CODE_ACCEPTED, QV_FX_SUCCESS)

    def check(self) -> "Result":
        """Returns the Result when the call completed and, where it has a code, the server
        accepted it; otherwise raises QuorvexError carrying it."""
        if not self.ok or (self.code is not None and not self.accepted):
            raise QuorvexError(self)
        return self


class QuorvexError(Exception):
    """A call that failed (result 0: outcome says why) or that the server refused (code).

    Raised by Result.check(), and by every call that returns 0 on a Client or Session made
    with raise_on_failure=True.  Nothing else raises it: by default a failure is a Result."""

    def __init__(self, result: Result) -> None:
        self.result = result
        self.outcome = result.outcome
        self.code = result.code
        if not result.ok:
            why = f"failed: {result.message or ''}" + (f" ({result.outcome.detail})" if result.outcome else "")
        else:
            why = f"refused with {result.code}: {result.message or ''}"
        super().__init__(f"{result.export or 'the call'} {why}".rstrip())
