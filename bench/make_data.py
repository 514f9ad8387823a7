#!/usr/bin/env python3
"""Writes the benchmark's source files: deterministic, incompressible, cached by size.

Usage: make_data.py DIR SIZE_MIB [SIZE_MIB ...]

Every MiB is SHAKE-128 output keyed by its index, so every 512 KiB part of a
file differs from every other (a part written at the wrong offset changes the
sha256) and the content is the same on every machine and every run. A file is
made only when DIR has none of that size; its sha256 is kept beside it in
NAME.sha256 so each run checks downloads without hashing the source again.
"""

import hashlib
import os
import sys

MIB = 1024 * 1024


def file_name(size_mib):
    return f"data-{size_mib}M.bin"


def make(directory, size_mib):
    path = os.path.join(directory, file_name(size_mib))
    digest_path = path + ".sha256"
    if os.path.exists(path) and os.path.exists(digest_path) and os.path.getsize(path) == size_mib * MIB:
        return
    digest = hashlib.sha256()
    tmp = path + ".tmp"
    with open(tmp, "wb") as out:
        for index in range(size_mib):
            block = hashlib.shake_128(b"websetup-bench:%d" % index).digest(MIB)
            digest.update(block)
            out.write(block)
    os.replace(tmp, path)
    with open(digest_path, "w") as out:
        out.write(digest.hexdigest() + "\n")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    for size in sys.argv[2:]:
        make(directory, int(size))


if __name__ == "__main__":
    main()
