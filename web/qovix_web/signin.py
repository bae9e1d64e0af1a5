"""Who a request comes from. Three ways, one per web view:

- no sign-in (loopback only): every request acts as the web view's own
  principal, the one its connections to qovixd have;
- a password file: people sign in with a name and password, checked against
  Argon2id hashes (argon2-cffi, Debian's python3-argon2), and are known by a
  session cookie (HttpOnly, Secure, SameSite=Strict) from then on;
- a reverse proxy's user header: the proxy that authenticated the person
  names them in a header, which is believed only from the proxy's addresses.

A signed-in person acts as `user:NAME` towards qovixd (host service
act_for), whose access file says what they may do."""

from __future__ import annotations

import collections
import os
import secrets
import sys
import threading
import time
from dataclasses import dataclass, field

import qovix

try:
    import argon2
except ImportError:  # only signing in by passwords needs it
    argon2 = None

COOKIE = "qovix_session"
# A session ends after this long without a request, and there are at most
# so many at once (the oldest goes first).
IDLE_SECONDS = 8 * 3600
MOST_SESSIONS = 10_000
# What a name may be: as qovixd takes it for user:NAME.
LONGEST_NAME = qovix.LONGEST_USER_NAME
LONGEST_PASSWORD = 1024
is_user_name = qovix.is_user_name


class PasswordFile:
    """NAME:HASH lines ('#' starts a comment), read again when the file
    changes, so that adding a person needs no restart."""

    def __init__(self, path: str):
        self.path = path
        if argon2 is None:
            raise ValueError("signing in by passwords needs argon2-cffi (Debian: python3-argon2)")
        self._hasher = argon2.PasswordHasher()
        # Checked for a name the file does not hold, so that an unknown name
        # takes as long to refuse as a wrong password.
        self._stand_in = self._hasher.hash(secrets.token_urlsafe(16))
        self._lock = threading.Lock()
        self._seen: tuple[int, int] | None = None
        self._said = ""
        status = os.stat(path)  # a missing or malformed file stops the start
        self._hashes = read_password_file(path)
        self._seen = (status.st_mtime_ns, status.st_size)

    def hashes(self) -> dict[str, str]:
        """The names and hashes, read again when the file changed. A file
        gone or malformed meanwhile keeps the last good ones, and says so."""
        with self._lock:
            try:
                status = os.stat(self.path)
                if self._seen != (status.st_mtime_ns, status.st_size):
                    self._seen = (status.st_mtime_ns, status.st_size)
                    self._hashes = read_password_file(self.path)
            except (OSError, ValueError) as wrong:
                if str(wrong) != self._said:  # once, not at every request
                    self._said = str(wrong)
                    print(f"qovix web: keeping the passwords read before: {wrong}",
                          file=sys.stderr, flush=True)
            return self._hashes

    def check(self, name: str, password: str) -> bool:
        """Whether the password is the person's; slow by design (Argon2)."""
        if len(password) > LONGEST_PASSWORD:
            return False
        stored = self.hashes().get(name)
        try:
            self._hasher.verify(stored or self._stand_in, password)
        except (argon2.exceptions.VerificationError, argon2.exceptions.InvalidHash):
            return False
        return stored is not None


def read_password_file(path: str) -> dict[str, str]:
    hashes: dict[str, str] = {}
    with open(path, encoding="utf-8") as file:
        for number, line in enumerate(file, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, colon, hashed = line.partition(":")
            if not colon or not is_user_name(name) or not hashed.startswith("$argon2"):
                raise ValueError(f"{path}:{number}: expected NAME:ARGON2-HASH "
                                 "(qovix web --passwords FILE --set-password NAME writes one)")
            hashes[name] = hashed
    return hashes


def set_password(path: str, name: str, password: str) -> None:
    """Adds the person to the file, or gives them a new password; the file
    is replaced at once, and only its owner may read it."""
    if not is_user_name(name):
        raise ValueError(f"a name is 1 to {LONGEST_NAME} letters, digits and . _ - @ +")
    if not password or len(password) > LONGEST_PASSWORD:
        raise ValueError(f"a password is 1 to {LONGEST_PASSWORD} characters")
    if argon2 is None:
        raise ValueError("setting a password needs argon2-cffi (Debian: python3-argon2)")
    lines = []
    if os.path.exists(path):
        read_password_file(path)  # a malformed file is not rewritten
        with open(path, encoding="utf-8") as file:
            lines = [line.rstrip("\n") for line in file
                     if line.partition(":")[0].strip() != name]
    lines.append(f"{name}:{argon2.PasswordHasher().hash(password)}")
    written = f"{path}.{secrets.token_hex(4)}.new"
    descriptor = os.open(written, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "w", encoding="utf-8") as file:
        file.write("\n".join(lines) + "\n")
    os.replace(written, path)


@dataclass
class Session:
    user: str
    last_seen: float


class Sessions:
    """Signed-in people by the random token of their cookie."""

    def __init__(self) -> None:
        self._sessions: collections.OrderedDict[str, Session] = collections.OrderedDict()
        self._lock = threading.Lock()

    def begin(self, user: str) -> str:
        token = secrets.token_urlsafe(32)
        with self._lock:
            self._sessions[token] = Session(user, time.monotonic())
            while len(self._sessions) > MOST_SESSIONS:
                self._sessions.popitem(last=False)
        return token

    def user_of(self, token: str | None) -> str | None:
        if not token:
            return None
        now = time.monotonic()
        with self._lock:
            session = self._sessions.get(token)
            if session is None:
                return None
            if now - session.last_seen > IDLE_SECONDS:
                del self._sessions[token]
                return None
            session.last_seen = now
            self._sessions.move_to_end(token)
            return session.user

    def end(self, token: str | None) -> None:
        with self._lock:
            self._sessions.pop(token or "", None)


@dataclass
class SignIn:
    """How this web view knows who a request comes from."""
    passwords: PasswordFile | None = None
    user_header: str | None = None
    proxies: frozenset[str] = frozenset({"127.0.0.1", "::1"})
    sessions: Sessions = field(default_factory=Sessions)

    @property
    def required(self) -> bool:
        return self.passwords is not None or self.user_header is not None

    @property
    def way(self) -> str | None:
        if self.passwords is not None:
            return "password"
        return "proxy" if self.user_header is not None else None

    def user_of(self, headers: dict[str, str] | object, cookies: dict[str, str],
                peer: str | None) -> str | None:
        """The person a request comes from; None when it names nobody (or
        when there is no sign-in, and everyone acts as the web view)."""
        if self.user_header is not None:
            if peer not in self.proxies:
                return None
            named = headers.get(self.user_header.lower(), "")  # type: ignore[attr-defined]
            return named if is_user_name(named) else None
        if self.passwords is not None:
            token = cookies.get(COOKIE)
            user = self.sessions.user_of(token)
            if user is not None and user not in self.passwords.hashes():
                self.sessions.end(token)  # taken out of the file: signed out
                return None
            return user
        return None
