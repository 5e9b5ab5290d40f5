#!/usr/bin/env python3
"""Test receiver for the RAOP audio stream (RTSP control, RTP audio, sync, timing).

Accepts one RTSP connection and answers ANNOUNCE (optionally behind a Digest
challenge), SETUP, RECORD and SET_PARAMETER, checking every request line by
line. Receives the RTP audio on its data port and the sync packets on its
control port, sends timing requests to the sender's timing port and checks
the answers. Writes requests.log, audio.log, audio.mkv (the raw frames with
their AudioSpecificConfig), audio.wav (decoded with ffmpeg when present) and
summary.json into --out. Exit status: 0 no violation, 1 violations (each
printed as "VIOLATION: ..." on stderr), 2 usage errors. The first stdout line
is "LISTENING <port>".
"""

import argparse
import json
import os
import random
import re
import selectors
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire  # noqa: E402
from receiver import Ended, Findings, open_listener  # noqa: E402

MISBEHAVIOURS = [
    "refuse", "close-after-accept", "stall", "no-session", "no-transport", "no-server-port",
    "no-control-port", "no-jack-status", "bad-header", "many-headers", "long-line",
    "double-challenge", "reply-body", "fail-setup", "short-timing", "close-mid-stream",
]
OUTCOMES = ["no-connection", "connected", "challenged", "auth-failed", "announced",
            "setup", "recording", "streaming"]
MAX_REQUEST = 65536
TERMINATED = False


def _on_terminate(signum, frame):
    global TERMINATED
    TERMINATED = True


