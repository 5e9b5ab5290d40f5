#!/usr/bin/env python3
"""Runs the live DNS-SD test binary inside the loopback-only namespace that
netns-run made (with its avahi-daemon), and serves the binary's control
commands on a loopback TCP port (TESS_MDNS_CONTROL):

  publish         avahi publishes rx1.local. -> 127.0.0.2 and the service
                  TestRx _raop._tcp 47000 "txtvers=1" "am=TestRx"; answered
                  once avahi says the service is established
  withdraw        the service publisher ends (avahi sends its goodbye)
  responder       starts tools/test-receiver/mdns_responder.py
  stop-responder  stops it

Everything it started is stopped by process id. Refuses to run outside a
namespace (the avahi-daemon of netns-run must be there).

Usage: run_live.py --wine-run WINE_RUN --exe TEST.exe [-- gtest args]
"""

import argparse
import os
import signal
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RESPONDER = os.path.normpath(os.path.join(HERE, "..", "..", "..", "..", "tools",
                                          "test-receiver", "mdns_responder.py"))


class Peers:
    def __init__(self):
        self.address = None
        self.service = None
        self.responder = None

    def publish(self):
        if self.address is None:
            self.address = subprocess.Popen(
                ["avahi-publish-address", "-R", "rx1.local", "127.0.0.2"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.service is not None:
            return True
        self.service = subprocess.Popen(
            ["avahi-publish-service", "-H", "rx1.local", "TestRx", "_raop._tcp", "47000",
             "txtvers=1", "am=TestRx"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        # "Established under name 'TestRx'" once probing is over.
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            line = self.service.stdout.readline()
            if not line:
                return False
            if "Established" in line:
                return True
        return False

    def withdraw(self):
        if self.service is not None:
            stop(self.service)
            self.service = None
        return True

    def start_responder(self):
        if self.responder is None:
            self.responder = subprocess.Popen([sys.executable, RESPONDER, "--seconds", "300"],
                                              stdout=subprocess.PIPE, text=True)
            return "announcing" in (self.responder.stdout.readline() or "")
        return True

    def stop_responder(self):
        if self.responder is not None:
            stop(self.responder)
            self.responder = None
        return True

    def stop_all(self):
        self.withdraw()
        self.stop_responder()
        if self.address is not None:
            stop(self.address)
            self.address = None


def stop(proc):
    try:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    except ProcessLookupError:
        pass


def serve(listener, peers):
    commands = {
        "publish": peers.publish,
        "withdraw": peers.withdraw,
        "responder": peers.start_responder,
        "stop-responder": peers.stop_responder,
    }
    while True:
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        with conn:
            conn.settimeout(30)
            try:
                data = b""
                while b"\n" not in data:
                    chunk = conn.recv(256)
                    if not chunk:
                        break
                    data += chunk
                command = data.decode().strip()
                ok = command in commands and commands[command]()
                print("[live] %s: %s" % (command, "ok" if ok else "failed"), flush=True)
                conn.sendall(b"ok\n" if ok else b"failed\n")
            except OSError:
                pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("rest", nargs="*")
    args = ap.parse_args()
    if not os.environ.get("AVAHI_PID"):
        print("run_live.py: start me with tools/netns/netns-run --avahi", file=sys.stderr)
        return 2

    peers = Peers()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    port = listener.getsockname()[1]
    threading.Thread(target=serve, args=(listener, peers), daemon=True).start()

    env = dict(os.environ, TESS_MDNS_CONTROL=str(port), TESS_WINE_TIMEOUT="240")
    try:
        rc = subprocess.call([args.wine_run, args.exe] + args.rest, env=env)
    finally:
        listener.close()
        peers.stop_all()
    return rc


if __name__ == "__main__":
    sys.exit(main())
