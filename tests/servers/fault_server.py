"""HTTP/HTTPS server that misbehaves on purpose, driven by scenario data.

A test registers a scenario (a list of rules) under an id of its own:

    POST /_control/scenario/<id>     body: {"rules": [ ... ]}

then points its client at /s/<id>/<anything>. Each request is matched against
the rules in order; the first match decides the answer. Every request is
recorded and can be read back:

    GET /_control/requests/<id>      -> {"requests": [ ... ]}

The rule keys are described in README.md next to this file. Sockets are raw so
that any byte sequence can be sent: malformed status lines, lying lengths,
bodies cut short, resets and stalls.
"""

import functools
import json
import re
import select
import socket
import socketserver
import ssl
import struct
import threading
import time

ID_RE = re.compile(r"^[A-Za-z0-9_.-]{1,200}$")
HOP_RE = re.compile(r"^_hop/(\d+)/(\d+)/(.*)$")
RANGE_RE = re.compile(r"^bytes=(\d*)-(\d*)$")
ABSOLUTE_RE = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*://[^/]*")
DEFAULT_CONTENT_RANGE = "Content-Range: bytes {first}-{last}/{size}"
ENDLESS_CHUNK = 65536
# What a paced link sends at once by default: one TCP segment's payload.
LINK_SLICE = 1448
REASONS = {200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found",
           303: "See Other", 307: "Temporary Redirect", 308: "Permanent Redirect",
           400: "Bad Request", 404: "Not Found", 407: "Proxy Authentication Required",
           410: "Gone", 416: "Range Not Satisfiable",
           500: "Internal Server Error", 503: "Service Unavailable"}
MAX_HEADER_BYTES = 65536


PATTERN_BLOCK = 1 << 20


@functools.lru_cache(maxsize=1)
def low_digits_template():
    low = b"".join(b"%05x\n" % o for o in range(0, PATTERN_BLOCK, 16))
    block = bytearray(PATTERN_BLOCK)
    for i in range(6):
        block[10 + i::16] = low[i::6]
    return bytes(block)


