#!/usr/bin/env python3
"""Test receiver for the mirroring protocol (TCP handshake, stream packets, NTP).

Accepts one sender connection, answers GET /stream.xml (optionally behind a
Digest challenge), reads POST /stream and the stream packets that follow,
queries the sender's NTP answer service, and checks every byte it can
against the wire formats the sender must produce. Writes packets.log,
stream.h264 and summary.json into --out; exits 0 when nothing was wrong,
1 with violations (each printed as "VIOLATION: ..." on stderr), 2 on usage
errors.

The first line on stdout is "LISTENING <port>" so that a driver can start
the sender once the port is known.
"""

import argparse
import json
import os
import plistlib
import random
import re
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire  # noqa: E402

MISBEHAVIOURS = [
    "close-after-accept", "close-mid-stream", "stall", "malformed-reply",
    "oversized-reply", "oversized-length", "oversized-line", "no-length",
    "double-challenge", "empty-auth-reply", "refuse", "lowercase-length",
    "bad-realm", "plist-missing-version", "tiny-screen",
]
OUTCOMES = ["no-connection", "connected", "challenged", "auth-failed", "replied",
            "streaming"]
MAX_REQUEST_HEADER = 16384
MAX_PAYLOAD = 32 * 1024 * 1024
MAX_GETS = 12
TERMINATED = False


def _on_terminate(signum, frame):
    global TERMINATED
    TERMINATED = True


class Ended(Exception):
    """The connection phase ended: reason is eof, timeout, idle, limit or partial."""

    def __init__(self, reason, detail=""):
        super().__init__(reason)
        self.reason = reason
        self.detail = detail


class Findings:
    """Violations (sender faults) and warnings, with repeats of one kind capped."""

    CAP = 5

    def __init__(self):
        self.violations = []
        self.warnings = []
        self._counts = {}

    def _add(self, target, kind, text):
        n = self._counts.get((id(target), kind), 0) + 1
        self._counts[(id(target), kind)] = n
        if n <= self.CAP:
            target.append(text)
        elif n == self.CAP + 1:
            target.append("%s: further occurrences not listed" % kind)

    def violation(self, kind, text):
        self._add(self.violations, kind, text)

    def warning(self, kind, text):
        self._add(self.warnings, kind, text)

    def repeats(self):
        return {k[1]: n for k, n in self._counts.items() if n > self.CAP}


