"""An idiomatic client over the ctypes declarations: str in and out, results as values."""
import ctypes
import functools
import os
import weakref
from typing import Any, Callable, Dict, Optional, TypeVar, Union

from . import _native
from ._api import ClientExports, OutcomeKind, ReloginKind, SessionExports, StateFlag
from ._handle import Handle
from ._native import EXPORTS
from .jobs import Job, JobResult
from .text import Text
from .result import ConnectionState, Outcome, QuorvexError, Relogin, Result, as_kind, read_outcome
from .text import from_gbk, to_gbk

INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
T = TypeVar("T")


def takes_session(export: _native.Export) -> bool:
    """Whether the export's first parameter is a session (a twin, or a session's own export)."""
    return bool(export.params) and export.params[0][0] == "session"


def adapted(export: _native.Export) -> bool:
    """The job's exports, the text conversions, the operations' queues and starters and the
    journal, which have classes of their own (Job, send_job, quorvex.text, the asynchronous
    layer, the journal) rather than a generic call."""
    kinds = (export.result, *(role for role, _ in export.params))
    return "job" in kinds or "queue" in kinds or "op" in kinds or "journal" in kinds or \
        export.name in ("QvGbkFromUtf8", "QvUtf8FromGbk")


def check_int32(value: int, name: str) -> int:
    """value, when it is an int (not a bool) that fits an int32; TypeError or OverflowError
    naming the input otherwise."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name}: an int is needed, not {type(value).__name__}")
    if not INT32_MIN <= value <= INT32_MAX:
        raise OverflowError(f"{name}: {value} does not fit an int32")
    return value


def fx_text_size(reply_length: int) -> int:
    """Room for a text taken from an XML reply of reply_length bytes.

    The header asks for the reply length plus one; a one-byte character of some
    encodings becomes two in GBK, so twice that, and never below a message buffer."""
    length = min(max(reply_length, 0), _native.QV_FX_REPLY_MAX)
    return max(_native.QV_BODY_BUFFER_SIZE, 2 * length + 1)


# How a _Plan makes each argument.
_TEXT, _PREFIXED, _INT, _NUMBER, _SIZE, _BUFFER = "text", "prefixed", "int", "number", "size", "buffer"


class _Plan:
    """An export's call worked out once, so that a call only makes its arguments: how each
    one is made (kind, name, role), the inputs' names, and whether the result is one byte."""
    __slots__ = ("export", "function", "steps", "inputs", "boolean")

    def __init__(self, export: "_native.Export") -> None:
        self.export, self.function = export, export.name
        self.boolean = export.result == "bool"
        self.inputs = [name for role, name in export.params if role in ("text", "prefixed", "int")]
        kinds = {"text": _TEXT, "prefixed": _PREFIXED, "int": _INT, "code": _NUMBER, "out": _NUMBER, "reply_code": _NUMBER, "size": _SIZE}
        # The session is passed by _invoke, for no longer than the call.
        self.steps = tuple((kinds.get(role, _BUFFER), name, role) for role, name in export.params if role != "session")


