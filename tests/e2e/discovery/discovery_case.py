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


def main():
    def prepare(c, case):
        if case != "extend_desktop":
            require_inside_avahi()
    return pc.run_main(DiscoveryCase, globals(), prepare)


if __name__ == "__main__":
    sys.exit(main())
