#!/usr/bin/env python3
"""A small mirroring sender used to test the test receiver.

It speaks the sender's side of the handshake, sends codec, bitstream and
heartbeat packets, and answers NTP requests on its own UDP port. `faults`
switches on single deviations so that tests can prove the receiver notices
them.
"""

import argparse
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire  # noqa: E402


class BitWriter:
    def __init__(self):
        self.bits = []

    def u(self, n, v):
        self.bits += [(v >> (n - 1 - i)) & 1 for i in range(n)]

    def ue(self, v):
        v += 1
        n = v.bit_length()
        self.u(n - 1, 0)
        self.u(n, v)

    def rbsp(self):
        self.bits.append(1)
        while len(self.bits) % 8:
            self.bits.append(0)
        out = bytes(int("".join(map(str, self.bits[i:i + 8])), 2)
                    for i in range(0, len(self.bits), 8))
        return escape_rbsp(out)


def escape_rbsp(data):
    out = bytearray()
    zeros = 0
    for b in data:
        if zeros >= 2 and b <= 3:
            out.append(3)
            zeros = 0
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def make_sps(width, height):
    """A High-profile SPS for a 4:2:0 picture of this (even) size."""
    w_mbs, h_mbs = (width + 15) // 16, (height + 15) // 16
    b = BitWriter()
    b.u(8, 100)
    b.u(8, 0)
    b.u(8, 40)
    b.ue(0)          # sps id
    b.ue(1)          # 4:2:0
    b.ue(0)
    b.ue(0)
    b.u(1, 0)
    b.u(1, 0)        # no scaling matrices
    b.ue(0)          # log2_max_frame_num - 4
    b.ue(2)          # poc type 2
    b.ue(1)          # ref frames
    b.u(1, 0)
    b.ue(w_mbs - 1)
    b.ue(h_mbs - 1)
    b.u(1, 1)        # frame_mbs_only
    b.u(1, 1)        # direct_8x8
    crop_r, crop_b = (w_mbs * 16 - width) // 2, (h_mbs * 16 - height) // 2
    if crop_r or crop_b:
        b.u(1, 1)
        b.ue(0)
        b.ue(crop_r)
        b.ue(0)
        b.ue(crop_b)
    else:
        b.u(1, 0)
    b.u(1, 0)        # no VUI
    return b"\x67" + b.rbsp()


def synthetic_frames(width, height, count, gop=5):
    """Encoder outputs in the bridge's layout, with made-up slice bytes."""
    sps, pps = make_sps(width, height), b"\x68\xee\x3c\x80"
    frames = []
    for i in range(count):
        if i % gop == 0:
            idr = b"\x65\x88\x84" + bytes([0x10 + i % 200]) * 40
            out = (struct.pack(">I", len(sps)) + sps + struct.pack(">I", len(pps)) + pps
                   + struct.pack(">I", len(idr)) + idr)
            frames.append((True, out))
        else:
            frames.append((False, b"\x00\x00\x00\x01\x41\x9a" + bytes([0x20 + i % 200]) * 20))
    return frames


def x264_frames(width, height, count, gop=5):
    """Real encoder outputs from ffmpeg's libx264, in the bridge's layout."""
    if not shutil.which("ffmpeg"):
        return None
    cmd = ["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
           "testsrc=size=%dx%d:rate=10" % (width, height), "-frames:v", str(count),
           "-c:v", "libx264", "-profile:v", "high", "-pix_fmt", "yuv420p", "-bf", "0",
           "-g", str(gop), "-x264-params", "scenecut=0", "-f", "h264", "-"]
    try:
        data = subprocess.run(cmd, capture_output=True, timeout=60, check=True).stdout
    except (subprocess.SubprocessError, OSError):
        return None
    frames, params, sps, pps = [], [], None, None
    for nal in wire.split_annexb(data):
        t = nal[0] & 0x1F
        if t == 7:
            sps = nal
        elif t == 8:
            pps = nal
        elif t in (1, 5):
            if t == 5:
                out = b"".join(struct.pack(">I", len(n)) + n for n in [sps, pps] + params + [nal])
                frames.append((True, out))
            else:
                frames.append((False, b"\x00\x00\x00\x01" + nal))
            params = []
        elif t == 6:
            params.append(nal)
    return frames


