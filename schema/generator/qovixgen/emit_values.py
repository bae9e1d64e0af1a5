"""Emitter of the data-value classes: one C++ class per catalogue data type,
deriving from its declared base or from the hand-written payload base of its
kind, and the table of value classes the converter consumes."""

from __future__ import annotations

from .catalogue_records import VALUE_BASES, Catalogue, DataType
from .emit_dispatch import banner

# Hand-written payload bases (model/wkm_srv/value_bases.h), by payload.
PAYLOAD_BASES = {"TextValue": "Text", "VornInteger": "Number", "VornEnumeration": "Ordinal"}
assert set(PAYLOAD_BASES) == set(VALUE_BASES)


def value_class_ids(catalogue: Catalogue) -> dict[str, int]:
    """Value classes are numbered in catalogue order from 1."""
    return {name: number for number, name in enumerate(catalogue.datatypes, start=1)}


def base_of(catalogue: Catalogue, datatype: DataType) -> str:
    if datatype.base is not None:
        return datatype.base
    if datatype.kind == "text":
        return "TextValue"
    return "VornEnumeration" if datatype.literals else "VornInteger"


def payload_of(catalogue: Catalogue, datatype: DataType) -> str:
    base = base_of(catalogue, datatype)
    while base not in PAYLOAD_BASES:
        base = base_of(catalogue, catalogue.datatypes[base])
    return PAYLOAD_BASES[base]


def _in_base_order(catalogue: Catalogue) -> list[DataType]:
    """Every data type after the data type it derives from."""
    ordered: list[DataType] = []

    def place(datatype: DataType):
        if datatype in ordered:
            return
        base = catalogue.datatypes.get(datatype.base or "")
        if base is not None:
            place(base)
        ordered.append(datatype)

    for datatype in catalogue.datatypes.values():
        place(datatype)
    return ordered


def _is_base(catalogue: Catalogue, datatype: DataType) -> bool:
    return any(other.base == datatype.name for other in catalogue.datatypes.values())


def _constructor(datatype: DataType, base: str, payload: str) -> str:
    if payload == "Text":
        return (f"  explicit {datatype.name}(std::u16string text) : {base}(std::move(text)) {{}}")
    return f"  explicit {datatype.name}(std::int32_t number) : {base}(number) {{}}"


def values_header(catalogue: Catalogue, numbered) -> str:
    ids = value_class_ids(catalogue)
    lines = [banner(catalogue), "#pragma once", "",
             "#include <cstdint>", "#include <span>", "#include <string>", "#include <utility>", "",
             '#include "model/wkm_srv/value_bases.h"',
             '#include "model/wkm_srv/value_class_info.h"', ""]
    for datatype in _in_base_order(catalogue):
        base = base_of(catalogue, datatype)
        payload = payload_of(catalogue, datatype)
        final = "" if _is_base(catalogue, datatype) else " final"
        name = datatype.name
        lines += [f"class WKM_SRV_API {name}{final} : public {base} {{",
                  " public:",
                  f"  static constexpr ValueClassId kValueClassId = {ids[name]};",
                  f"  {name}() = default;",
                  _constructor(datatype, base, payload),
                  f"  int classId() const override {{ return kValueClassId; }}",
                  f"  int datatypeId() const override {{ return kValueClassId; }}",
                  f"  int modelId() const override {{ return "
                  f"{'kQovixModelId' if name.startswith('QOVIX') else 'kBaseModelId'}; }}",
                  "  VornObject* copy() const override;"]
        if datatype.literals:
            lines.append("  std::span<const char* const> literals() const override;")
        lines += ["};", ""]
    return "\n".join(lines)


def values_source(catalogue: Catalogue, numbered) -> str:
    lines = [banner(catalogue), '#include "model_values.h"', "", "#include <new>", "",
             "// clang-format off"]
    for datatype in catalogue.datatypes.values():
        name = datatype.name
        lines.append(f"VornObject* {name}::copy() const {{ return new (std::nothrow) "
                     f"{name}(*this); }}")
        if datatype.literals:
            literals = ", ".join(f'"{literal}"' for literal in datatype.literals)
            lines += [f"std::span<const char* const> {name}::literals() const {{",
                      f"  static const char* const kLiterals[] = {{{literals}}};",
                      "  return kLiterals;", "}"]
    lines += ["", "namespace {", "template <class T>",
              "VornDataType* makeDefault() { return new (std::nothrow) T(); }", "",
              "const ValueClassInfo kValueClasses[] = {"]
    for datatype in catalogue.datatypes.values():
        payload = payload_of(catalogue, datatype)
        lines.append(f'    {{{datatype.name}::kValueClassId, "{datatype.name}", '
                     f"ValuePayload::{payload}, {len(datatype.literals)}, "
                     f"&makeDefault<{datatype.name}>}},")
    lines += ["};", "}  // namespace", "// clang-format on", "",
              "std::span<const ValueClassInfo> valueClasses() { return kValueClasses; }", "",
              "const ValueClassInfo* valueClassInfo(ValueClassId id) {",
              "  if (id < 1 || static_cast<std::size_t>(id) > std::size(kValueClasses)) "
              "return nullptr;",
              "  return &kValueClasses[id - 1];", "}"]
    return "\n".join(lines) + "\n"


EMITTERS = {
    "model_values.h": values_header,
    "model_values.cpp": values_source,
}
