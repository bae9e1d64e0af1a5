"""Reads schema/catalogue.txt into its records (catalogue_records.py),
line by line, remembering where each came from. The file's own header
documents its records; reading stops at the first fault with a
CatalogueError that names the file, the line and the record at fault.
"""

from __future__ import annotations

import re

from .catalogue_records import (BODY_KINDS, CLASS_GROUPS, CLASS_PREFIX, Catalogue, CatalogueError,
                                DataType, FEATURE_KINDS, Feature, Gap, Hidden, IDENTIFIER,
                                MemberTemplate, ModelClass, OPTIONAL_FINDS, Operation, QUALIFIED,
                                REFERENCE_KINDS, VALUE_KINDS, XmiName)


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


def read_catalogue(text: str, path: str) -> Catalogue:
    """The records the text holds, unchecked."""
    reader = _Reader(path)
    reader.read(text)
    return Catalogue(path, reader.datatypes, reader.members, reader.classes, reader.hidden)