@functools.lru_cache(maxsize=8)
def pattern_block(index):
    """The index-th MiB of the pattern. Within one MiB every record differs
    only in its last five hex digits, so a block is a template with the high
    digits patched in by slice assignment: fast enough for 100 MB files."""
    block = bytearray(low_digits_template())
    high = b"%010x" % index
    for i in range(10):
        block[i::16] = high[i:i + 1] * (PATTERN_BLOCK // 16)
    return bytes(block)


def pattern(offset, length):
    """Bytes [offset, offset+length) of the test pattern shared with the
    generated files: every 16-byte record at offset o is o in 15 lowercase hex
    digits followed by a newline, so any byte tells where it belongs."""
    out = bytearray()
    position, end = offset, offset + max(0, length)
    while position < end:
        index, start = divmod(position, PATTERN_BLOCK)
        take = min(end - position, PATTERN_BLOCK - start)
        out += pattern_block(index)[start:start + take]
        position += take
    return bytes(out)


class Scenario:
    def __init__(self, rules):
        self.rules = rules
        self.used = [0] * len(rules)
        self.link = SharedLink()


class SharedLink:
    """One link that every paced answer of a scenario shares, as the
    connections of a download share a user's slow line. Each slice takes the
    link for slice/rate seconds in turn, so N connections get about rate/N
    bytes a second each."""

    def __init__(self):
        self.lock = threading.Lock()
        self.free_at = 0.0
        self.first_byte_at = None

    def reserve(self, size, rate, fast_after):
        """The monotonic time at which `size` bytes may go; now once the link
        has carried bytes for fast_after seconds (when given)."""
        with self.lock:
            now = time.monotonic()
            if self.first_byte_at is None:
                self.first_byte_at = now
            if fast_after is not None and now - self.first_byte_at >= fast_after:
                return now
            start = max(self.free_at, now)
            self.free_at = start + size / rate
            return start


class State:
    """Scenarios and recorded requests, shared by all connection threads."""

    def __init__(self):
        self.lock = threading.Lock()
        self.scenarios = {}
        self.requests = {}
        self.counters = {}
        self.connection_serial = 0
        self.stopping = threading.Event()

    def next_connection(self):
        with self.lock:
            self.connection_serial += 1
            return self.connection_serial

    def record(self, sid, entry):
        with self.lock:
            n = self.counters.get(sid, 0) + 1
            self.counters[sid] = n
            entry["n"] = n
            self.requests.setdefault(sid, []).append(entry)
            return n


def validate_rules(data):
    if not isinstance(data, dict) or not isinstance(data.get("rules"), list):
        raise ValueError('scenario must be an object with a "rules" list')
    for i, rule in enumerate(data["rules"]):
        if not isinstance(rule, dict):
            raise ValueError("rule %d is not an object" % i)
        known = {"request", "range", "range_start", "method", "path", "times",
                 "status", "reason", "status_line", "headers", "body", "body_size",
                 "body_offset", "ranged", "content_length", "cut_after", "reset_after",
                 "stall", "stall_after", "drip_bytes", "drip_interval", "redirects",
                 "redirect_status", "redirect_body_size", "close", "content_range",
                 "range_shift", "endless", "location", "file", "with_header",
                 "ignore_range", "link_rate", "link_slice", "link_fast_after"}
        unknown = set(rule) - known
        if unknown:
            raise ValueError("rule %d: unknown keys %s" % (i, sorted(unknown)))
        headers = rule.get("headers", [])
        if not isinstance(headers, list) or not all(isinstance(h, str) for h in headers):
            raise ValueError("rule %d: headers must be a list of header lines" % i)
    return data["rules"]


class ClientGone(Exception):
    pass


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.state = self.server.state
        self.conn_id = self.state.next_connection()
        self.conn_requests = 0
        self.buffer = b""
        self.sock = self.request

    def handle(self):
        try:
            if self.server.tls_context is not None:
                self.sock.settimeout(10)
                self.sock = self.server.tls_context.wrap_socket(self.sock, server_side=True)
                self.sock.settimeout(None)
            while not self.state.stopping.is_set():
                request = self.read_request()
                if request is None:
                    return
                self.conn_requests += 1
                if not self.dispatch(request):
                    return
        except (OSError, ClientGone, ssl.SSLError, ValueError):
            return

    def finish(self):
        try:
            self.sock.close()
        except OSError:
            pass

    # --- reading -----------------------------------------------------------

    def recv_some(self):
        while True:
            if self.state.stopping.is_set():
                raise ClientGone()
            if isinstance(self.sock, ssl.SSLSocket) and self.sock.pending():
                break
            ready, _, _ = select.select([self.sock], [], [], 0.5)
            if ready:
                break
        data = self.sock.recv(65536)
        if not data:
            raise ClientGone()
        return data

    def read_request(self):
        try:
            while b"\r\n\r\n" not in self.buffer:
                if len(self.buffer) > MAX_HEADER_BYTES:
                    return None
                self.buffer += self.recv_some()
        except ClientGone:
            return None
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        lines = head.decode("latin-1").split("\r\n")
        request_line = lines[0]
        parts = request_line.split(" ")
        if len(parts) != 3:
            return None
        headers = []
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers.append((name.strip(), value.strip()))
        length = 0
        for name, value in headers:
            if name.lower() == "content-length":
                length = int(value)
        while len(self.buffer) < length:
            self.buffer += self.recv_some()
        body, self.buffer = self.buffer[:length], self.buffer[length:]
        return {"method": parts[0], "target": parts[1], "version": parts[2],
                "request_line": request_line, "headers": headers, "body": body}

    # --- writing -----------------------------------------------------------

    def send(self, data):
        if data:
            self.sock.sendall(data)

    def reset(self):
        # SO_LINGER with a zero timeout turns close() into a TCP reset.
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        if isinstance(self.sock, ssl.SSLSocket):
            raw = socket.socket(fileno=self.sock.detach())
            raw.close()
        else:
            self.sock.close()

    def wait(self, seconds):
        """Sleeps while watching the client: returns early (raising) when it
        leaves. A negative time waits until the client leaves or shutdown."""
        deadline = None if seconds < 0 else time.monotonic() + seconds
        while True:
            if self.state.stopping.is_set():
                raise ClientGone()
            left = 0.2 if deadline is None else min(0.2, deadline - time.monotonic())
            if left <= 0:
                return
            ready, _, _ = select.select([self.sock], [], [], left)
            if ready:
                try:
                    data = self.sock.recv(65536)
                except (OSError, ssl.SSLError):
                    raise ClientGone()
                if not data:
                    raise ClientGone()
                self.buffer += data

    def reply_simple(self, status, body, content_type="text/plain", close=False):
        if isinstance(body, str):
            body = body.encode()
        head = "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n" % (
            status, REASONS.get(status, "Unknown"), content_type, len(body))
        if close:
            head += "Connection: close\r\n"
        self.send(head.encode() + b"\r\n" + body)
        return not close

    # --- dispatch ----------------------------------------------------------

    def dispatch(self, req):
        target = req["target"]
        # Absolute-form targets are what a client sends to a forward proxy:
        # the scenario named in their path answers as the proxy would.
        path = ABSOLUTE_RE.sub("", target).split("?", 1)[0]
        if path.startswith("/_control/"):
            return self.control(req, path[len("/_control/"):])
        if path.startswith("/s/"):
            sid, _, rest = path[3:].partition("/")
            if ID_RE.match(sid):
                return self.scenario_request(req, sid, rest)
        return self.reply_simple(404, "no such path\n")

    def control(self, req, what):
        kind, _, sid = what.partition("/")
        if kind == "ping":
            return self.reply_simple(200, "ok\n")
        if not ID_RE.match(sid):
            return self.reply_simple(400, "bad scenario id\n")
        if kind == "scenario" and req["method"] in ("POST", "PUT"):
            try:
                rules = validate_rules(json.loads(req["body"].decode("utf-8")))
            except (ValueError, UnicodeDecodeError) as error:
                return self.reply_simple(400, "bad scenario: %s\n" % error)
            with self.state.lock:
                self.state.scenarios[sid] = Scenario(rules)
                self.state.requests[sid] = []
                self.state.counters[sid] = 0
            return self.reply_simple(200, "ok\n")
        if kind == "scenario" and req["method"] == "DELETE":
            with self.state.lock:
                self.state.scenarios.pop(sid, None)
                self.state.requests.pop(sid, None)
                self.state.counters.pop(sid, None)
            return self.reply_simple(200, "ok\n")
        if kind == "requests" and req["method"] == "GET":
            with self.state.lock:
                recorded = list(self.state.requests.get(sid, []))
            body = json.dumps({"requests": recorded}, indent=1)
            return self.reply_simple(200, body, "application/json")
        return self.reply_simple(404, "unknown control request\n")

    def scenario_request(self, req, sid, rest):
        hop = HOP_RE.match(rest)
        entry = {
            "connection": self.conn_id,
            "connection_request": self.conn_requests,
            "tls": self.server.tls_context is not None,
            "port": self.server.server_address[1],
            "method": req["method"],
            "target": req["target"],
            "version": req["version"],
            "request_line": req["request_line"],
            "headers": [{"name": n, "value": v} for n, v in req["headers"]],
        }
        number = self.state.record(sid, entry)
        header = {n.lower(): v for n, v in req["headers"]}
        range_value = header.get("range")
        with self.state.lock:
            scenario = self.state.scenarios.get(sid)
            rule = None
            hop_count = 0
            if scenario is not None and hop:
                index = int(hop.group(1))
                if index < len(scenario.rules):
                    rule, hop_count = scenario.rules[index], int(hop.group(2))
            elif scenario is not None:
                rule_path = rest
                for index, candidate in enumerate(scenario.rules):
                    if self.matches(candidate, scenario.used[index], number, req["method"],
                                    rule_path, range_value, header):
                        scenario.used[index] += 1
                        rule = candidate
                        break
        if scenario is None:
            return self.reply_simple(404, "no scenario %s\n" % sid)
        if rule is None:
            return self.reply_simple(500, "no rule of scenario %s matches request %d\n"
                                     % (sid, number))
        redirects = int(rule.get("redirects", 0))
        if hop_count < redirects:
            return self.redirect_step(req, sid, rule, scenario, hop, rest, hop_count)
        return self.answer(req, rule, range_value, scenario.link)

    @staticmethod
    def matches(rule, used, number, method, path, range_value, header):
        if "times" in rule and used >= int(rule["times"]):
            return False
        if "request" in rule:
            wanted = rule["request"]
            wanted = wanted if isinstance(wanted, list) else [wanted]
            if number not in [int(w) for w in wanted]:
                return False
        if "method" in rule and rule["method"].upper() != method.upper():
            return False
        if "path" in rule and rule["path"] != path:
            return False
        if "range" in rule and rule["range"] != range_value:
            return False
        if "with_header" in rule and rule["with_header"].lower() not in header:
            return False
        if "range_start" in rule:
            m = RANGE_RE.match(range_value or "")
            if not m or m.group(1) == "" or int(m.group(1)) != int(rule["range_start"]):
                return False
        return True

    def redirect_step(self, req, sid, rule, scenario, hop, rest, hop_count):
        if hop:
            original = hop.group(3)
            index = int(hop.group(1))
        else:
            original = rest
            index = next(i for i, r in enumerate(scenario.rules) if r is rule)
        location = rule.get("location",
                            "/s/%s/_hop/%d/%d/%s" % (sid, index, hop_count + 1, original))
        size = int(rule.get("redirect_body_size", 20))
        status = int(rule.get("redirect_status", 302))
        body = pattern(0, size)
        head = ("HTTP/1.1 %d %s\r\nLocation: %s\r\nContent-Length: %d\r\n"
                "Content-Type: text/plain\r\n\r\n" % (status, REASONS.get(status, "Redirect"),
                                                      location, size))
        self.send(head.encode() + (b"" if req["method"] == "HEAD" else body))
        return True

    def answer(self, req, rule, range_value, link):
        status = int(rule.get("status", 200))
        headers = list(rule.get("headers", []))
        body = b""
        if "ranged" in rule or "file" in rule:
            source = pattern
            if "file" in rule:
                with open(rule["file"], "rb") as served:
                    content = served.read()
                source = lambda offset, length: content[offset:offset + length]
            size = len(content) if "file" in rule else int(rule["ranged"])
            window = parse_range(range_value, size)
            if range_value is None or rule.get("ignore_range", False):
                status, body = 200, source(0, size)
            elif window is None:
                status = 416
                headers.append("Content-Range: bytes */%d" % size)
            else:
                # A shift serves (and names) the bytes of another window of
                # the same length: a cache that aligns ranges to its blocks.
                first, last = (w + int(rule.get("range_shift", 0)) for w in window)
                status, body = 206, source(first, last - first + 1)
                content_range = rule.get("content_range", DEFAULT_CONTENT_RANGE)
                if content_range:
                    headers.append(content_range.format(first=first, last=last, size=size))
        elif "body" in rule:
            body = str(rule["body"]).encode("latin-1")
        elif "body_size" in rule:
            body = pattern(int(rule.get("body_offset", 0)), int(rule["body_size"]))

        endless = bool(rule.get("endless", False))
        length = "none" if endless else rule.get("content_length", "auto")
        close = bool(rule.get("close", False))
        if length == "auto":
            headers.append("Content-Length: %d" % len(body))
        elif length != "none":
            headers.append("Content-Length: %d" % int(length))
            # The client and we disagree about where the body ends: the
            # connection cannot carry another answer.
            close = close or int(length) != len(body)
        else:
            close = True
        if close and not any(h.lower().startswith("connection:") for h in headers):
            headers.append("Connection: close")

        if "status_line" in rule:
            status_line = rule["status_line"]
        else:
            status_line = "HTTP/1.1 %d %s" % (status, rule.get("reason",
                                                               REASONS.get(status, "Status")))
        head = (status_line + "\r\n" + "".join(h + "\r\n" for h in headers) + "\r\n").encode(
            "latin-1")
        if req["method"] == "HEAD":
            body = b""

        stall = rule.get("stall")
        stall_after = rule.get("stall_after")
        if stall is not None and stall == "forever":
            stall = -1
        if stall is not None and stall_after is None:
            self.wait(float(stall))
        self.send(head)

        if endless and req["method"] != "HEAD":
            return self.send_endless(float(rule.get("drip_interval", 0.1)),
                                     int(rule.get("drip_bytes", 0)))

        limit = len(body)
        ending = None
        if "cut_after" in rule:
            limit, ending = min(limit, int(rule["cut_after"])), "cut"
        if "reset_after" in rule:
            limit, ending = min(limit, int(rule["reset_after"])), "reset"
        sent = 0
        drip = int(rule.get("drip_bytes", 0))
        interval = float(rule.get("drip_interval", 0.1))
        stall_at = int(stall_after) if stall is not None and stall_after is not None else None
        link_rate = float(rule.get("link_rate", 0))
        link_slice = int(rule.get("link_slice", LINK_SLICE))
        link_fast_after = rule.get("link_fast_after")
        while sent < limit:
            step = limit - sent
            if drip > 0:
                step = min(step, drip)
            if stall_at is not None and sent < stall_at:
                step = min(step, stall_at - sent)
            if link_rate > 0:
                step = min(step, link_slice)
                due = link.reserve(step, link_rate,
                                   None if link_fast_after is None else float(link_fast_after))
                self.wait(max(0.0, due - time.monotonic()))
            self.send(body[sent:sent + step])
            sent += step
            if stall_at is not None and sent == stall_at:
                self.wait(float(stall))
                stall_at = None
            elif drip > 0 and sent < limit:
                self.wait(interval)
        if stall_at is not None:
            self.wait(float(stall))
        if ending == "reset":
            # Give the client a moment to read what was sent: a reset that
            # overtakes the data makes the received count a race.
            time.sleep(0.1)
            self.reset()
            return False
        if ending == "cut":
            return False
        return not close

    def send_endless(self, interval, drip):
        """Pattern bytes until the client leaves or the server stops; in
        pieces of `drip` bytes `interval` seconds apart when drip is set."""
        sent = 0
        while True:
            step = drip if drip > 0 else ENDLESS_CHUNK
            self.send(pattern(sent, step))
            sent += step
            if drip > 0:
                self.wait(interval)
            elif self.state.stopping.is_set():
                return False


def parse_range(value, size):
    """(first, last) of a single byte range, or None when unsatisfiable."""
    m = RANGE_RE.match(value or "")
    if not m or (m.group(1) == "" and m.group(2) == ""):
        return None
    if m.group(1) == "":
        count = int(m.group(2))
        if count == 0:
            return None
        return max(0, size - count), size - 1
    first = int(m.group(1))
    last = size - 1 if m.group(2) == "" else min(int(m.group(2)), size - 1)
    if first >= size or last < first:
        return None
    return first, last


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        pass  # clients that vanish mid-answer are part of the game

    def __init__(self, address, state, tls_context=None):
        self.state = state
        self.tls_context = tls_context
        super().__init__(address, Handler)


class FaultServer:
    """Plain and TLS listeners on OS-chosen loopback ports, sharing one state."""

    def __init__(self, host="127.0.0.1", cert=None, key=None):
        self.state = State()
        self.plain = Server((host, 0), self.state)
        self.tls = None
        if cert:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            context.set_alpn_protocols(["http/1.1"])
            self.tls = Server((host, 0), self.state, context)
        self.threads = []

    @property
    def http_port(self):
        return self.plain.server_address[1]

    @property
    def https_port(self):
        return self.tls.server_address[1] if self.tls else 0

    def start(self):
        for server in (self.plain, self.tls):
            if server is not None:
                thread = threading.Thread(target=server.serve_forever, args=(0.2,), daemon=True)
                thread.start()
                self.threads.append(thread)

    def stop(self):
        self.state.stopping.set()
        for server in (self.plain, self.tls):
            if server is not None:
                server.shutdown()
                server.server_close()


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    fault = FaultServer(cert=args.cert, key=args.key)
    fault.start()
    print("FAULT_HTTP_PORT=%d" % fault.http_port)
    if fault.tls:
        print("FAULT_HTTPS_PORT=%d" % fault.https_port, flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        fault.stop()
