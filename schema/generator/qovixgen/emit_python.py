"""Emitter of the Python client's model module: one Python class per model
class, with a property per feature and a method per operation, each one
line calling the hand-written helpers of client/python/qovix/_runtime.py.

    tv = repo.TaggedValue.create()
    tv.tag = "author"             # TaggedValue.set_tag_0
    len(package.ownedElement)     # Namespace.size_ownedElement_0
"""

from __future__ import annotations

import keyword

from .catalogue_checks import ancestors
from .catalogue_records import CLASS_PREFIX, Catalogue, CatalogueError, ModelClass
from .emit_client import TRUTH_TYPES, Types, call_name, short
from .numbering import NumberedClass, Procedure
from .signature import TypeUse

COLLECTIONS = ("VornSet", "VornList", "VornArray")
# What every model object has already; a feature of the same name would hide it.
# The hand-written classes the model module names as they are.
RUNTIME_NAMES = {"ClassAccess", "Collection", "Members", "ModelObject", "Repository"}
RESERVED = {"repository", "object_number", "handle", "release"}


def enum_member(literal: str) -> str:
    """deepHistory -> DEEP_HISTORY"""
    out = "".join("_" + c if c.isupper() else c for c in literal)
    return out.upper()


def python_name(name: str) -> str:
    return name + "_" if keyword.iskeyword(name) else name


class _Types(Types):
    def value_kind(self, name: str) -> str | None:
        kind = self.kind(name)
        return None if kind == "object" else kind

    def hint(self, name: str) -> str:
        return {"text": "str", "truth": "bool", "number": "int",
                "enum": short(name)}[self.value_kind(name)]

    def model_class(self, name: str) -> ModelClass | None:
        return self.catalogue.class_named(name) if name.startswith(CLASS_PREFIX) else None

    def argument(self, use: TypeUse, name: str) -> tuple[str, str] | None:
        """(hint, expression) of a parameter; None when Python cannot pass it."""
        if use.name in ("int", "long") and use.element is None:
            return "int", f"number_argument({name})"
        if self.value_kind(use.name) is not None:
            return self.hint(use.name), f"value_argument({name}, {self.ids[use.name]})"
        found = self.model_class(use.name)
        if found is not None and use.element is None:
            return short(use.name), f"object_argument({name}, {found.number})"
        return None

    def result(self, use: TypeUse | None) -> tuple[str, str] | None:
        """(hint, helper call prefix) of an operation's result."""
        if use is None or use.name == "void":
            return "None", "self._do"
        if use.name in ("int", "long"):
            return "int", "self._get_number"
        if self.value_kind(use.name) is not None:
            return self.hint(use.name), f"self._get_value"
        if use.name in COLLECTIONS and self.model_class(use.element or "") is not None:
            return f"Collection[{short(use.element)}]", "self._get_collection"
        found = self.model_class(use.name)
        if found is not None:
            return f"{short(use.name)} | None", "self._get_object"
        return None

    def result_code(self, use: TypeUse | None) -> str:
        """What the helper needs after the procedure number."""
        if use is None or use.name in ("void", "int", "long"):
            return ""
        if self.value_kind(use.name) is not None:
            return f", {self.ids[use.name]}"
        element = use.element if use.name in COLLECTIONS else use.name
        return f", {self.catalogue.class_named(element).number}"


def _parameter_names(uses: tuple[TypeUse, ...]) -> list[str]:
    names: list[str] = []
    for use in uses:
        base = "number" if use.name in ("int", "long") else short(use.name)
        base = base[0].lower() + base[1:]
        name, count = base, 2
        while name in names:
            name, count = f"{base}{count}", count + 1
        names.append(name)
    return [python_name(n) for n in names]


def _in_inheritance_order(catalogue: Catalogue) -> list[ModelClass]:
    ordered: list[ModelClass] = []

    def place(model_class: ModelClass) -> None:
        if model_class in ordered:
            return
        for name in model_class.superclasses:
            place(catalogue.class_named(name))
        ordered.append(model_class)

    for model_class in catalogue.classes:
        place(model_class)
    return ordered


