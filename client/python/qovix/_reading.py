"""Reading many objects in a few round trips, as a view of a large model
must: objects by number with all their slots, and a namespace's contents a
page at a time. A mix-in of Repository, whose _host_call makes each call."""

from __future__ import annotations

from typing import Any, Iterable, Iterator

from . import _records
from ._history import _class_name, _value
from ._protocol import (HOST_CONTENTS, HOST_READ_OBJECTS, HOST_SEARCH, MOST_MEMBERS_NAMED,
                        MOST_OBJECTS_READ, MOST_SEARCH_HITS)

# How a search hit's name matched the text.
MATCHES = ("exact", "prefix", "within")


def _target(wire: tuple) -> dict[str, Any]:
    number, class_number, name = wire
    return {"object": number, "class": _class_name(class_number) if class_number else None,
            "name": name}


def _object(wire: tuple) -> dict[str, Any]:
    number, class_number, complete, slots = wire
    read: dict[str, Any] = {}
    for _, slot, values, targets, size in slots:
        read[slot] = {"values": [_value(*value) for value in values],
                      "targets": [_target(target) for target in targets], "size": size}
    return {"object": number, "class": _class_name(class_number) if class_number else None,
            "complete": complete, "slots": read}


class Reading:
    def read_objects(self, objects: Iterable[int], members: int = 100) -> list[dict[str, Any]]:
        """The objects with these persistent numbers, in order, each as
        {"object", "class", "complete", "slots"}: "class" None for no object;
        "slots" by the model's names ("QOVIXModelElement.namespace1",
        "*.name"), each {"values", "targets", "size"}, a relation read from
        either end, its targets {"object", "class", "name"}, at most
        `members` of each collection. One call for every
        MOST_OBJECTS_READ objects, or more where replies fill."""
        wanted = list(objects)
        members = max(0, min(members, MOST_MEMBERS_NAMED))
        found: list[dict[str, Any]] = []
        while len(found) < len(wanted):
            batch = wanted[len(found):len(found) + MOST_OBJECTS_READ]
            (page,) = self._host_call(HOST_READ_OBJECTS,
                                      _records.object_query_fields(batch, members),
                                      _records.read_object_page)
            if not page:
                raise RuntimeError("the server read none of the objects asked for")
            found += [_object(wire) for wire in page]
        return found

    def contents(self, owner: int = 0, offset: int = 0,
                 most: int = 200) -> tuple[int, list[dict[str, Any]]]:
        """A page of the contents of the namespace numbered `owner` (0: the
        top-level packages): how many there are in all, and from `offset`
        at most `most` of them, each {"object", "class", "name",
        "children"}."""
        size, members = self._host_call(
            HOST_CONTENTS, _records.contents_query_fields(owner, offset,
                                                          max(0, min(most, MOST_MEMBERS_NAMED))),
            _records.read_member_page)
        return size, [{"object": number, "class": _class_name(class_number), "name": name,
                       "children": children}
                      for number, class_number, name, children in members]

    def all_contents_pages(self, owner: int = 0, page: int = 200) -> Iterator[dict[str, Any]]:
        """Every member of the namespace's contents, read a page at a time."""
        offset = 0
        while True:
            size, members = self.contents(owner, offset, page)
            yield from members
            offset += len(members)
            if not members or offset >= size:
                return

    def search(self, text: str, class_: type | None = None,
               most: int = 50) -> list[dict[str, Any]]:
        """Model elements whose name holds `text`, in any letter case, best
        first: named so, then beginning so, then holding it elsewhere (for
        a text of three characters or more); of `class_` (a model class,
        qovix.Class) or a subclass, any element by default; at most `most`.
        Each is {"object", "class", "name", "path", "match"}: "path" the
        names of its owners, outermost first, joined by "::"; "match"
        "exact", "prefix" or "within". One call, answered from an index."""
        class_number = getattr(class_, "_class_number", 0) if class_ is not None else 0
        (hits,) = self._host_call(
            HOST_SEARCH,
            _records.search_query_fields(text, class_number, max(0, min(most, MOST_SEARCH_HITS))),
            _records.read_search_page)
        return [{"object": number, "class": _class_name(class_number), "name": name,
                 "path": path, "match": MATCHES[match]}
                for number, class_number, name, path, match in hits]
