"""The repository a qovixd serves, and the objects in it as Python objects.

The generated classes (`_model.py`) are thin: each property and method is
one line calling the helpers here, which hold the handles, check them and
convert values.

The wire cannot report that a call failed: a routine given a handle that
names nothing answers its previous result. So, unless told otherwise, every
call that names objects asks the server, in the same round trip, whether
its handles still name the objects they named, and raises InvalidHandle when
one does not.

A Repository may be shared by threads: one call at a time travels on its
connection. A connection that broke, timed out or was closed by the server
is replaced by a new one at the next call; handles live in the server, not
in the connection, so objects keep working where the server kept them.
"""

from __future__ import annotations

import contextlib
import enum
import os
import ssl
import threading
import weakref
from dataclasses import dataclass
from typing import (TYPE_CHECKING, Any, Callable, ClassVar, Generic, Iterator, Sequence, TypeVar,
                    overload)

from . import _records, _rpc
from ._host_services import HostServices
from ._reading import Reading
from ._protocol import (CAST_PROCEDURE, CAST_PROGRAM, CLASS_PREFIX, DEFAULT_PORT, HOST_ACT_FOR,
                        HOST_CLASS_NAME, HOST_DELETE, HOST_DELETION, HOST_ELEMENT, HOST_IDENTITY,
                        HOST_NULL, HOST_OBJECT, HOST_PROGRAM, HOST_RELEASE, HOST_REPOSITORY,
                        HOST_SIZE, HOST_VERSION, MODEL_PROGRAM)
from ._rpc import Call, Value
from .errors import (AccessDenied, InvalidHandle, ProtocolError, QovixError, ServerSystemError,
                     ServerUnreachable)

if TYPE_CHECKING:
    from ._documents import Imported
    from ._history import Commit


@dataclass(frozen=True)
class ValueClass:
    """How values of one value class are written in Python."""
    number: int
    name: str
    kind: str  # "text", "truth", "number" or "enum"
    literals: type[enum.IntEnum] | None = None

    def to_wire(self, value: Any) -> Value:
        if self.kind == "text":
            if not isinstance(value, str):
                raise TypeError(f"{self.name} takes a str, not {type(value).__name__}")
            _rpc.text_units(value)  # ValueError, before anything is sent
            return Value(self.number, value)
        if self.kind == "truth":
            if not isinstance(value, bool):
                raise TypeError(f"{self.name} takes a bool, not {type(value).__name__}")
            return Value(self.number, int(value))
        if self.kind == "enum":
            assert self.literals is not None
            if not isinstance(value, self.literals):
                raise TypeError(f"{self.name} takes a {self.literals.__name__}, "
                                f"not {type(value).__name__}")
            return Value(self.number, int(value))
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"{self.name} takes an int, not {type(value).__name__}")
        if not -2**31 <= value < 2**31:
            raise ValueError(f"{self.name} holds 32-bit integers, not {value}")
        return Value(self.number, value)

    def from_wire(self, value: Value | None) -> Any:
        if value is None or value.value_class != self.number:
            found = "the null value" if value is None else f"value class {value.value_class}"
            raise ProtocolError(f"expected a {self.name}, got {found}")
        if self.kind == "text":
            return value.payload
        if self.kind == "truth":
            return value.payload != 0
        if self.kind == "enum":
            assert self.literals is not None
            return self.literals(value.payload)
        return value.payload


# Filled by the generated module: classes by number, value classes by number.
CLASSES: dict[int, type[ModelObject]] = {}
VALUE_CLASSES: dict[int, ValueClass] = {}


def _server(name: str, port: int) -> tuple[str, int]:
    """"host", "host:port" or "[v6]:port" as (host, port)."""
    if name.startswith("["):
        address, _, rest = name[1:].partition("]")
        return address, int(rest[1:]) if rest.startswith(":") else port
    if name.count(":") == 1:
        address, number = name.split(":")
        return address, int(number)
    return name, port


def conforms(actual: int, wanted: int) -> bool:
    return issubclass(CLASSES[actual], CLASSES[wanted])


