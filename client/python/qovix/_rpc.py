"""ONC RPC (RFC 5531) calls over TCP or UDP, with XDR (RFC 4506) arguments
and results: just what qovixd's programs use.

Over TCP several calls can travel in one write and their replies be read in
turn (`Transport.call_many`); the client library uses that to check a call's
handles in the same round trip.
"""

from __future__ import annotations

import contextlib
import os
import select
import socket
import ssl
import struct
from dataclasses import dataclass
from typing import Callable, Iterator, Sequence

from ._protocol import (AUTH_TLS, CAST_PROGRAM, CHANGES_LEFT_KIND, HOST_NAMES, HOST_PROGRAM,
                        HOST_VERSION, LAST_FRAGMENT, MODEL_PROGRAM, MOST_TEXT_UNITS,
                        PROCEDURE_TITLES, START_TLS, TLS_ALPN)
from ._records import read_commit_page
from .errors import (AccessDenied, QovixError, DecodeError, ProtocolError, ServerSystemError,
                     ServerUnreachable, Timeout, TlsError)

TEXT_ARM = 10
NUMBER_ARM = 11
NULL_VALUE = -1

_MOST_REPLY_BYTES = 64 * 1024 * 1024


@dataclass(frozen=True)
class Value:
    """A data value: its value-class number and its text or number."""
    value_class: int
    payload: str | int


# Arguments, in record order: ("h", handle), ("l", long or int), ("v", Value),
# ("q", an unsigned hyper: a commit's number), ("b", bytes: opaque data).
Field = tuple


def _word(number: int) -> bytes:
    return struct.pack(">I", number & 0xFFFFFFFF)


def text_units(text: str) -> bytes:
    """The text as it travels (UTF-16, big-endian), or ValueError for text
    that cannot be stored exactly: a NUL would end it on the wire, a lone
    surrogate is no Unicode, and the server keeps at most MOST_TEXT_UNITS
    units in one value."""
    if "\0" in text:
        raise ValueError(f"text with a NUL character cannot be stored (at {text.index(chr(0))}): "
                         "the protocol ends text at its first NUL")
    try:
        units = text.encode("utf-16-be")
    except UnicodeEncodeError as error:
        raise ValueError(f"text with a lone surrogate (U+{ord(text[error.start]):04X} at "
                         f"{error.start}) is no Unicode and cannot be stored") from None
    if len(units) // 2 > MOST_TEXT_UNITS:
        raise ValueError(f"text of {len(units) // 2} UTF-16 units is too long: a value holds "
                         f"at most {MOST_TEXT_UNITS}")
    return units


def encode_fields(fields: Sequence[Field]) -> bytes:
    parts = []
    for kind, item in fields:
        if kind == "v":
            if isinstance(item.payload, str):
                units = text_units(item.payload)
                count = len(units) // 2 + 1  # the terminator travels too
                parts.append(struct.pack(">iiI", TEXT_ARM, item.value_class, count))
                parts.append(struct.pack(f">{count}I", *struct.unpack(f">{count - 1}H", units), 0))
            else:
                parts.append(struct.pack(">iii", NUMBER_ARM, item.value_class, item.payload))
        elif kind == "q":
            parts.append(struct.pack(">Q", item))
        elif kind == "b":
            parts.append(struct.pack(">I", len(item)) + item + b"\0" * (-len(item) % 4))
        else:
            parts.append(_word(item))
    return b"".join(parts)


class Reader:
    """Reads XDR items from a reply's body."""

    def __init__(self, data: bytes, offset: int = 0):
        self.data = data
        self.offset = offset

    def word(self) -> int:
        if self.offset + 4 > len(self.data):
            raise ProtocolError("the reply ended early")
        (number,) = struct.unpack_from(">I", self.data, self.offset)
        self.offset += 4
        return number

    def signed(self) -> int:
        number = self.word()
        return number - (1 << 32) if number & 0x80000000 else number

    def opaque(self, length: int) -> bytes:
        end = self.offset + length
        if end > len(self.data):
            raise ProtocolError("the reply ended early")
        chunk = self.data[self.offset:end]
        self.offset = end + (-length % 4)
        return chunk

    def hyper(self) -> int:
        high = self.word()
        return (high << 32) | self.word()

    def signed_hyper(self) -> int:
        number = self.hyper()
        return number - (1 << 64) if number & (1 << 63) else number

    def string(self) -> str:
        return self.opaque(self.word()).decode("utf-8", "replace")

    def units(self) -> str:
        """X_stringUTF16: the count with the terminator, a unit per word."""
        count = self.word()
        if count > (len(self.data) - self.offset) // 4:
            raise ProtocolError("the reply ended early")
        units = struct.unpack_from(f">{count}I", self.data, self.offset)
        self.offset += 4 * count
        if units and units[-1] == 0:
            units = units[:-1]
        raw = struct.pack(f">{len(units)}H", *(u & 0xFFFF for u in units))
        return raw.decode("utf-16-be", "surrogatepass")

    def items(self, read: Callable[[Reader], object]) -> list:
        count = self.word()
        if count > (len(self.data) - self.offset) // 4:
            raise ProtocolError("the reply ended early")
        return [read(self) for _ in range(count)]

    def optional_string(self) -> str | None:
        if self.word() == 0:
            return None
        return self.opaque(self.word()).decode("utf-8", "replace")

    def value(self) -> Value | None:
        kind, value_class = self.signed(), self.signed()
        if kind == NULL_VALUE:
            return None
        if kind == NUMBER_ARM:
            return Value(value_class, self.signed())
        if kind != TEXT_ARM:
            raise ProtocolError(f"a data value in arm {kind}")
        return Value(value_class, self.units())


