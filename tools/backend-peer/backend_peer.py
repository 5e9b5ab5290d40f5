"""The backend web service of the tests, its CONNECT proxies and a PAC file.

BackendPeer speaks HTTPS (Python ssl) on a loopback port with a certificate
for the product's backend host, answers every operation of the wire format,
checks every request (verb, path, header lines in order, credentials, one
right Content-Length, form body, agent) and logs it. It can misbehave on
request (see MODES) and present a bad certificate (see certs.py).

ConnectProxy tunnels CONNECT <backend host>:443 to the peer and loopback
names to themselves, refuses everything else, forwards plain HTTP requests
for loopback names, answers plain HTTP requests for the backend host itself
("proxied") and can demand Basic authentication.

PacServer serves a proxy auto-config file that sends HTTPS requests for the
backend host (exact, lower-case host as the request has it) to a proxy.

Control: one JSON object per line over TCP (127.0.0.1), one JSON answer per
line; see Control.handle for the commands.
"""

import base64
import json
import os
import re
import socket
import socketserver
import ssl
import subprocess
import threading
import time
import urllib.parse

BACKEND_HOST = "backend.tessarine.invalid"
ACCOUNT_EMAIL = "sender-service@tessarine.invalid"
ACCOUNT_PASSWORD = "RtGalopbarnskyWZ"
# Must match the sender's LookupTokenKey().
TOKEN_KEY = "Cv9Tq#eW3n4xPb7s"
AGENT_RE = re.compile(r"^TWX/1\.0\.1\.10 kelvora2 win( ORVANTA)?$")
BASE = "/api/tarsel/"
FORM = "application/x-www-form-urlencoded; charset=utf-8"
MAX_HEAD = 64 * 1024
MAX_BODY = 1024 * 1024

MODES = ("normal", "silent", "silent-tls", "trickle", "trickle-headers", "oversized",
         "malformed", "wrong-types", "status-204", "status-401", "status-404", "status-500",
         "cutoff-html", "close-mid-reply")

URLENCODE_RESERVED = set(b"/!*'();:@&=+$,?%#[] ")
UNRESERVED = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~")


def sender_urlencode(raw: bytes) -> bytes:
    return b"".join(b"%%%02X" % c if c in URLENCODE_RESERVED else bytes([c]) for c in raw)


def path_encode(raw: bytes) -> bytes:
    return b"".join(bytes([c]) if c in UNRESERVED else b"%%%02X" % c for c in raw)


def encipher_token(plain: str) -> str:
    """AES-128-ECB with zero padding under the token key, in Base64."""
    data = plain.encode("utf-8")
    data += b"\0" * (-len(data) % 16)
    key = TOKEN_KEY.encode("ascii").hex()
    out = subprocess.run(["openssl", "enc", "-aes-128-ecb", "-nopad", "-K", key],
                         input=data, stdout=subprocess.PIPE, check=True).stdout
    return base64.b64encode(out).decode("ascii")


class Request:
    def __init__(self, method, target, version, headers, body):
        self.method, self.target, self.version = method, target, version
        self.headers = headers  # list of (name, value) in order, as received
        self.body = body
        # The client closed before its stated body was all there: a request
        # it gave up (cancelled), not one it sent wrongly.
        self.aborted = False

    def all(self, name):
        return [v for n, v in self.headers if n.lower() == name.lower()]

    def one(self, name):
        v = self.all(name)
        return v[0] if v else None


def read_request(conn, buf):
    """One request from conn (buf holds bytes already read); None at EOF."""
    while b"\r\n\r\n" not in buf:
        if len(buf) > MAX_HEAD:
            raise ValueError("request head too large")
        chunk = conn.recv(65536)
        if not chunk:
            return None, buf
        buf += chunk
    head, _, rest = buf.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    method, target, version = (lines[0].split(" ", 2) + ["", ""])[:3]
    headers = []
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.append((name, value.strip()))
    lengths = [v for n, v in headers if n.lower() == "content-length"]
    length = 0
    # CONNECT carries no body, whatever lines came with it (some clients
    # copy the tunnelled request's Content-Length onto it).
    if lengths and method != "CONNECT":
        try:
            length = int(lengths[0].split(";")[0])
        except ValueError:
            length = 0
    length = max(0, min(length, MAX_BODY))
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    body, rest = rest[:length], rest[length:]
    req = Request(method, target, version, headers, body)
    req.aborted = len(body) < length
    return req, rest


