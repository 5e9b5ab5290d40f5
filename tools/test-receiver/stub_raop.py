#!/usr/bin/env python3
"""A small RAOP sender used to test the RAOP test receiver.

It frames RTSP requests as the sender does, answers timing requests, and
sends RTP audio and sync packets. Audio frames are AAC-ELD from libfdk-aac
(through ctypes, when the library is installed) or made-up bytes. `faults`
switches on single deviations.
"""

import base64
import ctypes
import ctypes.util
import math
import os
import random
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire  # noqa: E402


class _Info(ctypes.Structure):
    _fields_ = [("maxOutBufBytes", ctypes.c_uint), ("maxAncBytes", ctypes.c_uint),
                ("inBufFillLevel", ctypes.c_uint), ("inputChannels", ctypes.c_uint),
                ("frameLength", ctypes.c_uint), ("nDelay", ctypes.c_uint),
                ("nDelayCore", ctypes.c_uint), ("confBuf", ctypes.c_ubyte * 64),
                ("confSize", ctypes.c_uint)]


class _BufDesc(ctypes.Structure):
    _fields_ = [("numBufs", ctypes.c_int), ("bufs", ctypes.POINTER(ctypes.c_void_p)),
                ("bufferIdentifiers", ctypes.POINTER(ctypes.c_int)),
                ("bufSizes", ctypes.POINTER(ctypes.c_int)),
                ("bufElSizes", ctypes.POINTER(ctypes.c_int))]


class _InArgs(ctypes.Structure):
    _fields_ = [("numInSamples", ctypes.c_int), ("numAncBytes", ctypes.c_int)]


class _OutArgs(ctypes.Structure):
    _fields_ = [("numOutBytes", ctypes.c_int), ("numInSamples", ctypes.c_int),
                ("numAncBytes", ctypes.c_int), ("bitResState", ctypes.c_int)]


def _load_fdk():
    for name in ("libfdk-aac.so.2", ctypes.util.find_library("fdk-aac")):
        if name:
            try:
                return ctypes.CDLL(name)
            except OSError:
                pass
    return None