class Repository(HostServices, Reading):
    """A connection to qovixd and the repository it serves.

        with qovix.Repository.connect("127.0.0.1", 20241) as repo:
            tv = repo.TaggedValue.create()
            tv.tag = "author"
    """

    def __init__(self, host: str, port: int, udp: bool, timeout: float, checked: bool,
                 tls: ssl.SSLContext | None = None,
                 others: Sequence[tuple[str, int]] = (), acting_for: str | None = None):
        self._host, self._port, self._timeout, self._tls = host, port, timeout, tls
        self.acting_for = acting_for
        self._udp = udp
        # The servers it may move to (fail-over), this one first; and how
        # often it moved, which makes the handles computed before stale.
        self._servers: list[tuple[str, int]] = [(host, port), *others]
        self._generation = 0
        self._transport = _rpc.Transport(host, port, udp, timeout, tls)
        self._tcp: _rpc.Transport | None = None if udp else self._transport
        self.checked = checked
        self._owned: set[int] = set()  # handles this client registered and still holds
        self._to_release: list[int] = []  # handles of objects Python has collected
        self._objects: weakref.WeakValueDictionary[int, ModelObject] = weakref.WeakValueDictionary()
        self._lock = threading.RLock()  # one exchange at a time on the connection
        try:
            try:
                self._host_call(HOST_NULL, (), _rpc.no_result)  # is it there?
            except AccessDenied:
                if tls is not None:
                    raise
                raise AccessDenied(f"qovixd at {self._transport.endpoint} refuses plain "
                                   "connections: it requires TLS (connect with tls=True)") from None
            if acting_for is not None:
                self._act_for(self._transport)
            self.handle: int = self._host_call(HOST_REPOSITORY, (), _rpc.handle_result)
        except BaseException:
            self._transport.close()
            raise

    @classmethod
    def connect(cls, host: str | None = None, port: int | None = None, udp: bool = False, *,
                hosts: Sequence[str] | None = None,
                timeout: float = 10.0, checked: bool = True, tls: bool = False,
                ca: str | None = None, cert: str | None = None,
                key: str | None = None, acting_for: str | None = None) -> Repository:
        """Connects to the qovixd at host:port (over UDP with `udp`); by
        default $QOVIX_HOST and $QOVIX_PORT, else 127.0.0.1 and 20241. With
        `checked` (the default), calls that could fail silently are checked
        in the same round trip. With `tls` (or a `ca` or `cert`), the
        connection starts RPC-with-TLS, verifying the server against `ca`
        and presenting `cert` and `key`; it never goes on in plain text.

        Several servers of one shared repository may be named, in `hosts`
        or in `host` with commas ("a,b:20252,[::1]:20253"; a server without
        a port has `port`). The first that answers serves; when it stops
        answering, the next takes over, and the objects this client holds
        are found again there by their persistent numbers.

        With `acting_for`, the connection's calls are made for that user, on
        the word of `cert`, which qovixd's access file must trust to vouch
        for users (a web server passing on who signed in to it); refused
        with AccessDenied, saying why, when it is not or the user has no
        access."""
        if acting_for is not None and (udp or not (tls or ca or cert)):
            raise ValueError("acting for a user takes a TLS connection with a certificate: "
                             "give cert= and key= (and ca=), a certificate qovixd's access "
                             "file trusts to vouch")
        port = port or int(os.environ.get("QOVIX_PORT") or DEFAULT_PORT)
        names = list(hosts) if hosts else \
            (host or os.environ.get("QOVIX_HOST") or "127.0.0.1").split(",")
        servers = [_server(name.strip(), port) for name in names if name.strip()]
        if not servers:
            raise ValueError("no server named: give host= (or hosts=), or set QOVIX_HOST")
        context = _rpc.tls_context(ca, cert, key) if tls or ca or cert else None
        unreachable: ServerUnreachable | None = None
        for at, (name, number) in enumerate(servers):
            try:
                return cls(name, number, udp, timeout, checked, context,
                           servers[at + 1:] + servers[:at], acting_for)
            except ServerUnreachable as error:
                unreachable = error
        assert unreachable is not None
        raise unreachable

    def __enter__(self) -> Repository:
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    def close(self) -> None:
        """Releases every handle this client holds and disconnects."""
        if self._transport is None:
            return
        self._to_release.extend(self._owned)
        self._owned.clear()
        try:
            self._flush_releases([])
        except QovixError:
            pass  # the server is gone, and its handles with it
        for transport in {id(t): t for t in (self._transport, self._tcp) if t}.values():
            transport.close()
        self._transport = self._tcp = None

    # -- fail-over -------------------------------------------------------------

    def _with_failover(self, attempt: Callable[[], Any]) -> Any:
        """Makes the call `attempt` makes; when its server stops answering
        and others are named, moves to the next and makes it once more
        there. The call may then have happened twice, once on each server:
        a writing call whose server died before its reply may have been
        kept."""
        try:
            return attempt()
        except ServerUnreachable:
            if len(self._servers) < 2 or self._transport is None:
                raise
            self._fail_over()
        return attempt()

    def _fail_over(self) -> None:
        """Moves to the next server that answers. The handles of the one
        left mean nothing on it: every object this client holds forgets
        them and finds its own again by number, when next used."""
        with self._lock:
            for transport in {id(t): t for t in (self._transport, self._tcp) if t}.values():
                transport.close()
            unreachable: QovixError | None = None
            for _ in range(len(self._servers) - 1):
                self._servers.append(self._servers.pop(0))
                host, port = self._servers[0]
                transport = _rpc.Transport(host, port, self._udp, self._timeout, self._tls)
                try:
                    transport.call_many([Call(HOST_PROGRAM, HOST_VERSION, HOST_NULL, (),
                                              _rpc.no_result)])
                    if self.acting_for is not None:
                        self._act_for(transport)
                    handle = transport.call_many([Call(HOST_PROGRAM, HOST_VERSION,
                                                       HOST_REPOSITORY, (),
                                                       _rpc.handle_result)])[0]
                except QovixError as error:
                    transport.close()
                    unreachable = error
                    continue
                self._host, self._port = host, port
                self._transport = transport
                self._tcp = None if self._udp else transport
                self.handle = handle
                self._owned.clear()
                self._to_release.clear()
                self._generation += 1
                for held in list(self._objects.values()):
                    held._views.clear()  # in place: its finalizer holds the same dict
                    held._borrowed.clear()
                return
            self._transport = self._tcp = None
            raise ServerUnreachable("no server of "
                                    + ", ".join(f"{h}:{p}" for h, p in self._servers)
                                    + " answers") from unreachable

    def _act_for(self, transport: _rpc.Transport) -> None:
        """Makes the connection's calls for the user it acts for."""
        assert self.acting_for is not None
        access, why = transport.call_many([Call(HOST_PROGRAM, HOST_VERSION, HOST_ACT_FOR,
                                                _records.user_name_fields(self.acting_for),
                                                _records.read_outcome)])[0]
        if access == 0:
            raise AccessDenied(f"qovixd at {transport.endpoint} does not let this client act for "
                               f"{self.acting_for}: {why}")

    def _handle_of(self, number: int, class_number: int) -> int:
        """A handle of this server to object `number` as `class_number`."""
        found = self.by_number(number)
        if found is None:
            raise InvalidHandle(f"object {number} is not in the repository")
        return found._view(class_number)

    # -- calls ---------------------------------------------------------------

    @property
    def calls_made(self) -> int:
        return sum(t.calls_made for t in {id(t): t for t in (self._transport, self._tcp) if t}.values())

    def _flush_releases(self, calls: list[Call]) -> list[object]:
        """Makes `calls` after the releases that wait; their results."""
        # A release that fails (a reader may not release) leaves the handle
        # to the server, which releases a principal's handles when it goes.
        with self._lock:
            waiting = [Call(HOST_PROGRAM, HOST_VERSION, HOST_RELEASE, (("h", h),),
                            _rpc.number_result, quiet=True) for h in self._to_release]
            self._to_release.clear()
            return self._make(waiting + calls)[len(waiting):]

    def _make(self, calls: list[Call]) -> list[object]:
        with self._lock:
            return self._make_locked(calls)

    def _make_locked(self, calls: list[Call]) -> list[object]:
        if self._transport is None:
            raise QovixError("the repository connection is closed")
        if not calls:
            return []
        try:
            return self._transport.call_many(calls)
        except ServerSystemError:
            if self._transport is self._tcp:
                raise
        # Over UDP: qovixd answers a reply too large for a datagram with the
        # system error and keeps nothing of the call, so it is made over TCP.
        if self._tcp is None:
            self._tcp = _rpc.Transport(self._host, self._port, False, self._timeout, self._tls)
        return self._tcp.call_many(calls)

    def _host_call(self, procedure: int, fields: tuple, result: _rpc.ResultReader) -> Any:
        def attempt() -> Any:
            return self._flush_releases(
                [Call(HOST_PROGRAM, HOST_VERSION, procedure, fields, result)])[0]
        # A call that names no handle means the same on every server.
        if any(kind == "h" for kind, _ in fields):
            return attempt()
        return self._with_failover(attempt)

    def _checked_call(self, call: Call, handles: Sequence[tuple[int, int, int]]) -> Any:
        """Makes the call; with checks on, asks in the same round trip
        whether each (handle, class, object number) it names still names
        that object: a server that restarted may have given the handle to
        another."""
        checks = [Call(HOST_PROGRAM, HOST_VERSION, HOST_IDENTITY, (("h", h),), _rpc.pair_result)
                  for h, _, _ in handles] if self.checked else []
        results = self._flush_releases([call] + checks)
        for (handle, class_number, expected), (object_number, _) in zip(handles, results[1:]):
            if object_number == 0 or object_number != expected:
                raise InvalidHandle(f"no object of class {CLASSES[class_number].__name__} "
                                    f"has handle {handle}"
                                    + ("" if object_number == 0 else
                                       f" (it names object {object_number}, not {expected})")
                                    + ": the server may have restarted; the call's result "
                                    "is not to be trusted")
        return results[0]

    def _adopt(self, handle: int) -> int:
        if handle == 0:
            raise ProtocolError("the server registered no handle for the result")
        self._owned.add(handle)
        return handle

    def _release(self, handles: Sequence[int]) -> None:
        for handle in handles:
            if handle in self._owned:
                self._owned.discard(handle)
                self._to_release.append(handle)

    def _identity(self, handle: int) -> tuple[int, int]:
        return self._host_call(HOST_IDENTITY, (("h", handle),), _rpc.pair_result)

    def _wrap(self, handle: int, view_class: int) -> ModelObject | None:
        """The object a fresh result handle names, or None for no object."""
        if handle == 0:
            return None
        self._adopt(handle)
        object_number, class_number = self._identity(handle)
        if object_number == 0:
            self._release([handle])
            return None
        known = self._objects.get(object_number)
        if known is not None and not known._released:
            if view_class in known._views:
                self._release([handle])
            else:
                known._views[view_class] = handle
            return known
        if class_number not in CLASSES:
            raise ProtocolError(f"handle {handle} names an object of unknown class {class_number}")
        made = CLASSES[class_number].__new__(CLASSES[class_number])
        made._bind(self, object_number, {view_class: handle})
        self._objects[object_number] = made
        return made

    @contextlib.contextmanager
    def _patient(self, seconds: float = 3600.0) -> Iterator[None]:
        """Calls made within wait up to `seconds` (an hour) for their
        replies: an import or export of a large document takes long."""
        with contextlib.ExitStack() as stack:
            for transport in {id(t): t for t in (self._transport, self._tcp) if t}.values():
                stack.enter_context(transport.patience(seconds))
            yield

    def import_model(self, source: bytes | str | os.PathLike, into: ModelObject | None = None,
                     title: str | None = None) -> Imported:
        """Imports a model: the file at a path here, or the document's bytes
        (XMI, a project archive such as .zargo, or the repository's own
        format, told apart by content). It travels to qovixd in chunks, is
        read there into a new package (inside `into` when given), and is
        gone from the server's folder after. Answers (package, report);
        DocumentRefused with qovixd's reason, leaving nothing behind."""
        from ._documents import import_model
        return import_model(self, source, into, title)

    def by_number(self, number: int) -> ModelObject | None:
        """The object with that persistent number, as its own class; None
        when there is none."""
        if not 0 < number < 2**32:
            return None
        # Asked of the server every time: another client may have deleted
        # an object this one still holds.
        handle = self._host_call(HOST_OBJECT, (("l", number),), _rpc.handle_result)
        if not handle:
            return None
        known = self._objects.get(number)
        if known is not None and not known._released:
            self._host_call(HOST_RELEASE, (("h", handle),), _rpc.number_result)
            return known
        return self._wrap(handle, self._identity(handle)[1])

    def from_handle(self, handle: int, class_number: int | None = None) -> ModelObject:
        """The object a handle registered elsewhere names (the handle is not
        released when the object is collected). InvalidHandle when it names
        no object, or none of `class_number`."""
        name = self._host_call(HOST_CLASS_NAME, (("h", handle),), _rpc.string_result)
        object_number, created = self._identity(handle)
        wanted = CLASSES[class_number].__name__ if class_number else "any model class"
        view = next((n for n, c in CLASSES.items() if name == CLASS_PREFIX + c.__name__), None)
        if object_number == 0 or view is None or (class_number and not conforms(created, class_number)):
            raise InvalidHandle(f"no object of class {wanted} has handle {handle}")
        known = self._objects.get(object_number)
        if known is not None and not known._released:
            known._views.setdefault(view, handle)
            return known
        made = CLASSES[created].__new__(CLASSES[created])
        made._bind(self, object_number, {view: handle}, borrowed={handle})
        self._objects[object_number] = made
        return made


