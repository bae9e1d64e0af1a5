#!/usr/bin/env python3
"""The Python client against the C++ client, on qovixd in one run: on its
default store, the repository file, and then on the memory store.

For each operation, the C++ typed client (qovix_client_calls) and the
Python client make calls for a few seconds each; the table gives operations
per second and the ratio Python / C++, with the Python client's checks on
(the default: each call also asks whether its handles still name objects,
in the same round trip) and off.

    get     TaggedValue.tag              (get_tag_0)
    set     TaggedValue.tag = "author"   (set_tag_0)
    create  TaggedValue.create() and release (create_1, identity, release)

    build/venv/bin/python3 bench/python_client_bench.py build [SECONDS]
"""

from __future__ import annotations

import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import qovix


def python_rate(repo: qovix.Repository, operation: str, seconds: float) -> float:
    tagged = repo.TaggedValue.create()
    tagged.tag = "author"
    calls, start = 0, time.perf_counter()
    end = start + seconds
    while time.perf_counter() < end:
        for _ in range(100):
            if operation == "get":
                tagged.tag
            elif operation == "set":
                tagged.tag = "author"
            else:
                repo.TaggedValue.create().release()
        calls += 100
    return calls / (time.perf_counter() - start)


def main() -> int:
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    with tempfile.TemporaryDirectory() as folder:
        for store_name, store in (("file", str(Path(folder) / "repository.sqlite3")),
                                  ("memory", "memory")):
            print(f"qovixd --store {store_name}")
            measure(build, store, seconds)
    return 0


def measure(build: Path, store: str, seconds: float) -> None:
    server = subprocess.Popen([str(build / "qovixd"), "--bind", "127.0.0.1", "--port", "0",
                               "--store", store], stdout=subprocess.PIPE, text=True)
    try:
        port = int(re.search(r":(\d+) ", server.stdout.readline()).group(1))
        print(f"{'operation':<8} {'C++ /s':>9} {'Python /s':>10} {'ratio':>6} "
              f"{'unchecked /s':>13} {'ratio':>6}")
        for operation in ("get", "set", "create"):
            native = float(subprocess.run(
                [str(build / "bench" / "qovix_client_calls"), str(port), operation, str(seconds)],
                check=True, capture_output=True, text=True).stdout)
            with qovix.Repository.connect("127.0.0.1", port) as repo:
                checked = python_rate(repo, operation, seconds)
                repo.checked = False
                unchecked = python_rate(repo, operation, seconds)
            print(f"{operation:<8} {native:>9.0f} {checked:>10.0f} {checked / native:>6.2f} "
                  f"{unchecked:>13.0f} {unchecked / native:>6.2f}")
    finally:
        server.terminate()
        server.wait()
        server.stdout.close()


if __name__ == "__main__":
    sys.exit(main())
