#!/usr/bin/env python3
"""The Python binding against the simulator, as a host uses it: connect, login, queries,
a send job, CheckTels, refusals, a relogin after the server drops the connection and the
outcome of the failed call; whole jobs with send_job, a server restarted between jobs and
mid-job, jobs ended from another thread (a cancel, a close of the session) and settled by
a resolver, the text policy; then the README's Python example, run as written.
    python_scenario.py SIMULATOR README     (QUORVEX_LIBRARY names the library)"""
import ctypes.util
import datetime
import inspect
import os
import random
import re
import socket
import subprocess
import sys
import tempfile
import threading

import quorvex

failures = []
WSAEINTR = 10004  # a call ended by the host (a close, a cancel)


def check(what, condition, got=None):
    print(("ok   " if condition else "FAIL ") + what + ("" if condition else f": got {got!r}"))
    if not condition:
        failures.append(what)


def start_simulator(path, *options, port=0):
    sim = subprocess.Popen([path, "--port", str(port), "--quiet", *options], stdout=subprocess.PIPE, text=True)
    line = sim.stdout.readline()
    match = re.fullmatch(r"quorvex-sim listening on 127\.0\.0\.1:(\d+)\n", line)
    if not match:
        sim.kill()
        sys.exit(f"the simulator did not start: {line!r}")
    return sim, int(match.group(1))


def session(qv, port):
    check("connect", qv.connect("127.0.0.1", port).message == "TCP连接成功")
    login = qv.login("demo", "demo123", app="scenario", version="1.0")
    check("login accepted, the account's id in Param1", login.accepted and login.outputs["Param1"] == "10001", login)
    info = qv.GetUdInfo()
    check("a query's Chinese text comes back as str", info.accepted and "企业:演示企业" in info.message, info)
    check("an XML query, both halves", qv.fx("fxMsgStates").code == quorvex.QV_FX_SUCCESS)

    steps = [("SubmitAllClear",), ("SubmitPrdId", "1001"), ("SubmitTelList", "13800000000,13900000004"),
             ("SubmitContent", "会议改到三点，请准时参加")]
    for name, *args in steps:
        r = qv.call(name, *args)
        check(f"send job: {name}", r.accepted, r)
    over = qv.SubmitAllOver_2()
    check("send job: SubmitAllOver_2 gives the job number and two recipients",
          over.accepted and over.message.isdigit() and over.outputs["Number1"] == 2, over)

    carriers = "139,移动;130,联通"
    table = [("13912345678", 1), ("13012345678", 2), ("01012345678", 3), ("1391234567", 0), ("", 0)]
    got = [(n, qv.check_tels(n, carriers)) for n, _ in table]
    check("CheckTels classifies through length-prefixed texts", got == table, got)
    check("CheckTels takes bytes and null", qv.check_tels(b"13912345678", carriers.encode("gbk")) == 1
          and qv.CheckTels(None, None).value == 0)

    long = qv.SubmitContent("长" * 1024)  # 2048 GBK bytes, one over the field
    outcome = qv.last_outcome()
    check("a text over its field is refused as the library refuses it",
          (long.ok, long.code, long.message) == (False, -1, "输入的文本过长!")
          and outcome[:3] == (quorvex.QV_OUTCOME_REFUSED, False, 3), (long, outcome))
    for bad in ("a\0b", "\U0001F600"):
        try:
            qv.SubmitContent(bad)
            check(f"{bad!r} is refused before the library", False)
        except ValueError:
            check(f"{bad!r} is refused before the library", True)
    try:
        qv.LastDetails("", 2**32)
        check("an int beyond int32 is refused", False)
    except OverflowError:
        check("an int beyond int32 is refused", True)


