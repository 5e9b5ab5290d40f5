#!/usr/bin/env python3
"""End-to-end cases of Tessarine.exe's first-run wizard, proxy dialog and
region picker, each inside its own loopback-only namespace
(tools/netns/netns-run --prefix-from BUILD) on a virtual screen of its own,
driven as a person would: xdotool moves, clicks, drags, types and presses
keys on the program's windows.

    wizard_case.py --build BUILD_DIR --out OUT_DIR CASE

The cases that watch the backend run inside tools/backend-peer/run_peers.py
(TESS_PEER_CONTROL), which also trusts its test CA in the prefix. The
harness (virtual screen, tessctl, log, screenshots, the test receivers) is
the program cases' own. Exit 0 when every check held.
"""
import json
import os
import re
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "program"))
import program_case as pc  # noqa: E402

PRODUCT_KEY = "HKCU\\Software\\Orvanta\\Tessarine Sender"

# The wizard's page buttons, in its client (= window) coordinates: pages
# sit at (1, 40); Next and Accept at (315, 422), Cancel and Decline at
# (485, 422), 150 x 40 each.
NEXT = ACCEPT = (1 + 315 + 75, 40 + 422 + 20)
CANCEL = DECLINE = (1 + 485 + 75, 40 + 422 + 20)
LICENCE_TEXT = (200, 250)

# The proxy dialog, in its window coordinates: the form lies at (10, 60);
# its controls where template 120 puts them at 96 DPI.
PROXY_NONE = (10 + 21, 60 + 47)
PROXY_MANUAL = (10 + 261, 60 + 47)
PROXY_SERVER = (10 + 211, 60 + 80)
PROXY_PORT = (10 + 365, 60 + 80)
PROXY_USER = (10 + 211, 60 + 111)
PROXY_PASSWORD = (10 + 211, 60 + 142)
PROXY_OK = (265 + 42, 340 + 17)
PROXY_CANCEL = (365 + 42, 340 + 17)

IDC_SELECT_AREA = "1014"
IDC_PROXY = "1033"


class WizardCase(pc.Case):
    """The program cases' harness, with each tessctl call's output in a file
    of its own (a program that "launch" starts keeps writing into it)."""

    calls = 0

    def ctl(self, *args, timeout=60):
        WizardCase.calls += 1
        path = os.path.join(self.out, ".tessctl-%03d.txt" % WizardCase.calls)
        with open(path, "w") as f:
            r = subprocess.run([self.wine_run, os.path.join(self.bin, "tessctl.exe")] + list(args),
                               stdout=f, stderr=subprocess.STDOUT, timeout=timeout)
        with open(path, encoding="utf-8", errors="replace") as f:
            out = f.read().strip()
        print("tessctl %s -> %d: %s" % (" ".join(args), r.returncode, out))
        return r.returncode, out

    # --- xdotool ------------------------------------------------------------
    def xdo(self, *args):
        """xdotool's output; empty when it did not answer within 15 s (a
        busy shared machine can hold the X server up while Wine starts)."""
        try:
            r = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True, timeout=15)
        except subprocess.TimeoutExpired:
            print("xdotool %s: no answer within 15 s" % " ".join(str(a) for a in args))
            return ""
        return r.stdout.strip()

    def find_window(self, name, seconds=30):
        """(x, y, w, h) of the visible X window titled exactly `name`, or None."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            for wid in self.xdo("search", "--onlyvisible", "--name", "^%s$" % re.escape(name)).split():
                geo = self.xdo("getwindowgeometry", wid)
                m = re.search(r"Position: (-?\d+),(-?\d+).*Geometry: (\d+)x(\d+)", geo, re.S)
                if m:
                    return tuple(int(v) for v in m.groups())
            time.sleep(0.2)
        return None

    def gone(self, name, seconds=10):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if not self.xdo("search", "--onlyvisible", "--name", "^%s$" % re.escape(name)):
                return True
            time.sleep(0.2)
        return False

    def click(self, at, point):
        self.xdo("mousemove", at[0] + point[0], at[1] + point[1])
        time.sleep(0.2)
        self.xdo("click", "1")
        time.sleep(0.4)

    def type_into(self, at, point, text):
        self.click(at, point)
        self.xdo("key", "End", "shift+Home", "BackSpace")
        self.xdo("type", "--delay", "30", text)
        time.sleep(0.2)

    # --- the backend peer ---------------------------------------------------
    def peer(self, command):
        with socket.create_connection(("127.0.0.1", int(os.environ["TESS_PEER_CONTROL"])), 10) as s:
            s.sendall((json.dumps(command) + "\n").encode())
            return json.loads(s.makefile().readline())

    def backend_requests(self):
        return self.peer({"cmd": "log"})["requests"]

    def proxy_log(self, which):
        return self.peer({"cmd": "proxy-log", "which": which})["requests"]

    def wait_requests(self, pred, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            seen = self.backend_requests()
            if pred(seen):
                return seen
            time.sleep(0.3)
        return self.backend_requests()

    def config_ini(self):
        try:
            with open(self.common_data("config.ini"), encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def reg_values(self, key):
        """Name -> data of the key's values (empty data kept empty)."""
        path = os.path.join(self.out, ".reg.txt")
        with open(path, "w") as f:
            subprocess.run([self.wine_run, "reg", "query", key], stdout=f, stderr=subprocess.STDOUT, timeout=60)
        values = {}
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = re.match(r"^\s+(\S+)\s+REG_\w+[ \t]*(.*?)\s*$", line)
                if m:
                    values[m.group(1)] = m.group(2)
        return values

    def start_program(self):
        return self.background([self.wine_run, os.path.join(self.bin, "Tessarine.exe")], "program.log")


