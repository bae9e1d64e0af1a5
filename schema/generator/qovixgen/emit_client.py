"""Emitter of the typed client: one C++ call per procedure, grouped by class,
with natural C++ types for values and typed handles for objects, each a
one-line use of qovix::client::Connection (client/typed.h).

    qovix::client::TaggedValue::get_tag(connection, tagged)   -> std::string
    qovix::client::ModelElement::set_name(connection, element, "Account")
"""

from __future__ import annotations

from collections import Counter

from .catalogue_records import CLASS_PREFIX, Catalogue
from .emit_dispatch import banner
from .emit_values import value_class_ids
from .numbering import NumberedClass, Procedure
from .signature import TypeUse
from .wire import BOOLEAN, DATA_VALUE, HANDLE, INTEGER, OPTIONAL_STRING, VOID

COLLECTION_REFS = {"VornSet": "SetRef", "VornList": "ListRef", "VornArray": "ArrayRef"}
TRUTH_TYPES = ("QOVIXBoolean", "VornBoolean")


def short(name: str) -> str:
    return name.removeprefix(CLASS_PREFIX).removeprefix("Vorn")


def enum_name(name: str) -> str:
    return short(name)


def literal_name(literal: str) -> str:
    return literal[0].upper() + literal[1:]


class Types:
    """How catalogue types appear in the typed client."""

    def __init__(self, catalogue: Catalogue):
        self.catalogue = catalogue
        self.ids = value_class_ids(catalogue)

    def kind(self, name: str) -> str:
        datatype = self.catalogue.datatypes.get(name)
        if datatype is None:
            return "object"
        if datatype.kind == "text":
            return "text"
        if name in TRUTH_TYPES:
            return "truth"
        return "enum" if datatype.literals else "number"

    def handle_type(self, use: TypeUse) -> str:
        if use.element is not None:
            return f"{COLLECTION_REFS[use.name]}<tag::{short(use.element)}>"
        return {"VORN": "RepositoryRef", "VornMetaModel": "MetaModelRef",
                "VornPersistentObject": "AnyRef"}.get(use.name, f"{short(use.name)}Ref")

    def parameter(self, use: TypeUse) -> str:
        if use.name in ("int", "long"):
            return "std::int32_t"
        return {"text": "std::string_view", "truth": "bool", "number": "std::int32_t",
                "enum": enum_name(use.name)}.get(self.kind(use.name)) or self.handle_type(use)

    def result(self, procedure: Procedure) -> str:
        use = procedure.member.result
        if procedure.member.kind == "constructor":
            return f"{short(procedure.class_name)}Ref"
        if procedure.result == VOID:
            return "void"
        if procedure.result in (BOOLEAN, INTEGER):
            return "std::int32_t"
        if procedure.result == OPTIONAL_STRING:
            return "std::optional<std::string>"
        if procedure.result == DATA_VALUE:
            return {"text": "std::string", "truth": "bool", "number": "std::int32_t",
                    "enum": enum_name(use.name)}[self.kind(use.name)]
        return self.handle_type(use)

    def field(self, use: TypeUse, name: str) -> str:
        if use.name in ("int", "long"):
            return f"Field::number({name})"
        kind = self.kind(use.name)
        if kind == "object":
            return handle_field(f"{name}.handle", use)
        value_class = self.ids[use.name]
        if kind == "text":
            return f"textField({value_class}, {name})"
        if kind == "truth":
            return f"numberField({value_class}, {name} ? 1 : 0)"
        if kind == "enum":
            return f"numberField({value_class}, static_cast<std::int32_t>({name}))"
        return f"numberField({value_class}, {name})"

    def converted(self, procedure: Procedure, result: str) -> str:
        use = procedure.member.result
        if procedure.member.kind == "constructor":
            return f"{short(procedure.class_name)}Ref{{{result}.handle}}"
        if procedure.result == HANDLE:
            return f"{self.handle_type(use)}{{{result}.handle}}"
        if procedure.result in (BOOLEAN, INTEGER):
            return f"{result}.number"
        if procedure.result == OPTIONAL_STRING:
            return f"{result}.text"
        kind = self.kind(use.name)
        value_class = self.ids[use.name]
        if kind == "text":
            return f"textOf({result}, {value_class})"
        if kind == "truth":
            return f"numberOf({result}, {value_class}) != 0"
        if kind == "enum":
            return f"static_cast<{enum_name(use.name)}>(numberOf({result}, {value_class}))"
        return f"numberOf({result}, {value_class})"


