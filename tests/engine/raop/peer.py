#!/usr/bin/env python3
"""Runs the RAOP client's real-peer tests against Debian's shairport-sync.

shairport-sync refuses to start without an mDNS advertiser, so this starts
(unless already running) a system D-Bus and an avahi-daemon restricted to the
loopback interface (no multicast leaves the machine), then one shairport-sync
per case on a free loopback port with a configuration file of its own, and
runs the Windows test binary under Wine with TESS_RAOP_PEER_PORT,
TESS_RAOP_PEER_PASSWORD and TESS_RAOP_PEER_ALAC set. Cases: AAC-ELD without
and with a password (the peer takes the session and buffers the packets but
cannot decode that codec), and ALAC, which the peer plays to a PCM file whose
tone is measured here. Everything it started is stopped by process id.

Usage: peer.py --wine-run WINE_RUN --exe TEST.exe --out DIR [--filter F]
Exit: 0 every case passed, 1 a case failed, 77 a tool is missing (skip).
"""

import argparse
import math
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

AVAHI_CONF = """[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
disallow-other-stacks=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
publish-addresses=yes
[reflector]
enable-reflector=no
[rlimits]
"""

# name, password, ALAC (the peer then plays to a PCM file that is measured)
CASES = [
    ("open", "", False),
    ("password", "tess-peer-pw", False),
    ("alac", "", True),
]
TONE_HZ = 1000.0
# The tone as fed is -9.03 dBFS RMS; ALAC is lossless, the peer may stuff or
# drop single frames to follow the sender's clock.
TONE_TOLERANCE_HZ = 5.0
LEVEL_DBFS = (-10.5, -7.5)


def log(*a):
    say("[peer] " + " ".join(str(x) for x in a))


def say(text):
    # A closed output (a pipe cut short) must not stop the clean-up.
    try:
        print(text, flush=True)
    except (BrokenPipeError, OSError):
        pass


def on_terminate(signum, frame):
    raise SystemExit(1)  # runs the finally blocks that stop the peers


def free_tcp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_until(pred, seconds, step=0.1):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(step)
    return pred()


