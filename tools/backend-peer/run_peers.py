#!/usr/bin/env python3
"""Runs a command beside the backend test peers.

Starts the test CA and certificates (certs.py), the HTTPS backend peer, two
CONNECT proxies ("env": named by http_proxy for default-proxy sessions;
"named": for the proxy settings under test), the PAC server and the control
port, then runs COMMAND with:
  http_proxy          http://127.0.0.1:<env proxy>
  TESS_PEER_CONTROL   control port (127.0.0.1)
  TESS_TEST_CA        the test CA in DER, as a Windows path (Z:...)
  TESS_NAMED_PROXY    127.0.0.1:<named proxy>
  TESS_PAC_URL        http://127.0.0.1:<pac>/proxy.pac
  TESS_BACKEND_HOST   the backend host the proxies map to the peer
Run it inside tools/netns/netns-run: the backend host must never be looked
up, and nothing may leave the machine.

Exit: the command's status, or 1 when the peer saw a request that broke the
wire format (each printed as VIOLATION).
With --wine-run W --trust-exe E, `W E <CA>` trusts the test CA in the
Wine prefix first (for programs that do not do it themselves).

Usage: run_peers.py [--timeout S] [--log FILE] [--wine-run W --trust-exe E] -- COMMAND...
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import backend_peer as bp  # noqa: E402
import certs  # noqa: E402

BACKEND_HOST = bp.BACKEND_HOST


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--timeout", type=float, default=900)
    ap.add_argument("--log", help="write every request the peer saw here (JSON lines)")
    ap.add_argument("--wine-run")
    ap.add_argument("--trust-exe")
    ap.add_argument("command", nargs=argparse.REMAINDER)
    o = ap.parse_args()
    cmd = o.command[1:] if o.command[:1] == ["--"] else o.command
    if not cmd:
        ap.error("no command")
    work = tempfile.mkdtemp(prefix="tess-backend-peer.")
    servers = []
    try:
        pki = certs.make_pki(os.path.join(work, "pki"), BACKEND_HOST)
        state = bp.State(pki)
        peer = bp.Server(bp.PeerHandler, state=state).start()
        servers.append(peer)
        proxies = {name: bp.make_proxy(BACKEND_HOST, peer.port, name).start()
                   for name in ("env", "named")}
        servers.extend(proxies.values())
        pac = bp.Server(bp.PacHandler, backend_host=BACKEND_HOST,
                        proxy_port=proxies["named"].port, lock=threading.Lock(),
                        fetches=0).start()
        servers.append(pac)
        control = bp.Server(bp.ControlHandler, control=bp.Control(state, proxies, pac)).start()
        servers.append(control)

        env = dict(os.environ)
        env.update({
            "http_proxy": "http://127.0.0.1:%d" % proxies["env"].port,
            "TESS_PEER_CONTROL": str(control.port),
            "TESS_TEST_CA": windows_path(os.path.join(work, "pki", "ca.der")),
            "TESS_NAMED_PROXY": "127.0.0.1:%d" % proxies["named"].port,
            "TESS_PAC_URL": "http://127.0.0.1:%d/proxy.pac" % pac.port,
            "TESS_BACKEND_HOST": BACKEND_HOST,
        })
        for k in ("https_proxy", "HTTPS_PROXY", "HTTP_PROXY", "no_proxy", "NO_PROXY"):
            env.pop(k, None)
        if o.trust_exe:
            trusted = subprocess.run([o.wine_run, o.trust_exe, env["TESS_TEST_CA"]], env=env,
                                     timeout=120).returncode
            if trusted != 0:
                print("run_peers: the test CA could not be trusted", file=sys.stderr)
                return 1
        try:
            rc = subprocess.run(cmd, env=env, timeout=o.timeout).returncode
        except subprocess.TimeoutExpired:
            print("run_peers: command timed out after %.0f s" % o.timeout, file=sys.stderr)
            rc = 124
        bad = 0
        with state.lock:
            seen = list(state.all_requests)
        if o.log:
            with open(o.log, "w") as f:
                for r in seen:
                    f.write(json.dumps(r) + "\n")
        for r in seen:
            for v in r["violations"]:
                bad += 1
                print("VIOLATION: %s %s: %s" % (r["method"], r["target"], v), file=sys.stderr)
        print("run_peers: %d requests, %d violations" % (len(seen), bad))
        return rc if rc != 0 else (1 if bad else 0)
    finally:
        for s in servers:
            s.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
