#!/usr/bin/env python3
"""quorvex.aio against the simulator, as an asyncio host uses it: awaited calls give the sync
methods' Results while the loop keeps ticking; a time-out or a task's cancel cancels the
operation and returns at once (asyncio.run too); send_job submits jobs on 16 sessions side
by side while the loop's lag stays small; a loop closed with an operation in flight is left
in peace.
    python_aio_scenario.py SIMULATOR     (QUORVEX_LIBRARY names the library)"""
import asyncio
import re
import subprocess
import sys
import threading
import time

import quorvex
from quorvex.aio import AsyncSession

failures = []
DELAY = 0.3  # seconds the slow simulator waits before each answer
SESSIONS, JOBS = 16, 3  # sessions sending jobs side by side, and the jobs each sends in turn
MAX_LAG = 0.02  # the event loop's lateness allowed while they run, 99th percentile (seconds)


def check(what, condition, got=None):
    print(("ok   " if condition else "FAIL ") + what + ("" if condition else f": got {got!r}"), flush=True)
    if not condition:
        failures.append(what)


def start_simulator(path, *options):
    sim = subprocess.Popen([path, "--port", "0", "--quiet", *options], stdout=subprocess.PIPE, text=True)
    match = re.fullmatch(r"quorvex-sim listening on 127\.0\.0\.1:(\d+)\n", sim.stdout.readline())
    if not match:
        sim.kill()
        sys.exit("the simulator did not start")
    return sim, int(match.group(1))


async def logged_in(port, account="demo", **options):
    s = AsyncSession(**options)
    await s.connect("127.0.0.1", port)
    check(f"login {account}", (await s.login(account, "demo123")).accepted)
    return s


