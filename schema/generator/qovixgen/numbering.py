"""Every class's numbered procedures, by the one numbering rule:

    1. the head members (create_0, create_1, create_2, destroy_0);
    2. each feature's members, by its kind, in catalogue order;
    3. each operation, as <Class><label>_0, in catalogue order;
    4. the tail members, the optional finds only where the class names them.

A gap in the catalogue (`unassigned`, or the unassigned member of a list of
values) keeps its number without a procedure. Each procedure carries the
model-library member it serves and its wire filters.
"""

from __future__ import annotations

from dataclasses import dataclass

from .catalogue_records import (Catalogue, CatalogueError, Feature, Gap, MemberTemplate,
                                ModelClass, Operation)
from .signature import Signature, SignatureError, parse_signature, with_constant_references
from .wire import WireError, argument_fields, argument_filter, result_filter


@dataclass(frozen=True)
class Procedure:
    class_number: int
    class_name: str
    number: int
    suffix: str
    family: str  # the member group, or "operation"
    feature: str | None  # the feature or operation served
    member: Signature
    fields: str  # argument fields after the rule: H, V, L, I
    argument: str
    result: str
    writes: bool = False  # changes the repository; else a reader may call it

    @property
    def label(self) -> str:
        return f"{self.class_name}_{self.suffix}"

    @property
    def member_text(self) -> str:
        return self.member.spelled(self.class_name)


@dataclass(frozen=True)
class NumberedClass:
    model_class: ModelClass
    slots: tuple[Procedure | None, ...]  # procedure number - 1; None: unassigned
    cast: Procedure

    @property
    def procedures(self) -> list[Procedure]:
        return [p for p in self.slots if p is not None]


def _substitute(text: str, class_name: str, feature: Feature | None) -> str:
    text = text.replace("{C}", class_name)
    if feature is not None:
        text = text.replace("{T}", feature.type).replace("{x}", feature.name)
    return text


class _Numberer:
    def __init__(self, catalogue: Catalogue, model_class: ModelClass):
        self.catalogue = catalogue
        self.model_class = model_class
        self.slots: list[Procedure | None] = []

    def fail(self, line: int, message: str):
        raise CatalogueError(self.catalogue.path, line, self.model_class.label, message)

    def procedure(self, number: int, suffix: str, family: str, feature: str | None,
                  signature_text: str, line: int, const: bool = False,
                  writes: bool = False) -> Procedure:
        try:
            member = parse_signature(signature_text, self.model_class.name)
            if const:
                member = with_constant_references(member)
            fields = argument_fields(self.catalogue, member)
            return Procedure(self.model_class.number, self.model_class.name, number, suffix,
                             family, feature, member, fields, argument_filter(fields),
                             result_filter(self.catalogue, member), writes)
        except (SignatureError, WireError) as error:
            self.fail(line, f"{suffix}: {error}")

    def add(self, template: MemberTemplate, family: str, feature: Feature | None = None):
        if template.suffix is None:
            self.slots.append(None)
            return
        name = self.model_class.name
        suffix = _substitute(template.suffix, name, feature)
        line = feature.line if feature is not None else template.line
        self.slots.append(self.procedure(
            len(self.slots) + 1, suffix, family, feature.name if feature else None,
            _substitute(template.signature, name, feature), line,
            const=feature is not None and feature.const, writes=template.writes))

    def add_operation(self, operation: Operation):
        name = self.model_class.name
        self.slots.append(self.procedure(len(self.slots) + 1, f"{name}{operation.label}_0",
                                         "operation", operation.name, operation.signature,
                                         operation.line, writes=operation.writes))

    def number(self) -> NumberedClass:
        for template in self.catalogue.members_of("head"):
            self.add(template, "head")
        for feature in self.model_class.features:
            templates = self.catalogue.members_of(feature.kind)
            if not templates:
                self.fail(feature.line, f"no members are declared for {feature.kind} features")
            for template in templates:
                self.add(template, feature.kind, feature)
        for operation in self.model_class.operations:
            if isinstance(operation, Gap):
                self.slots.append(None)
            else:
                self.add_operation(operation)
        for template in self.catalogue.members_of("tail"):
            if not template.optional or template.suffix in self.model_class.finds:
                self.add(template, "tail")
        casts = self.catalogue.members_of("cast")
        if len(casts) != 1:
            self.fail(0, "the catalogue must declare exactly one cast member")
        cast = casts[0]
        cast_procedure = self.procedure(1, cast.suffix, "cast", None,
                                        _substitute(cast.signature, self.model_class.name, None),
                                        cast.line)
        self.check_totals()
        return NumberedClass(self.model_class, tuple(self.slots), cast_procedure)

    def check_totals(self):
        model_class = self.model_class
        if len(self.slots) != model_class.highest:
            self.fail(model_class.line, f"the numbering ends at {len(self.slots)}, "
                      f"not at the highest number {model_class.highest}")
        gaps = [i + 1 for i, slot in enumerate(self.slots) if slot is None]
        stated = [model_class.unassigned] if model_class.unassigned is not None else []
        if gaps != stated:
            found = ", ".join(map(str, gaps)) or "none"
            self.fail(model_class.line, f"the numbering leaves unassigned {found}, "
                      f"not {', '.join(map(str, stated)) or 'none'}")
        labels = [p.label for p in self.slots if p is not None]
        if len(set(labels)) != len(labels):
            self.fail(model_class.line, "two procedures have the same label")


def number_classes(catalogue: Catalogue) -> list[NumberedClass]:
    return [_Numberer(catalogue, model_class).number() for model_class in catalogue.classes]
