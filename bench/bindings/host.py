"""The Python binding's host of the bindings benchmark: Session.Heartbeat in a loop.

host.py PORT CALLS ROUNDS [ctypes] prints the median of the rounds' time per call, in
nanoseconds; with "ctypes", the same loop calls QvHeartbeat through ctypes directly (the
binding's own floor: what a ctypes call costs)."""
import statistics
import sys
import time

import quorvex


def rounds_of(call, calls, rounds):
    for _ in range(calls):  # warm-up
        call()
    times = []
    for _ in range(rounds):
        start = time.perf_counter_ns()
        for _ in range(calls):
            call()
        times.append((time.perf_counter_ns() - start) / calls)
    return statistics.median(times)


def main():
    port, calls, rounds = map(int, sys.argv[1:4])
    with quorvex.Session() as session:
        if not session.connect("127.0.0.1", port):
            sys.exit(1)
        if sys.argv[4:] == ["ctypes"]:
            native, pointer = session.native, session._handle.pointer
            call = lambda: native.QvHeartbeat(pointer)  # noqa: E731
        else:
            call = session.Heartbeat
        if not call():
            sys.exit(1)
        print(f"{rounds_of(call, calls, rounds):.1f}")


main()
