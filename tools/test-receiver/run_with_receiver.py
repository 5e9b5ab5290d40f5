#!/usr/bin/env python3
"""Run a command against a fresh test receiver.

    run_with_receiver.py [driver options] [receiver options] -- COMMAND...

Starts receiver.py (or raop_receiver.py with --raop) on a free port, waits
for its "LISTENING <port>" line, then runs COMMAND with TESS_RECEIVER_PORT
and TESS_RECEIVER_OUT in its environment, and waits for both. Exits 0 only
when the command succeeded and the receiver found no violation (or, with
--expect-violations, found some). Driver options: --expect-violations,
--raop, --command-timeout S, --grace S (how long the receiver may run on
after the command ended before it is told to stop), --keep (keep the output
directory), --out DIR.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))


def split_args(argv):
    if "--" not in argv:
        sys.exit("usage: run_with_receiver.py [options] -- COMMAND...")
    i = argv.index("--")
    mine, command = argv[:i], argv[i + 1:]
    if not command:
        sys.exit("run_with_receiver.py: no command after --")
    driver = {"expect_violations": False, "raop": False, "command_timeout": 120.0,
              "keep": False, "out": None, "grace": 20.0}
    passed = []
    it = iter(mine)
    for a in it:
        if a == "--expect-violations":
            driver["expect_violations"] = True
        elif a == "--raop":
            driver["raop"] = True
        elif a == "--keep":
            driver["keep"] = True
        elif a == "--command-timeout":
            driver["command_timeout"] = float(next(it))
        elif a == "--grace":
            driver["grace"] = float(next(it))
        elif a == "--out":
            driver["out"] = next(it)
        elif a == "--port":
            next(it)   # the driver always asks for a free port
        else:
            passed.append(a)
    return driver, passed, command


def kill_group(proc):
    try:
        os.killpg(proc.pid, 9)
    except (ProcessLookupError, PermissionError):
        pass


def main(argv):
    driver, rx_args, command = split_args(argv)
    out = driver["out"] or tempfile.mkdtemp(prefix="tess-rx-")
    script = "raop_receiver.py" if driver["raop"] else "receiver.py"
    rx = subprocess.Popen([sys.executable, os.path.join(HERE, script), "--port", "0",
                           "--out", out] + rx_args,
                          stdout=subprocess.PIPE, text=True, start_new_session=True)
    line = [None]
    reader = threading.Thread(target=lambda: line.__setitem__(0, rx.stdout.readline()),
                              daemon=True)
    reader.start()
    reader.join(15)
    if not line[0] or not line[0].startswith("LISTENING "):
        kill_group(rx)
        rx.wait(5)
        print("run_with_receiver: receiver did not start (got %r, exit %s)"
              % (line[0], rx.poll()), file=sys.stderr)
        return 2 if rx.poll() == 2 else 1
    port = line[0].split()[1]
    # Echo whatever else the receiver prints on stdout.
    threading.Thread(target=lambda: [sys.stdout.write(l) for l in rx.stdout], daemon=True).start()

    env = dict(os.environ, TESS_RECEIVER_PORT=port, TESS_RECEIVER_OUT=out)
    print("run_with_receiver: receiver on port %s, output in %s" % (port, out), file=sys.stderr)
    cmd = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        cmd_rc = cmd.wait(driver["command_timeout"])
    except subprocess.TimeoutExpired:
        kill_group(cmd)
        cmd.wait(10)
        print("run_with_receiver: command timed out after %.0f s" % driver["command_timeout"],
              file=sys.stderr)
        cmd_rc = "timeout"
    # The command's sockets are closed now, so a receiver that was served ends
    # by itself; one still waiting (no connection, a stall) is asked to stop
    # after a grace period and then writes its summary.
    try:
        rx_rc = rx.wait(driver["grace"])
    except subprocess.TimeoutExpired:
        rx.terminate()
        try:
            rx_rc = rx.wait(15)
        except subprocess.TimeoutExpired:
            kill_group(rx)
            rx.wait(10)
            rx_rc = "timeout"

    ok_cmd = cmd_rc == 0
    ok_rx = rx_rc == 1 if driver["expect_violations"] else rx_rc == 0
    if not ok_cmd:
        print("run_with_receiver: command failed (%s)" % cmd_rc, file=sys.stderr)
    if not ok_rx:
        print("run_with_receiver: receiver exit %s (%s)" % (
            rx_rc, "violations expected" if driver["expect_violations"] else "no violation expected"),
            file=sys.stderr)
    ok = ok_cmd and ok_rx
    if ok and not driver["keep"] and not driver["out"]:
        shutil.rmtree(out, ignore_errors=True)
    elif not ok:
        print("run_with_receiver: receiver output kept in %s" % out, file=sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
