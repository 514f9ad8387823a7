"""Runs one download and measures it: wall time, CPU, peak RSS, sha256.

CPU (user+sys) and peak RSS come from /usr/bin/time. The tool is not started
straight from Python because the kernel carries a process's peak RSS across
exec: a child forked from this ~30 MiB interpreter would report at least that.
/usr/bin/time forks from a small C program. Wall time is taken around the
whole process, start-up and size request included.
"""

import hashlib
import os
import signal
import subprocess
import time


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(4 * 1024 * 1024)
            if not block:
                return digest.hexdigest()
            digest.update(block)


def remove_outputs(out):
    directory, name = os.path.split(out)
    for entry in os.listdir(directory):
        if entry.startswith(name):
            os.remove(os.path.join(directory, entry))


def run(argv, env_extra, timeout, log_path):
    """Runs argv in its own process group; returns a result dict (without sha)."""
    env = dict(os.environ)
    env.update(env_extra)
    time_path = log_path + ".time"
    with open(log_path, "wb") as log:
        started_wall = time.time()
        started = time.monotonic()
        process = subprocess.Popen(["/usr/bin/time", "-o", time_path, "-f", "%U %S %M"] + argv, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   env=env, start_new_session=True)
        deadline = started + timeout
        timed_out = False
        try:
            while True:
                pid, status, usage = os.wait4(process.pid, os.WNOHANG)
                if pid:
                    break
                if time.monotonic() > deadline:
                    timed_out = True
                    os.killpg(process.pid, signal.SIGKILL)
                    pid, status, usage = os.wait4(process.pid, 0)
                    break
                time.sleep(0.01)
        except BaseException:
            # Interrupted benchmark: the tool runs in its own session and
            # would not see the Ctrl-C, so take it down here.
            os.killpg(process.pid, signal.SIGKILL)
            os.wait4(process.pid, 0)
            raise
        elapsed = time.monotonic() - started
    process.returncode = os.waitstatus_to_exitcode(status)  # keep Popen from waiting again
    user = system = rss = 0.0
    try:
        with open(time_path) as f:
            # The last line is ours; a line before it may say the command was killed.
            user, system, rss = (float(v) for v in f.read().split("\n")[-2].split())
    except (OSError, ValueError, IndexError):
        pass
    result = {
        "seconds": elapsed,
        "started_wall": started_wall,
        "cpu": user + system,
        "user": user,
        "sys": system,
        "rss_kib": rss,
        "exit": process.returncode,
        "error": None,
    }
    if timed_out:
        result["error"] = "timed out after %d s" % timeout
    elif process.returncode != 0:
        result["error"] = "exit code %d" % process.returncode
    return result


def download(tool, url, out, ca, expected_sha, size, timeout, log_path):
    remove_outputs(out)
    result = run(tool.argv(url, out, ca), tool.env(ca), timeout, log_path)
    if result["error"] is None:
        if not os.path.exists(out):
            result["error"] = "no output file"
        elif os.path.getsize(out) != size:
            result["error"] = "size %d, expected %d" % (os.path.getsize(out), size)
        elif sha256_of(out) != expected_sha:
            result["error"] = "sha256 differs from the source"
    remove_outputs(out)
    return result
