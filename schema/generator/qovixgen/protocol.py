"""The wire protocol's records, read from protocol/protocol.txt.

The file's own header documents its records. Reading and validation stop at
the first fault with a CatalogueError that names the file, the line and the
record at fault, as the catalogue's do.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from pathlib import Path

from .catalogue import CatalogueError

NAME = re.compile(r"[a-z][a-z0-9_]*\Z")
NUMBER = re.compile(r"(0x[0-9A-Fa-f]+|[0-9]+)\Z")
TEXT = re.compile(r'"([^"\\]*)"\Z')
ACCESS_LEVELS = ("anyone", "read", "write")


@dataclass(frozen=True)
class WireType:
    """A host procedure's argument or result: its XDR filter, the C++ type a
    handler takes or answers, and its Python reader."""
    name: str
    xdr: str
    cpp: str
    python: str  # the _rpc reader of a result; fields of an argument


WIRE_TYPES = {
    "void": WireType("void", "xdr_void", "void", "no_result"),
    "handle": WireType("handle", "X_InteropHandle", "InteropHandle", "handle_result"),
    "int": WireType("int", "X_udt_boolean", "udt_boolean", "number_result"),
    "long": WireType("long", "X_udt_integer", "udt_integer", "number_result"),
    "handle_long": WireType("handle_long", "X_HandleLong", "HandleLong", "pair_result"),
    "optional_string": WireType("optional_string", "X_OptionalString", "std::string",
                                "string_result"),
    "sequence": WireType("sequence", "X_Sequence", "std::uint64_t", "sequence_result"),
    "history_query": WireType("history_query", "X_HistoryQuery", "qovix::HistoryQuery", ""),
    "commit_page": WireType("commit_page", "X_CommitPage", "qovix::CommitPage", "commit_page_result"),
    "undo_answer": WireType("undo_answer", "X_UndoAnswer", "qovix::UndoAnswer", "undo_result"),
    "document_name": WireType("document_name", "X_DocumentName", "std::string", ""),
    "document_chunk": WireType("document_chunk", "X_DocumentChunk", "qovix::DocumentChunk", ""),
    "document_range": WireType("document_range", "X_DocumentRange", "qovix::DocumentRange", ""),
    "document_bytes": WireType("document_bytes", "X_DocumentBytes", "qovix::DocumentBytes",
                               "document_bytes_result"),
    "import_request": WireType("import_request", "X_ImportRequest", "qovix::ImportRequest", ""),
    "export_request": WireType("export_request", "X_ExportRequest", "qovix::ExportRequest", ""),
    "multiplicity_request": WireType("multiplicity_request", "X_MultiplicityRequest",
                                     "qovix::MultiplicityRequest", ""),
    "user_name": WireType("user_name", "X_UserName", "std::string", ""),
    "outcome": WireType("outcome", "X_Outcome", "qovix::Outcome", "outcome_result"),
}


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
        current: HostProcedure | None = None
        for index, raw in enumerate(self.lines, start=1):
            stripped = raw.strip()
            if not stripped or stripped.startswith("#"):
                continue
            if raw[0].isspace():
                if current is None or not stripped.startswith("|"):
                    self.fail(index, stripped, "an indented line describes the host record "
                              "above it and starts with '|'")
                text = stripped[1:].strip()
                current = self._describe(current, text)
                continue
            words = stripped.split()
            if current is not None:
                self.protocol.host.append(current)
                current = None
            kind = words[0]
            if kind == "program":
                self._program(index, stripped, words)
            elif kind == "constant":
                self._constant(index, stripped)
            elif kind == "host":
                current = self._host(index, stripped, words)
            else:
                self.fail(index, stripped, f"unknown record '{kind}'")
        if current is not None:
            self.protocol.host.append(current)
        self._check()
        return self.protocol

    @staticmethod
    def _describe(procedure: HostProcedure, text: str) -> HostProcedure:
        joined = f"{procedure.description} {text}".strip()
        return HostProcedure(procedure.number, procedure.name, procedure.argument,
                             procedure.result, procedure.access, joined, procedure.line)

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
        types = []
        for word in (words[3], words[5]):
            if word not in WIRE_TYPES:
                self.fail(line, record, f"'{word}' is none of {', '.join(WIRE_TYPES)}")
            types.append(WIRE_TYPES[word])
        if words[6] not in ACCESS_LEVELS:
            self.fail(line, record, f"access '{words[6]}' is none of {', '.join(ACCESS_LEVELS)}")
        return HostProcedure(self.number(line, record, words[1]), self.name(line, record, words[2]),
                             types[0], types[1], words[6], "", line)

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


def load(path: Path) -> Protocol:
    return _Reader(str(path), path.read_text(encoding="utf-8")).read()


def parse(text: str, path: str = "protocol.txt") -> Protocol:
    return _Reader(path, text).read()
