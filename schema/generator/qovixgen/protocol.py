"""The wire protocol's records, read from protocol/protocol.txt.

The file's own header documents its records. Reading and validation stop at
the first fault with a CatalogueError that names the file, the line and the
record at fault, as the catalogue's do.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field, replace
from pathlib import Path

from .catalogue_records import CatalogueError

NAME = re.compile(r"[a-z][a-z0-9_]*\Z")
NUMBER = re.compile(r"(0x[0-9A-Fa-f]+|[0-9]+)\Z")
TEXT = re.compile(r'"([^"\\]*)"\Z')
ACCESS_LEVELS = ("anyone", "read", "write")


@dataclass(frozen=True)
class WireType:
    """A host procedure's argument or result: its XDR filter and the C++
    type a handler takes or answers; `record` names the record or alias it
    is, when it is one."""
    name: str
    xdr: str
    cpp: str
    record: str = ""


# The argument and result types that are no record of this file: the xdr/
# layer's filters of the model's own types.
BUILTIN_TYPES = {
    "void": WireType("void", "xdr_void", "void"),
    "handle": WireType("handle", "X_InteropHandle", "InteropHandle"),
    "int": WireType("int", "X_udt_boolean", "udt_boolean"),
    "long": WireType("long", "X_udt_integer", "udt_integer"),
    "handle_long": WireType("handle_long", "X_HandleLong", "HandleLong"),
    "optional_string": WireType("optional_string", "X_OptionalString", "std::string"),
}

# The types a record's field may have, besides records and aliases.
FIELD_KINDS = ("word", "int", "uhyper", "hyper", "bool", "handle", "text", "units", "opaque")
FIELD_TYPE = re.compile(r"([a-z][a-z0-9_]*)(?:<([a-z0-9_]+)>)?(\[\])?\Z")
MOST_TEXT_BYTES = 1 << 20
# The words of rpcgen's language (RFC 5531 section 12, RFC 4506 section 6),
# which qovix.x cannot give a field.
RPCGEN_WORDS = frozenset("bool case char const default double enum float hyper int long opaque "
                         "program quadruple short string struct switch typedef union unsigned "
                         "version void".split())


@dataclass(frozen=True)
class FieldType:
    """What a field holds: one of FIELD_KINDS or a record (`kind` is then
    "record" and `record` names it); `bound` the most bytes of a text, or
    the constant that bounds an opaque; `repeated` for a list."""
    kind: str
    record: str = ""
    bound: int | str = 0
    repeated: bool = False


@dataclass(frozen=True)
class RecordField:
    name: str
    type: FieldType
    default: int
    local: bool  # in the C++ record, not on the wire
    line: int

    @property
    def camel(self) -> str:
        head, *rest = self.name.split("_")
        return head + "".join(part.capitalize() for part in rest)


@dataclass
class Record:
    """A record (its fields in wire order) or, with `alias`, an alias."""
    name: str
    fields: list[RecordField]
    alias: FieldType | None
    description: str
    line: int

    @property
    def camel(self) -> str:
        return camel(self.name)

    @property
    def wire_fields(self) -> list[RecordField]:
        return [f for f in self.fields if not f.local]

    @property
    def held_types(self) -> list[FieldType]:
        """What it holds: the alias's type, or each field's (on the wire or not)."""
        return [self.alias] if self.alias else [f.type for f in self.fields]

    @property
    def folded(self) -> bool:
        """Whether a filter of its own carries local fields."""
        return any(f.local for f in self.fields)


@dataclass(frozen=True)
class Program:
    name: str
    number: int
    version: int | None  # None: one version per class
    line: int


@dataclass(frozen=True)
class Constant:
    name: str
    value: int | str
    line: int
    spelled: str = ""  # a number as the record writes it (decimal or 0x...)


@dataclass(frozen=True)
class HostProcedure:
    number: int
    name: str
    argument: WireType
    result: WireType
    access: str
    description: str
    line: int

    @property
    def camel(self) -> str:
        return camel(self.name)


@dataclass
class Protocol:
    path: str
    source_name: str
    programs: dict[str, Program]
    constants: dict[str, Constant]
    host: list[HostProcedure]
    records: dict[str, Record] = field(default_factory=dict)  # aliases too, in file order

    def program(self, name: str) -> Program:
        return self.programs[name]


def camel(name: str) -> str:
    return "".join(part.capitalize() for part in name.split("_"))


class _Reader:
    def __init__(self, path: str, text: str):
        self.path = path
        self.protocol = Protocol(path, Path(path).name, {}, {}, [])
        self.lines = text.splitlines()

    def fail(self, line: int, record: str, message: str):
        raise CatalogueError(self.path, line, record, message)

    def name(self, line: int, record: str, text: str) -> str:
        if not NAME.match(text):
            self.fail(line, record, f"'{text}' is no lower_case name")
        return text

    def number(self, line: int, record: str, text: str) -> int:
        if not NUMBER.match(text):
            self.fail(line, record, f"'{text}' is no number")
        value = int(text, 0)
        if value > 0xFFFFFFFF:
            self.fail(line, record, f"{text} does not fit an XDR word")
        return value

    def read(self) -> Protocol:
        current: HostProcedure | Record | None = None
        for index, raw in enumerate(self.lines, start=1):
            stripped = raw.strip()
            if not stripped or stripped.startswith("#"):
                continue
            if raw[0].isspace():
                if stripped.startswith("|") and current is not None:
                    current = self._describe(current, stripped[1:].strip())
                elif isinstance(current, Record) and current.alias is None:
                    self._field(index, stripped, current)
                else:
                    self.fail(index, stripped, "an indented line describes the record above "
                              "it and starts with '|', or is a field of a record")
                continue
            words = stripped.split()
            self._end(current)
            current = None
            kind = words[0]
            if kind == "program":
                self._program(index, stripped, words)
            elif kind == "constant":
                self._constant(index, stripped)
            elif kind == "host":
                current = self._host(index, stripped, words)
            elif kind in ("record", "alias"):
                current = self._record(index, stripped, words)
            else:
                self.fail(index, stripped, f"unknown record '{kind}'")
        self._end(current)
        self._check_records()
        self._check()
        return self.protocol

    def _end(self, current: HostProcedure | Record | None) -> None:
        if isinstance(current, HostProcedure):
            self.protocol.host.append(current)
        elif isinstance(current, Record):
            self.protocol.records[current.name] = current

    @staticmethod
    def _describe(current: HostProcedure | Record, text: str) -> HostProcedure | Record:
        joined = f"{current.description} {text}".strip()
        if isinstance(current, Record):
            current.description = joined
            return current
        return replace(current, description=joined)

    def _record(self, line: int, record: str, words: list[str]) -> Record:
        if words[0] == "record" and len(words) != 2:
            self.fail(line, record, "expected: record NAME")
        if words[0] == "alias" and len(words) != 3:
            self.fail(line, record, "expected: alias NAME TYPE")
        name = self.name(line, record, words[1])
        if name in self.protocol.records or name in BUILTIN_TYPES or name in FIELD_KINDS:
            self.fail(line, record, f"the name {name} is taken")
        alias = self._field_type(line, record, words[2]) if words[0] == "alias" else None
        return Record(name, [], alias, "", line)

    def _field(self, line: int, text: str, record: Record) -> None:
        words = text.split()
        where = f"record {record.name}: {text}"
        local = words[2:] == ["local"]
        default = 0
        if len(words) == 4 and words[2] == "=" and re.fullmatch(r"-?[0-9]+", words[3]):
            default = int(words[3])
        elif len(words) != 2 and not local:
            self.fail(line, where, "expected: FIELD TYPE, then '= NUMBER' or 'local'")
        name = self.name(line, where, words[0])
        if RecordField(name, FieldType("word"), 0, False, line).camel in RPCGEN_WORDS:
            self.fail(line, where, f"{name} is a word of rpcgen's language, no field name")
        if any(f.name == name for f in record.fields):
            self.fail(line, where, f"the field {name} is there twice")
        record.fields.append(RecordField(name, self._field_type(line, where, words[1]), default,
                                         local, line))

    def _field_type(self, line: int, record: str, text: str) -> FieldType:
        spelled = FIELD_TYPE.match(text)
        if not spelled:
            self.fail(line, record, f"'{text}' is no field type")
        kind, bound, repeated = spelled.group(1), spelled.group(2), spelled.group(3) is not None
        if kind not in FIELD_KINDS:
            if bound:
                self.fail(line, record, f"a {kind} takes no bound")
            return FieldType("record", kind, 0, repeated)
        if kind == "text":
            if bound and not bound.isdigit():
                self.fail(line, record, f"text<{bound}>: a text's bound is a number of bytes")
            return FieldType(kind, "", int(bound) if bound else MOST_TEXT_BYTES, repeated)
        if kind == "opaque":
            if not bound or bound.isdigit():
                self.fail(line, record, "opaque takes the constant that bounds it: opaque<NAME>")
            return FieldType(kind, "", bound, repeated)
        if bound:
            self.fail(line, record, f"a {kind} takes no bound")
        return FieldType(kind, "", 0, repeated)

    def _check_records(self) -> None:
        """Every record a field names is declared, none holds itself, every
        opaque's bound is a constant; then each becomes a wire type."""
        records = self.protocol.records

        def check(record: Record, kind: FieldType, where: str, line: int) -> None:
            if kind.kind == "record" and kind.record not in records:
                self.fail(line, where, f"'{kind.record}' is no record or alias of this file")
            if kind.kind == "opaque" and kind.bound not in self.protocol.constants:
                self.fail(line, where, f"'{kind.bound}' is no constant of this file")
            if kind.kind == "record" and self._holds(kind.record, record.name, set()):
                self.fail(line, where, f"{record.name} would hold itself")

        for record in records.values():
            if record.alias is not None:
                check(record, record.alias, f"alias {record.name}", record.line)
            elif not record.wire_fields:
                self.fail(record.line, f"record {record.name}", "has no field on the wire")
            for each in record.fields:
                check(record, each.type, f"record {record.name}: {each.name}", each.line)
            if not record.description:
                self.fail(record.line, f"record {record.name}", "says nothing of what it is "
                          "('|' lines)")

    def _holds(self, name: str, wanted: str, seen: set[str]) -> bool:
        if name == wanted:
            return True
        if name in seen:
            return False
        seen.add(name)
        record = self.protocol.records[name]
        return any(k.kind == "record" and self._holds(k.record, wanted, seen)
                   for k in record.held_types)

    def _program(self, line: int, record: str, words: list[str]) -> None:
        if len(words) != 5 or words[3] != "versions":
            self.fail(line, record, "expected: program NAME NUMBER versions classes|N")
        name = self.name(line, record, words[1])
        if name in self.protocol.programs:
            self.fail(line, record, f"program {name} is declared twice")
        version = None if words[4] == "classes" else self.number(line, record, words[4])
        self.protocol.programs[name] = Program(name, self.number(line, record, words[2]),
                                               version, line)

    def _constant(self, line: int, record: str) -> None:
        parts = record.split(maxsplit=2)
        if len(parts) != 3:
            self.fail(line, record, 'expected: constant NAME NUMBER|"TEXT"')
        name = self.name(line, record, parts[1])
        if name in self.protocol.constants:
            self.fail(line, record, f"constant {name} is declared twice")
        quoted = TEXT.match(parts[2])
        value: int | str = quoted.group(1) if quoted else self.number(line, record, parts[2])
        self.protocol.constants[name] = Constant(name, value, line, parts[2])

    def _host(self, line: int, record: str, words: list[str]) -> HostProcedure:
        if len(words) != 7 or words[4] != "->":
            self.fail(line, record, "expected: host NUMBER NAME ARGUMENT -> RESULT ACCESS")
        if words[6] not in ACCESS_LEVELS:
            self.fail(line, record, f"access '{words[6]}' is none of {', '.join(ACCESS_LEVELS)}")
        # The types are found once every record is read (_check).
        return HostProcedure(self.number(line, record, words[1]), self.name(line, record, words[2]),
                             WireType(words[3], "", ""), WireType(words[5], "", ""), words[6], "",
                             line)

    def wire_types(self) -> dict[str, WireType]:
        types = dict(BUILTIN_TYPES)
        for record in self.protocol.records.values():
            types[record.name] = WireType(record.name, f"X_{record.camel}",
                                          cpp_type(self.protocol, record.name), record.name)
        return types

    def _check(self) -> None:
        programs = self.protocol.programs
        for needed in ("model", "cast", "host"):
            if needed not in programs:
                self.fail(0, "", f"no program {needed}")
        numbers: dict[int, str] = {}
        for program in programs.values():
            if program.number in numbers:
                self.fail(program.line, f"program {program.name}",
                          f"its number is program {numbers[program.number]}'s too")
            numbers[program.number] = program.name
        for needed in ("default_port", "most_text_units", "last_fragment", "auth_tls",
                       "start_tls", "tls_alpn", "tls_priorities", "multiplicity_range",
                       "user_name_characters", "longest_user_name"):
            if needed not in self.protocol.constants:
                self.fail(0, "", f"no constant {needed}")
        types = self.wire_types()
        for index, procedure in enumerate(self.protocol.host):
            for word in (procedure.argument.name, procedure.result.name):
                if word not in types:
                    self.fail(procedure.line, f"host {procedure.number} {procedure.name}",
                              f"'{word}' is none of {', '.join(types)}")
            self.protocol.host[index] = replace(procedure, argument=types[procedure.argument.name],
                                                result=types[procedure.result.name])
        seen: dict[int, HostProcedure] = {}
        names: set[str] = set()
        for procedure in self.protocol.host:
            record = f"host {procedure.number} {procedure.name}"
            if procedure.number in seen:
                self.fail(procedure.line, record,
                          f"procedure {procedure.number} is {seen[procedure.number].name} too")
            if procedure.name in names:
                self.fail(procedure.line, record, "the name is another procedure's too")
            if not procedure.description:
                self.fail(procedure.line, record, "says nothing of what it does ('|' lines)")
            seen[procedure.number] = procedure
            names.add(procedure.name)
        null = seen.get(0)
        if null is None or null.argument.name != "void" or null.result.name != "void":
            self.fail(0, "", "host procedure 0 must be the null procedure: void -> void")
        self.protocol.host.sort(key=lambda p: p.number)


CPP_KINDS = {"word": "std::uint32_t", "int": "std::int32_t", "uhyper": "std::uint64_t",
             "hyper": "std::int64_t", "bool": "bool", "handle": "std::uint32_t",
             "text": "std::string", "units": "std::u16string", "opaque": "std::string"}


def cpp_type(protocol: Protocol, name: str) -> str:
    """The C++ type of a record (qovix::Name) or an alias (its type's)."""
    record = protocol.records[name]
    if record.alias is None:
        return f"qovix::{record.camel}"
    return cpp_field_type(protocol, record.alias)


def cpp_field_type(protocol: Protocol, kind: FieldType) -> str:
    one = cpp_type(protocol, kind.record) if kind.kind == "record" else CPP_KINDS[kind.kind]
    return f"std::vector<{one}>" if kind.repeated else one


def load(path: Path) -> Protocol:
    return _Reader(str(path), path.read_text(encoding="utf-8")).read()


def parse(text: str, path: str = "protocol.txt") -> Protocol:
    return _Reader(path, text).read()
