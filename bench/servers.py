"""The benchmark's local servers: one nginx and the paced links in front of it.

The certificates, free-port choice and process helpers are the integration
tests' (tests/servers/test_servers.py); only the nginx configuration is the
benchmark's own, because it serves the large benchmark files, needs an HTTP/2
port limited per stream, and must not start the fault server or the forward
proxy. Everything listens on 127.0.0.1, is a child of the benchmark (it gets
SIGTERM if the benchmark dies) and stops by itself after `lifetime` seconds.
"""

import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "servers"))
import test_servers  # noqa: E402  (certificates and process helpers)

# Per-stream limit of nginx's throttled port, and the default per-connection
# rate of a paced link.
LIMIT_RATE = "1M"
LIMIT_BYTES_PER_S = 1024 * 1024

NGINX_CONF = r"""
worker_processes 1;
daemon off;
{user}
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 1024; }}
http {{
    # One line per request; the benchmark counts distinct $connection values
    # per port and run to see how many TCP connections a tool opened.
    log_format bench '$connection $connection_requests $server_port $status '
                     '$body_bytes_sent $server_protocol "$request" "$http_range"';
    access_log {dir}/access.log bench;
    client_body_temp_path {dir}/temp/body;
    proxy_temp_path {dir}/temp/proxy;
    fastcgi_temp_path {dir}/temp/fastcgi;
    uwsgi_temp_path {dir}/temp/uwsgi;
    scgi_temp_path {dir}/temp/scgi;
    types {{ }}
    default_type application/octet-stream;
    server_tokens off;
    sendfile on;
    tcp_nopush on;
    # Every part of a 256 MiB file may travel over one connection.
    keepalive_timeout 300s;
    keepalive_requests 100000;
    ssl_certificate {cert};
    ssl_certificate_key {key};
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_session_cache shared:bench:1m;
    # Repr-Digest of a served file, when the benchmark names one in
    # {dir}/repr-digest*.map (the launch timing does; nginx reloads it).
    map $uri $repr_digest {{
        default "";
        include {dir}/repr-digest*.map;
    }}
    add_header Repr-Digest $repr_digest;

    server {{
        listen 127.0.0.1:{http};
        root {data};
    }}
    server {{
        listen 127.0.0.1:{https} ssl;
        root {data};
    }}
    server {{
        listen 127.0.0.1:{h2} ssl http2;
        root {data};
    }}
    server {{
        # HTTP/2 with nginx's own limit, which applies to each stream.
        listen 127.0.0.1:{h2_stream} ssl http2;
        root {data};
        limit_rate {limit};
    }}
}}
"""


def issue_server_certificate(state, ca_pem):
    """A server certificate from the tests' CA that axel 2.17 also accepts.

    axel matches only DNS-type names and takes a name without a dot for a
    malformed certificate, so "localhost" never matches and an IP entry is
    ignored; a DNS entry spelled "127.0.0.1" satisfies it. The IP entry keeps
    every other client on the standard rule."""
    d = os.path.join(state, "certs")
    key, csr, pem, ext = (os.path.join(d, "bench-server" + suffix)
                          for suffix in (".key", ".csr", ".pem", ".ext"))
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\n"
                "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    test_servers.openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                         "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1")
    test_servers.openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", os.path.join(d, "ca.key"),
                         "-CAcreateserial", "-out", pem, "-days", "30", "-extfile", ext)
    return {"cert": pem, "key": key}


class Link:
    """A paced proxy in front of an nginx port: rate in bytes per second per
    connection and direction, round trip in ms, largest write in bytes, and
    the port to listen on (0: a free one)."""

    def __init__(self, target, rtt_ms=0, rate=LIMIT_BYTES_PER_S, slice=16 * 1024, port=0):
        self.target, self.rtt_ms, self.rate, self.slice = target, rtt_ms, rate, slice
        self.port = port


