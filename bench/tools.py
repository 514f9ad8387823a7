"""Command lines of the downloaders the benchmark compares.

Each tool gets the same URL, an output path and the test CA through its own
trust option. Peer tools run with their own configuration files switched off,
so a developer's ~/.aria2 or ~/.wget2rc cannot change the figures.
"""

import os

# Workers and part size of our downloader; the peers are asked for the same.
CONNECTIONS = 12


class Tool:
    def __init__(self, name, argv_for, env_for=None):
        self.name = name
        self._argv_for = argv_for
        self._env_for = env_for or (lambda ca: {})

    def argv(self, url, out, ca):
        return self._argv_for(url, out, ca)

    def env(self, ca):
        return self._env_for(ca)


def ours(binary, name="ours"):
    # Trusts the CA bundle named at build time: bench/run configures its tree
    # with the path where the benchmark's servers write the test CA.
    return Tool(name, lambda url, out, ca: [binary, "--record", out + ".record", out, url])


def aria2c():
    # aria2 refuses a split size below 1 MiB, so it cannot use 512 KiB parts.
    return Tool("aria2c", lambda url, out, ca: [
        "aria2c", "--no-conf=true", "--quiet=true", "-x%d" % CONNECTIONS, "-s%d" % CONNECTIONS,
        "-k1M", "--ca-certificate=" + ca, "--dir=" + os.path.dirname(out),
        "--out=" + os.path.basename(out), "--allow-overwrite=true",
        "--auto-file-renaming=false", "--summary-interval=0", url])


def axel():
    # axel has no CA option: OpenSSL's default verify paths honour SSL_CERT_FILE.
    return Tool("axel", lambda url, out, ca: [
        "axel", "--quiet", "--num-connections=%d" % CONNECTIONS, "--output=" + out, url],
        lambda ca: {"SSL_CERT_FILE": ca})


def wget2():
    return Tool("wget2", lambda url, out, ca: [
        "wget2", "--no-config", "--quiet", "--max-threads=%d" % CONNECTIONS, "--chunk-size=512K",
        "--ca-certificate=" + ca, "--no-ocsp", "--no-hsts", "--no-hpkp", "--no-tcp-fastopen",
        "--output-document=" + out, url])


def curl():
    return Tool("curl", lambda url, out, ca: [
        "curl", "--silent", "--show-error", "--fail", "--cacert", ca, "--output", out, url])


def all_tools(ours_binary):
    """The tools in their base order; `ours` only when its binary exists."""
    tools = [ours(ours_binary)] if ours_binary else []
    return tools + [aria2c(), axel(), wget2(), curl()]
