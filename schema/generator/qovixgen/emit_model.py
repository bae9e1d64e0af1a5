"""Emitter of the model library: the 97 model classes with exactly the members
the catalogue lists, the feature constants, and the metadata rows the
hand-written store code consumes.

Every member body is one line that uses a hand-written helper of
platform/qovix_srv (members.h for features and lifecycle, operations.h for
class operations), chosen by the member's family and, for operations, by the
body the catalogue gives the operation.
"""

from __future__ import annotations

from .catalogue_checks import ancestors, hidden_slot, is_truth, opposite_ends, xmi_metaclass
from .catalogue_records import CLASS_PREFIX, Catalogue, Feature, ModelClass, Operation, XmiName
from .emit_dispatch import banner
from .numbering import NumberedClass, Procedure
from .signature import CONST_POINTER, CONST_REFERENCE, REFERENCE, Signature, TypeUse

FEATURE_KINDS = {"attribute": "Attribute", "single": "Single", "readonly": "ReadOnly",
                 "set": "Set", "list": "List", "array": "Array", "values": "Values"}


def feature_constant(model_class: ModelClass, feature: Feature) -> str:
    return f"feature::{model_class.name}_{feature.name}"


def hidden_constant(name: str, owner: str | None) -> str:
    return f"feature::{owner}_{name}" if owner else f"feature::{name}"


def cpp_type(use: TypeUse) -> str:
    name = {"long": "VornLong"}.get(use.name, use.name)
    text = name + (f"<{use.element}>" if use.element else "")
    return text + {"value": "", REFERENCE: "&", CONST_REFERENCE: " const&",
                   CONST_POINTER: " const*"}[use.passing]


def parameters(signature: Signature) -> str:
    return ", ".join(f"{cpp_type(p)} p{i}" for i, p in enumerate(signature.parameters, start=1))


def declaration(class_name: str, signature: Signature) -> str:
    if signature.kind == "constructor":
        explicit = "explicit " if len(signature.parameters) == 1 else ""
        return f"{explicit}{class_name}({parameters(signature)});"
    if signature.kind == "destructor":
        return f"~{class_name}() override;"
    prefix = "static " if signature.static else ""
    suffix = " const" if signature.const else ""
    return f"{prefix}{cpp_type(signature.result)} {signature.name}({parameters(signature)}){suffix};"


def definition_head(class_name: str, signature: Signature) -> str:
    if signature.kind == "constructor":
        return f"{class_name}::{class_name}({parameters(signature)})"
    if signature.kind == "destructor":
        return f"{class_name}::~{class_name}()"
    suffix = " const" if signature.const else ""
    return (f"{cpp_type(signature.result)} {class_name}::{signature.name}"
            f"({parameters(signature)}){suffix}")


def _stem(procedure: Procedure) -> str:
    """get_tag_0 -> get_0: the suffix without the feature's name."""
    suffix = procedure.suffix
    if procedure.feature and f"_{procedure.feature}_" in suffix:
        return suffix.replace(f"_{procedure.feature}_", "_", 1)
    return suffix


def _feature_body(procedure: Procedure, model_class: ModelClass, feature: Feature) -> str:
    f = feature_constant(model_class, feature)
    t = feature.type
    stem = _stem(procedure)
    family = procedure.family
    if family == "attribute":
        return {"get_0": f"return model::readValue<{t}>(*this, {f});",
                "set_0": f"model::writeValue(*this, {f}, p1);"}[stem]
    if family in ("single", "readonly"):
        return {"get_0": f"return model::readReference<{t}>(*this, {f});",
                "isNull_0": f"return model::referenceIsNull(*this, {f});",
                "set_0": f"model::writeReference(*this, {f}, p1);",
                "flush_0": f"model::clearReference(*this, {f});"}[stem]
    if family == "values":
        return {"get_1": f"return model::readValueAt<{t}>(*this, {f}, p1);",
                "contains_0": f"return model::valuesContain(*this, {f}, p1);",
                "size_0": f"return model::valueCount(*this, {f});",
                "isNull_0": f"return model::valuesEmpty(*this, {f});",
                "add_0": f"model::insertValue(*this, {f}, p1, p2);",
                "rmv_0": f"model::removeValue(*this, {f}, p1);",
                "rmv_1": f"model::removeValueAt(*this, {f}, p1);",
                "flush_0": f"model::clearValues(*this, {f});"}[stem]
    collection = cpp_type(procedure.member.result) if stem == "get_0" else ""
    add = (f"model::insertMember(*this, {f}, p1, p2);" if family == "list"
           else f"model::addMember(*this, {f}, p1);")
    return {"get_0": f"return model::readCollection<{collection}>(*this, {f});",
            "get_1": f"return model::readMember<{t}>(*this, {f}, p1);",
            "contains_0": f"return model::collectionContains(*this, {f}, p1);",
            "size_0": f"return model::collectionSize(*this, {f});",
            "isNull_0": f"return model::collectionIsEmpty(*this, {f});",
            "set_0": f"model::replaceCollection(*this, {f}, p1);",
            "add_0": add,
            "rmv_0": f"model::removeMember(*this, {f}, p1);",
            "rmv_1": f"model::removeMemberAt(*this, {f}, p1);",
            "flush_0": f"model::clearCollection(*this, {f});"}[stem]