def relogin(qv, port):
    """The server answers three requests per connection, then drops it."""
    qv.connect("127.0.0.1", port)
    check("login on the dropping server", qv.login("demo", "demo123").accepted)
    check("two requests answered", qv.Heartbeat().ok and qv.MsgStates().accepted)
    failed = qv.MsgStates()
    outcome, again = qv.last_outcome(), qv.last_relogin()
    check("the call after the drop fails with no answer", (failed.ok, failed.code) == (False, -1), failed)
    check("its outcome says what failed", outcome.outcome not in (quorvex.QV_OUTCOME_OK, quorvex.QV_OUTCOME_REFUSED)
          and outcome.detail != "", outcome)
    check("and that the library logged in again", again.relogin == quorvex.QV_RELOGIN_LOGGED_IN
          and again.server_code == quorvex.QV_CODE_ACCEPTED, again)
    state = qv.connection_state()
    check("connected and logged in again", state.connected and state.logged_in, state)
    check("the next call is answered", qv.MsgStates().accepted)


def sessions(port, rounds=40, seed=24):
    """Two sessions with two accounts on two threads: each answer names its own account, and
    each thread's last outcome on a session is its own."""
    accounts = [("demo", "10001"), ("demo2", "10002")]
    got = {}

    def drive(s, name, account_id, rng):
        wrong = []
        check(f"{name}: login", s.connect("127.0.0.1", port).ok and s.login(name, "demo123").accepted)
        # The last call is refused, for the outcome checks below.
        for i in range(rounds):
            call = rng.choice(("GetUdInfo", "PQGetAbilityURL", "fxLogin", "Heartbeat")) if i < rounds - 1 else "refused"
            if call == "GetUdInfo":
                r = s.GetUdInfo()
                mine = r.accepted and r.outputs["Param1"] == account_id and f"帐号:{name};" in r.message
            elif call == "PQGetAbilityURL":
                r = s.PQGetAbilityURL()
                mine = r.accepted and r.message.endswith("account=" + name)
            elif call == "fxLogin":  # an XML pair, its reply kept in the session between the halves
                r = s.fx("fxLogin", "scenario", "", name, "demo123", "1.0")
                mine = r.code == quorvex.QV_FX_SUCCESS and r.outputs["Agent"] == int(account_id)
            elif call == "Heartbeat":
                r = s.Heartbeat()
                mine = r.ok and s.last_outcome().outcome == quorvex.QV_OUTCOME_OK
            else:
                r = s.SubmitContent("长" * 1024)
                mine = not r.ok and s.last_outcome()[:3] == (quorvex.QV_OUTCOME_REFUSED, False, 3)
            if not mine:
                wrong.append((call, r))
        got[name] = wrong

    with quorvex.Session() as first, quorvex.Session() as second:
        threads = [threading.Thread(target=drive, args=(s, name, account_id, random.Random(seed + i)))
                   for i, (s, (name, account_id)) in enumerate(zip((first, second), accounts))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for name, _ in accounts:
            check(f"{name}: {rounds} calls, every answer its own session's", got.get(name) == [], got.get(name))
        refused = quorvex.QV_OUTCOME_REFUSED
        outcome_before = first.last_outcome().outcome
        second.SubmitContent("长" * 1024)
        check("a thread's last outcome on a session is its own, not another thread's or session's",
              (outcome_before, first.last_outcome().outcome, second.last_outcome().outcome)
              == (quorvex.QV_OUTCOME_OK, quorvex.QV_OUTCOME_OK, refused))
    check("leaving the with block closes both", first.closed and second.closed)
    try:
        first.Heartbeat()
        check("a call after close is refused", False)
    except quorvex.SessionClosedError:
        check("a call after close is refused", True)
    first.close()  # a second close does nothing

    # A close while another thread waits for an answer ends that call at once.
    with socket.create_server(("127.0.0.1", 0)) as silent:
        s = quorvex.Session()
        s.set_read_timeout(60000)
        s.connect("127.0.0.1", silent.getsockname()[1])
        peer, _ = silent.accept()
        done = []
        waiting = threading.Thread(target=lambda: done.append(s.Heartbeat()))
        waiting.start()
        request = b""
        while len(request) < 2116:
            request += peer.recv(4096)
        s.close()
        waiting.join(30)
        peer.close()
        ended = done[0] if done else None
        check("close ends a call blocked in another thread, and its outcome says why",
              not waiting.is_alive() and not ended.ok and ended.outcome is not None
              and ended.outcome.socket_error == WSAEINTR, ended)


def generated_methods():
    """Each export's method takes the declared inputs in order, on the object that may call it."""
    wrong = []
    for name, export in quorvex.EXPORTS.items():
        inputs = [n for role, n in export.params if role in ("text", "prefixed", "int")]
        on_session = export.params and export.params[0][0] == "session"
        owner, method = (quorvex.Session, name[2:]) if on_session else (quorvex.Client, name)
        if name == "QvSessionDestroy" or quorvex.client.adapted(export):
            continue
        function = owner.__dict__.get(method) or getattr(owner, method, None)
        if function is None or list(inspect.signature(function).parameters)[1:] != inputs or not function.__doc__:
            wrong.append(name)
    check("every export has a documented method with its inputs in order", not wrong, wrong)


def refused_jobs():
    """What the library cannot take is refused where it is given, naming it; a job without its
    product or numbers is refused by send_job before any call."""
    job = quorvex.Job
    table = [("the euro sign", "content", lambda: job("1001", content="价格 5€")),
             ("U+0080", "content", lambda: job("1001", content="a\x80")),
             ("a zero byte", "content", lambda: job("1001", content="a\0b")),
             ("a content over its field", "content", lambda: job("1001", content="长" * 1024)),
             ("an order over its field", "orders[0]", lambda: job("1001", orders=["O" * 20])),
             ("four orders", "orders", lambda: job("1001", orders=["a", "b", "c", "d"])),
             ("two numbers as one", "numbers[0]", lambda: job("1001", ["13800000000,13800000001"])),
             ("one str as the numbers", "numbers", lambda: job("1001", "13800000000")),
             ("a file that is a str", "file", lambda: job("1001", file="GIF89a"))]
    for what, name, make in table:
        try:
            make()
            check(f"a job with {what} is refused where it is made", False)
        except (ValueError, TypeError) as e:
            check(f"a job with {what} is refused where it is made, naming {name}", str(e).startswith(name), e)
    calls = []
    with quorvex.Session() as s:
        for what, made in (("no product", job(None, ["13800000000"])), ("no numbers", job("1001"))):
            made.progress = lambda *a: calls.append(a)
            try:
                s.send_job(made)
                check(f"a job with {what} is refused before any call", False)
            except ValueError:
                check(f"a job with {what} is refused before any call", not calls, calls)


def whole_jobs(port):
    """Whole jobs on the simulator: an MMS job in many parts, a scheduled job, a refusal."""
    tomorrow = datetime.date.today() + datetime.timedelta(days=1)
    numbers = [str(13800000000 + i) for i in range(341)]
    mms = quorvex.Job("2001", numbers, "会议改到三点", file_name=b"a.gif", file=bytes(range(256)) * 12, check=True)
    scheduled = quorvex.Job("1001", numbers[:2], "明天见", orders=["PQ001"],
                            period=f"{tomorrow}~{tomorrow + datetime.timedelta(days=9)} 09:00-10:00")
    with quorvex.Session() as s:
        s.connect("127.0.0.1", port)
        check("send_job: login", s.login("demo", "demo123").accepted)
        seen = []
        mms.progress = lambda step, attempt: seen.append((step, attempt))
        r = s.send_job(mms)
        check("an MMS job in many parts is submitted with its numbers, from its clear to its submit",
              (r.status, r.step, r.attempts, r.code, r.recipients) == (quorvex.JobStatus.SUBMITTED, 299, 1, 900, 341)
              and r.job_number.isdigit() and r.job_number == r.message and r.outcome.outcome == quorvex.OutcomeKind.OK
              and seen[0] == (298, 1) and seen[-1] == (299, 1) and [st for st, _ in seen].count(202) > 1, (r, seen))
        r = s.send_job(scheduled)
        check("a scheduled job is submitted with SubmitAllOverEx_2",
              (r.status, r.step, r.recipients) == (quorvex.JobStatus.SUBMITTED, 2990, 2), r)
        failing = quorvex.Job("1001", numbers[:1], "x", progress=lambda step, attempt: 1 / 0)
        try:
            s.send_job(failing)
            check("an error in the progress callback is raised by send_job", False)
        except ZeroDivisionError:
            ended = failing.result()
            check("an error in the progress callback cancels the job and is raised by send_job",
                  ended.status == quorvex.JobStatus.CANCELLED and ended.step == 298, ended)
        seen.clear()
        refused = quorvex.Job("1001", numbers[:1], "代开发票", check=True,
                              progress=lambda step, attempt: seen.append(step))
        r = s.send_job(refused)
        check("a refused step ends the job REFUSED with the server's code, nothing sent after it",
              (r.status, r.step, r.code, seen[-1], r.job_number) == (quorvex.JobStatus.REFUSED, 2041, 406, 2041, ""),
              (r, seen))


def free_port():
    with socket.create_server(("127.0.0.1", 0)) as s:
        return s.getsockname()[1]


def server_restarts(simulator):
    """A simulator of its own on a fixed port, stopped and started again between two jobs and
    in the middle of one."""
    port = free_port()
    sims = [start_simulator(simulator, port=port)[0]]

    def stop(restart):
        sims[-1].terminate()
        sims[-1].wait()
        if restart:
            sims.append(start_simulator(simulator, port=port)[0])

    def stop_at(step, restart):
        return lambda at, attempt: stop(restart) if (at, attempt) == (step, 1) else None

    job = quorvex.Job("1001", ["13800000000", "13900000004"], "会议改到三点")
    try:
        with quorvex.Session() as s:
            s.set_read_timeout(10000)
            s.connect("127.0.0.1", port, 2000)
            check("restart: login", s.login("demo", "demo123").accepted)
            check("restart: a first job is submitted", s.send_job(job).submitted)
            stop(restart=True)
            r = s.send_job(job)
            check("after a server restart, the next job with the default attempts is submitted",
                  r.status == quorvex.JobStatus.SUBMITTED, r)
            job.progress = stop_at(204, True)
            r = s.send_job(job)
            check("the server restarted mid-job: the job starts again from its clear and is submitted",
                  r.status == quorvex.JobStatus.SUBMITTED and r.attempts <= 2, r)
            job.progress = stop_at(202, False)
            r = s.send_job(job)
            check("the server gone mid-job: FAILED at that step, its relogin not logged in",
                  (r.status, r.step, r.code) == (quorvex.JobStatus.FAILED, 202, -1)
                  and r.outcome.relogin != quorvex.ReloginKind.LOGGED_IN and r.outcome.detail, r)
    finally:
        for sim in sims:
            sim.terminate()
            sim.wait()


class Relay:
    """A loopback relay to the simulator.  hold(n) in a job's progress callback lets the next n
    requests through and then withholds every answer on that connection, so that the n-th
    call waits, its request out, until another thread or its read time-out ends it; out is
    set once that request has gone to the server.  A new connection (the relogin after the
    end) is relayed in full."""
    RECORD = 2116  # every request is one record of this size

    def __init__(self, target):
        self.target, self.lock, self.out = target, threading.Lock(), threading.Event()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.current = None
        threading.Thread(target=self._accept, daemon=True).start()

    def hold(self, requests=1):
        with self.lock:
            c = self.current
            c["held_from"] = c["requested"] + requests * self.RECORD
            self.out.clear()

    def sent_after_hold(self):
        """Bytes of requests after the one held."""
        with self.lock:
            return self.current["requested"] - self.current["held_from"]

    def close(self):
        self.listener.close()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.target))
            c = {"requested": 0, "held_from": None}
            with self.lock:
                self.current = c
            threading.Thread(target=self._pump, args=(client, server, c, True), daemon=True).start()
            threading.Thread(target=self._pump, args=(server, client, c, False), daemon=True).start()

    def _pump(self, source, sink, c, requests):
        while True:
            try:
                data = source.recv(65536)
            except OSError:
                data = b""
            if not data:
                break
            with self.lock:
                if requests:
                    c["requested"] += len(data)
                held = c["held_from"] is not None and c["requested"] >= c["held_from"]
                if held:
                    self.out.set()
            if requests or not held:
                try:
                    sink.sendall(data)
                except OSError:
                    break
        for sock in (source, sink):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()


