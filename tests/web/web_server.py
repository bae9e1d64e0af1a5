"""qovixd with the demo model and `qovix web` serving it, for the web view's
tests: QOVIXD and QOVIX_TOOL name the executables."""

from __future__ import annotations

import json
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))
from live_server import Server  # noqa: E402


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class WebView:
    """A qovixd holding the demo model, and the web view of it."""

    def __init__(self, *server_options: str, store: str = "memory",
                 demo_options: tuple[str, ...] = (), client_options: tuple[str, ...] = (),
                 web_options: tuple[str, ...] = (), https_ca: str | None = None) -> None:
        """`demo_options` are qovix's options for loading the demo model,
        `client_options` those `qovix web` reaches qovixd with, and
        `web_options` the web view's own; with `https_ca` it serves HTTPS,
        verified by that CA."""
        # A document folder of its own, through which imports and exports travel.
        self.documents = tempfile.TemporaryDirectory()
        if "--documents" not in server_options:
            server_options += ("--documents", self.documents.name)
        self.server = Server(*server_options, store=store)
        tool = os.environ["QOVIX_TOOL"]
        subprocess.run([tool, "--port", str(self.server.port), *demo_options, "demo"], check=True,
                       capture_output=True)
        self.port = free_port()
        self.https = ssl.create_default_context(cafile=https_ca) if https_ca else None
        self.url = f"{'https' if https_ca else 'http'}://127.0.0.1:{self.port}"
        self.log = tempfile.TemporaryFile("w+", encoding="utf-8")
        self.process = subprocess.Popen(
            [tool, "--port", str(self.server.port), *client_options, "web", "--listen",
             f"127.0.0.1:{self.port}", *web_options],
            stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while True:
            try:
                self.get("/api/session")
                break
            except (urllib.error.URLError, ConnectionError):
                if time.monotonic() > deadline or self.process.poll() is not None:
                    said = self.stop()
                    raise RuntimeError(f"the web view did not start; it said:\n{said}")
                time.sleep(0.1)

    def connect(self):
        return self.server.connect()

    def request(self, path: str, method: str = "GET", body: bytes | None = None,
                headers: dict[str, str] | None = None) -> tuple[int, dict[str, str], bytes]:
        """Status, headers and body of a request, errors included."""
        asked = urllib.request.Request(self.url + path, data=body, method=method,
                                       headers=headers or {})
        try:
            with urllib.request.urlopen(asked, timeout=30, context=self.https) as answer:
                return answer.status, dict(answer.headers), answer.read()
        except urllib.error.HTTPError as refused:
            return refused.code, dict(refused.headers), refused.read()

    def get(self, path: str, headers: dict[str, str] | None = None) -> dict:
        status, _, body = self.request(path, headers=headers)
        if status != 200:
            raise urllib.error.URLError(f"{path}: {status} {body[:200]!r}")
        return json.loads(body)

    def stop(self) -> str:
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.seek(0)
        said = self.log.read()
        self.log.close()
        self.server.stop()
        self.documents.cleanup()
        return said


def make_certificates(folder: str | os.PathLike) -> None:
    """A CA and the certificates the tests use (server, alice, bob, web, ...)
    in `folder`, made by tests/tls/make_certificates.py."""
    subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "..", "tls",
                                                 "make_certificates.py"), str(folder)],
                   check=True, capture_output=True)


def vouched_web(folder: str | os.PathLike, access: str | os.PathLike, *web_options: str,
                https: bool = False) -> WebView:
    """A qovixd requiring TLS with the certificates of `folder` and the
    access file `access`, the demo model loaded as alice, and `qovix web`
    reaching it with the web view's certificate (which the access file must
    trust to vouch); with `https` it serves HTTPS too."""
    def pem(name: str) -> str:
        return os.path.join(folder, f"{name}.pem")

    served = ("--tls-cert", pem("server"), "--tls-key", pem("server-key"), "--tls-ca", pem("ca"),
              "--tls-require", "--access", str(access))
    if https:
        web_options += ("--tls-cert", pem("server"), "--tls-key", pem("server-key"))
    return WebView(*served,
                   demo_options=("--ca", pem("ca"), "--cert", pem("alice"), "--key",
                                 pem("alice-key")),
                   client_options=("--ca", pem("ca"), "--cert", pem("web"), "--key",
                                   pem("web-key")),
                   web_options=web_options, https_ca=pem("ca") if https else None)
