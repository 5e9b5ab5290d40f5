"""Self-tests of the RAOP test receiver against the Python RAOP stub.

Run with: python3 -m unittest discover tools/test-receiver
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import stub_raop  # noqa: E402
import wire  # noqa: E402

HAVE_FFMPEG = bool(shutil.which("ffmpeg"))
TONE_FRAMES = stub_raop.tone_frames(300, 1000.0) if HAVE_FFMPEG else None


class RaopRun:
    def __init__(self, rx_args=(), **stub_kw):
        self.out = tempfile.mkdtemp(prefix="raop-test-")
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "raop_receiver.py"), "--port", "0",
             "--out", self.out, "--timeout", "30", "--timing-interval", "0.05"] + list(rx_args),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        assert line.startswith("LISTENING "), line
        self.port = int(line.split()[1])
        stub_kw.setdefault("linger", 0.2)
        self.stub = stub_raop.StubRaop("127.0.0.1", self.port, timeout=5, **stub_kw)

    def serve(self):
        self.stub.run()
        try:
            _, self.stderr = self.proc.communicate(timeout=40)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.communicate()
            raise AssertionError("RAOP receiver did not end")
        self.rc = self.proc.returncode
        with open(os.path.join(self.out, "summary.json")) as f:
            self.summary = json.load(f)
        return self

    def violations(self):
        return "\n".join(self.summary["violations"])


class RaopTestCase(unittest.TestCase):
    def run_rx(self, rx_args=(), **kw):
        r = RaopRun(rx_args, **kw)
        self.addCleanup(shutil.rmtree, r.out, True)
        return r.serve()


class CleanSessionTest(RaopTestCase):
    def test_session_with_password_is_checked_and_counted(self):
        r = self.run_rx(["--password", "pw", "--require-timing", "--expect-volume", "-20"],
                        password="pw", frames=stub_raop.dummy_frames(200), volume_db=-20.0)
        self.assertEqual(r.rc, 0, r.stderr)
        s = r.summary
        self.assertEqual((s["outcome"], s["ended_by"]), ("streaming", "sender-close"))
        self.assertEqual(s["methods"], ["ANNOUNCE", "ANNOUNCE", "SETUP", "RECORD",
                                        "SET_PARAMETER", "SET_PARAMETER"])
        self.assertTrue(s["auth_used"])
        self.assertEqual(s["volumes"], [0.0, -20.0])
        self.assertEqual(s["rtp"]["packets"], 200)
        self.assertEqual((s["rtp"]["first_seq"], s["rtp"]["last_seq"]), (1, 200))
        # Packets 1, 92 and 183 are each preceded by a sync packet.
        self.assertEqual(s["sync"]["rtp_times"], [480, 92 * 480, 183 * 480])
        self.assertGreater(s["timing"]["answered"], 0)
        self.assertEqual(s["session_id"] % 256, 0)
        self.assertIn("a=rtmap:97 H264", s["sdp"])
        self.assertTrue(7000 <= s["client_ports"]["data"] <= 8000)

    @unittest.skipUnless(TONE_FRAMES, "needs ffmpeg and libfdk-aac")
    def test_aac_eld_tone_is_decoded_and_measured(self):
        r = self.run_rx(["--decode", "--tone", "1000", "--min-level", "-20", "--max-level", "-10"],
                        frames=TONE_FRAMES)
        self.assertEqual(r.rc, 0, r.stderr)
        d = r.summary["decode"]
        self.assertEqual(d["samples"], 300 * 480)
        for ch in d["tone"]:
            self.assertAlmostEqual(ch["zero_cross_hz"], 1000, delta=2)
            self.assertGreater(ch["tone_share"], 0.99)
        # A stated tone that is not there is a violation.
        r = self.run_rx(["--decode", "--tone", "1500"], frames=TONE_FRAMES)
        self.assertEqual(r.rc, 1)
        self.assertIn("expected 1500.0", r.violations())

    def test_encoder_config_matches_the_stated_asc(self):
        try:
            enc = stub_raop.AacEldEncoder()
        except OSError:
            self.skipTest("libfdk-aac not installed")
        self.addCleanup(enc.close)
        self.assertEqual(enc.asc, wire.AAC_ELD_ASC)


class SenderFaultTest(RaopTestCase):
    def test_faults_are_reported(self):
        cases = [
            ("seq-gap", [], "sequence gap"),
            ("ts-step", [], "RTP time"),
            ("no-sync", [], "no sync packet before audio packet"),
            ("bad-ssrc", [], "SSRC"),
            ("no-marker", [], "bytes 0-1 are 80 60, expected 80 e0"),
            ("sdp-rtmap", [], "SDP line 11 is 'a=rtpmap:97 H264'"),
            ("cseq-skip", [], "CSeq is '5'"),
            ("timing-no-echo", [], "echoes none of our requests"),
            ("timing-clock-jump", [], "sender"),
            ("volume-format", [], "is not 'volume: %f"),
            ("session-one-blank", [], "Session is 'DEADBEEF'"),
            ("wrong-password", ["--password", "pw"], "expected 'streaming'"),
        ]
        for fault, extra, text in cases:
            with self.subTest(fault=fault):
                r = self.run_rx(extra, faults=(fault,), password="pw",
                                frames=stub_raop.dummy_frames(100))
                self.assertEqual(r.rc, 1, "%s: %s" % (fault, r.stderr))
                self.assertIn(text, r.violations())


class MisbehaviourTest(RaopTestCase):
    def test_setup_replies_the_sender_must_refuse_or_accept(self):
        cases = [
            # mode, stub end, receiver outcome
            ("no-session", "setup failed", "setup"),
            ("no-transport", "setup failed", "setup"),
            ("fail-setup", "setup failed", "announced"),
            ("no-jack-status", "done", "streaming"),
            ("reply-body", "done", "streaming"),
            ("many-headers", "done", "streaming"),
            ("short-timing", "done", "streaming"),
        ]
        for mode, end, outcome in cases:
            with self.subTest(mode=mode):
                r = self.run_rx(["--misbehave", mode, "--observe", "2"],
                                frames=stub_raop.dummy_frames(20))
                self.assertEqual(r.stub.result["end"], end)
                self.assertEqual(r.summary["outcome"], outcome)
                self.assertEqual(r.rc, 0, r.stderr)
        self.assertEqual(r.summary["timing"]["answered"], 0)   # short requests unanswered

    def test_stall_and_close_modes(self):
        r = self.run_rx(["--misbehave", "stall", "--observe", "1"])
        self.assertEqual(r.stub.result["end"], "announce refused")   # no status line came
        self.assertEqual(r.summary["methods"], ["ANNOUNCE"])
        r = self.run_rx(["--misbehave", "close-mid-stream", "--close-after", "10"],
                        frames=stub_raop.dummy_frames(400))
        self.assertEqual(r.summary["rtp"]["packets"], 10)
        self.assertEqual(r.rc, 0, r.stderr)

    def test_refuse(self):
        p = subprocess.run([sys.executable, os.path.join(HERE, "raop_receiver.py"),
                            "--misbehave", "refuse"], capture_output=True, text=True, timeout=20)
        port = int(p.stdout.split()[1])
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=5)


class ProbeTest(unittest.TestCase):
    def test_probe_is_answered_before_the_session(self):
        answers = {"rtsp": b"RTSP/1.0 200", "http10": b"HTTP/1.0 200", "close": b""}
        for mode, want in answers.items():
            r = RaopRun(["--probe", mode])
            self.addCleanup(shutil.rmtree, r.out, True)
            with socket.create_connection(("127.0.0.1", r.port), timeout=5) as c:
                c.sendall(b"POST /probe-nb5 HTTP/1.1\r\nAccept: */*\r\n"
                          b"Connection: close\r\nUser-Agent: Castvane\r\n\r\n")
                got = b""
                while len(got) < 12:
                    chunk = c.recv(12 - len(got))
                    if not chunk:
                        break
                    got += chunk
            self.assertEqual(got, want, mode)
            r.serve()  # the RTSP session still follows on a connection of its own
            self.assertEqual(r.rc, 0, r.violations())
            self.assertEqual(r.summary["probes"][0]["request"], "POST /probe-nb5 HTTP/1.1")
            self.assertEqual(r.summary["outcome"], "streaming")


class DriverTest(unittest.TestCase):
    def test_raop_and_both_receivers(self):
        drive = [sys.executable, os.path.join(HERE, "run_with_receiver.py")]
        stub = [sys.executable, os.path.join(HERE, "stub_raop.py"), "--frames", "30"]
        p = subprocess.run(drive + ["--raop", "--"] + stub, capture_output=True, text=True,
                           timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        # Both receivers: the command serves the mirroring one and the RAOP one.
        both = ("import os, subprocess, sys; d = %r;"
                " a = subprocess.call([sys.executable, d + '/stub_sender.py', '--frames', '5',"
                " '--ntp-port', '0']);"
                " b = subprocess.call([sys.executable, d + '/stub_raop.py', '--frames', '30']);"
                " sys.exit(a or b)" % HERE)
        p = subprocess.run(drive + ["--no-ntp", "--with-raop", "--timing-interval 0.1", "--",
                                    sys.executable, "-c", both],
                           capture_output=True, text=True, timeout=90)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn("raop_receiver.py on port", p.stderr)


if __name__ == "__main__":
    unittest.main()
