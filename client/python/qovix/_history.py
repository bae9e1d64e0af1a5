"""The repository's history as Python reads it: commits (who, when, where,
what objects they touched) and the changes each made, with what each slot
held before and after."""

from __future__ import annotations

import datetime
from dataclasses import dataclass
from typing import Any

from . import _runtime
from ._rpc import Value
from ._rules import short_class_name

KINDS = ("created", "deleted", "value", "reference", "added", "removed", "values")
TOUCHES = ("created", "changed", "deleted")


def _class_name(number: int) -> str:
    known = _runtime.CLASSES.get(number)
    return known.__name__ if known is not None else f"class {number}"


def _value(value_class: int, number: int, text: str) -> Any:
    known = _runtime.VALUE_CLASSES.get(value_class)
    if known is None:
        return text if text else number
    return known.from_wire(Value(value_class, text if known.kind == "text" else number))


@dataclass(frozen=True)
class Change:
    """One change a commit made to `object` (a persistent object number).

    `kind` is "created" or "deleted" (the object whole, of class `slot`),
    "value" (`before` and `after` are the value, None for unwritten),
    "reference" (object numbers, None for unset), "added" or "removed" (the
    member's object number, at `position`), or "values" (lists)."""
    object: int
    slot: str
    kind: str
    before: Any
    after: Any
    position: int | None = None

    def __str__(self) -> str:
        slot = short_class_name(self.slot)
        slot = slot[2:] if slot.startswith("*.") else slot
        if self.kind in ("created", "deleted"):
            return f"{self.kind} #{self.object} ({slot})"
        if self.kind == "added":
            return f"#{self.object} {slot}: added #{self.after} at {self.position}"
        if self.kind == "removed":
            return f"#{self.object} {slot}: removed #{self.before} from {self.position}"
        show = (lambda v: "(unset)" if v is None else f"#{v}") if self.kind == "reference" \
            else (lambda v: "(unset)" if v is None else repr(v))
        return f"#{self.object} {slot}: {show(self.before)} -> {show(self.after)}"


@dataclass(frozen=True)
class Commit:
    """A commit of the log: its sequence number, when it was made (UTC),
    for whom (the principal) and by which server; `objects` the (object
    number, class name, "created"|"changed"|"deleted") it touched; `changes`
    its changes, where read with them (an object's history); `changes_left`
    how many of its changes were left out of the page that carried it (a
    commit larger than a page): each object's history holds its own; and
    `objects_left` how many objects it touched that the page did not list
    (an import of a large model)."""
    seq: int
    time: datetime.datetime
    principal: str
    server: str
    objects: tuple[tuple[int, str, str], ...]
    changes: tuple[Change, ...]
    changes_left: int = 0
    objects_left: int = 0

    def __str__(self) -> str:
        who = self.principal or "(nobody)"
        return f"commit {self.seq} {self.time:%Y-%m-%d %H:%M:%S} UTC by {who} on {self.server}"


def _change(wire: tuple) -> Change:
    obj, _feature, slot, kind, position, before_target, after_target, before, after = wire
    name = KINDS[kind] if 0 <= kind < len(KINDS) else f"kind {kind}"
    if name in ("created", "deleted"):
        return Change(obj, slot, name, None, None)
    if name == "reference":
        return Change(obj, slot, name, before_target or None, after_target or None)
    if name in ("added", "removed"):
        member = after_target if name == "added" else before_target
        return Change(obj, slot, name, member if name == "removed" else None,
                      member if name == "added" else None, position)
    values_before = [_value(*v) for v in before]
    values_after = [_value(*v) for v in after]
    if name == "value":
        return Change(obj, slot, name, values_before[0] if values_before else None,
                      values_after[0] if values_after else None)
    return Change(obj, slot, name, values_before, values_after)


def commit_of(wire: tuple, changes_left: int = 0, objects_left: int = 0) -> Commit:
    sequence, micros, principal, server, touched, changes = wire
    time = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc) + \
        datetime.timedelta(microseconds=micros)
    objects = tuple((number, _class_name(class_number),
                     TOUCHES[change] if 0 <= change < len(TOUCHES) else str(change))
                    for number, class_number, change in touched)
    return Commit(sequence, time, principal, server, objects,
                  tuple(_change(c) for c in changes), changes_left, objects_left)