class _ClassWriter:
    def __init__(self, types: _Types, numbered: NumberedClass):
        self.types = types
        self.path = types.catalogue.path
        self.numbered = numbered
        self.model_class = numbered.model_class
        self.number = numbered.model_class.number
        self.by_suffix = {p.suffix: p for p in numbered.procedures}
        self.lines: list[str] = []
        self.names: set[str] = set()
        self.skipped: list[str] = []
        # What a reader of any object can list: (name, "value" | "object" |
        # "members"), and the operations that answer without arguments.
        self.shown: list[tuple[str, str]] = []
        self.queries: list[str] = []

    def fail(self, message: str):
        raise CatalogueError(self.path, self.model_class.line, self.model_class.label, message)

    def claim(self, name: str) -> str:
        if name in RESERVED or name in self.names:
            self.fail(f"the Python client would have two members named '{name}'")
        self.names.add(name)
        return name

    def procedure(self, suffix: str) -> Procedure:
        found = self.by_suffix.get(suffix)
        if found is None:
            self.fail(f"has no procedure {suffix} for the Python client")
        return found

    def write(self) -> list[str]:
        supers = ", ".join(short(s) for s in self.model_class.superclasses) or "ModelObject"
        self.lines += ["", "", f"class {short(self.model_class.name)}({supers}):",
                       f'    """{self.model_class.name} (class {self.number})."""',
                       "    __slots__ = ()  # a misspelt feature is an error, not a new attribute",
                       f"    _class_number = {self.number}"]
        for feature in self.model_class.features:
            getattr(self, "feature_" + feature.kind)(feature)
        self.operations()
        shown = "".join(f'("{name}", "{kind}"), ' for name, kind in self.shown)
        self.lines += ["", f"    _shown = ({shown})",
                       f"    _queries = ({''.join(repr(q) + ', ' for q in self.queries)})"]
        if self.skipped:
            self.lines.append(f"    # Not offered in Python (no Python value for a parameter): "
                              f"{', '.join(self.skipped)}")
        return self.lines

    def prop(self, name: str, hint: str, getter: str, setter: list[str] | None = None):
        name = self.claim(python_name(name))
        kind = ("members" if hint.startswith(("Members[", "Collection[")) else
                "object" if hint.endswith("| None") else "value")
        self.shown.append((name, kind))
        self.lines += ["", "    @property", f"    def {name}(self) -> {hint}:",
                       f"        return {getter}"]
        if setter is not None:
            self.lines += [f"    @{name}.setter", f"    def {name}(self, value: {hint}) -> None:"]
            self.lines += [f"        {line}" for line in setter]

    def feature_attribute(self, feature):
        get = self.procedure(f"get_{feature.name}_0")
        value_class = self.types.ids[feature.type]
        setter = None
        if f"set_{feature.name}_0" in self.by_suffix:
            put = self.procedure(f"set_{feature.name}_0")
            setter = [f"self._do({self.number}, {put.number}, value_argument(value, {value_class}))"]
        self.prop(feature.name, self.types.hint(feature.type),
                  f"self._get_value({self.number}, {get.number}, {value_class})", setter)

    def feature_single(self, feature, settable: bool = True):
        target = self.types.catalogue.class_named(feature.type)
        get = self.procedure(f"get_{feature.name}_0")
        setter = None
        if settable:
            put, flush = (self.procedure(f"{v}_{feature.name}_0") for v in ("set", "flush"))
            setter = ["if value is None:", f"    self._do({self.number}, {flush.number})",
                      "else:",
                      f"    self._do({self.number}, {put.number}, object_argument(value, {target.number}))"]
        self.prop(feature.name, f"{short(target.name)} | None",
                  f"self._get_object({self.number}, {get.number}, {target.number})", setter)

    def feature_readonly(self, feature):
        self.feature_single(feature, settable=False)

    def feature_set(self, feature, kind: str = "set"):
        n = feature.name
        numbers = [self.procedure(s).number if s in self.by_suffix else 0
                   for s in (f"get_{n}_1", f"contains_{n}_0", f"size_{n}_0", f"add_{n}_0",
                             f"rmv_{n}_0", f"flush_{n}_0")]
        if kind == "values":
            element, hint = self.types.ids[feature.type], self.types.hint(feature.type)
        else:
            target = self.types.catalogue.class_named(feature.type)
            element, hint = target.number, short(target.name)
        row = ", ".join(str(x) for x in numbers)
        self.prop(n, f"Members[{hint}]",
                  f'Members(self, _Feature({self.number}, {element}, "{kind}", {row}))')

    def feature_list(self, feature):
        self.feature_set(feature, "list")

    def feature_array(self, feature):
        self.feature_set(feature, "array")

    def feature_values(self, feature):
        self.feature_set(feature, "values")

    def operations(self):
        operations = [p for p in self.numbered.procedures if p.family == "operation"]
        names = {p.label: call_name(p) for p in operations}
        # get_X() and set_X(value) are one property X.
        paired = {}
        for p in operations:
            name = names[p.label]
            if name.startswith("get_") and not p.member.parameters:
                setter = next((q for q in operations if names[q.label] == "set_" + name[4:]
                               and len(q.member.parameters) == 1), None)
                paired[name[4:]] = (p, setter)
        for prop, (get, put) in paired.items():
            hint, helper = self.types.result(get.member.result)
            setter = None
            if put is not None:
                _, expression = self.types.argument(put.member.parameters[0], "value")
                setter = [f"self._do({self.number}, {put.number}, {expression})"]
            self.prop(prop, hint, f"{helper}({self.number}, {get.number}"
                                  f"{self.types.result_code(get.member.result)})", setter)
        taken = {f"{k}_{v}" for k, v in (("get", p) for p in paired)} | {
            f"set_{p}" for p, (_, put) in paired.items() if put is not None}
        for p in operations:
            name = names[p.label]
            if name in taken:
                continue
            parameters = _parameter_names(p.member.parameters)
            arguments = [self.types.argument(u, n) for u, n in zip(p.member.parameters, parameters)]
            result = self.types.result(p.member.result)
            if None in arguments or result is None:
                self.skipped.append(p.suffix)
                continue
            signature = "".join(f", {n}: {hint}" for n, (hint, _) in zip(parameters, arguments))
            passed = "".join(f", {expression}" for _, expression in arguments)
            hint, helper = result
            self.claim(python_name(name))
            if not parameters and hint != "None" and not name.startswith(("create", "copy")):
                self.queries.append(python_name(name))
            self.lines += ["", f"    def {python_name(name)}(self{signature}) -> {hint}:",
                           f"        return {helper}({self.number}, {p.number}"
                           f"{self.types.result_code(p.member.result)}{passed})"]


