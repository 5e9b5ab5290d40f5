#!/usr/bin/env python3
"""End-to-end cases of Tessarine.exe, each run inside its own loopback-only
network namespace (tools/netns/netns-run with the build's prefix) on a
virtual screen of its own.

    program_case.py --build BUILD_DIR --out OUT_DIR CASE

The program is driven from outside by tools/tessctl (posted commands, the
exit event, window texts) and looked at with screenshots (OUT_DIR/*.png).
The program's log is copied to OUT_DIR/Nb5TX_LOG.txt. Lines "FIGURE ..."
report timings. Exit 0 when every check held.
"""
import argparse
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


class Case:
    def __init__(self, build, out):
        self.build = build
        self.out = out
        self.bin = os.path.join(build, "bin")
        self.wine_run = os.path.join(build, "wine-run")
        self.failures = []
        self.procs = []
        self.display = None
        # False: the case starts past the first run (the licence accepted).
        self.first_run = False

    # --- environment ------------------------------------------------------
    def start_display(self):
        # Xvfb picks a free display number itself (-displayfd): cases that
        # run side by side never share a screen.
        r, w = os.pipe()
        p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x720x24", "-nolisten", "tcp"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(w,))
        os.close(w)
        self.procs.append(p)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip():
            raise SystemExit("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        os.environ["DISPLAY"] = self.display

    def unmanaged_windows(self):
        """The virtual screen runs no window manager: Wine then draws the
        windows' frames and captions itself, and places them where the
        program says, as a Windows desktop would."""
        subprocess.run([self.wine_run, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        # Wine's own processes (the tray's among them) read it when they
        # start: with the setting in place before them, removing the tray
        # icon no longer waits 2 s for a window manager that never answers.
        subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run(["wineserver", "-w"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        if not self.first_run:
            self.first_run_done()

    def common_data(self, *names):
        """A path under C:\\ProgramData\\Tessarine of the case's prefix."""
        return os.path.join(os.environ["WINEPREFIX"], "drive_c", "ProgramData", "Tessarine", *names)

    def first_run_done(self):
        """config.ini as an accepted first-run wizard leaves it, so that the
        program goes straight to its main window. No signature file: the
        start-up check only logs that."""
        os.makedirs(self.common_data(), exist_ok=True)
        with open(self.common_data("config.ini"), "w", newline="\r\n") as f:
            f.write("[OOBE]\ndone=1\n")

    def close(self):
        self.copy_log()
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()

    def win(self, path):
        return "Z:" + path.replace("/", "\\")

    @property
    def exe(self):
        return self.win(os.path.join(self.bin, "Tessarine.exe"))

    # --- driving ----------------------------------------------------------
    def ctl(self, *args, timeout=60):
        # Output through a file, not a pipe: the program it launches (and
        # Wine's own processes) inherit the handle and would hold a pipe open.
        path = os.path.join(self.out, ".tessctl.txt")
        with open(path, "w") as f:
            r = subprocess.run([self.wine_run, os.path.join(self.bin, "tessctl.exe")] + list(args),
                               stdout=f, stderr=subprocess.STDOUT, timeout=timeout)
        out = open(path, encoding="utf-8", errors="replace").read().strip()
        print("tessctl %s -> %d: %s" % (" ".join(args), r.returncode, out))
        return r.returncode, out

    def program(self, *args, timeout=60):
        """Runs Tessarine.exe to its end (a start that quits); (exit code, seconds)."""
        t0 = time.time()
        r = subprocess.run([self.wine_run, os.path.join(self.bin, "Tessarine.exe")] + list(args),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
        print("Tessarine.exe %s -> exit %d after %.1f s" % (" ".join(args), r.returncode, time.time() - t0))
        return r.returncode

    def launch(self, *args):
        rc, out = self.ctl("launch", self.exe, *args)
        self.check(rc == 0, "the program did not open its main window: %s" % out)
        m = re.search(r"main window after (\d+) ms", out)
        if m:
            print("FIGURE start to hidden main window: %s ms" % m.group(1))
        self.check("visible 0" in out, "the main window was visible at start")

    def background(self, args, log):
        p = subprocess.Popen(args, stdout=open(os.path.join(self.out, log), "w"), stderr=subprocess.STDOUT)
        self.procs.append(p)
        return p

    def shot(self, name):
        path = os.path.join(self.out, name + ".png")
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        print("screenshot %s" % path)

    def log_path(self):
        found = glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c/users/*/AppData/Roaming/Tessarine/Nb5TX_LOG.txt"))
        return found[0] if found else None

    def log(self):
        p = self.log_path()
        return open(p, encoding="utf-8", errors="replace").read() if p else ""

    def copy_log(self):
        p = self.log_path()
        if p:
            shutil.copy(p, os.path.join(self.out, "Nb5TX_LOG.txt"))

    def check(self, ok, what):
        if not ok:
            print("CHECK FAILED: " + what, file=sys.stderr)
            self.failures.append(what)
        return ok

    def reg_values(self, key):
        path = os.path.join(self.out, ".reg.txt")
        with open(path, "w") as f:
            subprocess.run([self.wine_run, "reg", "query", key], stdout=f, stderr=subprocess.STDOUT, timeout=60)
        text = open(path, encoding="utf-8", errors="replace").read()
        return {m.group(1): m.group(2) for m in re.finditer(r"^\s+(\S+)\s+REG_\w+\s+(\S*)", text, re.M)}

    def visible(self):
        rc, out = self.ctl("main")
        return rc == 0 and "visible 1" in out

    def exit_by_event(self):
        """Sets the exit event from a third process; checks the exit and the teardown order."""
        rc, out = self.ctl("exit-event")
        m = re.search(r"exited with (\d+) after (\d+) ms", out)
        self.check(rc == 0 and m and m.group(1) == "0", "the exit event did not end the program with 0: %s" % out)
        if m:
            print("FIGURE exit event to exit: %s ms" % m.group(2))
            # The watcher wakes at once; the teardown's bounded waits
            # (discovery's stop polls once a second) make up the rest.
            self.check(int(m.group(2)) < 5000, "the exit took %s ms" % m.group(2))
        self.check_teardown()

    def check_teardown(self):
        lines = self.log().splitlines()

        def index(text):
            for i, l in enumerate(lines):
                if text in l:
                    return i
            return -1
        order = ["get exit event... start to quit", "[UI]main window teardown",
                 "[UI]main window teardown done"]
        at = [index(t) for t in order]
        self.check(all(i >= 0 for i in at) and at == sorted(at) and len(set(at)) == 3,
                   "teardown lines missing or out of order: %s" % list(zip(order, at)))


# --- cases -------------------------------------------------------------------

def case_hidden_until_asked(c):
    """Hidden before the preferences command (also when started with "-X",
    which is no switch); Enter and Escape do nothing, hidden or shown; the
    preferences command toggles; the exit event ends it."""
    # The prefix is the build's: start from no stored tuning values.
    subprocess.run([c.wine_run, "reg", "delete", "HKCU\\Software\\Orvanta\\Tessarine Sender", "/f"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    c.launch("-X")
    time.sleep(1)
    c.check(not c.visible(), "visible before the preferences command")
    for key in ("return", "escape"):
        c.ctl("key", key)
    time.sleep(1)
    c.check(c.ctl("main")[0] == 0, "Enter/Escape ended the hidden program")
    c.check(not c.visible(), "Enter/Escape showed the window")
    c.ctl("post", "0x113", "9", "0")  # WM_TIMER with an id the window never set
    time.sleep(0.5)
    c.check("[UI]unknown timer id: 9" in c.log(), "an unknown timer was not logged")
    c.ctl("command", "32789")  # ID_PREFERENCES
    time.sleep(1.5)
    c.check(c.visible(), "the preferences command did not show the window")
    c.shot("preferences")
    for key in ("return", "escape"):
        c.ctl("key", key)
    time.sleep(1)
    c.check(c.ctl("main")[0] == 0 and c.visible(), "Enter/Escape closed the shown panel")
    c.ctl("command", "32789")
    time.sleep(1.5)
    c.check(not c.visible(), "the second preferences command did not hide the window")
    # Hiding the panel by the command writes the six tuning values.
    values = c.reg_values("HKCU\\Software\\Orvanta\\Tessarine Sender")
    for name in ("txFps", "txQuailty", "txVolume", "txCursor", "txScale", "txDDI"):
        c.check(name in values, "%s was not written when the panel was hidden: %s" % (name, sorted(values)))
    # One about box at a time: a second request brings the open one forward.
    c.ctl("command", "57664")
    c.ctl("box", "10000")
    c.ctl("command", "57664")
    time.sleep(1)
    rc, out = c.ctl("boxes")
    c.check(out.strip() == "1", "two about requests opened %s boxes" % out)
    c.ctl("box-ok")
    time.sleep(0.5)
    rc, out = c.ctl("boxes")
    c.check(out.strip() == "0", "the about box did not close")
    c.exit_by_event()


def case_second_start(c):
    """A second start hands over to the first and quits; the first shows its
    session window, also again after it was closed; "-x" ends the first."""
    c.launch()
    rc = c.program()
    c.check(rc == 0, "the second start exited with %d" % rc)
    rc, out = c.ctl("session", "15000")
    c.check(rc == 0, "the first instance did not show its session window: %s" % out)
    m = re.search(r"at (-?\d+),(-?\d+) (\d+)x(\d+)", out)
    if m:
        x, y, w, h = map(int, m.groups())
        c.check(abs(x - (1280 - w) // 2) <= 1 and abs(y - (720 - h) // 2) <= 1,
                "session window not centred: %s" % out)
    c.shot("session-window")
    log = c.log()
    c.check("[Win]try to invoke previous Nb5 process' setting dialog." in log and
            "[Win]Quite Nb5Sender.exe due to another instance already running on this windows session" in log,
            "the second start's lines are missing")
    # Closing only hides it; the next start shows it again.
    c.ctl("close-session")
    time.sleep(0.5)
    rc, out = c.ctl("session", "0")
    c.check(rc != 0, "closing the session window did not hide it: %s" % out)
    rc = c.program()
    rc2, out = c.ctl("session", "15000")
    c.check(rc == 0 and rc2 == 0, "a third start did not show the session window again: %s" % out)
    # "-x" ends the running instance, and the "-x" start itself quits before
    # the single-instance step.
    rc, out = c.ctl("start-and-wait", c.exe, "-x")
    m = re.search(r"started program exited with (\d+); running program exited with (\d+) after (\d+) ms", out)
    c.check(m and m.group(1) == "0" and m.group(2) == "0", "\"-x\" did not end the first instance with 0: %s" % out)
    if m:
        print("FIGURE \"-x\" start to exit of the running program: %s ms" % m.group(3))
    c.check_teardown()
    log = c.log()
    tail = log[log.rfind("OneTimeCommand: Quit mainwin."):]
    c.check("*** Quite Nb5Sender.exe due to One time cmd ***" in tail and "Quite Nb5Sender.exe due to another" not in tail,
            "\"-x\" did not quit as a one-shot command before the single-instance step")


def start_receivers(c, host, seconds):
    """The project's mirroring receiver on host:7100 and its RAOP receiver on
    host:47000 (the program's fixed ports), both decoding what they get."""
    rx_dir = os.path.join(ROOT, "tools", "test-receiver")
    rx = c.background([sys.executable, os.path.join(rx_dir, "receiver.py"), "--host", host, "--port", "7100",
                       "--out", os.path.join(c.out, "receiver"), "--width", "1280", "--height", "720",
                       "--decode", "--require-ntp", "--timeout", str(seconds + 120)], "receiver.log")
    raop = c.background([sys.executable, os.path.join(rx_dir, "raop_receiver.py"), "--host", host,
                         "--port", "47000", "--out", os.path.join(c.out, "raop"),
                         "--timeout", str(seconds + 120)], "raop-receiver.log")
    for _ in range(100):
        if all("LISTENING" in open(os.path.join(c.out, n)).read() for n in ("receiver.log", "raop-receiver.log")):
            return rx, raop
        time.sleep(0.1)
    c.check(False, "the receivers did not start")
    return rx, raop


def connect_typed(c, text, row=0, rows=1):
    """Types an address as the session panel does, opens the session window
    (a left click on the tray icon) and clicks the receiver's row, which the
    list shows within one publication (5 s)."""
    c.ctl("token", text)
    c.ctl("post", "0x7F4", "132", "0x202")  # WM_TRAY_NOTIFY, icon 132, WM_LBUTTONUP
    rc, out = c.ctl("wait-rows", str(rows), "15000")
    c.check(rc == 0 and text in out, "the typed receiver was not listed: %s" % out)
    c.ctl("click-row", str(row))


def case_mirror_typed_address(c):
    """A typed 127.0.0.2 reaches the list (at the next publication) and
    mirrors the screen to the test receiver there; the stop is bounded."""
    seconds = 6
    rx, raop = start_receivers(c, "127.0.0.2", seconds)
    # The pattern is topmost: left of the centred session window and below
    # the tray, so a person's clicks on either reach them.
    c.background([c.wine_run, os.path.join(c.bin, "test-pattern.exe"), "--seconds", str(seconds + 90),
                  "--rect", "0,50,400,720"], "test-pattern.log")
    time.sleep(2)
    c.launch()
    connect_typed(c, "127.0.0.2")
    rc, out = c.ctl("wait-status", "Mirror to 127.0.0.2", "20000")
    c.check(rc == 0, "the status line never said \"Mirror to 127.0.0.2\": %s" % out)
    time.sleep(seconds)
    c.shot("mirroring")
    rc, out = c.ctl("send-command", "32779")  # ID_STOP_MIRRORING
    m = re.search(r"answered in (\d+) ms", out)
    c.check(rc == 0 and m and int(m.group(1)) < 4000, "the stop was not answered in its bound: %s" % out)
    if m:
        print("FIGURE stop of a streaming session: %s ms" % m.group(1))
    for p in (rx, raop):
        try:
            p.wait(20)
        except subprocess.TimeoutExpired:
            p.terminate()
            p.wait(20)
    summary = {}
    try:
        summary = json.load(open(os.path.join(c.out, "receiver", "summary.json")))
    except (OSError, ValueError):
        pass
    packets = summary.get("packets", {})
    decode = summary.get("decode") or {}
    print("receiver: outcome %s, %s pictures, %s decoded at %sx%s, NTP %s" % (
        summary.get("outcome"), packets.get("bitstream_with_data"), decode.get("frames"),
        decode.get("width"), decode.get("height"), summary.get("ntp")))
    c.check(summary.get("outcome") == "streaming" and summary.get("ok"),
            "the receiver saw no clean stream: %s" % summary.get("violations"))
    c.check((decode.get("frames") or 0) > 0, "no picture decoded")
    last = os.path.join(c.out, "receiver", "last.png")
    c.check(os.path.exists(last), "no received picture")
    if os.path.exists(last):
        shutil.copy(last, os.path.join(c.out, "received.png"))
    try:
        r = json.load(open(os.path.join(c.out, "raop", "summary.json")))
        print("audio receiver: outcome %s, RTSP %s" % (r.get("outcome"), " ".join(r.get("methods") or [])))
        c.check("ANNOUNCE" in (r.get("methods") or []), "no RAOP session on port 47000")
    except (OSError, ValueError):
        c.check(False, "the audio receiver wrote no summary")
    c.check("Mirror to 127.0.0.2" in c.log(), "the log has no \"Mirror to 127.0.0.2\"")
    c.exit_by_event()


def case_refused_connection(c):
    """Nobody listens at 127.0.0.3: the UI thread shows box 348 while the
    session has already ended, so the stop is answered at once."""
    c.launch()
    connect_typed(c, "127.0.0.3")
    rc, out = c.ctl("box", "20000")
    c.check(rc == 0 and "Connection failed - Tessarine is offline" in out, "box 348 did not show: %s" % out)
    time.sleep(0.5)
    c.shot("box-348")
    rc, out = c.ctl("send-command", "32779")
    m = re.search(r"answered in (\d+) ms", out)
    c.check(rc == 0 and m and int(m.group(1)) < 2500, "the stop under the box was not answered in its bound: %s" % out)
    if m:
        print("FIGURE stop while box 348 shows: %s ms" % m.group(1))
    c.ctl("box-ok")
    time.sleep(0.5)
    c.check(c.ctl("box", "0")[0] != 0, "box 348 did not close")
    c.check("err -10002" in c.log(), "the session's connect failure is not in the log")
    c.exit_by_event()


def case_password_prompt(c):
    """A receiver that wants a password: the session thread asks the main
    window, which shows the input box (title 315, prompt 316); Cancel
    leaves it at that."""
    rx_dir = os.path.join(ROOT, "tools", "test-receiver")
    rx = c.background([sys.executable, os.path.join(rx_dir, "receiver.py"), "--host", "127.0.0.2", "--port", "7100",
                       "--out", os.path.join(c.out, "receiver"), "--password", "s3cret", "--no-ntp",
                       "--expect-outcome", "challenged", "--timeout", "60"], "receiver.log")
    c.launch()
    connect_typed(c, "127.0.0.2")
    rc, out = c.ctl("prompt", "Tessarine Password", "20000")
    c.check(rc == 0 and out == "Please enter the password", "no password prompt: %s" % out)
    c.shot("password-prompt")
    c.ctl("prompt-answer", "Tessarine Password")
    time.sleep(1)
    c.check(c.ctl("prompt-answer", "Tessarine Password")[0] != 0, "the input box stayed after Cancel")
    # The refused session keeps its socket until it is stopped: at the exit.
    c.exit_by_event()
    try:
        c.check(rx.wait(30) == 0, "the receiver saw something other than a challenged connection")
    except subprocess.TimeoutExpired:
        c.check(False, "the receiver did not end")


def case_config_ini_held(c):
    """config.ini held open elsewhere: the error box, then quit before the
    firewall step; no backend thread, no main window."""
    folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "ProgramData", "Tessarine")
    os.makedirs(folder, exist_ok=True)
    holder = c.background([c.wine_run, os.path.join(c.bin, "tessctl.exe"), "hold",
                           "C:\\ProgramData\\Tessarine\\config.ini", "60"], "holder.log")
    for _ in range(200):
        if "holding" in open(os.path.join(c.out, "holder.log")).read():
            break
        time.sleep(0.1)
    prog = c.background([c.wine_run, os.path.join(c.bin, "Tessarine.exe")], "program.log")
    rc, out = c.ctl("box", "20000")
    c.check(rc == 0 and "already running in a different Windows user session" in out,
            "the other-session box did not show: %s" % out)
    c.shot("config-ini-held")
    c.ctl("box-ok")
    try:
        code = prog.wait(20)
    except subprocess.TimeoutExpired:
        code = None
    c.check(code == 0, "the program did not quit after the box (exit %s)" % code)
    holder.terminate()
    log = c.log()
    c.check("== Show message box on another instance already runing on another windows session." in log,
            "the other-session line is missing")
    for later in ("reconfigure windows firewall rules on UAC", "running without UAC", "BEOP_DevInit",
                  "[UI]main window ready"):
        c.check(later not in log, "a later step ran: %s" % later)


def case_switches(c):
    """One-shot switches quit after their job: "-restartbj" (no Bonjour
    Service under Wine) exits with the stop's failure code and tries no
    start; "-x" with nobody running quits before the single-instance event;
    "-autorun" and "-firewall" quit."""
    rc = c.program("-restartbj")
    log = c.log()
    m = re.search(r"restart bonjour result : (\d+)", log)
    c.check(m is not None and rc == int(m.group(1)) and rc != 0,
            "\"-restartbj\" exit %d, log %s" % (rc, m.group(0) if m else None))
    c.check("OneTimeCommand: restart bonjour." in log, "the restart line is missing")
    for switch, line in (("-x", "OneTimeCommand: Quit mainwin."),
                         ("-autorun", "OneTimeCommand: autorun not enabled."),
                         ("-firewall", "OneTimeCommand: reinstall firewall. IsUAC: ")):
        before = len(c.log())
        rc = c.program(switch)
        tail = c.log()[before:]
        c.check(rc == 0 and line in tail and "*** Quite Nb5Sender.exe due to One time cmd ***" in tail,
                "%s: exit %d, log %r" % (switch, rc, tail[-300:]))
        c.check("Quite Nb5Sender.exe due to another instance" not in tail and "[UI]main window" not in tail,
                "%s went on after its job" % switch)
    # Only the first switch in table order is handled.
    before = len(c.log())
    c.program("-firewall", "-autorun")
    tail = c.log()[before:]
    c.check("autorun not enabled" in tail and "reinstall firewall" not in tail, "two switches: %r" % tail[-300:])


def psnr(a, b):
    r = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-v", "info", "-i", a, "-i", b, "-lavfi",
                        "[1]format=rgb24[b];[0]format=rgb24[a];[a][b]psnr", "-f", "null", "-"],
                       capture_output=True, text=True)
    m = re.search(r"average:([0-9.inf]+)", r.stderr)
    return m.group(1) if m else None


def case_demo(c):
    """What scripts/demo shows: the program started hidden, its preferences,
    a second start bringing the session window forward, a typed address
    mirrored to the test receiver, a refused connection's box, and the exit
    event. Narrated with "[demo]" lines; pictures numbered in order."""
    seconds = int(os.environ.get("DEMO_SECONDS", "6"))

    def say(text):
        print("[demo] " + text, flush=True)

    rx, raop = start_receivers(c, "127.0.0.2", seconds)
    # The pattern is topmost: left of the centred session window and below
    # the tray, so a person's clicks on either reach them.
    c.background([c.wine_run, os.path.join(c.bin, "test-pattern.exe"), "--seconds", str(seconds + 120),
                  "--rect", "0,50,400,720"], "test-pattern.log")
    time.sleep(2)
    say("starting Tessarine.exe; it lives in the tray (top left) with its main window hidden")
    c.launch()
    time.sleep(1)
    c.shot("1-started")
    say("the preferences command (tray menu: Preferences) shows the panel")
    c.ctl("command", "32789")
    time.sleep(1.5)
    c.shot("2-preferences")
    c.ctl("command", "32789")
    say("a second start hands over to the first, which shows its session window")
    c.program()
    c.ctl("session", "15000")
    c.shot("3-session-window")
    say("typing 127.0.0.2 in the session window and clicking its row: mirroring for %d s" % seconds)
    connect_typed(c, "127.0.0.2")
    rc, out = c.ctl("wait-status", "Mirror to 127.0.0.2", "20000")
    say("status line: %s" % out)
    time.sleep(seconds)
    c.shot("4-mirroring")
    shutil.copy(os.path.join(c.out, "4-mirroring.png"), os.path.join(c.out, "screen.png"))
    rc, out = c.ctl("send-command", "32779")
    say("stopped (the stop command was answered in %s)" % out.replace("answered in ", ""))
    for p in (rx, raop):
        try:
            p.wait(20)
        except subprocess.TimeoutExpired:
            p.terminate()
            p.wait(20)
    s = {}
    try:
        s = json.load(open(os.path.join(c.out, "receiver", "summary.json")))
    except (OSError, ValueError):
        say("the receiver wrote no summary (see %s/receiver.log)" % c.out)
    p, d = s.get("packets", {}), s.get("decode") or {}
    say("receiver: outcome %s, %s" % (s.get("outcome"), "no violations" if s.get("ok") else
                                     "violations: %s" % "; ".join(s.get("violations", [])[:5])))
    say("pictures received: %d (%d key frames); decoded by ffmpeg: %s at %sx%s; %s fps" % (
        p.get("bitstream_with_data", 0), p.get("keyframes", 0), d.get("frames"), d.get("width"),
        d.get("height"), (s.get("fps") or {}).get("by_arrival")))
    try:
        r = json.load(open(os.path.join(c.out, "raop", "summary.json")))
        say("audio receiver on port 47000: outcome %s; RTSP %s" % (r.get("outcome"), " ".join(r.get("methods") or [])))
    except (OSError, ValueError):
        pass
    last = os.path.join(c.out, "receiver", "last.png")
    if os.path.exists(last):
        shutil.copy(last, os.path.join(c.out, "last.png"))
        say("last received picture against the screenshot: PSNR %s dB" % psnr(last, os.path.join(c.out, "screen.png")))
    c.check(s.get("outcome") == "streaming" and p.get("bitstream_with_data", 0) > 0, "nothing was mirrored")
    say("nobody listens at 127.0.0.3: connecting there shows box 348")
    connect_typed(c, "127.0.0.3", row=1, rows=2)
    rc, out = c.ctl("box", "20000")
    time.sleep(0.5)
    c.shot("5-box-348")
    say("box: %s" % out)
    c.ctl("box-ok")
    say("setting \"Global\\Nb5TxExitEvent\" ends the program")
    rc, out = c.ctl("exit-event")
    say(out)
    for name in ("1-started", "2-preferences", "3-session-window", "4-mirroring", "last", "5-box-348"):
        say("picture: %s" % os.path.join(c.out, name + ".png"))
    say("log: %s" % os.path.join(c.out, "Nb5TX_LOG.txt"))


def run_main(case_class, cases, prepare=None):
    """The main() of every case script: SCRIPT --build BUILD --out OUT CASE.
    Runs the function case_CASE of `cases` (the script's globals()) with a
    case_class object on a fresh OUT and a display of its own, inside the
    namespace that netns-run makes; prepare(c, CASE), when given, runs before
    the display starts. Returns the exit status: 1 when any check failed."""
    script = os.path.basename(sys.argv[0])
    p = argparse.ArgumentParser(prog=script)
    p.add_argument("--build", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("case")
    a = p.parse_args()
    if os.environ.get("TESS_NETNS_INSIDE") != "1":
        sys.exit("%s runs inside tools/netns/netns-run --prefix-from BUILD" % script)
    shutil.rmtree(a.out, ignore_errors=True)
    os.makedirs(a.out)
    c = case_class(os.path.abspath(a.build), os.path.abspath(a.out))
    fn = cases.get("case_" + a.case.replace("-", "_"))
    if not fn:
        sys.exit("unknown case %s" % a.case)
    if prepare:
        prepare(c, a.case)
    c.start_display()
    c.unmanaged_windows()
    try:
        fn(c)
    finally:
        c.close()
    print("output in %s" % a.out)
    for f in c.failures:
        print("CASE FAILED: " + f, file=sys.stderr)
    return 1 if c.failures else 0


def main():
    return run_main(Case, globals())


if __name__ == "__main__":
    sys.exit(main())