class MirrorReceiver:
    def __init__(self, opts, listener):
        self.o = opts
        self.listener = listener
        self.f = Findings()
        self.sock = None
        self.buf = bytearray()
        self.sel = selectors.DefaultSelector()
        self.t_start = time.monotonic()
        self.deadline = self.t_start + opts.timeout
        self.outcome = "no-connection"
        self.ended_by = None
        self.peer = None
        self.t_accept = None
        self.t_post = None
        self.rng = random.Random()
        self.receiver_size = (opts.width, opts.height)
        if opts.misbehave == "tiny-screen":
            self.receiver_size = (8, 8)
        self.nonce = opts.nonce or "%032x" % self.rng.getrandbits(128)
        self.hs = {"get_requests": 0, "challenges": 0, "auth_used": False,
                   "auth_ok": False, "auth_failures": 0, "replies": 0,
                   "device_id": None, "client_name": None, "post_ok": False}
        self.post = None
        self.after_misbehave = None
        self.observe_end = None
        # stream state
        self.counts = {"codec": 0, "bitstream": 0, "bitstream_with_data": 0,
                       "bitstream_empty": 0, "heartbeat": 0, "total": 0,
                       "payload_bytes": 0, "keyframes": 0, "keyframes_after_codec": 0,
                       "nal_units": 0}
        self.last_time = {}
        self.pending_codec = None
        self.last_codec = None
        self.codec_records = []
        self.first_data_at = None
        self.data_times = []
        self.hb_arrivals = []
        self.log = None
        self.h264 = None
        # NTP client state
        self.udp = None
        self.ntp_active = False
        self.ntp_next = None
        self.ntp_pending = {}   # transmit bytes -> local send time
        self.ntp = {"sent": 0, "answered": 0, "lost": 0, "bad": 0, "unexpected": 0,
                    "rtt_ms_max": None, "rtt_ms_min": None, "send_errors": 0}
        self.ntp_last_tx = None
        # Bounds on the offset between the sender's session clock and our
        # monotonic clock (sender = local + offset): the session started at
        # most start_slack before we accepted, and not after.
        self.off_lo = None
        self.off_hi = None

    # ------------------------------------------------------------------ I/O

    def _remaining(self, *deadlines):
        d = min(x for x in deadlines if x is not None)
        return d - time.monotonic()

    def _fill(self, deadline, idle=None):
        """Wait for more TCP bytes, serving NTP meanwhile; raise Ended."""
        while True:
            now = time.monotonic()
            if TERMINATED:
                raise Ended("terminated")
            if now >= self.deadline:
                raise Ended("timeout")
            if deadline is not None and now >= deadline:
                raise Ended("limit")
            if idle is not None and now >= idle:
                raise Ended("idle")
            wake = min(x for x in (self.deadline, deadline, idle) if x is not None)
            if self.ntp_active and self.ntp_next is not None:
                if now >= self.ntp_next:
                    self._ntp_send()
                    continue
                wake = min(wake, self.ntp_next)
            # Short slices so that a termination request is seen promptly.
            for key, _ in self.sel.select(min(0.5, max(0.0, wake - now))):
                if key.data == "udp":
                    self._ntp_receive()
                else:
                    try:
                        chunk = self.sock.recv(262144)
                    except (ConnectionError, OSError) as e:
                        raise Ended("eof", "recv failed: %s" % e)
                    if not chunk:
                        raise Ended("eof")
                    self.buf += chunk
                    return

    def read_exact(self, n, deadline=None, idle_timeout=None):
        while len(self.buf) < n:
            idle = time.monotonic() + idle_timeout if idle_timeout else None
            try:
                self._fill(deadline, idle)
            except Ended as e:
                if self.buf and e.reason == "eof":
                    e.detail = "closed after %d of %d bytes" % (len(self.buf), n)
                    e.reason = "partial"
                raise
        out = bytes(self.buf[:n])
        del self.buf[:n]
        return out

    def read_request(self):
        """(request line, header lines, raw text) of one HTTP request; raises Ended."""
        while True:
            end = self.buf.find(b"\r\n\r\n")
            if end >= 0:
                break
            if len(self.buf) > MAX_REQUEST_HEADER:
                self.f.violation("request-size", "request header over %d bytes without an"
                                 " empty line" % MAX_REQUEST_HEADER)
                raise Ended("error", "oversized request header")
            try:
                self._fill(self.observe_end)
            except Ended as e:
                if self.buf and e.reason == "eof":
                    self.f.violation("request-partial", "connection closed inside a request"
                                     " header: %r" % bytes(self.buf[:200]))
                raise
        raw = bytes(self.buf[:end + 4])
        del self.buf[:end + 4]
        text = raw.decode("latin-1")
        lines = text[:-4].split("\r\n")
        for line in lines:
            if "\n" in line or "\r" in line:
                self.f.violation("request-eol", "bare CR or LF in header line %r" % line)
        return lines[0], lines[1:], raw

    def send(self, data):
        # Misbehaving replies may be more than the sender reads: do not wait long.
        try:
            self.sock.settimeout(1 if self.o.misbehave else 5)
            self.sock.sendall(data)
            return True
        except OSError as e:
            self.f.warning("send", "sending %d bytes failed: %s" % (len(data), e))
            return False
        finally:
            self.sock.setblocking(False)

    # ------------------------------------------------------------- handshake

    def _check_common(self, lines, idx, what):
        """Device id and client name lines, shared by GET and POST."""
        m = re.fullmatch(r"X-Apple-Device-ID: 0x([0-9A-F]{12})?", lines[idx])
        if not m:
            self.f.violation("header", "%s line %d is %r, expected 'X-Apple-Device-ID: 0x'"
                             " and 12 upper-case hex digits or nothing" % (what, idx + 1, lines[idx]))
            dev = None
        else:
            dev = m.group(1) or ""
        name = lines[idx + 1]
        if not name.startswith("X-Apple-Client-Name: ") or not name[21:].strip():
            self.f.violation("header", "%s line %d is %r, expected 'X-Apple-Client-Name: <name>'"
                             % (what, idx + 2, name))
            client = None
        else:
            client = name[21:]
        for key, value in (("device_id", dev), ("client_name", client)):
            if value is None:
                continue
            if self.hs[key] is None:
                self.hs[key] = value
            elif self.hs[key] != value:
                self.f.violation("header", "%s %s %r differs from the earlier %r"
                                 % (what, key, value, self.hs[key]))

    def check_get(self, request_line, lines, expect_auth):
        """Checks the GET's lines in order; returns the Authorization line or None."""
        want = ["User-Agent: " + wire.USER_AGENT]
        got = list(lines)
        auth = None
        if got and got[1:2] and got[1].startswith("Authorization:"):
            auth = got.pop(1)
        if expect_auth and auth is None:
            self.f.violation("auth", "GET after a challenge carries no Authorization line")
        if not expect_auth and auth is not None:
            self.f.violation("auth", "GET carries an Authorization line before any challenge")
        if request_line != "GET /stream.xml HTTP/1.1":
            self.f.violation("header", "GET request line is %r" % request_line)
        if len(got) != 6:
            self.f.violation("header", "GET has %d header lines, expected 6 (plus Authorization"
                             " after a challenge): %r" % (len(got), got))
            return auth
        if got[0] != want[0]:
            self.f.violation("header", "GET line 1 is %r, expected %r" % (got[0], want[0]))
        self._check_common(got, 1, "GET")
        for i, expected in ((3, "X-Apple-ProtocolVersion: 1"), (4, "rmodel: PC1,1"),
                            (5, "Content-Length: 0")):
            if got[i] != expected:
                self.f.violation("header", "GET header %d is %r, expected %r"
                                 % (i + 1, got[i], expected))
        return auth

    def auth_matches(self, auth):
        """Checks the Authorization line's exact form; True when the response is right."""
        pattern = (r'Authorization: Digest username="([^"]*)", realm="([^"]*)", nonce="([^"]*)",'
                   r' uri="([^"]*)", response="([^"]*)"')
        m = re.fullmatch(pattern, auth)
        if not m:
            self.f.violation("auth", "Authorization line has another form: %r" % auth)
            return False
        user, realm, nonce, uri, response = m.groups()
        for name, got, want in (("username", user, wire.DIGEST_USER), ("realm", realm, self.o.realm),
                                ("nonce", nonce, self.nonce), ("uri", uri, wire.DIGEST_URI)):
            if got != want:
                self.f.violation("auth", "Authorization %s is %r, expected %r" % (name, got, want))
        if not re.fullmatch(r"[0-9a-f]{32}", response):
            self.f.violation("auth", "Digest response %r is not 32 lower-case hex digits" % response)
        expected = wire.digest_response(wire.DIGEST_USER, self.o.realm, self.o.password or "",
                                        self.nonce, "GET", wire.DIGEST_URI)
        return response == expected

    def challenge_bytes(self, realm=None):
        realm = self.o.realm if realm is None else realm
        if self.o.misbehave == "bad-realm":
            line = 'WWW-Authenticate: Digest realm="%s, nonce="%s"' % (realm, self.nonce)
        else:
            line = 'WWW-Authenticate: Digest realm="%s", nonce="%s"' % (realm, self.nonce)
        return ("HTTP/1.1 401 Unauthorized\r\n%s\r\n\r\n" % line).encode()

    def reply_body(self, with_version=True):
        info = {"width": self.receiver_size[0], "height": self.receiver_size[1]}
        if with_version:
            info["version"] = self.o.version
        fmt = plistlib.FMT_XML if self.o.reply_format == "xml" else plistlib.FMT_BINARY
        return plistlib.dumps(info, fmt=fmt)

    def reply_bytes(self):
        mode = self.o.misbehave
        ctype = ("text/x-apple-plist+xml" if self.o.reply_format == "xml"
                 else "application/x-apple-binary-plist")
        body = self.reply_body(mode != "plist-missing-version")
        if mode == "malformed-reply":
            body = b"<html>this is not a property list</html>\n"
        head = "HTTP/1.1 200 OK\r\nContent-Type: %s\r\n" % ctype
        if mode in ("oversized-reply", "oversized-line"):
            head += "X-Padding: %s\r\n" % ("p" * 5000)
        if mode in ("oversized-reply", "oversized-length"):
            body = b"\x00" * 100000
        if mode == "no-length":
            return (head + "\r\n").encode() + body
        if mode == "lowercase-length":
            return (head + "content-length: %d\r\n\r\n" % len(body)).encode() + body
        return (head + "Content-Length: %d\r\n\r\n" % len(body)).encode() + body

    def handshake(self):
        """Runs until POST /stream was read (returns True) or the phase ended."""
        mode = self.o.misbehave
        password = self.o.password
        if mode in ("double-challenge", "empty-auth-reply") and not password:
            password = "secret"
            self.o.password = password
        challenged = False
        rechallenged = False
        misbehaved = False
        while True:
            request_line, lines, raw = self.read_request()
            if request_line.startswith("POST "):
                return self.read_post(request_line, lines)
            if not request_line.startswith("GET "):
                self.f.violation("request", "unexpected request %r" % request_line)
                raise Ended("error", "unexpected request")
            self.hs["get_requests"] += 1
            if self.hs["get_requests"] > MAX_GETS:
                self.f.violation("resend", "sender sent more than %d GET requests" % MAX_GETS)
                raise Ended("error", "too many GET requests")
            if rechallenged:
                self.f.violation("resend", "GET resent after a repeated challenge (the"
                                 " sender must give up with a password error)")
            auth = self.check_get(request_line, lines, challenged)
            if auth is not None:
                self.hs["auth_used"] = True
            if mode == "stall":
                self.misbehave_start("stall: GET left unanswered")
                return False
            if mode == "bad-realm":
                self.misbehave_start("challenge with an unterminated realm")
                self.send(self.challenge_bytes())
                misbehaved = True
                continue
            if password:
                if auth is None:
                    self.hs["challenges"] += 1
                    self.outcome = "challenged"
                    self.send(self.challenge_bytes())
                    challenged = True
                    continue
                ok = self.auth_matches(auth)
                self.hs["auth_ok"] = ok
                if mode == "double-challenge":
                    self.misbehave_start("authorized GET answered with another challenge")
                    self.hs["challenges"] += 1
                    self.send(self.challenge_bytes())
                    rechallenged = True
                    misbehaved = True
                    continue
                if mode == "empty-auth-reply":
                    if not misbehaved:
                        self.misbehave_start("authorized GETs answered without body or challenge")
                    misbehaved = True
                    self.send(b"HTTP/1.1 200 OK\r\n\r\n")
                    continue
                if not ok:
                    self.hs["auth_failures"] += 1
                    self.hs["challenges"] += 1
                    self.outcome = "auth-failed"
                    self.send(self.challenge_bytes())
                    rechallenged = True
                    continue
            if mode in ("malformed-reply", "oversized-reply", "oversized-length",
                        "oversized-line", "no-length", "lowercase-length",
                        "plist-missing-version"):
                self.misbehave_start("reply: %s" % mode)
                misbehaved = True
            self.outcome = "replied"
            self.hs["replies"] += 1
            self.send(self.reply_bytes())

    def misbehave_start(self, what):
        if self.after_misbehave is None:
            self.observe_end = time.monotonic() + self.o.observe
            self.after_misbehave = {"what": what, "at_ms": self._ms(time.monotonic()),
                                    "sender_closed_after_ms": None, "bytes_after": 0,
                                    "requests_after": []}

    def read_post(self, request_line, lines):
        if request_line != "POST /stream HTTP/1.1":
            self.f.violation("header", "POST request line is %r" % request_line)
        if len(lines) != 6:
            self.f.violation("header", "POST has %d header lines, expected 6: %r"
                             % (len(lines), lines))
            length = None
            for line in lines:
                if line.startswith("Content-Length: "):
                    length = line[16:]
        else:
            if lines[0] != "User-Agent: " + wire.USER_AGENT:
                self.f.violation("header", "POST line 1 is %r" % lines[0])
            self._check_common(lines, 1, "POST")
            for i, expected in ((3, "X-Apple-ProtocolVersion: 1"),
                                (4, "Content-Type: application/x-apple-binary-plist")):
                if lines[i] != expected:
                    self.f.violation("header", "POST header %d is %r, expected %r"
                                     % (i + 1, lines[i], expected))
            length = lines[5][16:] if lines[5].startswith("Content-Length: ") else None
            if length is None:
                self.f.violation("header", "POST header 6 is %r, expected Content-Length"
                                 % lines[5])
        if length is None or not re.fullmatch(r"[0-9]+", length) or int(length) > 65536:
            self.f.violation("post", "POST Content-Length %r unusable" % length)
            raise Ended("error", "bad POST length")
        body = self.read_exact(int(length), idle_timeout=self.o.idle_timeout)
        self.t_post = time.monotonic()
        self.outcome = "streaming"
        self.hs["post_ok"] = True
        self.check_post_body(body)
        return True

    def check_post_body(self, body):
        post = {"content_length": len(body), "canonical": False}
        self.post = post
        if not body.startswith(b"bplist00"):
            self.f.violation("post", "POST body is not a binary property list: %r" % body[:16])
            return
        try:
            d = plistlib.loads(body)
        except Exception as e:  # plistlib raises several types
            self.f.violation("post", "POST body does not parse: %s" % e)
            return
        if not isinstance(d, dict):
            self.f.violation("post", "POST body root is %s, not a dictionary" % type(d).__name__)
            return
        keys = ["deviceID", "fpsInfo", "latencyMs", "sessionID", "timestampInfo", "version"]
        if sorted(d) != keys:
            self.f.violation("post", "POST body keys %r, expected %r" % (sorted(d), keys))
        for k in keys:
            if k in d:
                v = d[k]
                post[k] = [e.get("name") if isinstance(e, dict) else repr(e) for e in v] \
                    if isinstance(v, list) else v
        for k in ("deviceID", "latencyMs", "sessionID"):
            if k in d and (not isinstance(d[k], int) or isinstance(d[k], bool)):
                self.f.violation("post", "%s is %s, not an integer" % (k, type(d[k]).__name__))
        if d.get("latencyMs") != wire.LATENCY_MS:
            self.f.violation("post", "latencyMs is %r, not 90" % d.get("latencyMs"))
        if d.get("version") != wire.STREAM_VERSION:
            self.f.violation("post", "version is %r, not '130.16'" % d.get("version"))
        sid = d.get("sessionID")
        if isinstance(sid, int) and not -2**31 <= sid < 2**31:
            self.f.violation("post", "sessionID %d outside signed 32 bits" % sid)
        for key, names in (("fpsInfo", wire.FPS_INFO_NAMES),
                           ("timestampInfo", wire.TIMESTAMP_INFO_NAMES)):
            want = [{"name": n} for n in names]
            if d.get(key) != want:
                self.f.violation("post", "%s is %r, expected the names %r" % (key, d.get(key), names))
        dev = self.hs.get("device_id")
        if dev is not None and isinstance(d.get("deviceID"), int):
            want_dev = int(dev, 16) if dev else 0
            if d["deviceID"] != want_dev:
                self.f.violation("post", "deviceID %d does not match X-Apple-Device-ID 0x%s"
                                 % (d["deviceID"], dev))
        if isinstance(d.get("deviceID"), int) and isinstance(sid, int) and -2**31 <= sid < 2**31:
            try:
                canonical = wire.stream_post_body(d["deviceID"], sid)
            except (ValueError, TypeError):
                canonical = None
            post["canonical"] = canonical == body
            if canonical is not None and canonical != body:
                self.f.violation("post", "POST body bytes differ from the writer's exact form"
                                 " (got %s, expected %s)" % (body.hex(), canonical.hex()))

    # ---------------------------------------------------------------- stream

    def stream(self):
        o = self.o
        end_at = self.t_post + o.duration if o.duration else None
        self.ntp_active = not o.no_ntp
        self.ntp_next = time.monotonic() + min(0.2, o.ntp_interval)
        close_after = o.close_after if o.misbehave == "close-mid-stream" else None
        index = 0
        while True:
            try:
                raw = self.read_exact(wire.STREAM_HEADER_SIZE, end_at, o.idle_timeout)
            except Ended as e:
                if e.reason == "partial":
                    self.f.violation("stream", "connection closed inside packet header %d (%s)"
                                     % (index, e.detail))
                raise
            arrival = time.monotonic()
            h = wire.StreamHeader(raw)
            if h.ptype not in wire.TYPE_NAMES or h.length > MAX_PAYLOAD:
                self.f.violation("stream", "packet %d: type %d, length %d: stream out of step,"
                                 " header %s" % (index, h.ptype, h.length, raw[:16].hex()))
                raise Ended("error", "unreadable packet header")
            try:
                payload = self.read_exact(h.length, None, o.idle_timeout) if h.length else b""
            except Ended as e:
                if e.reason in ("partial", "eof"):
                    self.f.violation("stream", "connection closed inside the payload of packet"
                                     " %d (%s)" % (index, e.detail))
                raise
            self.on_packet(index, h, payload, arrival)
            index += 1
            if o.packets and self.counts["bitstream"] >= o.packets:
                raise Ended("limit", "%d bitstream packets" % o.packets)
            if close_after is not None and self.counts["bitstream"] >= close_after:
                self.misbehave_start("closed after %d bitstream packets" % close_after)
                raise Ended("misbehave", "close-mid-stream")

    def _ms(self, t):
        return round((t - self.t_start) * 1000, 1)

    def on_packet(self, index, h, payload, arrival):
        name = wire.TYPE_NAMES[h.ptype]
        self.counts[name] += 1
        self.counts["total"] += 1
        self.counts["payload_bytes"] += len(payload)
        where = "packet %d (%s)" % (index, name)
        for p in wire.check_stream_header(h, self.receiver_size):
            kind = "geometry" if ("scale mode" in p or "centre" in p) else "header"
            self.f.violation("%s-%s" % (kind, name), "%s: %s" % (where, p))
        t = h.time
        self.check_time(where, name, t, arrival)
        extra = ""
        if h.ptype == wire.TYPE_HEARTBEAT:
            self.hb_arrivals.append(arrival)
        elif h.ptype == wire.TYPE_CODEC:
            extra = self.on_codec(where, h, payload, t)
        else:
            extra = self.on_bitstream(where, h, payload, t, arrival)
        if self.log:
            g = ""
            if h.ptype != wire.TYPE_HEARTBEAT:
                g = " size=%gx%g off=(%g,%g) scaled=%gx%g" % h.geometry
            self.log.write("%d %s len=%d t=%.6f rx=%.1fms%s%s\n"
                           % (index, name, h.length, t, self._ms(arrival), g, extra))

    def check_time(self, where, name, t, arrival):
        prev = self.last_time.get(name)
        if prev is not None and t < prev:
            self.f.violation("time-order", "%s: time %.6f before the previous %s time %.6f"
                             % (where, t, name, prev))
        self.last_time[name] = t
        lo, hi = self.offset_bounds()
        slack = 0.25
        if t > arrival + hi + slack:
            self.f.violation("time-future", "%s: time %.3f s is %.3f s ahead of the sender's"
                             " clock as bounded by NTP/accept" % (where, t, t - (arrival + hi)))
        if t < arrival + lo - self.o.max_latency:
            self.f.violation("time-late", "%s: time %.3f s lags the sender's clock by more"
                             " than %.1f s" % (where, t, self.o.max_latency))

    def offset_bounds(self):
        lo = -self.t_accept
        hi = -self.t_accept + self.o.start_slack
        if self.off_lo is not None:
            lo = max(lo, self.off_lo)
            hi = min(hi, self.off_hi)
        return lo, hi

    def on_codec(self, where, h, payload, t):
        if self.pending_codec is not None:
            self.f.violation("codec-order", "%s: codec packet %d was not followed by its key"
                             " frame" % (where, self.pending_codec[0]))
        sps, pps, problems = wire.parse_avcc(payload)
        for p in problems:
            self.f.violation("codec", "%s: %s" % (where, p))
        record = {"index": self.counts["total"] - 1, "time": round(t, 6),
                  "size": [h.width, h.height], "geometry": list(h.geometry)}
        if sps:
            try:
                sw, sh = wire.sps_size(sps)
                record["sps_size"] = [sw, sh]
                if (sw, sh) != (h.width, h.height):
                    self.f.violation("codec", "%s: SPS codes %dx%d, header says %gx%g"
                                     % (where, sw, sh, h.width, h.height))
            except (ValueError, IndexError) as e:
                self.f.violation("codec", "%s: SPS unreadable (%s)" % (where, e))
        self.codec_records.append(record)
        self.pending_codec = (record["index"], t, sps, pps)
        self.last_codec = (h.geometry, sps, pps)
        if self.h264 and sps and pps:
            self.h264.write(b"\x00\x00\x00\x01" + sps + b"\x00\x00\x00\x01" + pps)
        return " sps=%d pps=%d" % (len(sps or b""), len(pps or b""))

    def on_bitstream(self, where, h, payload, t, arrival):
        if not payload:
            self.counts["bitstream_empty"] += 1
            return " empty"
        self.counts["bitstream_with_data"] += 1
        if self.first_data_at is None:
            self.first_data_at = arrival
            if self.last_codec is None:
                self.f.violation("codec-order", "%s: first picture data sent before any codec"
                                 " packet" % where)
        self.data_times.append((arrival, t))
        nals, problems = wire.walk_length_prefixed(payload)
        for p in problems:
            self.f.violation("nal", "%s: %s" % (where, p))
        self.counts["nal_units"] += len(nals)
        types = [n[0] & 0x1F for n in nals]
        key = 5 in types
        if key:
            self.counts["keyframes"] += 1
        if self.pending_codec is not None:
            cidx, ctime, csps, cpps = self.pending_codec
            self.pending_codec = None
            if not key:
                self.f.violation("codec-order", "%s: codec packet %d is followed by a picture"
                                 " without an IDR slice (types %r)" % (where, cidx, types))
            else:
                self.counts["keyframes_after_codec"] += 1
            if t != ctime:
                self.f.violation("codec-order", "%s: time %.6f differs from its codec packet's"
                                 " %.6f" % (where, t, ctime))
            if 7 in types and csps is not None and nals[types.index(7)] != csps:
                self.f.violation("codec", "%s: SPS differs from the codec packet's" % where)
            if 8 in types and cpps is not None and nals[types.index(8)] != cpps:
                self.f.violation("codec", "%s: PPS differs from the codec packet's" % where)
        if self.last_codec is not None and h.geometry != self.last_codec[0]:
            self.f.warning("geometry-change", "%s: geometry %r differs from the last codec"
                           " packet's %r" % (where, h.geometry, self.last_codec[0]))
        if self.h264:
            for nal in nals:
                self.h264.write(b"\x00\x00\x00\x01" + nal)
        return " nals=%s%s" % (",".join(wire.NAL_NAMES.get(x, str(x)) for x in types),
                               " key" if key else "")

    # ------------------------------------------------------------------ NTP

    def ntp_open(self):
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind((self.o.host if self.o.host != "0.0.0.0" else "", 0))
        self.udp.setblocking(False)
        self.sel.register(self.udp, selectors.EVENT_READ, "udp")

    def _ntp_send(self):
        transmit = self.rng.getrandbits(64).to_bytes(8, "big")
        now = time.monotonic()
        self.ntp_next = now + self.o.ntp_interval
        try:
            self.udp.sendto(wire.ntp_request(transmit), (self.peer[0], self.o.ntp_port))
        except OSError:
            self.ntp["send_errors"] += 1
            return
        self.ntp["sent"] += 1
        self.ntp_pending[transmit] = now

    def _ntp_receive(self):
        while True:
            try:
                data, addr = self.udp.recvfrom(2048)
            except (BlockingIOError, InterruptedError):
                return
            except OSError:
                return   # ICMP port unreachable and the like: counted as lost later
            now = time.monotonic()
            self.on_ntp_reply(data, addr, now)

    def on_ntp_reply(self, data, addr, now):
        if addr != (self.peer[0], self.o.ntp_port):
            self.f.violation("ntp", "NTP reply from %s:%d, expected %s:%d"
                             % (addr[0], addr[1], self.peer[0], self.o.ntp_port))
        transmit = bytes(data[24:32]) if len(data) >= 32 else None
        sent = self.ntp_pending.pop(transmit, None)
        if sent is None:
            self.ntp["unexpected"] += 1
            self.f.violation("ntp", "NTP reply whose originate field %s echoes none of our"
                             " transmit time stamps" % (transmit.hex() if transmit else repr(data)))
            return
        self.ntp["answered"] += 1
        rtt = (now - sent) * 1000
        self.ntp["rtt_ms_max"] = max(rtt, self.ntp["rtt_ms_max"] or 0)
        self.ntp["rtt_ms_min"] = min(rtt, self.ntp["rtt_ms_min"] or rtt)
        problems, rx, tx = wire.check_ntp_reply(data, transmit)
        if rx is not None:
            trx, ttx = wire.ntp_to_seconds(*rx), wire.ntp_to_seconds(*tx)
            if self.ntp_last_tx is not None and trx < self.ntp_last_tx:
                problems.append("receive time %.6f before the previous reply's transmit %.6f"
                                % (trx, self.ntp_last_tx))
            self.ntp_last_tx = ttx
            # sender clock = local + offset: the request left at `sent` and the
            # reply arrived at `now`, so trx - sent >= offset >= ttx - now.
            lo, hi = ttx - now, trx - sent
            slack = 0.05 + 0.001 * (now - self.t_accept)
            cur_lo, cur_hi = self.offset_bounds()
            if lo > cur_hi + slack or hi < cur_lo - slack:
                problems.append("times (%.6f, %.6f) disagree with the sender clock seen so far"
                                " (offset window %.3f..%.3f, this reply %.3f..%.3f)"
                                % (trx, ttx, cur_lo, cur_hi, lo, hi))
            else:
                self.off_lo = max(lo, cur_lo)
                self.off_hi = min(hi, cur_hi)
                if self.off_hi < self.off_lo:   # within slack: keep a consistent window
                    self.off_hi = self.off_lo
        if problems:
            self.ntp["bad"] += 1
            for p in problems:
                self.f.violation("ntp", "NTP reply %d: %s" % (self.ntp["answered"], p))

    def ntp_finish(self):
        """Collect late replies briefly and count the lost ones."""
        if not self.udp:
            return
        self.ntp_active = False
        end = time.monotonic() + (0.3 if self.ntp_pending else 0)
        while self.ntp_pending and time.monotonic() < end:
            if self.udp in [k.fileobj for k, _ in self.sel.select(end - time.monotonic())]:
                self._ntp_receive()
        now = time.monotonic()
        self.ntp["lost"] = sum(1 for t in self.ntp_pending.values()
                               if now - t > self.o.ntp_reply_timeout)
        if self.o.require_ntp:
            if self.ntp["answered"] == 0:
                self.f.violation("ntp", "no NTP reply to %d requests" % self.ntp["sent"])
            elif self.ntp["lost"]:
                self.f.violation("ntp", "%d of %d NTP requests unanswered"
                                 % (self.ntp["lost"], self.ntp["sent"]))

    # ------------------------------------------------------------------- run

    def observe_after_misbehave(self):
        """Records what the sender does after a misbehaving reply, until it closes."""
        info = self.after_misbehave
        leftover = len(self.buf)
        end_at = time.monotonic() + self.o.observe
        while True:
            try:
                self._fill(end_at)
            except Ended as e:
                info["bytes_after"] += len(self.buf) - leftover if len(self.buf) > leftover else 0
                if e.reason == "eof":
                    info["sender_closed_after_ms"] = round(self._ms(time.monotonic())
                                                           - info["at_ms"], 1)
                    self.ended_by = "sender-close"
                else:
                    self.ended_by = e.reason
                text = bytes(self.buf).decode("latin-1", "replace")
                info["requests_after"] = [l for l in text.split("\r\n")
                                          if l.startswith(("GET ", "POST "))]
                return

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
                    break
                except socket.timeout:
                    continue
        finally:
            self.listener.close()
        self.t_accept = time.monotonic()
        self.outcome = "connected"
        self.sock.setblocking(False)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sel.register(self.sock, selectors.EVENT_READ, "tcp")
        if o.misbehave == "close-after-accept":
            self.misbehave_start("closed right after accept")
            self.ended_by = "misbehave"
            return
        os.makedirs(o.out, exist_ok=True)
        self.log = open(os.path.join(o.out, "packets.log"), "w")
        self.h264 = open(os.path.join(o.out, "stream.h264"), "wb")
        if not o.no_ntp:
            self.ntp_open()
        try:
            if self.handshake():
                self.stream()
            else:
                raise Ended("misbehave")
        except Ended as e:
            if self.after_misbehave is not None and e.reason in ("eof", "partial") \
                    and self.after_misbehave["sender_closed_after_ms"] is None:
                self.after_misbehave["sender_closed_after_ms"] = round(
                    self._ms(time.monotonic()) - self.after_misbehave["at_ms"], 1)
            if e.reason == "misbehave" and o.misbehave == "stall":
                self.observe_after_misbehave()
            else:
                self.ended_by = {"eof": "sender-close", "partial": "sender-close"}.get(
                    e.reason, e.reason)
            if e.detail:
                self.end_detail = e.detail
        finally:
            self.ntp_finish()

    def close(self):
        for f in (self.log, self.h264):
            if f:
                f.close()
        if self.sock:
            try:
                self.sock.close()
            except OSError:
                pass
        if self.udp:
            self.udp.close()

    # -------------------------------------------------------------- results

    def judge(self):
        o = self.o
        expect = o.expect_outcome
        if expect is None and not o.misbehave:
            expect = "streaming"
        if expect and self.outcome != expect:
            self.f.violation("outcome", "session ended at stage %r (%s), expected %r"
                             % (self.outcome, self.ended_by, expect))
        if self.outcome == "streaming":
            if o.packets and self.counts["bitstream"] < o.packets and not (
                    o.misbehave == "close-mid-stream"):
                self.f.violation("stream", "stream ended (%s) after %d of %d bitstream packets"
                                 % (self.ended_by, self.counts["bitstream"], o.packets))
            if self.counts["bitstream_with_data"] < o.min_frames:
                self.f.violation("stream", "%d pictures received, at least %d expected"
                                 % (self.counts["bitstream_with_data"], o.min_frames))
            if self.ended_by == "idle":
                self.f.violation("stream", "no data from the sender for %.1f s"
                                 % o.idle_timeout)
            if self.pending_codec is not None and self.ended_by == "sender-close":
                self.f.warning("codec-order", "stream ended after a codec packet without its"
                               " key frame")
            gaps = [b - a for a, b in zip(self.hb_arrivals, self.hb_arrivals[1:])]
            if gaps and max(gaps) > 2.5:
                text = "heartbeat gap of %.2f s" % max(gaps)
                if o.strict_heartbeat:
                    self.f.violation("heartbeat", text)
                else:
                    self.f.warning("heartbeat", text)
            streamed_for = (time.monotonic() - self.t_post) if self.t_post else 0
            if o.strict_heartbeat and streamed_for > 3 and not self.hb_arrivals:
                self.f.violation("heartbeat", "no heartbeat in %.1f s of streaming" % streamed_for)
            # The timer runs once a second: the mean of several gaps shows its
            # period whatever the scheduling noise of single ones.
            if o.strict_heartbeat and len(gaps) >= 3:
                mean = sum(gaps) / len(gaps)
                if not 0.8 <= mean <= 1.25:
                    self.f.violation("heartbeat", "mean heartbeat gap %.3f s, expected about 1 s"
                                     % mean)
            if self.counts["heartbeat"] < o.min_heartbeats:
                self.f.violation("heartbeat", "%d heartbeats, at least %d expected"
                                 % (self.counts["heartbeat"], o.min_heartbeats))
        if o.expect_close_within is not None and self.after_misbehave is not None:
            closed = self.after_misbehave.get("sender_closed_after_ms")
            if closed is None or closed > o.expect_close_within * 1000:
                self.f.violation("close", "sender did not close within %.1f s after the"
                                 " misbehaviour (%s)" % (o.expect_close_within, closed))

    def decode(self, summary):
        path = os.path.join(self.o.out, "stream.h264")
        info = {"frames": 0, "width": None, "height": None, "errors": []}
        summary["decode"] = info
        if not shutil.which("ffmpeg") or not shutil.which("ffprobe"):
            info["errors"].append("ffmpeg/ffprobe not installed")
            self.f.warning("decode", "ffmpeg/ffprobe not installed: nothing decoded")
            return
        if not os.path.exists(path) or os.path.getsize(path) == 0:
            return
        try:
            p = subprocess.run(["ffprobe", "-v", "error", "-f", "h264", "-count_frames",
                                "-select_streams", "v:0", "-show_entries",
                                "stream=width,height,nb_read_frames", "-of", "json", path],
                               capture_output=True, text=True, timeout=120)
            streams = json.loads(p.stdout or "{}").get("streams") or [{}]
            s = streams[0]
            info["frames"] = int(s.get("nb_read_frames") or 0)
            info["width"], info["height"] = s.get("width"), s.get("height")
            info["errors"] += [l for l in p.stderr.splitlines() if l.strip()][:20]
            cmd = ["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "h264", "-i", path,
                   "-map", "0:v", "-fps_mode", "passthrough", "-update", "1",
                   os.path.join(self.o.out, "last.png")]
            if self.o.dump_frames:
                cmd += ["-map", "0:v", "-fps_mode", "passthrough", "-f", "rawvideo",
                        "-pix_fmt", "rgb24", self.o.dump_frames]
            p = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
            info["errors"] += [l for l in p.stderr.splitlines() if l.strip()][:20]
            info["last_png"] = os.path.join(self.o.out, "last.png")
            if self.o.dump_frames:
                info["frames_file"] = self.o.dump_frames
                info["frames_format"] = "rgb24"
        except (subprocess.TimeoutExpired, OSError, ValueError) as e:
            info["errors"].append("decoder run failed: %s" % e)
        pictures = self.counts["bitstream_with_data"]
        if pictures and not info["frames"]:
            self.f.violation("decode", "%d pictures received, none decoded" % pictures)
        for err in info["errors"]:
            if self.o.strict_decode:
                self.f.violation("decode", "decoder: %s" % err)
            else:
                self.f.warning("decode", "decoder: %s" % err)
        if info["width"] and self.codec_records:
            last = self.codec_records[-1]["size"]
            if [info["width"], info["height"]] != last:
                self.f.warning("decode", "decoded size %sx%s differs from the last codec"
                               " packet's %gx%g" % (info["width"], info["height"], *last))

    def summary(self):
        c = self.counts
        fps = {}
        if len(self.data_times) >= 2:
            (a0, t0), (a1, t1) = self.data_times[0], self.data_times[-1]
            n = len(self.data_times) - 1
            fps["by_arrival"] = round(n / (a1 - a0), 2) if a1 > a0 else None
            fps["by_timestamps"] = round(n / (t1 - t0), 2) if t1 > t0 else None
        gaps = [b - a for a, b in zip(self.hb_arrivals, self.hb_arrivals[1:])]
        s = {
            "outcome": self.outcome,
            "ended_by": self.ended_by,
            "end_detail": getattr(self, "end_detail", None),
            "misbehave": self.o.misbehave,
            "peer": "%s:%d" % self.peer if self.peer else None,
            "receiver_size": {"width": self.receiver_size[0], "height": self.receiver_size[1]},
            "reply_format": self.o.reply_format,
            "version": self.o.version,
            "handshake": self.hs,
            "auth_used": self.hs["auth_used"],
            "post": self.post,
            "packets": c,
            "codec_packets": self.codec_records,
            "first_frame_delay_ms": round((self.first_data_at - self.t_post) * 1000, 1)
            if self.first_data_at and self.t_post else None,
            "fps": fps,
            "heartbeat": {"count": c["heartbeat"],
                          "max_gap_ms": round(max(gaps) * 1000, 1) if gaps else None,
                          "mean_gap_ms": round(sum(gaps) / len(gaps) * 1000, 1) if gaps else None},
            "ntp": dict(self.ntp, checked=self.ntp["answered"] - self.ntp["bad"],
                        offset_window_s=[self.off_lo, self.off_hi]
                        if self.off_lo is not None else None),
            "streamed_s": round(time.monotonic() - self.t_post, 3) if self.t_post else None,
            "after_misbehave": self.after_misbehave,
        }
        for k in ("rtt_ms_max", "rtt_ms_min"):
            if s["ntp"][k] is not None:
                s["ntp"][k] = round(s["ntp"][k], 3)
        return s


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0, help="0 picks a free port")
    p.add_argument("--port-file", help="also write the port number into this file")
    p.add_argument("--out", default="receiver-out", help="output directory")
    p.add_argument("--width", type=int, default=1920)
    p.add_argument("--height", type=int, default=1080)
    p.add_argument("--version", default="150.33", help="version text of the GET reply")
    p.add_argument("--reply-format", choices=["binary", "xml"], default="binary")
    p.add_argument("--password", help="demand Digest authorization with this password")
    p.add_argument("--realm", default="tessarine-rx")
    p.add_argument("--nonce", help="fixed Digest nonce (random by default)")
    p.add_argument("--duration", type=float, help="stop this many seconds after POST /stream")
    p.add_argument("--packets", type=int, help="stop after this many bitstream packets")
    p.add_argument("--timeout", type=float, default=60.0, help="overall limit in seconds")
    p.add_argument("--idle-timeout", type=float, default=10.0,
                   help="end when the sender sends nothing for this long while streaming")
    p.add_argument("--ntp-port", type=int, default=7010)
    p.add_argument("--ntp-interval", type=float, default=1.0)
    p.add_argument("--ntp-reply-timeout", type=float, default=2.0)
    p.add_argument("--no-ntp", action="store_true", help="send no NTP requests")
    p.add_argument("--require-ntp", action="store_true",
                   help="missing NTP replies are violations")
    p.add_argument("--strict-heartbeat", action="store_true",
                   help="heartbeat gaps over 2.5 s are violations")
    p.add_argument("--max-latency", type=float, default=5.0,
                   help="how far a packet time may lag the sender's clock (s)")
    p.add_argument("--start-slack", type=float, default=10.0,
                   help="how long before the connection the sender's session may have started (s)")
    p.add_argument("--min-heartbeats", type=int, default=0,
                   help="at least this many heartbeat packets")
    p.add_argument("--min-frames", type=int, default=0,
                   help="at least this many bitstream packets with data")
    p.add_argument("--expect-outcome", choices=OUTCOMES,
                   help="stage the session must end in (default: streaming, or anything"
                        " with --misbehave)")
    p.add_argument("--expect-close-within", type=float,
                   help="after a misbehaviour the sender must close within this many seconds")
    p.add_argument("--observe", type=float, default=15.0,
                   help="how long to watch the sender after a stall")
    p.add_argument("--misbehave", choices=MISBEHAVIOURS)
    p.add_argument("--close-after", type=int, default=5,
                   help="bitstream packets before close-mid-stream closes")
    p.add_argument("--decode", action="store_true", help="decode stream.h264 with ffmpeg")
    p.add_argument("--dump-frames", help="with --decode: write all frames as raw rgb24 here")
    p.add_argument("--strict-decode", action="store_true",
                   help="decoder error lines are violations")
    o = p.parse_args(argv)
    if o.port < 0 or o.port > 65535 or o.width <= 0 or o.height <= 0 or o.timeout <= 0:
        p.error("port, size or timeout out of range")
    if o.dump_frames and not o.decode:
        p.error("--dump-frames needs --decode")
    return o


