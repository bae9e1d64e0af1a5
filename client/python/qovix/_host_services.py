"""The host program's services, as a Repository offers them: the history
and the changes feed, undo, multiplicities, access, what the server is,
and the housekeeping of handles. A mix-in of Repository, whose _host_call
makes each call and whose _owned holds this client's handles."""

from __future__ import annotations

import time
from typing import TYPE_CHECKING, Any, Iterator

from . import _records, _rpc
from ._protocol import (HOST_ACCESS, HOST_CHANGES, HOST_COMMIT, HOST_HANDLE_COUNT, HOST_HISTORY,
                        HOST_RELEASE, HOST_SERVER_INFO, HOST_SET_MULTIPLICITY, HOST_UNDO)
from .errors import UndoRefused

if TYPE_CHECKING:
    from ._history import Commit
    from ._runtime import ModelObject


class HostServices:
    def set_multiplicity(self, element: ModelObject, text: str) -> None:
        """Sets the multiplicity of an attribute or association end ("0..*",
        "1", "1..3,5"), which the model's procedures only read; "" removes
        it. Raises ValueError, saying why, when refused."""
        done, why = self._host_call(HOST_SET_MULTIPLICITY,
                                    _records.multiplicity_request_fields(element.handle, text),
                                    _records.read_outcome)
        if done == 0:
            raise ValueError(why)

    def server_info(self) -> dict[str, Any]:
        """What this client reached: {"release", "last_commit", "objects",
        "history_days"} (history_days 0: all of it kept; -1: none)."""
        release, last_commit, objects, history_days = self._host_call(
            HOST_SERVER_INFO, (), _records.read_server_info)
        return {"release": release, "last_commit": last_commit, "objects": objects,
                "history_days": history_days}

    def access(self) -> str:
        """What this client may do: "none", "read" or "write"."""
        level = self._host_call(HOST_ACCESS, (), _rpc.number_result)
        return {2: "write", 1: "read"}.get(level, "none")

    # -- host services ---------------------------------------------------------

    def handle_count(self) -> int:
        """How many handles the server holds, for all its clients."""
        return self._host_call(HOST_HANDLE_COUNT, (), _rpc.number_result)

    def release_handle(self, handle: int) -> bool:
        """Releases a handle registered elsewhere (by the qovix tool, say);
        whether it named something."""
        self._owned.discard(handle)
        return self._host_call(HOST_RELEASE, (("h", handle),), _rpc.number_result) != 0

    def handles_held(self) -> int:
        """How many handles this client holds."""
        return len(self._owned)

    # -- history ---------------------------------------------------------------

    def last_commit(self) -> int:
        """The sequence number of the repository's last commit."""
        return self._host_call(HOST_CHANGES, _records.sequence_fields(2**64 - 1),
                               _rpc.commit_page_result)[0]

    def changes(self, since: int = 0, *, follow: bool = False,
                poll: float = 0.5) -> Iterator[Commit]:
        """The commits after `since`, oldest first (without their changes),
        read a page at a time. With `follow`, it goes on waiting for new
        ones, asking every `poll` seconds, and never ends by itself."""
        from ._history import commit_of
        while True:
            _, page, _, objects_left = self._host_call(HOST_CHANGES, _records.sequence_fields(since),
                                                       _rpc.commit_page_result)
            for i, wire in enumerate(page):
                commit = commit_of(wire, objects_left=objects_left if i == 0 else 0)
                since = commit.seq
                yield commit
            if not page:
                if not follow:
                    return
                time.sleep(poll)

    def history_of(self, number: int) -> list[Commit]:
        """The commits that touched the object with that persistent number,
        newest first, each with its changes to it."""
        commits: list[Commit] = []
        before = 0
        while True:
            page, before = self.history_page(number, before)
            commits.extend(page)
            if before == 0:
                return commits

    def history_page(self, number: int, before: int = 0) -> tuple[list[Commit], int]:
        """One page of the object's history (at most 100 commits), newest
        first, before commit `before` (0: from the newest); and the `before`
        that asks for the next page, 0 when there is none."""
        from ._history import commit_of
        _, page, left, objects_left = self._host_call(
            HOST_HISTORY, _records.history_query_fields(number, before), _rpc.commit_page_result)
        # Only a page's first commit may be larger than the page.
        commits = [commit_of(wire, left, objects_left) if i == 0 else commit_of(wire)
                   for i, wire in enumerate(page)]
        return commits, (commits[-1].seq if commits and commits[-1].seq > 1 else 0)

    def commit(self, seq: int) -> Commit | None:
        """Commit `seq` with its changes, at most 10,000 and about 4 MiB of
        them: `changes_left` says how many it leaves out, which the history
        of each object it lists holds. None for no such commit."""
        from ._history import commit_of
        _, page, left, objects_left = self._host_call(HOST_COMMIT, _records.sequence_fields(seq),
                                                      _rpc.commit_page_result)
        return commit_of(page[0], left, objects_left) if page else None

    def undo(self, seq: int) -> int:
        """Takes commit `seq` back, as a new commit by this client; its
        number. UndoRefused, changing nothing, when a later commit changed
        what it changed (the message names it) or its history is not kept."""
        commit, refusal = self._host_call(HOST_UNDO, _records.sequence_fields(seq),
                                          _records.read_undo_answer)
        if commit == 0:
            raise UndoRefused(f"commit {seq} cannot be undone: {refusal}")
        return commit
