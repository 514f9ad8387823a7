#!/usr/bin/env python3
"""Starts and stops the local test servers of the integration tests.

    test_servers.py start STATE [--lifetime SECONDS]   start in the background
    test_servers.py stop STATE                         stop what start started
    test_servers.py run STATE [--lifetime SECONDS]     foreground, Ctrl-C stops
    test_servers.py site STATE --folder DIR --include FILE
                                                       a publisher's own nginx

All servers listen on loopback only. A supervisor process owns them: it
generates the certificates and served files, runs the fault server in its own
threads and nginx, tinyproxy, two squids and a Kerberos KDC as children, writes
STATE/servers.env when everything answers, and takes everything down when it is
told to stop, when its lifetime runs out, or when the process that started it
(the test run) is gone.
"""

import argparse
import ctypes
import os
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import fault_server  # noqa: E402

PART = 524288
STANDARD_SIZES = [1, PART - 1, PART, PART + 1, 2 * PART + 100, 190 * PART + 1]
PATTERN_STAMP = "pattern-v1"
DEFAULT_LIFETIME = 45 * 60
SLOW_RATE = "64k"
MAX_REDIRECTS = 20


def log(message):
    print("[test-servers] %s" % message, flush=True)


# --- certificates ------------------------------------------------------------

def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_certificates(state):
    d = os.path.join(state, "certs")
    os.makedirs(d, exist_ok=True)
    ca_key, ca_pem = os.path.join(d, "ca.key"), os.path.join(state, "ca.pem")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *ec, "-keyout", ca_key, "-out", ca_pem + ".tmp", "-days", "30",
            "-subj", "/CN=websetup test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    key, csr, pem = (os.path.join(d, n) for n in ("server.key", "server.csr", "server.pem"))
    openssl("req", "-new", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=localhost")
    ext = os.path.join(d, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n"
                "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", csr, "-CA", ca_pem + ".tmp", "-CAkey", ca_key,
            "-CAcreateserial", "-out", pem, "-days", "30", "-extfile", ext)
    untrusted_key, untrusted = os.path.join(d, "untrusted.key"), os.path.join(d, "untrusted.pem")
    openssl("req", "-x509", *ec, "-keyout", untrusted_key, "-out", untrusted, "-days", "30",
            "-subj", "/CN=localhost",
            "-addext", "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost")
    os.replace(ca_pem + ".tmp", ca_pem)
    return {"ca": ca_pem, "cert": pem, "key": key,
            "untrusted": untrusted, "untrusted_key": untrusted_key}


# --- served files ------------------------------------------------------------

def write_pattern_file(path, size):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        for offset in range(0, size, fault_server.PATTERN_BLOCK):
            f.write(fault_server.pattern(offset, min(fault_server.PATTERN_BLOCK, size - offset)))
    os.replace(tmp, path)


def make_files(state):
    files = os.path.join(state, "www", "files")
    os.makedirs(files, exist_ok=True)
    stamp = os.path.join(files, ".stamp")
    fresh = not os.path.exists(stamp) or open(stamp).read() != PATTERN_STAMP
    for size in STANDARD_SIZES:
        path = os.path.join(files, "%d.bin" % size)
        if fresh or not os.path.exists(path) or os.path.getsize(path) != size:
            write_pattern_file(path, size)
    with open(stamp, "w") as f:
        f.write(PATTERN_STAMP)
    return files


# --- ports and processes -----------------------------------------------------

def ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def free_port(ipv6):
    """A port free on 127.0.0.1 (and ::1). Another process may take it before
    our server binds it: the callers retry with new ports on a clash."""
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
            if not ipv6:
                return port
            try:
                with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s6:
                    s6.bind(("::1", port))
                return port
            except OSError:
                continue


def port_is_free(port, ipv6):
    hosts = [(socket.AF_INET, "127.0.0.1")] + ([(socket.AF_INET6, "::1")] if ipv6 else [])
    for family, host in hosts:
        with socket.socket(family, socket.SOCK_STREAM) as s:
            # As nginx binds: connections of an earlier run still in
            # TIME_WAIT do not make the port busy.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind((host, port))
            except OSError:
                return False
    return True


def closed_port():
    """A socket bound without listening: connecting to it is refused, and
    holding it keeps anyone else from listening on that port."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    return s


def die_with_parent():
    # Children get SIGTERM if the supervisor itself is killed.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def spawn(args, logfile):
    out = open(logfile, "ab")
    return subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                            preexec_fn=die_with_parent)


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def wait_until_up(process, ports, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        if all(answers(p) for p in ports):
            return True
        time.sleep(0.05)
    return False


def stop_process(process):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


# --- nginx -------------------------------------------------------------------

# What every nginx of ours starts with: in the foreground, everything it
# writes in its own folder {dir}. The http block stays open.
NGINX_HEAD = r"""
worker_processes 1;
daemon off;
{user}
pid {dir}/nginx.pid;
error_log {dir}/error.log notice;
events {{ worker_connections 1024; }}
http {{
    client_body_temp_path {dir}/temp/body;
    proxy_temp_path {dir}/temp/proxy;
    fastcgi_temp_path {dir}/temp/fastcgi;
    uwsgi_temp_path {dir}/temp/uwsgi;
    scgi_temp_path {dir}/temp/scgi;
"""


def make_nginx_folder(d):
    for sub in ("temp/body", "temp/proxy", "temp/fastcgi", "temp/uwsgi", "temp/scgi"):
        os.makedirs(os.path.join(d, sub), exist_ok=True)


NGINX_CONF = NGINX_HEAD + r"""
    log_format fields '$connection\t$connection_requests\t$server_port\t$request\t'
                      '$http_range\t$status\t$body_bytes_sent\t$bytes_sent\t$http_user_agent';
    access_log {dir}/access.log fields;
    types {{ }}
    default_type application/octet-stream;
    server_tokens off;
    absolute_redirect off;
    # One connection must be able to carry every part of a large download.
    keepalive_timeout 300s;
    keepalive_requests 100000;
    ssl_certificate {cert};
    ssl_certificate_key {key};

    map $redirect_steps $redirect_next {{
        default "";
{redirect_map}
    }}

    # Digests announced for served paths: lines '"/files/name" "sha-256=:...:";'
    # in <state>/repr-digests.map, written before the servers start.
    map $uri $repr_digest {{
        default "";
        include {state}/repr-digest*.map;
    }}

    server {{
{listen}
        server_name localhost;
        add_header Repr-Digest $repr_digest;
        root {www};
        location /files/ {{ }}
        location ~ ^/slow/(?<slow_rate>[0-9]+[kKmM]?)/(?<slow_file>[^/]+)$ {{
            alias {www}/files/$slow_file;
            set $limit_rate $slow_rate;
        }}
        location /slow/ {{
            alias {www}/files/;
            limit_rate {slow_rate};
        }}
        location ~ ^/redirect/(?<redirect_steps>[0-9]+)/(?<redirect_file>.+)$ {{
            if ($redirect_next = "") {{ return 404; }}
            return 302 $redirect_next/$redirect_file;
        }}
    }}

    server {{
{listen_untrusted}
        server_name localhost;
        ssl_certificate {untrusted};
        ssl_certificate_key {untrusted_key};
        root {www};
    }}
}}
"""


NGINX_PORT_NAMES = ("http", "https", "h2", "untrusted")


def start_nginx(state, certs, ipv6, base_port=0):
    """With base_port, nginx listens on that port and the next three, in the
    order of NGINX_PORT_NAMES, or fails at once when one is taken: a caller
    that fixes its ports (the demo) builds them into a program."""
    d = os.path.join(state, "nginx")
    make_nginx_folder(d)
    for attempt in range(1 if base_port else 8):
        if base_port:
            ports = {k: base_port + i for i, k in enumerate(NGINX_PORT_NAMES)}
            taken = [p for p in ports.values() if not port_is_free(p, ipv6)]
            if taken:
                raise RuntimeError("port %d on the loopback address is in use by another "
                                   "program; choose other ports" % taken[0])
        else:
            ports = {k: free_port(ipv6) for k in NGINX_PORT_NAMES}
        hosts = ["127.0.0.1"] + (["[::1]"] if ipv6 else [])

        def listen(port, extra=""):
            return "\n".join("        listen %s:%d%s;" % (h, port, extra) for h in hosts)

        conf = NGINX_CONF.format(
            user="user root;" if os.geteuid() == 0 else "",
            dir=d, state=state, www=os.path.join(state, "www"), cert=certs["cert"], key=certs["key"],
            untrusted=certs["untrusted"], untrusted_key=certs["untrusted_key"],
            slow_rate=SLOW_RATE,
            redirect_map="\n".join("        %d %s;" % (n, "/files" if n == 1 else
                                                       "/redirect/%d" % (n - 1))
                                   for n in range(1, MAX_REDIRECTS + 1)),
            listen="\n".join([listen(ports["http"]), listen(ports["https"], " ssl"),
                              listen(ports["h2"], " ssl http2")]),
            listen_untrusted=listen(ports["untrusted"], " ssl"))
        path = os.path.join(d, "nginx.conf")
        with open(path, "w") as f:
            f.write(conf)
        process = spawn(["nginx", "-p", d + "/", "-e", os.path.join(d, "error.log"),
                         "-c", path], os.path.join(d, "stderr.log"))
        if wait_until_up(process, ports.values()):
            return process, ports
        stop_process(process)
        log("nginx did not come up (attempt %d), trying other ports" % (attempt + 1))
    raise RuntimeError("nginx does not start; see %s/error.log and stderr.log" % d)


# --- a publisher's site ------------------------------------------------------

SITE_CONF = NGINX_HEAD + r"""
    access_log {dir}/access.log;
    default_type application/octet-stream;
    server_tokens off;
    server {{
        listen 127.0.0.1:{port} ssl;
        server_name localhost;
        ssl_certificate {cert};
        ssl_certificate_key {key};
        root {www};
        include {include};
    }}
}}
"""


def serve_site(state, folder, include, lifetime):
    """nginx alone, serving FOLDER/www over TLS with the running servers'
    certificate (which test programs trust) and the configuration file INCLUDE
    inside its server block: a publisher's server, configured with what the
    publisher was told to add, rather than with the shared nginx's own rules.
    Prints SITE_PORT=<port> once it answers; runs until it is killed (nginx
    goes with it) or its lifetime ends."""
    d = os.path.join(folder, "nginx")
    make_nginx_folder(d)
    certs = os.path.join(state, "certs")
    for signal_number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signal_number, lambda number, _frame: sys.exit(128 + number))
    for attempt in range(8):
        port = free_port(False)
        path = os.path.join(d, "nginx.conf")
        with open(path, "w") as f:
            f.write(SITE_CONF.format(
                user="user root;" if os.geteuid() == 0 else "", dir=d, port=port,
                cert=os.path.join(certs, "server.pem"), key=os.path.join(certs, "server.key"),
                www=os.path.join(folder, "www"), include=os.path.abspath(include)))
        process = spawn(["nginx", "-p", d + "/", "-e", os.path.join(d, "error.log"), "-c", path],
                        os.path.join(d, "stderr.log"))
        try:
            if wait_until_up(process, [port]):
                print("SITE_PORT=%d" % port, flush=True)
                process.wait(lifetime or None)
                return 0
        except subprocess.TimeoutExpired:
            return 0
        finally:
            stop_process(process)
        log("site nginx did not come up (attempt %d), trying another port" % (attempt + 1))
    log("site nginx does not start; see %s/error.log and stderr.log" % d)
    return 1


# --- tinyproxy ---------------------------------------------------------------

PROXY_REFUSED_MARKER = "refused-by-proxy"


def start_tinyproxy(state, connect_ports):
    d = os.path.join(state, "tinyproxy")
    os.makedirs(d, exist_ok=True)
    logfile = os.path.join(d, "tinyproxy.log")
    # A proxy that blocks some sites (403 "Filtered") yet carries the rest.
    filter_file = os.path.join(d, "filter")
    with open(filter_file, "w") as f:
        f.write(PROXY_REFUSED_MARKER + "\n")
    for attempt in range(8):
        port = free_port(False)
        lines = ["Port %d" % port, "Listen 127.0.0.1", "Timeout 600",
                 'LogFile "%s"' % logfile, "LogLevel Info",
                 'PidFile "%s"' % os.path.join(d, "tinyproxy.pid"), "MaxClients 100",
                 "Allow 127.0.0.1", 'Filter "%s"' % filter_file, "FilterURLs On"]
        lines += ["ConnectPort %d" % p for p in connect_ports]
        path = os.path.join(d, "tinyproxy.conf")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        # tinyproxy loses the parent-death signal (it changes its credentials),
        # so a guard process ties it to the supervisor instead.
        process = spawn([sys.executable, os.path.abspath(__file__), "guard", str(os.getpid()),
                         "tinyproxy", "-d", "-c", path], os.path.join(d, "stderr.log"))
        if wait_until_up(process, [port]):
            return process, port, logfile
        stop_process(process)
        log("tinyproxy did not come up (attempt %d), trying another port" % (attempt + 1))
    raise RuntimeError("tinyproxy does not start; see %s" % d)


# --- squid and Kerberos ------------------------------------------------------

# The one user of the squid that asks for Basic credentials; the password has
# characters that a proxy URL must percent-encode.
SQUID_USER = "websetup"
SQUID_PASSWORD = "s3cr:et@pw"

# A realm of the tests' own: its KDC on loopback, the user with a ticket in a
# credential cache of the state folder, and squid's service key. libcurl asks
# for HTTP/<the proxy's host name>, so clients name that squid "localhost".
KERBEROS_REALM = "WEBSETUP.TEST"
KERBEROS_USER = "alice"
KERBEROS_SERVICE = "HTTP/localhost"
# Only kinit uses it, once, when the servers start.
KERBEROS_PASSWORD = "kerberos-pw"

SQUID_CONF = """http_port 127.0.0.1:{port}
pid_filename none
access_log stdio:{dir}/access.log squid
cache_log {dir}/cache.log
cache_store_log none
cache deny all
coredump_dir {dir}
{auth}
acl authenticated proxy_auth REQUIRED
http_access deny !authenticated
http_access allow all
shutdown_lifetime 0 seconds
"""


def start_squid(state, name, auth, prepare):
    """A forward proxy that carries nothing without credentials: `auth` is its
    auth_param lines ({dir} is its folder), `prepare(dir)` writes what they
    need."""
    d = os.path.join(state, name)
    os.makedirs(d, exist_ok=True)
    # squid started as root works as its own user, which writes the logs here.
    os.chmod(d, 0o777)
    prepare(d)
    for attempt in range(8):
        port = free_port(False)
        path = os.path.join(d, "squid.conf")
        with open(path, "w") as f:
            f.write(SQUID_CONF.format(port=port, dir=d, auth=auth.format(dir=d)))
        # Like tinyproxy, squid changes its credentials and loses the
        # parent-death signal.
        process = spawn([sys.executable, os.path.abspath(__file__), "guard", str(os.getpid()),
                         "squid", "-N", "-f", path], os.path.join(d, "stderr.log"))
        if wait_until_up(process, [port]):
            return process, port, os.path.join(d, "access.log")
        stop_process(process)
        log("%s did not come up (attempt %d), trying another port" % (name, attempt + 1))
    raise RuntimeError("%s does not start; see %s" % (name, d))


def write_htpasswd(d):
    digest = subprocess.run(["openssl", "passwd", "-apr1", SQUID_PASSWORD], check=True,
                            stdout=subprocess.PIPE, text=True).stdout.strip()
    path = os.path.join(d, "htpasswd")
    with open(path, "w") as f:
        f.write("%s:%s\n" % (SQUID_USER, digest))
    os.chmod(path, 0o644)


def start_basic_squid(state):
    return start_squid(state, "squid",
                       "auth_param basic program /usr/lib/squid/basic_ncsa_auth {dir}/htpasswd\n"
                       "auth_param basic realm websetup", write_htpasswd)


def start_kerberos(state):
    """The realm's KDC, its database made afresh, the user's ticket and the
    service key. Sets KRB5_CONFIG for this process and its children (squid's
    helper); returns the KDC process and what clients need."""
    d = os.path.join(state, "kerberos")
    if os.path.exists(d):
        subprocess.run(["rm", "-rf", d], check=True)
    os.makedirs(d)
    os.chmod(d, 0o755)
    os.environ["KRB5_CONFIG"] = os.path.join(d, "krb5.conf")
    os.environ["KRB5_KDC_PROFILE"] = os.path.join(d, "kdc.conf")
    # The helper sees each ticket once; a replay cache in /var would be shared.
    os.environ["KRB5RCACHETYPE"] = "none"
    quiet = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.PIPE}
    for attempt in range(8):
        port = free_port(False)
        with open(os.environ["KRB5_CONFIG"], "w") as f:
            f.write("[libdefaults]\n default_realm = %s\n dns_lookup_kdc = false\n"
                    " dns_lookup_realm = false\n rdns = false\n dns_canonicalize_hostname = false\n"
                    " udp_preference_limit = 1\n"
                    "[realms]\n %s = {\n  kdc = 127.0.0.1:%d\n }\n"
                    % (KERBEROS_REALM, KERBEROS_REALM, port))
        with open(os.environ["KRB5_KDC_PROFILE"], "w") as f:
            f.write("[kdcdefaults]\n kdc_ports = %d\n kdc_tcp_ports = %d\n"
                    "[realms]\n %s = {\n  database_name = %s/principal\n"
                    "  key_stash_file = %s/stash\n  acl_file = %s/kadm5.acl\n }\n"
                    "[logging]\n kdc = FILE:%s/kdc.log\n"
                    % (port, port, KERBEROS_REALM, d, d, d, d))
        if attempt == 0:
            subprocess.run(["kdb5_util", "create", "-s", "-r", KERBEROS_REALM,
                            "-P", os.urandom(12).hex()], **quiet)
            keytab = os.path.join(d, "http.keytab")
            for query in ("addprinc -pw %s %s" % (KERBEROS_PASSWORD, KERBEROS_USER),
                          "addprinc -randkey " + KERBEROS_SERVICE,
                          "ktadd -k %s %s" % (keytab, KERBEROS_SERVICE)):
                subprocess.run(["kadmin.local", "-q", query], **quiet)
            # squid's helper runs as squid's user.
            os.chmod(keytab, 0o644)
        kdc = spawn(["krb5kdc", "-n", "-P", os.path.join(d, "kdc.pid")],
                    os.path.join(d, "stderr.log"))
        if wait_until_up(kdc, [port]):
            break
        stop_process(kdc)
        log("krb5kdc did not come up (attempt %d), trying another port" % (attempt + 1))
    else:
        raise RuntimeError("krb5kdc does not start; see %s" % d)
    cache = os.path.join(d, "user.ccache")
    subprocess.run(["kinit", "-c", "FILE:" + cache, KERBEROS_USER],
                   input=KERBEROS_PASSWORD + "\n", text=True, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return kdc, {"KRB5_CONFIG": os.environ["KRB5_CONFIG"], "KRB5CCNAME": "FILE:" + cache,
                 "KERBEROS_USER": "%s@%s" % (KERBEROS_USER, KERBEROS_REALM)}


def start_negotiate_squid(state):
    return start_squid(state, "squid-negotiate",
                       "auth_param negotiate program /usr/lib/squid/negotiate_kerberos_auth"
                       " -k {dir}/../kerberos/http.keytab -s %s@%s\n"
                       "auth_param negotiate children 2" % (KERBEROS_SERVICE, KERBEROS_REALM),
                       lambda _d: None)


# --- supervisor --------------------------------------------------------------

def write_env(state, values):
    path = os.path.join(state, "servers.env")
    with open(path + ".tmp", "w") as f:
        for key, value in values.items():
            f.write("%s=%s\n" % (key, value))
    os.replace(path + ".tmp", path)


def alive(pid):
    """True while pid runs; a zombie nobody has reaped yet counts as gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def supervise(state, lifetime, watch_pid, base_port=0):
    state = os.path.abspath(state)
    os.makedirs(state, exist_ok=True)
    stop = {"why": None}

    def on_signal(number, _frame):
        stop["why"] = "signal %d" % number

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    with open(os.path.join(state, "supervisor.pid"), "w") as f:
        f.write("%d\n" % os.getpid())

    started = time.monotonic()
    nginx = proxy = squid = kdc = negotiate = fault = None
    try:
        certs = make_certificates(state)
        served = make_files(state)
        fault = fault_server.FaultServer(cert=certs["cert"], key=certs["key"])
        fault.start()
        closed = closed_port()
        ipv6 = ipv6_loopback()
        nginx, ports = start_nginx(state, certs, ipv6, base_port)
        proxy, proxy_port, proxy_log = start_tinyproxy(
            state, [ports["https"], ports["h2"], ports["untrusted"], fault.https_port])
        squid, squid_port, squid_log = start_basic_squid(state)
        kdc, kerberos = start_kerberos(state)
        negotiate, negotiate_port, negotiate_log = start_negotiate_squid(state)
        nginx_dir = os.path.join(state, "nginx")
        write_env(state, {
            "STATE_DIR": state,
            "HOST": "127.0.0.1",
            "IPV6": "1" if ipv6 else "0",
            "CA_PEM": certs["ca"],
            "SERVER_CERT": certs["cert"],
            "UNTRUSTED_CERT": certs["untrusted"],
            "NGINX_HTTP_PORT": ports["http"],
            "NGINX_HTTPS_PORT": ports["https"],
            "NGINX_H2_PORT": ports["h2"],
            "NGINX_UNTRUSTED_PORT": ports["untrusted"],
            "NGINX_ACCESS_LOG": os.path.join(nginx_dir, "access.log"),
            "NGINX_ERROR_LOG": os.path.join(nginx_dir, "error.log"),
            "SERVED_DIR": served,
            "STANDARD_SIZES": ",".join(str(s) for s in STANDARD_SIZES),
            "SLOW_RATE": SLOW_RATE,
            "MAX_REDIRECTS": MAX_REDIRECTS,
            "FAULT_HTTP_PORT": fault.http_port,
            "FAULT_HTTPS_PORT": fault.https_port,
            "PROXY_PORT": proxy_port,
            "PROXY_LOG": proxy_log,
            "PROXY_REFUSED_MARKER": PROXY_REFUSED_MARKER,
            "SQUID_PORT": squid_port,
            "SQUID_ACCESS_LOG": squid_log,
            "SQUID_USER": SQUID_USER,
            "SQUID_PASSWORD": SQUID_PASSWORD,
            "NEGOTIATE_PROXY_PORT": negotiate_port,
            "NEGOTIATE_PROXY_LOG": negotiate_log,
            "KRB5_CONFIG": kerberos["KRB5_CONFIG"],
            "KRB5CCNAME": kerberos["KRB5CCNAME"],
            "KERBEROS_USER": kerberos["KERBEROS_USER"],
            "CLOSED_PORT": closed.getsockname()[1],
            "SUPERVISOR_PID": os.getpid(),
        })
        log("up: %s" % os.path.join(state, "servers.env"))
        while stop["why"] is None:
            time.sleep(0.2)
            if lifetime > 0 and time.monotonic() - started > lifetime:
                stop["why"] = "lifetime of %d s is over" % lifetime
            elif watch_pid and not alive(watch_pid):
                stop["why"] = "test run (pid %d) is gone" % watch_pid
            elif nginx.poll() is not None:
                stop["why"] = "nginx exited with %s" % nginx.returncode
            elif proxy.poll() is not None:
                stop["why"] = "tinyproxy exited with %s" % proxy.returncode
            else:
                for name, process in (("squid", squid), ("krb5kdc", kdc),
                                      ("negotiating squid", negotiate)):
                    if process.poll() is not None:
                        stop["why"] = "%s exited with %s" % (name, process.returncode)
        log("stopping: %s" % stop["why"])
    finally:
        try:
            os.remove(os.path.join(state, "servers.env"))
        except FileNotFoundError:
            pass
        children = (negotiate, kdc, squid, proxy, nginx)
        for process in children:
            if process is not None and process.poll() is None:
                process.terminate()
        for process in children:
            stop_process(process)
        if fault is not None:
            fault.stop()
        try:
            os.remove(os.path.join(state, "supervisor.pid"))
        except FileNotFoundError:
            pass