def ops(requests):
    return [r.get("op") for r in requests]


# --- the first-run wizard -----------------------------------------------------

def open_wizard(c):
    """Starts the program on a first run; the wizard's rectangle."""
    c.program_proc = c.start_program()
    # The wizard comes once the program has started its log.
    deadline = time.time() + 60
    while "*************** Start Nb5Sender.exe" not in c.log() and time.time() < deadline:
        time.sleep(0.3)
    at = c.find_window("Tessarine", 60)
    c.check(at is not None, "no first-run wizard showed")
    if at:
        print("wizard at %d,%d %dx%d" % at)
        c.check(at[2:] == (646, 515), "the wizard is %dx%d, not the picture's 645 x 514 plus one" % at[2:])
    time.sleep(1)
    return at


def case_first_run_accept(c):
    """A first start shows the wizard before anything is sent; Next shows
    the licence, the wheel scrolls it, Accept writes the first run as done
    and only then does the backend hear from the program."""
    at = open_wizard(c)
    if not at:
        return
    c.shot("wizard-1-welcome")
    c.check(c.backend_requests() == [] and c.proxy_log("env") == [],
            "the backend was reached before the licence was accepted: %s" % ops(c.backend_requests()))
    c.check("done=1" not in c.config_ini(), "the first run was written as done before the wizard")
    c.click(at, NEXT)
    c.shot("wizard-2-licence")
    c.xdo("mousemove", at[0] + LICENCE_TEXT[0], at[1] + LICENCE_TEXT[1])
    for _ in range(3):
        c.xdo("click", "5")
        time.sleep(0.2)
    time.sleep(0.5)
    c.shot("wizard-3-licence-scrolled")
    c.check(c.backend_requests() == [], "the backend was reached while the licence showed")
    c.click(at, ACCEPT)
    c.check(c.gone("Tessarine"), "the wizard stayed after Accept")
    rc, out = c.ctl("wait-main", "20000")
    c.check(rc == 0, "no main window after Accept: %s" % out)
    seen = c.wait_requests(lambda s: 0 in ops(s))
    print("backend requests after Accept: %s" % ops(seen))
    c.check(0 in ops(seen), "no device registration after Accept")
    c.check(re.search(r"\[OOBE\]\s*done=1", c.config_ini()) is not None,
            "config.ini does not say the first run is done: %r" % c.config_ini())
    log = c.log()
    c.check("OOBE abort." not in log, "an accepted wizard was logged as aborted")
    c.exit_by_event()
    # The next start goes straight to the main window.
    before = len(c.log())
    c.launch()
    c.check(c.find_window("Tessarine", 2) is None, "the wizard showed again on the second start")
    c.check("[UI]main window" in c.log()[before:], "the second start did not reach its main window")
    c.exit_by_event()