class _Exports:
    """The generic call and the common steps, shared by Client and Session.

    Every export reachable from the object is a method under its export's name (generated
    in _api.py with its signature and documentation), taking the header's inputs in order
    (texts as str, bytes or None; int32 as int) and returning a Result; output buffers are
    made here at their documented sizes.  A call that returns 0 carries its outcome in the
    Result, and raises QuorvexError instead when raise_on_failure is set."""

    # Worked out once per export and per class (Client and Session name exports apart).
    _plans: Dict[str, "_Plan"] = {}

    def _export(self, name):
        raise NotImplementedError

    def _invoke(self, plan, arguments):
        """(the export's result, its Outcome when it returned 0, else None)."""
        raise NotImplementedError

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        try:
            self._export(name)
        except LookupError:
            raise AttributeError(name) from None
        except TypeError:
            pass  # an export of the other kind: calling it says which object to call it on
        return functools.partial(self.call, name)

    raise_on_failure = False

    def call(self, export_name: str, *args: Any, **kwargs: Any) -> Result:
        """Any export by its name, its inputs in the header's order or by name."""
        inputs = self._plan(export_name).inputs
        given = dict(zip(inputs, args))
        if len(args) > len(inputs):
            raise TypeError(f"{export_name} takes {len(inputs)} inputs ({', '.join(inputs)})")
        for name, value in kwargs.items():
            if name not in inputs or name in given:
                raise TypeError(f"{export_name}: unexpected or repeated input {name}")
            given[name] = value
        return self._call_given(export_name, given)

    def _plan(self, export_name):
        plan = self._plans.get(export_name)
        if plan is None:
            plan = self._plans[export_name] = _Plan(self._export(export_name))
        return plan

    def _call_given(self, export_name, given):
        plan = self._plans.get(export_name) or self._plan(export_name)
        native = self.native
        if plan.steps:
            arguments, outputs, keep = self._arguments(plan, given)
        else:
            arguments, outputs, keep = (), None, None
        value, outcome = self._invoke(plan, arguments)
        del keep  # the storage of length-prefixed inputs, alive until the call returned
        code = message = None
        result = {}
        if outputs:
            for name, out in outputs.items():
                result[name] = out.value if type(out) is ctypes.c_int32 else from_gbk(out.value, native)
            code = result.pop("Code", None)
            message = result.pop("Message", None)
        ok = bool(value) if plan.boolean else True
        answer = Result(ok, code, message, result, 0 if value is None else int(value), outcome, export_name)
        if not ok and self.raise_on_failure:
            raise QuorvexError(answer)
        return answer

    def _arguments(self, plan, given):
        """(the arguments, the output buffers by name, what must outlive the call)."""
        arguments, keep, outputs = [], [], {}
        for kind, name, role in plan.steps:
            if kind is _TEXT:
                arguments.append(to_gbk(given.get(name), name, self.native))
            elif kind is _PREFIXED:
                # The length travels with the text, so a zero byte in it is taken as sent.
                data = to_gbk(given.get(name), name, self.native, terminated=False)
                if data is None:
                    arguments.append(None)
                else:
                    storage, pointer = _native.length_prefixed(data)
                    keep.append(storage)
                    arguments.append(pointer)
            elif kind is _INT:
                if name not in given:
                    raise TypeError(f"{plan.export.name}: input {name} is missing")
                arguments.append(check_int32(given[name], name))
            elif kind is _NUMBER:
                # ctypes passes a c_int32 by reference where the parameter is its pointer.
                outputs[name] = number = ctypes.c_int32(-1 if role == "code" else 0)
                arguments.append(number)
            elif kind is _SIZE:
                arguments.append(len(outputs["Detail"]))
            else:
                outputs[name] = buffer = ctypes.create_string_buffer(self._buffer_size(role, given))
                arguments.append(buffer)
        return arguments, outputs, keep

    @staticmethod
    def _buffer_size(role, given):
        if role == "fxtext":
            return fx_text_size(check_int32(given.get("ReplyLength", 0), "ReplyLength"))
        if role == "sized":
            # The library refuses a size below 1; it still gets a real byte to point at.
            return max(1, check_int32(given.get("ResponseSize", 0), "ResponseSize"))
        return _native.BUFFER_SIZES[role]

    # The common steps, spelled for Python.

    def connect(self, host: Text, port: int, timeout: int = 5000, proxy_kind: Optional[Text] = None,
                proxy_host: Optional[Text] = None, proxy_port: int = 0, proxy_user: Optional[Text] = None,
                proxy_password: Optional[Text] = None) -> Result:
        """TcpConnect with defaults: connects to host:port within timeout milliseconds,
        directly or through the proxy that proxy_kind names ("socks4", "socks5" or "http" in
        any letter case; None: none).  ok when the connection is open; the message is the library's text for it."""
        return self.TcpConnect(host, port, timeout, proxy_kind, proxy_host, proxy_port,
                               proxy_user, proxy_password)

    def login(self, name: Text, password: Text, app: Text = "", extra: Text = "", version: Text = "") -> Result:
        """Login_Request then Login_Feedback; accepted when the code is 900."""
        request = self.Login_Request(app, extra, name, password, version)
        return self.Login_Feedback() if request.ok else request

    def fx(self, operation: str, *args: Any) -> Result:
        """An XML operation, both halves: fx("fxNumRule") runs fxNumRule_Req and _Resp.
        The Result's code is the reply code (QV_FX_SUCCESS when the server accepted)."""
        request = self.call(operation + "_Req", *args)
        if not request.ok:
            return request
        reply_code, reply_length = request.outputs["ReplyCode"], request.outputs["ReplyLength"]
        response = self.call(operation + "_Resp", reply_code, reply_length)
        return Result(response.ok, reply_code, response.message, response.outputs, response.value,
                      response.outcome, operation)

    def set_read_timeout(self, milliseconds: int) -> bool:
        """SetReadTimeout: the time-out of each blocking operation that starts after it (a
        request written, an answer read, a proxy handshake), in milliseconds; 0 or below waits
        without limit.  True when the library took it."""
        return self.SetReadTimeout(milliseconds).ok

    def last_outcome(self) -> Outcome:
        """What the calling thread's last call came to (GetLastOutcome; on a Session, the
        calling thread's last call on that session)."""
        r = self.GetLastOutcome().outputs
        return Outcome(as_kind(OutcomeKind, r["Outcome"]), bool(r["Sent"]), r["Argument"], r["SocketError"],
                       r["Detail"])

    def last_relogin(self) -> Relogin:
        """What the relogin after the calling thread's last failed call came to."""
        r = self.GetLastRelogin().outputs
        return Relogin(as_kind(ReloginKind, r["Relogin"]), r["ServerCode"], r["SocketError"], r["Detail"])

    def connection_state(self) -> ConnectionState:
        """GetConnectionState: whether the connection is open and logged in (state, a
        StateFlag; .connected, .logged_in), the path it took and the last login's protocol
        and code."""
        r = self.GetConnectionState().outputs
        return ConnectionState(StateFlag(r["State"]), r["Path"], r["LoginProtocol"], r["LoginCode"])

    def send_job(self, job: Job, attempts: int = 2) -> JobResult:
        """Sends a whole job (QvSendJob): its clear, its fields and its submit, with the
        recovery rules of the README's "Sending a job", and returns how it ended.  A job
        that ended, however it ended, is a JobResult, never an exception; ValueError only for
        a job the library refused before any call (no product, no numbers, a job being sent
        already).  job.cancel() or closing the session from another thread ends the send:
        CANCELLED, or MAYBE_SUBMITTED when the submit was out."""
        return job._send(self._with_session, attempts)

    def _with_session(self, function: Callable[[Any], T]) -> T:
        """function(session pointer) on this object's session."""
        raise NotImplementedError


