"""The model class catalogue: typed records read from schema/catalogue.txt.

The file is line oriented. Blank lines and lines starting with '#' are
ignored. Each class is one record:

    class NUMBER NAME highest N [unassigned K]

Parsing and validation stop at the first fault with a CatalogueError that
names the file, the line and the record at fault.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path

IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")
CLASS_PREFIX = "QOVIX"


class CatalogueError(Exception):
    """A fault in the catalogue, located by file, line and record."""

    def __init__(self, path: str, line: int, record: str, message: str):
        self.path = path
        self.line = line
        self.record = record
        self.message = message
        where = f"{path}:{line}" if line else path
        subject = f"{record}: " if record else ""
        super().__init__(f"{where}: {subject}{message}")


@dataclass(frozen=True)
class ModelClass:
    number: int
    name: str
    highest: int
    unassigned: int | None
    line: int

    @property
    def label(self) -> str:
        """How errors and generated comments name the record."""
        return f"class {self.number} {self.name}"


@dataclass(frozen=True)
class Catalogue:
    path: str
    classes: tuple[ModelClass, ...]

    @property
    def source_name(self) -> str:
        """The catalogue's file name, for the banner of generated files."""
        return Path(self.path).name


def _number(text: str, path: str, line: int, record: str, what: str) -> int:
    if not text.isdigit():
        raise CatalogueError(path, line, record, f"{what} must be a number, not '{text}'")
    return int(text)


def _parse_class(words: list[str], path: str, line: int) -> ModelClass:
    record = " ".join(words[:3])
    if len(words) < 5:
        raise CatalogueError(path, line, record,
                             "expected 'class NUMBER NAME highest N [unassigned K]'")
    number = _number(words[1], path, line, record, "the class number")
    name = words[2]
    if not IDENTIFIER.match(name) or not name.startswith(CLASS_PREFIX) or name == CLASS_PREFIX:
        raise CatalogueError(path, line, record,
                             f"the class name must be an identifier starting with {CLASS_PREFIX}")
    options: dict[str, int] = {}
    rest = words[3:]
    if len(rest) % 2:
        raise CatalogueError(path, line, record, f"'{rest[-1]}' has no value")
    for key, value in zip(rest[::2], rest[1::2]):
        if key not in ("highest", "unassigned"):
            raise CatalogueError(path, line, record, f"unknown field '{key}'")
        if key in options:
            raise CatalogueError(path, line, record, f"'{key}' given twice")
        options[key] = _number(value, path, line, record, f"'{key}'")
    if "highest" not in options:
        raise CatalogueError(path, line, record, "'highest' is missing")
    return ModelClass(number, name, options["highest"], options.get("unassigned"), line)


def parse(text: str, path: str = "<catalogue>") -> Catalogue:
    classes: list[ModelClass] = []
    for line_number, raw in enumerate(text.splitlines(), start=1):
        stripped = raw.strip()
        if not stripped or stripped.startswith("#"):
            continue
        words = stripped.split()
        if words[0] != "class":
            raise CatalogueError(path, line_number, "", f"unknown record '{words[0]}'")
        classes.append(_parse_class(words, path, line_number))
    catalogue = Catalogue(path, tuple(classes))
    validate(catalogue)
    return catalogue


def validate(catalogue: Catalogue) -> None:
    path = catalogue.path
    if not catalogue.classes:
        raise CatalogueError(path, 0, "", "the catalogue holds no class")
    seen: dict[str, ModelClass] = {}
    for expected, model_class in enumerate(catalogue.classes, start=1):
        where = (path, model_class.line, model_class.label)
        if model_class.number != expected:
            raise CatalogueError(*where, f"class numbers run from 1 without gaps; "
                                 f"expected {expected} here")
        if model_class.name in seen:
            first = seen[model_class.name]
            raise CatalogueError(*where, f"the name is already used by line {first.line}")
        seen[model_class.name] = model_class
        if model_class.highest < 1:
            raise CatalogueError(*where, "'highest' must be at least 1")
        unassigned = model_class.unassigned
        if unassigned is not None and not 1 <= unassigned < model_class.highest:
            raise CatalogueError(*where, f"unassigned {unassigned} must lie inside "
                                 f"1..{model_class.highest - 1}, below the highest number")


def load(path: Path) -> Catalogue:
    return parse(path.read_text(encoding="utf-8"), str(path))