def system_bus_alive():
    if not os.path.exists("/run/dbus/system_bus_socket") or not shutil.which("dbus-send"):
        return False
    r = subprocess.run(["dbus-send", "--system", "--dest=org.freedesktop.DBus", "--print-reply",
                        "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=5)
    return r.returncode == 0


def avahi_on_bus():
    r = subprocess.run(["dbus-send", "--system", "--dest=org.freedesktop.DBus", "--print-reply",
                        "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                        "string:org.freedesktop.Avahi"],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=5)
    return r.returncode == 0 and "boolean true" in r.stdout


def stop(proc, name):
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        log(f"{name} (pid {proc.pid}) ignored SIGTERM, killing it")
        proc.kill()
        proc.wait(timeout=5)


def port_accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


# What the peer must have logged (at -vv) for a session it took: each request,
# RTP packets buffered for play (it names the RTP time of the first one it
# kept), and the volume change to -10 dB in the middle of the stream.
EXPECTED_LOG = [
    'Received an RTSP Packet of type "ANNOUNCE"',
    'Received an RTSP Packet of type "SETUP"',
    'Received an RTSP Packet of type "RECORD"',
    'Received an RTSP Packet of type "SET_PARAMETER"',
    "first_packet_time set for frame ",
    "airplay volume is -10.000000",
]


def peer_saw_session(peer_log, with_password, alac):
    text = open(peer_log, errors="replace").read()
    ok = True
    # No volume change in the ALAC case.
    expected = [e for e in EXPECTED_LOG if not (alac and "-10.0" in e)]
    for needle in expected + (['WWW-Authenticate", content: "Digest'] if with_password else []):
        if needle not in text:
            log(f"the peer's log lacks: {needle}")
            ok = False
    return ok


def measure_tone(pcm_path):
    """Frequency (interpolated upward zero crossings) and RMS level in dBFS of
    the left channel of 16-bit stereo PCM, over the part after the leading
    silence (the first 0.1 s of sound skipped)."""
    data = open(pcm_path, "rb").read()
    n = len(data) // 4
    left = struct.unpack("<%dh" % (2 * n), data[:4 * n])[0::2]
    start = next((i for i, v in enumerate(left) if abs(v) > 1000), None)
    if start is None:
        return None
    end = len(left)
    while end > start and abs(left[end - 1]) <= 1000:
        end -= 1
    x = left[start + 4410:end - 441]
    if len(x) < 44100:
        return None
    first = last = None
    crossings = 0
    for i in range(1, len(x)):
        if x[i - 1] < 0 <= x[i]:
            t = (i - 1) + (-x[i - 1]) / (x[i] - x[i - 1])
            first = t if first is None else first
            last = t
            crossings += 1
    rms = math.sqrt(sum(v * v for v in x) / len(x))
    return {"seconds": round(len(x) / 44100, 2),
            "hz": round((crossings - 1) * 44100 / (last - first), 2) if crossings > 1 else 0,
            "rms_dbfs": round(20 * math.log10(rms / 32768), 2) if rms else -200}


def run_case(o, name, password, alac, out):
    port = free_tcp_port()
    conf = os.path.join(out, f"shairport-{name}.conf")
    lines = [f'  name = "TessPeer-{name}";', f"  port = {port};",
             # Its UDP ports are taken from here; keep them clear of the sender's 7000+.
             "  udp_port_base = 6101;", "  udp_port_range = 40;"]
    if password:
        lines.append(f'  password = "{password}";')
    with open(conf, "w") as f:
        f.write("general = {\n" + "\n".join(lines) + "\n};\n")
        f.write('metadata = { enabled = "no"; };\n')
    peer_log = os.path.join(out, f"shairport-{name}.log")
    pcm_path = os.path.join(out, f"shairport-{name}.pcm")
    with open(peer_log, "w") as lf:
        if alac:
            with open(pcm_path, "wb") as pf:
                peer = subprocess.Popen(["shairport-sync", "-c", conf, "-o", "stdout", "-u", "-vv"],
                                        stdout=pf, stderr=lf)
        else:
            peer = subprocess.Popen(["shairport-sync", "-c", conf, "-o", "dummy", "-u", "-vv"],
                                    stdout=lf, stderr=subprocess.STDOUT)
    try:
        if not wait_until(lambda: port_accepts(port) or peer.poll() is not None, 15) or peer.poll() is not None:
            log(f"shairport-sync did not start (exit {peer.poll()}); its log:")
            say(open(peer_log).read()[-4000:])
            return False
        env = dict(os.environ, TESS_RAOP_PEER_PORT=str(port), TESS_RAOP_PEER_PASSWORD=password,
                   TESS_RAOP_PEER_ALAC="1" if alac else "0")
        cmd = [o.wine_run, o.exe, f"--gtest_filter={o.filter}"]
        log(f"case {name}: shairport-sync pid {peer.pid} on 127.0.0.1:{port}, running", " ".join(cmd))
        r = subprocess.run(cmd, env=env, timeout=o.timeout)
        time.sleep(1.0)  # let the peer log the end of the session
        alive = peer.poll() is None
        if not alive:
            log(f"shairport-sync ended during the case (exit {peer.returncode})")
        ok = r.returncode == 0 and alive and peer_saw_session(peer_log, bool(password), alac)
        if alac:
            stop(peer, "shairport-sync")  # flushes what it played
            tone = measure_tone(pcm_path)
            log(f"case {name}: the peer played {tone}")
            if (not tone or abs(tone["hz"] - TONE_HZ) > TONE_TOLERANCE_HZ
                    or not LEVEL_DBFS[0] <= tone["rms_dbfs"] <= LEVEL_DBFS[1]):
                log(f"case {name}: expected {TONE_HZ} +- {TONE_TOLERANCE_HZ} Hz at "
                    f"{LEVEL_DBFS[0]}..{LEVEL_DBFS[1]} dBFS for at least a second")
                ok = False
        return ok
    finally:
        stop(peer, "shairport-sync")
        text = open(peer_log, errors="replace").read()
        lines = text.splitlines()
        # Its start-up settings dump is left out of the excerpt (the file has it).
        session = [line for line in lines if '"shairport.c:' not in line]
        log(f"case {name}: shairport-sync log ({len(lines)} lines) in {peer_log}; session part:")
        say("\n".join("  | " + line[:300] for line in session[:300]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--out", default=None)
    ap.add_argument("--filter", default="Shairport.*")
    ap.add_argument("--timeout", type=int, default=240)
    o = ap.parse_args()
    signal.signal(signal.SIGTERM, on_terminate)
    signal.signal(signal.SIGINT, on_terminate)

    for tool in ("shairport-sync", "avahi-daemon", "dbus-daemon", "dbus-send"):
        if not shutil.which(tool):
            log(f"{tool} is not installed (scripts/bootstrap installs it): skipped")
            return 77

    out = o.out or tempfile.mkdtemp(prefix="raop-peer-")
    os.makedirs(out, exist_ok=True)
    started = []  # (name, Popen), stopped in reverse order
    ok = True
    try:
        if system_bus_alive():
            log("reusing the running system D-Bus")
        else:
            os.makedirs("/run/dbus", exist_ok=True)
            if os.path.exists("/run/dbus/system_bus_socket"):
                os.unlink("/run/dbus/system_bus_socket")  # left by a bus that is gone
            bus = subprocess.Popen(["dbus-daemon", "--system", "--nofork", "--nopidfile"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            started.append(("dbus-daemon", bus))
            if not wait_until(system_bus_alive, 10):
                log("the system D-Bus did not come up")
                return 1
            log(f"started dbus-daemon pid {bus.pid}")

        if avahi_on_bus():
            log("reusing the running avahi-daemon")
        else:
            conf = os.path.join(out, "avahi-daemon.conf")
            with open(conf, "w") as f:
                f.write(AVAHI_CONF)
            avahi_log = open(os.path.join(out, "avahi.log"), "w")
            avahi = subprocess.Popen(["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits",
                                      f"--file={conf}"], stdout=avahi_log, stderr=subprocess.STDOUT)
            started.append(("avahi-daemon", avahi))
            if not wait_until(lambda: avahi_on_bus() or avahi.poll() is not None, 15) or avahi.poll() is not None:
                log("avahi-daemon did not come up; its log:")
                say(open(os.path.join(out, "avahi.log")).read()[-3000:])
                return 1
            log(f"started avahi-daemon pid {avahi.pid} on lo only")

        for name, password, alac in CASES:
            passed = run_case(o, name, password, alac, out)
            log(f"case {name}: {'passed' if passed else 'FAILED'}")
            ok = ok and passed
    finally:
        for name, proc in reversed(started):
            stop(proc, name)
            log(f"stopped {name} pid {proc.pid}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
