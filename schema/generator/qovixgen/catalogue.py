"""The model class catalogue: typed records read from schema/catalogue.txt.

The file's own header documents its records. Reading and validation stop at
the first fault with a CatalogueError that names the file, the line and the
record at fault.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from pathlib import Path

from .signature import SignatureError, TypeUse, parse_signature, parse_type

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


class _Reader:
    """Reads the records line by line, remembering where each came from."""

    def __init__(self, path: str):
        self.path = path
        self.datatypes: dict[str, DataType] = {}
        self.members: list[MemberTemplate] = []
        self.classes: list[ModelClass] = []
        self.hidden: list[Hidden] = []

    def fail(self, line: int, record: str, message: str):
        raise CatalogueError(self.path, line, record, message)

    def number(self, text: str, line: int, record: str, what: str) -> int:
        if not text.isdigit():
            self.fail(line, record, f"{what} must be a number, not '{text}'")
        return int(text)

    def read(self, text: str):
        for line, raw in enumerate(text.splitlines(), start=1):
            stripped = raw.strip()
            if not stripped or stripped.startswith("#"):
                continue
            if raw[0].isspace():
                if not self.classes:
                    self.fail(line, "", "an indented line belongs to no class")
                self.read_class_line(self.classes[-1], stripped, line)
                continue
            keyword = stripped.split()[0]
            if keyword == "class":
                self.read_class(stripped.split(), line)
            elif keyword == "datatype":
                self.read_datatype(stripped.split(), line)
            elif keyword == "member":
                self.read_member(stripped, line)
            elif keyword == "hidden":
                self.read_hidden(stripped, line)
            else:
                self.fail(line, "", f"unknown record '{keyword}'")

    def read_datatype(self, words: list[str], line: int):
        record = " ".join(words[:2])
        if len(words) < 3:
            self.fail(line, record, "expected 'datatype NAME KIND [base BASE] [literals NAME...]'")
        name, kind = words[1], words[2]
        if not IDENTIFIER.match(name):
            self.fail(line, record, "the name must be an identifier")
        if kind not in VALUE_KINDS:
            self.fail(line, record, f"the kind must be one of {', '.join(VALUE_KINDS)}")
        if name in self.datatypes:
            self.fail(line, record, f"already declared on line {self.datatypes[name].line}")
        base = None
        literals: tuple[str, ...] = ()
        renamed: dict[str, list[tuple[str, str]]] = {"later": [], "reads": []}
        rest = words[3:]
        while rest:
            if rest[0] == "base" and len(rest) >= 2 and base is None:
                base, rest = rest[1], rest[2:]
            elif rest[0] in renamed and len(rest) >= 2 and rest[1].count("=") == 1:
                renamed[rest[0]].append(tuple(rest[1].split("=")))
                rest = rest[2:]
            elif rest[0] == "literals" and len(rest) >= 2 and not literals:
                literals, rest = tuple(rest[1:]), []
            else:
                self.fail(line, record, f"unexpected '{rest[0]}'")
        if any(not IDENTIFIER.match(literal) for literal in literals) or \
                len(set(literals)) != len(literals):
            self.fail(line, record, "literals must be distinct identifiers")
        if literals and kind == "text":
            self.fail(line, record, "a text type has no literals")
        for ours, later in renamed["later"]:
            if ours not in literals:
                self.fail(line, record, f"later {ours}={later}: no literal '{ours}'")
        for written, ours in renamed["reads"]:
            if ours not in literals:
                self.fail(line, record, f"reads {written}={ours}: no literal '{ours}'")
        self.datatypes[name] = DataType(name, kind, base, literals, line,
                                        tuple(renamed["later"]), tuple(renamed["reads"]))

    def read_hidden(self, text: str, line: int):
        match = re.match(r"hidden\s+(\w+)\s*:\s*(\w+)(?:\s+on\s+(\w+))?((?:\s+[\w.]+)*)$", text)
        record = " ".join(text.split()[:2])
        if not match:
            self.fail(line, record, "expected 'hidden NAME: VALUECLASS [on CLASS] [XMI NAMES]'")
        name, value_class, owner, rest = match.groups()
        if any(h.name == name and h.owner == owner for h in self.hidden):
            self.fail(line, f"hidden {name}", "declared twice")
        xmi = self.xmi_name(rest.split(), line, record, f"hidden '{name}'")
        self.hidden.append(Hidden(name, value_class, owner, line, xmi))

    def xmi_name(self, words: list[str], line: int, record: str, subject: str) -> XmiName:
        """Reads `uml`, `xmi OWNER.NAME`, `xmi13 OWNER.NAME`, `reads OWNER.NAME`
        from `words`, which keep what is not theirs."""
        found: dict[str, str] = {}
        reads: list[str] = []
        standard = False
        kept = []
        i = 0
        while i < len(words):
            word = words[i]
            if word == "uml":
                standard = True
            elif word in ("xmi", "xmi13", "reads"):
                if i + 1 >= len(words) or not QUALIFIED.match(words[i + 1]):
                    self.fail(line, record, f"{subject}: '{word}' needs an OWNER.NAME")
                if word == "reads":
                    reads.append(words[i + 1])
                elif word in found:
                    self.fail(line, record, f"{subject}: '{word}' given twice")
                else:
                    found[word] = words[i + 1]
                i += 1
            else:
                kept.append(word)
            i += 1
        words[:] = kept
        if standard and found:
            self.fail(line, record, f"{subject}: 'uml' keeps the catalogue's name; 'xmi' "
                      "gives another")
        if "xmi13" in found and "xmi" not in found:
            self.fail(line, record, f"{subject}: 'xmi13' needs 'xmi'")
        return XmiName(standard, found.get("xmi", ""), found.get("xmi13", ""), tuple(reads))

    def read_member(self, text: str, line: int):
        words = text.split()
        record = " ".join(words[:3])
        if len(words) < 3:
            self.fail(line, record, "expected 'member GROUP SUFFIX = SIGNATURE'")
        group = words[1]
        if group not in CLASS_GROUPS + FEATURE_KINDS:
            self.fail(line, record, f"unknown member group '{group}'")
        if words[2:] == ["unassigned"]:
            self.members.append(MemberTemplate(group, None, None, False, line))
            return
        if len(words) < 5 or words[3] != "=":
            self.fail(line, record, "expected 'member GROUP SUFFIX = SIGNATURE'")
        signature = text.split("=", 1)[1].strip()
        marks = []
        while signature.rsplit(" ", 1)[-1] in ("optional", "writes") and " " in signature:
            signature, mark = signature.rsplit(" ", 1)
            if mark in marks:
                self.fail(line, record, f"'{mark}' given twice")
            marks.append(mark)
        optional = "optional" in marks
        if optional and group != "tail":
            self.fail(line, record, "only tail members can be optional")
        if "writes" in marks and group == "cast":
            self.fail(line, record, "a cast only reads")
        if any(m.group == group and m.suffix == words[2] for m in self.members):
            self.fail(line, record, "the group already has this suffix")
        self.members.append(MemberTemplate(group, words[2], signature.strip(), optional, line,
                                           "writes" in marks))

    def read_class(self, words: list[str], line: int):
        record = " ".join(words[:3])
        if len(words) < 5:
            self.fail(line, record, "expected 'class NUMBER NAME highest N [unassigned K]'")
        number = self.number(words[1], line, record, "the class number")
        name = words[2]
        if not IDENTIFIER.match(name) or not name.startswith(CLASS_PREFIX) or name == CLASS_PREFIX:
            self.fail(line, record, f"the class name must be an identifier starting with {CLASS_PREFIX}")
        options: dict[str, int] = {}
        superclasses: tuple[str, ...] = ()
        names: dict[str, str] = {}
        rest = words[3:]
        if len(rest) % 2:
            self.fail(line, record, f"'{rest[-1]}' has no value")
        for key, value in zip(rest[::2], rest[1::2]):
            if key == "isa":
                if superclasses:
                    self.fail(line, record, "'isa' given twice")
                superclasses = tuple(value.split(","))
                continue
            if key in ("xmi", "package", "reads"):
                if key in names:
                    self.fail(line, record, f"'{key}' given twice")
                names[key] = value
                continue
            if key not in ("highest", "unassigned"):
                self.fail(line, record, f"unknown field '{key}'")
            if key in options:
                self.fail(line, record, f"'{key}' given twice")
            options[key] = self.number(value, line, record, f"'{key}'")
        if "highest" not in options:
            self.fail(line, record, "'highest' is missing")
        self.classes.append(ModelClass(
            number, name, options["highest"], options.get("unassigned"), line, superclasses,
            names.get("xmi"), names.get("package", "Foundation.Core"),
            tuple(names["reads"].split(",")) if "reads" in names else ()))

    def read_class_line(self, model_class: ModelClass, text: str, line: int):
        keyword = text.split()[0]
        record = model_class.label
        if model_class.finds:
            self.fail(line, record, "the find line comes last")
        if keyword in FEATURE_KINDS:
            if model_class.operations:
                self.fail(line, record, f"{keyword} '{text.split()[1]}' after the operations; "
                          "features come first")
            model_class.features.append(self.feature(keyword, text, line, record))
        elif keyword == "operation":
            model_class.operations.append(self.operation(text, line, record))
        elif keyword == "unassigned":
            model_class.operations.append(Gap(line))
        elif keyword == "find":
            model_class.finds = tuple(text.split()[1:])
            for suffix in model_class.finds:
                if suffix not in OPTIONAL_FINDS:
                    self.fail(line, record, f"unknown find '{suffix}'")
        else:
            self.fail(line, record, f"unknown feature kind '{keyword}'")

    def feature(self, kind: str, text: str, line: int, record: str) -> Feature:
        separator = ":" if kind in ("attribute", "set", "list", "array", "values") else "->"
        pattern = rf"{kind}\s+(\w+)\s*{re.escape(separator)}\s*(\w+)((?:\s+[\w.]+)*)$"
        match = re.match(pattern, text)
        if not match:
            self.fail(line, record, f"expected '{kind} NAME {separator} TYPE'")
        subject = f"{kind} '{match.group(1)}'"
        modifiers = match.group(3).split()
        xmi = self.xmi_name(modifiers, line, record, subject)
        opposite = None
        if "opposite" in modifiers:
            at = modifiers.index("opposite")
            if at + 1 >= len(modifiers):
                self.fail(line, record, f"{subject}: 'opposite' names no feature")
            opposite = modifiers[at + 1]
            del modifiers[at:at + 2]
        needs = 0
        if "needs" in modifiers:
            at = modifiers.index("needs")
            count = modifiers[at + 1] if at + 1 < len(modifiers) else ""
            needs = int(count) if count.isdigit() else 1
            del modifiers[at:at + (2 if count.isdigit() else 1)]
            if kind not in REFERENCE_KINDS or needs < 1 or \
                    (needs > 1 and kind in ("single", "readonly")):
                self.fail(line, record, f"{subject} cannot need {needs} "
                          f"{'end' if needs == 1 else 'ends'}")
        for modifier in modifiers:
            if modifier not in ("const", "owns") or modifiers.count(modifier) > 1:
                self.fail(line, record, f"{subject}: unexpected '{modifier}'")
        const = "const" in modifiers
        owns = "owns" in modifiers
        if const and kind not in ("single", "set", "list"):
            self.fail(line, record, f"{subject} cannot be const")
        if owns and kind not in REFERENCE_KINDS:
            self.fail(line, record, f"{subject} cannot own")
        if opposite is not None and kind not in REFERENCE_KINDS:
            self.fail(line, record, f"{subject} holds values: it has no opposite end")
        return Feature(kind, match.group(1), match.group(2), const, line, owns, opposite, xmi,
                       needs)

    def operation(self, text: str, line: int, record: str) -> Operation:
        match = re.match(r"operation\s+(\w+)\(([^()]*)\)\s*(?:->\s*(\S+))?\s*(?:label\s+(\w+))?"
                         r"\s*(?:body\s+(\w+)(?:\s+(?!writes\b)(\w+))?)?\s*(writes)?$", text)
        if not match:
            self.fail(line, record, "expected 'operation NAME(PARAMETERS) [-> RESULT] [label L] "
                      "body KIND [ARGUMENT] [writes]'")
        name, parameters, result, label, kind, argument, writes = match.groups()
        subject = f"operation '{name}'"
        if kind is None:
            self.fail(line, record, f"{subject} says nothing of its body ('body KIND')")
        if kind not in BODY_KINDS:
            self.fail(line, record, f"{subject}: unknown body '{kind}'; one of "
                      f"{', '.join(BODY_KINDS)}")
        if (argument is None) != (BODY_KINDS[kind] is None):
            needs = BODY_KINDS[kind]
            self.fail(line, record, f"{subject}: body {kind} " +
                      (f"needs a {needs}" if needs else "takes no argument"))
        body = (kind,) if argument is None else (kind, argument)
        return Operation(name, f"{result or 'void'} {name}({parameters})", label or name, line,
                         writes is not None, body)


def parse(text: str, path: str = "<catalogue>") -> Catalogue:
    reader = _Reader(path)
    reader.read(text)
    catalogue = Catalogue(path, reader.datatypes, reader.members, reader.classes, reader.hidden)
    validate(catalogue)
    return catalogue


def load(path: Path) -> Catalogue:
    return parse(path.read_text(encoding="utf-8"), str(path))


# Validation ---------------------------------------------------------------

def check_type(catalogue: Catalogue, use: TypeUse) -> str | None:
    """What is wrong with a type, or None when it is known."""
    if use.element is not None:
        if use.name not in COLLECTIONS:
            return f"'{use.name}' is no collection"
        if catalogue.class_named(use.element) is None:
            return f"unknown class '{use.element}'"
        return None
    if use.name in ("void", "int", "long", "char") or use.name in PLATFORM_OBJECTS:
        return None
    if use.name in catalogue.datatypes or catalogue.class_named(use.name) is not None:
        return None
    if use.name in COLLECTIONS:
        return f"'{use.name}' needs an element class"
    return f"unknown type '{use.name}'"


def validate(catalogue: Catalogue) -> None:
    path = catalogue.path
    if not catalogue.classes:
        raise CatalogueError(path, 0, "", "the catalogue holds no class")
    for datatype in catalogue.datatypes.values():
        where = (path, datatype.line, f"datatype {datatype.name}")
        if catalogue.class_named(datatype.name):
            raise CatalogueError(*where, "the name is also a class")
        base = datatype.base
        if base is not None and base not in catalogue.datatypes and base not in VALUE_BASES:
            raise CatalogueError(*where, f"unknown base '{base}'")
        if base in catalogue.datatypes and catalogue.datatypes[base].kind != datatype.kind:
            raise CatalogueError(*where, f"the base '{base}' holds another kind of value")
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
    _validate_generalization(catalogue)
    _validate_hidden(catalogue)
    for model_class in catalogue.classes:
        _validate_features(catalogue, model_class)
        _validate_operations(catalogue, model_class)
        _validate_finds(catalogue, model_class)
    opposite_ends(catalogue)
    _validate_xmi_names(catalogue)


def ancestors(catalogue: Catalogue, model_class: ModelClass) -> list[ModelClass]:
    """The class's superclasses, nearest first, each once."""
    found: list[ModelClass] = []
    frontier = [model_class]
    while frontier:
        following = []
        for current in frontier:
            for name in current.superclasses:
                superclass = catalogue.class_named(name)
                if superclass not in found:
                    found.append(superclass)
                    following.append(superclass)
        frontier = following
    return found


