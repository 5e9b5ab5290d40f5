#!/usr/bin/env python3
"""Starts the console host of the API library several times in one Wine
prefix, each start bounded in time.

    console_host_runs.py [--runs N] [--bound S] -- COMMAND...

COMMAND (wine-run and txapi-console-host.exe) runs N times (default 2), one
after the other, so every start after the first finds a prefix in which the
library was initialised before. A start passes when it exits 0 within S
seconds (default 90) having printed both results; the output of each start
and its time are printed. Exit: 0 when every start passed, else 1.
"""
import argparse
import os
import signal
import subprocess
import sys
import time


def run_once(command, bound):
    env = dict(os.environ)
    # wine-run's own bound, a little past ours, ends a hung Wine process
    # even if this script is killed.
    env["TESS_WINE_TIMEOUT"] = str(int(bound) + 15)
    t0 = time.monotonic()
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            env=env, start_new_session=True, text=True, errors="replace")
    try:
        out, _ = proc.communicate(timeout=bound)
        hung = False
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        hung = True
    return hung, proc.returncode, out, time.monotonic() - t0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=2)
    ap.add_argument("--bound", type=float, default=90)
    ap.add_argument("command", nargs="+")
    args = ap.parse_args()
    failed = 0
    for i in range(1, args.runs + 1):
        hung, rc, out, took = run_once(args.command, args.bound)
        lines = [l for l in out.splitlines() if l.strip()]
        ok = (not hung and rc == 0 and "Nb5TxInit=1" in lines and "Nb5TxFree=1" in lines)
        state = "hung past %.0f s" % args.bound if hung else "exit %s" % rc
        print("start %d: %s in %.1f s: %s" % (i, state, took, " | ".join(lines[-4:])))
        sys.stdout.flush()
        if not ok:
            failed += 1
    print("%d of %d starts passed" % (args.runs - failed, args.runs))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