# What a result is read as, by the procedure's result filter.
ResultReader = Callable[[Reader], object]


def no_result(reader: Reader) -> None:
    return None


def handle_result(reader: Reader) -> int:
    return reader.word()


def number_result(reader: Reader) -> int:
    return reader.signed()


def string_result(reader: Reader) -> str | None:
    return reader.optional_string()


def value_result(reader: Reader) -> Value | None:
    return reader.value()


def pair_result(reader: Reader) -> tuple[int, int]:
    return reader.word(), reader.signed()


def commit_page_result(reader: Reader) -> tuple[int, list[tuple], int, int]:
    """(last commit, commits, changes the page leaves out, objects its first
    commit touched that it leaves unlisted). A last change of kind
    CHANGES_LEFT_KIND says both (its position and its after_target): it is
    read into those counts, not as a change."""
    last, wires = read_commit_page(reader)
    commits, left, objects_left = [], 0, 0
    for wire in wires:
        changes = list(wire[5])
        while changes and changes[-1][3] == CHANGES_LEFT_KIND:
            marker = changes.pop()
            left += max(marker[4], 0)
            objects_left += marker[6]
        commits.append((*wire[:5], changes))
    return last, commits, left, objects_left


@dataclass(frozen=True)
class Call:
    program: int
    version: int
    procedure: int
    fields: Sequence[Field]
    result: ResultReader
    quiet: bool = False  # a failure gives None, not an exception

    def describe(self) -> str:
        """How a message names the call: "ModelElement.set_name", "the cast
        to Class", "the host service changes"."""
        if self.program == HOST_PROGRAM and self.procedure in HOST_NAMES:
            return f"the host service {HOST_NAMES[self.procedure]}"
        titles = PROCEDURE_TITLES.get(self.version, ()) if self.program in (
            MODEL_PROGRAM, CAST_PROGRAM) else ()
        if self.program == CAST_PROGRAM and titles and titles[0]:
            return f"the cast to {titles[0].partition('.')[0]}"
        if 0 < self.procedure <= len(titles) and titles[self.procedure - 1]:
            return titles[self.procedure - 1]
        return f"program {self.program:#x} version {self.version} procedure {self.procedure}"


def _accepted_error(call: Call, status: int, reader: Reader) -> Exception:
    if status == 5:
        return ServerSystemError(f"{call.describe()}: the server failed the call "
                                 "(nothing of it was kept; its log says why)")
    if status == 4:
        return DecodeError(f"{call.describe()}: the server could not decode the arguments")
    if status == 2:
        low, high = reader.word(), reader.word()
        return ProtocolError(f"{call.describe()}: no such version (the server serves {low}..{high})")
    if status == 3:
        return ProtocolError(f"{call.describe()}: no such procedure")
    if status == 1:
        return ProtocolError(f"{call.describe()}: the server does not serve this program")
    return ProtocolError(f"{call.describe()}: accept status {status}")


def read_reply(call: Call, xid: int, body: bytes) -> object:
    reader = Reader(body)
    if reader.word() != xid or reader.word() != 1:
        raise ProtocolError(f"{call.describe()}: a reply to another call")
    if reader.word() != 0:
        if reader.word() == 1:  # AUTH_ERROR
            why = {5: "its principal may not make it", 2: "the credential was refused"}.get(
                reader.word(), "authentication failed")
            raise AccessDenied(f"{call.describe()}: refused: {why}")
        raise ProtocolError(f"{call.describe()}: the server speaks another RPC version")
    reader.word()
    reader.opaque(reader.word())  # the verifier
    status = reader.word()
    if status != 0:
        raise _accepted_error(call, status, reader)
    result = call.result(reader)
    if reader.offset != len(body):
        raise ProtocolError(f"{call.describe()}: the reply was not of the expected type")
    return result


