#!/usr/bin/env python3
"""mirror-cli --connection-id end to end: the backend peer resolves the ID
into a token whose first interface is unreachable and whose second is the
RAOP test receiver (which answers the probe); mirror-cli then mirrors to
the mirroring test receiver at that address.

Run inside run_peers.py (TESS_PEER_CONTROL) and run_with_receiver.py with
--with-raop (TESS_RECEIVER_PORT, TESS_RAOP_PORT), both receivers on
127.0.0.2, in a loopback-only namespace.

    connection_id_case.py WINE_RUN MIRROR_CLI [--seconds N]
"""
import argparse
import json
import os
import re
import socket
import subprocess
import sys


def control(command):
    with socket.create_connection(("127.0.0.1", int(os.environ["TESS_PEER_CONTROL"])), 10) as s:
        s.sendall((json.dumps(command) + "\n").encode())
        return json.loads(s.makefile().readline())


def main():
    p = argparse.ArgumentParser()
    p.add_argument("wine_run")
    p.add_argument("mirror_cli")
    p.add_argument("--seconds", type=int, default=4)
    a = p.parse_args()
    raop_port = int(os.environ["TESS_RAOP_PORT"])
    token = {"name": "Test Receiver", "port": raop_port, "code": "T-1",
             "interfaces": [{"ip": "127.0.0.9", "mac": "00:11:22:33:44:01"},
                            {"ip": "127.0.0.2", "mac": "00:11:22:33:44:02"}]}
    control({"cmd": "token", "id": "424242", "token": token})
    cmd = [a.wine_run, a.mirror_cli, "--connection-id", "424242", str(a.seconds),
           "--port", os.environ["TESS_RECEIVER_PORT"], "--ntp-port", "0"]
    out_dir = os.environ.get("TESS_RECEIVER_OUT")
    if out_dir:
        cmd += ["--log", "Z:" + os.path.join(out_dir, "mirror-cli.log").replace("/", "\\")]
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=a.seconds + 120)
    print(proc.stdout, end="")
    failures = []
    want = "is Test Receiver at 127.0.0.2:%d" % raop_port
    if want not in proc.stdout:
        failures.append("no line '%s'" % want)
    m = re.search(r"\(lookup (\d+) ms\)", proc.stdout)
    if m:
        print("connection_id_case: lookup took %s ms" % m.group(1))
    if proc.returncode != 0:
        failures.append("mirror-cli exited %d" % proc.returncode)
    lookups = [r for r in control({"cmd": "log"})["requests"] if r["op"] == 14]
    if len(lookups) != 1 or lookups[0]["violations"]:
        failures.append("backend lookups: %r" % lookups)
    for f in failures:
        print("connection_id_case: FAIL: " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