def checked_class(use: TypeUse) -> str | None:
    """The class a handle of this type names, as the host's class-name
    service writes it; None where the host names no such class."""
    if use.name.startswith(CLASS_PREFIX) or use.name == "VORN":
        return use.name
    if use.name in COLLECTION_REFS:
        return f"{use.name}<{use.element}>"
    return None


def handle_field(expression: str, use: TypeUse) -> str:
    named = checked_class(use)
    return f'Field::handle({expression}, "{named}")' if named else f"Field::handle({expression})"


RESULT_KINDS = {VOID: "Void", HANDLE: "Handle", BOOLEAN: "Int", INTEGER: "Long",
                OPTIONAL_STRING: "OptionalString", DATA_VALUE: "DataValue"}


def procedure_title(procedure: Procedure) -> str:
    """How messages name a procedure: "ModelElement.set_name"."""
    return f"{short(procedure.class_name)}.{call_name(procedure)}"


def call_name(procedure: Procedure) -> str:
    suffix = procedure.suffix
    if procedure.family == "operation":
        suffix = suffix.removeprefix(procedure.class_name)
    if suffix.startswith("_find__"):
        return "find"
    if suffix == "operatorAssign_0":
        return "assign"
    if suffix == "VornCast_cast_0":
        return "cast"
    stem, _, number = suffix.rpartition("_")
    return stem if number.isdigit() and stem else suffix


def _signature(types: Types, procedure: Procedure) -> list[tuple[str, str]]:
    """(C++ type, name) of each parameter after the connection."""
    params = []
    if procedure.member.on_object:
        params.append((f"{short(procedure.class_name)}Ref", "self"))
    for index, use in enumerate(procedure.member.parameters, start=1):
        params.append((types.parameter(use), f"p{index}"))
    return params


def _call_names(types: Types, numbered: NumberedClass) -> dict[str, str]:
    """Each procedure's call name; the label suffix where two would clash."""
    keys = {}
    for procedure in numbered.procedures:
        keys[procedure.label] = (call_name(procedure),
                                 tuple(t for t, _ in _signature(types, procedure)))
    clashes = {key for key, count in Counter(keys.values()).items() if count > 1}
    return {label: (procedure_suffix(label, numbered) if key in clashes else key[0])
            for label, key in keys.items()}


def procedure_suffix(label: str, numbered: NumberedClass) -> str:
    return label.removeprefix(numbered.model_class.name + "_")


