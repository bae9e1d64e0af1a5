"""Connections to qovixd for the web server's requests: a few, each used by
one request at a time (a client connection is not shared between threads),
opened when first needed and opened again after a failure. A signed-in
person's requests go over connections of their own, which act for them."""

from __future__ import annotations

import collections
import contextlib
import queue
import threading
import time
from dataclasses import dataclass, field
from typing import Iterator

import qovix


@dataclass(frozen=True)
class Target:
    """Where qovixd is, and how to reach it."""
    host: str = "127.0.0.1"
    port: int = qovix.DEFAULT_PORT
    tls: dict[str, object] = field(default_factory=dict)  # Repository.connect's TLS keywords


# How long a request waits for a free connection before it is refused.
WAIT_SECONDS = 30.0


class ConnectionPool:
    """At most `size` connections, acting for the user `acting_for` (None:
    the web server's own principal); a request waits for a free one."""

    def __init__(self, target: Target, size: int = 4, acting_for: str | None = None):
        self._target = target
        self._acting_for = acting_for
        self._free: queue.LifoQueue[qovix.Repository | None] = queue.LifoQueue()
        for _ in range(size):
            self._free.put(None)  # a place for a connection not yet opened
        self._closed = False
        self.last_used = time.monotonic()

    def _open(self) -> qovix.Repository:
        options = dict(self._target.tls)
        if self._acting_for is not None:
            options["acting_for"] = self._acting_for
        return qovix.Repository.connect(self._target.host, self._target.port, **options)

    @contextlib.contextmanager
    def repository(self) -> Iterator[qovix.Repository]:
        """A connection for one request; dropped (and opened anew by a later
        request) when the request fails on the connection itself."""
        try:
            held = self._free.get(timeout=WAIT_SECONDS)
        except queue.Empty:
            raise TimeoutError(f"qovixd's connections are all busy for {WAIT_SECONDS:.0f} s; "
                               "try again") from None
        self.last_used = time.monotonic()
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
            if self._closed and held is not None:
                with contextlib.suppress(Exception):
                    held.close()
                held = None
            self._free.put(held)

    def close(self) -> None:
        """Closes the free connections; those in use close when given back."""
        self._closed = True
        while not self._free.empty():
            held = self._free.get_nowait()
            if held is not None:
                with contextlib.suppress(Exception):
                    held.close()


# A signed-in person's connections: so many, kept while used within so many
# seconds, for at most so many people at once (the longest unused go first).
USER_CONNECTIONS = 2
USER_IDLE_SECONDS = 600.0
MOST_USERS = 64


class ConnectionPools:
    """The web server's own pool, and one per signed-in person."""

    def __init__(self, target: Target, size: int = 4):
        self._target = target
        self.own = ConnectionPool(target, size)
        self._users: collections.OrderedDict[str, ConnectionPool] = collections.OrderedDict()
        self._lock = threading.Lock()

    def of(self, user: str | None) -> ConnectionPool:
        if user is None:
            return self.own
        with self._lock:
            pool = self._users.get(user)
            if pool is None:
                pool = self._users[user] = ConnectionPool(self._target, USER_CONNECTIONS, user)
            self._users.move_to_end(user)
            # The others, longest unused first, while too many or idle too long.
            now = time.monotonic()
            while len(self._users) > 1:
                first = next(iter(self._users.values()))
                if len(self._users) <= MOST_USERS and now - first.last_used <= USER_IDLE_SECONDS:
                    break
                self._users.popitem(last=False)[1].close()
            return pool

    def close(self) -> None:
        self.own.close()
        with self._lock:
            for pool in self._users.values():
                pool.close()
            self._users.clear()
