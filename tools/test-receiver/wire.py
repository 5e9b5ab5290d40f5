"""Wire formats shared by the test receivers and the sender stub.

Everything here is pure data handling: no sockets, no clocks. Byte layouts
are the ones the sender puts on the wire (mirroring handshake, stream
packets, NTP, RTP/RAOP); helpers return problems as text so that callers can
report them as violations.
"""

import hashlib
import math
import struct

NTP_UNIX_EPOCH = 2208988800          # NTP seconds at 1970-01-01
STREAM_HEADER_SIZE = 128
TYPE_BITSTREAM, TYPE_CODEC, TYPE_HEARTBEAT = 0, 1, 2
TYPE_NAMES = {TYPE_BITSTREAM: "bitstream", TYPE_CODEC: "codec", TYPE_HEARTBEAT: "heartbeat"}

USER_AGENT = "Nb5Sender"
DIGEST_USER = "Airplay"
DIGEST_URI = "/stream.xml"
FPS_INFO_NAMES = ["SubS", "B4En", "EnDp", "IdEn", "IdDp", "EQDp", "QueF", "Sent"]
TIMESTAMP_INFO_NAMES = ["SubSu", "BePxT", "AfPxT", "BefEn", "EmEnc", "QueFr", "SndFr"]
STREAM_VERSION = "130.16"
LATENCY_MS = 90


# --------------------------------------------------------------------------
# HTTP Digest (RFC 2617 without qop)