T = TypeVar("T", bound="ModelObject")


class ModelObject:
    """An object of the repository. Its handles are released when Python
    collects it, when a `with` block on it ends, or on `release()`."""

    __slots__ = ("_repository", "_object", "_views", "_released", "_borrowed", "_finalizer",
                 "__weakref__")
    _class_number: ClassVar[int] = 0

    def __init__(self) -> None:
        raise TypeError(f"make objects with repository.{type(self).__name__}.create()")

    def _bind(self, repository: Repository, object_number: int, views: dict[int, int],
              borrowed: set[int] | None = None) -> None:
        self._repository, self._object, self._views, self._released = (
            repository, object_number, views, False)
        self._borrowed = borrowed or set()
        self._finalizer = weakref.finalize(self, _release_views, weakref.ref(repository),
                                           views, self._borrowed)

    # -- identity --------------------------------------------------------------

    @property
    def repository(self) -> Repository:
        return self._repository

    @property
    def object_number(self) -> int:
        """The persistent object's number: the same across handles and restarts."""
        return self._object

    @property
    def handle(self) -> int:
        """A handle to the object as its own class."""
        return self._view(type(self)._class_number)

    def history(self) -> list[Commit]:
        """The commits that touched this object, newest first, each with
        its changes to it: what each slot held before and after."""
        return self._repository.history_of(self._object)

    def __eq__(self, other: object) -> bool:
        return (isinstance(other, ModelObject) and other._repository is self._repository
                and other._object == self._object)

    def __hash__(self) -> int:
        return hash(self._object)

    def __repr__(self) -> str:
        return f"<{type(self).__name__} object {self._object}>"

    def __enter__(self: T) -> T:
        return self

    def __exit__(self, *exception: object) -> None:
        self.release()

    def release(self) -> None:
        """Releases this object's handles; the object stays in the repository."""
        self._finalizer()
        self._released = True

    def deletion(self) -> dict[str, int]:
        """What `delete()` would delete, changing nothing: how many objects
        of each class (the model's names, as "QOVIXClass")."""
        said = self._repository._host_call(HOST_DELETION, (("h", self.handle),),
                                           _rpc.string_result)
        if said is None:
            raise InvalidHandle(f"{self!r} names no model object the repository holds")
        words = said.split()
        return {name: int(count) for count, name in zip(words[::2], words[1::2])}

    def delete(self) -> int:
        """Deletes the object from the repository, with everything it owns
        and what cannot stand without it (a generalization without its
        subtype, an association left with one end); answers how many
        objects went. The object is unusable afterwards, as are those that
        went with it: the server dropped every handle to them."""
        count = self._repository._host_call(HOST_DELETE, (("h", self.handle),),
                                            _rpc.number_result)
        if count < 0:
            raise InvalidHandle(f"{self!r} names no model object the repository holds")
        self._finalizer.detach()  # its handles are gone with it
        for handle in self._views.values():
            self._repository._owned.discard(handle)
        self._released = True
        self._repository._objects.pop(self._object, None)
        return count

    # -- what the generated members call --------------------------------------

    def _view(self, class_number: int) -> int:
        if self._released:
            raise InvalidHandle(f"{self!r} was released")
        handle = self._views.get(class_number)
        if handle is None and not self._views:
            # Found again by number, on a server this client moved to.
            handle = self._repository._make(
                [Call(HOST_PROGRAM, HOST_VERSION, HOST_OBJECT, (("l", self._object),),
                      _rpc.handle_result)])[0]
            if handle == 0:
                raise InvalidHandle(f"{self!r} is no longer in the repository")
            self._views[self._repository._identity(handle)[1]] = self._repository._adopt(handle)
            handle = self._views.get(class_number)
        if handle is None:
            any_view = next(iter(self._views.values()))
            handle = self._repository._make(
                [Call(CAST_PROGRAM, class_number, CAST_PROCEDURE, (("h", any_view), ("l", 0)),
                      _rpc.handle_result)])[0]
            if handle == 0:  # the server no longer knows the handle cast
                raise InvalidHandle(f"{self!r} names no object any more (deleted, or its "
                                    "handles released)")
            self._views[class_number] = self._repository._adopt(handle)
        return handle

    def _call(self, owner: int, procedure: int, arguments: Sequence[Any],
              result: _rpc.ResultReader) -> Any:
        """Calls procedure `procedure` of class `owner` on this object with
        arguments made by `_object_argument` and `_value_argument`."""
        repository = self._repository
        generation = repository._generation

        def attempt() -> Any:
            fields = [("h", self._view(owner))]
            handles = [(fields[0][1], owner, self._object)]
            for kind, item, class_number, object_number in arguments:
                if kind == "h" and object_number and repository._generation != generation:
                    item = repository._handle_of(object_number, class_number)
                fields.append((kind, item))
                if kind == "h":
                    handles.append((item, class_number, object_number))
            call = Call(MODEL_PROGRAM, owner, procedure, tuple(fields), result)
            return repository._checked_call(call, handles)
        return repository._with_failover(attempt)

    def _get_value(self, owner: int, procedure: int, value_class: int,
                   *arguments: Any) -> Any:
        got = self._call(owner, procedure, arguments, _rpc.value_result)
        return VALUE_CLASSES[value_class].from_wire(got)

    def _get_object(self, owner: int, procedure: int, result_class: int,
                    *arguments: Any) -> Any:
        handle = self._call(owner, procedure, arguments, _rpc.handle_result)
        return self._repository._wrap(handle, result_class)

    def _get_collection(self, owner: int, procedure: int, element_class: int,
                        *arguments: Any) -> Any:
        handle = self._call(owner, procedure, arguments, _rpc.handle_result)
        return Collection(self._repository, self._repository._adopt(handle), element_class)

    def _do(self, owner: int, procedure: int, *arguments: Any) -> None:
        self._call(owner, procedure, arguments, _rpc.no_result)

    def _get_number(self, owner: int, procedure: int, *arguments: Any) -> int:
        return self._call(owner, procedure, arguments, _rpc.number_result)

    def _get_string(self, owner: int, procedure: int) -> str | None:
        return self._call(owner, procedure, (), _rpc.string_result)


