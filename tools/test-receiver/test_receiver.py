"""Self-tests of the mirroring test receiver against the Python sender stub.

Run with: python3 -m unittest discover tools/test-receiver
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import stub_sender  # noqa: E402
import wire  # noqa: E402

HAVE_FFMPEG = bool(shutil.which("ffmpeg") and shutil.which("ffprobe"))


class Run:
    """One receiver process served by one stub sender."""

    def __init__(self, rx_args=(), stub=None, **stub_kw):
        self.out = tempfile.mkdtemp(prefix="rx-test-")
        self.stub = stub or stub_sender.StubSender("127.0.0.1", None, fps=50,
                                                   heartbeat_interval=0.2, **stub_kw)
        args = [sys.executable, os.path.join(HERE, "receiver.py"), "--port", "0",
                "--out", self.out, "--ntp-port", str(self.stub.ntp_port),
                "--ntp-interval", "0.1", "--timeout", "30"] + list(rx_args)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
        first = self.proc.stdout.readline()
        assert first.startswith("LISTENING "), first
        self.port = int(first.split()[1])

    def serve(self):
        self.stub.port = self.port
        self.stub.run()
        return self.finish()

    def finish(self):
        try:
            _, self.stderr = self.proc.communicate(timeout=40)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.communicate()
            raise AssertionError("receiver did not end")
        self.rc = self.proc.returncode
        path = os.path.join(self.out, "summary.json")
        self.summary = None
        if os.path.exists(path):
            with open(path) as f:
                self.summary = json.load(f)
        return self

    def violations(self):
        return "\n".join(self.summary["violations"])

    def cleanup(self):
        shutil.rmtree(self.out, ignore_errors=True)


class ReceiverTestCase(unittest.TestCase):
    def run_rx(self, rx_args=(), **kw):
        r = Run(rx_args, **kw).serve()
        self.addCleanup(r.cleanup)
        return r


class CleanSessionTest(ReceiverTestCase):
    def test_clean_session_passes_and_is_counted(self):
        r = self.run_rx(["--width", "1280", "--height", "720"], width=128, height=96,
                        frames=stub_sender.synthetic_frames(128, 96, 12), linger=0.5)
        self.assertEqual(r.rc, 0, r.stderr)
        s = r.summary
        self.assertEqual(r.stub.result["screen"], (1280, 720, "150.33"))
        self.assertEqual((s["outcome"], s["ended_by"]), ("streaming", "sender-close"))
        self.assertEqual(s["packets"]["codec"], 1)
        self.assertEqual(s["packets"]["bitstream_with_data"], 12)
        self.assertEqual(s["packets"]["keyframes"], 3)
        self.assertGreaterEqual(s["packets"]["heartbeat"], 1)
        self.assertTrue(s["post"]["canonical"])
        self.assertEqual(s["post"]["sessionID"], 0x8ABCDEF0 - 2**32)
        self.assertEqual(s["handshake"]["device_id"], "0123456789AB")
        self.assertGreaterEqual(s["ntp"]["answered"], 2)
        self.assertEqual(s["ntp"]["bad"], 0)
        self.assertEqual(s["codec_packets"][0]["sps_size"], [128, 96])
        self.assertIsNotNone(s["first_frame_delay_ms"])
        log = open(os.path.join(r.out, "packets.log")).read().splitlines()
        self.assertEqual(len(log), s["packets"]["total"])
        self.assertIn("codec", log[0])
        # Annex-B output: SPS+PPS of the codec packet, then each NAL with a start code.
        h264 = open(os.path.join(r.out, "stream.h264"), "rb").read()
        self.assertTrue(h264.startswith(b"\x00\x00\x00\x01\x67"))
        self.assertEqual(h264.count(b"\x00\x00\x00\x01\x65"), 3)

    def test_packet_limit_xml_reply_and_empty_device_id(self):
        r = self.run_rx(["--packets", "4", "--reply-format", "xml"],
                        device_id="", frames=stub_sender.synthetic_frames(128, 96, 40))
        self.assertEqual(r.rc, 0, r.stderr)
        self.assertEqual(r.summary["ended_by"], "limit")
        self.assertEqual(r.summary["packets"]["bitstream"], 4)
        self.assertEqual(r.summary["post"]["deviceID"], 0)
        self.assertTrue(r.stub.result["end"].startswith("error"))   # the stub saw the close

    @unittest.skipUnless(HAVE_FFMPEG, "ffmpeg not installed")
    def test_decodes_real_h264_and_dumps_frames(self):
        frames = stub_sender.x264_frames(96, 64, 8, gop=4)
        self.assertIsNotNone(frames)
        dump = os.path.join(tempfile.mkdtemp(prefix="rx-dump-"), "frames.rgb")
        self.addCleanup(shutil.rmtree, os.path.dirname(dump), True)
        r = self.run_rx(["--decode", "--dump-frames", dump], width=96, height=64,
                        frames=frames)
        self.assertEqual(r.rc, 0, r.stderr)
        d = r.summary["decode"]
        self.assertEqual((d["frames"], d["width"], d["height"]), (8, 96, 64))
        self.assertEqual(os.path.getsize(dump), 8 * 96 * 64 * 3)
        self.assertTrue(os.path.getsize(os.path.join(r.out, "last.png")) > 0)


class DigestTest(ReceiverTestCase):
    def test_password_cases(self):
        cases = [
            # stub password, faults, receiver extra args, exit, outcome, stub end
            ("pw", (), [], 0, "streaming", "done"),
            ("pw", ("wrong-password",), ["--expect-outcome", "auth-failed"], 0,
             "auth-failed", "password refused"),
            ("pw", ("wrong-password",), [], 1, "auth-failed", "password refused"),
            (None, (), ["--expect-outcome", "challenged"], 0, "challenged", "password wanted"),
        ]
        for password, faults, extra, rc, outcome, end in cases:
            with self.subTest(password=password, faults=faults, extra=extra):
                r = self.run_rx(["--password", "pw", "--nonce", "n0nce"] + extra,
                                password=password, faults=faults)
                self.assertEqual(r.rc, rc, r.stderr)
                self.assertEqual(r.summary["outcome"], outcome)
                self.assertEqual(r.stub.result["end"], end)
                self.assertEqual(r.summary["handshake"]["challenges"],
                                 2 if "wrong-password" in faults else 1)

    def test_digest_vector(self):
        # RFC 2617 section 3.5 example, with qop dropped: computed independently.
        ha1 = wire.md5_hex("Mufasa:testrealm@host.com:Circle Of Life")
        self.assertEqual(ha1, "939e7578ed9e3c518a452acee763bce9")
        self.assertEqual(wire.digest_response("Mufasa", "testrealm@host.com", "Circle Of Life",
                                              "dcd98b7102dd2f0e8b11d0f600bfb0c093", "GET",
                                              "/dir/index.html"),
                         wire.md5_hex(ha1 + ":dcd98b7102dd2f0e8b11d0f600bfb0c093:"
                                      + wire.md5_hex("GET:/dir/index.html")))


class SenderFaultTest(ReceiverTestCase):
    """Each deviation of the sender must show up as a violation naming it."""

    def test_faults_are_reported(self):
        cases = [
            ("bad-user-agent", [], "User-Agent"),
            ("header-order", [], "GET header"),
            ("post-latency", [], "latencyMs is 91"),
            ("post-xml", [], "not a binary property list"),
            ("no-codec", [], "before any codec packet"),
            ("avcc-level", [], "avcC prefix"),
            ("codec-size", [], "bytes 16-23"),
            ("keep-start-code", [], "NAL"),
            ("bad-nal-length", [], "runs past the payload"),
            ("nonzero-tail", [], "bytes 64-127 not zero"),
            ("heartbeat-subtype", [], "bytes 6-7 are 0x0006"),
            ("future-time", [], "ahead of the sender's clock"),
            ("ntp-bad-stratum", [], "stratum byte"),
            ("ntp-no-echo", [], "echoes none of our"),
            ("ntp-clock-jump", [], "disagree with the sender clock"),
            ("close-in-payload", [], "inside the payload"),
            ("ntp-silent", ["--require-ntp"], "no NTP reply"),
        ]
        for fault, extra, text in cases:
            with self.subTest(fault=fault):
                r = self.run_rx(extra, faults=(fault,), linger=0.3)
                self.assertEqual(r.rc, 1, "%s: %s" % (fault, r.stderr))
                self.assertIn(text, r.violations())
                self.assertIn("VIOLATION: ", r.stderr)

    def test_heartbeat_cadence(self):
        # The stub beats every 0.2 s: too fast for the strict check, enough for the count.
        r = self.run_rx(["--strict-heartbeat", "--min-heartbeats", "3"], linger=1.0)
        self.assertEqual(r.rc, 1)
        self.assertIn("mean heartbeat gap", r.violations())
        r = self.run_rx(["--min-heartbeats", "50"], linger=0.3)
        self.assertIn("heartbeats, at least 50 expected", r.violations())

    def test_missing_ntp_is_only_a_count_without_require(self):
        r = self.run_rx([], faults=("ntp-silent",), linger=0.3)
        self.assertEqual(r.rc, 0, r.stderr)
        self.assertEqual(r.summary["ntp"]["answered"], 0)
        self.assertGreater(r.summary["ntp"]["sent"], 0)


class MisbehaviourTest(ReceiverTestCase):
    def run_mode(self, mode, extra=(), **kw):
        stub = stub_sender.StubSender("127.0.0.1", None, fps=50, heartbeat_interval=0.2, **kw)
        r = Run(["--misbehave", mode, "--observe", "3"] + list(extra), stub=stub)
        self.addCleanup(r.cleanup)
        return r.serve()

    def test_reply_modes_record_the_sender_closing(self):
        for mode in ("malformed-reply", "oversized-reply", "oversized-length", "no-length",
                     "lowercase-length", "plist-missing-version", "bad-realm"):
            with self.subTest(mode=mode):
                r = self.run_mode(mode, ["--expect-close-within", "5"])
                self.assertEqual(r.rc, 0, r.stderr)
                am = r.summary["after_misbehave"]
                self.assertIsNotNone(am["sender_closed_after_ms"], r.summary)
                self.assertNotEqual(r.stub.result["end"], "done")

    def test_sender_that_stays_after_misbehaviour_is_reported(self):
        # The stub keeps the connection open for 2 s after the stall.
        stub = stub_sender.StubSender("127.0.0.1", None)
        r = Run(["--misbehave", "stall", "--observe", "1", "--expect-close-within", "0.5"],
                stub=stub)
        self.addCleanup(r.cleanup)
        t = threading.Thread(target=self._hold, args=(r.port, 2.0))
        t.start()
        r.finish()
        t.join()
        self.assertEqual(r.rc, 1)
        self.assertIn("did not close within", r.violations())

    @staticmethod
    def _hold(port, seconds):
        import socket
        import time
        stub = stub_sender.StubSender("127.0.0.1", None)
        stub.udp.close()
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(stub.get_request())
        time.sleep(seconds)
        s.close()

    def test_challenge_modes_and_tiny_screen(self):
        r = self.run_mode("double-challenge", password="secret")
        self.assertEqual(r.stub.result["end"], "password refused")
        self.assertEqual(r.summary["handshake"]["challenges"], 2)
        self.assertEqual(r.rc, 0, r.stderr)
        r = self.run_mode("empty-auth-reply", password="secret")
        self.assertEqual(r.summary["handshake"]["get_requests"], 2)
        self.assertEqual(r.rc, 0, r.stderr)
        r = self.run_mode("tiny-screen")
        self.assertEqual(r.stub.result["screen"][:2], (8, 8))
        self.assertEqual(r.rc, 0, r.stderr)

    def test_close_modes(self):
        r = self.run_mode("close-after-accept")
        self.assertTrue(r.stub.result["end"].startswith("error"))
        self.assertEqual(r.summary["outcome"], "connected")
        r = self.run_mode("close-mid-stream", ["--close-after", "3"],
                          frames=stub_sender.synthetic_frames(128, 96, 30))
        self.assertEqual(r.summary["packets"]["bitstream"], 3)
        self.assertTrue(r.stub.result["end"].startswith("error"))
        self.assertEqual(r.rc, 0, r.stderr)

    def test_refuse_hands_out_a_dead_port(self):
        out = tempfile.mkdtemp(prefix="rx-test-")
        self.addCleanup(shutil.rmtree, out, True)
        p = subprocess.run([sys.executable, os.path.join(HERE, "receiver.py"), "--misbehave",
                            "refuse", "--out", out], capture_output=True, text=True, timeout=20)
        self.assertEqual(p.returncode, 0)
        port = int(p.stdout.split()[1])
        import socket
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=5)


class CliTest(unittest.TestCase):
    def test_usage_errors_exit_2(self):
        for args in (["--bogus"], ["--misbehave", "nope"], ["--dump-frames", "x"]):
            p = subprocess.run([sys.executable, os.path.join(HERE, "receiver.py")] + args,
                               capture_output=True, timeout=20)
            self.assertEqual(p.returncode, 2, args)

    def test_no_connection_ends_at_timeout_with_violation(self):
        out = tempfile.mkdtemp(prefix="rx-test-")
        self.addCleanup(shutil.rmtree, out, True)
        p = subprocess.run([sys.executable, os.path.join(HERE, "receiver.py"), "--port", "0",
                            "--out", out, "--timeout", "0.5"], capture_output=True, text=True,
                           timeout=20)
        self.assertEqual(p.returncode, 1)
        self.assertIn("stage 'no-connection'", p.stderr)


class DriverTest(unittest.TestCase):
    def drive(self, args, timeout=60):
        return subprocess.run([sys.executable, os.path.join(HERE, "run_with_receiver.py")] + args,
                              capture_output=True, text=True, timeout=timeout)

    def stub_cmd(self, *extra):
        return [sys.executable, os.path.join(HERE, "stub_sender.py"), "--frames", "5",
                "--ntp-port", "0"] + list(extra)

    def test_driver_outcomes(self):
        cases = [
            # driver + receiver args, command, expected exit
            (["--no-ntp"], self.stub_cmd(), 0),
            (["--no-ntp", "--expect-violations"], self.stub_cmd("--fault", "no-codec"), 0),
            (["--no-ntp"], self.stub_cmd("--fault", "no-codec"), 1),
            (["--no-ntp", "--grace", "1"], [sys.executable, "-c", "pass"], 1),
            (["--no-ntp", "--grace", "1"], [sys.executable, "-c", "import sys; sys.exit(3)"], 1),
        ]
        for args, cmd, rc in cases:
            with self.subTest(args=args, cmd=cmd[-1]):
                p = self.drive(args + ["--"] + cmd)
                self.assertEqual(p.returncode, rc, p.stderr)


class WireTest(unittest.TestCase):
    def test_sps_size_with_cropping(self):
        for w, h in ((1920, 1080), (128, 96), (1726, 1080), (8, 8)):
            self.assertEqual(wire.sps_size(stub_sender.make_sps(w, h)), (w, h))

    def test_ntp_fraction_exactness(self):
        for us in (0, 1, 250000, 999999):
            self.assertTrue(wire.fraction_is_microsecond_exact(wire.ntp_from_us(us)[1]))
        # Milliseconds times 4294967 (a common shortcut) is not microsecond-exact.
        self.assertFalse(wire.fraction_is_microsecond_exact(250 * 4294967 + 7))

    def test_length_prefixed_walk(self):
        good = struct.pack(">I", 3) + b"\x65\x01\x02" + struct.pack(">I", 2) + b"\x41\x09"
        self.assertEqual(wire.walk_length_prefixed(good), ([b"\x65\x01\x02", b"\x41\x09"], []))
        bad = {
            "runs past": struct.pack(">I", 9) + b"\x65\x01",
            "stray": good + b"\x00\x01",
            "forbidden bit": struct.pack(">I", 2) + b"\xe5\x01",
            "start code left": struct.pack(">I", 8) + b"\x41\x01\x00\x00\x00\x01\x65\x02",
            "length 0": struct.pack(">I", 0) + good,
        }
        for text, data in bad.items():
            with self.subTest(text=text):
                self.assertIn(text, " ".join(wire.walk_length_prefixed(data)[1]))

    def test_header_geometry_rules(self):
        ok = wire.build_stream_header(wire.TYPE_CODEC, 40, 5, (1280.0, 1024.0, 0.0, -228.0,
                                                               1920.0, 1536.0))
        self.assertEqual(wire.check_stream_header(wire.StreamHeader(ok), (1920, 1080)), [])
        off = wire.build_stream_header(wire.TYPE_BITSTREAM, 40, 5, (1280.0, 720.0, 10.0, 0.0,
                                                                    1280.0, 720.0))
        self.assertIn("do not centre",
                      " ".join(wire.check_stream_header(wire.StreamHeader(off), (1920, 1080))))


if __name__ == "__main__":
    unittest.main()
