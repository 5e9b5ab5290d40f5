#!/usr/bin/env python3
"""One mirroring session from Wine to the test receiver, checked end to end.

    check_mirror.py --wine-run WINE_RUN --exe EXE --receiver-dir DIR
                    --mode full|region|switch|nobridge [--min-psnr DB]

Runs mirror-screen under run_with_receiver.py with the receiver decoding the
stream, then compares the last decoded picture with the screen copy the
Windows side wrote before mirroring (PSNR over RGB). "nobridge" runs a copy
of the program from a folder without the encoder bridge and expects the
session to end with its error, having sent no picture. "burst" changes the
region, monitor, scale and quality from another thread many times a second
for two seconds: every picture must still decode, every codec packet must
carry one of the sizes asked for, no picture may carry a geometry other than
its codec packet's, and the picture must end on the rectangle.
"""
import argparse
import json
import math
import os
import shutil
import socket
import subprocess
import sys
import tempfile


def psnr_rgb(rgb, bgra):
    n = len(rgb) // 3
    total = 0
    for i in range(n):
        r, g, b = rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]
        B, G, R = bgra[4 * i], bgra[4 * i + 1], bgra[4 * i + 2]
        total += (r - R) ** 2 + (g - G) ** 2 + (b - B) ** 2
    mse = total / (3.0 * n)
    return float("inf") if mse == 0 else 10 * math.log10(255 * 255 / mse)


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--receiver-dir", required=True)
    ap.add_argument("--mode", required=True,
                    choices=["full", "region", "switch", "nobridge", "burst"])
    ap.add_argument("--seconds", type=int, default=4)
    ap.add_argument("--min-psnr", type=float, default=30.0)
    a = ap.parse_args()

    out = tempfile.mkdtemp(prefix="tess-mirror-%s-" % a.mode)
    ok = False
    try:
        exe, cwd = a.exe, None
        if a.mode == "nobridge":
            alone = os.path.join(out, "alone")
            os.mkdir(alone)
            exe = shutil.copy(a.exe, alone)
            cwd = alone
        ref = os.path.join(out, "reference.bgra")
        # The session's NTP service and the receiver's time queries meet on a
        # port picked here: another session on this machine may hold 7010.
        ntp_port = free_udp_port()
        rx = ["--width", "1280", "--height", "720", "--timeout", "90", "--ntp-port", str(ntp_port)]
        if a.mode == "nobridge":
            rx += ["--expect-outcome", "streaming"]
        else:
            rx += ["--decode", "--dump-frames", os.path.join(out, "frames.rgb"), "--min-frames", "10"]
        if a.mode == "burst":
            rx += ["--strict-decode"]
        # The burst takes two seconds from the first quarter on; the picture
        # then needs time to settle on the rectangle.
        seconds = max(a.seconds, 7) if a.mode == "burst" else a.seconds
        cmd = [sys.executable, os.path.join(a.receiver_dir, "run_with_receiver.py"),
               "--out", out] + rx + ["--", a.wine_run, exe, a.mode, str(seconds),
                                     "Z:" + ref.replace("/", "\\")]
        r = subprocess.run(cmd, cwd=cwd, timeout=240,
                           env=dict(os.environ, TESS_NTP_PORT=str(ntp_port)))
        summary = json.load(open(os.path.join(out, "summary.json")))
        packets = summary.get("packets", {})
        print("check_mirror: %s: exit %d, outcome %s, packets %s, fps %s, first frame after %s ms"
              % (a.mode, r.returncode, summary.get("outcome"), json.dumps(packets),
                 json.dumps(summary.get("fps")), summary.get("first_frame_delay_ms")))
        if r.returncode != 0:
            return 1
        if a.mode == "nobridge":
            ok = packets.get("bitstream_with_data", 0) == 0 and packets.get("codec", 0) == 0
            return 0 if ok else 1
        if a.mode == "switch":
            sizes = [c.get("size") for c in summary.get("codec_packets", [])]
            print("check_mirror: codec packet sizes %s" % sizes)
            ok = sizes == [[640, 360], [1280, 720]]
            return 0 if ok else 1

        if a.mode == "burst":
            sizes = [c.get("size") for c in summary.get("codec_packets", [])]
            asked = [[640, 360], [320, 240], [1280, 720]]
            dec = summary.get("decode", {})
            odd = [s for s in sizes if s not in asked]
            torn = [t for t in summary.get("warnings", []) if ": geometry " in t]
            print("check_mirror: burst: %d codec packets, sizes %s; %s pictures sent, %s decoded"
                  % (len(sizes), sorted(set(map(tuple, sizes))),
                     packets.get("bitstream_with_data"), dec.get("frames")))
            if odd or torn or len(sizes) < 2 or dec.get("frames") != packets.get("bitstream_with_data"):
                print("check_mirror: burst: sizes not asked for %s, geometry warnings %s"
                      % (odd, torn), file=sys.stderr)
                return 1

        w, h = [int(x) for x in open(ref + ".txt").read().split()]
        dec = summary.get("decode", {})
        if [dec.get("width"), dec.get("height")] != [w, h]:
            print("check_mirror: decoded %sx%s, the mirrored area is %dx%d"
                  % (dec.get("width"), dec.get("height"), w, h), file=sys.stderr)
            return 1
        frames = open(os.path.join(out, "frames.rgb"), "rb").read()
        size = w * h * 3
        count = len(frames) // size
        if count < 10:
            print("check_mirror: only %d pictures decoded" % count, file=sys.stderr)
            return 1
        last = frames[(count - 1) * size:count * size]
        value = psnr_rgb(last, open(ref, "rb").read())
        print("check_mirror: %d pictures %dx%d decoded; last against the screen: PSNR %.2f dB"
              " (bound %.1f)" % (count, w, h, value, a.min_psnr))
        ok = value >= a.min_psnr
        return 0 if ok else 1
    finally:
        if ok:
            shutil.rmtree(out, ignore_errors=True)
        else:
            print("check_mirror: files kept in %s" % out, file=sys.stderr)


if __name__ == "__main__":
    sys.exit(main())