def case_first_run_decline(c):
    """Decline on the licence page ends the program with "OOBE abort.", the
    first run not written as done, and nothing sent to the backend."""
    at = open_wizard(c)
    if not at:
        return
    c.click(at, NEXT)
    c.shot("wizard-decline-licence")
    c.click(at, DECLINE)
    try:
        code = c.program_proc.wait(30)
    except subprocess.TimeoutExpired:
        code = None
    c.check(code == 0, "the program did not quit after Decline (exit %s)" % code)
    log = c.log()
    c.check("OOBE abort." in log, "no \"OOBE abort.\" in the log")
    c.check("[UI]main window" not in log, "the main window was made after Decline")
    time.sleep(1)
    c.check(c.backend_requests() == [] and c.proxy_log("env") == [] and c.proxy_log("named") == [],
            "the backend was reached after Decline: %s" % ops(c.backend_requests()))
    c.check("done=1" not in c.config_ini(), "a declined first run was written as done")


def case_setup_iss(c):
    """An installer's setup.iss counts as the first run's answer: no wizard,
    the main window at once, the first run written as done, the file gone."""
    iss = c.common_data("setup.iss")
    os.makedirs(os.path.dirname(iss), exist_ok=True)
    with open(iss, "wb") as f:
        f.write(b"\xff\xfe" + "[Nb5]\r\nNb5_AllowScreenSaver=0\r\n".encode("utf-16-le"))
    c.launch()
    c.check(c.find_window("Tessarine", 2) is None, "the wizard showed despite setup.iss")
    log = c.log()
    c.check("find init setting from installer." in log and "== apply Nb5 initialize setting." in log,
            "setup.iss was not applied")
    c.check(not os.path.exists(iss), "setup.iss is still there")
    c.check(re.search(r"\[OOBE\]\s*done=1", c.config_ini()) is not None,
            "config.ini does not say the first run is done: %r" % c.config_ini())
    c.exit_by_event()


# --- the proxy dialog ------------------------------------------------------------

def open_proxy(c):
    c.ctl("command", IDC_PROXY)
    at = c.find_window("Proxy settings", 15)
    c.check(at is not None, "the Proxy button opened no dialog")
    if at:
        print("proxy dialog at %d,%d %dx%d" % at)
        time.sleep(0.8)
    return at


def binary_int(values, name):
    try:
        data = bytes.fromhex(values.get(name, ""))
    except ValueError:
        return None
    return struct.unpack("<i", data)[0] if len(data) == 4 else None


