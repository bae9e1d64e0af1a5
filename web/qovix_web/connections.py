"""Connections to qovixd for the web server's requests: a few, each used by
one request at a time (a client connection is not shared between threads),
opened when first needed and opened again after a failure."""

from __future__ import annotations

import contextlib
import queue
import threading
from dataclasses import dataclass, field
from typing import Iterator

import qovix


@dataclass(frozen=True)
class Target:
    """Where qovixd is, and how to reach it."""
    host: str = "127.0.0.1"
    port: int = 20241
    tls: dict[str, object] = field(default_factory=dict)  # Repository.connect's TLS keywords


# How long a request waits for a free connection before it is refused.
WAIT_SECONDS = 30.0


class ConnectionPool:
    """At most `size` connections; a request waits for a free one."""

    def __init__(self, target: Target, size: int = 4):
        self._target = target
        self._free: queue.LifoQueue[qovix.Repository | None] = queue.LifoQueue()
        for _ in range(size):
            self._free.put(None)  # a place for a connection not yet opened
        self._lock = threading.Lock()

    def _open(self) -> qovix.Repository:
        return qovix.Repository.connect(self._target.host, self._target.port, **self._target.tls)

    @contextlib.contextmanager
    def repository(self) -> Iterator[qovix.Repository]:
        """A connection for one request; dropped (and opened anew by a later
        request) when the request fails on the connection itself."""
        try:
            held = self._free.get(timeout=WAIT_SECONDS)
        except queue.Empty:
            raise TimeoutError(f"qovixd's connections are all busy for {WAIT_SECONDS:.0f} s; "
                               "try again") from None
        try:
            if held is None:
                held = self._open()
            yield held
        except (qovix.ServerUnreachable, qovix.ProtocolError, qovix.Timeout, qovix.TlsError):
            if held is not None:
                with contextlib.suppress(Exception):
                    held.close()
            held = None
            raise
        finally:
            self._free.put(held)

    def close(self) -> None:
        while not self._free.empty():
            held = self._free.get_nowait()
            if held is not None:
                with contextlib.suppress(Exception):
                    held.close()
