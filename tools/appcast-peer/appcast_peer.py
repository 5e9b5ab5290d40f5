#!/usr/bin/env python3
"""An HTTPS update-feed server on loopback for the updater's tests.

The path picks the answer:
  /newer.xml           a feed with 1.2.0.5 (newer than the test host's 1.0.1.10)
  /same.xml            a feed whose newest item is 1.0.1.10
  /malformed.xml       text that is not XML
  /oversized.xml       a well-formed feed of 2 MiB (beyond the 1 MiB bound)
  /http-enclosure.xml  a newer version whose download is a plain http address
  /stall.xml           the request is read and never answered
  anything else        404

  appcast_peer.py --cert PEM --key PEM [--port 0] --port-file F --log F

Every request's path is appended to the log. It serves until killed.
"""
import argparse
import http.server
import socket
import ssl
import threading
import time

FEED = """<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>
<title>Tessarine</title>
{items}
</channel>
</rss>
"""

ITEM = """<item>
<title>Version {short}</title>
<sparkle:os>windows</sparkle:os>
<enclosure url="{url}" sparkle:version="{version}" sparkle:shortVersionString="{short}"
  length="1024" type="application/octet-stream"/>
</item>"""


def feed(base, version, short, scheme="https"):
    old = ITEM.format(url=base.replace("https", scheme) + "/download/Tessarine-1.0.0.exe",
                      version="1.0.0.1", short="1.0.0")
    new = ITEM.format(url=base.replace("https", scheme) + "/download/Tessarine-%s.exe" % short,
                      version=version, short=short)
    return FEED.format(items=old + "\n" + new).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(self.server.log_path, "a") as log:
            log.write(self.path + "\n")
        base = "https://localhost:%d" % self.server.server_address[1]
        path = self.path.split("?")[0]
        if path == "/stall.xml":
            self.server.stop.wait(120)
            return
        if path == "/newer.xml":
            body = feed(base, "1.2.0.5", "1.2.0")
        elif path == "/same.xml":
            body = feed(base, "1.0.1.10", "1.0.1")
        elif path == "/http-enclosure.xml":
            body = feed(base, "1.2.0.5", "1.2.0", scheme="http")
        elif path == "/malformed.xml":
            body = b"<rss><channel><item>this is not closed"
        elif path == "/oversized.xml":
            filler = "<!-- %s -->\n" % ("x" * 1000)
            body = FEED.format(items=filler * 2100).encode()
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/rss+xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    address_family = socket.AF_INET


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.log_path = args.log
    server.stop = threading.Event()
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    # The handshake runs on the first read, in the request's own thread.
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    open(args.log, "a").close()
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    import os
    os.replace(args.port_file + ".tmp", args.port_file)
    try:
        server.serve_forever()
    finally:
        server.stop.set()


if __name__ == "__main__":
    main()
