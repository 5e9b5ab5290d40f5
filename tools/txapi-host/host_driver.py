#!/usr/bin/env python3
"""The Linux side of the transmitter API's host test.

    host_driver.py [--keep DIR] [--timeout S] -- COMMAND...

Runs COMMAND (the host test under Wine) with TESS_HOST_DRIVER set to a
control port on 127.0.0.1 and serves it one JSON object per line, one
answer per line:

  {"cmd": "receivers", "mirror": [ARGS], "raop": [ARGS]}
      starts the mirroring test receiver on 127.0.0.2:7100 (the library's
      fixed port) and the RAOP test receiver on 127.0.0.2:5000, which also
      answers the probe (--probe rtsp), each with the extra ARGS; answers
      once both listen. A pair still running is ended first.
  {"cmd": "finish", "wait": S, "mirror": {EXPECT}, "raop": {EXPECT}}
      waits up to S seconds for both to end (then ends them, which still
      writes their summaries) and judges their summaries: mirror keys ok,
      outcome, ended_by, auth_ok, device_id; raop keys ok, outcome,
      min_probes. Answers {"pass": bool, "why": [...], "mirror": ..., "raop": ...}.
  {"cmd": "peer", "body": {...}}
      one command to the backend peer's control (run_peers.py sets
      TESS_PEER_CONTROL): tokens, modes.
  {"cmd": "registrations"}  {"count": N}: device registrations the peer saw
      (whole ones: not those the sender gave up while sending).
  {"cmd": "lookups"}  the connection-ID lookups the peer saw: method,
      target path, number of violations of the wire format.

Run inside run_peers.py, inside tools/netns/netns-run (fixed ports 7100,
7010 and 5000, receivers on 127.0.0.2). Exit: COMMAND's status, or 1 when
a receiver was still running at the end.
"""
import argparse
import json
import os
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RX = os.path.join(os.path.dirname(HERE), "test-receiver")
RECEIVER_HOST = "127.0.0.2"
MIRROR_PORT = 7100
RAOP_PORT = 5000


def peer(command):
    port = int(os.environ["TESS_PEER_CONTROL"])
    with socket.create_connection(("127.0.0.1", port), 10) as s:
        s.sendall((json.dumps(command) + "\n").encode())
        return json.loads(s.makefile().readline())


class Receiver:
    def __init__(self, name, script, port, args, out):
        self.name, self.out = name, out
        cmd = [sys.executable, os.path.join(RX, script), "--host", RECEIVER_HOST,
               "--port", str(port), "--out", out, "--timeout", "90"] + list(args)
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True)
        self.listening = False
        line = []
        t = threading.Thread(target=lambda: line.append(self.proc.stdout.readline()), daemon=True)
        t.start()
        t.join(15)
        self.listening = bool(line) and line[0].startswith("LISTENING")
        # The rest of its output is not needed; keep the pipe drained.
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()

    def end(self, wait):
        try:
            self.proc.wait(wait)
        except subprocess.TimeoutExpired:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        try:
            with open(os.path.join(self.out, "summary.json")) as f:
                return json.load(f)
        except (OSError, ValueError):
            return None


def judge(name, summary, expect):
    why = []
    if summary is None:
        return ["%s: no summary" % name]
    hs = summary.get("handshake", {})
    got = {
        "ok": summary.get("ok"),
        "outcome": summary.get("outcome"),
        "ended_by": summary.get("ended_by"),
        "auth_ok": hs.get("auth_ok"),
        "device_id": hs.get("device_id"),
    }
    for key, want in expect.items():
        if key == "min_probes":
            n = len(summary.get("probes", []))
            if n < want:
                why.append("%s: %d probes, expected at least %d" % (name, n, want))
        elif got.get(key) != want:
            why.append("%s: %s is %r, expected %r" % (name, key, got.get(key), want))
    if expect.get("ok") and summary.get("violations"):
        why.extend("%s: %s" % (name, v) for v in summary["violations"])
    return why