def response(status, body=b"", content_type=None, extra=(), length=None, reason=None):
    reasons = {200: "OK", 204: "No Content", 401: "Unauthorized", 404: "Not Found",
               407: "Proxy Authentication Required", 500: "Internal Server Error",
               403: "Forbidden"}
    lines = ["HTTP/1.1 %d %s" % (status, reason or reasons.get(status, "Status"))]
    if content_type:
        lines.append("Content-Type: " + content_type)
    if status != 204:
        lines.append("Content-Length: %d" % (len(body) if length is None else length))
    lines.extend(extra)
    lines.append("Connection: close")
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + (b"" if status == 204 else body)


# ---------------------------------------------------------------- request checks

OPS = {
    ("POST", "v2/dev_init"): 0,
    ("POST", "v2/service"): 9,
    ("PUT", "v2/service"): 10,
    ("GET", "v2/service/"): 11,
    ("DELETE", "v2/service/"): 12,
    ("POST", "v3/relay"): 13,
    ("GET", "v3/service/"): 14,
}


def origin_form(target):
    """The path of an absolute-form target for the backend host (some
    clients send the whole URL inside a proxy tunnel); None for another host."""
    if target.startswith("/"):
        return target
    url = urllib.parse.urlsplit(target)
    if url.scheme != "https" or url.hostname != BACKEND_HOST or url.port not in (None, 443):
        return None
    return (url.path or "/") + ("?" + url.query if url.query else "")


def identify(req):
    if req.target.startswith("/test/"):
        return "test", req.target[len("/test/"):]
    if not req.target.startswith(BASE):
        return None, ""
    rest = req.target[len(BASE):]
    if req.method == "GET" and rest in ("v2/", "v3/"):
        return "proxy-test", ""
    for (method, prefix), op in OPS.items():
        if req.method != method:
            continue
        if prefix.endswith("/") and rest.startswith(prefix) and len(rest) > len(prefix):
            return op, rest[len(prefix):]
        if rest == prefix:
            return op, ""
    return None, rest


def check_request(req, op, segment, expect_agent):
    """The violations of one backend request."""
    v = []
    agent = req.one("User-Agent")
    if expect_agent is not None:
        if agent != expect_agent:
            v.append("agent %r, expected %r" % (agent, expect_agent))
    elif not agent or not AGENT_RE.match(agent):
        v.append("agent %r" % agent)
    auth = "Basic " + base64.b64encode(
        ("%s:%s" % (ACCOUNT_EMAIL, ACCOUNT_PASSWORD)).encode()).decode()
    content_type = {0: FORM, 9: FORM, 10: FORM, 11: FORM, 12: FORM,
                    13: "application/x-www-form-urlencoded", 14: None}[op]
    expected = [("Accept", "*/*")]
    if content_type:
        expected.append(("Content-Type", content_type))
    if op != 0:
        expected.append(("Authorization", auth))
    expected.append(("Accept-Language", "en-US"))
    if req.body:
        expected.append(("Content-Length", str(len(req.body))))
    ours = {n.lower() for n, _ in expected} | {"content-length"}
    got = [(n, val) for n, val in req.headers if n.lower() in ours]
    if [(n.lower(), val) for n, val in got] != [(n.lower(), val) for n, val in expected]:
        v.append("header lines %r, expected %r" % (got, expected))
    if len(req.all("Content-Length")) > 1:
        v.append("%d Content-Length lines" % len(req.all("Content-Length")))
    body = req.body

    def form(names):
        parts = body.split(b"&")
        keys = [p.split(b"=", 1)[0] for p in parts]
        if keys != [n.encode() for n in names] or any(b"=" not in p for p in parts):
            v.append("form %r, expected fields %r" % (body, names))
            return None
        values = {}
        for p in parts:
            k, _, raw = p.partition(b"=")
            decoded = urllib.parse.unquote_to_bytes(raw)
            if sender_urlencode(decoded) != raw:
                v.append("field %s not encoded as the sender encodes: %r" % (k, raw))
            values[k.decode()] = decoded
        return values

    hexid = re.compile(rb"^[0-9a-f]{32}$")
    if op == 0:
        f = form(["dev_name", "dev_uuid", "platform"])
        if f is not None:
            if not f["dev_name"]:
                v.append("empty dev_name")
            if not hexid.match(f["dev_uuid"]):
                v.append("dev_uuid %r" % f["dev_uuid"])
            if not re.match(rb"^Windows/\d+\.\d+$", f["platform"]):
                v.append("platform %r" % f["platform"])
    elif op == 9:
        f = form(["service_id", "mode", "kind", "dev_uuid"])
        if f is not None:
            if (f["service_id"], f["mode"], f["kind"]) != (b"6", b"2", b"2"):
                v.append("service fields %r" % body)
            if not hexid.match(f["dev_uuid"]):
                v.append("dev_uuid %r" % f["dev_uuid"])
    elif op == 10:
        f = form(["token", "status", "desc"])
        if f is not None:
            if not f["token"] or f["status"] != b"1":
                v.append("update fields %r" % body)
    elif op == 13:
        f = form(["dev_uuid"])
        if f is not None and not hexid.match(f["dev_uuid"]):
            v.append("dev_uuid %r" % f["dev_uuid"])
    elif op in (11, 12, 14):
        raw_seg = segment.encode("latin-1")
        token = urllib.parse.unquote_to_bytes(raw_seg)
        if path_encode(token) != raw_seg:
            v.append("path segment %r not fully percent-encoded" % raw_seg)
        if sender_urlencode(token) != body:
            v.append("body %r is not the encoded token %r" % (body, token))
        if not token:
            v.append("empty token")
    return v


