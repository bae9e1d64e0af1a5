"""C++-like member signatures, as the catalogue writes them.

    [static] RESULT NAME(PARAMETER, ...) [const]
    CLASS(PARAMETER, ...)          a constructor
    ~CLASS()                       the destructor

A type is a name, optionally a collection of an element (`VornSet<T>`),
passed by value, by reference (`&`), by constant reference (`const&`), or as
a constant pointer (`char const*`).
"""

from __future__ import annotations

import re
from dataclasses import dataclass

_SIGNATURE = re.compile(
    r"^(?P<static>static\s+)?(?:(?P<result>.+?)\s+)?"
    r"(?P<name>~?[A-Za-z_]\w*|operator=)\((?P<parameters>[^()]*)\)\s*(?P<const>const)?$")
_TYPE = re.compile(
    r"^(?P<name>[A-Za-z_]\w*)(?:<(?P<element>[A-Za-z_]\w*)>)?"
    r"\s*(?P<passing>const\s*&|&|const\s*\*)?$")

VALUE, REFERENCE, CONST_REFERENCE, CONST_POINTER = "value", "ref", "constref", "constptr"


class SignatureError(ValueError):
    pass


@dataclass(frozen=True)
class TypeUse:
    name: str
    element: str | None = None
    passing: str = VALUE

    def spelled(self) -> str:
        text = self.name + (f"<{self.element}>" if self.element else "")
        return text + {VALUE: "", REFERENCE: "&", CONST_REFERENCE: " const&",
                       CONST_POINTER: " const*"}[self.passing]


@dataclass(frozen=True)
class Signature:
    kind: str  # "constructor", "destructor" or "method"
    name: str
    parameters: tuple[TypeUse, ...]
    result: TypeUse | None = None  # methods only
    static: bool = False
    const: bool = False

    @property
    def on_object(self) -> bool:
        """Whether the member is called on an existing object."""
        return self.kind == "destructor" or (self.kind == "method" and not self.static)

    def spelled(self, class_name: str) -> str:
        parameters = ", ".join(p.spelled() for p in self.parameters)
        if self.kind == "constructor":
            return f"{class_name}({parameters})"
        if self.kind == "destructor":
            return f"~{class_name}()"
        text = f"{self.result.spelled()} {self.name}({parameters})"
        return ("static " if self.static else "") + text + (" const" if self.const else "")


def parse_type(text: str) -> TypeUse:
    match = _TYPE.match(text.strip())
    if not match:
        raise SignatureError(f"cannot read the type '{text.strip()}'")
    passing = match.group("passing") or ""
    passing = passing.replace(" ", "")
    return TypeUse(match.group("name"), match.group("element"),
                   {"": VALUE, "&": REFERENCE, "const&": CONST_REFERENCE,
                    "const*": CONST_POINTER}[passing])


def parse_signature(text: str, class_name: str) -> Signature:
    match = _SIGNATURE.match(text.strip())
    if not match:
        raise SignatureError(f"cannot read the signature '{text.strip()}'")
    listed = match.group("parameters").strip()
    parameters = tuple(parse_type(p) for p in listed.split(",")) if listed else ()
    name = match.group("name")
    result = match.group("result")
    static = bool(match.group("static"))
    const = bool(match.group("const"))
    if result is None:
        if name == class_name:
            return Signature("constructor", name, parameters)
        if name == f"~{class_name}" and not parameters:
            return Signature("destructor", name, ())
        raise SignatureError(f"'{text.strip()}' has no result type")
    return Signature("method", name, parameters, parse_type(result), static, const)


def with_constant_references(signature: Signature) -> Signature:
    """The same member taking every modifiable reference as a constant one."""
    parameters = tuple(TypeUse(p.name, p.element, CONST_REFERENCE) if p.passing == REFERENCE
                       else p for p in signature.parameters)
    return Signature(signature.kind, signature.name, parameters, signature.result,
                     signature.static, signature.const)