class StubSender:
    def __init__(self, host, port, ntp_port=0, width=128, height=96, frames=None,
                 fps=30, password=None, device_id="0123456789AB", client_name="stubhost",
                 faults=(), heartbeat_interval=1.0, linger=0.0):
        self.host, self.port = host, port
        self.width, self.height = width, height
        self.frames = frames if frames is not None else synthetic_frames(width, height, 10)
        self.fps = fps
        self.password = password
        self.device_id = device_id
        self.client_name = client_name
        self.faults = set(faults)
        self.heartbeat_interval = heartbeat_interval
        self.linger = linger
        self.t0 = time.monotonic()
        self.result = {}
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind((host, ntp_port))
        self.udp.settimeout(0.2)
        self.ntp_port = self.udp.getsockname()[1]
        self.ntp_answered = 0

    def clock_us(self):
        return int((time.monotonic() - self.t0) * 1e6)

    # ---------------------------------------------------------------- NTP

    def ntp_loop(self):
        while not self.stop.is_set():
            try:
                req, addr = self.udp.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            rx = wire.ntp_from_us(self.clock_us())
            if "ntp-silent" in self.faults:
                continue
            reply = bytearray(48)
            reply[0:4] = b"\x24\x01\x02\xe8"
            reply[12:16] = b"AIRP"
            reply[24:32] = req[40:48]
            if "ntp-bad-stratum" in self.faults:
                reply[1] = 2
            if "ntp-no-echo" in self.faults:
                reply[24:32] = bytes(8)
            tx = wire.ntp_from_us(self.clock_us())
            if "ntp-clock-jump" in self.faults and self.ntp_answered >= 1:
                rx = tx = wire.ntp_from_us(self.clock_us() + 30000000)
            struct.pack_into(">IIII", reply, 32, rx[0], rx[1], tx[0], tx[1])
            self.udp.sendto(bytes(reply), addr)
            self.ntp_answered += 1

    # ------------------------------------------------------------ handshake

    def read_reply(self, f):
        length, realm, nonce, status = 0, None, None, None
        while True:
            line = f.readline(8192)
            if not line:
                raise ConnectionError("reply ended")
            if status is None:
                status = line.split()[1].decode() if len(line.split()) > 1 else "?"
            if line == b"\r\n":
                break
            text = line.decode("latin-1").rstrip("\r\n")
            if text.startswith("Content-Length"):
                m = re.match(r"Content-Length: *(\d+)", text)
                length = int(m.group(1)) if m else 0
            if text.startswith("WWW-Authenticate: Digest"):
                for piece in text[24:].split(","):
                    piece = piece.strip()
                    if not piece.endswith('"'):
                        continue
                    if piece.startswith('realm="'):
                        realm = piece[7:-1]
                    if piece.startswith('nonce="'):
                        nonce = piece[7:-1]
        body = f.read(length) if length else b""
        return status, body, realm, nonce

    def get_request(self, realm=None, nonce=None):
        auth = ""
        if realm is not None:
            password = self.password or ""
            resp = wire.digest_response(wire.DIGEST_USER, realm, password, nonce, "GET",
                                        wire.DIGEST_URI)
            auth = ('Authorization: Digest username="%s", realm="%s", nonce="%s", uri="%s",'
                    ' response="%s"\r\n' % (wire.DIGEST_USER, realm, nonce, wire.DIGEST_URI, resp))
        ua = "Nb5sender" if "bad-user-agent" in self.faults else wire.USER_AGENT
        text = ("GET /stream.xml HTTP/1.1\r\nUser-Agent: %s\r\n%sX-Apple-Device-ID: 0x%s\r\n"
                "X-Apple-Client-Name: %s\r\nX-Apple-ProtocolVersion: 1\r\nrmodel: PC1,1\r\n"
                "Content-Length: 0\r\n\r\n" % (ua, auth, self.device_id, self.client_name))
        if "header-order" in self.faults:
            text = text.replace("rmodel: PC1,1\r\nContent-Length: 0",
                                "Content-Length: 0\r\nrmodel: PC1,1")
        return text.encode()

    def post_request(self):
        device = int(self.device_id, 16) if self.device_id else 0
        session = 0x8ABCDEF0 - 2**32
        body = wire.stream_post_body(device, session)
        if "post-latency" in self.faults:
            body = body.replace(b"\x10\x5a", b"\x10\x5b")
        if "post-xml" in self.faults:
            import plistlib
            body = plistlib.dumps(plistlib.loads(body), fmt=plistlib.FMT_XML)
        head = ("POST /stream HTTP/1.1\r\nUser-Agent: %s\r\nX-Apple-Device-ID: 0x%s\r\n"
                "X-Apple-Client-Name: %s\r\nX-Apple-ProtocolVersion: 1\r\n"
                "Content-Type: application/x-apple-binary-plist\r\nContent-Length: %d\r\n\r\n"
                % (wire.USER_AGENT, self.device_id, self.client_name, len(body)))
        return head.encode(), body

    # ---------------------------------------------------------------- run

    def send_packet(self, sock, data):
        with self.lock:
            sock.sendall(data)

    def heartbeat_loop(self, sock):
        while not self.stop.wait(self.heartbeat_interval):
            pts = self.clock_us()
            hdr = bytearray(wire.build_stream_header(wire.TYPE_HEARTBEAT, 0, pts))
            if "heartbeat-subtype" in self.faults:
                hdr[6] = 0x06
            try:
                self.send_packet(sock, bytes(hdr))
            except OSError:
                return

    def run(self):
        """Handshake and stream; fills self.result. Never raises."""
        threads = [threading.Thread(target=self.ntp_loop, daemon=True)]
        threads[0].start()
        sock = None
        try:
            sock = socket.create_connection((self.host, self.port), timeout=10)
            f = sock.makefile("rb")
            sock.sendall(self.get_request())
            status, body, realm, nonce = self.read_reply(f)
            self.result["first_status"] = status
            if status == "401":
                if self.password is None:
                    self.result["end"] = "password wanted"
                    return
                if "wrong-password" in self.faults:
                    self.password += "x"
                sock.sendall(self.get_request(realm, nonce))
                status, body, realm2, _ = self.read_reply(f)
                if status == "401":
                    self.result["end"] = "password refused"
                    return
            import plistlib
            info = plistlib.loads(body)
            self.result["screen"] = (info["width"], info["height"], info["version"])
            head, body = self.post_request()
            sock.sendall(head)
            sock.sendall(body)
            hb = threading.Thread(target=self.heartbeat_loop, args=(sock,), daemon=True)
            hb.start()
            threads.append(hb)
            self.stream(sock)
            if self.linger:
                time.sleep(self.linger)
            self.result["end"] = "done"
        except OSError as e:
            self.result["end"] = "error: %s" % e
        except Exception as e:  # keep the stub from hiding a test failure in a thread
            self.result["end"] = "stub error: %r" % e
        finally:
            self.stop.set()
            if sock:
                sock.close()
            for t in threads:
                t.join(2)
            self.udp.close()

    def stream(self, sock):
        geometry_size = (self.width, self.height)
        rw, rh = self.result["screen"][:2]
        geometry = (float(self.width), float(self.height), (rw - self.width) * 0.5,
                    (rh - self.height) * 0.5, float(self.width), float(self.height))
        codec_sent = False
        for i, (key, out) in enumerate(self.frames):
            pts = self.clock_us()
            if "future-time" in self.faults:
                pts += 60000000
            if key and not codec_sent and "no-codec" not in self.faults:
                sps_len = struct.unpack_from(">I", out, 0)[0]
                sps = out[4:4 + sps_len]
                pps_len = struct.unpack_from(">I", out, 4 + sps_len)[0]
                pps = out[8 + sps_len:8 + sps_len + pps_len]
                payload = wire.avcc_record(sps, pps)
                if "avcc-level" in self.faults:
                    payload = payload[:3] + b"\x1f" + payload[4:]
                hdr = bytearray(wire.build_stream_header(wire.TYPE_CODEC, len(payload), pts,
                                                         geometry))
                if "codec-size" in self.faults:
                    struct.pack_into("<f", hdr, 16, geometry_size[0] + 2.0)
                self.send_packet(sock, bytes(hdr) + payload)
                codec_sent = True
            payload = bytearray(out)
            if payload[:4] == b"\x00\x00\x00\x01" and "keep-start-code" not in self.faults:
                payload[:4] = struct.pack(">I", len(payload) - 4)
            if "bad-nal-length" in self.faults and i == 1:
                payload[:4] = struct.pack(">I", len(payload) + 10)
            hdr = bytearray(wire.build_stream_header(wire.TYPE_BITSTREAM, len(payload), pts,
                                                     geometry))
            if "nonzero-tail" in self.faults:
                hdr[100] = 1
            self.send_packet(sock, bytes(hdr) + bytes(payload))
            if "close-in-payload" in self.faults and i == 2:
                self.send_packet(sock, wire.build_stream_header(wire.TYPE_BITSTREAM, 500, pts,
                                                                geometry) + b"\x00" * 10)
                return
            time.sleep(1.0 / self.fps)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=int(os.environ.get("TESS_RECEIVER_PORT", 7100)))
    p.add_argument("--ntp-port", type=int, default=7010)
    p.add_argument("--password")
    p.add_argument("--frames", type=int, default=30)
    p.add_argument("--size", default="128x96")
    p.add_argument("--x264", action="store_true", help="real H.264 from ffmpeg's libx264")
    p.add_argument("--fault", action="append", default=[])
    o = p.parse_args()
    w, h = map(int, o.size.split("x"))
    frames = x264_frames(w, h, o.frames) if o.x264 else synthetic_frames(w, h, o.frames)
    s = StubSender(o.host, o.port, o.ntp_port, w, h, frames, password=o.password,
                   faults=o.fault)
    s.run()
    print(s.result)
    return 0 if s.result.get("end") == "done" else 1


if __name__ == "__main__":
    sys.exit(main())
