"""python3 -m qovix_web [--host H] [--port P] [--tls] [--ca F] [--cert F --key F]
[--listen ADDRESS:PORT] [--qovix PATH]: the web view of the repository the
qovixd at H:P serves, on ADDRESS:PORT (127.0.0.1:8080 by default)."""

from __future__ import annotations

import argparse
import ipaddress
import os
import shutil
import sys

import uvicorn

from .app import create_app
from .changes_feed import ChangesFeed
from .connections import ConnectionPool, Target


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
    parser.add_argument("--port", type=int, default=int(os.environ.get("QOVIX_PORT", "20241")))
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--ca")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--listen", type=listen_address, default=("127.0.0.1", 8080),
                        help="where the web view is served (default 127.0.0.1:8080)")
    parser.add_argument("--qovix", default=shutil.which("qovix") or "qovix",
                        help="the qovix tool, which draws class diagrams")
    options = parser.parse_args(arguments)
    if not ipaddress.ip_address(options.listen[0]).is_loopback:
        parser.error("without sign-in the web view serves on a loopback address alone "
                     f"(127.0.0.1 or ::1), not {options.listen[0]}")

    tls = {k: v for k, v in (("ca", options.ca), ("cert", options.cert), ("key", options.key)) if v}
    if options.tls:
        tls["tls"] = True
    tls_words = ["--tls"] if options.tls else []
    for word in ("ca", "cert", "key"):
        if getattr(options, word):
            tls_words += [f"--{word}", getattr(options, word)]

    def diagram_command(number: int) -> list[str]:
        return [options.qovix, "--host", options.host, "--port", str(options.port), *tls_words,
                "diagram", f"#{number}", "--links", "/element/"]

    target = Target(options.host, options.port, tls)
    feed = ChangesFeed(target)
    app = create_app(ConnectionPool(target), feed, diagram_command)
    host, port = options.listen
    shown = f"[{host}]" if ":" in host else host
    print(f"qovix web: http://{shown}:{port}/ shows the repository at {options.host}:{options.port}",
          flush=True)
    server = uvicorn.Server(uvicorn.Config(app, host=host, port=port, log_level="warning",
                                           access_log=False))
    stop_serving = server.handle_exit

    def stop(signal_number: int, frame: object) -> None:
        feed.stop()  # its streams end, so that no open page holds up the stop
        stop_serving(signal_number, frame)

    server.handle_exit = stop  # type: ignore[method-assign]
    server.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
