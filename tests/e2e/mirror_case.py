#!/usr/bin/env python3
"""One end-to-end case: mirror-cli (under Wine) against the test receiver.

Run by run_with_receiver.py, which puts the receiver's port in
TESS_RECEIVER_PORT. Checks what the sender itself reports: its last error,
its final state and status text, its exit code and how long its stop took.

    mirror_case.py WINE_RUN MIRROR_CLI [--seconds N] [--expect-error CODE]
                   [--expect-state STATE] [--expect-status TEXT] [--expect-exit N]
                   [--max-stop-ms MS] [-- extra mirror-cli options]
"""
import argparse
import os
import re
import subprocess
import sys


def main():
    argv = sys.argv[1:]
    extra = []
    if "--" in argv:
        i = argv.index("--")
        argv, extra = argv[:i], argv[i + 1:]
    p = argparse.ArgumentParser()
    p.add_argument("wine_run")
    p.add_argument("mirror_cli")
    p.add_argument("--seconds", type=int, default=5)
    p.add_argument("--expect-error", type=int, default=0)
    p.add_argument("--expect-status")
    p.add_argument("--expect-state", choices=["ended", "failed"],
                   help="default: ended when the exit is expected to be 0")
    p.add_argument("--expect-exit", type=int, default=0)
    p.add_argument("--max-stop-ms", type=int, default=3000)
    a = p.parse_args(argv)

    port = os.environ.get("TESS_RECEIVER_PORT")
    if not port:
        sys.exit("mirror_case.py: TESS_RECEIVER_PORT is not set (run me through run_with_receiver.py)")
    cmd = [a.wine_run, a.mirror_cli, "127.0.0.1", str(a.seconds), "--port", port] + extra
    out_dir = os.environ.get("TESS_RECEIVER_OUT")
    if out_dir:
        cmd += ["--log", "Z:" + os.path.join(out_dir, "mirror-cli.log").replace("/", "\\")]
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=a.seconds + 120)
    print(proc.stdout, end="")
    failures = []
    m = re.search(r"^last error: (-?\d+)", proc.stdout, re.M)
    if not m:
        failures.append("no 'last error' line")
    elif int(m.group(1)) != a.expect_error:
        failures.append("last error %s, expected %d" % (m.group(1), a.expect_error))
    state = a.expect_state or ("ended" if a.expect_exit == 0 else None)
    m = re.search(r"^state: (\w+)", proc.stdout, re.M)
    if state and (not m or m.group(1) != state):
        failures.append("state %s, expected %s" % (m.group(1) if m else None, state))
    statuses = re.findall(r"^status: (.*)$", proc.stdout, re.M)
    if a.expect_status is not None and (not statuses or statuses[-1] != a.expect_status):
        failures.append("final status %r, expected %r" % (statuses[-1] if statuses else None,
                                                         a.expect_status))
    m = re.search(r"^stopped: (\w+) in (\d+) ms", proc.stdout, re.M)
    if not m or m.group(1) != "yes":
        failures.append("the session did not stop")
    elif int(m.group(2)) > a.max_stop_ms:
        failures.append("stop took %s ms (bound %d)" % (m.group(2), a.max_stop_ms))
    if proc.returncode != a.expect_exit:
        failures.append("exit code %d, expected %d" % (proc.returncode, a.expect_exit))
    for f in failures:
        print("CASE FAILED: " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
