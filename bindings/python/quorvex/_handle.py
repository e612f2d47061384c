"""A library handle (a session, a job) and the calls in progress on it."""
import threading
from typing import Callable


class Handle:
    """Destroyed once, and only when no call of this process is between its acquire and its
    release, so that no call ever passes the library a destroyed handle.

    close() first interrupts the calls in progress (interrupt(pointer)) so that they give
    way at once instead of at their time-out, and does so again while they remain: an
    interrupt that lands just before a call enters the library does not reach it."""

    RETRY_SECONDS = 0.1

    def __init__(self, pointer, interrupt: Callable, destroy: Callable, closed_error: Callable[[], Exception]):
        self.pointer = pointer
        self._interrupt, self._destroy, self._closed_error = interrupt, destroy, closed_error
        self._lock = threading.Condition()
        self._users = 0
        self.closed = False

    def acquire(self):
        with self._lock:
            if self.closed:
                raise self._closed_error()
            self._users += 1
        return self.pointer

    def release(self):
        with self._lock:
            self._users -= 1
            if self._users == 0:
                self._lock.notify_all()

    def __enter__(self):
        return self.acquire()

    def __exit__(self, *exc):
        self.release()
        return False

    def close(self):
        with self._lock:
            if self.closed:
                return
            self.closed = True
        while True:
            with self._lock:
                if self._users == 0:
                    break
            self._interrupt(self.pointer)  # outside the lock, which the returning calls need
            with self._lock:
                self._lock.wait_for(lambda: self._users == 0, self.RETRY_SECONDS)
        self._destroy(self.pointer)