class RaopReceiver:
    def __init__(self, o, listener):
        self.o = o
        self.listener = listener
        self.f = Findings()
        self.sel = selectors.DefaultSelector()
        self.t_start = time.monotonic()
        self.deadline = self.t_start + o.timeout
        self.outcome = "no-connection"
        self.ended_by = None
        self.end_detail = None
        self.sock = None
        self.peer = None
        self.probes = []
        self.local = None
        self.buf = bytearray()
        self.rng = random.Random()
        self.nonce = o.nonce or "%032x" % self.rng.getrandbits(128)
        self.frames_per_packet = 352 if o.codec == "alac" else 480
        self.sync_interval = 44100 // self.frames_per_packet
        # RTSP state
        self.cseq = 0
        self.url = None
        self.session_id = None
        self.stable = {}          # header values that must not change between requests
        self.done = []            # ANNOUNCE, SETUP, RECORD as they were answered
        self.session_given = False
        self.challenged = False
        self.rechallenged = False
        self.methods = []
        self.volumes = []
        self.sdp = None
        self.client_ports = {}
        self.t_record = None
        self.t_announce = None
        self.after_misbehave = None
        self.observe_end = None
        # UDP
        self.data = self.control = self.timing = None
        self.server_ports = {}
        self.counting_stopped = False     # set once a packet limit was reached
        self.rtp = {"packets": 0, "bytes": 0, "first_seq": None, "last_seq": None,
                    "gaps": 0, "reordered": 0, "duplicates": 0, "source": None}
        self.counter = None       # unwrapped packet counter of the last packet
        self.frames = []
        self.sync = {"count": 0, "times": [], "source": None}
        self.sync_counters = set()
        self.timing_next = None
        self.timing_pending = {}
        self.timing_stats = {"sent": 0, "answered": 0, "bad": 0, "lost": 0,
                             "rtt_ms_max": None, "offset_spread_ms": None}
        # Bounds on (sender timing clock - our monotonic clock): every time
        # stamp gives a lower bound (it left before we got it), a timing reply
        # also an upper bound (it was made after our request left).
        self.clock_lo = []
        self.clock_hi = []
        self.t_first_rtp = None
        self.t_last_rtp = None
        self.req_log = None
        self.audio_log = None

    # ------------------------------------------------------------------ I/O

    def _ms(self, t):
        return round((t - self.t_start) * 1000, 1)

    def _pump(self, until, want_tcp=True):
        """Serve the UDP sockets until TCP data arrived (when wanted) or `until`."""
        while True:
            now = time.monotonic()
            if TERMINATED:
                raise Ended("terminated")
            if now >= self.deadline:
                raise Ended("timeout")
            if until is not None and now >= until:
                raise Ended("limit")
            wake = min(x for x in (self.deadline, until) if x is not None)
            if self.timing_next is not None:
                if now >= self.timing_next:
                    self.send_timing_request()
                    continue
                wake = min(wake, self.timing_next)
            for key, _ in self.sel.select(min(0.5, max(0.0, wake - now))):
                if key.data == "tcp":
                    try:
                        chunk = self.sock.recv(65536)
                    except OSError as e:
                        raise Ended("eof", "recv failed: %s" % e)
                    if not chunk:
                        raise Ended("eof")
                    self.buf += chunk
                    if want_tcp:
                        return
                else:
                    self.on_udp(key.data, key.fileobj)

    def read_request(self, until=None):
        while True:
            end = self.buf.find(b"\r\n\r\n")
            if end >= 0:
                break
            if len(self.buf) > MAX_REQUEST:
                self.f.violation("request", "request header over %d bytes" % MAX_REQUEST)
                raise Ended("error", "oversized request")
            try:
                self._pump(until)
            except Ended as e:
                if self.buf and e.reason == "eof":
                    self.f.violation("request", "connection closed inside a request: %r"
                                     % bytes(self.buf[:200]))
                raise
        head = bytes(self.buf[:end + 4])
        del self.buf[:end + 4]
        text = head.decode("latin-1")
        lines = text[:-4].split("\r\n")
        length = 0
        for line in lines[1:]:
            if line.startswith("Content-Length: ") and re.fullmatch(r"\d+", line[16:]):
                length = int(line[16:])
        if length > MAX_REQUEST:
            self.f.violation("request", "Content-Length %d too large" % length)
            raise Ended("error", "oversized body")
        while len(self.buf) < length:
            try:
                self._pump(until)
            except Ended as e:
                if e.reason == "eof":
                    self.f.violation("request", "connection closed inside a request body")
                raise
        body = bytes(self.buf[:length])
        del self.buf[:length]
        if self.req_log:
            self.req_log.write("--- %.1f ms\n%s%s\n" % (self._ms(time.monotonic()), text,
                                                        body.decode("latin-1")))
            self.req_log.flush()
        return lines[0], lines[1:], body, len(head) + length

    def send_reply(self, cseq, status="200 OK", headers=()):
        mode = self.o.misbehave
        lines = ["RTSP/1.0 %s" % status, "CSeq: %d" % cseq, "Server: TessarineTestRx/1.0"]
        lines += ["%s: %s" % h for h in headers]
        if mode == "bad-header":
            lines.append("This line has no colon")
        if mode == "many-headers":
            lines += ["X-Filler-%02d: %d" % (i, i) for i in range(20)]
        if mode == "long-line":
            lines.append("X-Long: " + "L" * 5000)
        body = b""
        if mode == "reply-body":
            body = b"this body must be consumed by its length\r\n\r\nRTSP/1.0 200 OK\r\n"
            lines.append("Content-Length: %d" % len(body))
        data = ("\r\n".join(lines) + "\r\n\r\n").encode() + body
        try:
            self.sock.settimeout(2)
            self.sock.sendall(data)
        except OSError as e:
            self.f.warning("send", "reply not sent: %s" % e)
        finally:
            self.sock.setblocking(False)

    # --------------------------------------------------------------- checks

    def stable_value(self, name, value):
        old = self.stable.setdefault(name, value)
        if old != value:
            self.f.violation("header", "%s changed from %r to %r" % (name, old, value))

    def check_request(self, request_line, lines, body, method, size):
        """Checks one request's framing; returns its headers as a dict."""
        where = "%s (CSeq %d)" % (method, self.cseq + 1)
        m = re.fullmatch(r"([A-Z_]+) (rtsp://([0-9.]+)/([0-9]+)) RTSP/1\.0", request_line)
        if not m:
            self.f.violation("request", "%s: request line %r" % (where, request_line))
            return {}
        url, local, sid = m.group(2), m.group(3), int(m.group(4))
        if self.url is None:
            self.url = url
            if local != self.peer[0]:
                self.f.violation("request", "%s: URL address %s is not the sender's address %s"
                                 % (where, local, self.peer[0]))
            if sid % 256 or sid >= 2**32:
                self.f.violation("request", "%s: session id %d is not a 32-bit multiple of 256"
                                 % (where, sid))
            self.session_id = sid
        elif url != self.url:
            self.f.violation("request", "%s: URL %s differs from the first %s" % (where, url, self.url))
        if size > 1023:
            self.f.warning("request-size", "%s: request of %d bytes exceeds 1023" % (where, size))
        expected = [("CSeq", r"%d" % (self.cseq + 1)),
                    ("X-Apple-Device-ID", r"0x(?:[0-9A-F]{12})?")]
        if self.session_given:
            # The sender keeps the blank after the colon of our reply in the value.
            expected.append(("Session", re.escape(" " + self.o.session)))
        if method == "SETUP":
            expected.append(("Transport", r"RTP/AVP/UDP;unicast;interleaved=0-1;mode=record;"
                                          r"control_port=(\d+);timing_port=(\d+)"))
        if method == "RECORD":
            expected += [("Range", "npt=0-"), ("RTP-Info", "seq=0;rtptime=0")]
        if body:
            ctype = {"ANNOUNCE": "application/sdp", "SET_PARAMETER": "text/parameters"}.get(
                method, r"[^\r\n]+")
            expected += [("Content-Type", ctype), ("Content-Length", str(len(body)))]
        if self.challenged:
            expected.append(("Authorization", r'Digest username="[^"]*", realm="[^"]*",'
                                              r' nonce="[^"]*", uri="[^"]*", response="[^"]*"'))
        expected += [("User-Agent", re.escape(wire.RAOP_USER_AGENT)),
                     ("Client-Instance", r"[0-9a-f]{16}"),
                     ("dacp-id", wire.RAOP_DACP_ID), ("active-remote", wire.RAOP_ACTIVE_REMOTE),
                     ("Apple-Challenge", r"[A-Za-z0-9+/]{22}")]
        headers = {}
        got = []
        for line in lines:
            name, sep, value = line.partition(":")
            if not sep:
                self.f.violation("header", "%s: header line without colon %r" % (where, line))
                continue
            got.append((name, value[1:] if value.startswith(" ") else value))
            headers[name] = got[-1][1]
        if [n for n, _ in got] != [n for n, _ in expected]:
            self.f.violation("header", "%s: header names %r, expected %r"
                             % (where, [n for n, _ in got], [n for n, _ in expected]))
        else:
            for (name, value), (_, pattern) in zip(got, expected):
                if not re.fullmatch(pattern, value):
                    self.f.violation("header", "%s: %s is %r" % (where, name, value))
        for name in ("X-Apple-Device-ID", "Client-Instance", "Apple-Challenge"):
            if name in headers:
                self.stable_value(name, headers[name])
        return headers

    def check_auth(self, method, headers):
        """True when the Authorization header answers our challenge for this request."""
        auth = headers.get("Authorization")
        if auth is None:
            return False
        m = re.fullmatch(r'Digest username="([^"]*)", realm="([^"]*)", nonce="([^"]*)",'
                         r' uri="([^"]*)", response="([^"]*)"', auth)
        if not m:
            return False
        user, realm, nonce, uri, response = m.groups()
        for name, got, want in (("username", user, wire.RAOP_DIGEST_USER),
                                ("realm", realm, self.o.realm), ("nonce", nonce, self.nonce),
                                ("uri", uri, self.url)):
            if got != want:
                self.f.violation("auth", "%s: Authorization %s %r, expected %r"
                                 % (method, name, got, want))
        want = wire.digest_response(wire.RAOP_DIGEST_USER, self.o.realm, self.o.password or "",
                                    self.nonce, method, self.url or "")
        return response == want

    def check_sdp(self, body):
        text = body.decode("latin-1")
        self.sdp = text
        template = wire.SDP_ALAC if self.o.codec == "alac" else wire.SDP_AAC_ELD
        want = template % (self.session_id, self.peer[0], self.local[0])
        if text != want:
            # Name the first differing line to keep the report readable.
            got_lines, want_lines = text.split("\r\n"), want.split("\r\n")
            for i, (g, w) in enumerate(zip(got_lines, want_lines)):
                if g != w:
                    self.f.violation("sdp", "SDP line %d is %r, expected %r" % (i + 1, g, w))
                    break
            else:
                self.f.violation("sdp", "SDP has %d lines, expected %d"
                                 % (len(got_lines), len(want_lines)))

    # ----------------------------------------------------------------- RTSP

    def open_udp(self):
        socks = []
        for name in ("data", "control", "timing"):
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind((self.o.host, 0))
            s.setblocking(False)
            self.sel.register(s, selectors.EVENT_READ, name)
            socks.append(s)
        self.data, self.control, self.timing = socks
        self.server_ports = {name: s.getsockname()[1]
                             for name, s in zip(("data", "control", "timing"), socks)}

    def serve_rtsp(self):
        """Handles requests until the connection ends; raises Ended."""
        o = self.o
        mode = o.misbehave
        password = o.password
        if mode == "double-challenge" and not password:
            password = o.password = "secret"
        while True:
            until = self.observe_end
            if self.t_record is not None:
                if o.duration:
                    until = min(x for x in (until, self.t_record + o.duration) if x is not None)
            request_line, lines, body, size = self.read_request(until)
            method = request_line.split(" ", 1)[0]
            self.methods.append(method)
            if mode == "stall":
                self.misbehave_start("request left unanswered")
                self.observe()
                return
            headers = self.check_request(request_line, lines, body, method, size)
            self.cseq += 1
            cseq = self.cseq
            try:
                cseq = int(headers.get("CSeq", cseq))
            except ValueError:
                pass
            if self.rechallenged:
                self.f.violation("auth", "%s sent after a repeated challenge" % method)
            authorized = True
            if password and self.challenged:
                authorized = self.check_auth(method, headers)
            if password and not self.challenged:
                if method != "ANNOUNCE":
                    self.f.violation("order", "%s before ANNOUNCE" % method)
                self.challenged = True
                self.outcome = "challenged"
                self.send_reply(cseq, "401 Unauthorized", [
                    ("WWW-Authenticate", 'Digest realm="%s", nonce="%s"' % (o.realm, self.nonce))])
                continue
            if not authorized or (mode == "double-challenge" and method == "ANNOUNCE"):
                if mode == "double-challenge":
                    self.misbehave_start("authorized ANNOUNCE challenged again")
                self.rechallenged = True
                if self.outcome == "challenged":
                    self.outcome = "auth-failed"
                self.send_reply(cseq, "401 Unauthorized", [
                    ("WWW-Authenticate", 'Digest realm="%s", nonce="%s"' % (o.realm, self.nonce))])
                continue
            self.handle(method, cseq, headers, body)

    def handle(self, method, cseq, headers, body):
        o = self.o
        mode = o.misbehave
        done = self.done
        if method == "ANNOUNCE":
            if done:
                self.f.violation("order", "second ANNOUNCE after %s" % done[-1])
            self.t_announce = time.monotonic()
            self.check_sdp(body)
            done.append("ANNOUNCE")
            self.outcome = "announced"
            self.send_reply(cseq)
        elif method == "SETUP":
            if "ANNOUNCE" not in done or "SETUP" in done:
                self.f.violation("order", "SETUP after %r" % done)
            m = re.search(r"control_port=(\d+);timing_port=(\d+)", headers.get("Transport", ""))
            if m:
                self.client_ports = {"control": int(m.group(1)), "timing": int(m.group(2))}
                for name, port in self.client_ports.items():
                    if not 7000 <= port <= 8000:
                        self.f.violation("setup", "client %s port %d outside 7000..8000"
                                         % (name, port))
            if mode == "fail-setup":
                self.misbehave_start("SETUP refused with 500")
                self.send_reply(cseq, "500 Internal Server Error")
                return
            transport = ["RTP/AVP/UDP", "unicast", "mode=record"]
            if mode != "no-server-port":
                transport.append("server_port=%d" % self.data.getsockname()[1])
            if mode != "no-control-port":
                transport.append("control_port=%d" % self.control.getsockname()[1])
            transport.append("timing_port=%d" % self.timing.getsockname()[1])
            reply = []
            if mode != "no-session":
                reply.append(("Session", o.session))
            if mode != "no-transport":
                reply.append(("Transport", ";".join(transport)))
            if mode != "no-jack-status":
                reply.append(("Apple-Jack-Status", "connected; type=analog"))
            if mode in ("no-session", "no-transport", "no-server-port", "no-control-port",
                        "no-jack-status"):
                self.misbehave_start("SETUP reply: %s" % mode)
            self.session_given = mode != "no-session"
            done.append("SETUP")
            self.outcome = "setup"
            self.send_reply(cseq, headers=reply)
            if self.client_ports.get("timing") and not o.no_timing:
                self.timing_next = time.monotonic() + 0.05
        elif method == "RECORD":
            if "SETUP" not in done or "RECORD" in done:
                self.f.violation("order", "RECORD after %r" % done)
            done.append("RECORD")
            self.t_record = time.monotonic()
            self.outcome = "recording"
            self.send_reply(cseq, headers=[("Audio-Latency", "4100")])
        elif method == "SET_PARAMETER":
            if "RECORD" not in done:
                self.f.violation("order", "SET_PARAMETER before RECORD")
            text = body.decode("latin-1")
            m = re.fullmatch(r"volume: (-?\d+\.\d{6})\r\n", text)
            if not m:
                self.f.violation("volume", "SET_PARAMETER body %r is not 'volume: %%f\\r\\n'" % text)
            else:
                v = float(m.group(1))
                self.volumes.append(v)
                if not -144.0 <= v <= 0.0:
                    self.f.violation("volume", "volume %s dB outside -144..0" % m.group(1))
            self.send_reply(cseq)
        elif method in ("TEARDOWN", "FLUSH"):
            self.f.warning("method", "%s received (the sender is not known to send it)" % method)
            self.send_reply(cseq)
        else:
            self.f.violation("method", "unexpected method %s" % method)
            self.send_reply(cseq, "501 Not Implemented")

    def misbehave_start(self, what):
        if self.after_misbehave is None:
            self.observe_end = time.monotonic() + self.o.observe
            self.after_misbehave = {"what": what, "at_ms": self._ms(time.monotonic()),
                                    "sender_closed_after_ms": None, "requests_after": 0}

    def observe(self):
        try:
            while True:
                self._pump(self.observe_end)
        except Ended as e:
            if e.reason == "eof":
                self.after_misbehave["sender_closed_after_ms"] = round(
                    self._ms(time.monotonic()) - self.after_misbehave["at_ms"], 1)
            raise

    # ------------------------------------------------------------------ UDP

    def on_udp(self, name, sock):
        while not self.counting_stopped:
            try:
                data, addr = sock.recvfrom(65536)
            except (BlockingIOError, InterruptedError):
                return
            except OSError:
                return
            now = time.monotonic()
            if self.peer and addr[0] != self.peer[0]:
                self.f.violation("udp", "%s datagram from %s, not the sender" % (name, addr[0]))
                continue
            if name == "data":
                self.on_rtp(data, addr, now)
            elif name == "control":
                self.on_sync(data, addr, now)
            else:
                self.on_timing_reply(data, addr, now)

    def on_rtp(self, data, addr, now):
        r = self.rtp
        if self.t_record is None:
            self.f.violation("rtp", "audio packet before RECORD was answered")
        if r["source"] is None:
            r["source"] = addr[1]
            if not 7000 <= addr[1] <= 8000:
                self.f.violation("rtp", "audio from port %d, outside 7000..8000" % addr[1])
        elif r["source"] != addr[1]:
            self.f.violation("rtp", "audio from port %d, earlier from %d" % (addr[1], r["source"]))
        if len(data) < 13:
            self.f.violation("rtp", "audio packet of %d bytes" % len(data))
            return
        seq, ts = struct.unpack_from(">HI", data, 2)
        if self.counter is None:
            counter = seq if seq else 65536
            if seq != 1:
                self.f.violation("rtp", "first audio packet has sequence number %d, not 1" % seq)
        else:
            delta = (seq - self.counter) & 0xFFFF
            if delta == 0:
                r["duplicates"] += 1
                self.f.violation("rtp", "sequence number %d repeated" % seq)
                return
            if delta >= 0x8000:
                r["reordered"] += 1
                self.f.violation("rtp", "sequence number %d after %d" % (seq, self.counter & 0xFFFF))
                return
            if delta != 1:
                r["gaps"] += delta - 1
                self.f.violation("rtp", "sequence gap: %d after %d" % (seq, self.counter & 0xFFFF))
            counter = self.counter + delta
        self.counter = counter
        r["packets"] += 1
        r["bytes"] += len(data)
        r["first_seq"] = seq if r["first_seq"] is None else r["first_seq"]
        r["last_seq"] = seq
        where = "audio packet %d" % counter
        want_b1 = 0xE0 if counter == 1 else 0x60
        if data[0] != 0x80 or data[1] != want_b1:
            self.f.violation("rtp", "%s: bytes 0-1 are %s, expected 80 %02x"
                             % (where, data[:2].hex(" "), want_b1))
        want_ts = (counter * self.frames_per_packet) & 0xFFFFFFFF
        if ts != want_ts:
            self.f.violation("rtp", "%s: RTP time %d, expected %d (%d per packet)"
                             % (where, ts, want_ts, self.frames_per_packet))
        if data[8:12] != wire.RAOP_SSRC:
            self.f.violation("rtp", "%s: SSRC %s" % (where, data[8:12].hex(" ")))
        frame = bytes(data[12:])
        self.frames.append(frame)
        if self.t_first_rtp is None:
            self.t_first_rtp = now
            self.outcome = "streaming"
        self.t_last_rtp = now
        if counter % self.sync_interval == 1:
            self.sync_counters.add(counter)
        if self.audio_log:
            self.audio_log.write("rtp %d seq=%d ts=%d len=%d rx=%.1fms\n"
                                 % (counter, seq, ts, len(frame), self._ms(now)))

    def on_sync(self, data, addr, now):
        s = self.sync
        s["count"] += 1
        where = "sync packet %d" % s["count"]
        if s["source"] is None:
            s["source"] = addr[1]
            if addr[1] != self.client_ports.get("control"):
                self.f.violation("sync", "%s from port %d, not the announced control port %s"
                                 % (where, addr[1], self.client_ports.get("control")))
        if len(data) != 20:
            self.f.violation("sync", "%s is %d bytes, not 20" % (where, len(data)))
            return
        if data[:4] != bytes([0x80, 0xD4, 0x00, 0x04]):
            self.f.violation("sync", "%s starts %s" % (where, data[:4].hex(" ")))
        now_rtp, secs, frac, next_rtp = struct.unpack_from(">IIII", data, 4)
        if now_rtp != (next_rtp - wire.RAOP_LATENCY) & 0xFFFFFFFF:
            self.f.violation("sync", "%s: time %d is not %d - 4100" % (where, now_rtp, next_rtp))
        counter = next_rtp // self.frames_per_packet
        if next_rtp % self.frames_per_packet or counter % self.sync_interval != 1:
            self.f.violation("sync", "%s announces RTP time %d, not that of packet 1 + k*%d"
                             % (where, next_rtp, self.sync_interval))
        if not wire.ms_fraction_is_exact(frac):
            self.f.violation("sync", "%s: fraction %d is not a whole millisecond" % (where, frac))
        self.check_sender_clock(where, secs, frac, None, now)
        s["times"].append(next_rtp)
        if self.audio_log:
            self.audio_log.write("sync next=%d ntp=%d.%010d rx=%.1fms\n"
                                 % (next_rtp, secs, frac, self._ms(now)))

    def check_sender_clock(self, where, secs, frac, sent, received):
        """The sender's timing clock: whole seconds since its timing thread
        started, plus the wall clock's milliseconds, from NTP seconds 2208988800."""
        t = wire.ntp_to_seconds(secs, frac)
        since = received - (self.t_announce or self.t_start)
        if t < 0 or t > since + 2.0:
            self.f.violation("clock", "%s: sender time %.3f s, not within 0..%.1f s of the"
                             " ANNOUNCE" % (where, t, since + 2.0))
            return
        self.clock_lo.append(t - received)
        if sent is not None:
            self.clock_hi.append(t - sent)

    def send_timing_request(self):
        self.timing_next = time.monotonic() + self.o.timing_interval
        transmit = self.rng.getrandbits(64).to_bytes(8, "big")
        packet = wire.raop_timing_request(transmit)
        if self.o.misbehave == "short-timing":
            packet = packet[:20]
            self.misbehave_start("timing requests of 20 bytes")
        try:
            self.timing.sendto(packet, (self.peer[0], self.client_ports["timing"]))
        except OSError:
            return
        self.timing_stats["sent"] += 1
        self.timing_pending[transmit] = time.monotonic()

    def on_timing_reply(self, data, addr, now):
        ts = self.timing_stats
        if addr[1] != self.client_ports.get("timing"):
            self.f.violation("timing", "timing reply from port %d, announced %s"
                             % (addr[1], self.client_ports.get("timing")))
        if self.o.misbehave == "short-timing":
            self.f.violation("timing", "a timing request shorter than 32 bytes was answered")
        transmit = bytes(data[8:16]) if len(data) >= 16 else b""
        sent = self.timing_pending.pop(transmit, None)
        if sent is None:
            self.f.violation("timing", "timing reply echoes none of our requests: %s" % data.hex())
            return
        ts["answered"] += 1
        ts["rtt_ms_max"] = max(ts["rtt_ms_max"] or 0, round((now - sent) * 1000, 3))
        problems, stamp = wire.check_timing_reply(data, transmit)
        for p in problems:
            self.f.violation("timing", "timing reply %d: %s" % (ts["answered"], p))
        if problems:
            ts["bad"] += 1
        if stamp:
            self.check_sender_clock("timing reply %d" % ts["answered"], stamp[0], stamp[1],
                                    sent, now)

    # ------------------------------------------------------------------ probe

    PROBE_ANSWERS = {"rtsp": b"RTSP/1.0 200 OK\r\n\r\n", "http": b"HTTP/1.1 200 OK\r\n\r\n",
                     "http10": b"HTTP/1.0 200 OK\r\n\r\n", "short": b"RTSP/1.0 20"}

    def answer_probe(self, sock):
        """A sender's reachability probe ("POST /probe" or "/probe-nb5") on a
        connection of its own before the RTSP one: answered as --probe says
        and closed. True when the connection was a probe."""
        sock.settimeout(2)
        head = b""
        try:
            while len(head) < 11:
                got = sock.recv(11, socket.MSG_PEEK)
                if not got or got == head:
                    break
                head = got
        except OSError:
            pass
        if not head.startswith(b"POST /probe"):
            sock.settimeout(None)
            return False
        try:
            request = b""
            while b"\r\n\r\n" not in request and len(request) < 8192:
                chunk = sock.recv(4096)
                if not chunk:
                    break
                request += chunk
            lines = request.decode("latin-1").split("\r\n")
            self.probes.append({"request": lines[0], "headers": [l for l in lines[1:] if l],
                                "answer": self.o.probe})
            if self.o.probe == "silent":
                time.sleep(4)
            elif self.o.probe in self.PROBE_ANSWERS:
                sock.sendall(self.PROBE_ANSWERS[self.o.probe])
        except OSError:
            pass
        finally:
            sock.close()
        return True

    # ------------------------------------------------------------------ run

    def run(self):
        o = self.o
        self.listener.settimeout(0.5)
        try:
            while True:
                if TERMINATED or time.monotonic() >= self.deadline:
                    self.ended_by = "terminated" if TERMINATED else "timeout"
                    return
                try:
                    self.sock, self.peer = self.listener.accept()
                except socket.timeout:
                    continue
                if o.probe and self.answer_probe(self.sock):
                    self.sock, self.peer = None, None
                    continue
                break
        finally:
            self.listener.close()
        self.local = self.sock.getsockname()
        self.outcome = "connected"
        if o.misbehave == "close-after-accept":
            self.misbehave_start("closed right after accept")
            self.ended_by = "misbehave"
            return
        self.sock.setblocking(False)
        self.sel.register(self.sock, selectors.EVENT_READ, "tcp")
        os.makedirs(o.out, exist_ok=True)
        self.req_log = open(os.path.join(o.out, "requests.log"), "w")
        self.audio_log = open(os.path.join(o.out, "audio.log"), "w")
        self.open_udp()
        try:
            self.serve_rtsp_with_limits()
        except Ended as e:
            self.ended_by = {"eof": "sender-close"}.get(e.reason, e.reason)
            self.end_detail = e.detail or None
            if e.reason == "eof" and self.after_misbehave is not None and \
                    self.after_misbehave["sender_closed_after_ms"] is None:
                self.after_misbehave["sender_closed_after_ms"] = round(
                    self._ms(time.monotonic()) - self.after_misbehave["at_ms"], 1)
            if e.reason in ("limit", "misbehave"):
                # Our own end: let the sender see the close at once.
                self.sel.unregister(self.sock)
                self.sock.close()
                self.sock = None
        self.drain()

    def serve_rtsp_with_limits(self):
        # Packet limits are checked between requests and while waiting for one.
        o = self.o
        if o.packets or o.misbehave == "close-mid-stream":
            limit = o.packets or o.close_after
            orig = self.on_rtp

            def counted(data, addr, now):
                orig(data, addr, now)
                if self.rtp["packets"] >= limit:
                    self.counting_stopped = True
                    if o.misbehave == "close-mid-stream":
                        self.misbehave_start("closed after %d audio packets" % limit)
                    raise Ended("limit" if o.packets else "misbehave",
                                "%d audio packets" % limit)
            self.on_rtp = counted
        self.serve_rtsp()

    def drain(self):
        """UDP datagrams already queued behind the close are still counted."""
        self.timing_next = None
        end = time.monotonic() + 0.3
        while time.monotonic() < end:
            events = self.sel.select(max(0.0, end - time.monotonic()))
            busy = False
            for key, _ in events:
                if key.data != "tcp":
                    try:
                        self.on_udp(key.data, key.fileobj)
                    except Ended:
                        pass
                    busy = True
            if not busy:
                break

    def close(self):
        for f in (self.req_log, self.audio_log):
            if f:
                f.close()
        for s in (self.sock, self.data, self.control, self.timing):
            if s:
                try:
                    s.close()
                except OSError:
                    pass

    # -------------------------------------------------------------- results

    def judge(self):
        o = self.o
        expect = o.expect_outcome or (None if o.misbehave else "streaming")
        if expect and self.outcome != expect:
            self.f.violation("outcome", "session ended at stage %r (%s), expected %r"
                             % (self.outcome, self.ended_by, expect))
        if self.rtp["packets"]:
            missing = sorted(c for c in self.sync_counters
                             if (c * self.frames_per_packet) & 0xFFFFFFFF not in self.sync["times"])
            if missing:
                self.f.violation("sync", "no sync packet before audio packet(s) %s"
                                 % missing[:10])
            expected = {(c * self.frames_per_packet) & 0xFFFFFFFF for c in self.sync_counters}
            extra = [t for t in self.sync["times"] if t not in expected
                     and t // self.frames_per_packet <= (self.counter or 0)]
            if extra:
                self.f.violation("sync", "sync packets for RTP times %s with no matching audio"
                                 " packet" % extra[:10])
        if o.min_packets and self.rtp["packets"] < o.min_packets:
            self.f.violation("rtp", "%d audio packets, at least %d expected"
                             % (self.rtp["packets"], o.min_packets))
        if o.expect_volume is not None:
            if not self.volumes or abs(self.volumes[-1] - o.expect_volume) > 1e-6:
                self.f.violation("volume", "last volume %r, expected %r"
                                 % (self.volumes[-1] if self.volumes else None, o.expect_volume))
        ts = self.timing_stats
        now = time.monotonic()
        ts["lost"] = sum(1 for t in self.timing_pending.values() if now - t > 2.0)
        if self.clock_lo and self.clock_hi:
            lo, hi = max(self.clock_lo), min(self.clock_hi)
            ts["offset_spread_ms"] = round((lo - hi) * 1000, 3)
            # Time stamps are truncated to whole milliseconds: allow that and noise.
            if lo - hi > 0.25:
                self.f.violation("clock", "sender timing clock moved %.3f s against ours"
                                 " (sync and timing times disagree)" % (lo - hi))
        if o.require_timing and self.outcome in ("recording", "streaming") and \
                o.misbehave != "short-timing":
            if not ts["answered"]:
                self.f.violation("timing", "no timing reply to %d requests" % ts["sent"])
            elif ts["lost"]:
                self.f.violation("timing", "%d timing requests unanswered" % ts["lost"])
        if o.expect_close_within is not None and self.after_misbehave is not None:
            closed = self.after_misbehave["sender_closed_after_ms"]
            if closed is None or closed > o.expect_close_within * 1000:
                self.f.violation("close", "sender did not close within %.1f s after the"
                                 " misbehaviour (%s)" % (o.expect_close_within, closed))

    def decode(self, summary):
        info = {"frames": len(self.frames), "samples": None, "errors": []}
        summary["decode"] = info
        if not self.frames:
            return
        mkv = os.path.join(self.o.out, "audio.mkv")
        codec_private = wire.AAC_ELD_ASC
        if self.o.codec == "alac":
            info["errors"].append("ALAC frames are kept but not decoded")
            return
        with open(mkv, "wb") as f:
            f.write(wire.matroska_audio(self.frames, codec_private))
        if not shutil.which("ffmpeg"):
            info["errors"].append("ffmpeg not installed")
            self.f.warning("decode", "ffmpeg not installed: audio not decoded")
            return
        wav = os.path.join(self.o.out, "audio.wav")
        try:
            p = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", mkv,
                                "-c:a", "pcm_s16le", "-f", "wav", wav],
                               capture_output=True, text=True, timeout=300)
            info["errors"] += [l for l in p.stderr.splitlines() if l.strip()][:20]
        except (subprocess.TimeoutExpired, OSError) as e:
            info["errors"].append("ffmpeg failed: %s" % e)
            return
        if not os.path.exists(wav):
            self.f.violation("decode", "audio did not decode: %s" % info["errors"])
            return
        with wave.open(wav) as w:
            rate, channels, n = w.getframerate(), w.getnchannels(), w.getnframes()
            pcm = w.readframes(n)
        info.update(samples=n, rate=rate, channels=channels, wav=wav,
                    samples_per_frame=round(n / len(self.frames), 2))
        if n != len(self.frames) * self.frames_per_packet:
            self.f.violation("decode", "%d samples from %d frames, expected %d per frame"
                             % (n, len(self.frames), self.frames_per_packet))
        values = struct.unpack("<%dh" % (n * channels), pcm[:n * channels * 2])
        # The codec's start-up delay and fade-in: skip the first 0.1 s.
        skip = rate // 10
        tone = []
        for ch in range(channels):
            seq = values[ch::channels][skip:skip + rate * 5]
            tone.append(wire.tone_stats(seq, rate, self.o.tone))
        info["tone"] = tone
        for msg in info["errors"]:
            self.f.warning("decode", "decoder: %s" % msg)
        if self.o.tone:
            for ch, t in enumerate(tone):
                if t["zero_cross_hz"] is None:
                    self.f.violation("tone", "channel %d: no samples after the start-up" % ch)
                    continue
                if abs(t["zero_cross_hz"] - self.o.tone) > self.o.tone_tolerance:
                    self.f.violation("tone", "channel %d: %.1f Hz, expected %.1f +- %.1f"
                                     % (ch, t["zero_cross_hz"], self.o.tone, self.o.tone_tolerance))
                if t.get("tone_share", 0) < 0.9:
                    self.f.violation("tone", "channel %d: only %.0f%% of the power at %.1f Hz"
                                     % (ch, 100 * t.get("tone_share", 0), self.o.tone))
                if self.o.min_level is not None and t["rms_dbfs"] < self.o.min_level:
                    self.f.violation("tone", "channel %d: level %.1f dBFS below %.1f"
                                     % (ch, t["rms_dbfs"], self.o.min_level))
                if self.o.max_level is not None and t["rms_dbfs"] > self.o.max_level:
                    self.f.violation("tone", "channel %d: level %.1f dBFS above %.1f"
                                     % (ch, t["rms_dbfs"], self.o.max_level))

    def summary(self):
        r = self.rtp
        dur = (self.t_last_rtp - self.t_first_rtp) if self.t_first_rtp else None
        return {
            "outcome": self.outcome,
            "probes": self.probes,
            "ended_by": self.ended_by,
            "end_detail": self.end_detail,
            "misbehave": self.o.misbehave,
            "peer": "%s:%d" % self.peer if self.peer else None,
            "url": self.url,
            "session_id": self.session_id,
            "auth_used": self.challenged,
            "methods": self.methods,
            "cseq_last": self.cseq,
            "sdp": self.sdp,
            "client_ports": dict(self.client_ports, data=r["source"], sync_source=self.sync["source"]),
            "server_ports": self.server_ports,
            "volumes": self.volumes,
            "headers": self.stable,
            "rtp": r,
            "frame_bytes": {"min": min(map(len, self.frames)), "max": max(map(len, self.frames)),
                            "mean": round(sum(map(len, self.frames)) / len(self.frames), 1)}
            if self.frames else None,
            "packet_rate": round((r["packets"] - 1) / dur, 2) if dur else None,
            "sync": {"count": self.sync["count"], "expected": len(self.sync_counters),
                     "rtp_times": self.sync["times"][:20]},
            "timing": self.timing_stats,
            "after_misbehave": self.after_misbehave,
        }


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file")
    p.add_argument("--out", default="raop-out")
    p.add_argument("--password", "--raop-password", dest="password")
    p.add_argument("--realm", default="tessarine-raop")
    p.add_argument("--nonce")
    p.add_argument("--session", default="DEADBEEF", help="RTSP session id given in SETUP")
    p.add_argument("--codec", choices=["aac-eld", "alac"], default="aac-eld")
    p.add_argument("--duration", type=float, help="close this many seconds after RECORD")
    p.add_argument("--packets", type=int, help="close after this many audio packets")
    p.add_argument("--min-packets", type=int, default=0)
    p.add_argument("--timeout", type=float, default=60.0)
    p.add_argument("--timing-interval", type=float, default=1.0)
    p.add_argument("--no-timing", action="store_true", help="send no timing requests")
    p.add_argument("--require-timing", action="store_true",
                   help="unanswered timing requests are violations")
    p.add_argument("--expect-outcome", choices=OUTCOMES)
    p.add_argument("--expect-volume", type=float, help="dB value of the last SET_PARAMETER")
    p.add_argument("--expect-close-within", type=float)
    p.add_argument("--observe", type=float, default=15.0)
    p.add_argument("--probe", choices=["rtsp", "http", "http10", "short", "close", "silent"],
                   help="answer reachability probes (POST /probe, /probe-nb5) ahead of RTSP")
    p.add_argument("--misbehave", choices=MISBEHAVIOURS)
    p.add_argument("--close-after", type=int, default=50)
    p.add_argument("--decode", action="store_true", help="decode the audio with ffmpeg")
    p.add_argument("--tone", type=float, help="expected tone frequency in Hz (with --decode)")
    p.add_argument("--tone-tolerance", type=float, default=10.0)
    p.add_argument("--min-level", type=float, help="lowest RMS level in dBFS")
    p.add_argument("--max-level", type=float, help="highest RMS level in dBFS")
    o = p.parse_args(argv)
    if o.tone and not o.decode:
        p.error("--tone needs --decode")
    if o.port < 0 or o.port > 65535 or o.timeout <= 0:
        p.error("port or timeout out of range")
    return o


