"""Documents that travel with the client: a model file (XMI, a project
archive, the repository's own format) sent to qovixd's document folder in
chunks and imported there, and a package exported there and fetched back.
The document is in the folder only while it travels."""

from __future__ import annotations

import os
import re
import secrets
from pathlib import Path
from typing import TYPE_CHECKING, NamedTuple

from . import _records
from ._protocol import (DOCUMENT_CHUNK_BYTES, HOST_DISCARD, HOST_DOWNLOAD, HOST_EXPORT,
                        HOST_IMPORT, HOST_UPLOAD)
from .errors import DocumentRefused

if TYPE_CHECKING:
    from ._runtime import ModelObject, Repository


class Imported(NamedTuple):
    package: "ModelObject"  # the document's package (a Package, or a Model)
    report: str             # what was imported and skipped, with why


def _travelling_name(title: str) -> str:
    plain = re.sub(r"[^A-Za-z0-9._-]", "_", title).replace("..", "__")
    return f"qovix-{secrets.token_hex(8)}-{plain}"[:128]


def _send(repo: "Repository", name: str, data: bytes) -> None:
    offset = 0
    while True:
        chunk = data[offset:offset + DOCUMENT_CHUNK_BYTES]
        last = offset + len(chunk) >= len(data)
        _, refusal = repo._host_call(
            HOST_UPLOAD, _records.document_chunk_fields(name, offset, last, chunk),
            _records.read_outcome)
        if refusal:
            raise DocumentRefused(f"qovixd refused the document: {refusal}")
        offset += len(chunk)
        if last:
            return


def _fetch(repo: "Repository", name: str) -> bytes:
    parts: list[bytes] = []
    offset = 0
    while True:
        size, data, refusal = repo._host_call(
            HOST_DOWNLOAD, _records.document_range_fields(name, offset),
            _records.read_document_bytes)
        if refusal:
            raise DocumentRefused(f"qovixd could not send the document: {refusal}")
        parts.append(data)
        offset += len(data)
        if offset >= size or not data:
            return b"".join(parts)


def _discard(repo: "Repository", name: str) -> None:
    try:
        repo._host_call(HOST_DISCARD, _records.document_name_fields(name), _records.read_outcome)
    except Exception:  # noqa: BLE001 - the call that used it said what went wrong
        pass


def import_model(repo: "Repository", source: bytes | str | os.PathLike,
                 into: "ModelObject | None" = None, title: str | None = None) -> Imported:
    if isinstance(source, bytes):
        data, title = source, title or "model.xmi"
    else:
        data, title = Path(source).read_bytes(), title or Path(source).name
    name = _travelling_name(title)
    _send(repo, name, data)
    try:
        with repo._patient():
            handle, text = repo._host_call(
                HOST_IMPORT,
                _records.import_request_fields(name, into.handle if into is not None else 0, title),
                _records.read_outcome)
    finally:
        _discard(repo, name)
    if handle == 0:
        raise DocumentRefused(f"qovixd imported nothing from {title!r}: {text}")
    return Imported(repo._wrap(handle, repo._identity(handle)[1]), text)


def export_package(package: "ModelObject", path: str | os.PathLike | None,
                   format: str = "xmi") -> bytes | None:
    repo = package.repository
    name = _travelling_name(Path(path).name if path is not None else "export.xmi")
    try:
        with repo._patient():
            size, refusal = repo._host_call(
                HOST_EXPORT, _records.export_request_fields(package.handle, format, name),
                _records.read_outcome)
        if size == 0:
            raise DocumentRefused(f"qovixd could not export {package!r}: {refusal}")
        data = _fetch(repo, name)
    finally:
        _discard(repo, name)
    if path is None:
        return data
    partial = Path(f"{os.fspath(path)}.part")
    partial.write_bytes(data)
    partial.replace(path)
    return None
