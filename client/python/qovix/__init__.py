"""A Python client for qovixd, the UML model repository served over ONC RPC.

    import qovix

    with qovix.Repository.connect("127.0.0.1", 20241) as repo:
        account = repo.Class.create()
        account.name = "Account"
        print([c.name for c in repo.Class.find(name="Account")])

Every model class is an attribute of the repository (`repo.Class`), and
objects have the model's features as attributes. Failures raise
QovixError or one of its subclasses.
"""

from ._model import *  # noqa: F401,F403 - the model classes and enumerations
from ._model import Repository
from ._runtime import ClassAccess, Collection, Members, ModelObject
from .errors import (AccessDenied, DecodeError, DocumentRefused, InvalidHandle, ProtocolError,
                     QovixError, ServerSystemError, ServerUnreachable, Timeout, TlsError,
                     UndoRefused)
from ._history import Change, Commit
from ._documents import Imported, export_package as _export_package
from ._protocol import DEFAULT_PORT, LONGEST_USER_NAME, MOST_MEMBERS_NAMED, MOST_OBJECTS_READ
from ._rules import is_user_name, multiplicity_ranges, short_class_name

# A package writes itself as a document: package.export(path, format="xmi").
Package.export = _export_package  # type: ignore[name-defined]  # noqa: F405

__version__ = "1.0.0"
