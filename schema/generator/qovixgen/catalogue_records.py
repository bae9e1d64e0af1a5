"""The model class catalogue's records: what schema/catalogue.txt holds,
typed, and the error that names a record at fault. The reader
(catalogue_reader.py) makes them; the checks (catalogue_checks.py) hold them
to their rules; the emitters only read them.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from pathlib import Path

IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")
QUALIFIED = re.compile(r"(\*|[A-Za-z_]\w*)\.[A-Za-z_]\w*\Z")
CLASS_PREFIX = "QOVIX"

VALUE_KINDS = ("text", "number", "truth")
CLASS_GROUPS = ("head", "tail", "cast")
FEATURE_KINDS = ("attribute", "single", "readonly", "set", "list", "array", "values")
REFERENCE_KINDS = ("single", "readonly", "set", "list", "array")
COLLECTIONS = ("VornSet", "VornList", "VornArray")
# The hand-written payload bases a data type may derive from, besides
# another data type.
VALUE_BASES = ("TextValue", "VornInteger", "VornEnumeration")
# Objects of the repository's base types that travel by handle.
PLATFORM_OBJECTS = ("VORN", "VornMetaModel", "VornPersistentObject")
OPTIONAL_FINDS = ("_find__1", "_find__2", "find_myName_0")


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
class XmiName:
    """How UML 1.3 and 1.4 documents name a feature: under the catalogue's
    name (`uml`), or under another (`xmi OWNER.NAME`, and `xmi13` where UML
    1.3's differs from 1.4's); neither: only the QOVIX extension has it.
    `reads` are further names documents write for it."""
    standard: bool = False
    uml14: str = ""
    uml13: str = ""
    reads: tuple[str, ...] = ()


@dataclass(frozen=True)
class DataType:
    name: str
    kind: str
    base: str | None
    literals: tuple[str, ...]
    line: int
    later: tuple[tuple[str, str], ...] = ()  # (ours, as UML 1.3 and 1.4 write it)
    reads: tuple[tuple[str, str], ...] = ()  # (as documents write it, ours)


@dataclass(frozen=True)
class MemberTemplate:
    group: str
    suffix: str | None  # None: a number kept without a procedure
    signature: str | None
    optional: bool
    line: int
    writes: bool = False  # changes the repository; else it only reads


@dataclass(frozen=True)
class Feature:
    kind: str
    name: str
    type: str
    const: bool
    line: int
    owns: bool = False
    opposite: str | None = None  # the other end's feature, on the element class
    xmi: XmiName = XmiName()  # how UML 1.3 and 1.4 documents name it
    needs: int = 0  # fewer ends than this left by a delete, and the object goes too


@dataclass(frozen=True)
class Operation:
    name: str
    signature: str  # as a member: "RESULT NAME(PARAMETERS)"
    label: str
    line: int
    writes: bool = False
    body: tuple[str, ...] = ()  # what its body computes: KIND, then its argument


@dataclass(frozen=True)
class Hidden:
    """A slot objects have besides their features, which class operations
    read and write: every object's, or only a class's (and its
    descendants')."""
    name: str
    value_class: str
    owner: str | None
    line: int
    xmi: XmiName = XmiName()


# What an operation's body computes (`body KIND [ARGUMENT]`), with the
# argument each kind takes.
BODY_KINDS = {
    "construct": None,  # places the object in its owners, values into attributes
    "read": "slot",     # answers a hidden slot's value
    "write": "slot",    # writes a hidden slot
    "first": "feature",  # answers the first member of a collection feature
    "derived": None,    # answers the derived collection of the operation's name
    "call": "function",  # answers what the model library's function answers
}


@dataclass(frozen=True)
class Gap:
    """A procedure number without a procedure, among the operations."""
    line: int


@dataclass
class ModelClass:
    number: int
    name: str
    highest: int
    unassigned: int | None
    line: int
    superclasses: tuple[str, ...] = ()
    xmi_name: str | None = None   # the metaclass name UML 1.3 and 1.4 gave it
    xmi_package: str = "Foundation.Core"  # its UML 1.3 package, for XMI 1.0
    reads: tuple[str, ...] = ()   # metaclasses of UML 1.3 and 1.4 read as it
    features: list[Feature] = field(default_factory=list)
    operations: list[Operation | Gap] = field(default_factory=list)
    finds: tuple[str, ...] = ()

    @property
    def label(self) -> str:
        """How errors and generated comments name the record."""
        return f"class {self.number} {self.name}"


@dataclass
class Catalogue:
    path: str
    datatypes: dict[str, DataType]
    members: list[MemberTemplate]
    classes: list[ModelClass]
    hidden: list[Hidden] = field(default_factory=list)

    @property
    def source_name(self) -> str:
        """The catalogue's file name, for the banner of generated files."""
        return Path(self.path).name

    def members_of(self, group: str) -> list[MemberTemplate]:
        return [m for m in self.members if m.group == group]

    def class_named(self, name: str) -> ModelClass | None:
        return self._by_name.get(name)

    def __post_init__(self):
        self._by_name = {c.name: c for c in self.classes}