def cancels(port):
    """A send ended from another thread, with its request out and its answer withheld: a cancel
    before the submit, a close of the session at the submit, and the resolver after a submit
    whose answer never came."""
    relay = Relay(port)

    def holding_at(step, requests=1):
        return lambda at, attempt: relay.hold(requests) if at == step else None

    def end_from_another_thread(ending):
        relay.out.clear()
        thread = threading.Thread(target=lambda: relay.out.wait(30) and ending())
        thread.start()
        return thread

    job = quorvex.Job("1001", ["13800000000", "13900000004"], "会议改到三点")
    try:
        s = quorvex.Session()
        s.set_read_timeout(20000)
        s.connect("127.0.0.1", relay.port)
        check("cancel: login through the relay", s.login("demo", "demo123").accepted)

        job.progress = holding_at(204)
        ending = end_from_another_thread(job.cancel)
        r = s.send_job(job)
        ending.join()
        check("job.cancel() from another thread during a field: CANCELLED there, nothing sent after it",
              (r.status, r.step, relay.sent_after_hold()) == (quorvex.JobStatus.CANCELLED, 204, 0)
              and r.outcome.detail, r)
        job.progress = None
        check("the session sends the job again after the cancel", s.send_job(job).submitted)

        # The resolver is the simulator's: a job number in AllInfoPackId that was not there before.
        seen = []

        def resolver(resolved):
            before = resolved.evidence_text(quorvex.EvidenceKind.PACKAGES_BEFORE)
            seen.append(resolved.evidence_text(quorvex.EvidenceKind.PACKAGES_AFTER))
            return None if None in (before, seen[-1]) else before != seen[-1]

        s.set_read_timeout(1000)
        # The look-ups of the evidence go first, before the clear: the submit is the request held.
        with quorvex.Job("1001", ["13800000000"], "会议改到三点", evidence=True, resolver=resolver,
                         progress=holding_at(299)) as resolved:
            r = s.send_job(resolved)
        check("a submit unanswered within the read time-out, settled by the resolver from the evidence",
              r.status == quorvex.JobStatus.SUBMITTED and seen and seen[0] and r.evidence.packages_before is not None
              and r.evidence.packages_after == seen[0] != r.evidence.packages_before, (r, seen))
        s.set_read_timeout(20000)

        job.progress = holding_at(299)
        ending = end_from_another_thread(s.close)
        r = s.send_job(job)
        ending.join()
        check("closing the session from another thread at the submit: MAYBE_SUBMITTED, never an exception",
              (r.status, r.step, r.code, r.outcome.sent) == (quorvex.JobStatus.MAYBE_SUBMITTED, 299, -1, True)
              and r.outcome.detail and s.closed, r)
    finally:
        relay.close()
        job.close()