def case_proxy(c):
    """The Proxy button's dialog: a manual proxy typed in and saved with OK
    lands in the product key; Cancel leaves it; the next backend request
    goes through the saved proxy."""
    # From no stored proxy: the start's registration goes the default way.
    subprocess.run([c.wine_run, "reg", "delete", PRODUCT_KEY, "/f"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    c.launch()
    seen = c.wait_requests(lambda s: 0 in ops(s))
    c.check(0 in ops(seen), "no device registration at the start")
    named = os.environ["TESS_NAMED_PROXY"]
    port = named.rsplit(":", 1)[1]

    at = open_proxy(c)
    if not at:
        return
    c.shot("proxy-1-open")
    c.click(at, PROXY_MANUAL)
    c.type_into(at, PROXY_SERVER, "  127.0.0.1 ")
    c.type_into(at, PROXY_PORT, "70000")
    c.type_into(at, PROXY_USER, "carol")
    c.type_into(at, PROXY_PASSWORD, "s3cret")
    c.click(at, PROXY_OK)
    c.shot("proxy-2-invalid-port")
    c.check(c.find_window("Proxy settings", 1) is not None, "OK closed the dialog over an invalid port")
    values = c.reg_values(PRODUCT_KEY)
    c.check(binary_int(values, "ProxyMode") in (None, 0), "an invalid port was saved: %s" % values)
    c.type_into(at, PROXY_PORT, port)
    c.shot("proxy-3-filled")
    c.click(at, PROXY_OK)
    c.check(c.gone("Proxy settings"), "OK did not close the dialog")
    values = c.reg_values(PRODUCT_KEY)
    print("product key after OK: %s" % {k: v for k, v in values.items() if k.startswith("Proxy")})
    c.check(binary_int(values, "ProxyMode") == 2 and values.get("ProxyAddr") == "127.0.0.1" and
            binary_int(values, "ProxyPort") == int(port) and values.get("ProxyUser") == "carol",
            "OK did not save the manual proxy: %s" % values)

    # Cancel keeps what is stored, whatever the form showed.
    at = open_proxy(c)
    if not at:
        return
    c.shot("proxy-4-reopened")
    c.click(at, PROXY_NONE)
    c.click(at, PROXY_CANCEL)
    c.check(c.gone("Proxy settings"), "Cancel did not close the dialog")
    after = c.reg_values(PRODUCT_KEY)
    c.check(all(after.get(k) == values.get(k) for k in ("ProxyMode", "ProxyAddr", "ProxyPort", "ProxyUser")),
            "Cancel changed the stored proxy: %s" % after)

    # The next backend request: a connection-ID lookup, through the named proxy.
    env_before = len(c.proxy_log("env"))
    named_before = len(c.proxy_log("named"))
    c.ctl("token", "424242")
    seen = c.wait_requests(lambda s: 14 in ops(s))
    c.check(14 in ops(seen), "the typed connection ID was not looked up: %s" % ops(seen))
    via_named = c.proxy_log("named")[named_before:]
    via_env = c.proxy_log("env")[env_before:]
    print("through the saved proxy: %s; through the default one: %s" % (
        [(r["method"], r["target"]) for r in via_named], [(r["method"], r["target"]) for r in via_env]))
    c.check(any(r["method"] == "CONNECT" for r in via_named), "the lookup did not go through the saved proxy")
    c.check(not via_env, "the lookup went through the default proxy")
    c.ctl("box-ok")
    c.exit_by_event()


# --- the region picker ----------------------------------------------------------

def show_picker(c):
    c.ctl("command", IDC_SELECT_AREA)
    time.sleep(1.5)


def drag(c, start, end, release=True):
    c.xdo("mousemove", *start)
    time.sleep(0.2)
    c.xdo("mousedown", "1")
    steps = 8
    for i in range(1, steps + 1):
        c.xdo("mousemove", start[0] + (end[0] - start[0]) * i // steps, start[1] + (end[1] - start[1]) * i // steps)
        time.sleep(0.05)
    if release:
        c.xdo("mouseup", "1")
        time.sleep(0.8)


def codec_sizes(c):
    try:
        summary = json.load(open(os.path.join(c.out, "receiver", "summary.json")))
    except (OSError, ValueError):
        return None, {}
    return [tuple(p.get("size") or ()) for p in summary.get("codec_packets", [])], summary


def last_picture(c, png):
    """The last picture of the received stream at its own size: decoded from
    the stream's last parameter set on (ffmpeg scales every picture of one
    run to the first one's size)."""
    try:
        data = open(os.path.join(c.out, "receiver", "stream.h264"), "rb").read()
    except OSError:
        return False
    starts = [m.start() for m in re.finditer(b"\x00\x00\x01", data)
              if m.start() + 3 < len(data) and data[m.start() + 3] & 0x1F == 7]
    if not starts:
        return False
    tail = os.path.join(c.out, "receiver", "tail.h264")
    with open(tail, "wb") as f:
        f.write(data[starts[-1]:])
    r = subprocess.run(["ffmpeg", "-hide_banner", "-v", "error", "-i", tail, "-update", "1", "-y", png],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    return r.returncode == 0 and os.path.exists(png)


def case_region(c):
    """During a session the area button shows the picker over the screen; a
    click, a flat drag and Escape change nothing; a drag from bottom right to
    top left makes the receiver's pictures the screen's crop."""
    seconds = 10
    rx, raop = pc.start_receivers(c, "127.0.0.2", seconds + 20)
    c.launch()
    pc.connect_typed(c, "127.0.0.2")
    rc, out = c.ctl("wait-status", "Mirror to 127.0.0.2", "20000")
    c.check(rc == 0, "the session did not start: %s" % out)
    # The still pattern covers the whole screen and stays on top, so it comes
    # only after the row click that a person makes on the session window.
    c.background([c.wine_run, os.path.join(c.bin, "test-pattern.exe"), "--seconds", str(seconds + 150),
                  "--still", "--rect", "0,0,1280,720"], "test-pattern.log")
    time.sleep(3)

    # A click, a flat drag and Escape in the middle of a drag: the picker
    # goes away and the session keeps the whole screen.
    show_picker(c)
    c.xdo("mousemove", 640, 360)
    time.sleep(0.5)
    c.shot("region-1-picker")
    c.xdo("click", "1")
    time.sleep(0.8)
    show_picker(c)
    drag(c, (200, 300), (900, 301))
    show_picker(c)
    drag(c, (300, 200), (700, 500), release=False)
    c.shot("region-2-dragging")
    c.xdo("key", "Escape")
    c.xdo("mouseup", "1")
    time.sleep(0.8)
    c.shot("region-3-after-escape")
    time.sleep(2)

    # The real selection, dragged from bottom right to top left: 600 x 350.
    show_picker(c)
    drag(c, (901, 501), (300, 150))
    time.sleep(seconds / 2)
    c.shot("region-4-screen")
    time.sleep(1)
    rc, out = c.ctl("send-command", "32779")  # ID_STOP_MIRRORING
    c.check(rc == 0, "the stop was not answered: %s" % out)
    for p in (rx, raop):
        try:
            p.wait(30)
        except subprocess.TimeoutExpired:
            p.terminate()
            p.wait(20)
    sizes, summary = codec_sizes(c)
    print("codec packet sizes: %s" % sizes)
    c.check(sizes and sizes[0] == (1280, 720) and sizes[-1] == (600, 350) and
            all(s in ((1280, 720), (600, 350)) for s in sizes),
            "the session's sizes were not the whole screen, then 600 x 350: %s" % sizes)
    c.check((summary.get("decode") or {}).get("frames", 0) > 0, "no picture decoded")
    received = os.path.join(c.out, "region-6-received.png")
    crop = os.path.join(c.out, "region-5-screen-crop.png")
    if last_picture(c, received):
        subprocess.run(["convert", os.path.join(c.out, "region-4-screen.png"), "-crop", "600x350+300+150",
                        "+repage", crop], check=False, timeout=60)
        value = pc.psnr(received, crop)
        print("FIGURE last received picture against the screen's crop: PSNR %s dB" % value)
        c.check(value is not None and (value == "inf" or float(value) >= 30.0),
                "the received picture is not the screen's crop (PSNR %s)" % value)
    else:
        c.check(False, "no received picture")
    c.exit_by_event()


def main():
    def prepare(c, case):
        c.first_run = case in ("first_run_accept", "first_run_decline", "setup_iss")
    return pc.run_main(WizardCase, globals(), prepare)


if __name__ == "__main__":
    sys.exit(main())