def md5_hex(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def digest_response(user, realm, password, nonce, method, uri):
    ha1 = md5_hex("%s:%s:%s" % (user, realm, password))
    ha2 = md5_hex("%s:%s" % (method, uri))
    return md5_hex("%s:%s:%s" % (ha1, nonce, ha2))


# --------------------------------------------------------------------------
# Binary property lists in the exact form the sender's writer produces:
# objects in reference order (a dictionary, then its keys in byte order, then
# each value followed by its own objects), integers in the fewest bytes
# rounded up to a power of two (negative ones in 8), no shared strings.

def _bplist_int(value):
    if value < 0:
        return bytes([0x13]) + struct.pack(">q", value)
    n = max(1, (value.bit_length() + 7) // 8)
    size = 1
    while size < n:
        size *= 2
    if size > 8:
        raise ValueError("integer too large for a property list: %d" % value)
    return bytes([0x10 | size.bit_length() - 1]) + value.to_bytes(size, "big")


def _bplist_marker(kind, count):
    if count < 15:
        return bytes([kind | count])
    return bytes([kind | 0x0F]) + _bplist_int(count)


def canonical_bplist(root):
    """Serialise dict/list/str/bytes/int/bool in the sender's byte-exact form."""
    objects = []   # each entry: ("leaf", bytes) or ("dict"/"array", marker_kind, refs)

    def add(value):
        index = len(objects)
        objects.append(None)
        if isinstance(value, dict):
            keys = sorted(value, key=lambda k: k.encode("utf-8"))
            key_refs = [add(k) for k in keys]
            value_refs = [add(value[k]) for k in keys]
            objects[index] = ("dict", len(keys), key_refs + value_refs)
        elif isinstance(value, (list, tuple)):
            refs = [add(v) for v in value]
            objects[index] = ("array", len(refs), refs)
        elif isinstance(value, bool):
            objects[index] = ("leaf", b"\x09" if value else b"\x08")
        elif isinstance(value, int):
            objects[index] = ("leaf", _bplist_int(value))
        elif isinstance(value, str):
            data = value.encode("utf-8")
            objects[index] = ("leaf", _bplist_marker(0x50, len(data)) + data)
        elif isinstance(value, (bytes, bytearray)):
            objects[index] = ("leaf", _bplist_marker(0x40, len(value)) + bytes(value))
        else:
            raise TypeError("cannot serialise %r" % type(value))
        return index

    add(root)
    ref_size = max(1, ((len(objects) - 1).bit_length() + 7) // 8)
    out = bytearray(b"bplist00")
    offsets = []
    for obj in objects:
        offsets.append(len(out))
        if obj[0] == "leaf":
            out += obj[1]
        else:
            out += _bplist_marker(0xD0 if obj[0] == "dict" else 0xA0, obj[1])
            for ref in obj[2]:
                out += ref.to_bytes(ref_size, "big")
    table = len(out)
    offset_size = max(1, (max(offsets).bit_length() + 7) // 8)
    for off in offsets:
        out += off.to_bytes(offset_size, "big")
    out += bytes(6) + bytes([offset_size, ref_size])
    out += struct.pack(">QQQ", len(objects), 0, table)
    return bytes(out)


def stream_post_body(device_id, session_id):
    """The POST /stream body the sender must produce for these two numbers."""
    return canonical_bplist({
        "deviceID": device_id,
        "fpsInfo": [{"name": n} for n in FPS_INFO_NAMES],
        "latencyMs": LATENCY_MS,
        "sessionID": session_id,
        "timestampInfo": [{"name": n} for n in TIMESTAMP_INFO_NAMES],
        "version": STREAM_VERSION,
    })


# --------------------------------------------------------------------------
# NTP time stamps of the sender's session clock (microseconds since start)

def ntp_from_us(us):
    seconds = (us // 1000000 + NTP_UNIX_EPOCH) & 0xFFFFFFFF
    fraction = ((us % 1000000) << 32) // 1000000
    return seconds, fraction


def ntp_to_seconds(seconds, fraction):
    """NTP time as float seconds since the sender's session start."""
    return (seconds - NTP_UNIX_EPOCH) + fraction / 4294967296.0


def fraction_is_microsecond_exact(fraction):
    """True when fraction == floor(us * 2^32 / 10^6) for a whole microsecond us.

    The sender derives fractions from whole microseconds; any other formula
    (milliseconds times 4294967, rounding) gives values this test rejects.
    """
    us = (fraction * 1000000) >> 32
    for candidate in (us, us + 1):
        if candidate < 1000000 and (candidate << 32) // 1000000 == fraction:
            return True
    return False


NTP_REQUEST_SIZE = 48


def ntp_request(transmit):
    """A 48-byte NTP version 4 client request carrying 8 transmit bytes."""
    assert len(transmit) == 8
    return bytes([0x23]) + bytes(39) + transmit


def check_ntp_reply(reply, transmit):
    """Layout problems of a reply to a request whose transmit bytes were given.

    Returns (problems, receive_ts, transmit_ts) with the two time stamps as
    (seconds, fraction) pairs, or None for them when the reply is too short.
    """
    problems = []
    if len(reply) != 48:
        problems.append("reply is %d bytes, not 48" % len(reply))
        if len(reply) < 48:
            return problems, None, None
    fixed = [(0, 0x24, "leap/version/mode"), (1, 0x01, "stratum"), (2, 0x02, "poll"),
             (3, 0xE8, "precision")]
    for pos, want, name in fixed:
        if reply[pos] != want:
            problems.append("%s byte is 0x%02X, not 0x%02X" % (name, reply[pos], want))
    if reply[4:12] != bytes(8):
        problems.append("root delay/dispersion not zero: %s" % reply[4:12].hex())
    if reply[12:16] != b"AIRP":
        problems.append("reference id is %r, not 'AIRP'" % bytes(reply[12:16]))
    if reply[16:24] != bytes(8):
        problems.append("reference timestamp not zero: %s" % reply[16:24].hex())
    if reply[24:32] != transmit:
        problems.append("originate %s does not echo our transmit %s"
                        % (reply[24:32].hex(), transmit.hex()))
    rx = struct.unpack(">II", reply[32:40])
    tx = struct.unpack(">II", reply[40:48])
    for name, ts in (("receive", rx), ("transmit", tx)):
        if not fraction_is_microsecond_exact(ts[1]):
            problems.append("%s fraction %d is not a whole microsecond" % (name, ts[1]))
        if ts[0] < NTP_UNIX_EPOCH:
            problems.append("%s seconds %d before the session start (%d)"
                            % (name, ts[0], NTP_UNIX_EPOCH))
    if ntp_to_seconds(*tx) < ntp_to_seconds(*rx):
        problems.append("transmit time %.6f before receive time %.6f"
                        % (ntp_to_seconds(*tx), ntp_to_seconds(*rx)))
    return problems, rx, tx


# --------------------------------------------------------------------------
# Stream packets

class StreamHeader:
    __slots__ = ("raw", "length", "ptype", "subtype", "ntp_fraction", "ntp_seconds",
                 "codec_w", "codec_h", "width", "height", "x", "y", "sw", "sh")

    def __init__(self, raw):
        self.raw = bytes(raw)
        (self.length, self.ptype, self.subtype, self.ntp_fraction,
         self.ntp_seconds) = struct.unpack_from("<IHHII", raw, 0)
        self.codec_w, self.codec_h = struct.unpack_from("<ff", raw, 16)
        (self.width, self.height, self.x, self.y,
         self.sw, self.sh) = struct.unpack_from("<6f", raw, 40)

    @property
    def time(self):
        return ntp_to_seconds(self.ntp_seconds, self.ntp_fraction)

    @property
    def geometry(self):
        return (self.width, self.height, self.x, self.y, self.sw, self.sh)


def build_stream_header(ptype, length, pts_us, geometry=None):
    """Header bytes as the sender builds them (for the stub and tests)."""
    header = bytearray(STREAM_HEADER_SIZE)
    seconds, fraction = ntp_from_us(pts_us)
    struct.pack_into("<IHHII", header, 0, length, ptype,
                     0x1E if ptype == TYPE_HEARTBEAT else 0x06, fraction, seconds)
    if ptype != TYPE_HEARTBEAT and geometry is not None:
        w, h, x, y, sw, sh = geometry
        if ptype == TYPE_CODEC:
            struct.pack_into("<ff", header, 16, w, h)
        struct.pack_into("<6f", header, 40, w, h, x, y, sw, sh)
    return bytes(header)


def _f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def check_stream_header(h, receiver_size=None):
    """Problems with one packet header, by the rules of its packet type."""
    problems = []
    raw = h.raw
    if h.ptype not in TYPE_NAMES:
        return ["unknown packet type %d" % h.ptype]
    want_sub = 0x1E if h.ptype == TYPE_HEARTBEAT else 0x06
    if h.subtype != want_sub:
        problems.append("bytes 6-7 are 0x%04X, not 0x%04X" % (h.subtype, want_sub))
    if not fraction_is_microsecond_exact(h.ntp_fraction):
        problems.append("NTP fraction %d is not a whole microsecond" % h.ntp_fraction)
    if h.ntp_seconds < NTP_UNIX_EPOCH:
        problems.append("NTP seconds %d before the session start" % h.ntp_seconds)
    if h.ptype == TYPE_HEARTBEAT:
        if h.length != 0:
            problems.append("heartbeat with payload length %d" % h.length)
        if raw[16:] != bytes(112):
            problems.append("heartbeat bytes 16-127 not zero")
        return problems
    if raw[24:40] != bytes(16):
        problems.append("bytes 24-39 not zero")
    if raw[64:] != bytes(64):
        problems.append("bytes 64-127 not zero")
    if h.ptype == TYPE_CODEC:
        if (h.codec_w, h.codec_h) != (h.width, h.height):
            problems.append("codec size %gx%g (bytes 16-23) differs from %gx%g (bytes 40-47)"
                            % (h.codec_w, h.codec_h, h.width, h.height))
    elif raw[16:24] != bytes(8):
        problems.append("bytes 16-23 not zero in a bitstream packet")
    values = h.geometry
    if not all(math.isfinite(v) for v in values):
        problems.append("non-finite geometry %r" % (values,))
        return problems
    w, hh, x, y, sw, sh = values
    for name, v in (("width", w), ("height", hh)):
        if v != int(v) or v <= 0 or int(v) % 2:
            problems.append("encoded %s %g is not a positive even integer" % (name, v))
    if sw <= 0 or sh <= 0:
        problems.append("scaled size %gx%g not positive" % (sw, sh))
    if receiver_size:
        rw, rh = receiver_size
        # The offsets centre the scaled picture on the receiver's screen.
        if abs(x - _f32((rw - sw) * 0.5)) > 0.01 or abs(y - _f32((rh - sh) * 0.5)) > 0.01:
            problems.append("offsets (%g,%g) do not centre %gx%g on %dx%d"
                            % (x, y, sw, sh, rw, rh))
        if not geometry_mode(values, receiver_size):
            problems.append("scaled size %gx%g fits no scale mode for %gx%g on %dx%d"
                            % (sw, sh, w, hh, rw, rh))
    return problems


def geometry_mode(values, receiver_size):
    """Which scale mode(s) explain a header's geometry; empty when none."""
    w, h, _, _, sw, sh = values
    rw, rh = receiver_size
    modes = []
    # Above 1920x1080 the capture was shrunk to the scaled size (made even).
    def near(a, b, tol=0.5):
        return abs(a - b) <= tol
    if near(sw, w, 2.01) and near(sh, h, 2.01):
        modes.append(0)
    if near(sw, rw) and near(sh, rh):
        modes.append(2)
    if (near(sw, rw) or near(sh, rh)) and abs(sw * h - sh * w) <= 0.01 * sw * h:
        modes.append(1)
    return modes


# --------------------------------------------------------------------------
# H.264

NAL_NAMES = {1: "slice", 5: "IDR", 6: "SEI", 7: "SPS", 8: "PPS", 9: "AUD", 12: "filler"}


def parse_avcc(payload):
    """(sps, pps, problems) from the codec packet's decoder configuration record."""
    problems = []
    if len(payload) < 11:
        return None, None, ["codec payload of %d bytes is too short" % len(payload)]
    want = bytes([0x01, 0x64, 0xC0, 0x28, 0xFF, 0xE1])
    if payload[:6] != want:
        problems.append("avcC prefix %s, not %s" % (payload[:6].hex(" "), want.hex(" ")))
    s = struct.unpack_from(">H", payload, 6)[0]
    if 8 + s + 3 > len(payload):
        return None, None, problems + ["SPS length %d runs past the payload" % s]
    sps = payload[8:8 + s]
    if payload[8 + s] != 0x01:
        problems.append("PPS count byte is 0x%02X, not 0x01" % payload[8 + s])
    p = struct.unpack_from(">H", payload, 9 + s)[0]
    pps = payload[11 + s:11 + s + p]
    if s + p + 11 != len(payload):
        problems.append("payload length %d, expected SPS %d + PPS %d + 11 = %d"
                        % (len(payload), s, p, s + p + 11))
    if not sps or sps[0] & 0x1F != 7:
        problems.append("SPS NAL type is %s, not 7" % (sps[0] & 0x1F if sps else "missing"))
    if not pps or pps[0] & 0x1F != 8:
        problems.append("PPS NAL type is %s, not 8" % (pps[0] & 0x1F if pps else "missing"))
    return bytes(sps), bytes(pps), problems


def walk_length_prefixed(payload):
    """Split 4-byte big-endian length-prefixed NAL units; (nals, problems)."""
    nals, problems = [], []
    pos = 0
    while pos < len(payload):
        if pos + 4 > len(payload):
            problems.append("%d stray bytes after the last NAL unit" % (len(payload) - pos))
            break
        n = struct.unpack_from(">I", payload, pos)[0]
        pos += 4
        if n == 0:
            problems.append("NAL unit of length 0 at offset %d" % (pos - 4))
            continue
        if pos + n > len(payload):
            problems.append("NAL length %d at offset %d runs past the payload (%d bytes)"
                            % (n, pos - 4, len(payload)))
            break
        nals.append(bytes(payload[pos:pos + n]))
        pos += n
    for i, nal in enumerate(nals):
        if nal[0] & 0x80:
            problems.append("NAL %d has the forbidden bit set" % i)
        for pattern in (b"\x00\x00\x00", b"\x00\x00\x01", b"\x00\x00\x02"):
            at = nal.find(pattern)
            # Trailing zero bytes are tolerated; an inner start code is not.
            if at >= 0 and nal[at:].strip(b"\x00"):
                problems.append("NAL %d (type %d) holds the byte sequence %s at %d"
                                " (a start code left inside a length-prefixed unit)"
                                % (i, nal[0] & 0x1F, pattern.hex(" "), at))
                break
    return nals, problems


def split_annexb(data):
    """NAL units of an Annex-B byte stream (for the stub sender)."""
    nals = []
    i, n = 0, len(data)
    starts = []
    while True:
        j = data.find(b"\x00\x00\x01", i)
        if j < 0:
            break
        starts.append(j + 3)
        i = j + 3
    for k, s in enumerate(starts):
        end = starts[k + 1] - 3 if k + 1 < len(starts) else n
        nal = data[s:end]
        while nal.endswith(b"\x00"):
            nal = nal[:-1]
        if nal:
            nals.append(bytes(nal))
    return nals


class _Bits:
    def __init__(self, rbsp):
        self.data = rbsp
        self.pos = 0

    def u(self, n):
        v = 0
        for _ in range(n):
            byte = self.data[self.pos >> 3]
            v = (v << 1) | ((byte >> (7 - (self.pos & 7))) & 1)
            self.pos += 1
        return v

    def ue(self):
        zeros = 0
        while self.u(1) == 0:
            zeros += 1
            if zeros > 31:
                raise ValueError("bad exp-Golomb code")
        return (1 << zeros) - 1 + self.u(zeros)

    def se(self):
        k = self.ue()
        return (k + 1) // 2 if k & 1 else -(k // 2)


def unescape_rbsp(nal):
    out = bytearray()
    zeros = 0
    for b in nal:
        if zeros >= 2 and b == 3:
            zeros = 0
            continue
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def sps_size(sps):
    """(width, height) coded in an SPS NAL unit (cropping applied)."""
    r = _Bits(unescape_rbsp(sps[1:]))
    profile = r.u(8)
    r.u(16)  # constraint flags, level
    r.ue()   # seq_parameter_set_id
    chroma = 1
    frame_mbs_only = 1
    if profile in (100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135):
        chroma = r.ue()
        if chroma == 3:
            r.u(1)
        r.ue()
        r.ue()
        r.u(1)
        if r.u(1):
            for i in range(8 if chroma != 3 else 12):
                if r.u(1):
                    last = nxt = 8
                    for _ in range(16 if i < 6 else 64):
                        if nxt:
                            nxt = (last + r.se() + 256) % 256
                        last = nxt or last
    r.ue()  # log2_max_frame_num_minus4
    poc_type = r.ue()
    if poc_type == 0:
        r.ue()
    elif poc_type == 1:
        r.u(1)
        r.se()
        r.se()
        for _ in range(r.ue()):
            r.se()
    r.ue()
    r.u(1)
    w_mbs = r.ue() + 1
    h_units = r.ue() + 1
    frame_mbs_only = r.u(1)
    if not frame_mbs_only:
        r.u(1)
    r.u(1)
    width = w_mbs * 16
    height = (2 - frame_mbs_only) * h_units * 16
    if r.u(1):
        left, right, top, bottom = r.ue(), r.ue(), r.ue(), r.ue()
        if chroma == 0:
            cx, cy = 1, 2 - frame_mbs_only
        else:
            cx = 1 if chroma == 3 else 2
            cy = (2 if chroma == 1 else 1) * (2 - frame_mbs_only)
        width -= cx * (left + right)
        height -= cy * (top + bottom)
    return width, height


def avcc_record(sps, pps):
    """The codec payload the sender builds from an SPS and a PPS."""
    return (bytes([0x01, 0x64, 0xC0, 0x28, 0xFF, 0xE1]) + struct.pack(">H", len(sps)) + sps
            + b"\x01" + struct.pack(">H", len(pps)) + pps)


# --------------------------------------------------------------------------
# RAOP: RTP audio, sync and timing packets (all big-endian)

RAOP_SSRC = bytes([0x93, 0x33, 0xD3, 0x32])
RAOP_LATENCY = 4100
RAOP_USER_AGENT = "iTunes/4.6 (Macintosh; U; PPC Mac OS X 10.3)"
RAOP_DIGEST_USER = "iTunes"
RAOP_DACP_ID = "7C2F90E4A1D35B68"
RAOP_ACTIVE_REMOTE = "4072539148"
AAC_ELD_ASC = bytes([0xF8, 0xE8, 0x50, 0x00])   # ELD, 44100 Hz, 2 channels, 480 samples

SDP_AAC_ELD = ("v=0\r\no=iTunes %s 0 IN IP4 %s\r\ns=iTunes\r\nc=IN IP4 %s\r\nt=0 0\r\n"
               "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 mpeg4-generic/44100/2\r\n"
               "a=fmtp:96 mode=AAC-eld; constantDuration=480\r\na=min-latency:4100\r\n"
               "m=video 0 RTP/AVP 97\r\na=rtmap:97 H264\r\na=fmtp:97\r\n")
SDP_ALAC = ("v=0\r\no=iTunes %s 0 IN IP4 %s\r\ns=iTunes\r\nc=IN IP4 %s\r\nt=0 0\r\n"
            "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 AppleLossless\r\n"
            "a=fmtp:96 352 0 16 40 10 14 2 255 0 0 44100\r\n")


def ms_fraction_is_exact(fraction):
    """True when fraction == trunc(ms * 4294967.296) for a whole millisecond."""
    ms = int(fraction / 4294967.296)
    return any(0 <= m < 1000 and int(m * 4294967.296) == fraction for m in (ms, ms + 1))


def rtp_audio_packet(counter, frame, frames_per_packet=480):
    """The sender's RTP audio packet for this packet counter (1 for the first)."""
    return (bytes([0x80, 0xE0 if counter == 1 else 0x60]) + struct.pack(">H", counter & 0xFFFF)
            + struct.pack(">I", (counter * frames_per_packet) & 0xFFFFFFFF) + RAOP_SSRC + frame)


def raop_sync_packet(counter, ntp_seconds, ntp_fraction, frames_per_packet=480):
    now = (counter * frames_per_packet) & 0xFFFFFFFF
    return (bytes([0x80, 0xD4, 0x00, 0x04])
            + struct.pack(">IIII", (now - RAOP_LATENCY) & 0xFFFFFFFF, ntp_seconds, ntp_fraction, now))


def raop_timing_request(transmit):
    assert len(transmit) == 8
    return bytes([0x80, 0xD2, 0x00, 0x07]) + bytes(20) + transmit


def check_timing_reply(reply, transmit):
    """(problems, (seconds, fraction) or None) for a timing reply."""
    problems = []
    if len(reply) != 32:
        problems.append("timing reply is %d bytes, not 32" % len(reply))
        if len(reply) < 32:
            return problems, None
    if reply[:4] != bytes([0x80, 0xD3, 0x00, 0x07]):
        problems.append("timing reply starts %s, not 80 d3 00 07" % reply[:4].hex(" "))
    if reply[4:8] != bytes(4):
        problems.append("timing reply bytes 4-7 not zero")
    if reply[8:16] != transmit:
        problems.append("timing reply bytes 8-15 %s do not echo our transmit time %s"
                        % (reply[8:16].hex(), transmit.hex()))
    if reply[16:24] != reply[24:32]:
        problems.append("receive time %s differs from transmit time %s"
                        % (reply[16:24].hex(), reply[24:32].hex()))
    seconds, fraction = struct.unpack_from(">II", reply, 24)
    if not ms_fraction_is_exact(fraction):
        problems.append("timing fraction %d is not a whole millisecond" % fraction)
    if seconds < NTP_UNIX_EPOCH:
        problems.append("timing seconds %d before the NTP epoch offset %d" % (seconds, NTP_UNIX_EPOCH))
    return problems, (seconds, fraction)


# --------------------------------------------------------------------------
# Matroska, just enough to hand raw AAC frames and their AudioSpecificConfig
# to ffmpeg (ADTS cannot carry the ELD object type).

def _ebml_size(n):
    length = 1
    while n >= (1 << (7 * length)) - 1:
        length += 1
    return (n | (1 << (7 * length))).to_bytes(length, "big")


def _ebml(element_id, data):
    return element_id + _ebml_size(len(data)) + data


def _ebml_uint(v):
    return v.to_bytes(max(1, (v.bit_length() + 7) // 8), "big")


def matroska_audio(frames, codec_private, rate=44100, channels=2, samples_per_frame=480,
                   codec_id=b"A_AAC"):
    """A Matroska file with one audio track holding these frames back to back."""
    header = _ebml(b"\x1a\x45\xdf\xa3",
                   _ebml(b"\x42\x86", _ebml_uint(1)) + _ebml(b"\x42\xf7", _ebml_uint(1))
                   + _ebml(b"\x42\xf2", _ebml_uint(4)) + _ebml(b"\x42\xf3", _ebml_uint(8))
                   + _ebml(b"\x42\x82", b"matroska") + _ebml(b"\x42\x87", _ebml_uint(4))
                   + _ebml(b"\x42\x85", _ebml_uint(2)))
    info = _ebml(b"\x15\x49\xa9\x66", _ebml(b"\x2a\xd7\xb1", _ebml_uint(1000000))
                 + _ebml(b"\x4d\x80", b"tessarine") + _ebml(b"\x57\x41", b"tessarine"))
    audio = _ebml(b"\xe1", _ebml(b"\xb5", struct.pack(">d", float(rate)))
                  + _ebml(b"\x9f", _ebml_uint(channels)))
    track = _ebml(b"\xae", _ebml(b"\xd7", _ebml_uint(1)) + _ebml(b"\x73\xc5", _ebml_uint(1))
                  + _ebml(b"\x83", _ebml_uint(2)) + _ebml(b"\x86", codec_id)
                  + _ebml(b"\x63\xa2", codec_private) + audio)
    body = info + _ebml(b"\x16\x54\xae\x6b", track)
    i = 0
    while i < len(frames):
        t0 = i * samples_per_frame * 1000 // rate
        blocks = bytearray()
        # Block times are 16-bit offsets from the cluster's time: 30 s clusters.
        while i < len(frames) and i * samples_per_frame * 1000 // rate - t0 < 30000:
            rel = i * samples_per_frame * 1000 // rate - t0
            blocks += _ebml(b"\xa3", b"\x81" + struct.pack(">h", rel) + b"\x80" + frames[i])
            i += 1
        body += _ebml(b"\x1f\x43\xb6\x75", _ebml(b"\xe7", _ebml_uint(t0)) + bytes(blocks))
    return header + _ebml(b"\x18\x53\x80\x67", body)


# --------------------------------------------------------------------------
# Tone measurements without an FFT

def goertzel_power(samples, rate, freq):
    """Mean power of `samples` at `freq` (same scale as the mean square)."""
    n = len(samples)
    if not n:
        return 0.0
    w = 2 * math.pi * freq / rate
    coeff = 2 * math.cos(w)
    s1 = s2 = 0.0
    for x in samples:
        s0 = x + coeff * s1 - s2
        s2, s1 = s1, s0
    power = s1 * s1 + s2 * s2 - coeff * s1 * s2
    return 2 * power / (n * n)


def zero_crossing_hz(samples, rate):
    crossings = sum(1 for a, b in zip(samples, samples[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(samples) / rate) if samples else 0.0


def tone_stats(samples, rate, freq=None):
    """RMS level (dBFS for 16-bit), zero-crossing frequency, and the share of
    the power that sits at `freq` when given."""
    if not samples:
        return {"rms_dbfs": None, "zero_cross_hz": None}
    ms = sum(x * x for x in samples) / len(samples)
    rms = math.sqrt(ms)
    out = {"rms_dbfs": round(20 * math.log10(rms / 32768), 2) if rms else -200.0,
           "peak": max(abs(x) for x in samples),
           "zero_cross_hz": round(zero_crossing_hz(samples, rate), 2)}
    if freq:
        out["tone_share"] = round(goertzel_power(samples, rate, freq) / ms, 4) if ms else 0.0
    return out
