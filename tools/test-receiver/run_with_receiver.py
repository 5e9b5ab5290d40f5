#!/usr/bin/env python3
"""Run a command against a fresh test receiver.

    run_with_receiver.py [driver options] [receiver options] -- COMMAND...

Starts receiver.py (or raop_receiver.py with --raop) on a free port, waits
for its "LISTENING <port>" line, then runs COMMAND with TESS_RECEIVER_PORT
and TESS_RECEIVER_OUT in its environment, and waits for both. With
--with-raop "OPTIONS" an RAOP receiver runs beside the mirroring one (its
port and output in TESS_RAOP_PORT and TESS_RAOP_OUT). Exits 0 only when the
command succeeded and every receiver found no violation (or, with
--expect-violations, the main receiver found some).

Driver options: --raop, --with-raop "OPTIONS", --expect-violations,
--command-timeout S (default 120), --grace S (how long receivers may run on
after the command ended before they are told to stop; default 20), --keep
(keep the output directory), --out DIR.
"""

import os
import shlex
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
    driver = {"expect_violations": False, "raop": False, "with_raop": None,
              "command_timeout": 120.0, "grace": 20.0, "keep": False, "out": None}
    passed = []
    it = iter(mine)
    try:
        for a in it:
            if a == "--expect-violations":
                driver["expect_violations"] = True
            elif a == "--raop":
                driver["raop"] = True
            elif a == "--keep":
                driver["keep"] = True
            elif a == "--with-raop":
                driver["with_raop"] = shlex.split(next(it))
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
    except (StopIteration, ValueError):
        sys.exit("run_with_receiver.py: option %s needs a valid value" % a)
    return driver, passed, command


def kill_group(proc):
    try:
        os.killpg(proc.pid, 9)
    except (ProcessLookupError, PermissionError):
        pass


class Receiver:
    def __init__(self, script, args, out):
        self.name = script
        self.out = out
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, script), "--port", "0",
                                      "--out", out] + args,
                                     stdout=subprocess.PIPE, text=True, start_new_session=True)
        line = [None]
        reader = threading.Thread(target=lambda: line.__setitem__(0, self.proc.stdout.readline()),
                                  daemon=True)
        reader.start()
        reader.join(15)
        self.port = None
        if line[0] and line[0].startswith("LISTENING "):
            self.port = line[0].split()[1]
            # Echo whatever else the receiver prints on stdout.
            threading.Thread(target=lambda: [sys.stdout.write(l) for l in self.proc.stdout],
                             daemon=True).start()
        else:
            self.stop(0)
            print("run_with_receiver: %s did not start (got %r, exit %s)"
                  % (script, line[0], self.proc.poll()), file=sys.stderr)

    def wait(self, grace):
        """Exit status; a receiver still running after `grace` s is told to stop."""
        try:
            return self.proc.wait(grace)
        except subprocess.TimeoutExpired:
            return self.stop(15)

    def stop(self, patience):
        self.proc.terminate()
        try:
            return self.proc.wait(patience)
        except subprocess.TimeoutExpired:
            kill_group(self.proc)
            self.proc.wait(10)
            return "killed"


def main(argv):
    driver, rx_args, command = split_args(argv)
    out = driver["out"] or tempfile.mkdtemp(prefix="tess-rx-")
    receivers = [Receiver("raop_receiver.py" if driver["raop"] else "receiver.py", rx_args, out)]
    env = dict(os.environ, TESS_RECEIVER_PORT=str(receivers[0].port), TESS_RECEIVER_OUT=out)
    if driver["with_raop"] is not None:
        raop_out = os.path.join(out, "raop")
        receivers.append(Receiver("raop_receiver.py", driver["with_raop"], raop_out))
        env.update(TESS_RAOP_PORT=str(receivers[1].port), TESS_RAOP_OUT=raop_out)
    if any(r.port is None for r in receivers):
        for r in receivers:
            if r.port is not None:
                r.stop(5)
        return 1

    print("run_with_receiver: %s; output in %s" % (", ".join(
        "%s on port %s" % (r.name, r.port) for r in receivers), out), file=sys.stderr)
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
    # after the grace period and then still writes its summary.
    ok = cmd_rc == 0
    if not ok:
        print("run_with_receiver: command failed (%s)" % cmd_rc, file=sys.stderr)
    for i, r in enumerate(receivers):
        rc = r.wait(driver["grace"])
        want = 1 if (i == 0 and driver["expect_violations"]) else 0
        if rc != want:
            ok = False
            print("run_with_receiver: %s exit %s (%s)" % (
                r.name, rc, "violations expected" if want else "no violation expected"),
                file=sys.stderr)
    if ok and not driver["keep"] and not driver["out"]:
        shutil.rmtree(out, ignore_errors=True)
    elif not ok:
        print("run_with_receiver: receiver output kept in %s" % out, file=sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