async def ticking(work):
    """work's result and the loop's lateness (seconds) on a 10 ms tick while it ran: its 99th
    percentile and its worst.  The percentile is what a host feels; a single late tick can be
    the scheduler of a shared machine keeping the whole process off the CPU."""
    loop, lags, done = asyncio.get_running_loop(), [0.0], asyncio.Event()

    async def ticker():
        while not done.is_set():
            due = loop.time() + 0.01
            await asyncio.sleep(0.01)
            lags.append(loop.time() - due)
    tick = asyncio.create_task(ticker())
    try:
        result = await work
        lags.sort()
        return result, lags[len(lags) * 99 // 100], lags[-1]
    finally:
        done.set()
        await tick


# Each call with its inputs, run on a sync Session and an AsyncSession of the same account.
CALLS = [("GetUdInfo",), ("NumRule",), ("MsgStates",), ("fxNumRule",), ("FindSubInfo", "10002"),
         ("LastDetails", "", 2), ("SubmitContent", "长" * 1024), ("MMSMaxSize", "", ""), ("GetConnectionState",),
         ("fxLogin", "scenario", "", "demo", "bad", "1.0"), ("SetReadTimeout", 5000)]


def sync_call(s, name, *args):
    return s.fx(name, *args) if name.startswith("fx") else s.call(name, *args)


async def same_results(port):
    with quorvex.Session() as sync:
        sync.connect("127.0.0.1", port)
        async with AsyncSession() as s:
            await s.connect("127.0.0.1", port)
            pairs = [(sync.login("demo", "bad"), await s.login("demo", "bad")),
                     (sync.login("demo", "demo123"), await s.login("demo", "demo123"))]
            pairs += [(sync_call(sync, *c), await s.call(*c)) for c in CALLS]
    differ = [(a, b) for a, b in pairs if a != b]
    check(f"{len(pairs)} calls give the sync methods' Results, refusals and failures alike", not differ, differ[:2])
    async with AsyncSession() as s:
        nothing = await s.GetUdInfo()
        check("a call with no connection fails as the sync one does",
              not nothing.ok and nothing.outcome.outcome == quorvex.OutcomeKind.NOT_CONNECTED, nothing)
    s = AsyncSession(raise_on_failure=True)
    for what, call, error in (("a missing int", lambda: s.LastDetails(""), TypeError),
                              ("a text GBK lacks", lambda: s.SubmitContent("5€"), ValueError),
                              ("raise_on_failure", lambda: s.Heartbeat(), quorvex.QuorvexError),
                              ("a closed session", lambda: (s.close(), s.Heartbeat())[1], quorvex.SessionClosedError)):
        try:
            await call()
            check(f"{what} raises as on Session", False)
        except error:
            check(f"{what} raises {error.__name__} as on Session", True)


async def slow_calls(port):
    s = await logged_in(port)
    result, _, worst = await ticking(asyncio.gather(s.NumRule(), s.GetUdInfo()))
    check("the loop keeps ticking while calls wait on the server",
          all(r.accepted for r in result) and worst < 0.25, (result, worst))  # a blocked loop: 300 ms
    started = time.monotonic()
    try:
        await asyncio.wait_for(s.NumRule(), DELAY / 3)
        check("wait_for times out", False)
    except asyncio.TimeoutError:
        check("wait_for times out at its time, not the call's", time.monotonic() - started < DELAY * 2 / 3)
    # The cancel closed the connection (its request was out): the next call finds it closed,
    # nothing sent, and its relogin reopens it for the one after.
    after = await s.NumRule()
    check("after the cancel the next call fails unsent and relogs in; the one after works",
          after.outcome and after.outcome[:2] == (quorvex.OutcomeKind.NOT_CONNECTED, False)
          and (await s.NumRule()).accepted, after)
    running, queued = asyncio.create_task(s.NumRule()), asyncio.create_task(s.GetUdInfo())
    await asyncio.sleep(0)  # both started
    queued.cancel()
    check("a queued call cancelled leaves the running one to finish",
          (await running).accepted and queued.cancelled())
    s.close()
    # One job at a time per account: a session each on accounts of their own.
    sessions = await asyncio.gather(*(logged_in(port, f"demo{n}" if n > 1 else "demo")
                                      for n in range(1, SESSIONS + 1)))

    def job():
        return quorvex.Job("1001", ["13800000000", "13900000004"], "会议改到三点")
    started = time.monotonic()
    r = await sessions[0].send_job(job())
    one = time.monotonic() - started
    check("send_job submits the job", r.submitted and r.recipients == 2 and r.job_number.isdigit(), r)

    async def jobs_of(x):
        return [await x.send_job(job()) for _ in range(JOBS)]
    started = time.monotonic()
    each, lag, worst = await ticking(asyncio.gather(*(jobs_of(x) for x in sessions)))
    took = time.monotonic() - started
    results = [r for rs in each for r in rs]
    print(f"     {len(results)} jobs in {took:.2f} s (one alone {one:.2f} s);"
          f" the loop's lag {lag * 1000:.1f} ms at the 99th percentile, {worst * 1000:.1f} ms at worst",
          flush=True)
    check(f"{len(sessions)} sessions send {JOBS} jobs each side by side, in about {JOBS} jobs' time",
          all(r.submitted for r in results) and took < JOBS * one * 1.5, (one, took, results))
    check("each submitted job has a job number of its own",
          len({r.job_number for r in results}) == len(results), [r.job_number for r in results])
    check(f"the loop's lag while they run is below {MAX_LAG * 1000:.0f} ms (99th percentile)", lag < MAX_LAG, lag)
    check("the loop never freezes for a second", worst < 1.0, worst)
    for what, made in (("no product", quorvex.Job(None, ["13800000000"])), ("no numbers", quorvex.Job("1001"))):
        try:
            await sessions[1].send_job(made)
            check(f"send_job refuses a job with {what}", False)
        except ValueError:
            check(f"send_job refuses a job with {what} as Session.send_job does", True)
    cancelled = job()
    try:
        await asyncio.wait_for(sessions[1].send_job(cancelled), DELAY)
        check("a job's send is cancelled by wait_for", False)
    except asyncio.TimeoutError:
        cancelled.close()  # waits for the send to end, which the cancel made prompt
        check("a job's send cancelled by wait_for ends, and the job closes", cancelled.closed)
    for x in sessions:
        x.close()


def run_returns_at_once(port):
    """asyncio.run returns at once after a cancel, without waiting for the call."""
    ended = {}

    async def main():
        s = await logged_in(port)
        try:
            await asyncio.wait_for(s.NumRule(), DELAY / 3)
        except asyncio.TimeoutError:
            ended["cancelled"] = time.monotonic()
        return s
    s = asyncio.run(main())
    check("asyncio.run returns at once after a cancel", time.monotonic() - ended["cancelled"] < DELAY / 3)
    s.close()


def closed_loop(port):
    """A loop closed while an operation runs: its completion raises nothing anywhere."""
    raised = []
    threading.excepthook = lambda args: raised.append(args.exc_value)
    sys.unraisablehook = lambda u: raised.append(u.exc_value)
    loop = asyncio.new_event_loop()
    s = loop.run_until_complete(logged_in(port))
    # Left running when the loop closes (asyncio logs, at exit, that it was destroyed pending).
    task = loop.create_task(s.NumRule())
    loop.run_until_complete(asyncio.sleep(0))
    loop.close()
    # The session's operations complete in order: once the next one is back, the first
    # one's completion has met the closed loop.
    check("a later call on the session completes", asyncio.run(asyncio.wait_for(s.NumRule(), 10)).accepted)
    check("the completion for the closed loop raised nothing", not raised and not task.done(), raised)
    s.close()


def main():
    plain, port = start_simulator(sys.argv[1], "--accounts", "2")
    slow, slow_port = start_simulator(sys.argv[1], "--accounts", str(SESSIONS),
                                      "--delay", str(int(DELAY * 1000)))
    try:
        asyncio.run(same_results(port))
        asyncio.run(slow_calls(slow_port))
        run_returns_at_once(slow_port)
        closed_loop(slow_port)
    finally:
        for sim in (plain, slow):
            sim.terminate()
            sim.wait()
    print(f"python aio scenario: {'ok' if not failures else str(len(failures)) + ' failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