def text_policy(port, rounds=300, seed=26):
    """The library's conversion for every text: random texts GBK holds go out and come back
    unchanged; what GBK lacks is refused, naming it; bytes go out as they are; what is not GBK
    reads as U+FFFD."""
    rng = random.Random(seed)
    pool = [chr(c) for c in range(0x20, 0x7f)] + ["中", "文", "，", "。", "·", "—", "ā", "é"]
    wrong = []
    for _ in range(rounds):
        text = "".join(rng.choice(pool) if rng.random() < 0.5 else chr(rng.randrange(0x4E00, 0x9FA6))
                       for _ in range(rng.randrange(0, 40)))
        if quorvex.from_gbk(quorvex.to_gbk(text)) != text:
            wrong.append(text)
    check(f"{rounds} random texts GBK holds go out and come back unchanged", not wrong, wrong[:1])
    for what, text in (("the euro sign", "5€"), ("U+0080", "\x80"), ("a character beyond GBK", "\U0001F600"),
                       ("a lone surrogate", "\ud800")):
        try:
            quorvex.to_gbk(text, "content")
            check(f"{what} is refused", False)
        except ValueError as e:
            check(f"{what} is refused, naming the input", str(e).startswith("content: "), e)
    check("bytes go out as the GBK they are", quorvex.to_gbk(b"\x80\xa4") == b"\x80\xa4")
    read = [quorvex.from_gbk(b) for b in (b"\x80", b"a\xff", b"\xd6\xd0\xb0")]
    check("what is not GBK reads as U+FFFD", read == ["\ufffd", "a\ufffd", "中\ufffd"], read)
    with quorvex.Session() as s:
        s.connect("127.0.0.1", port)
        s.login("demo", "demo123")
        try:
            s.SubmitContent("价格 5€")
            check("an export refuses the euro sign before the library", False)
        except ValueError as e:
            check("an export refuses the euro sign before the library, naming its input",
                  str(e).startswith("Content: U+20AC"), e)


