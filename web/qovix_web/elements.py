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


def link(target: dict[str, Any]) -> dict[str, Any]:
    """What the client's reads name (a slot's target, a member of contents, a
    search hit: "object", "class", "name") as a link."""
    return {"number": target["object"], "class": target["class"], "name": target["name"]}


def _features_read(read: dict[str, Any]) -> dict[str, dict[str, Any]]:
    """The slots read_objects gave, by feature name ("*.name" is "name")."""
    return {slot.rsplit(".", 1)[-1]: value for slot, value in read["slots"].items()}


NO_SLOT: dict[str, Any] = {"values": [], "targets": [], "size": 0}


# The deepest the owners of an element are followed, for its breadcrumb.
MOST_OWNERS_SHOWN = 64


def _owners(repo: qovix.Repository, owner: dict[str, Any] | None) -> list[dict[str, Any]]:
    """The owners above an element, outermost first: a call an owner."""
    path: list[dict[str, Any]] = []
    seen: set[int] = set()
    while owner is not None and owner["number"] not in seen and len(path) < MOST_OWNERS_SHOWN:
        path.insert(0, owner)
        seen.add(owner["number"])
        (read,) = repo.read_objects([owner["number"]], members=1)
        slots = _features_read(read)
        owner = next((link(slots[held]["targets"][0]) for held in ("namespace1", "UMLowner")
                      if slots.get(held, NO_SLOT)["targets"]), None)
    return path


# What a modeller reads on an element's page, in this order: a label and
# the features it shows, and, for members, the classes of those it lists.
PROPERTIES = (
    ("Visibility", ("visibility", "elemOwnershipVisibility"), None),
    ("Abstract", ("isAbstract",), None),
    ("Type", ("type",), None),
    ("Multiplicity", ("multiplicity",), None),
    ("Initial value", ("initialValue",), None),
    ("Kind", ("kind",), None),
    ("Attributes", ("feature",), ("Attribute",)),
    ("Operations", ("feature",), ("Operation", "Method", "Reception")),
    ("Parameters", ("parameter",), None),
    ("Ends", ("connection",), None),
    ("Literals", ("literal",), None),
    ("Stereotypes", ("stereotype",), None),
)


def _properties(repo: qovix.Repository, features: list[dict[str, Any]],
                slots: dict[str, dict[str, Any]]) -> list[dict[str, Any]]:
    """The element's properties under the labels a modeller reads; the
    supertypes and tagged values take a call each, the rest none."""
    by_name = {f["name"]: f for f in features}
    shown: list[dict[str, Any]] = []
    for label, names, classes in PROPERTIES:
        feature = next((by_name[n] for n in names if n in by_name), None)
        if feature is None:
            continue
        entry = {"label": label, "feature": feature["name"], "kind": feature["kind"]}
        if feature["kind"] == "members":
            members = [m for m in feature["members"]
                       if classes is None or (isinstance(m, dict) and m.get("class") in classes)]
            if not members:
                continue
            entry.update(members=members, count=feature["count"] if classes is None else len(members))
        elif feature["kind"] == "object":
            if feature["object"] is None and label != "Multiplicity":  # set in place when unset
                continue
            entry.update(object=feature["object"], text=feature.get("text"))
        else:
            entry["value"] = feature["value"]
        shown.append(entry)
    generalizations = [t["object"] for t in slots.get("generalization", NO_SLOT)["targets"]]
    if generalizations:
        parents = [link(slot["targets"][0]) for read in repo.read_objects(generalizations, 1)
                   if (slot := _features_read(read).get("supertype")) and slot["targets"]]
        shown.insert(2, {"label": "Supertypes", "feature": "generalization", "kind": "members",
                         "members": parents, "count": len(parents)})
    tagged = [t["object"] for t in slots.get("taggedValue", NO_SLOT)["targets"]]
    if tagged:
        texts = []
        for read in repo.read_objects(tagged, 0):
            values = _features_read(read)
            tag = values.get("tag", NO_SLOT)["values"]
            value = values.get("umlValue", NO_SLOT)["values"]
            texts.append(f"{tag[0] if tag else ''} = {value[0] if value else ''}")
        shown.append({"label": "Tagged values", "feature": "taggedValue", "kind": "texts",
                      "texts": texts, "count": len(texts)})
    return shown


