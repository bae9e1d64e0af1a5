"""Fuzzes the web view with HTTP requests: well-formed ones to every route
with odd numbers, names, queries, methods, headers and bodies, and raw bytes
that are no HTTP at all, sent over a socket to `qovix web` serving the demo
model. Every answer must be an HTTP answer below 500 (a 502 says qovixd
refused; anything else is a fault), no request may hang it, and it must
still answer at the end.

    QOVIXD=... QOVIX_TOOL=... PYTHONPATH=BUILD/python python3 fuzz_web.py SECONDS
"""

from __future__ import annotations

import json
import os
import socket
import subprocess
import string
import sys
import tempfile
import time
import urllib.parse

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "web"))
from web_server import WebView, make_certificates, vouched_web  # noqa: E402

WORDS = ["api", "elements", "static/%00", "static/a%00.js", "element", "search", "contents", "features", "queries", "history",
         "diagram.svg", "commits", "repository", "docs", "openapi.json", "static", "app.js",
         "style.css", "..", "%2e%2e", "", "0", "1", "2", "4", "-1", "4294967296",
         "99999999999999999999", "ownedElement", "allSupertypes", "name", "%00", "\u00e9",
         "session"]
segments = st.one_of(st.sampled_from(WORDS), st.text(max_size=12),
                     st.integers(-2**40, 2**40).map(str))
paths = st.lists(segments, min_size=1, max_size=6).map(
    lambda parts: "/" + "/".join(urllib.parse.quote(p, safe="%.") for p in parts))
queries = st.dictionaries(st.sampled_from(["name", "class", "offset", "limit", "since", "q"]),
                          st.one_of(st.text(max_size=24), st.integers(-2**70, 2**70).map(str)),
                          max_size=4).map(urllib.parse.urlencode)
methods = st.sampled_from(["GET", "GET", "GET", "POST", "PUT", "PATCH", "DELETE", "HEAD",
                           "OPTIONS", "BREW"])
header_values = st.text(alphabet=string.printable.strip("\r\n\x0b\x0c"), max_size=40)
headers = st.dictionaries(st.sampled_from(["Content-Type", "Cookie", "Accept", "Origin",
                                           "X-Qovix-Request", "Range", "Transfer-Encoding"]),
                          header_values | st.just("qovix_session=x") | st.just("1"), max_size=3)
# Bodies: any bytes, or sign-in credentials of every shape.
credentials = st.fixed_dictionaries({"user": st.one_of(st.text(max_size=80), st.integers()),
                                     "password": st.one_of(st.text(max_size=2000), st.none())})
bodies = st.one_of(st.binary(max_size=256), credentials.map(lambda c: json.dumps(c).encode()))


def exchange(port: int, request: bytes, half_close: bool) -> bytes:
    """What the server answers to `request` before it closes. A request says
    Connection: close; bytes that are no request are followed by the end
    of what is sent (a server may take a closed sending side for a gone
    client, and answer nothing)."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as connection:
        connection.sendall(request)
        if half_close:
            connection.shutdown(socket.SHUT_WR)
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
            head = answer.split(b"\r\n\r\n", 1)[0]
            if b"text/event-stream" in head.lower():
                return answer  # a stream of changes: it goes on by design
        return answer


def signing_in_web(folder: str) -> WebView:
    """A web view that signs people in by a password file, and acts for
    them towards a qovixd requiring TLS, on its certificate's word."""
    make_certificates(folder)
    access = os.path.join(folder, "access")
    with open(access, "w", encoding="utf-8") as written:
        written.write("vouch CN=qovix-web,O=Modelling\nread CN=qovix-web,O=Modelling\n"
                      "write CN=alice,O=Modelling\nwrite user:carol\n")
    passwords = os.path.join(folder, "passwords")
    subprocess.run([os.environ["QOVIX_TOOL"], "web", "--passwords", passwords, "--set-password",
                    "carol"], input="secret\n", text=True, check=True, capture_output=True)
    return vouched_web(folder, access, "--passwords", passwords)


def main() -> int:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 30
    web = WebView()
    # And one that signs people in by a password file; should it not start,
    # the first goes too.
    certificates = tempfile.TemporaryDirectory()
    try:
        signing_in = signing_in_web(certificates.name)
    except BaseException:
        web.stop()
        certificates.cleanup()
        raise
    sent = [0]

    def check(answer: bytes, request: bytes, well_formed: bool) -> None:
        """An answer below 500 (but 502); none only to bytes that are no HTTP."""
        sent[0] += 1
        if not answer and not well_formed:
            return
        status = answer.split(b" ", 2)
        assert len(status) > 1 and status[0].startswith(b"HTTP/1."), (request, answer[:200])
        code = int(status[1])
        assert code < 500 or code == 502, (request, answer[:400])

    @settings(max_examples=200, deadline=None, database=None,
              suppress_health_check=list(HealthCheck))
    @given(method=methods, path=paths, query=queries, headers=headers, body=bodies,
           signed=st.booleans())
    def requests(method: str, path: str, query: str, headers: dict[str, str], body: bytes,
                 signed: bool) -> None:
        lines = [f"{method} {path}{'?' + query if query else ''} HTTP/1.1", "Host: 127.0.0.1",
                 "Connection: close", f"Content-Length: {len(body)}"]
        lines += [f"{name}: {value}" for name, value in headers.items()
                  if name != "Transfer-Encoding"]
        request = ("\r\n".join(lines) + "\r\n\r\n").encode() + body
        check(exchange((signing_in if signed else web).port, request, False), request, True)

    @settings(max_examples=100, deadline=None, database=None,
              suppress_health_check=list(HealthCheck))
    @given(raw=st.one_of(st.binary(max_size=512),
                         st.text(max_size=300).map(lambda t: ("GET /" + t).encode())))
    def garbage(raw: bytes) -> None:
        check(exchange(web.port, raw, True), raw, False)

    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            requests()
            garbage()
        assert "lastCommit" in web.get("/api/repository"), "it no longer answers"
        assert signing_in.get("/api/session")["signIn"] == "password", "it no longer answers"
    finally:
        said = web.stop() + signing_in.stop()
        certificates.cleanup()
    print(f"web: {sent[0]} requests in {seconds:.0f} s, every answer below 500 but 502")
    # uvicorn logs what no HTTP parser takes (with the parser's trace) as a
    # warning; a fault of the application is an "Exception in ASGI application".
    if "Exception in ASGI application" in said:
        at = said.index("Exception in ASGI application")
        print(said[at:at + 4000])
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