def _validate_generalization(catalogue: Catalogue):
    for model_class in catalogue.classes:
        where = (catalogue.path, model_class.line, model_class.label)
        for name in model_class.superclasses:
            if catalogue.class_named(name) is None:
                raise CatalogueError(*where, f"unknown superclass '{name}'")
    for model_class in catalogue.classes:
        if model_class in ancestors(catalogue, model_class):
            raise CatalogueError(catalogue.path, model_class.line, model_class.label,
                                 "the class is its own ancestor")


def _validate_features(catalogue: Catalogue, model_class: ModelClass):
    names: set[str] = set()
    seen_reference = False
    for feature in model_class.features:
        where = (catalogue.path, feature.line, model_class.label)
        subject = f"{feature.kind} '{feature.name}'"
        if feature.name in names:
            raise CatalogueError(*where, f"{subject} is declared twice")
        names.add(feature.name)
        if feature.kind == "attribute":
            if seen_reference:
                raise CatalogueError(*where, f"{subject} comes after a reference; "
                                     "attributes come first")
            if feature.type not in catalogue.datatypes:
                raise CatalogueError(*where, f"{subject}: '{feature.type}' is no data type")
        elif feature.kind == "values":
            seen_reference = True
            if feature.type not in catalogue.datatypes:
                raise CatalogueError(*where, f"{subject}: '{feature.type}' is no data type")
        else:
            seen_reference = True
            if catalogue.class_named(feature.type) is None:
                raise CatalogueError(*where, f"{subject}: unknown class '{feature.type}'")


