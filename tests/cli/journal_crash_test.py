#!/usr/bin/env python3
"""The journal across the host's own death: life after life, the
command-line host recovers the journal (with the simulator's resolver),
adds two jobs and sends what is queued, and is killed with SIGKILL at a
random instant of that life.  At the end one last life recovers and sends
everything, and the simulator's own ledger of the jobs it applied is held
against the journal:

- no job applied twice, and none applied that the journal does not hold;
- every job whose add printed its id is in the journal under that id;
- every job of the journal ends SUBMITTED (applied exactly once, with the
  job number the simulator gave it when the journal knows one) or REFUSED
  or FAILED (applied never); none is left QUEUED, SENDING or UNKNOWN.

Usage: journal_crash_test.py QUORVEX QUORVEX_SIM [KILLS [SEED]]; prints
"journal crash: ok" and the counts.
"""
import os
import random
import re
import signal
import subprocess
import sys
import tempfile

CLI, SIM = sys.argv[1], sys.argv[2]
KILLS = int(sys.argv[3]) if len(sys.argv) > 3 else 200
SEED = int(sys.argv[4]) if len(sys.argv) > 4 else 1
LISTENING = "quorvex-sim listening on 127.0.0.1:"
ROW = re.compile(r"^\s*(\d+)\s+(\w+)\s+(\S+)\s+(\d+)\s+(-?\d+)\s+(\d*)\s+\d{4}-")


def fail(why):
    print("journal crash: " + why)
    sys.exit(1)


def number_of(job):
    """Each job goes to a number of its own, which names it in the ledger."""
    return "139%08d" % job


class Host:
    def __init__(self, journal, port):
        self.journal, self.server = journal, "127.0.0.1:%d" % port
        self.acknowledged = {}  # reference -> id, as add printed it
        self.resolved = 0  # jobs a recover looked up and settled

    def command(self, job=None, what="send"):
        base = [CLI, "journal", self.journal]
        if what == "add":
            return base + ["add", "--ref", "job-%d" % job, "--product", "1001", "--to",
                           number_of(job), "--content", "hello %d" % job, "--evidence"]
        return base + [what, "--server", self.server, "--sim-resolver"]

    def run(self, argv, timeout):
        """Runs one process; kills it when timeout passes first.  True when
        it was killed."""
        child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        killed = False
        try:
            child.wait(timeout=max(timeout, 0))
        except subprocess.TimeoutExpired:
            os.kill(child.pid, signal.SIGKILL)
            killed = True
        out = child.communicate(timeout=60)[0]
        for line in out.splitlines():
            words = line.split()
            if len(words) == 3 and words[0] == "added":
                self.acknowledged[words[1]] = int(words[2])
            if len(words) == 4 and words[0] == "resolved":
                self.resolved += int(words[1].rstrip(","))
        if not killed and child.returncode not in (0, 1):
            fail("%s exited %d:\n%s" % (" ".join(argv[3:4]), child.returncode, out))
        return killed, out

    def rows(self):
        out = subprocess.run([CLI, "journal", self.journal, "list"], capture_output=True,
                             text=True, timeout=60).stdout
        return [ROW.match(line).groups() for line in out.splitlines()[1:] if ROW.match(line)]


def main():
    rng = random.Random(SEED)
    work = tempfile.mkdtemp(prefix="qv-crash-")
    ledger = os.path.join(work, "ledger")
    sim = subprocess.Popen([SIM, "--port", "0", "--quiet", "--delay", "3", "--ledger", ledger],
                           stdout=subprocess.PIPE, text=True)
    line = sim.stdout.readline().strip()
    if not line.startswith(LISTENING):
        fail("the simulator did not start: " + line)
    host = Host(os.path.join(work, "jobs.journal"), int(line[len(LISTENING):]))
    kills = lives = next_job = 0
    killed_in = {}

    def life():
        nonlocal next_job
        next_job += 2
        return [("recover", None), ("add", next_job - 2), ("add", next_job - 1), ("send", None)]

    try:
        # A whole life's length on this machine, now: the kills are spread
        # over it, so that they land in every phase however fast it runs.
        started = os.times().elapsed
        for what, job in life():
            host.run(host.command(job, what), 60)
        whole = os.times().elapsed - started
        while kills < KILLS:
            lives += 1
            left = rng.uniform(0, whole)
            for what, job in life():
                started = os.times().elapsed
                killed, _ = host.run(host.command(job, what), left)
                left -= os.times().elapsed - started
                if killed:
                    kills += 1
                    killed_in[what] = killed_in.get(what, 0) + 1
                    break
        # The last life: recovered, everything sent; a job that failed (not
        # submitted) is queued again, as a host would.
        for _ in range(5):
            host.run(host.command(what="recover"), 60)
            host.run(host.command(what="send"), 60)
            failed = [r for r in host.rows() if r[1] == "failed"]
            for r in failed:
                host.run([CLI, "journal", host.journal, "resolve", r[0], "queued"], 60)
            if not failed:
                break
    finally:
        sim.terminate()
        sim.wait(timeout=10)

    rows = host.rows()
    applied = {}
    with open(ledger) as f:
        for entry in f:
            job, first = entry.split()
            applied.setdefault(first, []).append(job)
    problems = []
    by_reference = {r[2]: r for r in rows}
    for reference, job_id in host.acknowledged.items():
        if reference not in by_reference or int(by_reference[reference][0]) != job_id:
            problems.append("lost: %s (id %d) was acknowledged" % (reference, job_id))
    numbers = set()
    for job_id, state, reference, _, _, job_number in rows:
        number = number_of(int(reference.split("-")[1]))
        numbers.add(number)
        times = len(applied.get(number, []))
        if state == "submitted":
            if times != 1:
                problems.append("%s is submitted and was applied %d times" % (reference, times))
            elif job_number and applied[number][0] != job_number:
                problems.append("%s holds job %s, the simulator applied %s" %
                                (reference, job_number, applied[number][0]))
        elif state in ("refused", "failed"):
            if times:
                problems.append("%s is %s and was applied %d times" % (reference, state, times))
        else:
            problems.append("%s is left %s" % (reference, state))
    strays = [n for n in applied if n not in numbers]
    if strays:
        problems.append("applied but not in the journal: " + ", ".join(strays))
    duplicates = sum(1 for jobs in applied.values() if len(jobs) > 1)
    states = {}
    for r in rows:
        states[r[1]] = states.get(r[1], 0) + 1
    print("journal crash: seed %d, %d lives, %d kills (%s); %d jobs acknowledged, %d in the "
          "journal (%s), %d settled by a recover's look-up; %d applied by the simulator, "
          "%d applied twice, %d problems" %
          (SEED, lives, kills, ", ".join("%s %d" % kv for kv in sorted(killed_in.items())),
           len(host.acknowledged), len(rows), ", ".join("%s %d" % kv for kv in sorted(states.items())),
           host.resolved, sum(len(v) for v in applied.values()), duplicates, len(problems)))
    for p in problems[:20]:
        print("  " + p)
    if problems:
        fail("%d problems" % len(problems))
    print("journal crash: ok")


main()