def guard(owner, command):
    """Runs command until it ends, owner is gone, or we are told to stop."""
    child = subprocess.Popen(command)
    signal.signal(signal.SIGTERM, lambda _n, _f: stop_process(child) or sys.exit(0))
    while child.poll() is None:
        if not alive(owner):
            stop_process(child)
        time.sleep(0.2)
    return child.returncode


def supervisor_pid(state):
    """The pid of a running supervisor of this state folder, checked against
    its command line so that a recycled pid is never signalled."""
    try:
        with open(os.path.join(state, "supervisor.pid")) as f:
            pid = int(f.read().strip())
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            cmdline = f.read().split(b"\0")
    except (OSError, ValueError):
        return None
    ours = any(arg.endswith(b"test_servers.py") for arg in cmdline)
    if ours and (b"supervise" in cmdline or b"run" in cmdline):
        return pid
    return None


def stop(state):
    pid = supervisor_pid(state)
    if pid is None:
        return 0
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 15
    while alive(pid) and time.monotonic() < deadline:
        time.sleep(0.05)
    if alive(pid):
        log("supervisor %d does not stop; killing it" % pid)
        os.kill(pid, signal.SIGKILL)
    return 0


def start(state, lifetime, base_port=0):
    state = os.path.abspath(state)
    os.makedirs(state, exist_ok=True)
    stop(state)
    env_path = os.path.join(state, "servers.env")
    if os.path.exists(env_path):
        os.remove(env_path)
    logfile = os.path.join(state, "supervisor.log")
    # The caller (ctest) is the test run the supervisor watches.
    watch = os.getppid()
    with open(logfile, "ab") as out:
        child = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "supervise", state,
             "--lifetime", str(lifetime), "--watch-pid", str(watch),
             "--base-port", str(base_port)],
            stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        if os.path.exists(env_path):
            with open(env_path) as f:
                sys.stdout.write(f.read())
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    log("test servers did not start; supervisor log follows")
    with open(logfile, errors="replace") as f:
        sys.stdout.write(f.read()[-4000:])
    stop(state)
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    if sys.argv[1:2] == ["guard"]:
        return guard(int(sys.argv[2]), sys.argv[3:])
    parser.add_argument("command", choices=["start", "stop", "run", "supervise", "site"])
    parser.add_argument("state", help="state folder")
    parser.add_argument("--lifetime", type=int, default=DEFAULT_LIFETIME,
                        help="seconds until the servers stop by themselves (0: never)")
    parser.add_argument("--base-port", type=int, default=0,
                        help="nginx's HTTP, HTTPS, HTTP/2 and untrusted ports are this and "
                             "the next three (default: free ports chosen at random)")
    parser.add_argument("--watch-pid", type=int, default=0, help=argparse.SUPPRESS)
    parser.add_argument("--folder", help="site: the folder whose www/ is served")
    parser.add_argument("--include", help="site: configuration included in the server block")
    args = parser.parse_args()
    args.state = os.path.abspath(args.state)
    if args.command == "site":
        return serve_site(args.state, args.folder, args.include, args.lifetime)
    if args.command == "start":
        return start(args.state, args.lifetime, args.base_port)
    if args.command == "stop":
        return stop(args.state)
    if args.command == "run":
        stop(args.state)
        supervise(args.state, args.lifetime, 0, args.base_port)
        return 0
    supervise(args.state, args.lifetime, args.watch_pid, args.base_port)
    return 0


if __name__ == "__main__":
    sys.exit(main())
