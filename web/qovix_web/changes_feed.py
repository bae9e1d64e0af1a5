"""The repository's changes, followed once for every browser: one thread
reads qovixd's changes feed on a connection of its own and hands each
commit (its number and the objects it touched) to every page listening, as
server-sent events. A page updates what it shows when a commit touched it."""

from __future__ import annotations

import asyncio
import collections
import contextlib
import sys
import threading
import time
from typing import Any

import qovix

from .connections import Target

# How often the feed asks qovixd for new commits, in seconds: a page learns
# of a change within about this, well inside a second.
POLL_SECONDS = 0.25
# How many commits a listener that falls behind may have waiting, and how
# many of the latest the feed keeps for a page that comes (back) to listen
# after it drew what it shows.
MOST_WAITING = 256
PACKAGE_CLASSES = ("Package", "Model", "Subsystem")
# The most objects of one commit an event or a page names (an import may
# touch millions).
MOST_OBJECTS_LISTED = 1000


def listed_objects(commit: qovix.Commit) -> tuple[tuple[tuple[int, str, str], ...], int]:
    """The commit's objects an event or a page names, and how many more it
    touched."""
    listed = commit.objects[:MOST_OBJECTS_LISTED]
    return listed, commit.objects_left + len(commit.objects) - len(listed)


class ChangesFeed:
    def __init__(self, target: Target):
        self._target = target
        self._listeners: set[asyncio.Queue[dict[str, Any]]] = set()
        self._latest: collections.deque[dict[str, Any]] = collections.deque(maxlen=MOST_WAITING)
        self._lock = threading.Lock()
        self._loop: asyncio.AbstractEventLoop | None = None
        self._stopping = threading.Event()
        self._thread: threading.Thread | None = None
        self._refused = False

    def start(self, loop: asyncio.AbstractEventLoop) -> None:
        self._loop = loop
        self._thread = threading.Thread(target=self._follow, name="changes feed", daemon=True)
        self._thread.start()

    def stop(self) -> None:
        """Stops following; every stream of changes ends within a second."""
        self._stopping.set()

    @property
    def stopped(self) -> bool:
        return self._stopping.is_set()

    def listen(self, since: int) -> asyncio.Queue[dict[str, Any]]:
        """A queue of the commits after `since` the feed still keeps, then of
        each new one as it comes."""
        queue: asyncio.Queue[dict[str, Any]] = asyncio.Queue(MOST_WAITING)
        with self._lock:
            for event in self._latest:
                if event["seq"] > since:
                    queue.put_nowait(event)
            self._listeners.add(queue)
        return queue

    def leave(self, queue: asyncio.Queue[dict[str, Any]]) -> None:
        with self._lock:
            self._listeners.discard(queue)

    def _publish(self, event: dict[str, Any]) -> None:
        with self._lock:
            self._latest.append(event)
            listeners = list(self._listeners)
        for queue in listeners:
            with contextlib.suppress(asyncio.QueueFull):  # it reloads when it is back
                queue.put_nowait(event)

    def _follow(self) -> None:
        since: int | None = None
        while not self._stopping.is_set():
            try:
                with qovix.Repository.connect(self._target.host, self._target.port,
                                              **self._target.tls) as repo:
                    if since is None:
                        since = repo.last_commit()
                    for commit in repo.changes(since, follow=True, poll=POLL_SECONDS):
                        since = commit.seq
                        # Packages are named apart: a page's tree takes in
                        # new top-level ones. A commit of more than is
                        # listed (an import) touches anything: every page
                        # draws itself again.
                        listed, left = listed_objects(commit)
                        event = {"seq": commit.seq, "objectsLeft": left,
                                 "objects": [number for number, _, _ in listed],
                                 "packages": [number for number, kind, how in listed
                                              if kind in PACKAGE_CLASSES and how != "deleted"]}
                        assert self._loop is not None
                        self._loop.call_soon_threadsafe(self._publish, event)
                        if self._stopping.is_set():
                            return
            except qovix.AccessDenied as refused:
                # Said once: pages then show changes only when drawn again.
                if not self._refused:
                    print(f"qovix web: the changes feed cannot follow qovixd's commits: {refused}",
                          file=sys.stderr, flush=True)
                    self._refused = True
                time.sleep(5)
            except qovix.QovixError:
                time.sleep(1)  # qovixd is away: try again