# ---------------------------------------------------------------- the peer

class State:
    """Everything the control can change, under one lock."""

    def __init__(self, certs):
        self.lock = threading.Lock()
        self.certs = certs
        self.contexts = {}
        self.all_requests = []
        for name, (pem, key) in certs.items():
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.minimum_version = ssl.TLSVersion.TLSv1_2
            ctx.load_cert_chain(pem, key)
            self.contexts[name] = ctx
        self.reset()

    def reset(self):
        with self.lock:
            self.mode = "normal"
            self.mode_ops = None  # None: every operation
            self.cert = "good"
            self.tokens = {}
            self.expect_agent = None
            self.requests = []
            self.tls_failures = 0
            self.connections = 0
            self.meeting_token = "MT-0001"
            self.relay_port = 443

    def mode_for(self, op):
        with self.lock:
            if self.mode_ops is None or op in self.mode_ops:
                return self.mode
            return "normal"


def xml(text):
    return ('<?xml version="1.0" encoding="utf-8"?>' + text).encode("utf-8")


def normal_reply(state, op, token):
    xml_type = "text/xml; charset=utf-8"
    json_type = "application/json; charset=utf-8"
    if op == 0:
        return response(200, xml("<result>ok</result>"), xml_type)
    if op == 9:
        return response(200, xml('<service token="%s" status="1"/>' % state.meeting_token), xml_type)
    if op == 10:
        return response(200, xml('<service status="1"/>'), xml_type)
    if op == 11:
        return response(200, xml("<service><duration>30</duration></service>"), xml_type)
    if op == 12:
        return response(200, xml("<service/>"), xml_type)
    if op == 13:
        body = {"result": 0, "messages": [], "data": {"relay_info": {
            "ip_addr": "127.0.0.9", "port": state.relay_port, "fqdn": "relay.tessarine.invalid",
            "relay_key_smc": "rk-1"}}}
        return response(200, json.dumps(body).encode(), json_type)
    # op 14
    with state.lock:
        desc = state.tokens.get(token)
    if desc is None:
        body = {"result": 30404, "messages": ["Unknown connection ID"], "data": {}}
        return response(404, json.dumps(body).encode(), json_type)
    body = {"result": 0, "messages": [], "data": {
        "token": token, "category": "601", "info": {"desc": desc}}}
    return response(200, json.dumps(body).encode(), json_type)


