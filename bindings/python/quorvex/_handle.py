"""A library handle (a session, a job) and the calls in progress on it."""
import threading
from typing import Any, Callable, List


class Handle:
    """Destroyed once, and only when no call of this process is between its acquire and its
    release, so that no call ever passes the library a destroyed handle.

    close() first interrupts the calls in progress (interrupt(pointer)) so that they give
    way at once instead of at their time-out, and does so again while they remain: an
    interrupt that lands just before a call enters the library does not reach it.

    The calls in progress are the entries of a list: append and pop are each one step under
    the interpreter's lock, so a call takes no lock of its own (a lock costs a call more
    than the rest of the binding's work).  A call counts itself in before it looks at
    closed, and close sets closed before it counts the calls, so that either the call sees
    the close or the close sees the call.  Only close waits, and only a release after a
    close takes the lock to wake it."""

    RETRY_SECONDS = 0.1

    def __init__(self, pointer: Any, interrupt: Callable[[Any], Any], destroy: Callable[[Any], Any],
                 closed_error: Callable[[], Exception]) -> None:
        self.pointer = pointer
        self._interrupt, self._destroy, self._closed_error = interrupt, destroy, closed_error
        self._lock = threading.Lock()
        self._idle = threading.Condition(self._lock)
        self._calls: List[None] = []
        self.closed = False

    def acquire(self) -> Any:
        """The pointer, for one call; raises closed_error() once the handle is closed."""
        self._calls.append(None)
        if self.closed:
            self.release()
            raise self._closed_error()
        return self.pointer

    def release(self) -> None:
        """Ends the call that acquire began."""
        self._calls.pop()
        if self.closed:
            with self._lock:
                self._idle.notify_all()

    def __enter__(self) -> Any:
        return self.acquire()

    def __exit__(self, *exc: Any) -> bool:
        self.release()
        return False

    def close(self) -> None:
        """Refuses new calls, ends those in progress, waits for them and destroys the handle;
        idempotent."""
        with self._lock:
            if self.closed:
                return
            self.closed = True
        while self._calls:
            self._interrupt(self.pointer)  # outside the lock, which the returning calls need
            with self._lock:
                self._idle.wait_for(lambda: not self._calls, self.RETRY_SECONDS)
        self._destroy(self.pointer)
