"""The repository in a browser: a web server that is an ordinary client of
qovixd (over ONC RPC, TLS where asked), serving a JSON API under /api/ and
the pages that use it.

    python3 -m qovix_web --port 20241 --listen 127.0.0.1:8080

`qovix web` starts it with qovix's own --host, --port and TLS options.
"""