def client_header(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    types = Types(catalogue)
    lines = [banner(catalogue), "#pragma once", "",
             "#include <cstdint>", "#include <iterator>", "#include <optional>", "#include <string>",
             "#include <string_view>", "", '#include "client/typed.h"', "",
             "namespace qovix::client {", "", "// clang-format off",
             "// Value-class numbers (the `extra` of a data value).",
             "namespace value_class {"]
    for name, number in types.ids.items():
        lines.append(f"inline constexpr std::int32_t {name} = {number};")
    lines += ["}  // namespace value_class", "",
              "// Every value class: how its values are written, and its literals.",
              "struct ValueClassEntry {", "  const char* name;", "  std::int32_t id;",
              "  enum class Kind { Text, Truth, Number, Literal } kind;",
              "  const char* literals[8];", "  std::int32_t literalCount;", "};",
              "inline constexpr ValueClassEntry kValueClasses[] = {"]
    for name, number in types.ids.items():
        datatype = catalogue.datatypes[name]
        assert len(datatype.literals) <= 8, name
        kind = {"text": "Text", "truth": "Truth", "number": "Number", "enum": "Literal"}[types.kind(name)]
        literals = ", ".join(f'"{l}"' for l in datatype.literals)
        lines.append(f'    {{"{name}", {number}, ValueClassEntry::Kind::{kind}, {{{literals}}}, '
                     f"{len(datatype.literals)}}},")
    lines += ["};", ""]
    for datatype in catalogue.datatypes.values():
        if datatype.literals and datatype.name not in TRUTH_TYPES:
            literals = ", ".join(f"{literal_name(l)} = {i}" for i, l in enumerate(datatype.literals))
            lines.append(f"enum class {enum_name(datatype.name)} : std::int32_t {{ {literals} }};")
    lines += ["", "namespace tag {"]
    lines += [f"struct {short(c.name)};" for c in catalogue.classes]
    lines += ["}  // namespace tag", ""]
    lines += [f"using {short(c.name)}Ref = Ref<tag::{short(c.name)}>;" for c in catalogue.classes]
    lines += ["", "// Each class's name and direct superclasses, by class number - 1.",
              "struct ClassEntry {", "  const char* name;", "  std::uint32_t superclasses[3];", "};",
              f"inline constexpr ClassEntry kClasses[{len(catalogue.classes)}] = {{"]
    for c in catalogue.classes:
        assert len(c.superclasses) <= 3, c.label
        supers = ", ".join(str(catalogue.class_named(s).number) for s in c.superclasses)
        lines.append(f'    {{"{c.name}", {{{supers}}}}},')
    lines += ["};", "",
              "// Whether an object created as `actual` is also a `wanted`.",
              "constexpr bool conformsTo(std::uint32_t actual, std::uint32_t wanted) {",
              "  if (actual == wanted) return true;",
              "  if (actual < 1 || actual > std::size(kClasses)) return false;",
              "  for (std::uint32_t parent : kClasses[actual - 1].superclasses) {",
              "    if (parent != 0 && conformsTo(parent, wanted)) return true;",
              "  }",
              "  return false;",
              "}"]
    for numbered_class in numbered:
        model_class = numbered_class.model_class
        names = _call_names(types, numbered_class)
        lines += ["", f"struct {short(model_class.name)} {{",
                  f"  static constexpr std::uint32_t kClassNumber = {model_class.number};"]
        for procedure in numbered_class.procedures:
            params = "".join(f", {t} {n}" for t, n in _signature(types, procedure))
            lines.append(f"  static {types.result(procedure)} {names[procedure.label]}"
                         f"(Connection& connection{params});")
        lines.append(f"  static {short(model_class.name)}Ref cast(Connection& connection, AnyRef object,"
                     f" bool check);")
        lines.append("};")
    lines += ["// clang-format on", "", "}  // namespace qovix::client"]
    return "\n".join(lines) + "\n"


def client_source(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    types = Types(catalogue)
    lines = [banner(catalogue), '#include "client_model.h"', "", "namespace qovix::client {", "",
             "// clang-format off"]
    for numbered_class in numbered:
        model_class = numbered_class.model_class
        name = short(model_class.name)
        names = _call_names(types, numbered_class)
        for procedure in numbered_class.procedures:
            signature = _signature(types, procedure)
            params = "".join(f", {t} {n}" for t, n in signature)
            fields = ([handle_field("self.handle", TypeUse(model_class.name))]
                      if procedure.member.on_object else [])
            fields += [types.field(use, f"p{i}")
                       for i, use in enumerate(procedure.member.parameters, start=1)]
            call = (f"connection.call({model_class.number}, {procedure.number}, "
                    f"{{{', '.join(fields)}}}, ResultKind::{RESULT_KINDS[procedure.result]})")
            result = types.result(procedure)
            body = f"{call};" if result == "void" else f"return {types.converted(procedure, call)};"
            lines.append(f"{result} {name}::{names[procedure.label]}(Connection& connection{params}) "
                         f"{{ {body} }}")
        lines.append(f"{name}Ref {name}::cast(Connection& connection, AnyRef object, bool check) "
                     f"{{ return {name}Ref{{connection.cast({model_class.number}, object.handle, "
                     f"check)}}; }}")
    lines += ["// clang-format on", "", "}  // namespace qovix::client"]
    return "\n".join(lines) + "\n"


EMITTERS = {"client_model.h": client_header, "client_model.cpp": client_source}