def feature_of(catalogue: Catalogue, model_class: ModelClass,
               name: str) -> tuple[ModelClass, Feature] | None:
    """The feature an object of the class has under `name`: its own or an
    ancestor's, with the class that declares it."""
    for each in [model_class, *ancestors(catalogue, model_class)]:
        for feature in each.features:
            if feature.name == name:
                return each, feature
    return None


End = tuple[str, str]  # (declaring class, feature)


def opposite_ends(catalogue: Catalogue) -> dict[End, End]:
    """Both ends of every association the catalogue marks `opposite`, each
    end mapped to the other. The mark may be on either end, or on both when
    they agree. The other end is a reference feature of the element class
    (or an ancestor), whose elements are the marking class, an ancestor or
    a descendant: an object reached by one end can reach back by the other."""
    ends: dict[End, End] = {}
    for model_class in catalogue.classes:
        for feature in model_class.features:
            if feature.opposite is None:
                continue
            where = (catalogue.path, feature.line, model_class.label)
            subject = f"{feature.kind} '{feature.name}'"
            element = catalogue.class_named(feature.type)
            found = feature_of(catalogue, element, feature.opposite)
            if found is None:
                raise CatalogueError(*where, f"{subject}: {element.name} has no feature "
                                     f"'{feature.opposite}' for its opposite end")
            owner, other = found
            if other.kind not in REFERENCE_KINDS:
                raise CatalogueError(*where, f"{subject}: the opposite end "
                                     f"{owner.name}.{other.name} holds values")
            held = catalogue.class_named(other.type)
            if not (held is model_class or held in ancestors(catalogue, model_class) or
                    model_class in ancestors(catalogue, held)):
                raise CatalogueError(*where, f"{subject}: the opposite end {owner.name}."
                                     f"{other.name} holds {other.type}, which is neither "
                                     f"{model_class.name} nor its ancestor or descendant")
            this: End = (model_class.name, feature.name)
            that: End = (owner.name, other.name)
            for end, partner in ((this, that), (that, this)):
                if ends.get(end, partner) != partner:
                    raise CatalogueError(*where, f"{subject}: {end[0]}.{end[1]} already has the "
                                         f"opposite end {ends[end][0]}.{ends[end][1]}")
                ends[end] = partner
    return ends