class AacEldEncoder:
    """AAC-ELD, 44100 Hz stereo, 480-sample frames, raw access units."""

    def __init__(self):
        lib = _load_fdk()
        if lib is None:
            raise OSError("libfdk-aac not installed")
        self.lib = lib
        self.h = ctypes.c_void_p()
        if lib.aacEncOpen(ctypes.byref(self.h), 0, 2):
            raise OSError("aacEncOpen failed")
        # Bitrate mode 8 is refused by this library: constant 64 kbit/s instead.
        for param, value in ((0x0100, 39), (0x0103, 44100), (0x0106, 2), (0x0107, 1),
                             (0x0102, 0), (0x0101, 64000), (0x0300, 0), (0x0200, 1),
                             (0x0105, 480), (0x0108, 1)):
            if lib.aacEncoder_SetParam(self.h, param, value):
                raise OSError("aacEncoder_SetParam 0x%04x=%d failed" % (param, value))
        if lib.aacEncEncode(self.h, None, None, None, None):
            raise OSError("encoder initialisation failed")
        info = _Info()
        lib.aacEncInfo(self.h, ctypes.byref(info))
        self.asc = bytes(info.confBuf[:info.confSize])
        self.out = ctypes.create_string_buffer(20480)

    def encode(self, pcm):
        """One frame of 480 stereo 16-bit samples in, the access unit (maybe empty) out."""
        inbuf = ctypes.create_string_buffer(pcm, len(pcm))
        ind = _BufDesc(1, (ctypes.c_void_p * 1)(ctypes.cast(inbuf, ctypes.c_void_p)),
                       (ctypes.c_int * 1)(0), (ctypes.c_int * 1)(len(pcm)), (ctypes.c_int * 1)(2))
        outd = _BufDesc(1, (ctypes.c_void_p * 1)(ctypes.cast(self.out, ctypes.c_void_p)),
                        (ctypes.c_int * 1)(3), (ctypes.c_int * 1)(20480), (ctypes.c_int * 1)(1))
        oa = _OutArgs()
        if self.lib.aacEncEncode(self.h, ctypes.byref(ind), ctypes.byref(outd),
                                 ctypes.byref(_InArgs(len(pcm) // 2, 0)), ctypes.byref(oa)):
            raise OSError("aacEncEncode failed")
        return self.out.raw[:oa.numOutBytes]

    def close(self):
        self.lib.aacEncClose(ctypes.byref(self.h))


def tone_frames(count, freq=1000.0, amplitude=8000):
    """AAC-ELD frames of a stereo sine tone, or None without the library."""
    try:
        enc = AacEldEncoder()
    except OSError:
        return None
    frames, n = [], 0
    try:
        while len(frames) < count:
            pcm = bytearray()
            for k in range(480):
                v = int(amplitude * math.sin(2 * math.pi * freq * (n + k) / 44100))
                pcm += struct.pack("<hh", v, v)
            n += 480
            au = enc.encode(bytes(pcm))
            if au:
                frames.append(au)
    finally:
        enc.close()
    return frames


def dummy_frames(count):
    return [bytes([0x10 + i % 200]) * (60 + i % 7) for i in range(count)]


class StubRaop:
    def __init__(self, host, port, frames=None, password=None, device_id="0123456789AB",
                 faults=(), volume_db=None, pace=0.002, linger=0.0, timeout=10):
        self.host, self.port = host, port
        self.timeout = timeout
        self.frames = frames if frames is not None else dummy_frames(100)
        self.password = password
        self.device_id = device_id
        self.faults = set(faults)
        self.volume_db = volume_db
        self.pace = pace
        self.linger = linger
        self.result = {}
        self.cseq = 0
        self.session = None
        self.realm = self.nonce = None
        self.stop = threading.Event()
        self.timing_start = int(time.time())
        rnd = os.urandom(28)
        sid = struct.unpack("<I", bytes([0]) + rnd[1:4])[0]
        self.session_id = "%lu" % sid
        self.instance = "%08x%08x" % struct.unpack("<II", rnd[4:12])
        self.challenge = base64.b64encode(rnd[12:28]).decode().replace("=", "")

    # ---------------------------------------------------------------- UDP

    @staticmethod
    def bind_udp():
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        start = random.randrange(7000, 7900)
        for port in list(range(start, 8001)) + list(range(7000, start)):
            try:
                s.bind(("127.0.0.1", port))
                return s
            except OSError:
                continue
        raise OSError("no free UDP port in 7000..8000")

    def ntp_now(self):
        now = time.time()
        if "timing-clock-jump" in self.faults and self.timing_answered >= 1:
            now += 5
        secs = int(now) - self.timing_start + wire.NTP_UNIX_EPOCH
        return secs, int((int(now * 1000) % 1000) * 4294967.296)

    def timing_loop(self):
        self.timing_answered = 0
        self.timing.settimeout(0.2)
        while not self.stop.is_set():
            try:
                req, addr = self.timing.recvfrom(1024)
            except socket.timeout:
                continue
            except OSError:
                return
            if len(req) < 32:
                continue
            secs, frac = self.ntp_now()
            reply = bytes([0x80, 0xD3, 0x00, 0x07]) + bytes(4) + req[24:32]
            if "timing-no-echo" in self.faults:
                reply = reply[:8] + bytes(8)
            reply += struct.pack(">IIII", secs, frac, secs, frac)
            self.timing.sendto(reply, addr)
            self.timing_answered += 1

    # --------------------------------------------------------------- RTSP

    def request(self, method, content_type=None, body=None, headers=()):
        self.cseq += 1
        if "cseq-skip" in self.faults and method == "RECORD":
            self.cseq += 1
        lines = ["%s %s RTSP/1.0" % (method, self.url), "CSeq: %d" % self.cseq,
                 "X-Apple-Device-ID: 0x%s" % self.device_id]
        if self.session is not None:
            # The kept value still starts with the blank that followed the colon.
            lines.append("Session: %s" % (self.session.lstrip() if "session-one-blank"
                                          in self.faults else self.session))
        lines += ["%s: %s" % h for h in headers]
        if body is not None:
            lines += ["Content-Type: %s" % content_type, "Content-Length: %d" % len(body)]
        if self.realm and self.nonce:
            resp = wire.digest_response(wire.RAOP_DIGEST_USER, self.realm, self.password or "",
                                        self.nonce, method, self.url)
            lines.append('Authorization: Digest username="%s", realm="%s", nonce="%s", uri="%s",'
                         ' response="%s"' % (wire.RAOP_DIGEST_USER, self.realm, self.nonce,
                                             self.url, resp))
        lines += ["User-Agent: %s" % wire.RAOP_USER_AGENT, "Client-Instance: %s" % self.instance,
                  "dacp-id: %s" % wire.RAOP_DACP_ID, "active-remote: %s" % wire.RAOP_ACTIVE_REMOTE,
                  "Apple-Challenge: %s" % self.challenge]
        data = ("\r\n".join(lines) + "\r\n\r\n").encode() + (body or b"")
        self.sock.sendall(data)
        status = self.f.readline(2048).decode("latin-1").split()
        headers = []
        length = 0
        while True:
            line = self.f.readline(8192).decode("latin-1").rstrip("\r\n")
            if not line:
                break
            name, _, value = line.partition(":")
            headers.append((name, value))
            if name == "Content-Length":
                length = int(value)
        if length:
            self.f.read(length)
        return (status[1] if len(status) > 1 else "?"), headers

    def announce(self):
        sdp = wire.SDP_AAC_ELD % (self.session_id, self.local, self.host)
        if "sdp-rtmap" in self.faults:
            sdp = sdp.replace("rtmap", "rtpmap")
        body = sdp.encode()
        status, headers = self.request("ANNOUNCE", "application/sdp", body)
        if status == "401":
            for name, value in headers:
                if name.lower() == "www-authenticate" and value.lower().startswith(" digest"):
                    for part in value[7:].split(","):
                        part = part.strip().rstrip('"')
                        if part.startswith('realm="'):
                            self.realm = part[7:]
                        if part.startswith('nonce="'):
                            self.nonce = part[7:]
            if "wrong-password" in self.faults:
                self.password = (self.password or "") + "x"
            status, headers = self.request("ANNOUNCE", "application/sdp", body)
        return status

    def run(self):
        self.sock = None
        self.f = None
        self.timing_answered = 0
        try:
            self.sock = socket.create_connection((self.host, self.port), timeout=self.timeout)
            self.f = self.sock.makefile("rb")
            self.local = self.sock.getsockname()[0]
            self.url = "rtsp://%s/%s" % (self.local, self.session_id)
            if self.announce() != "200":
                self.result["end"] = "announce refused"
                return
            self.data, self.timing, self.control = (self.bind_udp(), self.bind_udp(),
                                                    self.bind_udp())
            t = threading.Thread(target=self.timing_loop, daemon=True)
            t.start()
            status, headers = self.request("SETUP", headers=[(
                "Transport", "RTP/AVP/UDP;unicast;interleaved=0-1;mode=record;control_port=%d;"
                "timing_port=%d" % (self.control.getsockname()[1], self.timing.getsockname()[1]))])
            h = dict(headers)
            if status != "200" or "Session" not in h or "Transport" not in h:
                self.result["end"] = "setup failed"
                return
            self.session = h["Session"]
            ports = dict(p.split("=", 1) for p in h["Transport"].split(";") if "=" in p)
            self.server = ("127.0.0.1", int(ports.get("server_port", 0)))
            self.ctrl_addr = ("127.0.0.1", int(ports.get("control_port", 0)))
            if self.request("RECORD", headers=[("Range", "npt=0-"),
                                               ("RTP-Info", "seq=0;rtptime=0")])[0] != "200":
                self.result["end"] = "record failed"
                return
            vol = "volume: 0\r\n" if "volume-format" in self.faults else "volume: 0.000000\r\n"
            self.request("SET_PARAMETER", "text/parameters", vol.encode())
            self.stream()
            if self.volume_db is not None:
                self.request("SET_PARAMETER", "text/parameters",
                             ("volume: %f\r\n" % self.volume_db).encode())
            time.sleep(self.linger)
            self.result["end"] = "done"
        except OSError as e:
            self.result["end"] = "error: %s" % e
        finally:
            self.stop.set()
            if self.f:
                self.f.close()   # the file object holds the socket open too
            if self.sock:
                self.sock.close()
            for name in ("data", "timing", "control"):
                if hasattr(self, name):
                    getattr(self, name).close()
            self.result["timing_answered"] = self.timing_answered

    def stream(self):
        counter = 1
        for i, frame in enumerate(self.frames):
            if counter % (44100 // 480) == 1 and "no-sync" not in self.faults:
                secs, frac = self.ntp_now()
                self.control.sendto(wire.raop_sync_packet(counter, secs, frac), self.ctrl_addr)
            packet = bytearray(wire.rtp_audio_packet(counter, frame))
            if "no-marker" in self.faults:
                packet[1] = 0x60
            if "bad-ssrc" in self.faults:
                packet[8] = 0
            if "ts-step" in self.faults:
                struct.pack_into(">I", packet, 4, counter * 481)
            if "seq-gap" in self.faults and i == 5:
                counter += 1
                continue
            self.data.sendto(bytes(packet), self.server)
            counter += 1
            time.sleep(self.pace)


def main():
    import argparse
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=int(os.environ.get(
        "TESS_RAOP_PORT", os.environ.get("TESS_RECEIVER_PORT", 5000))))
    p.add_argument("--password")
    p.add_argument("--frames", type=int, default=200)
    p.add_argument("--tone", type=float, help="AAC-ELD frames of this tone (needs libfdk-aac)")
    p.add_argument("--fault", action="append", default=[])
    o = p.parse_args()
    frames = tone_frames(o.frames, o.tone) if o.tone else dummy_frames(o.frames)
    if frames is None:
        print("stub_raop: libfdk-aac not installed", file=sys.stderr)
        return 2
    s = StubRaop(o.host, o.port, frames, password=o.password, faults=o.fault)
    s.run()
    print(s.result)
    return 0 if s.result.get("end") == "done" else 1


if __name__ == "__main__":
    sys.exit(main())
