#!/usr/bin/env python3
"""The updater library against an HTTPS feed server on loopback.

Runs inside tools/netns/netns-run (a loopback-only namespace with a private
copy of the build's Wine prefix: the test certificate is trusted there and
nowhere else). Needs a display (DISPLAY) for the updater's window.

  updater_peer_test.py --wine-run W --host EXE --peer PY --browser-dir D --shots DIR
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
HOST_VERSION = "1.0.1.10"


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Peer:
    """One appcast_peer.py process with its own certificate."""

    def __init__(self, work, name):
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir)
        self.cert = os.path.join(self.dir, "cert.pem")
        key = os.path.join(self.dir, "key.pem")
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
             "-addext", "subjectAltName=DNS:localhost", "-days", "2", "-keyout", key, "-out", self.cert])
        self.log = os.path.join(self.dir, "requests.log")
        port_file = os.path.join(self.dir, "port")
        self.process = subprocess.Popen([sys.executable, ARGS.peer, "--cert", self.cert, "--key", key,
                                         "--port-file", port_file, "--log", self.log])
        deadline = time.time() + 20
        while not os.path.exists(port_file):
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("feed server did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())

    def url(self, name, scheme="https"):
        return "%s://localhost:%d/%s" % (scheme, self.port, name)

    def requests(self):
        with open(self.log) as f:
            return [line.strip() for line in f if line.strip()]

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class Host:
    """One run of the test host; collects its output lines, answers "hold"
    with a screenshot."""

    def __init__(self, *args, shot=None, timeout=120):
        self.lines = []
        with subprocess.Popen([ARGS.wine_run, ARGS.host] + list(args), stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True) as process:
            deadline = time.time() + timeout
            for line in process.stdout:
                line = line.rstrip("\r\n")
                self.lines.append(line)
                if line == "hold":
                    if shot:
                        take_screenshot(shot)
                    process.stdin.write("\n")
                    process.stdin.flush()
                if time.time() > deadline:
                    break
            try:
                process.wait(max(1, deadline - time.time()))
            except subprocess.TimeoutExpired:
                process.kill()
                raise
            self.code = process.returncode

    def value(self, prefix):
        for line in self.lines:
            if line.startswith(prefix):
                return line[len(prefix):]
        raise AssertionError("no %r in %r" % (prefix, self.lines))

    def window(self):
        return self.value("window: ")

    def millis(self, prefix):
        return int(re.match(r"(\d+) ms", self.value(prefix)).group(1))


def take_screenshot(name):
    os.makedirs(ARGS.shots, exist_ok=True)
    path = os.path.join(ARGS.shots, name + ".png")
    subprocess.run(["import", "-window", "root", path], check=True, timeout=30)


def browser_launches():
    try:
        with open(os.path.join(ARGS.browser_dir, "unix-browser.log")) as f:
            return [l[5:].strip() for l in f if l.startswith("arg: ")]
    except FileNotFoundError:
        return []


class UpdaterAgainstPeer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tess-updater-")
        cls.trusted = Peer(cls.work, "trusted")
        cls.untrusted = Peer(cls.work, "untrusted")
        trust = Host("--trust", windows_path(cls.trusted.cert))
        assert trust.lines == ["trusted"], trust.lines
        # winebrowser hands addresses to the Linux stand-in browser.
        run([ARGS.wine_run, "reg", "add", "HKCU\\Software\\Wine\\WineBrowser", "/v", "Browsers", "/d",
             os.path.join(ARGS.browser_dir, "unix-browser.sh"), "/f"])

    @classmethod
    def tearDownClass(cls):
        cls.trusted.stop()
        cls.untrusted.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def check_ui(self, url, shot=None, extra=()):
        host = Host("--url", url, "--check-ui", "--wait-window", "40", *(["--hold"] if shot else []),
                    *extra, "--cleanup", shot=shot)
        # The call only starts the window's thread.
        self.assertLess(host.millis("with_ui returned in "), 1000)
        self.assertLess(host.millis("cleanup took "), 6000)
        return host

    def test_newer_version_offers_the_https_download(self):
        try:
            os.remove(os.path.join(ARGS.browser_dir, "unix-browser.log"))
        except FileNotFoundError:
            pass
        host = self.check_ui(self.trusted.url("newer.xml"), shot="updater-update-available",
                             extra=("--click", "download"))
        self.assertEqual("A new version of Updater Host is available. | Version 1.2.0 is available; you have "
                         "1.0.1.10.  Download opens the download page in your browser. | download=1",
                         host.window())
        self.assertEqual("window closed", host.value("click: "))
        deadline = time.time() + 20
        while not browser_launches() and time.time() < deadline:
            time.sleep(0.2)
        self.assertEqual([self.trusted.url("download/Tessarine-1.2.0.exe")], browser_launches())

    def test_same_version_is_up_to_date(self):
        host = self.check_ui(self.trusted.url("same.xml"), shot="updater-up-to-date")
        self.assertEqual("You're up to date. | Updater Host 1.0.1.10 is the newest version available. | download=0",
                         host.window())

    def test_failures_say_what_went_wrong(self):
        cases = [
            ("malformed", self.trusted.url("malformed.xml"), "The update information is not valid."),
            ("oversized", self.trusted.url("oversized.xml"), "The update information is larger than allowed."),
            ("404", self.trusted.url("missing.xml"), "The update server answered with error 404."),
            ("untrusted", self.untrusted.url("newer.xml"), "The update server's certificate is not trusted."),
            ("http enclosure", self.trusted.url("http-enclosure.xml"),
             "The new version's download address is not secure (it must start with https)."),
            ("http feed", self.trusted.url("newer.xml", scheme="http"),
             "The update feed's address is not secure (it must start with https)."),
        ]
        for name, url, reason in cases:
            with self.subTest(name):
                shot = "updater-could-not-check" if name == "untrusted" else None
                host = self.check_ui(url, shot=shot)
                self.assertEqual("Could not check for updates. | %s | download=0" % reason, host.window())
        self.assertNotIn("/http-enclosure.xml/download", self.trusted.requests())

    def test_stalled_server_times_out_and_cleanup_stays_bounded(self):
        start = time.time()
        host = Host("--url", self.trusted.url("stall.xml"), "--check-ui", "--sleep", "1", "--hold",
                    "--wait-window", "60", "--cleanup", shot="updater-checking")
        self.assertEqual("Could not check for updates. | The update server did not answer in time. | download=0",
                         host.window())
        self.assertLess(time.time() - start, 60)
        # Cleanup while the server still stalls: the window goes at once,
        # before cleanup waits (about 2 s) for the stalled check's thread.
        host = Host("--url", self.trusted.url("stall.xml"), "--check-ui", "--wait-open", "30", "--sleep", "1",
                    "--cleanup", "--wait-window", "1")
        took, gone = host.millis("cleanup took "), host.millis("window gone after ")
        print("FIGURE cleanup while stalled took %d ms; the window went after %d ms" % (took, gone))
        self.assertLess(took, 6000)
        self.assertLessEqual(gone, took - 1000, "the window stayed while the check was waited for")
        self.assertEqual("none", host.window())

    def test_automatic_checks_at_most_daily(self):
        requests = lambda: len(self.trusted.requests())
        url = self.trusted.url("newer.xml")

        # First start: the time is only recorded.
        before = requests()
        host = Host("--set-last-check", "none", "--url", url, "--automatic", "--init", "--sleep", "4",
                    "--wait-window", "1", "--print-last-check", "--cleanup")
        self.assertEqual("none", host.window())
        self.assertLess(int(host.value("last-check: ").split()[0]), 30)
        self.assertEqual(before, requests())

        # Checked an hour ago: nothing yet.
        host = Host("--set-last-check", "3600", "--url", url, "--automatic", "--init", "--sleep", "4",
                    "--wait-window", "1", "--cleanup")
        self.assertEqual("none", host.window())
        self.assertEqual(before, requests())

        # Automatic checks off: nothing even when due.
        host = Host("--set-last-check", "172800", "--url", url, "--init", "--sleep", "4", "--wait-window", "1",
                    "--cleanup")
        self.assertEqual("none", host.window())
        self.assertEqual(before, requests())

        # Two days ago: checked now, and the news is shown.
        host = Host("--set-last-check", "172800", "--url", url, "--automatic", "--init", "--wait-window", "40",
                    "--print-last-check", "--cleanup")
        self.assertTrue(host.window().startswith("A new version of Updater Host is available."), host.window())
        self.assertEqual(before + 1, requests())
        self.assertLess(int(host.value("last-check: ").split()[0]), 60)
        self.assertLess(host.millis("cleanup took "), 6000)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--peer", required=True)
    parser.add_argument("--browser-dir", required=True)
    parser.add_argument("--shots", required=True)
    ARGS, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        print("updater tests need a display (DISPLAY)", file=sys.stderr)
        sys.exit(1)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
