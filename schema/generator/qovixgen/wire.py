"""How a member's signature travels on the wire: the argument filter and the
result filter of the procedure that serves it.

Arguments: an operation on an object first takes the object's handle; a
constructor or static member has its first parameter (always a handle) in
that place. Then each parameter in order: a model object, collection or
repository object passed by reference is a handle (H), a data value passed by
value or constant reference is a value (V), a long is L and an int I. No field
is `xdr_void`, one handle `X_InteropHandle`, and anything else the record
shape named after its fields, such as `X_HandleValueLongInt`.
"""

from __future__ import annotations

from .catalogue_records import COLLECTIONS, PLATFORM_OBJECTS, Catalogue
from .signature import CONST_POINTER, CONST_REFERENCE, REFERENCE, VALUE, Signature, TypeUse

VOID = "xdr_void"
HANDLE = "X_InteropHandle"
BOOLEAN = "X_udt_boolean"
INTEGER = "X_udt_integer"
OPTIONAL_STRING = "X_OptionalString"
DATA_VALUE = "X_VornDataType"

FIELD_NAMES = {"H": "Handle", "V": "Value", "L": "Long", "I": "Int"}


class WireError(ValueError):
    pass


def _is_object(catalogue: Catalogue, use: TypeUse) -> bool:
    return (use.name in COLLECTIONS or use.name in PLATFORM_OBJECTS
            or catalogue.class_named(use.name) is not None)


def field_of(catalogue: Catalogue, use: TypeUse) -> str:
    if use.passing == VALUE and use.name == "int":
        return "I"
    if use.passing == VALUE and use.name == "long":
        return "L"
    if use.name in catalogue.datatypes and use.passing in (VALUE, CONST_REFERENCE):
        return "V"
    if _is_object(catalogue, use) and use.passing in (REFERENCE, CONST_REFERENCE):
        return "H"
    raise WireError(f"a parameter '{use.spelled()}' cannot travel")


def argument_fields(catalogue: Catalogue, signature: Signature) -> str:
    fields = "H" if signature.on_object else ""
    fields += "".join(field_of(catalogue, p) for p in signature.parameters)
    if fields and fields[0] != "H":
        raise WireError("the first argument must be a handle")
    return fields


def argument_filter(fields: str) -> str:
    if fields == "":
        return VOID
    if fields == "H":
        return HANDLE
    return "X_" + "".join(FIELD_NAMES[f] for f in fields)


def result_filter(catalogue: Catalogue, signature: Signature) -> str:
    if signature.kind == "constructor":
        return HANDLE  # the new object
    if signature.kind == "destructor":
        return VOID
    result = signature.result
    if result.name == "void" and result.passing == VALUE:
        return VOID
    if result.name == "int" and result.passing == VALUE:
        return BOOLEAN
    if result.name == "long" and result.passing == VALUE:
        return INTEGER
    if result.name == "char" and result.passing == CONST_POINTER:
        return OPTIONAL_STRING
    if result.name in catalogue.datatypes and result.passing == VALUE:
        return DATA_VALUE
    if _is_object(catalogue, result) and result.passing in (VALUE, REFERENCE):
        return HANDLE
    raise WireError(f"a result '{result.spelled()}' cannot travel")
