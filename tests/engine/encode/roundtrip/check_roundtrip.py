#!/usr/bin/env python3
"""Encoder round trip: runs venc-roundtrip under Wine, decodes its H.264
stream with ffmpeg on the Linux side and compares every decoded picture with
the I420 pictures that were encoded (PSNR of the luma and chroma planes).

    check_roundtrip.py --wine-run WINE_RUN --exe EXE [--width W --height H
                       --frames N --min-psnr DB]
Exit 0 when the stream decodes to N pictures of the right size and both the
average and the lowest PSNR reach --min-psnr.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--width", type=int, default=1280)
    ap.add_argument("--height", type=int, default=720)
    ap.add_argument("--frames", type=int, default=30)
    ap.add_argument("--min-psnr", type=float, default=38.0)
    a = ap.parse_args()
    if not shutil.which("ffmpeg"):
        print("check_roundtrip: ffmpeg is missing", file=sys.stderr)
        return 1
    out = tempfile.mkdtemp(prefix="tess-venc-")
    ok = False
    try:
        win_out = "Z:" + out.replace("/", "\\")
        r = subprocess.run([a.wine_run, a.exe, win_out, str(a.width), str(a.height), str(a.frames)],
                           timeout=300)
        if r.returncode != 0:
            print("check_roundtrip: encoder program failed (%s)" % r.returncode, file=sys.stderr)
            return 1
        decoded = os.path.join(out, "decoded.yuv")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "h264", "-i",
                        os.path.join(out, "stream.h264"), "-f", "rawvideo", "-pix_fmt", "yuv420p",
                        decoded], check=True, timeout=120)
        frame = a.width * a.height * 3 // 2
        size = os.path.getsize(decoded)
        if size != frame * a.frames:
            print("check_roundtrip: decoded %d bytes, expected %d pictures of %dx%d"
                  % (size, a.frames, a.width, a.height), file=sys.stderr)
            return 1
        stats = os.path.join(out, "psnr.log")
        raw = ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", "%dx%d" % (a.width, a.height)]
        subprocess.run(["ffmpeg", "-v", "error"] + raw + ["-i", decoded] + raw +
                       ["-i", os.path.join(out, "reference.yuv"), "-lavfi",
                        "psnr=stats_file=%s" % stats, "-f", "null", "-"], check=True, timeout=120)
        values = []
        for line in open(stats):
            m = re.search(r"psnr_avg:([0-9.]+|inf)", line)
            if m:
                values.append(float("inf") if m.group(1) == "inf" else float(m.group(1)))
        if len(values) != a.frames:
            print("check_roundtrip: %d PSNR values for %d pictures" % (len(values), a.frames),
                  file=sys.stderr)
            return 1
        avg = sum(values) / len(values)
        low = min(values)
        print("check_roundtrip: %d pictures %dx%d, PSNR average %.2f dB, lowest %.2f dB (bound %.1f)"
              % (a.frames, a.width, a.height, avg, low, a.min_psnr))
        ok = avg >= a.min_psnr and low >= a.min_psnr
        return 0 if ok else 1
    finally:
        if ok:
            shutil.rmtree(out, ignore_errors=True)
        else:
            print("check_roundtrip: files kept in %s" % out, file=sys.stderr)


if __name__ == "__main__":
    sys.exit(main())