class Client(_Exports, ClientExports):
    """The library and its default session, one method per export.

    As a context manager it initialises the library and, on leaving, disconnects and
    releases it."""

    _plans: Dict[str, _Plan] = {}

    def __init__(self, library: Optional[str] = None, raise_on_failure: bool = False) -> None:
        """library: the library's path (None: found as the package says); raise_on_failure:
        a call that returns 0 raises QuorvexError instead of returning its Result."""
        self.native = _native.library(library)
        self.raise_on_failure = raise_on_failure

    def __enter__(self) -> "Client":
        self.native.dllInitialize()
        return self

    def __exit__(self, *exc: Any) -> bool:
        self.native.TcpDisconnect()
        self.native.dllUnInitialize()
        return False

    def __dir__(self):
        return sorted(set(super().__dir__())
                      | {n for n, e in EXPORTS.items() if not takes_session(e) and not adapted(e)})

    def _export(self, name):
        export = EXPORTS[name]
        if takes_session(export):
            raise TypeError(f"{name} acts on the session given first: call it on a quorvex.Session")
        if adapted(export):
            raise TypeError(f"{name} is reached through quorvex.Job, send_job and quorvex.text")
        return export

    def _invoke(self, plan, arguments):
        value = getattr(self.native, plan.function)(*arguments)
        if plan.boolean and not value:
            # Taken at once, before another call of this thread replaces it.
            return value, read_outcome(self.native, self.native.GetLastOutcome)
        return value, None

    def _with_session(self, function):
        session = self.native.QvDefaultSession()
        if not session:
            raise ValueError("send_job: the default session exists between dllInitialize and its release")
        return function(session)

    def check_tels(self, number: Text, carrier_list: Text) -> int:
        """CheckTels: 1 China Mobile, 2 China Unicom, 3 a fixed line, 0 other, -1 a bad list."""
        return self.CheckTels(number, carrier_list).value

    def trace_start(self, path: Union[str, "os.PathLike[str]"], hex_dump: bool = False) -> bool:
        """Appends a protocol trace to the file at path ("-": standard error)."""
        return self.TraceStart(str(path), _native.QV_TRACE_HEX if hex_dump else 0).ok

    def trace_stop(self) -> bool:
        """Stops the protocol trace and closes its file."""
        return self.TraceStop().ok