def xmi_metaclass(model_class: ModelClass) -> str:
    """The metaclass name UML 1.3 and 1.4 documents write for the class."""
    return model_class.xmi_name or model_class.name.removeprefix(CLASS_PREFIX)


def _validate_xmi_names(catalogue: Catalogue):
    """Each metaclass name stands for one class, and every property name
    the records give is OWNER.NAME with OWNER a metaclass."""
    metaclasses: dict[str, ModelClass] = {}
    for model_class in catalogue.classes:
        where = (catalogue.path, model_class.line, model_class.label)
        names = {model_class.name.removeprefix(CLASS_PREFIX), xmi_metaclass(model_class),
                 *model_class.reads}
        for name in names:
            if metaclasses.get(name, model_class) is not model_class:
                raise CatalogueError(*where, f"the metaclass name '{name}' is already "
                                     f"{metaclasses[name].name}'s")
            metaclasses[name] = model_class
    named = [(c, f.line, f"{f.kind} '{f.name}'", f.xmi) for c in catalogue.classes
             for f in c.features]
    named += [(None, h.line, f"hidden '{h.name}'", h.xmi) for h in catalogue.hidden]
    for model_class, line, subject, xmi in named:
        for written in (xmi.uml14, xmi.uml13, *xmi.reads):
            owner = written.split(".")[0] if written else "Element"
            if owner not in metaclasses and owner != "Element":
                record = model_class.label if model_class else ""
                raise CatalogueError(catalogue.path, line, record,
                                     f"{subject}: '{written}' names no metaclass '{owner}'")


