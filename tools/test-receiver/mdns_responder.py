#!/usr/bin/env python3
"""A small mDNS responder that announces "_raop._tcp" services the way a
careless or hostile one would, which avahi never does:

  EmptyTxt  resolves with a TXT record of length 0 (rdlength 0)
  NoAddr    resolves to host noaddr.local., which has no address record
  Broken    announced in a datagram whose SRV record is cut short
  Loop      announced by a PTR record whose name is a compression loop

Each service goes in a datagram of its own, so one refused datagram does not
hide the others. It answers every query that asks for "_raop._tcp.local." or
one of its names, and announces once at start.

With --flood N it announces N receivers instead, the way anyone on a LAN
can: <PREFIX>-<i> on port --port (47000) at 127.0.<i // 200 + 1>.<i % 200 + 10>,
with a TXT record, except every --empty-every'th, whose TXT record is empty.
A query is answered with the datagrams of the names it asks for (all of
them for the service type). SIGTERM or SIGINT withdraws every service
(goodbyes, TTL 0) before it exits. It prints "listed <name> <address>" for
each receiver with a TXT record.

Run it only inside a network namespace that holds nothing but its loopback
(tools/netns/netns-run): it binds UDP 5353 and sends multicast on 127.0.0.1.

Usage: mdns_responder.py [--only NAME ...] [--seconds S]
       mdns_responder.py --flood N [--prefix P] [--port P] [--empty-every K] [--seconds S]
"""

import argparse
import select
import signal
import socket
import struct
import sys
import time

GROUP = "224.0.0.251"
PORT = 5353
SERVICE = "_raop._tcp.local."

TYPE_A, TYPE_PTR, TYPE_TXT, TYPE_SRV = 1, 12, 16, 33
FLUSH = 0x8000


def name(dotted):
    out = b""
    for label in dotted.rstrip(".").split("."):
        raw = label.encode()
        out += bytes([len(raw)]) + raw
    return out + b"\0"


def record(owner, rtype, ttl, rdata, flush=False, owner_bytes=None):
    head = owner_bytes if owner_bytes is not None else name(owner)
    cls = 1 | (FLUSH if flush else 0)
    return head + struct.pack("!HHIH", rtype, cls, ttl, len(rdata)) + rdata


def srv(host, port):
    return struct.pack("!HHH", 0, 0, port) + name(host)


def txt(*items):
    return b"".join(bytes([len(i)]) + i.encode() for i in items)


def response(records):
    return struct.pack("!HHHHHH", 0, 0x8400, 0, len(records), 0, 0) + b"".join(records)


def instance(label):
    return label + "." + SERVICE


def datagrams():
    """name -> the datagram that announces it."""
    out = {}
    out["EmptyTxt"] = response([
        record(SERVICE, TYPE_PTR, 4500, name(instance("EmptyTxt"))),
        record(instance("EmptyTxt"), TYPE_SRV, 120, srv("etxt.local.", 47001), flush=True),
        record(instance("EmptyTxt"), TYPE_TXT, 4500, b"", flush=True),
        record("etxt.local.", TYPE_A, 120, bytes([127, 0, 0, 3]), flush=True),
    ])
    out["NoAddr"] = response([
        record(SERVICE, TYPE_PTR, 4500, name(instance("NoAddr"))),
        record(instance("NoAddr"), TYPE_SRV, 120, srv("noaddr.local.", 47002), flush=True),
        record(instance("NoAddr"), TYPE_TXT, 4500, txt("txtvers=1"), flush=True),
    ])
    # The SRV rdata stops after its port: no target name.
    out["Broken"] = response([
        record(SERVICE, TYPE_PTR, 4500, name(instance("Broken"))),
        record(instance("Broken"), TYPE_SRV, 120, struct.pack("!HHH", 0, 0, 47003), flush=True),
    ])
    # Header, then a PTR record whose owner name is a pointer to itself.
    loop = struct.pack("!HHHHHH", 0, 0x8400, 0, 1, 0, 0)
    loop += record(None, TYPE_PTR, 4500, name(instance("Loop")), owner_bytes=b"\xc0\x0c")
    out["Loop"] = loop
    return out