def test_reply(req, target):
    """Plain answers for the HTTP client's own tests (no wire-format checks):
    body?size=N[&charset=C]   N bytes of digits
    text?charset=C            "K<o-umlaut>ln" as UTF-8 bytes, C in the Content-Type when given
    html-open, html-whole     an HTML page without or with its closing tag
    echo[?html=open]          the request's header lines and body as JSON (after an
                              opening html tag with html=open)
    hold?seconds=S            "held", after holding the reply back S seconds
    """
    url = urllib.parse.urlsplit(target)
    q = dict(urllib.parse.parse_qsl(url.query))
    ctype = "text/plain" + ("; charset=" + q["charset"] if "charset" in q else "")
    if url.path == "body":
        n = int(q.get("size", "0"))
        return response(200, (b"0123456789" * (n // 10 + 1))[:n], ctype)
    if url.path == "text":
        return response(200, "K\u00f6ln".encode("utf-8"), ctype)
    if url.path == "hold":
        time.sleep(min(float(q.get("seconds", "30")), 120.0))
        return response(200, b"held", "text/plain")
    if url.path == "html-open":
        return response(200, b"<html><body>cut short", "text/html")
    if url.path == "html-whole":
        return response(200, b"<html><body>whole</body></html>", "text/html")
    if url.path == "echo":
        body = json.dumps({"method": req.method, "headers": req.headers,
                           "body": req.body.decode("latin-1")}).encode()
        if q.get("html") == "open":  # makes a GET try again
            return response(200, b"<html>" + body, "text/html")
        return response(200, body, "application/json")
    return response(404, b"no such test page", "text/plain")


class PeerHandler(socketserver.BaseRequestHandler):
    def handle(self):
        state = self.server.state
        raw = self.request
        raw.settimeout(30)
        with state.lock:
            state.connections += 1
            ctx = state.contexts[state.cert]
            silent_tls = state.mode == "silent-tls"
        if silent_tls:
            self.hold(raw)
            return
        try:
            conn = ctx.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            with state.lock:
                state.tls_failures += 1
            return
        # One request per connection (each answer says "Connection: close"):
        # a certificate switched by the control then meets the next request,
        # not a kept connection.
        try:
            req, _ = read_request(conn, b"")
            if req is not None:
                self.serve(conn, req)
        except (OSError, ValueError, ssl.SSLError):
            return
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def hold(self, conn, seconds=60):
        end = time.monotonic() + seconds
        try:
            conn.settimeout(0.5)
            while time.monotonic() < end and not self.server.stopping:
                try:
                    if not conn.recv(65536):
                        return
                except socket.timeout:
                    continue
        except OSError:
            return

    def serve(self, conn, req):
        """Answers one request; False ends the connection."""
        state = self.server.state
        sent_target = req.target
        path = origin_form(req.target)
        req.target = path if path is not None else "<other host>"
        op, segment = identify(req)
        entry = {"method": req.method, "target": req.target, "sent_target": sent_target,
                 "op": op,
                 "headers": req.headers, "body": req.body.decode("latin-1"),
                 "agent": req.one("User-Agent"), "violations": [], "aborted": req.aborted}
        if req.aborted:
            # Nothing to check and nothing to answer: the client is gone.
            with state.lock:
                state.requests.append(entry)
                state.all_requests.append(entry)
            return False
        if op is None:
            entry["violations"].append("unknown request %s %s" % (req.method, req.target))
        elif isinstance(op, int):
            with state.lock:
                expect_agent = state.expect_agent
            entry["violations"] = check_request(req, op, segment, expect_agent)
        token = urllib.parse.unquote(segment) if op in (11, 12, 14) else ""
        mode = state.mode_for(op) if isinstance(op, int) else "normal"
        entry["mode"] = mode
        with state.lock:
            state.requests.append(entry)
            state.all_requests.append(entry)
        if op is None:
            conn.sendall(response(404, b"no such operation", "text/plain"))
            return True
        if op == "proxy-test":
            conn.sendall(response(200, b"test ok", "text/plain"))
            return True
        if op == "test":
            conn.sendall(test_reply(req, segment))
            return True
        return self.reply(conn, req, op, token, mode)

    def reply(self, conn, req, op, token, mode):
        state = self.server.state
        if mode == "silent":
            self.hold(conn)
            return False
        if mode.startswith("status-"):
            status = int(mode[7:])
            body = b"" if status == 204 else json.dumps(
                {"result": 30000 + status, "messages": ["status %d" % status]}).encode()
            conn.sendall(response(status, body, "application/json"))
            return True
        if mode == "trickle":
            body = b"x" * 200
            conn.sendall(response(200, b"", "text/plain", length=len(body)))
            return self.trickle(conn, body)
        if mode == "trickle-headers":
            return self.trickle(conn, response(200, b"late", "text/plain"))
        if mode == "oversized":
            size = 2 * 1024 * 1024
            conn.sendall(response(200, b"", "application/json", length=size))
            chunk = b"a" * 65536
            try:
                for _ in range(size // len(chunk)):
                    conn.sendall(chunk)
            except OSError:
                pass
            return False
        if mode == "close-mid-reply":
            full = normal_reply(state, op, token)
            head, _, body = full.partition(b"\r\n\r\n")
            head = re.sub(rb"Content-Length: \d+", b"Content-Length: 1000", head)
            conn.sendall(head + b"\r\n\r\n" + body[:20])
            time.sleep(0.2)
            return False
        if mode == "cutoff-html" and req.method == "GET":
            conn.sendall(response(200, b"<html><body>the page was cut", "text/html; charset=utf-8"))
            return True
        if mode == "malformed":
            if op in (13, 14):
                conn.sendall(response(200, b'{"result": 0, "data": {"token": ', "application/json"))
            else:
                conn.sendall(response(200, b'<service token="MT-9"', "text/xml"))
            return True
        if mode == "wrong-types" and op in (13, 14):
            if op == 14:
                body = {"result": "zero", "messages": [42], "data": {
                    "token": {"a": 1}, "category": 601, "info": {"desc": 7}}}
            else:
                body = {"result": 0, "messages": [], "data": {"relay_info": {
                    "ip_addr": 1, "port": "x", "fqdn": [], "relay_key_smc": {}}}}
            conn.sendall(response(200, json.dumps(body).encode(), "application/json"))
            return True
        conn.sendall(normal_reply(state, op, token))
        return True

    def trickle(self, conn, data):
        try:
            for i in range(len(data)):
                if self.server.stopping:
                    return False
                conn.sendall(data[i:i + 1])
                time.sleep(0.5)
        except OSError:
            pass
        return False


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, handler, **attrs):
        self.stopping = False
        for k, v in attrs.items():
            setattr(self, k, v)
        super().__init__(("127.0.0.1", 0), handler)

    @property
    def port(self):
        return self.server_address[1]

    def start(self):
        threading.Thread(target=self.serve_forever, daemon=True).start()
        return self

    def stop(self):
        self.stopping = True
        self.shutdown()
        self.server_close()


# ---------------------------------------------------------------- proxy

class ProxyHandler(socketserver.BaseRequestHandler):
    def handle(self):
        srv = self.server
        conn = self.request
        conn.settimeout(30)
        try:
            req, rest = read_request(conn, b"")
        except (OSError, ValueError):
            return
        if req is None:
            return
        entry = {"method": req.method, "target": req.target, "auth": None, "status": None,
                 "headers": req.headers}
        with srv.lock:
            srv.log.append(entry)
            demand = srv.demand_basic
        if demand:
            got = req.one("Proxy-Authorization")
            want = "Basic " + base64.b64encode(
                ("%s:%s" % (srv.user, srv.password)).encode("utf-8")).decode()
            entry["auth"] = got
            if got != want:
                entry["status"] = 407
                conn.sendall(response(407, b"auth", "text/plain",
                                      extra=['Proxy-Authenticate: Basic realm="tessarine-test"']))
                return
        if req.method == "CONNECT":
            self.connect(conn, req, entry, rest)
        else:
            self.forward(conn, req, entry)

    def target_of(self, host, port):
        srv = self.server
        if host.lower() == srv.backend_host and port == 443:
            return ("127.0.0.1", srv.peer_port)
        if host == "localhost" or host.startswith("127."):
            return (host, port)
        return None

    def connect(self, conn, req, entry, rest):
        host, _, port = req.target.rpartition(":")
        try:
            dest = self.target_of(host, int(port))
        except ValueError:
            dest = None
        if dest is None:
            entry["status"] = 403
            conn.sendall(response(403, b"refused", "text/plain"))
            return
        try:
            up = socket.create_connection(dest, timeout=10)
        except OSError:
            entry["status"] = 502
            conn.sendall(response(502, b"unreachable", "text/plain", reason="Bad Gateway"))
            return
        entry["status"] = 200
        conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        if rest:
            up.sendall(rest)
        self.pipe(conn, up)

    def forward(self, conn, req, entry):
        url = urllib.parse.urlsplit(req.target)
        host, port = url.hostname or "", url.port or 80
        if host.lower() == self.server.backend_host:
            entry["status"] = 200
            conn.sendall(response(200, b"proxied", "text/plain"))
            return
        dest = self.target_of(host, port)
        if dest is None:
            entry["status"] = 403
            conn.sendall(response(403, b"refused", "text/plain"))
            return
        path = url.path or "/"
        if url.query:
            path += "?" + url.query
        head = ["%s %s HTTP/1.1" % (req.method, path)]
        head += ["%s: %s" % (n, v) for n, v in req.headers
                 if n.lower() not in ("proxy-connection", "connection", "proxy-authorization")]
        head.append("Connection: close")
        try:
            up = socket.create_connection(dest, timeout=10)
            up.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + req.body)
        except OSError:
            entry["status"] = 502
            conn.sendall(response(502, b"unreachable", "text/plain", reason="Bad Gateway"))
            return
        entry["status"] = "forwarded"
        self.pipe(conn, up)

    def pipe(self, a, b):
        def copy(src, dst):
            try:
                while True:
                    data = src.recv(65536)
                    if not data:
                        break
                    dst.sendall(data)
            except OSError:
                pass
            for s in (dst,):
                try:
                    s.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
        a.settimeout(120)
        b.settimeout(120)
        t = threading.Thread(target=copy, args=(b, a), daemon=True)
        t.start()
        copy(a, b)
        t.join(120)
        b.close()


def make_proxy(backend_host, peer_port, name):
    return Server(ProxyHandler, backend_host=backend_host, peer_port=peer_port, name=name,
                  lock=threading.Lock(), log=[], demand_basic=False, user="", password="")


# ---------------------------------------------------------------- PAC

PAC = """function FindProxyForURL(url, host) {
  if (host == "%(host)s" && url.substring(0, 8) == "https://")
    return "PROXY 127.0.0.1:%(port)d";
  return "DIRECT";
}
"""


class PacHandler(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            req, _ = read_request(self.request, b"")
        except (OSError, ValueError):
            return
        if req is None:
            return
        with self.server.lock:
            self.server.fetches += 1
        body = (PAC % {"host": self.server.backend_host, "port": self.server.proxy_port}).encode()
        self.request.sendall(response(200, body, "application/x-ns-proxy-autoconfig"))


# ---------------------------------------------------------------- control

class ControlHandler(socketserver.StreamRequestHandler):
    def handle(self):
        for line in self.rfile:
            try:
                cmd = json.loads(line)
                answer = self.server.control.handle(cmd)
            except Exception as e:  # the test sees what went wrong
                answer = {"error": "%s: %s" % (type(e).__name__, e)}
            self.wfile.write((json.dumps(answer) + "\n").encode())
            self.wfile.flush()


class Control:
    def __init__(self, state, proxies, pac):
        self.state, self.proxies, self.pac = state, proxies, pac

    def handle(self, cmd):
        st = self.state
        c = cmd.get("cmd")
        if c == "reset":
            st.reset()
            for p in self.proxies.values():
                with p.lock:
                    p.log.clear()
                    p.demand_basic = False
            return {"ok": True}
        if c == "mode":
            if cmd["mode"] not in MODES:
                return {"error": "unknown mode"}
            with st.lock:
                st.mode = cmd["mode"]
                st.mode_ops = set(cmd["ops"]) if cmd.get("ops") else None
            return {"ok": True}
        if c == "cert":
            with st.lock:
                st.cert = cmd["which"]
            return {"ok": True}
        if c == "token":
            desc = cmd["raw"] if "raw" in cmd else encipher_token(
                cmd["text"] if "text" in cmd else json.dumps(cmd["token"]))
            with st.lock:
                st.tokens[cmd["id"]] = desc
            return {"ok": True, "desc": desc}
        if c == "agent":
            with st.lock:
                st.expect_agent = cmd.get("expect")
            return {"ok": True}
        if c == "set":
            with st.lock:
                if "meeting_token" in cmd:
                    st.meeting_token = cmd["meeting_token"]
                if "relay_port" in cmd:
                    st.relay_port = cmd["relay_port"]
            return {"ok": True}
        if c == "log":
            with st.lock:
                return {"requests": list(st.requests), "tls_failures": st.tls_failures,
                        "connections": st.connections}
        if c == "proxy-log":
            p = self.proxies[cmd["which"]]
            with p.lock:
                return {"requests": list(p.log)}
        if c == "proxy-auth":
            p = self.proxies[cmd["which"]]
            with p.lock:
                p.demand_basic = cmd.get("basic", False)
                p.user, p.password = cmd.get("user", ""), cmd.get("password", "")
            return {"ok": True}
        if c == "pac-fetches":
            with self.pac.lock:
                return {"fetches": self.pac.fetches}
        return {"error": "unknown command %r" % c}
