#!/usr/bin/env python3
"""Decodes the encoder's streams with ffmpeg on the Linux side.

Runs the Windows program audio_stream_dump under Wine, wraps its raw frames in
Matroska (AAC-ELD with its AudioSpecificConfig, ALAC with its magic cookie as
codec private data), decodes them with ffmpeg and checks:
  AAC-ELD: the two tones come back at their frequencies (within 0.5 Hz) and
    levels (within 0.5 dB), with everything that is not the tone at least
    30 dB below it, and the decoded length is the frames' 480 samples each.
  ALAC: the decoded PCM equals the encoded PCM bit for bit (for 6 channels,
    each decoded channel equals one input channel, whatever order ffmpeg
    gives them in).
Exit status 0 when every check passes.
"""
import argparse
import math
import os
import shutil
import struct
import subprocess
import sys


# ---------------------------------------------------------------- Matroska

def ebml_id(value):
    n = (value.bit_length() + 7) // 8
    return value.to_bytes(n, "big")


def ebml_size(n):
    return b"\x01" + n.to_bytes(7, "big")  # 8-byte size: simple and always valid


def element(eid, payload):
    return ebml_id(eid) + ebml_size(len(payload)) + payload


def uint(eid, v):
    n = max(1, (v.bit_length() + 7) // 8)
    return element(eid, v.to_bytes(n, "big"))


def matroska(codec_id, private, rate, channels, bit_depth, frames, samples_per_frame):
    header = element(0x1A45DFA3,
                     uint(0x4286, 1) + uint(0x42F7, 1) + uint(0x42F2, 4) + uint(0x42F3, 8) +
                     element(0x4282, b"matroska") + uint(0x4287, 4) + uint(0x4285, 2))
    info = element(0x1549A966, uint(0x2AD7B1, 1000000) +  # 1 ms ticks
                   element(0x4D80, b"decode-check") + element(0x5741, b"decode-check"))
    audio = element(0xB5, struct.pack(">d", float(rate))) + uint(0x9F, channels)
    if bit_depth:
        audio += uint(0x6264, bit_depth)
    track = element(0xAE, uint(0xD7, 1) + uint(0x73C5, 1) + uint(0x83, 2) +
                    element(0x86, codec_id.encode()) + element(0x63A2, private) +
                    element(0xE1, audio))
    tracks = element(0x1654AE6B, track)
    clusters = b""
    i = 0
    while i < len(frames):
        start_ms = i * samples_per_frame * 1000 // rate
        body = uint(0xE7, start_ms)
        while i < len(frames):
            t = i * samples_per_frame * 1000 // rate - start_ms
            if t > 30000:
                break
            block = b"\x81" + struct.pack(">hB", t, 0x80) + frames[i]
            body += element(0xA3, block)
            i += 1
        clusters += element(0x1F43B675, body)
    return header + element(0x18538067, info + tracks + clusters)


def read_stream(base):
    data = open(base + ".bin", "rb").read()
    sizes = [int(x) for x in open(base + ".sizes").read().split()]
    frames, off = [], 0
    for n in sizes:
        frames.append(data[off:off + n])
        off += n
    if off != len(data):
        raise SystemExit(f"{base}: sizes do not add up to the data")
    return frames, open(base + ".config", "rb").read()


def ffmpeg_decode(mkv_path, out_fmt, codec):
    raw = mkv_path + "." + out_fmt
    cmd = ["ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y", "-i", mkv_path,
           "-c:a", codec, "-f", out_fmt, raw]
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        raise SystemExit(f"ffmpeg failed on {mkv_path}: {r.stderr}")
    return open(raw, "rb").read()


# ---------------------------------------------------------------- measurement

def frequency(x, rate):
    first = last = None
    crossings = 0
    for i in range(1, len(x)):
        if x[i - 1] < 0 <= x[i]:
            t = (i - 1) + (-x[i - 1]) / (x[i] - x[i - 1])
            if first is None:
                first = t
            last = t
            crossings += 1
    return (crossings - 1) * rate / (last - first) if crossings > 1 else 0.0


def rms(x):
    return math.sqrt(sum(v * v for v in x) / len(x))


def residual_db(x, freq, rate):
    w = 2 * math.pi * freq / rate
    s = [math.sin(w * i) for i in range(len(x))]
    c = [math.cos(w * i) for i in range(len(x))]
    ss = sum(v * v for v in s)
    cc = sum(v * v for v in c)
    sc = sum(a * b for a, b in zip(s, c))
    xs = sum(a * b for a, b in zip(x, s))
    xc = sum(a * b for a, b in zip(x, c))
    det = ss * cc - sc * sc
    a = (xs * cc - xc * sc) / det
    b = (xc * ss - xs * sc) / det
    rest = sum((v - a * si - b * ci) ** 2 for v, si, ci in zip(x, s, c))
    return 10 * math.log10(max(rest, 1e-12) / sum(v * v for v in x))


# ---------------------------------------------------------------- checks

def check_aac(work, failures):
    frames, asc = read_stream(os.path.join(work, "aac_eld"))
    print(f"AAC-ELD: {len(frames)} frames, {sum(map(len, frames))} bytes, ASC {asc.hex()}")
    if asc != bytes.fromhex("f8e85000"):
        failures.append(f"AAC-ELD AudioSpecificConfig {asc.hex()}, expected f8e85000")
    mkv = os.path.join(work, "aac_eld.mkv")
    open(mkv, "wb").write(matroska("A_AAC", asc, 44100, 2, 0, frames, 480))
    raw = ffmpeg_decode(mkv, "s16le", "pcm_s16le")
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw)
    decoded = len(samples) // 2
    print(f"AAC-ELD: decoded {decoded} sample frames ({decoded / 44100:.3f} s)")
    if decoded != 480 * len(frames):
        failures.append(f"AAC-ELD decoded {decoded} sample frames, expected {480 * len(frames)}")
    # Skip the codec's start-up, measure one second.
    start, n = 4410, 44100
    for ch, freq, amp in ((0, 1000.0, 16384.0), (1, 2000.0, 8192.0)):
        x = [float(v) for v in samples[2 * start + ch:2 * (start + n):2]]
        f = frequency(x, 44100)
        level = 20 * math.log10(rms(x) / (amp / math.sqrt(2)))
        rest = residual_db(x, f, 44100)
        print(f"AAC-ELD channel {ch}: {f:.3f} Hz (want {freq}), level {level:+.3f} dB, "
              f"rest {rest:.1f} dB")
        if abs(f - freq) > 0.5:
            failures.append(f"AAC-ELD channel {ch} frequency {f:.3f} Hz")
        if abs(level) > 0.5:
            failures.append(f"AAC-ELD channel {ch} level {level:+.3f} dB")
        if rest > -30:
            failures.append(f"AAC-ELD channel {ch} not a clean tone: rest {rest:.1f} dB")