class Servers:
    """Starts nginx and the pacing proxies; `stop()` (or the lifetime) ends them."""

    def __init__(self, state, data_dir, lifetime):
        self.state = os.path.abspath(state)
        self.data_dir = os.path.abspath(data_dir)
        self.lifetime = int(lifetime)
        self.nginx = None
        self.proxies = {}       # name -> (process, port, accept log)
        self.ports = {}
        self.certs = None

    @property
    def access_log(self):
        return os.path.join(self.state, "nginx", "access.log")

    def start(self, links):
        """links: {name: Link}, each a paced proxy in front of an nginx port."""
        os.makedirs(self.state, exist_ok=True)
        self.certs = test_servers.make_certificates(self.state)
        self.certs.update(issue_server_certificate(self.state, self.certs["ca"]))
        self._start_nginx()
        for name, link in links.items():
            self._start_proxy(name, self.ports[link.target], link)

    def _start_nginx(self):
        d = os.path.join(self.state, "nginx")
        for sub in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
            os.makedirs(os.path.join(d, "temp", sub), exist_ok=True)
        for attempt in range(8):
            ports = {k: test_servers.free_port(False) for k in ("http", "https", "h2", "h2_stream")}
            conf = NGINX_CONF.format(
                user="user root;" if os.geteuid() == 0 else "", dir=d, data=self.data_dir,
                cert=self.certs["cert"], key=self.certs["key"], limit=LIMIT_RATE.lower(), **ports)
            path = os.path.join(d, "nginx.conf")
            with open(path, "w") as f:
                f.write(conf)
            process = test_servers.spawn(
                ["timeout", str(self.lifetime), "nginx", "-p", d + "/",
                 "-e", os.path.join(d, "error.log"), "-c", path],
                os.path.join(d, "stderr.log"))
            if test_servers.wait_until_up(process, ports.values()):
                self.nginx, self.ports = process, ports
                return
            test_servers.stop_process(process)
            print("bench: nginx did not come up (attempt %d), trying other ports" % (attempt + 1),
                  file=sys.stderr)
        raise RuntimeError("nginx does not start; see %s/error.log and stderr.log" % d)

    def _start_proxy(self, name, target_port, link):
        d = os.path.join(self.state, "links")
        os.makedirs(d, exist_ok=True)
        port_file = os.path.join(d, name + ".port")
        accept_log = os.path.join(d, name + ".accepts")
        stats_log = os.path.join(d, name + ".stats")
        for path in (port_file, accept_log, stats_log):
            if os.path.exists(path):
                os.remove(path)
        process = test_servers.spawn(
            [sys.executable, os.path.join(HERE, "pacing_proxy.py"),
             "--port", str(link.port), "--target-port", str(target_port),
             "--rate", str(link.rate), "--rtt-ms", str(link.rtt_ms),
             "--slice", str(link.slice), "--port-file", port_file, "--accept-log", accept_log,
             "--stats-log", stats_log, "--lifetime", str(self.lifetime)],
            os.path.join(d, name + ".log"))
        deadline = time.monotonic() + 10
        while not os.path.exists(port_file):
            if process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("pacing proxy %s does not start; see %s/%s.log" % (name, d, name))
            time.sleep(0.02)
        with open(port_file) as f:
            port = int(f.read())
        self.proxies[name] = (process, port, accept_log, stats_log)
        self.ports[name] = port

    def proxy_pid(self, name):
        return self.proxies[name][0].pid

    def proxy_accepts(self, name):
        try:
            with open(self.proxies[name][2]) as f:
                return sum(1 for _ in f)
        except FileNotFoundError:
            return 0

    def proxy_stats_log(self, name):
        return self.proxies[name][3]

    def reload_nginx(self):
        """Makes nginx read its configuration (and the digest maps) again."""
        with open(os.path.join(self.state, "nginx", "nginx.pid")) as f:
            os.kill(int(f.read()), signal.SIGHUP)

    def stop(self):
        for process, *_ in self.proxies.values():
            test_servers.stop_process(process)
        test_servers.stop_process(self.nginx)
        self.proxies = {}
        self.nginx = None


def cpu_seconds(pid):
    """user+sys CPU seconds of a running process, from /proc."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks


def connections_since(access_log, offset, port):
    """(distinct connections, requests, new offset) of log lines after `offset` for `port`."""
    connections, requests = set(), 0
    with open(access_log, "rb") as f:
        f.seek(offset)
        chunk = f.read()
    for line in chunk.splitlines():
        fields = line.split(b" ", 3)
        if len(fields) >= 3 and fields[2] == str(port).encode():
            connections.add(fields[0])
            requests += 1
    return len(connections), requests, offset + len(chunk)


def log_size(path):
    try:
        return os.path.getsize(path)
    except FileNotFoundError:
        return 0


if __name__ == "__main__":
    # Manual use: python3 bench/servers.py STATE DATA_DIR -> prints ports, runs 10 minutes.
    servers = Servers(sys.argv[1], sys.argv[2], 600)
    servers.start({"conn": Link("https"), "conn-h2": Link("h2"), "rtt": Link("https", 40)})
    print(servers.ports, servers.certs["ca"], flush=True)
    try:
        time.sleep(600)
    finally:
        servers.stop()
