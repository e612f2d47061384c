#!/usr/bin/env python3
"""quorvex.Journal against the simulator, as a host uses it: jobs added once per reference,
sent by Journal.send and AsyncSession.journal_send until each is SUBMITTED with its job
number, an awaited send cancelled before its submit (the job queued again), the file kept
across a close; what is not a journal, a journal open already and bad arguments refused.
    python_journal_scenario.py SIMULATOR     (QUORVEX_LIBRARY names the library)"""
import asyncio
import datetime
import os
import re
import subprocess
import sys
import tempfile

import quorvex
from quorvex import JournalState
from quorvex.aio import AsyncSession

failures = []


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


def raises(kind, call):
    try:
        call()
    except kind:
        return True
    except Exception as e:  # noqa: B902  reported as the wrong exception
        print(f"     raised {type(e).__name__}: {e}")
    return False


def job(content="会议改到三点，请准时参加"):
    return quorvex.Job("1001", ["13800000000", "13900000004"], content)


async def send_async(port, journal, slow_port):
    async with AsyncSession() as s:
        await s.connect("127.0.0.1", port)
        check("async login", (await s.login("demo", "demo123")).accepted)
        r = await s.journal_send(journal)
        check("journal_send sends the one job left", r.ok and r.outputs["Settled"] == 1, r)
    async with AsyncSession() as slow:
        await slow.connect("127.0.0.1", slow_port)
        await slow.login("demo", "demo123")
        late = journal.add(job("取消"), "order-cancelled")
        try:
            await asyncio.wait_for(slow.journal_send(journal), 0.3)
            check("a slow send is cut by its time-out", False)
        except asyncio.TimeoutError:
            check("a slow send is cut by its time-out", True)
    # The session's close waited for the operation: the cancel met the job before its submit.
    check("a job cancelled before its submit is QUEUED again", journal.job(late).state == JournalState.QUEUED,
          journal.job(late))
    return late


def main():
    sim, port = start_simulator(sys.argv[1])
    slow, slow_port = start_simulator(sys.argv[1], "--delay", "200")
    folder = tempfile.mkdtemp(prefix="qv-journal-py-")
    path = os.path.join(folder, "jobs.journal")
    try:
        with quorvex.Journal(path) as journal:
            ids = [journal.add(job(), f"order-{i}") for i in range(3)]
            check("three jobs, three ids", len(set(ids)) == 3 and all(i > 0 for i in ids), ids)
            check("a reference added again gives its id", journal.add(job("另一个"), "order-1") == ids[1])
            check("the queued jobs, oldest first", journal.list(JournalState.QUEUED) == ids, journal.list())
            first = journal.job(ids[0])
            check("a queued job read back", (first.state, first.reference, first.attempts, first.code, first.job_number)
                  == (JournalState.QUEUED, "order-0", 0, -1, ""), first)
            now = datetime.datetime.now(datetime.timezone.utc)
            check("its times in UTC", first.added.tzinfo is not None
                  and abs((now - first.added).total_seconds()) < 60 and first.changed >= first.added, first)

            refusals = [
                ("a second open of the file", quorvex.QuorvexError, lambda: quorvex.Journal(path)),
                ("a job without numbers", ValueError, lambda: journal.add(quorvex.Job("1001"), "order-x")),
                ("an empty reference", ValueError, lambda: journal.add(job(), "")),
                ("a reference over its limit", ValueError, lambda: journal.add(job(), "r" * 256)),
                ("a reference GBK lacks", ValueError, lambda: journal.add(job(), "€")),
                ("an id that is no job", KeyError, lambda: journal.job(10**12)),
                ("an id beyond int64", OverflowError, lambda: journal.job(2**63)),
                ("a queued job resolved SUBMITTED", ValueError,
                 lambda: journal.resolve(ids[0], JournalState.SUBMITTED, "1")),
            ]
            for what, kind, call in refusals:
                check(f"refused: {what}", raises(kind, call))

            with quorvex.Session() as s:
                s.connect("127.0.0.1", port)
                check("login", s.login("demo", "demo123").accepted)
                r = journal.send(s, max_jobs=2)
                check("send stops after max_jobs", r.ok and r.outputs["Settled"] == 2, r)
                check("one job left queued", journal.list(JournalState.QUEUED) == ids[2:], journal.list())
            late = asyncio.run(send_async(port, journal, slow_port))
            for i in ids:
                j = journal.job(i)
                check(f"{j.reference} SUBMITTED with its job number",
                      j.state == JournalState.SUBMITTED and j.job_number.isdigit() and j.attempts == 1, j)
            check("no evidence kept for a job sent without it",
                  journal.evidence(ids[0], quorvex.EvidenceKind.PACKAGES_BEFORE) is None)
            check("recover with nothing unsettled settles nothing", journal.recover() == 0)
            journal.resolver = lambda evidence: True
            check("a resolver is kept while set", journal.resolver is not None)
        check("a closed journal refuses its calls", raises(quorvex.JournalClosedError, lambda: journal.list()))

        with quorvex.Journal(path) as again:
            check("the jobs outlive the close", again.list(JournalState.SUBMITTED) == ids
                  and again.list(JournalState.QUEUED) == [late], again.list())
        garbage = os.path.join(folder, "garbage.journal")
        with open(garbage, "wb") as f:
            f.write(os.urandom(4096))
        try:
            quorvex.Journal(garbage)
            check("a garbage file is refused", False)
        except quorvex.QuorvexError as e:
            check("a garbage file is refused, saying why", bool(e.outcome and e.outcome.detail), e)
    finally:
        for p in (sim, slow):
            p.kill()
            p.wait()
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
        os.rmdir(folder)
    if failures:
        sys.exit(f"python journal scenario: {len(failures)} failed: {failures}")
    print("python journal scenario: ok")


if __name__ == "__main__":
    main()