def _release_views(repository: weakref.ref[Repository], views: dict[int, int],
                   borrowed: set[int]) -> None:
    # Runs when Python collects the object, possibly in the middle of another
    # call: the handles wait for the next call to release them.
    held = repository()
    if held is not None:
        held._release([h for h in views.values() if h not in borrowed])
    views.clear()


def object_argument(value: ModelObject | None, class_number: int) -> tuple:
    """An object argument, as a handle of the parameter's class."""
    wanted = CLASSES[class_number]
    if not isinstance(value, wanted):
        raise TypeError(f"expected a {wanted.__name__}, not {type(value).__name__}")
    return ("h", value._view(class_number), class_number, value._object)


def value_argument(value: Any, value_class: int) -> tuple:
    return ("v", VALUE_CLASSES[value_class].to_wire(value), 0, 0)


def number_argument(value: int) -> tuple:
    if isinstance(value, bool) or not isinstance(value, int) or not -2**31 <= value < 2**31:
        raise TypeError(f"expected a 32-bit int, not {value!r}")
    return ("l", value, 0, 0)


class _Indexed(Sequence[T]):
    """A sequence read member by member (`_at`)."""

    def _at(self, position: int) -> T:
        raise NotImplementedError

    @overload
    def __getitem__(self, index: int) -> T: ...
    @overload
    def __getitem__(self, index: slice) -> list[T]: ...

    def __getitem__(self, index: int | slice) -> T | list[T]:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        size = len(self)
        position = index + size if index < 0 else index
        if not 0 <= position < size:
            raise IndexError(index)
        return self._at(position)

    def __repr__(self) -> str:
        return f"[{', '.join(repr(item) for item in self)}]"


