"""The catalogue's rules, and the questions its records answer (a class's
ancestors, a feature's opposite end): each rule a check over the records,
failing with a CatalogueError that names the record at fault.
"""

from __future__ import annotations

from .catalogue_records import (CLASS_PREFIX, COLLECTIONS, Catalogue, CatalogueError, Feature,
                                Gap, Hidden, ModelClass, Operation, PLATFORM_OBJECTS,
                                REFERENCE_KINDS, VALUE_BASES)
from .signature import SignatureError, TypeUse, parse_signature, parse_type


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