def flood_address(i):
    return "127.0.%d.%d" % (i // 200 + 1, i % 200 + 10)


def flood_datagrams(count, prefix, port, empty_every, ttl=4500, host_ttl=120):
    """name (lower case, as asked) -> datagram, for every name of the flood;
    and the receivers with a TXT record as (service name, address)."""
    out, listed = {}, []
    for i in range(count):
        label = "%s-%d" % (prefix, i)
        host = "%s-%d.local." % (prefix.lower(), i)
        address = flood_address(i)
        empty = empty_every > 0 and i % empty_every == empty_every - 1
        packet = response([
            record(SERVICE, TYPE_PTR, ttl, name(instance(label))),
            record(instance(label), TYPE_SRV, host_ttl if ttl else 0, srv(host, port), flush=True),
            record(instance(label), TYPE_TXT, ttl, b"" if empty else txt("txtvers=1", "am=" + label), flush=True),
            record(host, TYPE_A, host_ttl if ttl else 0, bytes(int(x) for x in address.split(".")), flush=True),
        ])
        out[instance(label).lower()] = packet
        out[host.lower()] = packet
        if not empty:
            listed.append((label, address))
    return out, listed


def run_flood(args, s):
    packets, listed = flood_datagrams(args.flood, args.prefix, args.port, args.empty_every)
    everything = list(dict.fromkeys(packets.values()))
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(1))
    for p in everything:
        s.sendto(p, (GROUP, PORT))
    for label, address in listed:
        print("listed %s %s" % (label, address))
    print("mdns_responder: announcing %d services" % len(everything), flush=True)
    end = time.monotonic() + args.seconds
    while time.monotonic() < end and not stopping:
        try:
            ready, _, _ = select.select([s], [], [], 0.5)
        except InterruptedError:
            continue
        if not ready:
            continue
        data, _ = s.recvfrom(9000)
        answer = []
        for n in asked_names(data):
            if n == SERVICE.lower():
                answer = everything
                break
            if n in packets and packets[n] not in answer:
                answer.append(packets[n])
        for p in answer:
            s.sendto(p, (GROUP, PORT))
    goodbyes, _ = flood_datagrams(args.flood, args.prefix, args.port, args.empty_every, ttl=0)
    for p in dict.fromkeys(goodbyes.values()):
        s.sendto(p, (GROUP, PORT))
    print("mdns_responder: withdrew %d services" % len(everything), flush=True)
    return 0


def asked_names(packet):
    """The question names of a query, lower case; empty for anything else."""
    if len(packet) < 12:
        return []
    flags, qd = struct.unpack("!H", packet[2:4])[0], struct.unpack("!H", packet[4:6])[0]
    if flags & 0x8000:
        return []
    names, pos = [], 12
    for _ in range(qd):
        labels = []
        while pos < len(packet):
            n = packet[pos]
            if n == 0 or n & 0xC0:
                pos += 1 if n == 0 else 2
                break
            labels.append(packet[pos + 1:pos + 1 + n].decode("utf-8", "replace"))
            pos += 1 + n
        pos += 4
        names.append(".".join(labels).lower() + ".")
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--only", nargs="*", help="announce only these services")
    ap.add_argument("--seconds", type=float, default=600)
    ap.add_argument("--flood", type=int, default=0, help="announce this many receivers instead")
    ap.add_argument("--prefix", default="Flood")
    ap.add_argument("--port", type=int, default=47000)
    ap.add_argument("--empty-every", type=int, default=10)
    args = ap.parse_args()
    packets = datagrams()
    if args.only:
        packets = {k: v for k, v in packets.items() if k in args.only}
    ours = {SERVICE.lower()} | {instance(k).lower() for k in packets}
    ours |= {"etxt.local.", "noaddr.local."}

    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", PORT))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 socket.inet_aton(GROUP) + socket.inet_aton("127.0.0.1"))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255)
    if args.flood:
        return run_flood(args, s)

    def announce():
        for p in packets.values():
            s.sendto(p, (GROUP, PORT))

    announce()
    print("mdns_responder: announcing " + " ".join(sorted(packets)), flush=True)
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        ready, _, _ = select.select([s], [], [], 0.5)
        if not ready:
            continue
        data, _ = s.recvfrom(9000)
        if any(n in ours for n in asked_names(data)):
            announce()
    return 0


if __name__ == "__main__":
    sys.exit(main())