def _validate_hidden(catalogue: Catalogue):
    for hidden in catalogue.hidden:
        where = (catalogue.path, hidden.line, f"hidden {hidden.name}")
        if hidden.value_class not in catalogue.datatypes:
            raise CatalogueError(*where, f"'{hidden.value_class}' is no data type")
        if hidden.owner is not None and catalogue.class_named(hidden.owner) is None:
            raise CatalogueError(*where, f"unknown class '{hidden.owner}'")


def hidden_slot(catalogue: Catalogue, model_class: ModelClass, name: str) -> Hidden | None:
    """The hidden slot `name` of the class's objects: every object's, or
    one declared for the class or an ancestor."""
    lineage = [model_class.name] + [c.name for c in ancestors(catalogue, model_class)]
    for hidden in catalogue.hidden:
        if hidden.name == name and (hidden.owner is None or hidden.owner in lineage):
            return hidden
    return None


def is_truth(catalogue: Catalogue, type_name: str) -> bool:
    """Whether a data type carries a C++ bool: its literals are false, true."""
    datatype = catalogue.datatypes.get(type_name)
    return datatype is not None and datatype.literals == ("false", "true")


def _validate_body(catalogue: Catalogue, model_class: ModelClass, operation: Operation,
                   signature, where, subject: str):
    kind = operation.body[0]
    result = signature.result
    params = signature.parameters
    if kind == "construct" and result.name != "void":
        raise CatalogueError(*where, f"{subject}: a construct body answers nothing")
    if kind == "read":
        if hidden_slot(catalogue, model_class, operation.body[1]) is None or params:
            raise CatalogueError(*where, f"{subject}: body read needs no parameter and a hidden "
                                 f"slot '{operation.body[1]}' of {model_class.name}")
    if kind == "write":
        if hidden_slot(catalogue, model_class, operation.body[1]) is None or len(params) != 1:
            raise CatalogueError(*where, f"{subject}: body write needs one parameter and a "
                                 f"hidden slot '{operation.body[1]}' of {model_class.name}")
    if kind == "first":
        wanted = operation.body[1]
        if not any(f.name == wanted and f.kind in ("set", "list", "array")
                   for f in model_class.features):
            raise CatalogueError(*where, f"{subject}: {model_class.name} has no collection "
                                 f"feature '{wanted}' to answer the first member of")
    if kind == "derived" and (result.element is None or params):
        raise CatalogueError(*where, f"{subject}: a derived body answers a collection and "
                             "takes no parameter")