class Collection(_Indexed[T]):
    """A collection an operation computed, read element by element."""

    def __init__(self, repository: Repository, handle: int, element_class: int):
        self._repository, self._handle, self._element_class = repository, handle, element_class
        self._size: int | None = None
        weakref.finalize(self, _release_views, weakref.ref(repository), {0: handle}, set())

    def __len__(self) -> int:
        if self._size is None:
            self._size = self._repository._host_call(HOST_SIZE, (("h", self._handle),),
                                                     _rpc.number_result)
            if self._size < 0:
                raise InvalidHandle(f"handle {self._handle} names no collection")
        return self._size

    def _at(self, position: int) -> T:
        handle = self._repository._host_call(HOST_ELEMENT, (("h", self._handle), ("l", position)),
                                             _rpc.handle_result)
        made = self._repository._wrap(handle, self._element_class)
        if made is None:
            raise InvalidHandle(f"member {position} of the collection names no object")
        return made  # type: ignore[return-value]


@dataclass(frozen=True)
class Feature:
    """The procedures of a collection feature, by number (0: none)."""
    owner: int
    element: int  # class number, or value class for a list of values
    kind: str  # "set", "list", "array" or "values"
    get: int
    contains: int
    size: int
    add: int
    remove: int
    flush: int


class Members(_Indexed[T]):
    """A collection feature of an object, read and changed in place:
    `len(package.ownedElement)`, `x in ...`, `[i]`, `add`, `remove`."""

    def __init__(self, owner: ModelObject, feature: Feature):
        self._owner, self._feature = owner, feature

    def _argument(self, item: Any) -> tuple:
        if self._feature.kind == "values":
            return value_argument(item, self._feature.element)
        return object_argument(item, self._feature.element)

    def __len__(self) -> int:
        f = self._feature
        return self._owner._get_number(f.owner, f.size)

    def _at(self, position: int) -> T:
        f = self._feature
        if f.kind == "values":
            return self._owner._get_value(f.owner, f.get, f.element, number_argument(position))
        return self._owner._get_object(f.owner, f.get, f.element, number_argument(position))

    def __iter__(self) -> Iterator[T]:
        for i in range(len(self)):
            yield self[i]

    def __contains__(self, item: object) -> bool:
        f = self._feature
        try:
            argument = self._argument(item)
        except TypeError:
            return False
        return self._owner._get_number(f.owner, f.contains, argument) != 0

    def add(self, item: T) -> None:
        """Adds the item (at the end of an ordered collection)."""
        if self._feature.kind in ("list", "values"):
            self.insert(len(self), item)
        else:
            self._owner._do(self._feature.owner, self._feature.add, self._argument(item))

    append = add

    def insert(self, position: int, item: T) -> None:
        """Inserts the item before `position` (ordered collections)."""
        f = self._feature
        if f.kind not in ("list", "values"):
            raise TypeError(f"a {f.kind} has no order to insert into")
        self._owner._do(f.owner, f.add, self._argument(item), number_argument(position))

    def remove(self, item: T) -> None:
        self._owner._do(self._feature.owner, self._feature.remove, self._argument(item))

    def clear(self) -> None:
        self._owner._do(self._feature.owner, self._feature.flush)