class SessionClosedError(ValueError):
    """A call on a Session after its close."""


def new_session_handle(native: ctypes.CDLL) -> Handle:
    """A new session of the library, as a Handle that refuses calls once closed; MemoryError
    when the library can make no session."""
    pointer = native.QvSessionCreate()
    if not pointer:
        raise MemoryError("QvSessionCreate: out of memory or out of session handles")
    # A call blocked on the connection in another thread gives way to a close at once, as
    # the destroy would make it, instead of at its time-out.
    return Handle(pointer, native.QvTcpDisconnect, native.QvSessionDestroy,
                  lambda: SessionClosedError("the session is closed"))


class Session(_Exports, SessionExports):
    """A connection of its own (QvSessionCreate): every export that acts on a session is a
    method under its classic name, run on this session (s.TcpConnect(...) calls
    QvTcpConnect), with the same common steps as Client (connect, login, fx,
    last_outcome, ...).  It needs no dllInitialize.  Any thread may call it; the library
    runs the calls on one session one at a time, and calls on different sessions side by
    side.

    close() (or leaving the with block) ends the calls in progress on it in other threads,
    waits for them and destroys the session; it is idempotent, and a call after it raises
    SessionClosedError.  A session left unclosed is destroyed when it is collected."""

    _plans: Dict[str, _Plan] = {}

    def __init__(self, library: Optional[str] = None, raise_on_failure: bool = False) -> None:
        """library and raise_on_failure as for Client; MemoryError when the library can make
        no session."""
        self.native = _native.library(library)
        self.raise_on_failure = raise_on_failure
        self._handle = new_session_handle(self.native)
        self._finalizer = weakref.finalize(self, self._handle.close)

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc: Any) -> bool:
        self.close()
        return False

    def close(self) -> None:
        """Ends the calls in progress on the session in other threads, waits for them and
        destroys it; idempotent.  A call after it raises SessionClosedError."""
        self._finalizer()

    @property
    def closed(self) -> bool:
        """Whether close() was called (or the session was collected)."""
        return self._handle.closed

    def __dir__(self):
        twins = {e.name[2:] for e in EXPORTS.values()
                 if takes_session(e) and e.name != "QvSessionDestroy" and not adapted(e)}
        return sorted(set(super().__dir__()) | twins)

    def _export(self, name):
        twin = EXPORTS.get(name if name.startswith("Qv") else "Qv" + name)
        if twin is None or not takes_session(twin) or twin.name == "QvSessionDestroy":
            if name in EXPORTS:
                raise TypeError(f"{name} does not act on a session: call it on a quorvex.Client")
            raise KeyError(name)
        if adapted(twin):
            raise TypeError(f"{twin.name} is reached through send_job")
        return twin

    def _invoke(self, plan, arguments):
        handle = self._handle
        pointer = handle.acquire()
        try:
            value = getattr(self.native, plan.function)(pointer, *arguments)
            if plan.boolean and not value:
                # Taken before the session can go: a call ended by another thread's close says so.
                return value, read_outcome(self.native, self.native.QvGetLastOutcome, pointer)
            return value, None
        finally:
            handle.release()

    def _with_session(self, function):
        # The send holds the session: a close from another thread ends it (the interrupt
        # above) and waits for it to return its result.
        with self._handle as pointer:
            return function(pointer)
