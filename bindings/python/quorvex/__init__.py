"""Python binding of the Quorvex client library (ctypes; nothing to compile).

    import quorvex
    with quorvex.Client() as qv:
        qv.connect("127.0.0.1", 9000)
        if qv.login("demo", "demo123").accepted:
            print(qv.NumRule().message)

The library is found through QUORVEX_LIBRARY or under its usual names."""
from ._native import *  # noqa: F401,F403  the header's constants
from ._native import EXPORTS, length_prefixed, load  # noqa: F401
from .client import (Client, ConnectionState, Outcome, Relogin, Result, Session,  # noqa: F401
                     SessionClosedError)

__version__ = "0.1.0"
