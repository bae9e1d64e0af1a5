"""The rules qovixd judges text by, as the protocol file gives them, for a
client that wants to refuse a text before it makes anything."""

from __future__ import annotations

import re

from ._protocol import CLASS_PREFIX, LONGEST_USER_NAME, MULTIPLICITY_RANGE, USER_NAME_CHARACTERS

_RANGE = re.compile(MULTIPLICITY_RANGE)
_NAME_CHARACTERS = frozenset(USER_NAME_CHARACTERS)


def multiplicity_ranges(text: str) -> list[tuple[int, int]]:
    """The ranges of a multiplicity's text ("1", "0..*", "1..3,5"), each
    (lower, upper) with -1 for '*'; [] for "". Raises ValueError, saying
    why, for a text qovixd refuses."""
    ranges = []
    squeezed = text.replace(" ", "")
    for part in squeezed.split(",") if squeezed else []:
        bounds = _RANGE.fullmatch(part)
        if not bounds:
            raise ValueError(f"'{part}' is no multiplicity bound or range: write 1, 0..*, 1..3,5")
        if bounds[1] is None:
            ranges.append((-1, -1))
            continue
        lower = int(bounds[1])
        upper = lower if bounds[3] is None else -1 if bounds[3] == "*" else int(bounds[3])
        if 0 <= upper < lower:
            raise ValueError(f"'{part}' is no multiplicity range: its upper bound is below its "
                             "lower")
        ranges.append((lower, upper))
    return ranges


def short_class_name(name: str) -> str:
    """A class's name as people read it: without the model's prefix when it
    begins with it ("Class"), other names ("VORN") as they are."""
    if name.startswith(CLASS_PREFIX) and len(name) > len(CLASS_PREFIX):
        return name[len(CLASS_PREFIX):]
    return name


def is_user_name(name: str) -> bool:
    """Whether qovixd takes the name for user:NAME."""
    return 0 < len(name) <= LONGEST_USER_NAME and set(name) <= _NAME_CHARACTERS