def readme_example(readme, port):
    text = open(readme, encoding="utf-8").read()
    match = re.search(r"^### Python\n.*?^```python\n(.*?)^```$", text, re.S | re.M)
    check("the README has a Python example", match is not None)
    if match:
        code = match.group(1).replace("9000", str(port))
        run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
        check("the README's example runs and sends its job",
              run.returncode == 0 and "\njob " in run.stdout, run.stdout + run.stderr)


def library_search():
    """On Windows the library is never looked for along PATH, where a planted copy may wait."""
    planted = r"C:\Users\Public\Quorvex.dll"
    saved = sys.platform, ctypes.util.find_library
    try:
        sys.platform, ctypes.util.find_library = "win32", lambda name: planted
        names = quorvex._native.library_names()
    finally:
        sys.platform, ctypes.util.find_library = saved
    check("on Windows the library is looked for by name, never along PATH",
          planted not in names and names[-1] == "Quorvex.dll", names)


def main():
    simulator, readme = sys.argv[1], sys.argv[2]
    plain, port = start_simulator(simulator, "--accounts", "2")
    dropping, drop_port = start_simulator(simulator, "--drop-after", "3")
    try:
        with tempfile.TemporaryDirectory() as tmp, quorvex.Client() as qv:
            trace = os.path.join(tmp, "trace.txt")
            check("trace starts", qv.trace_start(trace))
            session(qv, port)
            qv.trace_stop()
            logged = open(trace, encoding="utf-8", errors="replace").read()
            check("the trace shows the calls and masks the password",
                  "SubmitAllOver_2" in logged and "demo123" not in logged)
            relogin(qv, drop_port)
        check("a null session pointer comes back as 0", quorvex.Client().QvDefaultSession().value == 0)
        sessions(port)
        generated_methods()
        refused_jobs()
        whole_jobs(port)
        server_restarts(simulator)
        cancels(port)
        text_policy(port)
        readme_example(readme, port)
        library_search()
    finally:
        for sim in (plain, dropping):
            sim.terminate()
            sim.wait()
    print(f"python scenario: {'ok' if not failures else str(len(failures)) + ' failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
