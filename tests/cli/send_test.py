#!/usr/bin/env python3
"""The command-line host's send step, which hands the job to the library's
sender, against the simulator:

- a job is submitted; the simulator is then stopped and started again on the
  same port (a gate the host calls between the two jobs does it), and the
  next job, with the default attempts, is submitted too;
- through a relay that loses submits: a submit whose answer is lost is shown
  as "maybe submitted" with its evidence; with --sim-resolver the
  simulator's resolver finds such a job taken, and one whose submit never
  reached the simulator not taken.

Usage: send_test.py QUORVEX QUORVEX_SIM; prints "cli send: ok".
"""
import http.server
import socket
import subprocess
import sys
import threading

CLI, SIM = sys.argv[1], sys.argv[2]
LISTENING = "quorvex-sim listening on 127.0.0.1:"
SEND = ["send", "--product", "1001", "--to", "13800138000,13900139000", "--content", "会议改到三点"]


def fail(why, output=""):
    print(output)
    print("cli send: " + why)
    sys.exit(1)


def start_simulator(port, *options):
    sim = subprocess.Popen([SIM, "--port", str(port), "--quiet", *options],
                           stdout=subprocess.PIPE, text=True)
    line = sim.stdout.readline().strip()
    if not line.startswith(LISTENING):
        sim.kill()
        fail("the simulator did not start: " + line)
    return sim, int(line[len(LISTENING):])


def login(port):
    return ["dllInitialize", "--", "SetReadTimeout", "5000", "--", "TcpConnect", "127.0.0.1",
            str(port), "5000", "--", "Login_Request", "app", "", "demo", "demo123", "1.0", "--",
            "Login_Feedback", "--"]


def host(*steps):
    run = subprocess.run([CLI, "call", *steps], capture_output=True, text=True, timeout=60)
    return run.returncode, run.stdout + run.stderr


class Relay:
    """Relays records between the host and the simulator, and loses each
    submit by the next of its actions: "swallow" forwards it and closes the
    host's connection instead of answering, "drop" closes it at once."""
    RECORD = 2116
    SUBMITS = (299, 2990)

    def __init__(self, upstream, actions):
        self.upstream, self.actions = upstream, list(actions)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        threading.Thread(target=self.accept, daemon=True).start()

    def close(self):
        self.listener.close()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(client,), daemon=True).start()

    @staticmethod
    def read(sock, n):
        data = b""
        while len(data) < n:
            part = sock.recv(n - len(data))
            if not part:
                return None
            data += part
        return data

    def serve(self, client):
        with client, socket.create_connection(("127.0.0.1", self.upstream)) as server:
            while True:
                request = self.read(client, self.RECORD)
                if request is None:
                    return
                action = None
                if int.from_bytes(request[:4], "little") in self.SUBMITS:
                    with self.lock:
                        action = self.actions.pop(0) if self.actions else None
                if action == "drop":
                    return
                server.sendall(request)
                answer = self.read(server, self.RECORD)
                if answer is None or action == "swallow":
                    return
                client.sendall(answer)


class Gate(http.server.BaseHTTPRequestHandler):
    """Restarts the simulator on its port, then answers."""
    sims = []
    port = 0

    def do_GET(self):
        old = Gate.sims[-1]
        old.terminate()
        old.wait()
        Gate.sims.append(start_simulator(Gate.port)[0])
        self.send_response(200)
        self.send_header("Content-Length", "9")
        self.end_headers()
        self.wfile.write(b"restarted")

    def log_message(self, *args):
        pass


def main():
    sim, Gate.port = start_simulator(0)
    Gate.sims.append(sim)
    gate = http.server.HTTPServer(("127.0.0.1", 0), Gate)
    threading.Thread(target=gate.handle_request, daemon=True).start()
    try:
        rc, out = host(*login(Gate.port), *SEND, "--",
                       "WebRequest", "http://127.0.0.1:%d/" % gate.server_address[1], "--",
                       *SEND[:-1], "第二个任务")
        submitted = out.count('" submitted: 2 recipients')
        if rc != 0 or submitted != 2 or len(Gate.sims) != 2:
            fail("a restart between two jobs: rc %d, %d submitted, %d simulator runs"
                 % (rc, submitted, len(Gate.sims)), out)
    finally:
        for s in Gate.sims:
            s.kill()
            s.wait()
        gate.server_close()

    # Through a relay that loses the submits: the first two are forwarded and
    # their answers lost, the third is lost on the way.
    sim, port = start_simulator(0)
    relay = Relay(port, ["swallow", "swallow", "drop"])
    try:
        rc, out = host(*login(relay.port), *SEND, "--evidence", "--", *SEND, "--sim-resolver", "--",
                       *SEND, "--sim-resolver")
        sends = out.split("\n> send")[1:]
        if rc != 1 or len(sends) != 3:
            fail("three sends through the relay: rc %d" % rc, out)
        maybe, taken, lost = sends
        if ("Status    maybe submitted" not in maybe or "MAYBE SUBMITTED" not in maybe
                or 'PackagesBefore ""' not in maybe or 'PackagesAfter "100001"' not in maybe):
            fail("a lost answer is not shown as maybe submitted with its evidence", out)
        if "Status    submitted" not in taken or "the simulator's resolver decided" not in taken:
            fail("the simulator's resolver did not find the job taken", out)
        if ("Status    failed" not in lost or "Step      299" not in lost
                or "the simulator's resolver decided" not in lost):
            fail("the simulator's resolver did not find the lost submit not submitted", out)
    finally:
        relay.close()
        sim.kill()
        sim.wait()
    print("cli send: ok")


main()
