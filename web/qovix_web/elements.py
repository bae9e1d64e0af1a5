"""Model objects as the API answers them: JSON made of plain values, with
every reference an object's number, class and name, so that a page links it
without asking again."""

from __future__ import annotations

import enum
from typing import Any

import qovix

# The members of a collection an element's answer lists; the rest are read
# a page at a time (`contents`, `members`).
MEMBERS_SHOWN = 50
# The collections that hold what an element contains, as the tree shows it.
CONTAINING = ("ownedElement", "feature", "parameter", "literal")


def class_name(obj: qovix.ModelObject) -> str:
    return type(obj).__name__


def a(name: str) -> str:
    """'a Class', 'an Attribute'."""
    return ("an " if name[:1] in "AEIOU" else "a ") + name


def name_of(obj: qovix.ModelObject) -> str | None:
    return getattr(obj, "name", None) if isinstance(obj, qovix.ModelElement) else None


def summary(obj: qovix.ModelObject | None) -> dict[str, Any] | None:
    """An object as a link: its number, class and name."""
    if obj is None:
        return None
    return {"number": obj.object_number, "class": class_name(obj), "name": name_of(obj)}


def plain(value: Any) -> Any:
    """A value as JSON has it: an enumeration by its literal's name."""
    if isinstance(value, enum.Enum):
        return value.name.lower()
    return value


def shown_features(obj: qovix.ModelObject) -> list[tuple[str, str]]:
    """(name, kind) of each feature an object shows, its most general
    class's first."""
    seen: set[str] = set()
    found: list[tuple[str, str]] = []
    for cls in reversed(type(obj).__mro__):
        for name, kind in cls.__dict__.get("_shown", ()):
            if name not in seen:
                seen.add(name)
                found.append((name, kind))
    return found


def queries_of(obj: qovix.ModelObject) -> list[str]:
    """The derived answers an object gives on request (allSupertypes, ...)."""
    names: list[str] = []
    for cls in reversed(type(obj).__mro__):
        names += [q for q in cls.__dict__.get("_queries", ()) if q not in names]
    return names


def page(members: Any, offset: int, limit: int) -> dict[str, Any]:
    """`limit` members from `offset`, as links, and how many there are."""
    count = len(members)
    shown = [summary(members[i]) for i in range(offset, min(count, offset + limit))]
    return {"count": count, "offset": offset, "members": shown}


def detail(obj: qovix.ModelObject) -> dict[str, Any]:
    """Every feature of the object with its value; collections' first
    MEMBERS_SHOWN members."""
    features = []
    for name, kind in shown_features(obj):
        value = getattr(obj, name)
        if kind == "value":
            features.append({"name": name, "kind": kind, "value": plain(value)})
        elif kind == "object":
            shown = {"name": name, "kind": kind, "object": summary(value)}
            if name == "multiplicity":  # as people write it
                shown["text"] = value.getValue() if value is not None else ""
            features.append(shown)
        else:
            features.append({"name": name, "kind": kind, **page(value, 0, MEMBERS_SHOWN)})
    owner = None
    if isinstance(obj, qovix.ModelElement) and len(obj.namespace1) > 0:
        owner = summary(obj.namespace1[0])
    elif isinstance(obj, qovix.Feature) and len(obj.UMLowner) > 0:
        owner = summary(obj.UMLowner[0])
    return {**summary(obj), "owner": owner, "features": features, "queries": queries_of(obj)}


def containing(obj: qovix.ModelObject) -> list[str]:
    """The collections of the object that hold what it contains."""
    return [name for name, kind in shown_features(obj) if kind == "members" and name in CONTAINING]


def contents(obj: qovix.ModelObject, offset: int, limit: int) -> dict[str, Any]:
    """What the object contains, a page at a time across its containing
    collections, each member with whether it contains anything itself."""
    collections = [getattr(obj, name) for name in containing(obj)]
    counts = [len(c) for c in collections]
    members: list[dict[str, Any]] = []
    skipped = offset
    for collection, count in zip(collections, counts):
        if skipped >= count:
            skipped -= count
            continue
        for i in range(skipped, count):
            if len(members) == limit:
                break
            member = collection[i]
            link = summary(member)
            link["contains"] = sum(len(getattr(member, n)) for n in containing(member))
            members.append(link)
        skipped = 0
    return {"count": sum(counts), "offset": offset, "members": members}