def _searches(types: _Types, numbered: dict[int, NumberedClass], model_class: ModelClass) -> str:
    """name -> Search for every attribute a class's instances are found by."""
    catalogue = types.catalogue
    entries = {}
    for owner in [model_class] + ancestors(catalogue, model_class):
        suffixes = {p.suffix: p for p in numbered[owner.number].procedures}
        attributes = [(f.name, f.type) for f in owner.features if f.kind == "attribute"]
        if owner.name == "QOVIXModelElement":
            attributes.append(("name", "QOVIXName"))
        for name, type_name in attributes:
            find = suffixes.get("_find__1" if types.value_kind(type_name) == "text" else "_find__2")
            if find is not None and name not in entries:
                entries[name] = f'"{name}": _Search({owner.number}, {find.number}, {types.ids[type_name]})'
    return "{" + ", ".join(entries.values()) + "}"


def python_model(catalogue: Catalogue, numbered: list[NumberedClass]) -> str:
    types = _Types(catalogue)
    by_number = {n.model_class.number: n for n in numbered}
    for model_class in catalogue.classes:
        if short(model_class.name) in RUNTIME_NAMES:
            raise CatalogueError(catalogue.path, model_class.line, model_class.label,
                                 "the Python client has a class of that name already")
    lines = ['"""The model classes of the catalogue, for the Python client.',
             "Generated from the model class catalogue; do not edit."
             '"""', "", "from __future__ import annotations", "", "import enum", "",
             "from . import _runtime",
             "from ._runtime import ClassAccess, Collection, Members, ModelObject",
             "from ._runtime import Feature as _Feature, Search as _Search, ValueClass as _ValueClass",
             "from ._runtime import number_argument, object_argument, value_argument"]
    for datatype in catalogue.datatypes.values():
        if datatype.literals and datatype.name not in TRUTH_TYPES:
            lines += ["", "", f"class {short(datatype.name)}(enum.IntEnum):",
                      f'    """{datatype.name}."""']
            lines += [f"    {enum_member(l)} = {i}" for i, l in enumerate(datatype.literals)]
    lines += ["", "", "_runtime.VALUE_CLASSES.update({"]
    for name, number in types.ids.items():
        kind = types.value_kind(name)
        literal = short(name) if kind == "enum" else "None"
        lines.append(f'    {number}: _ValueClass({number}, "{name}", "{kind}", {literal}),')
    lines += ["})", f"_runtime.VORN_STRING = {types.ids['VornString']}"]
    ordered = _in_inheritance_order(catalogue)
    for model_class in ordered:
        lines += _ClassWriter(types, by_number[model_class.number]).write()
    lines += ["", "", "_runtime.CLASSES.update({"]
    lines += [f"    {c.number}: {short(c.name)}," for c in catalogue.classes]
    lines += ["})", "_runtime._FIND_ALL.update({"]
    for c in catalogue.classes:
        find = next(p for p in by_number[c.number].procedures if p.suffix == "_find__0")
        lines.append(f"    {c.number}: {find.number},")
    lines += ["})", "", "", "class Repository(_runtime.Repository):",
              '    """The repository a qovixd serves; one attribute per model class."""']
    for c in catalogue.classes:
        lines += ["", "    @property", f"    def {short(c.name)}(self) -> ClassAccess[{short(c.name)}]:",
                  f"        return ClassAccess(self, {short(c.name)}, "
                  f"{_searches(types, by_number, c)})"]
    names = [short(c.name) for c in catalogue.classes] + [
        short(d.name) for d in catalogue.datatypes.values() if d.literals and d.name not in TRUTH_TYPES]
    lines += ["", "", "__all__ = [\"Repository\", " + ", ".join(f'"{n}"' for n in names) + "]"]
    return "\n".join(lines) + "\n"


EMITTERS = {"python_model.py": python_model}