def main(argv=None):
    o = parse_args(argv)
    listener, port = open_listener("raop_receiver", o, _on_terminate)
    if listener is None:
        return 0 if port else 2
    r = RaopReceiver(o, listener)
    try:
        r.run()
    finally:
        r.close()
    r.judge()
    os.makedirs(o.out, exist_ok=True)
    summary = r.summary()
    if o.decode:
        r.decode(summary)
    summary["listen_port"] = port
    summary["violations"] = r.f.violations
    summary["warnings"] = r.f.warnings
    summary["repeated"] = r.f.repeats()
    summary["ok"] = not r.f.violations
    with open(os.path.join(o.out, "summary.json"), "w") as f:
        json.dump(summary, f, indent=2, default=str)
    for w in r.f.warnings:
        print("WARNING: %s" % w, file=sys.stderr)
    for v in r.f.violations:
        print("VIOLATION: %s" % v, file=sys.stderr)
    print("raop_receiver: %s, ended by %s; %d audio packets, %d sync, timing %d/%d answered;"
          " %d violation(s)" % (r.outcome, r.ended_by, r.rtp["packets"], r.sync["count"],
                                r.timing_stats["answered"], r.timing_stats["sent"],
                                len(r.f.violations)), file=sys.stderr)
    return 1 if r.f.violations else 0


if __name__ == "__main__":
    sys.exit(main())