@dataclass(frozen=True)
class Search:
    """How instances are found by one attribute: the class whose find
    procedure serves it, that procedure, and the attribute's value class."""
    owner: int
    procedure: int
    value_class: int


class ClassAccess(Generic[T]):
    """One class of a repository: `repo.Class.create()`, `.find(name=...)`,
    `.all()`, `.from_handle(h)`."""

    def __init__(self, repository: Repository, model_class: type[T],
                 searches: dict[str, Search]):
        self._repository, self._class, self._searches = repository, model_class, searches

    def create(self) -> T:
        """A new object of the class, made in this repository."""
        number = self._class._class_number

        # Made and named (its number asked) on one server: one that dies
        # between the two leaves the next server to make it again, as it
        # does one that dies before the reply.
        def attempt() -> ModelObject | None:
            handle = self._repository._checked_call(
                Call(MODEL_PROGRAM, number, 2, (("h", self._repository.handle),),
                     _rpc.handle_result), [])
            return self._repository._wrap(handle, number)
        made = self._repository._with_failover(attempt)
        if made is None:
            raise QovixError(f"the server made no {self._class.__name__}")
        return made  # type: ignore[return-value]

    def from_handle(self, handle: int) -> T:
        return self._repository.from_handle(handle, self._class._class_number)  # type: ignore

    def _found(self, procedure: int, owner: int, fields: tuple) -> list[T]:
        handle = self._repository._with_failover(lambda: self._repository._checked_call(
            Call(MODEL_PROGRAM, owner, procedure, (("h", self._repository.handle),) + fields,
                 _rpc.handle_result), []))
        found = Collection(self._repository, self._repository._adopt(handle), owner)
        return [item for item in found if isinstance(item, self._class)]

    def all(self) -> list[T]:
        """Every instance of the class, subclasses included, in creation order."""
        find_all = _FIND_ALL[self._class._class_number]
        return self._found(find_all, self._class._class_number, (("l", 1),))

    def find(self, **attributes: Any) -> list[T]:
        """The instances (subclasses included) whose attributes hold the
        values given: `repo.Class.find(name="Account")`."""
        if not attributes:
            return self.all()
        found: list[T] | None = None
        for name, wanted in attributes.items():
            search = self._searches.get(name)
            if search is None:
                raise TypeError(f"{self._class.__name__} has no attribute '{name}' to find by")
            value = VALUE_CLASSES[search.value_class].to_wire(wanted)
            text = VALUE_CLASSES[VORN_STRING]
            if isinstance(value.payload, str):
                fields = (("v", text.to_wire(name)), ("v", text.to_wire(value.payload)), ("l", 1))
            else:
                fields = (("v", text.to_wire(name)), ("l", value.payload), ("l", 1))
            matches = self._found(search.procedure, search.owner, fields)
            found = matches if found is None else [m for m in found if m in set(matches)]
        return found or []


# Filled by the generated module: each class's `_find__0` procedure, and
# the value class of the names given to finds.
_FIND_ALL: dict[int, int] = {}
VORN_STRING = 0


def literals(name: str, names: Sequence[str]) -> type[enum.IntEnum]:
    return enum.IntEnum(name, [(n, i) for i, n in enumerate(names)])  # type: ignore[return-value]

