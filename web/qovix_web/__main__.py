"""python3 -m qovix_web [--host H] [--port P] [--tls] [--ca F] [--cert F --key F]
[--listen ADDRESS:PORT] [--passwords FILE | --user-header NAME [--proxy ADDRESS]...]
[--name HOST]... [--tls-cert F --tls-key F] [--qovix PATH]: the web view of the repository the
qovixd at H:P serves, on ADDRESS:PORT (127.0.0.1:8080 by default).

With --passwords FILE --set-password NAME it adds NAME to the password file
(or gives them a new password), read from standard input, and stops."""

from __future__ import annotations

import argparse
import errno
import getpass
import ipaddress
import os
import shutil
import socket
import sys

import uvicorn

import qovix

from .app import create_app
from .changes_feed import ChangesFeed
from .connections import ConnectionPools, Target
from .signin import PasswordFile, SignIn, set_password


def listen_address(text: str) -> tuple[str, int]:
    host, colon, port = text.rpartition(":")
    if not colon or not port.isdigit() or not 0 <= int(port) < 65536:
        raise argparse.ArgumentTypeError(f"'{text}' is no ADDRESS:PORT")
    host = host.strip("[]") or "127.0.0.1"
    try:
        ipaddress.ip_address(host)
    except ValueError as wrong:
        raise argparse.ArgumentTypeError(f"'{host}' is no numeric address") from wrong
    return host, int(port)


def main(arguments: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="qovix web", description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default=os.environ.get("QOVIX_HOST", "127.0.0.1"))
    parser.add_argument("--port", type=int,
                        default=int(os.environ.get("QOVIX_PORT") or qovix.DEFAULT_PORT))
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--ca")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--listen", type=listen_address, default=("127.0.0.1", 8080),
                        help="where the web view is served (default 127.0.0.1:8080)")
    parser.add_argument("--qovix", default=shutil.which("qovix") or "qovix",
                        help="the qovix tool, which draws class diagrams")
    parser.add_argument("--passwords", metavar="FILE",
                        help="sign people in with the names and Argon2 hashes of FILE")
    parser.add_argument("--set-password", metavar="NAME",
                        help="add NAME to --passwords FILE (or change their password), reading "
                             "the password from standard input, and stop")
    parser.add_argument("--user-header", metavar="NAME",
                        help="know people by this header, which the reverse proxy in front sets "
                             "once it has authenticated them")
    parser.add_argument("--proxy", metavar="ADDRESS", action="append",
                        help="an address --user-header is believed from (default: loopback)")
    parser.add_argument("--name", metavar="HOST", action="append", default=[],
                        help="a name people reach the web view by off this machine (its host "
                             "name, or the proxy's); loopback names are always taken, and a "
                             "request naming any other host is refused")
    parser.add_argument("--tls-cert", metavar="FILE", help="serve HTTPS with this certificate")
    parser.add_argument("--tls-key", metavar="FILE", help="and its private key")
    options = parser.parse_args(arguments)

    if options.set_password:
        if not options.passwords:
            parser.error("--set-password needs --passwords FILE")
        try:
            password = getpass.getpass(f"password for {options.set_password}: ") \
                if sys.stdin.isatty() else sys.stdin.readline().rstrip("\n")
            set_password(options.passwords, options.set_password, password)
        except (OSError, ValueError) as wrong:
            print(f"qovix web: {wrong}", file=sys.stderr)
            return 1
        print(f"qovix web: {options.set_password} is in {options.passwords}")
        return 0
    if options.passwords and options.user_header:
        parser.error("--passwords and --user-header are two ways to sign in: choose one")
    if bool(options.tls_cert) != bool(options.tls_key):
        parser.error("--tls-cert and --tls-key go together")
    loopback = ipaddress.ip_address(options.listen[0]).is_loopback
    if not loopback and not (options.passwords or options.user_header):
        parser.error("without sign-in the web view serves on a loopback address alone "
                     f"(127.0.0.1 or ::1), not {options.listen[0]}: give --passwords FILE or "
                     "--user-header NAME")
    if not loopback and options.passwords and not options.tls_cert:
        parser.error("passwords travel over HTTPS alone off this machine: give --tls-cert and "
                     "--tls-key")
    if (options.passwords or options.user_header) and not (options.cert and options.key):
        parser.error("signing people in means acting for them towards qovixd, and acting for a "
                     "user takes a TLS connection with a certificate: give --cert FILE and "
                     "--key FILE (and --ca FILE), a certificate qovixd's access file trusts to "
                     "vouch")
    served_names = list(options.name)
    listen_host = options.listen[0]
    if not loopback and not ipaddress.ip_address(listen_host).is_unspecified:
        served_names.append(f"[{listen_host}]" if ":" in listen_host else listen_host)
    if not loopback and not served_names:
        parser.error(f"serving on {listen_host}, give --name HOST for each name people reach "
                     "the web view by: a request naming another host is refused (a page of "
                     "another site that makes its name point here would otherwise reach it)")
    try:
        sign_in = SignIn(passwords=PasswordFile(options.passwords) if options.passwords else None,
                         user_header=options.user_header,
                         proxies=frozenset(options.proxy or ("127.0.0.1", "::1")))
    except (OSError, ValueError) as wrong:
        parser.error(str(wrong))

    tls = {k: v for k, v in (("ca", options.ca), ("cert", options.cert), ("key", options.key)) if v}
    if options.tls:
        tls["tls"] = True
    tls_words = ["--tls"] if options.tls else []
    for word in ("ca", "cert", "key"):
        if getattr(options, word):
            tls_words += [f"--{word}", getattr(options, word)]

    def diagram_command(number: int, user: str | None) -> list[str]:
        acting = ["--acting-for", user] if user is not None else []
        return [options.qovix, "--host", options.host, "--port", str(options.port), *tls_words,
                *acting, "diagram", f"#{number}", "--links", "/element/"]

    target = Target(options.host, options.port, tls)
    feed = ChangesFeed(target)
    app = create_app(ConnectionPools(target), feed, diagram_command, sign_in, served_names)
    host, port = options.listen
    shown = f"[{host}]" if ":" in host else host
    scheme = "https" if options.tls_cert else "http"
    # Bound before anything is said: a port taken is told as such, and no
    # line says the web view serves when it does not.
    try:
        listening = socket.create_server(
            (host, port), family=socket.AF_INET6 if ":" in host else socket.AF_INET)
    except OSError as refused:
        why = ("the port is taken: another program serves on it; stop it, or give --listen "
               f"{shown}:PORT with another port") if refused.errno == errno.EADDRINUSE \
            else refused.strerror or str(refused)
        print(f"qovix web: cannot serve on {shown}:{port}: {why}", file=sys.stderr)
        return 1
    print(f"qovix web: {scheme}://{shown}:{port}/ shows the repository at "
          f"{options.host}:{options.port}", flush=True)
    server = uvicorn.Server(uvicorn.Config(app, host=host, port=port, log_level="warning",
                                           access_log=False, proxy_headers=False,
                                           ssl_certfile=options.tls_cert,
                                           ssl_keyfile=options.tls_key))
    stop_serving = server.handle_exit

    def stop(signal_number: int, frame: object) -> None:
        feed.stop()  # its streams end, so that no open page holds up the stop
        stop_serving(signal_number, frame)

    server.handle_exit = stop  # type: ignore[method-assign]
    server.run(sockets=[listening])
    return 0


if __name__ == "__main__":
    sys.exit(main())