def _lifecycle(procedure: Procedure, name: str) -> str:
    """Bodies (or whole definitions) of the members every class has."""
    head = definition_head(name, procedure.member)
    return {
        "create_0": f"{head} = default;",
        "create_1": f"{head} : VornPersistentObject(model::createIn(p1.store(), kClassId)) {{}}",
        # The flag changes nothing: a copy names the same persistent object.
        "create_2": f"{head} : VornPersistentObject(p1.ref()) {{ static_cast<void>(p2); }}",
        "destroy_0": f"{head} = default;",
        "duplicate_0": f"{head} {{ return {name}(model::duplicateOf(*this, "
                       f"p1.number() == kCopyReferences)); }}",
        "_find__0": f"{head} {{ return VornArray<{name}>(&p1.store(), "
                    f"model::instancesOf(p1.store(), kClassId, p2 != 0)); }}",
        "_find__1": f"{head} {{ return VornArray<{name}>(&p1.store(), "
                    f"model::instancesWithText(p1.store(), kClassId, p2, p3, p4 != 0)); }}",
        "_find__2": f"{head} {{ return VornArray<{name}>(&p1.store(), "
                    f"model::instancesWithNumber(p1.store(), kClassId, p2, p3, p4 != 0)); }}",
        "find_myName_0": f"{head} {{ return VornArray<{name}>(&p1.store(), "
                         f"model::instancesWithText(p1.store(), kClassId, VornString(u\"name\"), "
                         f"p2, true)); }}",
        "className_0": f'{head} {{ return "{name}"; }}',
        "modelPrefix_0": f'{head} {{ return "QOVIX"; }}',
        "operatorAssign_0": f"{head} {{ rename(p1.ref()); return *this; }}",
        "VornCast_cast_0": f"{head} {{ return {name}(model::castTo(p1, kClassId, p2)); }}",
    }[procedure.suffix]


def _operation_of(model_class: ModelClass, procedure: Procedure) -> Operation:
    return next(op for op in model_class.operations if isinstance(op, Operation) and
                f"{model_class.name}{op.label}_0" == procedure.suffix)


def _operation_body(catalogue: Catalogue, model_class: ModelClass, procedure: Procedure) -> str:
    """The one line behind a class operation, by the body the catalogue gives it."""
    operation = _operation_of(model_class, procedure)
    kind, *argument = operation.body
    member = procedure.member
    result = member.result
    params = member.parameters
    if kind == "construct":
        if any(p.name == "VornMetaModel" for p in params):
            return "model::constructFromMetaModel(*this, p1, p2);"
        owners = ", ".join(f"model::Owner{{&p{i}, {p.name}::kClassId}}"
                           for i, p in enumerate(params, start=1)
                           if p.passing in (REFERENCE, CONST_REFERENCE))
        values = ", ".join(f"&p{i}" for i, p in enumerate(params, start=1) if p.passing == "value")
        return f"model::construct(*this, kClassId, {{{owners}}}, {{{values}}});"
    if kind in ("read", "write"):
        slot = hidden_slot(catalogue, model_class, argument[0])
        constant = hidden_constant(slot.name, slot.owner)
        if kind == "read":
            return f"return model::readValue<{result.name}>(*this, {constant});"
        return f"model::writeValue(*this, {constant}, p1);"
    if kind == "first":
        feature = next(f for f in model_class.features if f.name == argument[0])
        return (f"return model::firstMember<{result.name}>(*this, "
                f"{feature_constant(model_class, feature)});")
    if kind == "derived":
        return f"return {cpp_type(result)}(store(), model::{operation.name}(*this, kClassId));"
    # call: the parameters as they are, a false/true value as a bool.
    arguments = "".join(f", p{i}.number() != 0" if is_truth(catalogue, p.name) else f", p{i}"
                        for i, p in enumerate(params, start=1))
    called = f"model::{argument[0]}(*this{arguments})"
    if result.name == "void":
        return f"{called};"
    if is_truth(catalogue, result.name):
        return f"return {result.name}({called} ? 1 : 0);"
    return f"return {result.name}({called});"


