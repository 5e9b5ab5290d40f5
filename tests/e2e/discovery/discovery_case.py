#!/usr/bin/env python3
"""End-to-end cases of Tessarine.exe's receiver discovery and extended
desktop, each inside its own loopback-only namespace (tools/netns/netns-run
--avahi --prefix-from BUILD) on a virtual screen of its own.

    discovery_case.py --build BUILD_DIR --out OUT_DIR CASE

avahi-daemon (started by netns-run, bound to lo) publishes the test
receivers; the program's dnssd.dll finds them. The program is driven and
read from outside by tools/tessctl; the harness (virtual screen, tessctl,
log, screenshots, the test receivers) is the program cases' own. Lines
"FIGURE ..." report timings. Exit 0 when every check held.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "program"))
import program_case as pc  # noqa: E402

# The stand-in's log lines of the discovery, as the program writes them.
FOUND = "[mDNS]GetAddr(%s, %s:%d)"
REMOVED = "[mDNS]RemoveOldEntry: %s._raop._tcp.local."
TRAY_LEFT_CLICK = ("post", "0x7F4", "132", "0x202")  # WM_TRAY_NOTIFY, icon 132, WM_LBUTTONUP


class DiscoveryCase(pc.Case):
    """The program cases' harness, with each tessctl call's output in a file
    of its own: the program that "launch" starts inherits that call's
    output and goes on writing its own prints into it."""

    calls = 0

    def ctl(self, *args, timeout=60):
        DiscoveryCase.calls += 1
        path = os.path.join(self.out, ".tessctl-%03d.txt" % DiscoveryCase.calls)
        with open(path, "w") as f:
            r = subprocess.run([self.wine_run, os.path.join(self.bin, "tessctl.exe")] + list(args),
                               stdout=f, stderr=subprocess.STDOUT, timeout=timeout)
        with open(path, encoding="utf-8", errors="replace") as f:
            out = f.read().strip()
        print("tessctl %s -> %d: %s" % (" ".join(args), r.returncode, out))
        return r.returncode, out


class Publisher:
    """avahi's command-line publishers, stopped by process id."""

    def __init__(self, case):
        self.case = case
        self.procs = {}

    def address(self, host, ip):
        p = subprocess.Popen(["avahi-publish-address", "-R", host, ip],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.case.procs.append(p)

    def service(self, name, host, port, *txt):
        """Publishes and returns the time avahi reported it established
        (probing over, the announcement out), or None."""
        p = subprocess.Popen(["avahi-publish-service", "-H", host, name, "_raop._tcp", str(port)] + list(txt),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.case.procs.append(p)
        self.procs[name] = p
        deadline = time.time() + 15
        while time.time() < deadline:
            line = p.stdout.readline()
            if not line:
                break
            if "Established" in line:
                return time.time()
        self.case.check(False, "avahi did not establish %s" % name)
        return None

    def withdraw(self, name):
        """Ends the publisher (avahi sends the goodbye); returns when it did."""
        p = self.procs.pop(name)
        t = time.time()
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
        return t


def wait_log(c, text, seconds):
    """The time the program's log first held text, polled every 20 ms; None."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if text in c.log():
            return time.time()
        time.sleep(0.02)
    return None


def require_inside_avahi():
    if not os.environ.get("AVAHI_PID"):
        sys.exit("discovery_case.py runs inside tools/netns/netns-run --avahi --prefix-from BUILD")


def mirror_summary(c, procs):
    for p in procs:
        try:
            p.wait(20)
        except subprocess.TimeoutExpired:
            p.terminate()
            p.wait(20)
    try:
        return json.load(open(os.path.join(c.out, "receiver", "summary.json")))
    except (OSError, ValueError):
        return {}


# --- cases -------------------------------------------------------------------

def case_found_and_mirrored(c):
    """Announced receivers: TestRx (port 47000) is found, listed and mirrored
    to with WM_COMMAND 60001; Rx7000 (port 7000) is resolved but never
    listed; withdrawing TestRx takes it off the list at the next
    publication. A restart of the discovery (the Reset button's message)
    finds it again. Figures: announcement to found and to listed, restart
    to found again, withdrawal to removal and to unlisted."""
    seconds = 6
    pub = Publisher(c)
    pub.address("rx1.local", "127.0.0.2")
    pub.address("rx2.local", "127.0.0.3")
    rx, raop = pc.start_receivers(c, "127.0.0.2", seconds)
    # The pattern is topmost: left of the centred session window and below
    # the tray, so a person's clicks on either reach them.
    c.background([c.wine_run, os.path.join(c.bin, "test-pattern.exe"), "--seconds", str(seconds + 120),
                  "--rect", "0,50,400,720"], "test-pattern.log")
    c.launch()
    # The session window first, so the list publishes every 5 s from now.
    c.ctl(*TRAY_LEFT_CLICK)
    rc, out = c.ctl("wait-unlisted", "TestRx", "15000")
    c.check(rc == 0, "the session window did not show: %s" % out)

    # avahi reports the service established once its probes are over and
    # its first announcement is out.
    announced = pub.service("TestRx", "rx1.local", 47000, "txtvers=1", "am=TestRx")
    found = wait_log(c, FOUND % ("TestRx", "127.0.0.2", 47000), 20)
    c.check(found is not None, "the program never found TestRx at 127.0.0.2:47000")
    if announced and found:
        print("FIGURE announcement to found (TestRx): %d ms" % ((found - announced) * 1000))
    rc, out = c.ctl("wait-listed", "TestRx", "15000")
    c.check(rc == 0, "TestRx was not listed: %s" % out)
    if rc == 0 and announced:
        print("FIGURE announcement to listed (TestRx, publication every 5 s): %d ms"
              % ((time.time() - announced) * 1000))
    time.sleep(0.5)
    c.shot("session-window-found")

    # Rx7000 is found by discovery, and kept out by the port rule.
    pub.service("Rx7000", "rx2.local", 7000, "txtvers=1", "am=Rx7000")
    c.check(wait_log(c, FOUND % ("Rx7000", "127.0.0.3", 7000), 10) is not None,
            "discovery never resolved Rx7000 (the port-7000 service)")
    time.sleep(6)  # at least one publication since
    rc, out = c.ctl("wait-unlisted", "Rx7000", "1000")
    c.check(rc == 0 and "TestRx" in out, "the port-7000 service was listed: %s" % out)
    log = c.log()
    c.check(log.count(FOUND % ("TestRx", "127.0.0.2", 47000)) == 1, "TestRx was reported more than once")

    # Position 0 of the listed map is TestRx: WM_COMMAND 60001 mirrors to it.
    c.ctl("command", "60001")
    rc, out = c.ctl("wait-status", "Mirror to 127.0.0.2", "20000")
    c.check(rc == 0, "the status line never said \"Mirror to 127.0.0.2\": %s" % out)
    time.sleep(seconds)
    c.shot("mirroring")
    rc, out = c.ctl("send-command", "32779")
    c.check(rc == 0, "the stop was not answered: %s" % out)
    s = mirror_summary(c, (rx, raop))
    decode = s.get("decode") or {}
    print("receiver: outcome %s, %s pictures, %s decoded at %sx%s" % (
        s.get("outcome"), (s.get("packets") or {}).get("bitstream_with_data"), decode.get("frames"),
        decode.get("width"), decode.get("height")))
    c.check(s.get("outcome") == "streaming" and s.get("ok"), "the receiver saw no clean stream: %s" % s.get("violations"))
    c.check((decode.get("frames") or 0) > 0, "no picture decoded")
    last = os.path.join(c.out, "receiver", "last.png")
    if c.check(os.path.exists(last), "no received picture"):
        shutil.copy(last, os.path.join(c.out, "received.png"))

    # The left click found the discovery running and left it alone; the
    # Reset button's restart makes a new one, which finds TestRx again.
    c.check("[mDNS] exiting..." not in c.log(), "the left click restarted a running discovery")
    restarted = time.time()
    c.ctl("post", "0x7F7")  # WM_RESTART_DISCOVERY
    again = None
    while time.time() - restarted < 15 and again is None:
        if c.log().count(FOUND % ("TestRx", "127.0.0.2", 47000)) == 2:
            again = time.time()
        time.sleep(0.02)
    c.check("[mDNS] exiting..." in c.log() and again is not None,
            "the restarted discovery did not find TestRx again")
    if again:
        print("FIGURE discovery restart to found again (TestRx): %d ms" % ((again - restarted) * 1000))

    # Withdrawn: the goodbye removes it from the found map; the list follows
    # at the next publication (every 5 s).
    withdrawn = pub.withdraw("TestRx")
    removed = wait_log(c, REMOVED % "TestRx", 20)
    c.check(removed is not None, "the withdrawal was not reported as a removal")
    if removed:
        print("FIGURE withdrawal to removal (TestRx): %d ms" % ((removed - withdrawn) * 1000))
    rc, out = c.ctl("wait-unlisted", "TestRx", "12000")
    c.check(rc == 0, "TestRx stayed listed after its withdrawal: %s" % out)
    if rc == 0:
        print("FIGURE withdrawal to unlisted (TestRx): %d ms" % ((time.time() - withdrawn) * 1000))
    c.shot("session-window-withdrawn")
    c.exit_by_event()


def case_no_dnssd(c):
    """The program without dnssd.dll beside it: the browse fails as the
    service not running, is logged, and the program runs on (a typed address
    still reaches the list; a left click tries the discovery again; the exit
    event ends it cleanly). The published receiver is never found."""
    pub = Publisher(c)
    pub.address("rx1.local", "127.0.0.2")
    pub.service("TestRx", "rx1.local", 47000, "txtvers=1", "am=TestRx")
    # The program and its bridges, without dnssd.dll, in a folder of its own.
    alone = os.path.join(c.out, "bin")
    os.makedirs(alone)
    for name in os.listdir(c.bin):
        if name == "Tessarine.exe" or (name.lower().endswith(".dll") and name.lower() != "dnssd.dll"):
            shutil.copy(os.path.join(c.bin, name), alone)
    c.check(not os.path.exists(os.path.join(alone, "dnssd.dll")), "dnssd.dll was copied")
    rc, out = c.ctl("launch", c.win(os.path.join(alone, "Tessarine.exe")))
    c.check(rc == 0, "the program did not start without dnssd.dll: %s" % out)
    failed = "[mDNS] fail to Browse: kDNSServiceErr_ServiceNotRunning"
    c.check(wait_log(c, failed, 10) is not None, "the failed browse was not logged")
    # The thread ended after its log line: the left click that opens the
    # session window starts a new discovery, which fails the same way (and,
    # restarting, empties the found map: the typed address comes after it).
    c.ctl(*TRAY_LEFT_CLICK)
    rc, out = c.ctl("wait-unlisted", "TestRx", "15000")
    c.check(rc == 0, "the session window did not show: %s" % out)
    time.sleep(1)
    c.check(c.log().count(failed) == 2, "the left click did not try the discovery again (%d failures logged)"
            % c.log().count(failed))
    c.ctl("token", "127.0.0.4")
    rc, out = c.ctl("wait-listed", "127.0.0.4", "15000")
    c.check(rc == 0 and "TestRx" not in out, "the program did not run on without discovery: %s" % out)
    time.sleep(0.5)
    c.shot("session-window-no-dnssd")
    c.check(FOUND % ("TestRx", "127.0.0.2", 47000) not in c.log(), "TestRx was found without dnssd.dll")
    c.exit_by_event()


def case_extend_desktop(c):
    """The extended desktop under Wine (one adapter, no spare port, no virtual
    display driver, a display-configuration stub that would end the
    process): WM_COMMAND 60065 shows balloon 332, changes no display setting
    and leaves the running session as it was; a display choice and the stop
    then work as before."""
    seconds = 6
    rx, raop = pc.start_receivers(c, "127.0.0.2", seconds + 10)
    # The pattern is topmost: left of the centred session window and below
    # the tray, so a person's clicks on either reach them.
    c.background([c.wine_run, os.path.join(c.bin, "test-pattern.exe"), "--seconds", str(seconds + 120),
                  "--rect", "0,50,400,720"], "test-pattern.log")
    rc, before = c.ctl("displays")
    xbefore = subprocess.run(["xdpyinfo", "-display", c.display], capture_output=True, text=True).stdout
    c.launch()
    pc.connect_typed(c, "127.0.0.2")
    rc, out = c.ctl("wait-status", "Mirror to 127.0.0.2", "20000")
    c.check(rc == 0, "the session did not start: %s" % out)
    c.ctl("close-session")
    time.sleep(2)

    rc, out = c.ctl("send-command", "60065")  # ID_EXTEND_DESKTOP
    c.check(rc == 0, "the extend command was not answered: %s" % out)
    rc, out = c.ctl("wait-balloon", "Fail to Extend Display", "10000")
    c.check(rc == 0, "balloon 332 did not show: %s" % out)
    time.sleep(0.5)
    c.shot("extend-failed-balloon")
    rc, after = c.ctl("displays")
    c.check(after == before, "a display setting changed:\nbefore %s\nafter %s" % (before, after))
    xafter = subprocess.run(["xdpyinfo", "-display", c.display], capture_output=True, text=True).stdout
    dims = lambda t: re.findall(r"dimensions:.*", t)
    c.check(dims(xafter) == dims(xbefore), "the screen changed: %s -> %s" % (dims(xbefore), dims(xafter)))
    log = c.log()
    for line in ("[Display]No extra display port can be use.", "[Display]REJECT No Display Port/Virtual Driver",
                 "[Display]Extend Display Index = -1"):
        c.check(line in log, "the log has no %r" % line)
    for line in ("[Display]Attach extend display", "[Display]DisplayConfigSetDeviceInfo",
                 "[Display]RestorePrimaryResolution"):
        c.check(line not in log, "the log has %r" % line)
    c.check("Mirror to 127.0.0.2" in c.ctl("status")[1], "the session's status changed")
    # What the detection saw: Wine's one adapter, no free port, no compositor.
    values = c.reg_values("HKCU\\Software\\Kelvora Inc.\\Kelvora Remote Server")
    print("detected: %s" % {k: values.get(k) for k in ("NumOfDisplayPort", "NumOfDisplayPortAvail", "AeroEnable")})
    c.check(values.get("NumOfDisplayPort") == "0x1" and values.get("NumOfDisplayPortAvail") == "0x0",
            "unexpected port counts: %s" % values)

    # Display 0 (the only one) while mirroring, then the stop: no extended
    # display is left to remove.
    rc, out = c.ctl("send-command", "60033")
    c.check(rc == 0, "the display choice was not answered: %s" % out)
    time.sleep(seconds)
    rc, out = c.ctl("send-command", "32779")
    c.check(rc == 0, "the stop was not answered: %s" % out)
    s = mirror_summary(c, (rx, raop))
    c.check(s.get("outcome") == "streaming" and s.get("ok") and ((s.get("decode") or {}).get("frames") or 0) > 0,
            "the session did not stream through the failed extension: %s" % s.get("violations"))
    c.check(c.ctl("displays")[1] == before, "a display setting changed by the end")
    c.exit_by_event()


# --- the flood -----------------------------------------------------------------

RESPONDER = os.path.join(pc.ROOT, "tools", "test-receiver", "mdns_responder.py")
ROWS = 32  # listed positions 0-31 have rows (WM_COMMAND 60001-60032)


class Flood:
    """A hostile responder of our own: announces count receivers on port
    47000 (every tenth with an empty TXT record); stop() withdraws them all."""

    def __init__(self, c, prefix, count=100):
        self.c = c
        self.prefix = prefix
        self.path = os.path.join(c.out, "responder-%s.log" % prefix)
        self.proc = c.background([sys.executable, RESPONDER, "--flood", str(count), "--prefix", prefix,
                                  "--port", "47000", "--empty-every", "10", "--seconds", "400"],
                                 os.path.basename(self.path))
        self.listed = []
        deadline = time.time() + 15
        while time.time() < deadline:
            text = open(self.path).read()
            if "announcing" in text:
                self.listed = [tuple(l.split()[1:3]) for l in text.splitlines() if l.startswith("listed ")]
                break
            time.sleep(0.1)
        c.check(len(self.listed) == count - count // 10, "the responder did not start: %s" % self.listed)

    def in_key_order(self):
        """(name, address) in the program's key order: the address padded to 15."""
        return sorted(self.listed, key=lambda na: na[1].ljust(15))

    def found(self):
        log = self.c.log()
        return sum(1 for n, a in self.listed if FOUND % (n, a, 47000) in log)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def program_rss_kb():
    """Resident memory of this namespace's Tessarine.exe (its Wine process),
    found by its command line and its prefix; None when not found."""
    prefix = os.environ.get("WINEPREFIX")
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            cmd = open("/proc/%s/cmdline" % pid, "rb").read()
            if b"Tessarine.exe" not in cmd:
                continue
            env = open("/proc/%s/environ" % pid, "rb").read().split(b"\0")
            if ("WINEPREFIX=%s" % prefix).encode() not in env:
                continue
            for line in open("/proc/%s/status" % pid):
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        except OSError:
            continue
    return None


def window_counts(c):
    rc, out = c.ctl("windows")
    m = re.search(r"windows (\d+) top-level (\d+) tooltips (\d+) gdi (\d+) user (\d+)", out)
    return dict(zip(("windows", "top", "tooltips", "gdi", "user"), map(int, m.groups()))) if m else {}


def list_area(c):
    """The centre x and the top and bottom of the session window's list, on the screen."""
    rc, out = c.ctl("session", "5000")
    m = re.search(r"session window at (-?\d+),(-?\d+) (\d+)x(\d+)", out)
    if not m:
        return None
    x, y, w, h = map(int, m.groups())
    return x + w // 2, y + 140, y + h - 40


def hover_rows(c, area):
    """The mouse over the list from top to bottom, as a person moves it."""
    x, top, bottom = area
    for y in range(top, bottom, 20):
        subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=dict(os.environ, DISPLAY=c.display))
        time.sleep(0.05)
    subprocess.run(["xdotool", "mousemove", "5", "700"], env=dict(os.environ, DISPLAY=c.display))


def flood_round(c, prefix):
    """Announces 100 receivers; waits until every one with a TXT record is
    found and a publication has followed; returns the flood."""
    flood = Flood(c, prefix)
    t0 = time.time()
    want = len(flood.listed)
    while time.time() - t0 < 90 and flood.found() < want:
        time.sleep(0.5)
    c.check(flood.found() == want, "%s: %d of %d receivers found" % (prefix, flood.found(), want))
    print("FIGURE %s: announcement to all %d found: %d ms" % (prefix, want, (time.time() - t0) * 1000))
    time.sleep(6)  # a publication of the whole list
    rc, out = c.ctl("wait-rows", str(ROWS), "15000")
    c.check(rc == 0, "%s: not %d rows: %s" % (prefix, ROWS, out))
    rows = [l for l in out.splitlines()[2:]]
    expected = [n for n, a in flood.in_key_order()[:ROWS]]
    c.check(rows == expected, "%s: rows are not the first %d in key order:\n%s\n%s" % (prefix, ROWS, rows, expected))
    return flood


def case_flood(c):
    """A hostile responder announces 100 receivers on port 47000 (every
    tenth with an empty TXT record): the session window lists 32 rows (the
    first 32 in key order), clicking the last one (scrolled to with the
    wheel) connects to that row's receiver and changes no display; two more
    floods after withdrawals leave window, tooltip and memory counts where
    the first left them; withdrawing all empties the list."""
    seconds = 6
    rc, displays = c.ctl("displays")
    c.launch()
    c.ctl(*TRAY_LEFT_CLICK)
    rc, out = c.ctl("session", "15000")
    c.check(rc == 0, "the session window did not show: %s" % out)
    area = list_area(c)

    flood = flood_round(c, "R1")
    c.shot("flood-100-announced")
    log = c.log()
    c.check("[UI] 90 receivers listed, rows for the first 32 only" in log, "the longer list was not logged")
    c.check("zero-length txt record" in log, "no empty TXT record was seen")
    hover_rows(c, area)
    first = window_counts(c)
    rss1 = program_rss_kb()
    print("FIGURE after the first flood: %s, resident %s kB" % (first, rss1))

    # The last row, scrolled to with the wheel as a person does.
    name, address = flood.in_key_order()[ROWS - 1]
    procs = pc.start_receivers(c, address, seconds)
    x, top, bottom = area
    subprocess.run(["xdotool", "mousemove", str(x), str(top + 100), "click", "--repeat", "40", "--delay", "30", "5"],
                   env=dict(os.environ, DISPLAY=c.display))
    time.sleep(0.5)
    c.shot("flood-scrolled-to-the-last-row")
    rc, out = c.ctl("click-row", str(ROWS - 1))
    c.check(rc == 0, "no last row to click: %s" % out)
    rc, out = c.ctl("wait-status", "Mirror to %s" % address, "20000")
    c.check(rc == 0, "the last row did not connect to %s (%s): %s" % (name, address, out))
    rc, out = c.ctl("wait-header", name, "10000")
    c.check(rc == 0, "the header does not name %s: %s" % (name, out))
    time.sleep(seconds)
    c.shot("flood-mirroring-the-last-row")
    c.check(c.ctl("displays")[1] == displays, "a display setting changed")
    c.ctl("send-command", "32779")
    s = mirror_summary(c, procs)
    c.check(s.get("outcome") == "streaming" and ((s.get("decode") or {}).get("frames") or 0) > 0,
            "the receiver at %s saw no stream: %s" % (address, s.get("violations")))
    c.check("is no row's" not in c.log() and "names no display" not in c.log(), "a command left its range")

    # Withdrawn, then two more floods of new names, each hovered over as the
    # first: the second and third leave the counts where they were (the
    # session header's buttons, shown once, hold tooltips of their own since).
    counts = {}
    for prefix in ("R2", "R3"):
        t = time.time()
        flood.stop()
        rc, out = c.ctl("wait-rows", "0", "20000")
        c.check(rc == 0, "withdrawing all did not empty the list: %s" % out)
        print("FIGURE withdrawal of all to an empty list: %d ms" % ((time.time() - t) * 1000))
        flood = flood_round(c, prefix)
        hover_rows(c, area)
        counts[prefix] = (window_counts(c), program_rss_kb())
        print("FIGURE after flood %s: %s, resident %s kB" % (prefix, counts[prefix][0], counts[prefix][1]))
    c.shot("flood-third-round")
    (second, rss2), (third, rss3) = counts["R2"], counts["R3"]
    if first and second and third:
        c.check(third["windows"] <= second["windows"] + 2, "windows grew: %s -> %s" % (second, third))
        c.check(third["tooltips"] <= second["tooltips"] + 1, "tooltips grew: %s -> %s" % (second, third))
        c.check(third["windows"] <= first["windows"] + 8, "windows grew: %s -> %s" % (first, third))
        if second["gdi"]:
            c.check(third["gdi"] <= second["gdi"] + 20, "GDI objects grew: %s -> %s" % (second, third))
    else:
        c.check(False, "no window counts: %s %s %s" % (first, second, third))
    if rss1 and rss2 and rss3:
        c.check(rss3 <= rss2 + 8 * 1024 and rss3 <= rss1 + 30 * 1024,
                "resident memory grew: %d, %d, %d kB" % (rss1, rss2, rss3))
    flood.stop()
    rc, out = c.ctl("wait-rows", "0", "20000")
    c.check(rc == 0, "withdrawing all did not empty the list: %s" % out)
    c.shot("flood-withdrawn")
    c.exit_by_event()


def main():
    def prepare(c, case):
        if case not in ("extend_desktop", "flood"):
            require_inside_avahi()
    return pc.run_main(DiscoveryCase, globals(), prepare)


if __name__ == "__main__":
    sys.exit(main())