class Driver:
    def __init__(self, work):
        self.work = work
        self.pair = None
        self.runs = 0
        self.lock = threading.Lock()

    def handle(self, cmd):
        c = cmd.get("cmd")
        if c == "receivers":
            with self.lock:
                if self.pair:
                    for r in self.pair:
                        r.end(0)
                self.runs += 1
                base = os.path.join(self.work, "run%02d" % self.runs)
                self.pair = (
                    Receiver("mirror", "receiver.py", MIRROR_PORT, cmd.get("mirror", []),
                             base + "-mirror"),
                    Receiver("raop", "raop_receiver.py", RAOP_PORT,
                             ["--probe", "rtsp"] + cmd.get("raop", []), base + "-raop"),
                )
                ok = all(r.listening for r in self.pair)
                return {"ok": ok, "run": self.runs}
        if c == "finish":
            with self.lock:
                pair, self.pair = self.pair, None
            if not pair:
                return {"pass": False, "why": ["no receivers"]}
            deadline = time.monotonic() + float(cmd.get("wait", 20))
            summaries = {}
            for r in pair:
                summaries[r.name] = r.end(max(0.0, deadline - time.monotonic()))
            why = []
            for r in pair:
                why += judge(r.name, summaries[r.name], cmd.get(r.name, {}))
            brief = {k: None if s is None else {
                "ok": s.get("ok"), "outcome": s.get("outcome"), "ended_by": s.get("ended_by"),
                "handshake": s.get("handshake"), "probes": len(s.get("probes", [])),
                "violations": s.get("violations")} for k, s in summaries.items()}
            return {"pass": not why, "why": why, "summaries": brief}
        if c == "peer":
            return peer(cmd["body"])
        if c == "registrations":
            log = peer({"cmd": "log"})["requests"]
            return {"count": sum(1 for r in log if r.get("op") == 0 and not r.get("aborted"))}
        if c == "lookups":
            log = peer({"cmd": "log"})["requests"]
            return {"requests": [{"method": r["method"], "target": r["target"],
                                  "violations": len(r["violations"])}
                                 for r in log if r.get("op") == 14]}
        return {"error": "unknown command %r" % c}

    def close(self):
        left = 0
        with self.lock:
            if self.pair:
                for r in self.pair:
                    left += r.proc.poll() is None
                    r.end(0)
                self.pair = None
        return left


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        for line in self.rfile:
            if not line.strip():
                continue
            try:
                answer = self.server.driver.handle(json.loads(line))
            except Exception as e:  # the host sees the failure, the driver goes on
                answer = {"error": "%s: %s" % (type(e).__name__, e)}
            self.wfile.write((json.dumps(answer) + "\n").encode())
            self.wfile.flush()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--keep", help="keep the receivers' output in this folder")
    ap.add_argument("--timeout", type=float, default=600)
    ap.add_argument("command", nargs=argparse.REMAINDER)
    o = ap.parse_args()
    cmd = o.command[1:] if o.command[:1] == ["--"] else o.command
    if not cmd:
        ap.error("no command")
    work = o.keep or tempfile.mkdtemp(prefix="tess-txapi-host.")
    os.makedirs(work, exist_ok=True)
    driver = Driver(work)
    server = Server(("127.0.0.1", 0), Handler)
    server.driver = driver
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, TESS_HOST_DRIVER=str(server.server_address[1]))
    try:
        try:
            rc = subprocess.run(cmd, env=env, timeout=o.timeout).returncode
        except subprocess.TimeoutExpired:
            print("host_driver: command timed out after %.0f s" % o.timeout, file=sys.stderr)
            rc = 124
        left = driver.close()
        if left:
            print("host_driver: %d receiver(s) still running at the end" % left, file=sys.stderr)
            rc = rc or 1
        return rc
    finally:
        server.shutdown()
        if not o.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