def _feature_of(model_class: ModelClass, procedure: Procedure) -> Feature:
    return next(f for f in model_class.features if f.name == procedure.feature)


def _definition(catalogue: Catalogue, numbered: NumberedClass, procedure: Procedure) -> str:
    model_class = numbered.model_class
    name = model_class.name
    if procedure.family in ("head", "tail", "cast"):
        return _lifecycle(procedure, name)
    if procedure.family == "operation":
        body = _operation_body(catalogue, model_class, procedure)
    else:
        body = _feature_body(procedure, model_class, _feature_of(model_class, procedure))
    return f"{definition_head(name, procedure.member)} {{ {body} }}"


def _members(numbered: NumberedClass) -> list[Procedure]:
    return numbered.procedures + [numbered.cast]


def model_header(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    lines = [banner(catalogue), "#pragma once", "",
             "// The model library: one class per model class, each a surrogate of one",
             "// persistent object, with the members the catalogue lists.", "",
             '#include "model_features.h"',
             '#include "model_values.h"',
             '#include "model/qovix_srv/qovix_srv_api.h"',
             '#include "model/wkm_srv/VORN.h"',
             '#include "model/wkm_srv/VornMetaModel.h"',
             '#include "model/wkm_srv/VornPersistentObject.h"',
             '#include "model/wkm_srv/collections.h"', "",
             "// A VornReferenceProcessing that makes duplicate copy references too.",
             "inline constexpr std::int32_t kCopyReferences = 1;", "",
             "// clang-format off"]
    lines += [f"class {c.name};" for c in catalogue.classes]
    for numbered_class in numbered:
        name = numbered_class.model_class.name
        lines += ["", f"class QOVIX_SRV_API {name} final : public VornPersistentObject {{",
                  " public:",
                  f"  static constexpr ClassId kClassId = {numbered_class.model_class.number};",
                  f"  {name}(const {name}& other);",
                  f"  explicit {name}(ObjectRef ref);",
                  "  int classId() const override;",
                  "  VornObject* copy() const override;"]
        for procedure in _members(numbered_class):
            lines.append(f"  {declaration(name, procedure.member)}")
        lines.append("};")
    lines += ["// clang-format on", "",
              "// A new surrogate of the class the object was created as; null when it",
              "// names no object, or memory is short.",
              "QOVIX_SRV_API VornPersistentObject* newSurrogateOf(ObjectRef ref);"]
    return "\n".join(lines) + "\n"


def model_source(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    lines = [banner(catalogue), '#include "model_classes.h"', "", "#include <new>", "",
             '#include "model/qovix_srv/members.h"',
             '#include "model/qovix_srv/operations.h"', "",
             "// clang-format off"]
    for numbered_class in numbered:
        name = numbered_class.model_class.name
        lines += ["", f"// {numbered_class.model_class.label}",
                  f"{name}::{name}(const {name}& other) = default;",
                  f"{name}::{name}(ObjectRef ref) : VornPersistentObject(ref) {{}}",
                  f"int {name}::classId() const {{ return kClassId; }}",
                  f"VornObject* {name}::copy() const {{ return new (std::nothrow) {name}(*this); }}"]
        for procedure in _members(numbered_class):
            lines.append(_definition(catalogue, numbered_class, procedure))
    lines += ["", "VornPersistentObject* newSurrogateOf(ObjectRef ref) {",
              "  if (ref.store == nullptr) return nullptr;",
              "  switch (ref.store->classOf(ref.id)) {"]
    lines += [f"    case {c.model_class.number}: return new (std::nothrow) {c.model_class.name}(ref);"
              for c in numbered]
    lines += ["    default: return nullptr;", "  }", "}", "// clang-format on"]
    return "\n".join(lines) + "\n"


def _xmi_fields(xmi: XmiName) -> str:
    return f'{"true" if xmi.standard else "false"}, "{xmi.uml14}", "{xmi.uml13}"'


def _feature_rows(catalogue: Catalogue):
    """(constant, owner class number, name, kind, element class, value class, owns,
    opposite end's constant, XMI names)."""
    ids = {name: number for number, name in enumerate(catalogue.datatypes, start=1)}
    opposites = opposite_ends(catalogue)
    rows = []
    for model_class in catalogue.classes:
        for feature in model_class.features:
            value = feature.kind in ("attribute", "values")
            element = 0 if value else catalogue.class_named(feature.type).number
            other = opposites.get((model_class.name, feature.name))
            opposite = f"feature::{other[0]}_{other[1]}" if other else "0"
            rows.append((feature_constant(model_class, feature), model_class.number, feature.name,
                         FEATURE_KINDS[feature.kind], element, ids[feature.type] if value else 0,
                         feature.owns, opposite, feature.xmi, feature.needs))
    for hidden in catalogue.hidden:
        owner_number = catalogue.class_named(hidden.owner).number if hidden.owner else 0
        rows.append((hidden_constant(hidden.name, hidden.owner), owner_number, hidden.name,
                     "Hidden", 0, ids[hidden.value_class], False, "0", hidden.xmi, 0))
    return rows


def _xmi_readings(catalogue: Catalogue, rows) -> list[str]:
    """The other names documents write: metaclasses and properties read as
    the catalogue's, and literals written or read under other names (arrays,
    which may be empty)."""
    ids = {name: number for number, name in enumerate(catalogue.datatypes, start=1)}
    metaclasses = [f'{{"{name}", {c.number}}}' for c in catalogue.classes for name in c.reads]
    properties = [f'{{"{name}", {row[0]}}}' for row in rows for name in row[8].reads]
    later = [f'{{{ids[d.name]}, "{ours}", "{written}"}}' for d in catalogue.datatypes.values()
             for ours, written in d.later]
    readings = [f'{{{ids[d.name]}, "{ours}", "{written}"}}' for d in catalogue.datatypes.values()
                for written, ours in d.reads]
    lines = []
    for kind, name, entries in (("XmiReading", "kMetaclassReadings", metaclasses),
                                ("XmiReading", "kPropertyReadings", properties),
                                ("XmiLiteral", "kLaterLiterals", later),
                                ("XmiLiteral", "kLiteralReadings", readings)):
        lines.append(f"const std::array<{kind}, {len(entries)}> {name}{{{{{', '.join(entries)}}}}};")
    return lines


def features_header(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    lines = [banner(catalogue), "#pragma once", "",
             '#include "store/vorn_types.h"', "",
             "// Every feature of the model, numbered from 1.", "namespace feature {",
             "// clang-format off"]
    for number, row in enumerate(_feature_rows(catalogue), start=1):
        lines.append(f"inline constexpr FeatureId {row[0].removeprefix('feature::')} = {number};")
    lines += ["// clang-format on", "}  // namespace feature"]
    return "\n".join(lines) + "\n"


def metadata_source(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    rows = _feature_rows(catalogue)
    lines = [banner(catalogue), '#include "model/qovix_srv/model_metadata.h"', "",
             "#include <array>", "", '#include "model_features.h"', "", "namespace {",
             "// clang-format off",
             "const FeatureInfo kFeatures[] = {"]
    for constant, owner, name, kind, element, value, owns, opposite, xmi, needs in rows:
        lines.append(f'    {{{constant}, {owner}, "{name}", FeatureKind::{kind}, {element}, {value}, '
                     f'{"true" if owns else "false"}, {opposite}, {_xmi_fields(xmi)}, {needs}}},')
    lines.append("};")
    lines += _xmi_readings(catalogue, rows)
    for model_class in catalogue.classes:
        supers = ", ".join(str(catalogue.class_named(s).number) for s in model_class.superclasses)
        features = ", ".join(feature_constant(model_class, f) for f in model_class.features)
        lines.append(f"constexpr ClassId k{model_class.name}Supers[] = {{{supers or '0'}}};")
        lines.append(f"constexpr FeatureId k{model_class.name}Features[] = {{{features or '0'}}};")
    lines.append("const ClassInfo kClasses[] = {")
    for model_class in catalogue.classes:
        supers = len(model_class.superclasses)
        features = len(model_class.features)
        lines.append(f'    {{{model_class.number}, "{model_class.name}", '
                     f'"{model_class.name.removeprefix(CLASS_PREFIX)}", '
                     f"std::span<const ClassId>(k{model_class.name}Supers, {supers}), "
                     f"std::span<const FeatureId>(k{model_class.name}Features, {features}), "
                     f'"{xmi_metaclass(model_class)}", "{model_class.xmi_package}"}},')
    lines += ["};", "// clang-format on", "}  // namespace", "",
              "std::span<const ClassInfo> modelClasses() { return kClasses; }",
              "std::span<const FeatureInfo> modelFeatures() { return kFeatures; }",
              "std::span<const XmiReading> xmiMetaclassReadings() { return kMetaclassReadings; }",
              "std::span<const XmiReading> xmiPropertyReadings() { return kPropertyReadings; }",
              "std::span<const XmiLiteral> xmiLaterLiterals() { return kLaterLiterals; }",
              "std::span<const XmiLiteral> xmiLiteralReadings() { return kLiteralReadings; }"]
    return "\n".join(lines) + "\n"


EMITTERS = {
    "model_classes.h": model_header,
    "model_classes.cpp": model_source,
    "model_features.h": features_header,
    "model_metadata.cpp": metadata_source,
}