def check_alac(work, name, channels, bits, failures):
    base = os.path.join(work, "alac_" + name)
    frames, cookie = read_stream(base)
    pcm = open(base + ".pcm", "rb").read()
    mkv = base + ".mkv"
    open(mkv, "wb").write(matroska("A_ALAC", cookie, 44100, channels, bits, frames, 352))
    fmt = {16: "s16le", 24: "s24le", 32: "s32le"}[bits]
    raw = ffmpeg_decode(mkv, fmt, "pcm_" + fmt)
    ratio = sum(map(len, frames)) / len(pcm)
    print(f"ALAC {name}: {len(frames)} frames, {len(pcm)} PCM bytes, coded to {ratio:.1%}, "
          f"decoded {len(raw)} bytes")
    if len(raw) != len(pcm):
        failures.append(f"ALAC {name}: decoded {len(raw)} bytes, expected {len(pcm)}")
        return
    if channels <= 2:
        if raw != pcm:
            first = next(i for i in range(len(pcm)) if raw[i] != pcm[i])
            failures.append(f"ALAC {name}: differs from byte {first}")
        return
    width = bits // 8
    stride = width * channels

    def split(data):
        return [b"".join(data[i + c * width:i + (c + 1) * width] for i in range(0, len(data), stride))
                for c in range(channels)]

    if sorted(split(raw)) != sorted(split(pcm)):
        failures.append(f"ALAC {name}: decoded channels are not the input channels")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--dump", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    if not shutil.which("ffmpeg"):
        print("ffmpeg is missing (scripts/bootstrap installs it)")
        return 1
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    win_dir = "Z:" + os.path.abspath(args.work).replace("/", "\\")
    r = subprocess.run([args.wine_run, args.dump, win_dir], capture_output=True, text=True,
                       timeout=300)
    if r.returncode != 0:
        print(r.stdout, r.stderr)
        print(f"audio_stream_dump failed with {r.returncode}")
        return 1
    failures = []
    check_aac(args.work, failures)
    for name, channels, bits in (("stereo16", 2, 16), ("mono16", 1, 16), ("stereo24", 2, 24),
                                 ("stereo32", 2, 32), ("six16", 6, 16)):
        check_alac(args.work, name, channels, bits, failures)
    for f in failures:
        print("FAIL:", f)
    print("decode check:", "passed" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