def detail(obj: qovix.ModelObject) -> dict[str, Any]:
    """Every feature of the object with its value; collections' first
    MEMBERS_SHOWN members. Read in one call (and one more for a
    multiplicity's text), however many features the object has."""
    repo = obj.repository
    (read,) = repo.read_objects([obj.object_number], members=MEMBERS_SHOWN)
    slots = _features_read(read)
    features = []
    for name, kind in shown_features(obj):
        slot = slots.get(name, NO_SLOT)
        if kind == "value":
            value = slot["values"][0] if slot["values"] else getattr(obj, name)
            features.append({"name": name, "kind": kind, "value": plain(value)})
        elif kind == "object":
            target = link(slot["targets"][0]) if slot["targets"] else None
            shown = {"name": name, "kind": kind, "object": target}
            if name == "multiplicity":  # as people write it
                multiplicity = repo.by_number(target["number"]) if target else None
                shown["text"] = multiplicity.getValue() if multiplicity is not None else ""
            features.append(shown)
        else:
            members = ([plain(v) for v in slot["values"]] if slot["values"]
                       else [link(t) for t in slot["targets"]])
            features.append({"name": name, "kind": kind, "count": slot["size"], "offset": 0,
                             "members": members})
    owner = None
    for held in ("namespace1", "UMLowner"):
        if slots.get(held, NO_SLOT)["targets"]:
            owner = link(slots[held]["targets"][0])
            break
    return {"number": obj.object_number, "class": class_name(obj), "path": _owners(repo, owner),
            "name": slots.get("name", NO_SLOT)["values"][0] if "name" in slots else name_of(obj),
            "owner": owner, "properties": _properties(repo, features, slots),
            "features": features, "queries": queries_of(obj)}


def containing(obj: qovix.ModelObject) -> list[str]:
    """The collections of the object that hold what it contains."""
    return [name for name, kind in shown_features(obj) if kind == "members" and name in CONTAINING]


def contents(obj: qovix.ModelObject, offset: int, limit: int) -> dict[str, Any]:
    """What the object contains, a page at a time across its containing
    collections, each member with whether it contains anything itself: two
    calls for a page within the first qovix.MOST_MEMBERS_NAMED members."""
    repo = obj.repository
    names = containing(obj)
    wanted = offset + limit
    if wanted > qovix.MOST_MEMBERS_NAMED:
        return _contents_by_members(obj, names, offset, limit)
    (read,) = repo.read_objects([obj.object_number], members=wanted)
    slots = _features_read(read)
    held = [target for name in names for target in slots.get(name, NO_SLOT)["targets"]]
    count = sum(slots.get(name, NO_SLOT)["size"] for name in names)
    shown = held[offset:wanted]
    inner = repo.read_objects([t["object"] for t in shown], members=0) if shown else []
    members = []
    members = [{**link(target), "contains": _contained(read_member)}
               for target, read_member in zip(shown, inner)]
    return {"count": count, "offset": offset, "members": members}


def _contained(read: dict[str, Any]) -> int:
    """How many elements an object read_objects read contains."""
    slots = _features_read(read)
    return sum(slots.get(name, NO_SLOT)["size"] for name in CONTAINING)


def _contents_by_members(obj: qovix.ModelObject, names: list[str], offset: int,
                         limit: int) -> dict[str, Any]:
    """The same, past the members one read names: the members' numbers, then
    what each holds in one read, whatever the offset. A namespace that owns
    all it contains (and imports nothing) has them from the server's page of
    its contents, in one call; else each from its collection."""
    repo = obj.repository
    collections = [getattr(obj, name) for name in names]
    counts = [len(c) for c in collections]
    numbers = None
    if names == ["ownedElement"]:
        size, page = repo.contents(obj.object_number, offset, limit)
        if size == counts[0]:
            numbers = [member["object"] for member in page]
    if numbers is None:
        numbers = _numbers_in(collections, counts, offset, limit)
    members: list[dict[str, Any]] = []
    for read_member in repo.read_objects(numbers, members=0) if numbers else []:
        names_read = _features_read(read_member).get("name", NO_SLOT)["values"]
        members.append({"number": read_member["object"], "class": read_member["class"],
                        "name": names_read[0] if names_read else "",
                        "contains": _contained(read_member)})
    return {"count": sum(counts), "offset": offset, "members": members}


def _numbers_in(collections: list[Any], counts: list[int], offset: int, limit: int) -> list[int]:
    """The numbers of the members from `offset` of the collections one after
    another, at most `limit`: a call or two each."""
    numbers: list[int] = []
    skipped = offset
    for collection, count in zip(collections, counts):
        if skipped >= count:
            skipped -= count
            continue
        for i in range(skipped, min(count, skipped + limit - len(numbers))):
            numbers.append(collection[i].object_number)
        skipped = 0
    return numbers