def _validate_operations(catalogue: Catalogue, model_class: ModelClass):
    labels: dict[str, Operation] = {}
    for operation in model_class.operations:
        if isinstance(operation, Gap):
            continue
        where = (catalogue.path, operation.line, model_class.label)
        subject = f"operation '{operation.name}'"
        if operation.label in labels:
            raise CatalogueError(*where, f"{subject}: the label '{operation.label}' is taken by "
                                 f"line {labels[operation.label].line}; give it a label")
        labels[operation.label] = operation
        try:
            signature = parse_signature(operation.signature, model_class.name)
        except SignatureError as error:
            raise CatalogueError(*where, f"{subject}: {error}") from None
        for use in (signature.result, *signature.parameters):
            problem = check_type(catalogue, use)
            if problem:
                raise CatalogueError(*where, f"{subject}: {problem}")
        _validate_body(catalogue, model_class, operation, signature, where, subject)


def _text_served(catalogue: Catalogue, model_class: ModelClass) -> bool:
    for feature in model_class.features:
        if feature.kind in ("attribute", "values") and \
                catalogue.datatypes[feature.type].kind == "text":
            return True
    for operation in model_class.operations:
        if isinstance(operation, Operation) and operation.body == ("read", "name"):
            result = parse_type(operation.signature.split()[0])
            datatype = catalogue.datatypes.get(result.name)
            if datatype is not None and datatype.kind == "text":
                return True
    return False


def _number_served(catalogue: Catalogue, model_class: ModelClass) -> bool:
    return any(f.kind == "attribute" and catalogue.datatypes[f.type].kind == "number"
               for f in model_class.features)


def _validate_finds(catalogue: Catalogue, model_class: ModelClass):
    """_find__1 searches text attributes and _find__2 number attributes, so a
    class has each exactly when it declares such an attribute (a class's name,
    served by get_name, counts as text)."""
    where = (catalogue.path, model_class.line, model_class.label)
    for suffix, needed, what in (("_find__1", _text_served(catalogue, model_class), "text"),
                                 ("_find__2", _number_served(catalogue, model_class), "number")):
        if needed and suffix not in model_class.finds:
            raise CatalogueError(*where, f"declares a {what}-valued attribute, so it needs "
                                 f"{suffix}")
        if not needed and suffix in model_class.finds:
            raise CatalogueError(*where, f"{suffix} needs a {what}-valued attribute to search")
