"""What a failed call raises. Every failure is a QovixError; no call quietly
answers a default value."""

from __future__ import annotations


class QovixError(Exception):
    """Any failure of a call to qovixd."""


class ServerUnreachable(QovixError):
    """No qovixd answers at the address, or the connection to it broke."""


class Timeout(ServerUnreachable):
    """The server did not answer in time. The connection was dropped, so a
    late reply is never taken for another call's; the next call makes a new
    connection."""


class ServerSystemError(QovixError):
    """The server failed the call (its log says why); nothing of it was kept."""


class DecodeError(QovixError):
    """The server could not decode the call's arguments."""


class AccessDenied(QovixError):
    """The server refused the call: the access file does not let this
    principal make it, or TLS is required."""


class InvalidHandle(QovixError):
    """A handle names no object (of the class the call needs)."""


class ProtocolError(QovixError):
    """The server answered in a way this client does not expect: not a
    qovixd, another version of it, or a reply of another type."""


class TlsError(ServerUnreachable):
    """TLS was asked for and could not be had: the server does not offer it,
    or the handshake failed (a certificate refused on either side)."""


class UndoRefused(QovixError):
    """The server refused to take a commit back, and changed nothing: a later
    commit changed what it changed (the message names that commit and slot),
    or its history is not kept."""


class DocumentRefused(QovixError):
    """qovixd refused a document: to take or send it, to import it (the
    message says why, with the document's line where there is one; nothing
    of it stays in the repository), or to export a package."""