def tls_context(ca: str | None, cert: str | None, key: str | None) -> ssl.SSLContext:
    """TLS 1.3 with the ALPN protocol TLS_ALPN, as RFC 9289 asks; the
    server's certificate verified against `ca` (else the system's CAs), and
    this client's own certificate presented when given."""
    context = ssl.create_default_context(cafile=ca)
    context.minimum_version = ssl.TLSVersion.TLSv1_3
    context.set_alpn_protocols([TLS_ALPN])
    if cert:
        context.load_cert_chain(cert, key)
    return context


class Transport:
    """One socket to qovixd and the calls made on it."""

    def __init__(self, host: str, port: int, udp: bool, timeout: float,
                 tls: ssl.SSLContext | None = None):
        if udp and tls is not None:
            raise TlsError("RPC-with-TLS runs over TCP only")
        self.udp = udp
        self.endpoint = f"[{host}]:{port}" if ":" in host else f"{host}:{port}"
        self._host, self._port, self._timeout, self._context = host, port, timeout, tls
        self._xid = int.from_bytes(os.urandom(4), "big")
        self._socket: socket.socket | None = None
        self._buffer = b""
        self.calls_made = 0
        self.reconnections = 0
        self.tls = tls is not None
        self._connect()

    def _connect(self) -> None:
        kind = socket.SOCK_DGRAM if self.udp else socket.SOCK_STREAM
        try:
            found = socket.getaddrinfo(self._host, self._port, type=kind)
        except socket.gaierror as error:
            raise ServerUnreachable(f"cannot resolve the host '{self._host}': "
                                    f"{error.strerror}") from None
        family, _, _, _, address = found[0]
        made = socket.socket(family, kind)
        # Over UDP a lost datagram is sent again every half second.
        self._attempts = max(1, round(self._timeout / 0.5)) if self.udp else 1
        made.settimeout(0.5 if self.udp else self._timeout)
        try:
            made.connect(address)
            if not self.udp:
                made.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except OSError as error:
            made.close()
            raise ServerUnreachable(f"cannot reach qovixd at {self.endpoint}: "
                                    f"{error.strerror or error}") from None
        self._socket, self._buffer, self._sessions = made, b"", 0
        if self._context is not None:
            self._start_tls(self._context, self._host)

    def _ready_socket(self) -> socket.socket:
        """The connection to send on: a new one when the last broke, or when
        the server closed this one while it was idle (nothing was sent on
        it since, so no call is lost or made twice)."""
        if self._socket is not None and not self.udp and self._closed_by_server():
            self.close()
        if self._socket is None:
            self._connect()
            self.reconnections += 1
        assert self._socket is not None
        return self._socket

    def _closed_by_server(self) -> bool:
        assert self._socket is not None
        readable, _, _ = select.select([self._socket], [], [], 0)
        if not readable:
            return False
        # Between calls the server sends nothing but its end (or, over TLS,
        # session tickets): anything else is as good as a broken connection.
        self._socket.setblocking(False)
        try:
            self._socket.recv(65536)  # b"": the server's end; bytes: stray data
            return True
        except (ssl.SSLWantReadError, BlockingIOError, InterruptedError):
            return False
        except OSError:
            return True
        finally:
            self._socket.settimeout(self._timeout)

    def _start_tls(self, context: ssl.SSLContext, host: str) -> None:
        """The probe, then the handshake: a client that asked for TLS never
        goes on in plain text."""
        self._xid = (self._xid + 1) & 0xFFFFFFFF
        probe = struct.pack(">IIIIIIIIII", self._xid, 0, 2, HOST_PROGRAM, HOST_VERSION, 0,
                            AUTH_TLS, 0, 0, 0)
        try:
            self._socket.sendall(struct.pack(">I", LAST_FRAGMENT | len(probe)) + probe)
            reader = Reader(self._read_record())
        except (OSError, EOFError) as error:
            self.close()
            raise TlsError(f"qovixd at {self.endpoint} did not answer the TLS probe: "
                           f"{error or 'closed'}") from None
        try:
            accepted = reader.word() == self._xid and reader.word() == 1 and reader.word() == 0
            verifier = reader.opaque(reader.word()) if accepted and reader.word() == 0 else b""
        except ProtocolError:
            verifier = b""
        if verifier != START_TLS.encode("ascii") or self._buffer:
            self.close()
            raise TlsError(f"qovixd at {self.endpoint} does not offer RPC-with-TLS")
        try:
            self._socket = context.wrap_socket(self._socket, server_hostname=host)
        except (ssl.SSLError, OSError) as error:
            self.close()
            raise TlsError(f"the TLS handshake with qovixd at {self.endpoint} failed: "
                           f"{error}") from None
        if self._socket.selected_alpn_protocol() != TLS_ALPN:
            self.close()
            raise TlsError(f"qovixd at {self.endpoint} did not agree to ALPN '{TLS_ALPN}'")

    def close(self) -> None:
        """Closes the connection; the next call makes a new one."""
        if self._socket is not None:
            self._socket.close()
        self._socket, self._buffer = None, b""

    def _message(self, call: Call) -> tuple[int, bytes]:
        self._xid = (self._xid + 1) & 0xFFFFFFFF
        header = struct.pack(">IIIIIIIIII", self._xid, 0, 2, call.program, call.version,
                             call.procedure, 0, 0, 0, 0)
        return self._xid, header + encode_fields(call.fields)

    @contextlib.contextmanager
    def patience(self, seconds: float) -> Iterator[None]:
        """Calls made within wait up to `seconds` for their replies."""
        saved, saved_attempts = self._timeout, getattr(self, "_attempts", 1)
        self._timeout = max(saved, seconds)
        if self.udp:
            self._attempts = max(1, round(self._timeout / 0.5))
        elif self._socket is not None:
            self._socket.settimeout(self._timeout)
        try:
            yield
        finally:
            self._timeout, self._attempts = saved, saved_attempts
            if self._socket is not None and not self.udp:
                self._socket.settimeout(saved)

    def call(self, call: Call) -> object:
        return self.call_many([call])[0]

    def call_many(self, calls: Sequence[Call]) -> list[object]:
        """Makes the calls in order; their results, or raises the first
        failure once every reply has been read. A connection that broke or
        timed out is closed, so the next call starts on a new one and never
        reads a late reply to this one."""
        messages = [self._message(call) for call in calls]
        sock = self._ready_socket()
        self.calls_made += len(calls)
        if self.udp:
            return [self._udp_quietly(call, xid, data) for call, (xid, data) in zip(calls, messages)]
        out = b"".join(struct.pack(">I", LAST_FRAGMENT | len(data)) + data for _, data in messages)
        try:
            sock.sendall(out)
            bodies = [self._read_record() for _ in calls]
        except socket.timeout:
            self.close()
            raise Timeout(f"qovixd at {self.endpoint} did not answer within {self._timeout} s; "
                          "the connection was dropped, the next call makes a new one") from None
        except (OSError, EOFError) as error:
            self.close()
            if self.tls and self._sessions == 0:
                # TLS 1.3 clients learn only now that their certificate was refused.
                raise TlsError(f"qovixd at {self.endpoint} ended the TLS session at once: it "
                               "refused this client's certificate"
                               + (f" ({error})" if str(error) else "")) from None
            raise ServerUnreachable(f"the connection to qovixd at {self.endpoint} broke: "
                                    f"{error or 'closed by the server'}") from None
        except ProtocolError:
            self.close()
            raise
        self._sessions += 1
        results, failure = [], None
        for call, (xid, _), body in zip(calls, messages, bodies):
            try:
                results.append(read_reply(call, xid, body))
            except QovixError as error:  # the first is raised below
                if not call.quiet:
                    failure = failure or error
                results.append(None)
        if failure is not None:
            raise failure
        return results

    def _read_record(self) -> bytes:
        body = b""
        while True:
            (mark,) = struct.unpack(">I", self._take(4))
            length = mark & ~LAST_FRAGMENT
            if len(body) + length > _MOST_REPLY_BYTES:
                raise ProtocolError("a reply larger than 64 MiB")
            body += self._take(length)
            if mark & LAST_FRAGMENT:
                return body

    def _take(self, count: int) -> bytes:
        assert self._socket is not None
        while len(self._buffer) < count:
            try:
                chunk = self._socket.recv(max(65536, count - len(self._buffer)))
            except ssl.SSLError as error:
                raise EOFError(str(error)) from None
            if not chunk:
                raise EOFError()
            self._buffer += chunk
        taken, self._buffer = self._buffer[:count], self._buffer[count:]
        return taken

    def _udp_quietly(self, call: Call, xid: int, data: bytes) -> object:
        try:
            return self._udp_call(call, xid, data)
        except (AccessDenied, ProtocolError, ServerSystemError, DecodeError):
            if call.quiet:
                return None
            raise

    def _udp_call(self, call: Call, xid: int, data: bytes) -> object:
        for _ in range(self._attempts):
            try:
                self._socket.send(data)
                while True:
                    reply = self._socket.recv(65536)
                    if len(reply) >= 4 and struct.unpack_from(">I", reply)[0] == xid:
                        return read_reply(call, xid, reply)
            except socket.timeout:
                continue
            except ConnectionRefusedError:
                break
        raise ServerUnreachable(f"no answer from qovixd at {self.endpoint} over UDP")
