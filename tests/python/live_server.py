"""qovixd as a child process on a free loopback port, for the Python
client's tests (QOVIXD names the executable)."""

from __future__ import annotations

import os
import re
import subprocess
import tempfile

import qovix


class Server:
    """qovixd keeping the repository in `store` (memory by default), with
    further command-line options."""

    def __init__(self, *options: str, store: str = "memory") -> None:
        # Its log goes to a file: a pipe nobody reads while it runs could fill.
        self.log = tempfile.TemporaryFile("w+", encoding="utf-8")
        self.process = subprocess.Popen(
            [os.environ["QOVIXD"], "--bind", "127.0.0.1", "--port", "0", "--store", store,
             *options], stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"listening on [\d.]+:(\d+)", line)
        if not found:
            self.process.kill()
            self.log.close()
            raise RuntimeError(f"qovixd did not start: {line!r}")
        self.port = int(found.group(1))

    def connect(self, **options) -> qovix.Repository:
        return qovix.Repository.connect("127.0.0.1", self.port, **options)

    def stop(self) -> str:
        """Stops it; what it logged."""
        self.process.terminate()
        self.process.wait(10)
        self.process.stdout.close()
        self.log.seek(0)
        said = self.log.read()
        self.log.close()
        return said