def announce(port, port_file):
    print("LISTENING %d" % port, flush=True)
    if port_file:
        tmp = port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, port_file)

def open_listener(name, o, on_terminate):
    """Listens on o.host:o.port and announces the port. Returns (listener,
    port); (None, port) for --misbehave refuse, which hands out a port that
    nobody listens on; (None, None) when the port cannot be had."""
    if o.misbehave == "refuse":
        s = socket.socket()
        s.bind((o.host, 0))
        port = s.getsockname()[1]
        s.close()
        announce(port, o.port_file)
        return None, port
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((o.host, o.port))
    except OSError as e:
        print("%s: cannot listen on %s:%d: %s" % (name, o.host, o.port, e), file=sys.stderr)
        listener.close()
        return None, None
    listener.listen(1)
    signal.signal(signal.SIGTERM, on_terminate)
    port = listener.getsockname()[1]
    announce(port, o.port_file)
    return listener, port



def main(argv=None):
    o = parse_args(argv)
    listener, port = open_listener("receiver", o, _on_terminate)
    if listener is None:
        return 0 if port else 2
    r = MirrorReceiver(o, listener)
    try:
        r.run()
    finally:
        r.close()
    r.judge()
    os.makedirs(o.out, exist_ok=True)
    summary = r.summary()
    if o.decode and r.outcome == "streaming":
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
    print("receiver: %s, ended by %s; %d codec, %d bitstream (%d with data), %d heartbeat"
          " packets; NTP %d/%d answered; %d violation(s)"
          % (r.outcome, r.ended_by, r.counts["codec"], r.counts["bitstream"],
             r.counts["bitstream_with_data"], r.counts["heartbeat"], r.ntp["answered"],
             r.ntp["sent"], len(r.f.violations)), file=sys.stderr)
    return 1 if r.f.violations else 0


if __name__ == "__main__":
    sys.exit(main())
