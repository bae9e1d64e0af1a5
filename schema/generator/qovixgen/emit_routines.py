"""Emitter of the server routines: one per procedure and one cast routine per
class, each named by its label, each a one-line use of a family template of
procedures/families.h with a static slot of its own.

The family follows from the procedure: the head and tail members have
families of their own; otherwise the result decides (an object or collection
is built and registered, an int or long stored, nothing called for its
effect, a data value read in the held, scalar or fresh form).
"""

from __future__ import annotations

from collections import Counter

from .catalogue_records import Catalogue
from .emit_dispatch import banner
from .emit_model import cpp_type
from .emit_values import payload_of
from .numbering import NumberedClass, Procedure
from .signature import Signature
from .wire import BOOLEAN, DATA_VALUE, HANDLE, INTEGER, VOID

# Routines are spread over this many files, so the build can compile them in
# parallel.
ROUTINE_FILES = 6


def cast_label(class_name: str) -> str:
    return f"{class_name}_VornCast_cast_0"


def record_type(procedure: Procedure) -> str:
    if procedure.argument == HANDLE:
        return "InteropHandle"
    return procedure.argument.removeprefix("X_")


def _pointer_type(class_name: str, signature: Signature) -> str:
    parameters = ", ".join(cpp_type(p) for p in signature.parameters)
    result = cpp_type(signature.result)
    if signature.static:
        return f"{result} (*)({parameters})"
    const = " const" if signature.const else ""
    return f"{result} ({class_name}::*)({parameters}){const}"


def member_pointer(class_name: str, signature: Signature, overloaded: set[str]) -> str:
    name = f"&{class_name}::{signature.name}"
    if signature.name in overloaded:
        return f"static_cast<{_pointer_type(class_name, signature)}>({name})"
    return name


def _overloaded(numbered: NumberedClass) -> set[str]:
    names = Counter(p.member.name for p in numbered.procedures + [numbered.cast]
                    if p.member.kind == "method")
    return {name for name, count in names.items() if count > 1}


def _value_form(catalogue: Catalogue, procedure: Procedure) -> str:
    value = procedure.member.result.name
    if procedure.family == "operation":
        return "fresh"
    if procedure.family == "values":
        return "heldOnceNamed"
    return "held" if payload_of(catalogue, catalogue.datatypes[value]) == "Text" else "scalar"


def routine(catalogue: Catalogue, numbered: NumberedClass, procedure: Procedure,
            label: str | None = None) -> str:
    """The definition of one routine."""
    name = numbered.model_class.name
    label = label or procedure.label
    head = f"void* {label}(void* argp) {{"
    suffix = procedure.suffix
    if procedure.family == "head":
        slot, call = {
            "create_0": ("InteropHandle", f"createDefault<{name}>(slot)"),
            "create_1": ("InteropHandle", f"createInRepository<{name}>(slot, argp)"),
            "create_2": ("InteropHandle", f"createCopy<{name}>(slot, argp)"),
            "destroy_0": ("udt_boolean", f"destroyObject<{name}>(slot, argp)"),
        }[suffix]
        unused = "static_cast<void>(argp); " if suffix == "create_0" else ""
        return f"{head} {unused}static {slot} slot; return {call}; }}"
    if suffix in ("className_0", "modelPrefix_0"):
        return (f"{head} static_cast<void>(argp); static StringSlot slot; "
                f"return copyName<&{name}::{procedure.member.name}>(slot); }}")
    if suffix == "operatorAssign_0":
        return f"{head} static InteropHandle slot; return assignObject<{name}>(slot, argp); }}"

    member = member_pointer(name, procedure.member, _overloaded(numbered))
    record = record_type(procedure)
    if procedure.result == HANDLE:
        valid = ", true" if suffix == "duplicate_0" else ""
        return (f"{head} static InteropHandle slot; "
                f"return newObject<{member}, {record}{valid}>(slot, argp); }}")
    if procedure.result in (BOOLEAN, INTEGER):
        slot = "udt_boolean" if procedure.result == BOOLEAN else "udt_integer"
        return f"{head} static {slot} slot; return storeResult<{member}, {record}>(slot, argp); }}"
    if procedure.result == VOID:
        return f"{head} static udt_boolean slot; return callMember<{member}, {record}>(slot, argp); }}"
    assert procedure.result == DATA_VALUE, procedure.label
    value = procedure.member.result.name
    form = _value_form(catalogue, procedure)
    if form == "scalar":
        return f"{head} static udt_dataType slot; return scalarValue<{member}, {record}>(slot, argp); }}"
    slot = f"FreshValue<{value}>" if form == "fresh" else f"HeldValue<{value}>"
    family = {"fresh": "freshValue", "held": "heldValue", "heldOnceNamed": "heldValueOnceNamed"}[form]
    return f"{head} static {slot} slot; return {family}<{member}, {record}>(slot, argp); }}"


def routines_header(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    lines = [banner(catalogue), "#pragma once", "",
             "// Every server routine, named by its procedure's label.", "// clang-format off"]
    for numbered_class in numbered:
        for procedure in numbered_class.procedures:
            lines.append(f"void* {procedure.label}(void* argp);")
        lines.append(f"void* {cast_label(numbered_class.model_class.name)}(void* argp);")
    lines.append("// clang-format on")
    return "\n".join(lines) + "\n"


def routines_source(part: int):
    def emit(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
        lines = [banner(catalogue), '#include "routines.h"', "",
                 '#include "procedures/families.h"', "", "using namespace qovix;", "",
                 "// clang-format off"]
        for numbered_class in numbered[part::ROUTINE_FILES]:
            lines.append(f"// {numbered_class.model_class.label}")
            for procedure in numbered_class.procedures:
                lines.append(routine(catalogue, numbered_class, procedure))
            lines.append(routine(catalogue, numbered_class, numbered_class.cast,
                                 cast_label(numbered_class.model_class.name)))
        lines.append("// clang-format on")
        return "\n".join(lines) + "\n"
    return emit


EMITTERS = {"routines.h": routines_header,
            **{f"routines_{part}.cpp": routines_source(part) for part in range(ROUTINE_FILES)}}
